// The file, folder, drive, process and time services on Windows (see
// hostfiles.h for what each one answers). Paths are the real file system's,
// drive letters and "\" included.
//
// - The classic sharing modes are the platform's own (share none, share read).
// - The read-only attribute is tested before a file is opened for writing, so
//   it holds for every user (Wine run as root would otherwise ignore it).
// - Only files on a disk open: a folder or a device ("CON", "\\.\COM1") is
//   "cannot be opened".
#define _CRT_RAND_S  // rand_s: the system's random source
#include <stdlib.h>
#include <windows.h>

#include "toolkit/hostfiles.h"

namespace hostfs {
namespace {

HANDLE handleOf(Handle file) { return reinterpret_cast<HANDLE>(file); }

struct OpenMode {
  DWORD access, share, disposition;
  bool writing;
};

OpenMode modeOf(Access access) {
  switch (access) {
    case Access::Read: return {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, false};
    case Access::Write: return {GENERIC_WRITE, 0, OPEN_ALWAYS, true};
    case Access::Exclusive: break;
  }
  return {GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, true};
}

bool transfer(Handle file, char* data, int32_t count, int64_t at, bool write, int32_t& moved) {
  OVERLAPPED where{};
  where.Offset = DWORD(uint64_t(at) & 0xFFFFFFFFu);
  where.OffsetHigh = DWORD(uint64_t(at) >> 32);
  DWORD n = 0;
  BOOL ok = write ? WriteFile(handleOf(file), data, DWORD(count), &n, &where)
                  : ReadFile(handleOf(file), data, DWORD(count), &n, &where);
  moved = int32_t(n);
  return ok && n > 0;
}

int64_t fileTimeValue(const FILETIME& t) { return int64_t((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime); }

}  // namespace

Handle Open(const std::string& path, Access access) {
  const OpenMode mode = modeOf(access);
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      ((attributes & FILE_ATTRIBUTE_DIRECTORY) || (mode.writing && (attributes & FILE_ATTRIBUTE_READONLY))))
    return kNoFile;
  HANDLE h = CreateFileA(path.c_str(), mode.access, mode.share, nullptr, mode.disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return kNoFile;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return kNoFile;
  }
  return reinterpret_cast<Handle>(h);
}

int32_t WriteAt(Handle file, const char* data, int32_t count, int64_t at) {
  int32_t done = 0, n = 0;
  while (done < count && transfer(file, const_cast<char*>(data) + done, count - done, at + done, true, n)) done += n;
  return done;
}

int32_t ReadAt(Handle file, char* data, int32_t count, int64_t at) {
  int32_t done = 0, n = 0;
  while (done < count && transfer(file, data + done, count - done, at + done, false, n)) done += n;
  return done;
}

int64_t SizeOf(Handle file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(handleOf(file), &size) ? int64_t(size.QuadPart) : -1;
}

bool Truncate(Handle file) {
  LARGE_INTEGER start{};
  return SetFilePointerEx(handleOf(file), start, nullptr, FILE_BEGIN) && SetEndOfFile(handleOf(file));
}

void Flush(Handle file) { FlushFileBuffers(handleOf(file)); }
void Close(Handle file) { CloseHandle(handleOf(file)); }

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool EntryExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  std::string pattern = folder;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/' && pattern.back() != ':') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

void Remove(const std::string& path) { DeleteFileA(path.c_str()); }
void MoveNoReplace(const std::string& from, const std::string& to) { MoveFileExA(from.c_str(), to.c_str(), 0); }
void MakeFolder(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }
void RemoveFolder(const std::string& path) { RemoveDirectoryA(path.c_str()); }
void ChangeFolder(const std::string& path) { SetCurrentDirectoryA(path.c_str()); }

std::string SystemFolder() {
  char folder[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryA(folder, sizeof folder);
  return n > 0 && n < sizeof folder ? std::string(folder, n) : std::string();
}

std::string PlatformFolder() {
  char folder[MAX_PATH + 1] = {};
  UINT n = GetWindowsDirectoryA(folder, sizeof folder);
  return n > 0 && n < sizeof folder ? std::string(folder, n) : std::string();
}

int32_t DriveType(const char* root) { return int32_t(GetDriveTypeA(root)); }
void ChangeToDriveRoot(const char* root) { SetCurrentDirectoryA(root); }

// The exit code is not wanted; the wait blocks without spinning and
// dispatches nothing, as the classic operation does.
void RunProgram(const char* program, const char* commandLine, bool wait) {
  std::string line = commandLine ? commandLine : "";
  STARTUPINFOA start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program, commandLine ? line.data() : nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &start, &process))
    return;
  if (wait) WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

const char* CommandLine() { return GetCommandLineA(); }

LocalTime Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wDayOfWeek, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

uint64_t RandomSeed() {
  unsigned int high = 0, low = 0;
  return rand_s(&high) == 0 && rand_s(&low) == 0 ? (uint64_t(high) << 32) | low : 0;
}

int64_t FreeBytes(const std::string& folder) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return -1;
  return available.QuadPart > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(available.QuadPart);
}

// Who may read a file is the folder's access list, which a profile folder
// keeps to its user; there are no permission bits to report.
int32_t Sharing(const std::string& path) {
  return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES ? -1 : 0;
}

int64_t SecondsSinceWritten(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const int64_t age = (fileTimeValue(now) - fileTimeValue(data.ftLastWriteTime)) / 10000000;
  return age < 0 ? 0 : age;
}

}  // namespace hostfs
