// Files, folders, drives, processes and time with the classic platform's
// semantics (see files.h). The rules live here; what they ask of the
// operating system is in hostfiles.h, answered by files_posix.cpp or
// files_win32.cpp (path mapping in hostpath.h).
//
// - Every pFileIO call opens, positions, transfers and closes; writes are
//   flushed to disk before the call returns. "No sharing" keeps readers and
//   writers of other processes out, "other readers allowed" only writers.
// - A read-only file counts as not openable for writing, for every user.
// - The machine's files and folders are its owner's alone where the host has
//   permissions for others (mail is only scrambled, so other users of the
//   computer must not read it).
// - Only regular files are opened: a folder, a device or a FIFO is "cannot be
//   opened" (a FIFO would otherwise block the interface thread).
// - The wildcard search knows "*" and "?" only, compares without regard to
//   ASCII case, and lists "." and ".." first (not in a drive root), then the
//   other names sorted without regard to case. A pattern ending in ".*" also
//   matches names without a dot, so "*.*" lists everything.
#include "toolkit/files.h"


#include <algorithm>
#include <string>
#include <vector>

#include "toolkit/hostfiles.h"
#include "toolkit/hostpath.h"
#include "toolkit/text.h"
#include "winapi/loop.h"

namespace {

constexpr int kFindNameSize = 260;
constexpr int kShortNameSize = 14;
constexpr int kDriveBufferSize = 255;

struct FilesState {
  bool searchOpen = false;
  std::vector<std::string> matches;
  size_t next = 0;
  char findName[kFindNameSize] = {};
  char findShortName[kShortNameSize] = {};
  char driveFolder[kDriveBufferSize] = {};
  char driveRoot[kDriveBufferSize] = {};
};

FilesState state;

// ---- wildcard search ----------------------------------------------------

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool wildMatch(const char* name, const char* pattern) {
  // Iterative matcher with one back-tracking point for the last "*".
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || (*pattern && fold(*pattern) == fold(*name))) {
      ++pattern;
      ++name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

bool nameMatches(const std::string& name, const std::string& pattern) {
  if (wildMatch(name.c_str(), pattern.c_str())) return true;
  size_t n = pattern.size();
  bool dotStarEnd = n >= 2 && pattern[n - 2] == '.' && pattern[n - 1] == '*';
  return dotStarEnd && name.find('.') == std::string::npos &&
         wildMatch(name.c_str(), pattern.substr(0, n - 2).c_str());
}

bool lessIgnoringCase(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i)
    if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]);
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

int rankOf(const std::string& name) { return name == "." ? 0 : name == ".." ? 1 : 2; }

bool listingOrder(const std::string& a, const std::string& b) {
  if (rankOf(a) != rankOf(b)) return rankOf(a) < rankOf(b);
  return lessIgnoringCase(a, b);
}

// Every entry that the classic first-match search would report for pattern,
// in the order it reports them.
std::vector<std::string> findMatches(const char* pattern) {
  std::vector<std::string> found;
  if (!pattern) return found;
  std::string text(pattern);
  size_t cut = text.find_last_of("\\/");
  std::string folder = cut == std::string::npos ? "" : text.substr(0, cut + 1);
  std::string name = cut == std::string::npos ? text : text.substr(cut + 1);
  if (name.empty()) return found;
  std::string hostFolder;
  if (folder.empty()) {
    hostFolder = ".";
  } else if (!hostpath::ToHost(folder.c_str(), hostFolder)) {
    return found;
  }
  if (!hostfs::IsFolder(hostFolder)) return found;
  // A plain name that is there as written needs no listing of the folder.
  bool plain = name.find_first_of("*?") == std::string::npos && rankOf(name) == 2;
  if (plain && hostfs::EntryExists(hostFolder + "/" + name)) {
    found.push_back(name);
    return found;
  }
  for (const std::string& entryName : hostfs::ListFolder(hostFolder))
    if (entryName.size() < kFindNameSize && nameMatches(entryName, name)) found.push_back(entryName);
  std::sort(found.begin(), found.end(), listingOrder);
  return found;
}

bool pathExists(const char* path) { return !findMatches(path).empty(); }

int32_t deliverMatch(char* dest) {
  const std::string& name = state.matches[state.next];
  if (name.empty() || !dest) return 0;
  pCopyMem(name.data(), state.findName, static_cast<int32_t>(name.size()));
  pCopyMem(state.findName, dest, kFindNameSize);
  return 1;
}

void closeSearch() {
  state.searchOpen = false;
  state.matches.clear();
  state.next = 0;
}

// ---- folders and time texts --------------------------------------------

void writeFolder(const std::string& folder, char* dest, int32_t size) {
  if (!dest || size <= 0) return;
  pClrMem(dest, size);
  if (static_cast<int32_t>(folder.size()) < size) pCopyMem(folder.data(), dest, static_cast<int32_t>(folder.size()));
}

void appendNumber(int32_t value, char* dest) { pBuildStr(pStr(value), dest); }

}  // namespace

void tkResetFileState(void) { state = FilesState(); }

int32_t pFileIO(int32_t direction, const char* path, int32_t offset, void* buffer, int32_t count) {
  if ((direction != 1 && direction != -1) || !buffer || count < 0 || offset < 0) return 0;
  std::string host;
  if (!hostpath::ToHost(path, host)) return 0;
  int64_t at = offset == 0 ? 0 : int64_t(offset) - 1;
  if (direction == 1) {
    hostfs::Handle file = hostfs::Open(host, hostfs::Access::Write);
    if (file == hostfs::kNoFile) return 0;
    int32_t written = hostfs::WriteAt(file, static_cast<const char*>(buffer), count, at);
    hostfs::Flush(file);
    hostfs::Close(file);
    return written;
  }
  hostfs::Handle file = hostfs::Open(host, hostfs::Access::Read);
  if (file == hostfs::kNoFile) return 0;
  int32_t got = hostfs::ReadAt(file, static_cast<char*>(buffer), count, at);
  hostfs::Close(file);
  return got;
}

int32_t pFileSize(const char* path) {
  std::string host;
  if (!hostpath::ToHost(path, host)) return -1;
  hostfs::Handle file = hostfs::Open(host, hostfs::Access::Exclusive);
  if (file == hostfs::kNoFile) return -1;
  int64_t size = hostfs::SizeOf(file);
  hostfs::Close(file);
  return size < 0 ? -1 : static_cast<int32_t>(static_cast<uint64_t>(size) & 0xFFFFFFFFu);
}

int32_t pFileFind(const char* pattern, char* dest, int32_t first) {
  pClrMem(state.findName, kFindNameSize);
  pClrMem(state.findShortName, kShortNameSize);
  if (first == 1) {
    closeSearch();
    state.matches = findMatches(pattern);
    if (state.matches.empty()) return 0;
    state.searchOpen = true;
    return deliverMatch(dest);
  }
  if (first != 0 || !state.searchOpen) return 0;
  if (++state.next >= state.matches.size()) {
    closeSearch();
    return 0;
  }
  return deliverMatch(dest);
}

int32_t pFileDel(const char* path) {
  if (!pathExists(path)) return 0;
  std::string host;
  if (hostpath::ToHost(path, host)) hostfs::Remove(host);
  return 1;
}

int32_t pFileCopy(const char* source, const char* target) {
  std::string from, to;
  if (!hostpath::ToHost(source, from) || !hostpath::ToHost(target, to)) return 1;
  hostfs::Handle in = hostfs::Open(from, hostfs::Access::Read);
  if (in == hostfs::kNoFile) return 1;
  hostfs::Handle out = hostfs::Open(to, hostfs::Access::Write);
  if (out != hostfs::kNoFile && hostfs::Truncate(out)) {
    std::vector<char> block(65536);
    int64_t at = 0;
    for (;;) {
      int32_t n = hostfs::ReadAt(in, block.data(), int32_t(block.size()), at);
      if (n <= 0 || hostfs::WriteAt(out, block.data(), n, at) != n) break;
      at += n;
    }
    hostfs::Flush(out);
  }
  if (out != hostfs::kNoFile) hostfs::Close(out);
  hostfs::Close(in);
  return 1;
}

int32_t pFileRen(const char* oldPath, const char* newPath) {
  if (pathExists(newPath)) return 0;
  std::string from, to;
  if (hostpath::ToHost(oldPath, from) && hostpath::ToHost(newPath, to)) {
    hostfs::MoveNoReplace(from, to);
  }
  return 1;
}

int32_t pDir(char* command, char* path, int32_t size) {
  if (!command) return 0;
  LowerCaseInPlace(command);
  std::string host;
  if (pCmp(command, "dir") == 1) {
    writeFolder(hostpath::CurrentFolder(), path, size);
    return 1;
  }
  if (pCmp(command, "sys") == 1 || pCmp(command, "win") == 1) {
    writeFolder(pCmp(command, "sys") == 1 ? hostfs::SystemFolder() : hostfs::PlatformFolder(), path, size);
    return 1;
  }
  if (pCmp(command, "mak") == 1) {
    if (pathExists(path)) return 0;
    if (hostpath::ToHost(path, host)) hostfs::MakeFolder(host);
    return 1;
  }
  if (pCmp(command, "chg") == 1 || pCmp(command, "rem") == 1) {
    if (!pathExists(path)) return 0;
    if (hostpath::ToHost(path, host)) {
      if (pCmp(command, "chg") == 1)
        hostfs::ChangeFolder(host);
      else
        hostfs::RemoveFolder(host);
    }
    return 1;
  }
  return 0;
}

int32_t pDrive(char* dest, int32_t size) {
  pClrMem(state.driveFolder, kDriveBufferSize);
  std::string folder = hostpath::CurrentFolder();
  pCopyMem(folder.data(), state.driveFolder, std::min<int32_t>(static_cast<int32_t>(folder.size()), kDriveBufferSize - 1));
  if (!dest || size <= 0) return 1;
  pClrMem(dest, size);
  if (size >= 4) pCopyMem(state.driveFolder, dest, std::min<int32_t>(3, pLen(state.driveFolder)));
  return 1;
}

int32_t pDriveType(char* command, const char* root) {
  if (!command) return 0;
  LowerCaseInPlace(command);
  bool ask = pCmp(command, "drv?") == 1;
  bool change = pCmp(command, "drv=") == 1;
  if (!ask && !change) return 0;
  if (change) pClrMem(state.driveRoot, kDriveBufferSize);
  pClrMem(state.driveRoot, 4);
  pCopyMem(root, state.driveRoot, std::min<int32_t>(3, pLen(root)));
  state.driveRoot[1] = ':';
  state.driveRoot[2] = '\\';
  if (ask) return hostfs::DriveType(state.driveRoot);
  hostfs::ChangeToDriveRoot(state.driveRoot);
  return 1;
}

int32_t pShell(const char* program, char* commandLine, int32_t wait) {
  hostfs::RunProgram(program, commandLine, wait == 1);
  return 1;
}

int32_t pTiming(void) { return static_cast<int32_t>(waNow()); }

int32_t pTime(int32_t type, char* dest) {
  if (!dest || type < 0 || type > 2) return 1;
  hostfs::LocalTime now = hostfs::Now();
  appendNumber(now.hour, dest);
  pBuildStr(":", dest);
  appendNumber(now.minute, dest);
  if (type <= 1) {
    pBuildStr(":", dest);
    appendNumber(now.second, dest);
  }
  if (type == 0) {
    pBuildStr(".", dest);
    appendNumber(now.milliseconds, dest);
  }
  return 1;
}

int32_t pDate(int32_t type, char* dest) {
  static const char* const weekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  static const char* const months[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
  if (!dest || (type != 0 && type != 1)) return 1;
  hostfs::LocalTime now = hostfs::Now();
  if (type == 0) {
    pBuildStr(weekdays[now.weekday], dest);
    pBuildStr(" ", dest);
    appendNumber(now.day, dest);
    pBuildStr(" ", dest);
    pBuildStr(months[now.month - 1], dest);
    pBuildStr(" ", dest);
    appendNumber(now.year, dest);
  } else {
    appendNumber(now.day, dest);
    pBuildStr("/", dest);
    appendNumber(now.month, dest);
    pBuildStr("/", dest);
    appendNumber(now.year, dest);
  }
  return 1;
}

int64_t tkFreeBytes(const char* folder) {
  std::string host;
  return hostpath::ToHost(folder, host) ? hostfs::FreeBytes(host) : -1;
}

int32_t tkFileSharing(const char* path) {
  std::string host;
  return hostpath::ToHost(path, host) ? hostfs::Sharing(host) : -1;
}

int32_t tkFileAge(const char* path) {
  std::string host;
  if (!hostpath::ToHost(path, host)) return -1;
  const int64_t age = hostfs::SecondsSinceWritten(host);
  return age > INT32_MAX ? INT32_MAX : int32_t(age);
}
