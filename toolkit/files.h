// toolkit/files.h -- files, folders, drives, processes, time and events.
//
// Files are reached with the classic platform's semantics on a POSIX host:
// paths may be built with "\" (mapped to "/"), a drive prefix "C:" names the
// folder that the drive letter maps to (see toolkit/files.cpp), every pFileIO
// call opens, positions, transfers, flushes and closes, a read-only file counts
// as not openable for writing even for root, and wildcard search knows only
// "*" and "?" ("[" and "]" are literal) and lists "." and "..".
//
// Time: pTiming, pDoEvent and pTimer read the dialog manager's one clock,
// which is real (monotonic) in normal runs and virtual in tests. pDoEvent keeps
// its length but sleeps until the next event instead of spinning.
#pragma once
#include <stdint.h>
#include "toolkit/export.h"
#include "winapi/types.h"

VL_OP int32_t pFileIO(int32_t direction, const char* path, int32_t offset, void* buffer, int32_t count);
VL_OP int32_t pFileSize(const char* path);
VL_OP int32_t pFileFind(const char* pattern, char* dest, int32_t first);
VL_OP int32_t pFileDel(const char* path);
VL_OP int32_t pFileCopy(const char* source, const char* target);
VL_OP int32_t pFileRen(const char* oldPath, const char* newPath);
VL_OP int32_t pFileName(int32_t direction, HINSTANCE instance, char* dest, int32_t size, const char* filter);
VL_OP int32_t pDir(char* command, char* path, int32_t size);
VL_OP int32_t pDirName(HWND owner, char* dest);
VL_OP int32_t pDrive(char* dest, int32_t size);
VL_OP int32_t pDriveType(char* command, const char* root);
VL_OP int32_t pShell(const char* program, char* commandLine, int32_t wait);
VL_OP int32_t pTiming(void);
VL_OP int32_t pTime(int32_t type, char* dest);
VL_OP int32_t pDate(int32_t type, char* dest);
VL_OP int32_t pDoEvent(int32_t milliseconds);
VL_OP int32_t pMessage(void);
VL_OP int32_t pTimer(HWND window, int32_t id, int32_t interval, TIMERPROC handler);

// Host extras for the program's own safeguards (no classic counterpart).
// Bytes the folder's file system still gives this process; -1 when unknown.
VL_EXPORT int64_t tkFreeBytes(const char* folder);
// Seconds since the file was last written, by the wall clock; -1 when it does
// not exist. A time in the future counts as 0.
VL_EXPORT int32_t tkFileAge(const char* path);
// Who besides the file's owner may use it: kSharedRead when the group or
// others may read it, kSharedWrite when they may write it (or the folder's
// host has no such permissions: 0); -1 when it does not exist.
constexpr int32_t kSharedRead = 1, kSharedWrite = 2;
VL_EXPORT int32_t tkFileSharing(const char* path);
// Background work (winapi/task.h): body runs on a stack of its own, and its
// pDoEvent pauses hand the interface to whatever loop runs meanwhile, so no
// dialog a user opens ever holds it up. tkStartWork gives 0 while another is
// running; tkCancelWork ends it at its next pause (at once when paused).
VL_EXPORT int32_t tkStartWork(void (*body)(void*), void* context);
VL_EXPORT int32_t tkWorkRunning(void);
VL_EXPORT void tkCancelWork(void);
// Random numbers for spreading retries in time (not for secrets): tkRandom
// gives a number below 'below' (0 when below is 0). The generator seeds
// itself from the host's random source at its first use; tkSeedRandom makes
// the sequence repeatable (tests).
VL_EXPORT uint32_t tkRandom(uint32_t below);
VL_EXPORT void tkSeedRandom(uint32_t seed);
