// The 15-second tick: when courier passes and local deliveries run, what the
// busy flags hold back, the offline alert, and the status line.
#include <string>
#include <vector>

#include "console/console.h"
#include "console_fixture.h"
#include "link/link.h"
#include "toolkit/window.h"
#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "winapi/loop.h"
#include "winapi/winapi.h"

namespace consoletest {
namespace {

constexpr uint32_t kTick = 15000;

uint32_t TickAt(uint32_t n) { return n * kTick; }

class TimerTest : public ConsoleFixture {};

struct CourierCase {
  const char* interval;
  uint32_t firstCourierTick;
};

TEST_F(TimerTest, FirstCourierPassComesAtTheTickItsIntervalAllows) {
  // 5 minutes: 20 x 15000 = 300000 >= 5 x 59999; 30 minutes: the 120th tick.
  for (const CourierCase c : {CourierCase{"5", 20}, CourierCase{"10", 40}, CourierCase{"30", 120}}) {
    SCOPED_TRACE(c.interval);
    TearDown();
    SetUp();
    WriteMachine({{UnitField::ECourierInterval, c.interval}});
    RunConsole([&](HWND) { Wait(TickAt(c.firstCourierTick) + 6000); });
    ASSERT_EQ(Recorded().remoteAt.size(), 1u);
    // The 5000 ms pump comes before the pass.
    EXPECT_EQ(Recorded().remoteAt[0], TickAt(c.firstCourierTick) + 5000);
    // Local delivery every other tick, never in the courier's tick.
    ASSERT_FALSE(Recorded().localAt.empty());
    EXPECT_EQ(Recorded().localAt.front(), TickAt(2) + 1500);
    EXPECT_EQ(Recorded().localAt.size(), (c.firstCourierTick - 1) / 2);
    for (uint32_t at : Recorded().localAt) EXPECT_NE(at, TickAt(c.firstCourierTick) + 1500);
  }
}

TEST_F(TimerTest, LocalDeliveryFollowsTheCourierTickAtTheNextOne) {
  WriteMachine({{UnitField::ECourierInterval, "5"}});
  RunConsole([&](HWND) { Wait(TickAt(22) + 2000); });
  std::vector<uint32_t> expected;
  for (uint32_t n = 2; n <= 18; n += 2) expected.push_back(TickAt(n) + 1500);
  expected.push_back(TickAt(21) + 1500);
  EXPECT_EQ(Recorded().localAt, expected);
}

// A courier due at every tick takes local delivery's turn once; the next
// tick's pass is followed by it.
TEST_F(TimerTest, EmptyIntervalPostsAtEveryTickAndStillDeliversLocally) {
  WriteMachine({{UnitField::ECourierInterval, ""}});
  RunConsole([&](HWND) { Wait(TickAt(6) + 7000); });
  std::vector<uint32_t> everyTick;
  for (uint32_t n = 1; n <= 6; ++n) everyTick.push_back(TickAt(n) + 5000);
  EXPECT_EQ(Recorded().remoteAt, everyTick);
  EXPECT_EQ(Recorded().localAt, (std::vector<uint32_t>{TickAt(3) + 6500, TickAt(6) + 6500}));
}

TEST_F(TimerTest, OfflineCourierPassSaysNotOnlineEveryFifteenSecondsWhetherOrNotECourierIsOn) {
  for (const char* enabled : {"1", "0"}) {
    SCOPED_TRACE(enabled);
    TearDown();
    SetUp();
    WriteMachine({{UnitField::ECourierInterval, ""}, {UnitField::EnableECourier, enabled}});
    Recorded().linkOpens = false;
    for (int i = 0; i < 4; ++i) headless::answerBox(1);
    HWND consoleWindow = 0;
    RunConsole([&](HWND console) {
      consoleWindow = console;
      Wait(TickAt(4) + 1000);
    });
    EXPECT_EQ(CountBoxes("Velloran Not ONLINE"), 4);
    for (const headless::ShownBox& box : headless::boxes()) {
      EXPECT_EQ(box.caption, "Mail Sending Will Start Later");
      EXPECT_EQ(box.style, 64);
      EXPECT_EQ(box.owner, consoleWindow);
    }
    EXPECT_TRUE(Recorded().remoteAt.empty());
    EXPECT_TRUE(Recorded().localAt.empty());
  }
}

// Nobody answers the offline box for a minute: local delivery goes on at its
// ticks meanwhile, and no second box piles up on the first.
TEST_F(TimerTest, AnUnansweredOfflineBoxHoldsNoDeliveryBack) {
  WriteMachine({{UnitField::ECourierInterval, "5"}});
  Recorded().linkOpens = false;
  headless::answerBox(1, 60000);
  RunConsole([&](HWND) { Wait(TickAt(20) + 59000); });
  EXPECT_EQ(CountBoxes("Velloran Not ONLINE"), 1);
  ASSERT_FALSE(Recorded().localAt.empty());
  EXPECT_GT(Recorded().localAt.back(), TickAt(20));
}

TEST_F(TimerTest, WithECourierOffNothingIsPostedUntilTheWriterAsks) {
  WriteMachine({{UnitField::EnableECourier, "0"}});
  uint32_t askedAt = 0;
  RunConsole([&](HWND) {
    Wait(TickAt(25) + 2000);
    EXPECT_TRUE(Recorded().remoteAt.empty());
    askedAt = waNow();
    Console().sendNow = 1;
    Wait(kTick + 4000);  // past the pass's 5000 ms pump
  });
  ASSERT_EQ(Recorded().remoteAt.size(), 1u);
  EXPECT_EQ(Recorded().remoteAt[0], TickAt(26) + 5000);
  EXPECT_LT(askedAt, TickAt(26));
  EXPECT_EQ(Console().sendNow, 0);
}

TEST_F(TimerTest, ASendDuringALocalDeliveryIsPostedAtTheNextTick) {
  WriteMachine({{UnitField::EnableECourier, "0"}});
  bool sent = false;
  Recorded().duringLocal = [&] {
    if (!sent) Console().sendNow = 1;  // the writer's Send, served inside the delivery's pumps
    sent = true;
  };
  RunConsole([&](HWND) { Wait(TickAt(3) + 6000); });
  ASSERT_EQ(Recorded().localAt.size(), 1u);
  EXPECT_EQ(Recorded().remoteAt, std::vector<uint32_t>{TickAt(3) + 5000});
}

TEST_F(TimerTest, NestedTickDuringPostingPumpsOnlyCounts) {
  WriteMachine({{UnitField::ECourierInterval, "5"}});
  uint32_t courierSeen = 0, localSeen = 0, clockSeen = 1;
  Recorded().duringRemote = [&] {
    if (Recorded().remoteAt.size() < 5) {
      Console().repeatRequest = 1;  // another pass: the pumps now span a tick
    } else {
      courierSeen = Console().courierCounter;
      localSeen = Console().localCounter;
      clockSeen = Console().clockCounter;
      EXPECT_EQ(Console().tickBusy, 1);
    }
  };
  RunConsole([&](HWND) { Wait(TickAt(22) + 2000); });
  EXPECT_EQ(Recorded().remoteAt, (std::vector<uint32_t>{TickAt(20) + 5000, TickAt(20) + 10000, TickAt(20) + 15000,
                                                        TickAt(20) + 20000, TickAt(20) + 25000}));
  EXPECT_EQ(courierSeen, kTick);      // reset by the pass, then one nested tick
  EXPECT_EQ(localSeen, 3 * kTick);    // ticks 19, 20 and the nested 21
  EXPECT_EQ(clockSeen, 0u);           // refreshed by the nested tick
  ASSERT_FALSE(Recorded().localAt.empty());
  EXPECT_EQ(Recorded().localAt.back(), TickAt(22) + 1500);
  EXPECT_EQ(Recorded().localAt[Recorded().localAt.size() - 2], TickAt(18) + 1500);
}

// A call during a pass that repeats filed mail: it is delivered after that
// pass, before the next one, not after the last.
TEST_F(TimerTest, MailFiledDuringRepeatingPassesIsDeliveredBetweenThem) {
  WriteMachine({{UnitField::ECourierInterval, "5"}});
  Recorded().duringRemote = [&] {
    if (Recorded().remoteAt.size() < 3) Console().repeatRequest = 1;
    if (Recorded().remoteAt.size() == 1) Link().mailsToDeliver = 1;
  };
  RunConsole([&](HWND) { Wait(TickAt(20) + 20000); });
  EXPECT_EQ(Recorded().remoteAt,
            (std::vector<uint32_t>{TickAt(20) + 5000, TickAt(20) + 11500, TickAt(20) + 16500}));
  ASSERT_FALSE(Recorded().localAt.empty());
  EXPECT_EQ(Recorded().localAt.back(), TickAt(20) + 6500);
}

// A call ends while no tick's work runs: the work it left starts at once,
// not at the next tick: the mail it filed goes into its mailbox (after the
// delivery pump), a try it made due (the caller is there again) is made
// (after the posting pump, local delivery first).
struct AfterCall {
  const char* what;
  bool filed, tryDue;
  int32_t localAfterEnd;   // the last local delivery, after the call's end (-1: the tick's before it)
  int32_t remoteAfterEnd;  // the first posting pass after the call's end (-1: none)
};

TEST_F(TimerTest, WorkACallLeftStartsRightAfterIt) {
  for (const AfterCall& c : {AfterCall{"mail filed", true, false, kAfterCallMs + 1500, -1},
                             AfterCall{"nothing left", false, false, -1, -1},
                             AfterCall{"a try due", false, true, -1, kAfterCallMs + 5000},
                             AfterCall{"both", true, true, kAfterCallMs + 1500, kAfterCallMs + 1500 + 5000}}) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    WriteMachine({{UnitField::EnableECourier, "0"}}, {{SettingsField::Signal, "1"}});
    uint32_t endedAt = 0;
    RunConsole([&](HWND) {
      Link().online = 1;
      Wait(TickAt(4) + 2000);
      ASSERT_NE(Recorded().handler, nullptr);
      Recorded().handler(4, 1, nullptr, 0);  // carrier on: a call comes in
      Wait(3000);
      Link().mailsToDeliver = c.filed ? 1 : 0;
      if (c.tryDue) {
        RetryEntry& due = Link().retries.entries[0];
        due.machine[0] = '9';
        due.waiting = 1;
        due.dueAt = waNow();
      }
      Recorded().handler(4, 0, nullptr, 0);  // carrier off: it ended
      endedAt = waNow();
      Wait(8000);
    });
    const std::vector<uint32_t>& local = Recorded().localAt;
    ASSERT_FALSE(local.empty());
    EXPECT_EQ(local.back(), c.localAfterEnd < 0 ? TickAt(4) + 1500 : endedAt + uint32_t(c.localAfterEnd));
    const std::vector<uint32_t>& remote = Recorded().remoteAt;
    if (c.remoteAfterEnd < 0) {
      EXPECT_TRUE(remote.empty());
    } else {
      ASSERT_FALSE(remote.empty());
      EXPECT_EQ(remote.front(), endedAt + uint32_t(c.remoteAfterEnd));
    }
  }
}

TEST_F(TimerTest, ConnectedCallHoldsEveryPassBackAndBothFollowAfterIt) {
  WriteMachine({{UnitField::ECourierInterval, "5"}});
  RunConsole([&](HWND) {
    Link().lineBusy = 1;
    Wait(TickAt(25) + 1000);
    EXPECT_TRUE(Recorded().remoteAt.empty());
    EXPECT_TRUE(Recorded().localAt.empty());
    Link().lineBusy = 0;
    Wait(2 * kTick);
  });
  EXPECT_EQ(Recorded().remoteAt, std::vector<uint32_t>{TickAt(26) + 5000});
  EXPECT_EQ(Recorded().localAt, std::vector<uint32_t>{TickAt(27) + 1500});
}

// The tick gives the status line back as it found it, unless its pass kept
// mails and said so: that stays in sight.
TEST_F(TimerTest, TickGivesTheStatusLineBackAsItFoundIt) {
  for (const bool kept : {false, true}) {
    SCOPED_TRACE(kept);
    TearDown();
    SetUp();
    WriteMachine();
    std::string during;
    Recorded().duringLocal = [&] {
      pWriteWndTxt(Console().statusLine, 0, "Delivering 3 mails", 1, 0);
      during = headless::text(Console().record.handle, kStatusLineId);
      Console().keepStatus = kept ? 1 : 0;
    };
    RunConsole([&](HWND console) {
      pWriteWndTxt(Console().statusLine, 0, "DCE 1 ONLINE", 1, 0);
      Wait(TickAt(2) + 2000);
      EXPECT_EQ(headless::text(console, kStatusLineId), kept ? "Delivering 3 mails" : "DCE 1 ONLINE");
      EXPECT_EQ(Console().keepStatus, 0);
    });
    EXPECT_EQ(during, "Delivering 3 mails");
  }
}

TEST_F(TimerTest, ClosingTheConsoleInsideAPassEndsTheTickThere) {
  WriteMachine({{UnitField::ECourierInterval, ""}});
  HWND consoleWindow = 0;
  Recorded().duringRemote = [&] {
    Console().repeatRequest = 1;
    headless::answerBox(IDYES);
    headless::click(consoleWindow, kCloseButtonId);
    headless::settle();
  };
  const int32_t result = RunConsole([&](HWND console) {
    consoleWindow = console;
    Wait(2 * kTick);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Recorded().remoteAt.size(), 1u);
  EXPECT_EQ(Console().tickBusy, 0);
  EXPECT_EQ(Console().record.handle, 0u);
}

// Close while a pass waits (here as for a carrier): the pass ends at its
// pause and the console at once, not when the wait is over.
TEST_F(TimerTest, CloseDuringALongPassAnswersAtOnce) {
  WriteMachine({{UnitField::ECourierInterval, ""}});
  bool waitEnded = false;
  Recorded().duringRemote = [&] {
    pDoEvent(70000);
    waitEnded = true;
  };
  uint32_t closedAt = 0;
  const int32_t result = RunConsole([&](HWND console) {
    Wait(TickAt(1) + 6000);
    ASSERT_EQ(Recorded().remoteAt.size(), 1u);
    EXPECT_EQ(tkWorkRunning(), 1);
    headless::answerBox(IDYES);
    closedAt = waNow();
    headless::click(console, kCloseButtonId);
    headless::settle();
  });
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(waitEnded);
  EXPECT_LT(waNow() - closedAt, 1000u);
  EXPECT_EQ(tkWorkRunning(), 0);
}

TEST_F(TimerTest, ControlModeStopsTheTimerAndLogoutStartsItAgain) {
  WriteMachine();
  RunConsole([&](HWND console) {
    ControlLogin(console, "admin", "secret", "secret");
    ASSERT_EQ(Console().controlMode, 1);
    Wait(10 * kTick);
    EXPECT_TRUE(Recorded().localAt.empty());
    headless::click(console, kControlButtonId);
    headless::settle();
    const uint32_t back = waNow();
    Wait(2 * kTick + 2000);
    ASSERT_EQ(Recorded().localAt.size(), 1u);
    EXPECT_EQ(Recorded().localAt[0], back + 2 * kTick + 1500);
  });
}

// Work that waits is done at the next working tick, not at its interval: a
// mail a call filed is delivered locally (right after the pass when the
// courier takes that tick), and a destination's next try is made whatever
// the courier setting.
struct WaitingWork {
  const char* what;
  const char* courierOn;
  bool received;         // else: a destination's next try comes due
  uint32_t at;           // when it happens
  uint32_t dueAt;        // when the try falls due (0: at once)
  uint32_t firstLocal;   // the first local delivery after it (0: not looked at)
  uint32_t firstRemote;  // the first posting pass after it
};

TEST_F(TimerTest, WorkThatWaitsIsDoneAtTheNextWorkingTick) {
  for (const WaitingWork& c :
       {WaitingWork{"received between two deliveries", "1", true, TickAt(4) + 2000, 0, TickAt(5) + 1500,
                    TickAt(20) + 5000},
        WaitingWork{"received before the courier's tick", "1", true, TickAt(19) + 2000, 0, TickAt(20) + 6500,
                    TickAt(20) + 5000},
        WaitingWork{"a next try with the courier off", "0", false, TickAt(4) + 2000, 0, 0, TickAt(5) + 5000},
        // A try that falls due between two ticks: the tick before it waits
        // for it, and the pass dials at its time, not at a tick.
        WaitingWork{"a next try due between two ticks", "0", false, TickAt(4) + 2000, TickAt(5) + 12000, 0,
                    TickAt(5) + 12000},
        WaitingWork{"a next try due after the next tick", "0", false, TickAt(4) + 2000, TickAt(6) + 12000, 0,
                    TickAt(6) + 12000}}) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    WriteMachine({{UnitField::ECourierInterval, "5"}, {UnitField::EnableECourier, c.courierOn}});
    RunConsole([&](HWND) {
      Wait(c.at);
      if (c.received) {
        Link().mailsToDeliver = 1;
      } else {
        RetryEntry& due = Link().retries.entries[0];
        due.machine[0] = '9';
        due.waiting = 1;
        due.dueAt = c.dueAt != 0 ? c.dueAt : waNow();
      }
      Wait(TickAt(21) - c.at);
    });
    const auto firstAfter = [&](const std::vector<uint32_t>& times) {
      for (uint32_t t : times)
        if (t > c.at) return t;
      return 0u;
    };
    if (c.firstLocal != 0) {
      EXPECT_EQ(firstAfter(Recorded().localAt), c.firstLocal);
    }
    EXPECT_EQ(firstAfter(Recorded().remoteAt), c.firstRemote);
  }
}

}  // namespace
}  // namespace consoletest
