// Files, folders, drives, processes and time with the classic platform's
// semantics on a POSIX host (see files.h; path mapping in hostpath.h).
//
// - Every pFileIO call opens, positions, transfers and closes; writes are
//   flushed to disk before the call returns. "No sharing" is an exclusive
//   flock, "other readers allowed" a shared one, so a writer in another
//   process keeps readers out as on the classic platform.
// - A file whose permission bits allow no writing is read-only for everyone,
//   root included: root's open() would succeed, so the bits are tested.
// - The machine's files and folders are its owner's alone: files are made
//   0600 and folders 0700 (mail is only scrambled, so other users of the
//   computer must not read it).
// - Only regular files are opened: a folder, a device or a FIFO is "cannot be
//   opened" (a FIFO would otherwise block the interface thread).
// - The wildcard search knows "*" and "?" only, compares without regard to
//   ASCII case, and lists "." and ".." first (not in a drive root), then the
//   other names sorted without regard to case. A pattern ending in ".*" also
//   matches names without a dot, so "*.*" lists everything.
// - The system folder is "C:\usr\lib" and the platform's own folder "C:\usr".
#include "toolkit/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "toolkit/hostpath.h"
#include "toolkit/text.h"
#include "winapi/loop.h"

namespace {

constexpr int kFindNameSize = 260;
constexpr int kShortNameSize = 14;
constexpr int kDriveBufferSize = 255;
constexpr char kSystemFolder[] = "C:\\usr\\lib";
constexpr char kPlatformFolder[] = "C:\\usr";
constexpr mode_t kPrivateFile = 0600;
constexpr mode_t kPrivateFolder = 0700;

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

// ---- opening files ------------------------------------------------------

bool isReadOnly(const std::string& path, const struct stat& st) {
  return (st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0;
}

// Opens an existing or new regular file and takes the lock that stands for
// the classic sharing mode; -1 when that is not possible.
int openRegular(const std::string& path, int flags, bool writing, int lockMode) {
  struct stat st;
  bool exists = stat(path.c_str(), &st) == 0;
  if (exists && (!S_ISREG(st.st_mode) || (writing && isReadOnly(path, st)))) return -1;
  int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, kPrivateFile);
  if (fd < 0) return -1;
  // Only a lock held elsewhere refuses; a file system without locks does not.
  bool heldElsewhere = flock(fd, lockMode | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || heldElsewhere) {
    close(fd);
    return -1;
  }
  return fd;
}

int32_t writeAll(int fd, const char* data, int32_t count, off_t at) {
  int32_t done = 0;
  while (done < count) {
    ssize_t n = pwrite(fd, data + done, static_cast<size_t>(count - done), at + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t readAll(int fd, char* data, int32_t count, off_t at) {
  int32_t done = 0;
  while (done < count) {
    ssize_t n = pread(fd, data + done, static_cast<size_t>(count - done), at + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

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
  struct stat st;
  if (stat(hostFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return found;
  // A drive root lists no "." and "..".
  struct stat rootSt;
  bool root = stat("/", &rootSt) == 0 && rootSt.st_ino == st.st_ino && rootSt.st_dev == st.st_dev;
  // A plain name that is there as written needs no listing of the folder.
  struct stat entrySt;
  bool plain = name.find_first_of("*?") == std::string::npos && rankOf(name) == 2;
  if (plain && lstat((hostFolder + "/" + name).c_str(), &entrySt) == 0) {
    found.push_back(name);
    return found;
  }
  DIR* dir = opendir(hostFolder.c_str());
  if (!dir) return found;
  while (struct dirent* entry = readdir(dir)) {
    std::string entryName(entry->d_name);
    if (root && rankOf(entryName) < 2) continue;
    if (entryName.size() < kFindNameSize && nameMatches(entryName, name)) found.push_back(entryName);
  }
  closedir(dir);
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

// ---- folders and processes ---------------------------------------------

void writeFolder(const std::string& folder, char* dest, int32_t size) {
  if (!dest || size <= 0) return;
  pClrMem(dest, size);
  if (static_cast<int32_t>(folder.size()) < size) pCopyMem(folder.data(), dest, static_cast<int32_t>(folder.size()));
}

// Splits a command line the classic way: blanks separate words, double quotes
// group a word with blanks in it.
std::vector<std::string> splitCommandLine(const char* line) {
  std::vector<std::string> words;
  if (!line) return words;
  std::string word;
  bool quoted = false, inWord = false;
  for (const char* p = line; *p; ++p) {
    if (*p == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((*p == ' ' || *p == '\t') && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += *p;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

// Runs the program in a child; when detached, a middle child exits at once so
// the program is adopted by init and never lingers as a zombie of ours.
void runProgram(const std::string& program, bool searchPath, std::vector<std::string>& words, bool wait) {
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    if (!wait && fork() != 0) _exit(0);
    closefrom(3);
    if (searchPath)
      execvp(program.c_str(), argv.data());
    else
      execv(program.c_str(), argv.data());
    _exit(127);
  }
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// ---- time ---------------------------------------------------------------

struct LocalNow {
  struct tm tm;
  long milliseconds;
};

LocalNow localNow() {
  LocalNow now{};
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  localtime_r(&ts.tv_sec, &now.tm);
  now.milliseconds = ts.tv_nsec / 1000000;
  return now;
}

void appendNumber(int32_t value, char* dest) { pBuildStr(pStr(value), dest); }

}  // namespace

void tkResetFileState(void) { state = FilesState(); }

int32_t pFileIO(int32_t direction, const char* path, int32_t offset, void* buffer, int32_t count) {
  if ((direction != 1 && direction != -1) || !buffer || count < 0 || offset < 0) return 0;
  std::string host;
  if (!hostpath::ToHost(path, host)) return 0;
  off_t at = offset == 0 ? 0 : static_cast<off_t>(offset) - 1;
  if (direction == 1) {
    int fd = openRegular(host, O_WRONLY | O_CREAT, true, LOCK_EX);
    if (fd < 0) return 0;
    int32_t written = writeAll(fd, static_cast<const char*>(buffer), count, at);
    fsync(fd);
    close(fd);
    return written;
  }
  int fd = openRegular(host, O_RDONLY, false, LOCK_SH);
  if (fd < 0) return 0;
  int32_t got = readAll(fd, static_cast<char*>(buffer), count, at);
  close(fd);
  return got;
}

int32_t pFileSize(const char* path) {
  std::string host;
  if (!hostpath::ToHost(path, host)) return -1;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return -1;  // never create it
  int fd = openRegular(host, O_RDWR, true, LOCK_EX);
  if (fd < 0) return -1;
  int32_t size = fstat(fd, &st) == 0 ? static_cast<int32_t>(static_cast<uint64_t>(st.st_size) & 0xFFFFFFFFu) : -1;
  close(fd);
  return size;
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
  if (hostpath::ToHost(path, host)) unlink(host.c_str());
  return 1;
}

int32_t pFileCopy(const char* source, const char* target) {
  std::string from, to;
  if (!hostpath::ToHost(source, from) || !hostpath::ToHost(target, to)) return 1;
  int in = openRegular(from, O_RDONLY, false, LOCK_SH);
  if (in < 0) return 1;
  int out = openRegular(to, O_WRONLY | O_CREAT, true, LOCK_EX);
  if (out >= 0 && ftruncate(out, 0) == 0) {
    char block[65536];
    off_t at = 0;
    for (;;) {
      int32_t n = readAll(in, block, sizeof block, at);
      if (n <= 0 || writeAll(out, block, n, at) != n) break;
      at += n;
    }
    fsync(out);
  }
  if (out >= 0) close(out);
  close(in);
  return 1;
}

int32_t pFileRen(const char* oldPath, const char* newPath) {
  if (pathExists(newPath)) return 0;
  std::string from, to;
  if (hostpath::ToHost(oldPath, from) && hostpath::ToHost(newPath, to)) {
    // Never replace: a name that appeared since the test above stays.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0 && errno == EINVAL)
      if (access(to.c_str(), F_OK) != 0) rename(from.c_str(), to.c_str());
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
    writeFolder(pCmp(command, "sys") == 1 ? kSystemFolder : kPlatformFolder, path, size);
    return 1;
  }
  if (pCmp(command, "mak") == 1) {
    if (pathExists(path)) return 0;
    if (hostpath::ToHost(path, host)) mkdir(host.c_str(), kPrivateFolder);
    return 1;
  }
  if (pCmp(command, "chg") == 1 || pCmp(command, "rem") == 1) {
    if (!pathExists(path)) return 0;
    if (hostpath::ToHost(path, host)) {
      if (pCmp(command, "chg") == 1)
        (void)!chdir(host.c_str());
      else
        rmdir(host.c_str());
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

// Drive types: 1 no such root, 3 fixed. Only drive C exists on this host.
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
  bool exists = state.driveRoot[0] == 'c' || state.driveRoot[0] == 'C';
  if (ask) return exists ? 3 : 1;
  if (exists) (void)!chdir("/");
  return 1;
}

int32_t pShell(const char* program, char* commandLine, int32_t wait) {
  std::vector<std::string> words = splitCommandLine(commandLine);
  std::string host;
  bool searchPath = program == nullptr;
  if (program) {
    if (!hostpath::ToHost(program, host)) return 1;
    if (words.empty()) words.push_back(host);
  } else {
    if (words.empty()) return 1;
    if (words[0].find_first_of("\\/:") != std::string::npos) {
      if (!hostpath::ToHost(words[0].c_str(), host)) return 1;
      searchPath = false;
    } else {
      host = words[0];
    }
  }
  runProgram(host, searchPath, words, wait == 1);
  return 1;
}

int32_t pTiming(void) { return static_cast<int32_t>(waNow()); }

int32_t pTime(int32_t type, char* dest) {
  if (!dest || type < 0 || type > 2) return 1;
  LocalNow now = localNow();
  appendNumber(now.tm.tm_hour, dest);
  pBuildStr(":", dest);
  appendNumber(now.tm.tm_min, dest);
  if (type <= 1) {
    pBuildStr(":", dest);
    appendNumber(now.tm.tm_sec, dest);
  }
  if (type == 0) {
    pBuildStr(".", dest);
    appendNumber(static_cast<int32_t>(now.milliseconds), dest);
  }
  return 1;
}

int32_t pDate(int32_t type, char* dest) {
  static const char* const weekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  static const char* const months[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
  if (!dest || (type != 0 && type != 1)) return 1;
  LocalNow now = localNow();
  if (type == 0) {
    pBuildStr(weekdays[now.tm.tm_wday], dest);
    pBuildStr(" ", dest);
    appendNumber(now.tm.tm_mday, dest);
    pBuildStr(" ", dest);
    pBuildStr(months[now.tm.tm_mon], dest);
    pBuildStr(" ", dest);
    appendNumber(now.tm.tm_year + 1900, dest);
  } else {
    appendNumber(now.tm.tm_mday, dest);
    pBuildStr("/", dest);
    appendNumber(now.tm.tm_mon + 1, dest);
    pBuildStr("/", dest);
    appendNumber(now.tm.tm_year + 1900, dest);
  }
  return 1;
}

int64_t tkFreeBytes(const char* folder) {
  std::string host;
  if (!hostpath::ToHost(folder, host)) return -1;
  struct statvfs fs;
  if (statvfs(host.c_str(), &fs) != 0) return -1;
  const uint64_t free = uint64_t(fs.f_bavail) * uint64_t(fs.f_frsize);
  return free > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(free);
}

int32_t tkFileSharing(const char* path) {
  std::string host;
  struct stat st;
  if (!hostpath::ToHost(path, host) || stat(host.c_str(), &st) != 0) return -1;
  return ((st.st_mode & (S_IRGRP | S_IROTH)) != 0 ? kSharedRead : 0) |
         ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 ? kSharedWrite : 0);
}

int32_t tkFileAge(const char* path) {
  std::string host;
  if (!hostpath::ToHost(path, host)) return -1;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return -1;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t age = int64_t(now.tv_sec) - int64_t(st.st_mtim.tv_sec);
  if (age < 0) return 0;
  return age > INT32_MAX ? INT32_MAX : int32_t(age);
}
