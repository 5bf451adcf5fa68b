// winapi/wait.h -- what the event loop needs of the operating system
// (private to the dialog manager): the monotonic clock and the one blocking
// wait. wait_posix.cpp waits in poll(); wait_win32.cpp in
// MsgWaitForMultipleObjectsEx, on an event per socket (WSAEventSelect) and
// on the event handles that overlapped serial I/O signals.
#pragma once
#include <stdint.h>

#include <vector>

struct WaWaitItem {
  int fd;         // a socket or device descriptor; with WA_EVENT an event handle
  short events;   // WA_IN, WA_OUT, WA_EVENT (loop.h)
  short revents;  // filled: WA_IN, WA_OUT, WA_ERR, WA_HUP
};

// Milliseconds of a clock that never goes back.
uint64_t waHostClock();
// Waits at most timeoutMs (< 0: no limit) until one of the items is ready
// and fills the revents of every ready item; with no items it sleeps the
// time-out. True when any item is ready.
bool waHostWait(std::vector<WaWaitItem>& items, int timeoutMs);
// The descriptor is no longer watched (the wait lets go what it kept for it).
void waHostForget(int fd);
