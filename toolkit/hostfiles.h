// toolkit/hostfiles.h -- what the file, folder, drive, process and time
// operations need of the operating system (private to the toolkit).
//
// files.cpp holds the classic rules (1-based offsets, the first/next search,
// the pDir commands, the text of times and dates); one file per platform
// answers these questions: files_posix.cpp, files_win32.cpp, chosen by CMake.
// Paths here are host paths (hostpath::ToHost has mapped them already).
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

namespace hostfs {

using Handle = intptr_t;
constexpr Handle kNoFile = -1;

// How a file is opened, in the classic platform's sharing modes. Only a
// regular file opens; a read-only one never opens for writing, whoever asks.
enum class Access {
  Read,       // an existing file, other readers allowed
  Write,      // created when missing, never truncated, no sharing
  Exclusive,  // an existing file, read and write, no sharing
};
Handle Open(const std::string& path, Access access);
// Bytes moved at a 0-based position; fewer at the end of the file or on an error.
int32_t WriteAt(Handle file, const char* data, int32_t count, int64_t at);
int32_t ReadAt(Handle file, char* data, int32_t count, int64_t at);
int64_t SizeOf(Handle file);  // -1 when unknown
bool Truncate(Handle file);
void Flush(Handle file);  // to the disk
void Close(Handle file);

bool IsFolder(const std::string& path);
// The entry itself is there (a name, not a pattern).
bool EntryExists(const std::string& path);
// Every name in the folder as the classic search lists it: "." and ".."
// included, except in a drive root.
std::vector<std::string> ListFolder(const std::string& folder);

void Remove(const std::string& path);
// Never replaces: a target that exists stays, and the move does not happen.
void MoveNoReplace(const std::string& from, const std::string& to);
void MakeFolder(const std::string& path);
void RemoveFolder(const std::string& path);
void ChangeFolder(const std::string& path);

// The platform's system folder ("sys") and its own folder ("win"), classic form.
std::string SystemFolder();
std::string PlatformFolder();
// Drive types as the classic platform numbers them: 0 unknown, 1 no such
// root, 2 removable, 3 fixed, 4 remote, 5 optical disc, 6 RAM disk.
int32_t DriveType(const char* root);
void ChangeToDriveRoot(const char* root);

// Starts program (classic form; may be null) with the command line (may be
// null); with wait, returns when it has ended. Nothing is reported.
void RunProgram(const char* program, const char* commandLine, bool wait);
// This process's command line, as the classic platform gives it; the text
// lives as long as the process.
const char* CommandLine();

struct LocalTime {
  int32_t year, month, day, weekday;  // month 1..12, weekday 0 = Sunday
  int32_t hour, minute, second, milliseconds;
};
LocalTime Now();

// Eight bytes from the host's random source (0 when it has none).
uint64_t RandomSeed();

int64_t FreeBytes(const std::string& folder);  // -1 when unknown
// Who besides the owner may use the file (kSharedRead, kSharedWrite of
// files.h); -1 when it is not there.
int32_t Sharing(const std::string& path);
// Seconds since the file was last written (wall clock); -1 when it is not there.
int64_t SecondsSinceWritten(const std::string& path);

}  // namespace hostfs
