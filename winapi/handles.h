// winapi/handles.h -- the process's own handles, as far as the operating
// system has them (private to the dialog manager). handles_win32.cpp answers
// with the real ones: the module handle of the program, the system's arrow
// cursor, icons from executable files. Linux has none of these:
// handles_posix.cpp answers 0, and the manager's own numbers stand in
// (resource sets are numbered by waRegisterResources, the program's icon is
// the resource set's icon 100).
//
// Handles are plain 32-bit values here, the manager's HINSTANCE, HICON and
// HCURSOR, so that a platform file may include the system's headers, whose
// types of those names differ.
#pragma once
#include <stdint.h>

// The module handle of the running program; 0 where there is none.
uint32_t waHostModule();
// The system's standard arrow cursor.
uint32_t waHostArrowCursor();
// The icon that the shell shows for the file at path (a host path): its own
// icon *index, or the icon of the program it belongs to, whose index is then
// written to *index. 0 when there is none.
uint32_t waHostFileIcon(uint32_t module, const char* path, uint16_t* index);
// Icon resource iconId linked into module; 0 when there is none.
uint32_t waHostModuleIcon(uint32_t module, int32_t iconId);
