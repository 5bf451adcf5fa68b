// The one clock and the one event loop (see loop.h for how it works).
#include "winapi/loop.h"

#include "winapi/log.h"
#include "winapi/wait.h"

#include <algorithm>
#include <vector>

namespace {

struct Watch {
  int fd;
  short events;
  waFdCallback callback;
  void* context;
};

struct Deadline {
  uint32_t id;
  uint64_t due;  // absolute, in the 64-bit clock
  waDeadlineCallback callback;
  void* context;
};

// The whole state of the loop. Times are kept in 64 bits internally so that
// ordering never suffers from the 32-bit wrap that waNow() shows.
struct LoopState {
  bool virtualClock = false;
  uint64_t virtualNow = 0;
  std::vector<Watch> watches;
  std::vector<Deadline> deadlines;
  uint32_t nextDeadlineId = 1;
  int (*queuePending)(void) = nullptr;
  int (*queueDispatch)(void) = nullptr;
  void (*beforeWait)(void) = nullptr;
};

LoopState loop;

// Real milliseconds a virtual-clock pump waits for descriptors when nothing
// else is scheduled.
constexpr int kVirtualFdSlice = 100;

uint64_t now64() { return loop.virtualClock ? loop.virtualNow : waHostClock(); }

bool dispatchDueDeadline() {
  if (loop.deadlines.empty()) return false;
  auto it = std::min_element(loop.deadlines.begin(), loop.deadlines.end(),
                             [](const Deadline& a, const Deadline& b) { return a.due < b.due; });
  if (it->due > now64()) return false;
  Deadline d = *it;
  loop.deadlines.erase(it);
  d.callback(d.context);
  return true;
}

// Polls the watched descriptors for at most timeoutMs real milliseconds and
// runs the callbacks of those that are ready, one after another.
bool pollDescriptors(int timeoutMs) {
  std::vector<WaWaitItem> items;
  items.reserve(loop.watches.size());
  for (const Watch& w : loop.watches) items.push_back(WaWaitItem{w.fd, w.events, 0});
  if (!waHostWait(items, timeoutMs)) return false;
  bool any = false;
  for (const WaWaitItem& p : items) {
    if (p.revents == 0) continue;
    // A callback may have removed or replaced this watch meanwhile.
    auto it = std::find_if(loop.watches.begin(), loop.watches.end(), [&](const Watch& w) { return w.fd == p.fd; });
    if (it == loop.watches.end()) continue;
    Watch w = *it;
    w.callback(p.fd, p.revents, w.context);
    any = true;
  }
  return any;
}

// Milliseconds until the earliest deadline, or -1 when there is none.
int64_t untilNextDeadline() {
  if (loop.deadlines.empty()) return -1;
  uint64_t due = loop.deadlines.front().due;
  for (const Deadline& d : loop.deadlines) due = std::min(due, d.due);
  uint64_t now = now64();
  return due > now ? int64_t(due - now) : 0;
}

}  // namespace

uint32_t waNow(void) { return uint32_t(now64()); }

void waSetVirtualClock(int on, uint32_t start) {
  loop.virtualClock = on != 0;
  loop.virtualNow = start;
}

int waIsVirtualClock(void) { return loop.virtualClock ? 1 : 0; }

int waWatchFd(int fd, short events, waFdCallback callback, void* context) {
  if (fd < 0 || callback == nullptr) return 0;
  for (Watch& w : loop.watches) {
    if (w.fd == fd) {
      w = Watch{fd, events, callback, context};
      return 1;
    }
  }
  loop.watches.push_back(Watch{fd, events, callback, context});
  return 1;
}

void waUnwatchFd(int fd) {
  if (std::erase_if(loop.watches, [fd](const Watch& w) { return w.fd == fd; }) > 0) waHostForget(fd);
}

uint32_t waAddDeadline(uint32_t delayMs, waDeadlineCallback callback, void* context) {
  if (callback == nullptr) return 0;
  uint32_t id = loop.nextDeadlineId++;
  if (loop.nextDeadlineId == 0) loop.nextDeadlineId = 1;
  loop.deadlines.push_back(Deadline{id, now64() + delayMs, callback, context});
  return id;
}

void waCancelDeadline(uint32_t id) {
  std::erase_if(loop.deadlines, [id](const Deadline& d) { return d.id == id; });
}

void waSetMessageQueue(int (*pending)(void), int (*dispatchOne)(void)) {
  loop.queuePending = pending;
  loop.queueDispatch = dispatchOne;
}

void waSetBeforeWait(void (*hook)(void)) { loop.beforeWait = hook; }

int waHasWork(void) { return loop.deadlines.empty() && loop.watches.empty() ? 0 : 1; }

void waResetLoop(void) {
  for (const Watch& w : loop.watches) waHostForget(w.fd);
  loop.watches.clear();
  loop.deadlines.clear();
}

int waPump(int32_t timeoutMs) {
  // Whatever the status line was given since the last pass is complete now.
  waLogFlush();
  if (loop.queuePending && loop.queuePending()) {
    loop.queueDispatch();
    return 1;
  }
  if (dispatchDueDeadline()) return 1;
  if (pollDescriptors(0)) return 1;
  if (timeoutMs == 0) return 0;

  if (loop.beforeWait) loop.beforeWait();
  int64_t wait = untilNextDeadline();
  if (timeoutMs > 0 && (wait < 0 || wait > timeoutMs)) wait = timeoutMs;
  if (loop.virtualClock) {
    // Nothing is ready: time jumps to the next thing that can happen. With
    // nothing scheduled at all the wait could never end, so it returns; when
    // only descriptors can bring something, they are waited for in real time
    // (in bounded slices, so a caller can look round now and then).
    if (wait > 0) loop.virtualNow += uint64_t(wait);
    if (wait < 0 && !loop.watches.empty()) return pollDescriptors(kVirtualFdSlice) ? 1 : 0;
    return 0;
  }
  return pollDescriptors(wait < 0 ? -1 : int(std::min<int64_t>(wait, 1 << 30))) ? 1 : 0;
}
