// A new secret file on Windows (see secretfile.h).
#include <windows.h>

#include "tools/secretfile.h"

bool WriteNewSecretFile(const std::string& path, const void* bytes, size_t length) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes, DWORD(length), &written, nullptr) && written == length && FlushFileBuffers(file);
  return CloseHandle(file) && ok;
}

void KeepNewFilesPrivate() {}
