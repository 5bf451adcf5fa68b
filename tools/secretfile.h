// tools/secretfile.h -- a new file only its owner may read (a machine's
// key): secretfile_posix.cpp, secretfile_win32.cpp.
#pragma once
#include <stddef.h>

#include <string>

// Makes the file new (never through an existing file or link), writes the
// bytes and puts them on the disk; false when any of it failed. On POSIX the
// file is its owner's alone whatever the umask; on Windows it takes the
// folder's permissions, which are the user's own under the profile.
bool WriteNewSecretFile(const std::string& path, const void* bytes, size_t length);
// From here on, files and folders this process makes are its owner's alone
// (POSIX: umask 077; Windows: the folder's permissions, as above).
void KeepNewFilesPrivate();
