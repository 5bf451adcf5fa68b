// The event loop's clock and wait on a POSIX host: CLOCK_MONOTONIC and poll().
#include <poll.h>
#include <time.h>

#include "winapi/loop.h"
#include "winapi/wait.h"

static_assert(WA_IN == POLLIN && WA_OUT == POLLOUT && WA_ERR == POLLERR && WA_HUP == POLLHUP,
              "the loop's readiness bits are poll()'s own here");

uint64_t waHostClock() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

bool waHostWait(std::vector<WaWaitItem>& items, int timeoutMs) {
  if (items.empty()) {
    if (timeoutMs > 0) poll(nullptr, 0, timeoutMs);
    return false;
  }
  std::vector<pollfd> fds;
  fds.reserve(items.size());
  for (const WaWaitItem& item : items) fds.push_back(pollfd{item.fd, short(item.events & ~WA_EVENT), 0});
  int n = poll(fds.data(), fds.size(), timeoutMs);
  if (n <= 0) return false;
  for (size_t i = 0; i < items.size(); ++i) items[i].revents = fds[i].revents;
  return true;
}

void waHostForget(int) {}
