// The message queue and the timers: what the event loop finds ready to
// dispatch. Posted messages go first, then paints, then due timers (oldest
// first), so timers coalesce and never starve user input.
#include <algorithm>

#include "winapi/internal.h"
#include "winapi/loop.h"
#include "winapi/task.h"

namespace wa {
namespace {

Timer* timerBySerial(uint64_t serial) {
  for (Timer& t : state().timers)
    if (t.order == serial) return &t;
  return nullptr;
}

void timerFired(void* context);

void arm(Timer& t) {
  t.deadline = waAddDeadline(t.interval, timerFired, reinterpret_cast<void*>(uintptr_t(t.order)));
}

// Timers are keyed by their 'order' serial while armed; 'due' marks a
// WM_TIMER that waits in the queue (a second firing meanwhile is absorbed).
void timerFired(void* context) {
  Timer* t = timerBySerial(uint64_t(uintptr_t(context)));
  if (t == nullptr) return;
  t->due = true;
  arm(*t);
}

WaWindow* dialogNeedingPaint() {
  for (HWND h : state().dialogOrder) {
    WaWindow* w = find(h);
    if (w && w->paintPending && w->visible && !w->minimized) return w;
  }
  return nullptr;
}

Timer* oldestDueTimer() {
  Timer* best = nullptr;
  for (Timer& t : state().timers)
    if (t.due && (best == nullptr || t.deadline < best->deadline)) best = &t;
  return best;
}

// Posted messages (user commands among them) wait while background work
// runs its own steps (winapi/task.h).
bool postedReady() { return !state().queue.empty() && waTaskHoldsInput() == 0; }

int queuePending() { return postedReady() || dialogNeedingPaint() || oldestDueTimer() ? 1 : 0; }

int queueDispatchOne() {
  Manager& m = state();
  if (postedReady()) {
    Posted p = m.queue.front();
    m.queue.pop_front();
    if (find(p.window)) waSendMessage(p.window, p.message, p.wParam, p.lParam);
    return 1;
  }
  if (WaWindow* w = dialogNeedingPaint()) {
    w->paintPending = false;
    waSendMessage(w->handle, WM_PAINT, 0, 0);
    return 1;
  }
  if (Timer* t = oldestDueTimer()) {
    t->due = false;
    HWND window = t->window;
    uintptr_t id = t->id;
    TIMERPROC handler = t->handler;
    if (handler)
      handler(window, WM_TIMER, id, waNow());
    else
      waSendMessage(window, WM_TIMER, id, 0);
    return 1;
  }
  return 0;
}

}  // namespace

void installQueue() { waSetMessageQueue(queuePending, queueDispatchOne); }

}  // namespace wa

using namespace wa;

uintptr_t waSetTimer(HWND window, uintptr_t id, uint32_t interval, TIMERPROC handler) {
  installQueue();
  if (window != 0 && !find(window)) return 0;
  // The classic platform's limits: at least 10 ms, at most 2^31 - 1.
  interval = std::clamp<uint32_t>(interval, 10u, 0x7FFFFFFFu);
  waKillTimer(window, id);
  Manager& m = state();
  m.timers.push_back(Timer{window, id, interval, handler, 0, false, ++m.timerOrder});
  arm(m.timers.back());
  return id;
}

int32_t waKillTimer(HWND window, uintptr_t id) {
  auto& timers = state().timers;
  auto it = std::find_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == window && t.id == id; });
  if (it == timers.end()) return 0;
  waCancelDeadline(it->deadline);
  timers.erase(it);
  return 1;
}
