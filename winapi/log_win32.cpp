// Where the log goes on Windows (see logout.h): the process's standard
// output and error handles, which a service wrapper, a console or a
// redirection gives the program even in the GUI subsystem. A program
// started without them writes no log, and says so nowhere it could be read.
#include <windows.h>

#include <stdio.h>

#include "winapi/logout.h"

namespace {

// Two handles name the same file when they are the same handle, or the same
// file on the same volume.
bool SameFile(HANDLE a, HANDLE b) {
  if (a == b) return true;
  BY_HANDLE_FILE_INFORMATION ia, ib;
  return GetFileInformationByHandle(a, &ia) && GetFileInformationByHandle(b, &ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace

WaLogStreams waLogStreams() {
  WaLogStreams streams;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), errors = GetStdHandle(STD_ERROR_HANDLE);
  streams.errorsApart = errors != nullptr && errors != INVALID_HANDLE_VALUE && !SameFile(out, errors);
  return streams;
}

std::string waLogStamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[40];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
           t.wSecond, t.wMilliseconds);
  return text;
}

void waLogWrite(bool toErrors, const std::string& line) {
  HANDLE target = GetStdHandle(toErrors ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (target == nullptr || target == INVALID_HANDLE_VALUE) return;
  size_t done = 0;
  while (done < line.size()) {
    DWORD n = 0;
    if (!WriteFile(target, line.data() + done, DWORD(line.size() - done), &n, nullptr) || n == 0) return;
    done += n;
  }
}

// A Windows machine is stopped by closing it (its service wrapper comes with
// the installer); no request reaches the loop yet, and the exit line still
// comes from the program's own end.
bool waLogCatchStop(void (*)(const char*)) { return false; }
