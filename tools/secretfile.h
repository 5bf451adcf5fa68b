// tools/secretfile.h -- what the set-up tools keep private: files only their
// owner may read (a machine's key, its records and folders) and keys typed
// on the terminal: secretfile_posix.cpp, secretfile_win32.cpp.
#pragma once
#include <stddef.h>

#include <string>

// Makes the file new (never through an existing file or link), writes the
// bytes and puts them on the disk; false when any of it failed. On POSIX the
// file is its owner's alone whatever the umask; on Windows it takes the
// folder's permissions, which are the user's own under the profile.
bool WriteNewSecretFile(const std::string& path, const void* bytes, size_t length);

// Everything this process makes from now on is its owner's alone: on POSIX
// the umask 077; on Windows the folders' own access lists decide (nothing
// to do).
void MakeNewFilesPrivate();

// Standard input is a terminal (a console on Windows).
bool InputIsTerminal();
// One line from the terminal without showing it as it is typed; false when
// nothing could be read.
bool ReadHiddenLine(std::string& line);
