// Where the log goes on Windows (see logout.h): the process's standard
// output and error handles, which a service wrapper, a console or a
// redirection gives the program even in the GUI subsystem. A program
// started without them writes no log, and says so nowhere it could be read.
#include <windows.h>

#include <stdio.h>

#include "winapi/logout.h"
#include "winapi/loop.h"

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

// A console's control handler runs on a thread of its own: it only sets an
// event that the loop watches, and the stop line is written from the loop.
struct StopState {
  HANDLE event = nullptr;
  volatile LONG request = 0;  // the control event + 1
  void (*onStop)(const char* how) = nullptr;
};

StopState stopState;

BOOL WINAPI OnControl(DWORD type) {
  if (InterlockedExchange(&stopState.request, LONG(type) + 1) != 0) return FALSE;  // the default: end now
  SetEvent(stopState.event);
  // A closing console ends the process once the handler returns: give the
  // loop its moment to write the line.
  if (type == CTRL_CLOSE_EVENT) Sleep(2000);
  return TRUE;
}

void OnStopEvent(int, short, void*) {
  const DWORD type = DWORD(stopState.request - 1);
  stopState.onStop(type == CTRL_C_EVENT       ? "stopped by Ctrl+C"
                   : type == CTRL_BREAK_EVENT ? "stopped by Ctrl+Break"
                                              : "stopped: the console closed");
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

void waLogOnStop(void (*onStop)(const char* how)) {
  if (stopState.onStop) return;
  stopState.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (stopState.event == nullptr) return;
  stopState.onStop = onStop;
  SetConsoleCtrlHandler(OnControl, TRUE);
  waWatchFd(int(intptr_t(stopState.event)), WA_IN | WA_EVENT, OnStopEvent, nullptr);
}

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
