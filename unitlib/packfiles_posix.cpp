// The unit library's files on a POSIX host (see packfiles.h).
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "unitlib/packfiles.h"

namespace packfiles {
namespace {

struct PrivateFolder {
  std::string path;
};

PrivateFolder privateFolder;

void removePrivateFolder() {
  if (privateFolder.path.empty()) return;
  unlink((privateFolder.path + "/" + kPackedName).c_str());
  rmdir(privateFolder.path.c_str());
}

const std::string& folder() {
  if (privateFolder.path.empty()) {
    char made[] = "/tmp/vlunit-XXXXXX";
    if (mkdtemp(made)) {
      privateFolder.path = made;
      atexit(removePrivateFolder);
    }
  }
  return privateFolder.path;
}

}  // namespace

File OpenForReading(const std::string& path, uint64_t& size) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return kNoFile;
  }
  size = uint64_t(st.st_size);
  return fd;
}

File CreatePacked(std::string& path) {
  if (folder().empty()) return kNoFile;
  path = folder() + "/" + kPackedName;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  return fd < 0 ? kNoFile : fd;
}

File CreateBeside(const std::string& path, std::string& temporary) {
  // Same file system, so the rename is atomic; a short name that fits
  // whatever the file's own name is.
  size_t cut = path.find_last_of('/');
  temporary = (cut == std::string::npos ? std::string() : path.substr(0, cut + 1)) + ".vlunit-XXXXXX";
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  return fd < 0 ? kNoFile : fd;
}

long ReadSome(File file, uint8_t* data, size_t count) {
  for (;;) {
    ssize_t n = read(int(file), data, count);
    if (n >= 0 || errno != EINTR) return long(n);
  }
}

bool WriteAll(File file, const uint8_t* data, size_t count) {
  while (count > 0) {
    ssize_t n = write(int(file), data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= size_t(n);
  }
  return true;
}

bool ReadAt(File file, uint8_t* data, size_t count, uint64_t offset) {
  while (count > 0) {
    ssize_t n = pread(int(file), data, count, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= size_t(n);
    offset += uint64_t(n);
  }
  return true;
}

bool Finish(File file, File like) {
  struct stat st;
  if (like != kNoFile && (fstat(int(like), &st) != 0 || fchmod(int(file), st.st_mode & 07777) != 0)) return false;
  return fsync(int(file)) == 0;
}

bool Replace(const std::string& temporary, const std::string& path) {
  return rename(temporary.c_str(), path.c_str()) == 0;
}

void Remove(const std::string& path) { unlink(path.c_str()); }
void Close(File file) { close(int(file)); }

}  // namespace packfiles
