// The unit library's files on Windows (see packfiles.h). The private folder
// is made under the user's temporary folder.
#include <windows.h>

#include <stdlib.h>

#include "unitlib/packfiles.h"

namespace packfiles {
namespace {

struct PrivateFolder {
  std::string path;
};

PrivateFolder privateFolder;

HANDLE handleOf(File file) { return reinterpret_cast<HANDLE>(file); }

void removePrivateFolder() {
  if (privateFolder.path.empty()) return;
  DeleteFileA((privateFolder.path + "\\" + kPackedName).c_str());
  RemoveDirectoryA(privateFolder.path.c_str());
}

const std::string& folder() {
  if (!privateFolder.path.empty()) return privateFolder.path;
  char temp[MAX_PATH + 1] = {};
  DWORD n = GetTempPathA(sizeof temp, temp);
  if (n == 0 || n >= sizeof temp) return privateFolder.path;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string made = std::string(temp) + "vlunit-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(attempt);
    if (CreateDirectoryA(made.c_str(), nullptr)) {
      privateFolder.path = made;
      atexit(removePrivateFolder);
      break;
    }
  }
  return privateFolder.path;
}

File create(const std::string& path, DWORD disposition) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<File>(h);
}

}  // namespace

File OpenForReading(const std::string& path, uint64_t& size) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return kNoFile;
  LARGE_INTEGER length;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &length)) {
    CloseHandle(h);
    return kNoFile;
  }
  size = uint64_t(length.QuadPart);
  return reinterpret_cast<File>(h);
}

File CreatePacked(std::string& path) {
  if (folder().empty()) return kNoFile;
  path = folder() + "\\" + kPackedName;
  return create(path, CREATE_ALWAYS);
}

File CreateBeside(const std::string& path, std::string& temporary) {
  size_t cut = path.find_last_of("\\/");
  const std::string base = (cut == std::string::npos ? std::string() : path.substr(0, cut + 1)) + ".vlunit-";
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    temporary = base + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
    File file = create(temporary, CREATE_NEW);
    if (file != kNoFile) return file;
  }
  return kNoFile;
}

long ReadSome(File file, uint8_t* data, size_t count) {
  DWORD n = 0;
  return ReadFile(handleOf(file), data, DWORD(count), &n, nullptr) ? long(n) : -1;
}

bool WriteAll(File file, const uint8_t* data, size_t count) {
  while (count > 0) {
    DWORD n = 0;
    if (!WriteFile(handleOf(file), data, DWORD(count), &n, nullptr) || n == 0) return false;
    data += n;
    count -= n;
  }
  return true;
}

// A positioned read moves the file pointer of a handle opened for plain
// I/O; it is put back, so that ReadSome goes on where it was.
bool ReadAt(File file, uint8_t* data, size_t count, uint64_t offset) {
  LARGE_INTEGER none{}, was{};
  if (!SetFilePointerEx(handleOf(file), none, &was, FILE_CURRENT)) return false;
  bool ok = true;
  while (ok && count > 0) {
    OVERLAPPED where{};
    where.Offset = DWORD(offset & 0xFFFFFFFFu);
    where.OffsetHigh = DWORD(offset >> 32);
    DWORD n = 0;
    ok = ReadFile(handleOf(file), data, DWORD(count), &n, &where) && n > 0;
    data += n;
    count -= n;
    offset += n;
  }
  return SetFilePointerEx(handleOf(file), was, nullptr, FILE_BEGIN) && ok;
}

// A new file takes the attributes of its folder's defaults; there are no
// permission bits to carry over.
bool Finish(File file, File) { return FlushFileBuffers(handleOf(file)) != 0; }

bool Replace(const std::string& temporary, const std::string& path) {
  return MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void Remove(const std::string& path) { DeleteFileA(path.c_str()); }
void Close(File file) { CloseHandle(handleOf(file)); }

}  // namespace packfiles
