// unitlib/packfiles.h -- the files attachment compression reads and writes
// (private to the unit library): packfiles_posix.cpp, packfiles_win32.cpp.
//
// The packed copy of an attachment lives in a folder private to the process
// (made at the first use, removed at exit); an unpacked file is written
// beside the packed one under a temporary name and then takes its place.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

namespace packfiles {

using File = intptr_t;
constexpr File kNoFile = -1;
// The packed copy's name in the private folder.
constexpr char kPackedName[] = "attachment.xz";

// An existing regular file, for reading; its size in 'size'.
File OpenForReading(const std::string& path, uint64_t& size);
// The packed copy's file, new and empty, in the private folder; its path in 'path'.
File CreatePacked(std::string& path);
// A new file beside 'path' under a temporary name, given in 'temporary'.
File CreateBeside(const std::string& path, std::string& temporary);
// Bytes read (0 at the end), or -1 on an error.
long ReadSome(File file, uint8_t* data, size_t count);
bool WriteAll(File file, const uint8_t* data, size_t count);
// Exactly count bytes at offset (the file position does not matter).
bool ReadAt(File file, uint8_t* data, size_t count, uint64_t offset);
// Makes the written file durable; 'like' (when given) lends it its permissions.
bool Finish(File file, File like);
// The temporary file takes the place of 'path'.
bool Replace(const std::string& temporary, const std::string& path);
void Remove(const std::string& path);
void Close(File file);

}  // namespace packfiles
