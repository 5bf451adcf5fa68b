// The file, folder, drive, process and time services on a POSIX host (see
// hostfiles.h for what each one answers).
//
// - "No sharing" is an exclusive flock, "other readers allowed" a shared
//   one, so a writer in another process keeps readers out as on the classic
//   platform. Only a lock held elsewhere refuses; a file system without locks
//   does not.
// - A file whose permission bits allow no writing is read-only for everyone,
//   root included: root's open() would succeed, so the bits are tested.
// - The machine's files and folders are its owner's alone: files are made
//   0600 and folders 0700.
// - Only drive C exists: it is the root of the host's file system. The
//   system folder is "C:\usr\lib" and the platform's own folder "C:\usr".
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "toolkit/files.h"
#include "toolkit/hostfiles.h"
#include "toolkit/hostpath.h"

namespace hostfs {
namespace {

constexpr mode_t kPrivateFile = 0600;
constexpr mode_t kPrivateFolder = 0700;

bool isReadOnly(const std::string& path, const struct stat& st) {
  return (st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0;
}

struct OpenMode {
  int flags;
  bool writing;
  int lock;
};

OpenMode modeOf(Access access) {
  switch (access) {
    case Access::Read: return {O_RDONLY, false, LOCK_SH};
    case Access::Write: return {O_WRONLY | O_CREAT, true, LOCK_EX};
    case Access::Exclusive: break;
  }
  return {O_RDWR, true, LOCK_EX};
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
void runChild(const std::string& program, bool searchPath, std::vector<std::string>& words, bool wait) {
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

bool isDriveC(const char* root) { return root && (root[0] == 'c' || root[0] == 'C'); }

}  // namespace

Handle Open(const std::string& path, Access access) {
  const OpenMode mode = modeOf(access);
  struct stat st;
  bool exists = stat(path.c_str(), &st) == 0;
  if (!exists && access != Access::Write) return kNoFile;  // never create it
  if (exists && (!S_ISREG(st.st_mode) || (mode.writing && isReadOnly(path, st)))) return kNoFile;
  int fd = open(path.c_str(), mode.flags | O_NONBLOCK | O_CLOEXEC, kPrivateFile);
  if (fd < 0) return kNoFile;
  bool heldElsewhere = flock(fd, mode.lock | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || heldElsewhere) {
    close(fd);
    return kNoFile;
  }
  return fd;
}

int32_t WriteAt(Handle file, const char* data, int32_t count, int64_t at) {
  int32_t done = 0;
  while (done < count) {
    ssize_t n = pwrite(int(file), data + done, size_t(count - done), off_t(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += int32_t(n);
  }
  return done;
}

int32_t ReadAt(Handle file, char* data, int32_t count, int64_t at) {
  int32_t done = 0;
  while (done < count) {
    ssize_t n = pread(int(file), data + done, size_t(count - done), off_t(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += int32_t(n);
  }
  return done;
}

int64_t SizeOf(Handle file) {
  struct stat st;
  return fstat(int(file), &st) == 0 ? int64_t(st.st_size) : -1;
}

bool Truncate(Handle file) { return ftruncate(int(file), 0) == 0; }
void Flush(Handle file) { fsync(int(file)); }
void Close(Handle file) { close(int(file)); }

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EntryExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  struct stat st, rootSt;
  if (stat(folder.c_str(), &st) != 0) return names;
  // A drive root lists no "." and "..".
  bool root = stat("/", &rootSt) == 0 && rootSt.st_ino == st.st_ino && rootSt.st_dev == st.st_dev;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (struct dirent* entry = readdir(dir)) {
    std::string name(entry->d_name);
    if (root && (name == "." || name == "..")) continue;
    names.push_back(name);
  }
  closedir(dir);
  return names;
}

void Remove(const std::string& path) { unlink(path.c_str()); }

void MoveNoReplace(const std::string& from, const std::string& to) {
  // Never replace: a name that appeared since the caller looked stays.
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0 && errno == EINVAL)
    if (access(to.c_str(), F_OK) != 0) rename(from.c_str(), to.c_str());
}

void MakeFolder(const std::string& path) { mkdir(path.c_str(), kPrivateFolder); }
void RemoveFolder(const std::string& path) { rmdir(path.c_str()); }
void ChangeFolder(const std::string& path) { (void)!chdir(path.c_str()); }

std::string SystemFolder() { return "C:\\usr\\lib"; }
std::string PlatformFolder() { return "C:\\usr"; }

int32_t DriveType(const char* root) { return isDriveC(root) ? 3 : 1; }

void ChangeToDriveRoot(const char* root) {
  if (isDriveC(root)) (void)!chdir("/");
}

void RunProgram(const char* program, const char* commandLine, bool wait) {
  std::vector<std::string> words = splitCommandLine(commandLine);
  std::string host;
  bool searchPath = program == nullptr;
  if (program) {
    if (!hostpath::ToHost(program, host)) return;
    if (words.empty()) words.push_back(host);
  } else {
    if (words.empty()) return;
    if (words[0].find_first_of("\\/:") != std::string::npos) {
      if (!hostpath::ToHost(words[0].c_str(), host)) return;
      searchPath = false;
    } else {
      host = words[0];
    }
  }
  runChild(host, searchPath, words, wait);
}

// The arguments joined by blanks, those holding blanks in double quotes.
static std::string ReadCommandLine() {
  std::string out;
  FILE* f = fopen("/proc/self/cmdline", "rb");
  if (f == nullptr) return out;
  std::string arg;
  auto flush = [&] {
    if (!out.empty()) out += ' ';
    out += arg.find(' ') != std::string::npos ? "\"" + arg + "\"" : arg;
    arg.clear();
  };
  for (int c; (c = fgetc(f)) != EOF;) {
    if (c == 0)
      flush();
    else
      arg += char(c);
  }
  if (!arg.empty()) flush();
  fclose(f);
  return out;
}

// Read once, like the text the classic platform keeps for the process.
const char* CommandLine() {
  static const std::string line = ReadCommandLine();
  return line.c_str();
}

LocalTime Now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  localtime_r(&ts.tv_sec, &tm);
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,         tm.tm_wday,
                   tm.tm_hour,        tm.tm_min,     tm.tm_sec, int32_t(ts.tv_nsec / 1000000)};
}

uint64_t RandomSeed() {
  // getrandom of 8 bytes does not fail once the host's pool is ready.
  uint64_t seed = 0;
  return getrandom(&seed, sizeof seed, 0) == ssize_t(sizeof seed) ? seed : 0;
}

int64_t FreeBytes(const std::string& folder) {
  struct statvfs fs;
  if (statvfs(folder.c_str(), &fs) != 0) return -1;
  const uint64_t free = uint64_t(fs.f_bavail) * uint64_t(fs.f_frsize);
  return free > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(free);
}

int32_t Sharing(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return ((st.st_mode & (S_IRGRP | S_IROTH)) != 0 ? kSharedRead : 0) |
         ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 ? kSharedWrite : 0);
}

int64_t SecondsSinceWritten(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t age = int64_t(now.tv_sec) - int64_t(st.st_mtim.tv_sec);
  return age < 0 ? 0 : age;
}

}  // namespace hostfs
