// The one clock: timers and pauses on the virtual clock, coalescing, the
// message loop, and a pause that wakes for a file descriptor.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "fixtures.h"

using namespace fixtures;

namespace {

class Clock : public Manager {};

TEST_F(Clock, TwentyAndOneHundredTwentyTicksOfFifteenSecondsRunInVirtualTime) {
  HWND h = openOuter();
  uint32_t start = waNow();
  EXPECT_EQ(pTimer(h, 200, 15000, nullptr), 200);
  pDoEvent(20 * 15000);
  EXPECT_EQ(seen.timers, 19) << "the 20th tick falls due exactly as the pause ends";
  headless::settle();
  EXPECT_EQ(seen.timers, 20);
  pDoEvent(100 * 15000);
  headless::settle();
  EXPECT_EQ(seen.timers, 120);
  EXPECT_EQ(waNow() - start, 120u * 15000u);
  EXPECT_EQ(uint32_t(pTiming()), waNow());
}

int consoleTicks = 0;
LRESULT tickingConsole(HWND h, UINT m, WPARAM w, LPARAM) {
  if (m == WM_INITDIALOG) pTimer(h, 200, 15000, nullptr);
  if (m == WM_TIMER && w == 200 && ++consoleTicks == 120) {
    pTimer(h, 200, 0, nullptr);
    tkEndDialog(h, 0);
  }
  return 1;
}

TEST_F(Clock, ModalLoopAloneDrivesTheTicks) {
  consoleTicks = 0;
  uint32_t start = waNow();
  EXPECT_EQ(tkDialogBox(instance, kConsole, 0, tickingConsole, 0), 0);
  EXPECT_EQ(consoleTicks, 120);
  EXPECT_EQ(waNow() - start, 1800000u);
}

TEST_F(Clock, PausesKeepTheirLengthAndZeroDispatchesNothing) {
  HWND h = openOuter();
  headless::settle();
  seen.commands.clear();
  tkPostMessage(h, WM_COMMAND, 555, 0);
  uint32_t start = waNow();
  pDoEvent(0);
  EXPECT_TRUE(seen.commands.empty());
  EXPECT_EQ(waNow(), start);
  pDoEvent(150);
  EXPECT_EQ(seen.commands.size(), 1u);
  EXPECT_EQ(waNow() - start, 150u);
  pDoEvent(-5);
  EXPECT_EQ(waNow() - start, 150u) << "a negative length is no pause";
}

TEST_F(Clock, PauseAcrossTheClockWrap) {
  waSetVirtualClock(1, 0xFFFFFF00u);
  HWND h = openOuter();
  pTimer(h, 1, 100, nullptr);
  pDoEvent(1000);
  headless::settle();
  EXPECT_EQ(waNow(), 0xFFFFFF00u + 1000u);
  EXPECT_EQ(seen.timers, 10);
}

TEST_F(Clock, TimerDueAgainWhileItsMessageWaitsIsDeliveredOnce) {
  HWND h = openOuter();
  headless::settle();
  pTimer(h, 1, 100, nullptr);
  // The interface is busy for a second without pumping.
  waSetVirtualClock(1, waNow() + 1000);
  headless::settle();
  EXPECT_EQ(seen.timers, 1);
}

struct TimerCall {
  HWND window;
  UINT message;
  uintptr_t id;
  uint32_t now;
};
std::vector<TimerCall> timerCalls;
void timerHandler(HWND h, UINT m, uintptr_t id, uint32_t now) { timerCalls.push_back({h, m, id, now}); }

TEST_F(Clock, StartRestartAndStop) {
  timerCalls.clear();
  HWND h = openOuter();
  uint32_t start = waNow();
  EXPECT_EQ(pTimer(h, 0, 100, nullptr), 0) << "id 0 does nothing";
  EXPECT_EQ(pTimer(h, 5, 1000, timerHandler), 5);
  EXPECT_EQ(pTimer(h, 5, 300, timerHandler), 5) << "restarting replaces the interval";
  pDoEvent(650);
  ASSERT_EQ(timerCalls.size(), 2u);
  EXPECT_EQ(timerCalls[0].window, h);
  EXPECT_EQ(timerCalls[0].message, UINT(WM_TIMER));
  EXPECT_EQ(timerCalls[0].id, 5u);
  EXPECT_EQ(timerCalls[0].now - start, 300u);
  EXPECT_EQ(seen.timers, 0) << "a timer with a handler sends the window nothing";
  EXPECT_EQ(pTimer(h, 5, 0, nullptr), 0);
  pDoEvent(5000);
  EXPECT_EQ(timerCalls.size(), 2u);
  EXPECT_EQ(pTimer(4242, 1, 100, nullptr), 0) << "no such window";
}

TEST_F(Clock, MessageLoopReturnsTheQuitCode) {
  HWND h = openOuter();
  pTimer(h, 1, 500, [](HWND, UINT, uintptr_t, uint32_t) { tkPostMessage(0, WM_QUIT, 3, 0); });
  uint32_t start = waNow();
  EXPECT_EQ(pMessage(), 3);
  EXPECT_EQ(waNow() - start, 500u);
}

struct PipeWatch {
  int fds[2] = {-1, -1};
  std::atomic<int> reads{0};
  uint32_t readAt = 0;
  HWND endDialog = 0;
  PipeWatch() { EXPECT_EQ(pipe(fds), 0); }
  ~PipeWatch() {
    waUnwatchFd(fds[0]);
    close(fds[0]);
    close(fds[1]);
  }
  static void onReadable(int fd, short, void* context) {
    auto* self = static_cast<PipeWatch*>(context);
    char c;
    if (read(fd, &c, 1) == 1) self->reads++;
    self->readAt = waNow();
    if (self->endDialog) tkEndDialog(self->endDialog, 9);
  }
  void watch() { waWatchFd(fds[0], POLLIN, onReadable, this); }
  void writeLater(int ms) {
    std::thread([fd = fds[1], ms] {
      usleep(ms * 1000);
      EXPECT_EQ(write(fd, "x", 1), 1);
    }).detach();
  }
};

TEST_F(Clock, RealPauseWakesForADescriptorAndStillKeepsItsLength) {
  headless::reset(false);
  PipeWatch p;
  p.watch();
  p.writeLater(30);
  uint32_t start = waNow();
  pDoEvent(300);
  EXPECT_EQ(p.reads, 1);
  EXPECT_GE(waNow() - start, 300u);
  EXPECT_LT(p.readAt - start, 300u) << "handled inside the pause";
}

TEST_F(Clock, VirtualPauseServesReadyDescriptors) {
  PipeWatch p;
  p.watch();
  ASSERT_EQ(write(p.fds[1], "ab", 2), 2);
  uint32_t start = waNow();
  pDoEvent(1000);
  EXPECT_EQ(p.reads, 2);
  EXPECT_EQ(p.readAt, start) << "descriptors are served before the clock jumps";
  EXPECT_EQ(waNow() - start, 1000u);
}

TEST_F(Clock, ModalLoopWithOnlyADescriptorWaitsForIt) {
  PipeWatch p;
  p.watch();
  headless::onDialog(kInner, [&](HWND h) {
    p.endDialog = h;
    p.writeLater(20);
  });
  EXPECT_EQ(tkDialogBox(instance, kInner, 0, recordingProc, 0), 9);
  EXPECT_EQ(p.reads, 1);
}

}  // namespace
