// The event loop's clock and wait on Windows.
//
// Sockets are asked with WSAPoll (no wait) before and after every wait, so
// readiness is level-triggered as with poll(). The wait itself is
// MsgWaitForMultipleObjectsEx on one event per socket, armed anew with
// WSAEventSelect before each wait and asked once more once armed (what
// happened before the arming need not signal the event), and on the event
// handles of overlapped device I/O (WA_EVENT). It also wakes for the thread's window messages, so a presenter
// with real windows shares the one loop.
#include <winsock2.h>
#include <windows.h>

#include <map>

#include "winapi/loop.h"
#include "winapi/wait.h"

namespace {

// The whole state of the wait: one event per watched socket.
struct WaitState {
  std::map<int, WSAEVENT> socketEvents;
};

WaitState waitState;

SOCKET socketOf(int fd) { return SOCKET(unsigned(fd)); }

short toPoll(short events) { return short((events & WA_IN ? POLLRDNORM : 0) | (events & WA_OUT ? POLLWRNORM : 0)); }

short fromPoll(short revents) {
  return short((revents & (POLLRDNORM | POLLRDBAND) ? WA_IN : 0) | (revents & POLLWRNORM ? WA_OUT : 0) |
               (revents & (POLLERR | POLLNVAL) ? WA_ERR : 0) | (revents & POLLHUP ? WA_HUP : 0));
}

// Readiness of the sockets now, without waiting; true when any is ready.
bool pollSockets(std::vector<WaWaitItem>& items) {
  std::vector<WSAPOLLFD> fds;
  std::vector<size_t> index;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].events & WA_EVENT) continue;
    fds.push_back(WSAPOLLFD{socketOf(items[i].fd), toPoll(items[i].events), 0});
    index.push_back(i);
  }
  if (fds.empty() || WSAPoll(fds.data(), ULONG(fds.size()), 0) <= 0) return false;
  bool any = false;
  for (size_t k = 0; k < fds.size(); ++k) {
    items[index[k]].revents = fromPoll(fds[k].revents);
    any = any || items[index[k]].revents != 0;
  }
  return any;
}

bool pollEvents(std::vector<WaWaitItem>& items) {
  bool any = false;
  for (WaWaitItem& item : items) {
    if (!(item.events & WA_EVENT)) continue;
    if (WaitForSingleObject(HANDLE(intptr_t(item.fd)), 0) == WAIT_OBJECT_0) item.revents = WA_IN;
    any = any || item.revents != 0;
  }
  return any;
}

HANDLE armSocket(int fd) {
  WSAEVENT& event = waitState.socketEvents[fd];
  if (event == nullptr) event = WSACreateEvent();
  WSAEventSelect(socketOf(fd), event, FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
  return event;
}

}  // namespace

uint64_t waHostClock() {
  static const int64_t perMillisecond = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart / 1000;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return uint64_t(now.QuadPart / perMillisecond);
}

bool waHostWait(std::vector<WaWaitItem>& items, int timeoutMs) {
  if (pollSockets(items) | pollEvents(items)) return true;
  if (timeoutMs == 0) return false;
  std::vector<HANDLE> handles;
  for (const WaWaitItem& item : items)
    handles.push_back(item.events & WA_EVENT ? HANDLE(intptr_t(item.fd)) : armSocket(item.fd));
  if (handles.size() >= MAXIMUM_WAIT_OBJECTS) handles.resize(MAXIMUM_WAIT_OBJECTS - 1);
  // A connection or bytes that came between the first look and the arming
  // may not signal the event (Wine does not): look once more, armed.
  if (pollSockets(items) | pollEvents(items)) return true;
  MsgWaitForMultipleObjectsEx(DWORD(handles.size()), handles.data(), timeoutMs < 0 ? INFINITE : DWORD(timeoutMs),
                              QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  return pollSockets(items) | pollEvents(items);
}

void waHostForget(int fd) {
  auto it = waitState.socketEvents.find(fd);
  if (it == waitState.socketEvents.end()) return;
  WSAEventSelect(socketOf(fd), nullptr, 0);
  WSACloseEvent(it->second);
  waitState.socketEvents.erase(it);
}
