// A new secret file on Windows (see secretfile.h).
#include <windows.h>

#include "tools/secretfile.h"

#include <iostream>

bool WriteNewSecretFile(const std::string& path, const void* bytes, size_t length) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes, DWORD(length), &written, nullptr) && written == length && FlushFileBuffers(file);
  return CloseHandle(file) && ok;
}

void MakeNewFilesPrivate() {}

bool InputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool ReadHiddenLine(std::string& line) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD shown = 0;
  const bool quiet = GetConsoleMode(input, &shown) != 0;
  if (quiet) SetConsoleMode(input, shown & ~DWORD(ENABLE_ECHO_INPUT));
  const bool read = bool(std::getline(std::cin, line));
  if (quiet) SetConsoleMode(input, shown);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return read;
}
