// Link control: bringing the link up and down, dialling, hanging up, the wait
// for "[OK]", and the line events.
#include "commlib/instance.h"
#include "config/config.h"
#include "console/console.h"
#include "link/link.h"
#include "link_fixture.h"
#include "toolkit/files.h"
#include "winapi/headless/driver.h"
#include "winapi/loop.h"

namespace linktest {
namespace {

class LinkControl : public LinkFixture {
 protected:
  void TearDown() override {
    if (ticking_) pTimer(Console().record.handle, kConsoleTimerId, 0, nullptr);
    LinkFixture::TearDown();
  }

  // The console's 15-second tick runs as in the program, so the line watch
  // and the posting passes come when they would.
  void StartTicks() {
    pTimer(Console().record.handle, kConsoleTimerId, kConsoleTickMs,
           [](HWND, UINT, uintptr_t, uint32_t) { ConsoleTick(); });
    ticking_ = true;
  }

  bool ticking_ = false;
};

TEST_F(LinkControl, LinkUpInitialisesTheModemAndLinkDownUndoesIt) {
  BringLinkUp();
  EXPECT_EQ(Link().cts, 1);
  EXPECT_EQ(Indicator(kIndicatorOnId), "ON");
  EXPECT_EQ(Indicator(kIndicatorCtsId), "CTS");
  EXPECT_TRUE(StatusShowed("DCE 1 ONLINE"));
  EXPECT_NE(commListenPort(commDefault()), 0);
  ToggleLink();
  EXPECT_EQ(Link().online, 0);
  EXPECT_EQ(Link().modemReady, 0);
  EXPECT_EQ(Link().portHandle, 0);
  EXPECT_EQ(commListenPort(commDefault()), 0);
  EXPECT_EQ(Indicator(kIndicatorOnId), "   ");
  EXPECT_EQ(Indicator(kIndicatorCtsId), "   ");
  EXPECT_TRUE(StatusShowed("DCE 1 OFFLINE"));
  // The line flags keep their last reported values.
  EXPECT_EQ(Link().cts, 1);
}

TEST_F(LinkControl, RefusedInitialisationLeavesTheModemUnready) {
  Peer& a = AddPeer("401");
  Config().settings.SetText(SettingsField::InitCmd, "S0=999");
  WriteProgramSettings({{"401", a.ListenPort()}});
  ToggleLink();
  EXPECT_EQ(Link().online, 1);
  EXPECT_EQ(Link().modemReady, 0);
  EXPECT_FALSE(StatusShowed("DCE 1 ONLINE"));
  EXPECT_EQ(DialMachine("401"), 0);
  Pump(5000);
  EXPECT_EQ(a.log.carrierOn, 0);
}

TEST_F(LinkControl, SignalOtherThanOneNeverOpensThePort) {
  for (const char* signal : {"0", "2", "3", ""}) {
    Config().settings.SetText(SettingsField::Signal, signal);
    headless::answerBox(1);
    ToggleLink();
    EXPECT_EQ(Link().online, 0) << signal;
    EXPECT_EQ(commListenPort(commDefault()), 0) << signal;
    EXPECT_EQ(LastAlertCaption(), "DCE not found on this com port") << signal;
    EXPECT_EQ(LastAlertText(), "1") << signal;
  }
}

TEST_F(LinkControl, DialReachesThePeerAndHangUpReadiesTheModem) {
  Peer& a = AddPeer("401");
  BringLinkUp();
  // 0401 reaches the machine listed as 401.
  ASSERT_EQ(DialMachine("0401"), 1);
  EXPECT_EQ(Link().callState, 1);
  EXPECT_EQ(Link().lineBusy, 1);
  EXPECT_TRUE(a.carrier);
  EXPECT_EQ(Indicator(kIndicatorCdId), "CD");
  EXPECT_TRUE(StatusShowed("Connecting to Velloran@0401..."));
  SetConnected("0401");
  EXPECT_EQ(HangUp(), 1);
  EXPECT_EQ(Link().callState, 0);
  EXPECT_EQ(Link().lineBusy, 0);
  EXPECT_EQ(Link().modemReady, 1);
  EXPECT_EQ(Link().connectedMachine[0], 0);
  EXPECT_TRUE(StatusShowed("Disconnecting from Velloran@0401..."));
  EXPECT_TRUE(RunUntil([&] { return !a.carrier; }, 5000));
}

// A dial nobody answers: the wait ends when the modem reports that its own
// wait for the answer is over (S7, reported as the carrier off), and at
// 70 s at the latest when the modem would wait longer.
struct UnansweredDial {
  const char* what;
  const char* initCmd;
  uint32_t least, most;
};

class UnansweredDials : public LinkControl, public ::testing::WithParamInterface<UnansweredDial> {};

TEST_P(UnansweredDials, GiveUpWhenTheModemDoesOrAfter70Seconds) {
  const UnansweredDial& c = GetParam();
  Peer& a = AddPeer("401");
  a.Close();
  a.autoAnswer = false;
  a.Open();
  Config().settings.SetText(SettingsField::InitCmd, c.initCmd);
  BringLinkUp();
  const uint32_t start = waNow();
  EXPECT_EQ(DialMachine("401"), 0);
  const uint32_t spent = waNow() - start;
  EXPECT_GE(spent, c.least);
  EXPECT_LT(spent, c.most);
  EXPECT_EQ(Link().callState, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnansweredDials,
                         ::testing::Values(UnansweredDial{"modem gives up after 60 s", "S0=1S7=60", 60000, 62100},
                                           UnansweredDial{"modem would wait 90 s", "S0=1S7=90", 70000, 72100}),
                         CaseName<UnansweredDial>);

// Dials refused before anything is sent to the modem.
struct RefusedDial {
  const char* what;
  const char* machine;
  bool linkUp;
  int32_t cts;
};

class RefusedDials : public LinkFixture, public ::testing::WithParamInterface<RefusedDial> {};

TEST_P(RefusedDials, FailAtOnce) {
  const RefusedDial& c = GetParam();
  Peer& a = AddPeer("401");
  if (c.linkUp) BringLinkUp();
  Link().cts = c.cts;
  const uint32_t start = waNow();
  EXPECT_EQ(DialMachine(c.machine), 0) << c.what;
  EXPECT_EQ(waNow(), start) << c.what;
  EXPECT_EQ(Link().callState, 0) << c.what;
  Pump(5000);
  EXPECT_EQ(a.log.carrierOn, 0) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedDials,
                         ::testing::Values(RefusedDial{"empty number", "", true, 1},
                                           RefusedDial{"no CTS", "401", true, 0},
                                           RefusedDial{"modem not ready", "401", false, 1},
                                           RefusedDial{"number of 24 characters", "401401401401401401401401", true, 1}), CaseName<RefusedDial>);

TEST_F(LinkControl, HangUpActsOnlyOnACallThisMachineDialled) {
  BringLinkUp();
  for (int32_t call : {0, -1}) {
    Link().callState = call;
    const intptr_t handle = Link().portHandle;
    EXPECT_EQ(HangUp(), 0) << call;
    EXPECT_EQ(Link().portHandle, handle) << call;
    EXPECT_EQ(Link().callState, call) << call;
  }
}

TEST_F(LinkControl, WaitForOkTakesOnlyAnOkInTime) {
  EXPECT_EQ(WaitForOk(0), 0);
  const uint32_t start = waNow();
  EXPECT_EQ(WaitForOk(1000), 0);
  EXPECT_GE(waNow() - start, 1000u);
  EXPECT_EQ(Link().okFlag, -1);
  // An "[OK]" that arrives while the wait runs ends it.
  Link().callState = 1;
  waAddDeadline(
      300, [](void*) { OnLinkEvent(5, 0, "[OK]", 4); }, nullptr);
  EXPECT_EQ(WaitForOk(75000), 1);
  EXPECT_LT(waNow() - start, 2000u);
  EXPECT_EQ(Link().okFlag, 0);
  // Only the exact four characters count.
  waAddDeadline(
      300, [](void*) { OnLinkEvent(5, 0, "[OK]x", 5); }, nullptr);
  EXPECT_EQ(WaitForOk(1000), 0);
}

// The line events: one flag and one indicator each.
struct LineEvent {
  int32_t type, state;
  int32_t LinkState::*flag;
  int32_t indicator;
  const char* shown;
};

class LineEvents : public LinkFixture, public ::testing::WithParamInterface<LineEvent> {};

TEST_P(LineEvents, SetTheirFlagAndIndicator) {
  const LineEvent& c = GetParam();
  Link().*c.flag = 1 - c.state;
  EXPECT_EQ(OnLinkEvent(c.type, c.state, "", 0), 1);
  EXPECT_EQ(Link().*c.flag, c.state);
  EXPECT_EQ(Indicator(c.indicator), c.shown);
  // States other than 0 and 1 are ignored.
  EXPECT_EQ(OnLinkEvent(c.type, 7, "", 0), 1);
  EXPECT_EQ(Link().*c.flag, c.state);
}

INSTANTIATE_TEST_SUITE_P(Cases, LineEvents,
                         ::testing::Values(LineEvent{1, 1, &LinkState::cts, kIndicatorCtsId, "CTS"},
                                           LineEvent{1, 0, &LinkState::cts, kIndicatorCtsId, "   "},
                                           LineEvent{2, 1, &LinkState::dsr, kIndicatorDsrId, "DSR"},
                                           LineEvent{2, 0, &LinkState::dsr, kIndicatorDsrId, "   "},
                                           LineEvent{3, 1, &LinkState::rng, kIndicatorRngId, "RNG"},
                                           LineEvent{3, 0, &LinkState::rng, kIndicatorRngId, "   "},
                                           LineEvent{4, 1, &LinkState::cd, kIndicatorCdId, "CD"},
                                           LineEvent{4, 0, &LinkState::cd, kIndicatorCdId, "   "}),
                         [](const ::testing::TestParamInfo<LineEvent>& info) {
                           return "Type" + std::to_string(info.param.type) + (info.param.state ? "On" : "Off");
                         });

TEST_F(LinkControl, CarrierDecidesCallAndLineBusy) {
  OnLinkEvent(4, 1, "", 0);
  EXPECT_EQ(Link().callState, -1);
  EXPECT_EQ(Link().lineBusy, 1);
  Link().callState = 1;
  Link().send.state = 1;
  Link().receive.state = kReceiveMail;
  OnLinkEvent(4, 0, "", 0);
  EXPECT_EQ(Link().callState, 0);
  EXPECT_EQ(Link().lineBusy, 0);
  EXPECT_EQ(Link().send.state, 0);
  EXPECT_EQ(Link().receive.state, kReceiveIdle);
  // Data outside a call, and events of unknown types, change nothing.
  EXPECT_EQ(OnLinkEvent(5, 0, "[OK]", 4), 1);
  EXPECT_EQ(OnLinkEvent(9, 1, "", 0), 1);
  EXPECT_EQ(Link().okFlag, 0);
}

TEST_F(LinkControl, TakingTheLinkDownEndsAnIncomingCall) {
  Peer caller(Root(), "caller");
  caller.Open();
  BringLinkUp();
  CallFrom(caller);
  ToggleLink();
  EXPECT_EQ(Link().online, 0);
  EXPECT_EQ(Link().lineBusy, 0);
  EXPECT_EQ(Link().callState, 0);
  Pump(1000);
  EXPECT_EQ(Link().lineBusy, 0);
}

// Outgoing attempts that end badly must still leave the modem answering.
struct FailedAttempt {
  const char* what;
  bool dialUnreachable;  // else: a posting pass whose carrier drops mid-mail
};

class AfterAnOutgoingAttempt : public LinkControl, public ::testing::WithParamInterface<FailedAttempt> {};

TEST_P(AfterAnOutgoingAttempt, TheMachineStillAnswersCalls) {
  const FailedAttempt& c = GetParam();
  Peer& a = AddPeer("401");
  a.script.blocksToAnswer = 0;
  a.script.hangUpAfterBlocks = 1;
  Peer caller(Root(), "caller");
  caller.Open();
  BringLinkUp();
  if (c.dialUnreachable) {
    // 402 is in no phone book: the modem finds no carrier.
    EXPECT_EQ(DialMachine("402"), 0);
  } else {
    MailShape mail;
    mail.blocks = 3;
    PutRemote(mail);
    ASSERT_EQ(DeliverRemoteMails(), 1);
    ASSERT_EQ(a.log.blocks.size(), 1u);
    ASSERT_EQ(Link().callState, 0);
  }
  EXPECT_EQ(Link().watch.answeringOff, 0);
  CallFrom(caller);
  EXPECT_EQ(Link().callState, -1);
}

INSTANTIATE_TEST_SUITE_P(Cases, AfterAnOutgoingAttempt,
                         ::testing::Values(FailedAttempt{"dial to an unreachable number", true},
                                           FailedAttempt{"carrier lost mid mail", false}),
                         CaseName<FailedAttempt>);

// The wait for "[OK]" belongs to the call it was begun in.
struct OkWait {
  const char* what;
  bool carrierDrops;  // one second into the wait
  uint32_t least, most;
};

class WaitForOkOnALine : public LinkControl, public ::testing::WithParamInterface<OkWait> {};

TEST_P(WaitForOkOnALine, EndsWhenTheCarrierGoesAndNotBefore) {
  const OkWait& c = GetParam();
  OnLinkEvent(4, 1, "", 0);
  Link().callState = 1;
  if (c.carrierDrops) waAddDeadline(1000, [](void*) { OnLinkEvent(4, 0, "", 0); }, nullptr);
  const uint32_t start = waNow();
  EXPECT_EQ(WaitForOk(kOkLimitMs), 0);
  EXPECT_GE(waNow() - start, c.least);
  EXPECT_LE(waNow() - start, c.most);
}

INSTANTIATE_TEST_SUITE_P(Cases, WaitForOkOnALine,
                         ::testing::Values(OkWait{"dead line", true, 1000, 1100},
                                           OkWait{"live silent line", false, kOkLimitMs, kOkLimitMs + 100}),
                         CaseName<OkWait>);

// The other machine has mail for this one and ticks in step with this one:
// its ticks come at the same instants, a tick that finds its pass still
// running does nothing, and its pass dials at the very instant this
// machine's would. Like this machine it waits for a carrier with its
// answering off until its modem reports the dial over (or 70 s), and answers
// again after a failed dial, but it never steps out of the common rhythm by
// itself.
class InStepMachine {
 public:
  InStepMachine(Peer& peer, const MailShape& mail, uint32_t firstTick)
      : peer_(peer), mail_(MakeMail(mail)), nextTick_(firstTick) {
    announce_ = MakeAnnounce(Encoded(mail.sender + mail.postedAt) + "[=]", "400", "[ML]", "401");
    look_ = waAddDeadline(0, Look, this);
  }
  ~InStepMachine() { waCancelDeadline(look_); }

  bool delivered() const { return step_ == Step::Done; }
  int failedDials = 0;

  // A pass dials after its pump and the pauses before the scan, the file
  // and the block.
  static constexpr uint32_t kDialDelayMs = kPostingPumpMs + 3 * kBlockPauseMs;

 private:
  enum class Step { Idle, Calling, Announced, Sent, Done };
  static constexpr uint32_t kLookMs = 10;

  static void Look(void* self) { static_cast<InStepMachine*>(self)->Next(); }

  void Next() {
    const uint32_t now = waNow();
    if (now >= nextTick_) {
      if (step_ == Step::Idle && dialAt_ == 0) dialAt_ = nextTick_ + kDialDelayMs;
      nextTick_ += kConsoleTickMs;
    }
    Act(now);
    uint32_t wait = kLookMs;
    if (dialAt_ > now && dialAt_ - now < wait) wait = dialAt_ - now;
    if (nextTick_ > now && nextTick_ - now < wait) wait = nextTick_ - now;
    look_ = waAddDeadline(wait, Look, this);
  }

  void Act(uint32_t now) {
    switch (step_) {
      case Step::Idle:
        if (dialAt_ != 0 && now >= dialAt_) {
          dialAt_ = 0;
          if (peer_.carrier) break;
          peer_.Dial("400");
          since_ = now;
          dropsBefore_ = peer_.log.carrierOff;
          step_ = Step::Calling;
        }
        break;
      case Step::Calling:
        if (peer_.carrier) {
          oks_ = peer_.log.oks;
          peer_.Send(announce_);
          step_ = Step::Announced;
        } else if (peer_.log.carrierOff > dropsBefore_ || now - since_ >= kCarrierLimitMs) {
          ++failedDials;
          peer_.HangUp();  // reopened: answering by itself again
          step_ = Step::Idle;
        }
        break;
      case Step::Announced:
      case Step::Sent:
        if (!peer_.carrier) {
          peer_.HangUp();
          step_ = Step::Idle;
        } else if (peer_.log.oks > oks_) {
          oks_ = peer_.log.oks;
          if (step_ == Step::Announced) {
            peer_.Send(mail_);
            step_ = Step::Sent;
          } else {
            peer_.Send(std::string("[END]"));
            peer_.HangUp();
            step_ = Step::Done;
          }
        }
        break;
      case Step::Done:
        break;
    }
  }

  Peer& peer_;
  Bytes mail_, announce_;
  Step step_ = Step::Idle;
  uint32_t nextTick_, look_ = 0, dialAt_ = 0, since_ = 0;
  int oks_ = 0, dropsBefore_ = 0;
};

TEST_F(LinkControl, TwoMachinesThatDialEachOtherInTheSameInstantBothDeliver) {
  tkSeedRandom(7);
  Config().unit.SetText(UnitField::ECourierInterval, "0");  // a posting pass at every tick
  Config().unit.SetText(UnitField::EnableECourier, "1");
  // The mail that arrives stays in POST: local delivery is not watched here.
  Console().services.deliverLocalMails = [] { return int32_t(1); };
  Peer& other = AddPeer("401");
  BringLinkUp();
  other.Close();
  other.Open({{"400", commListenPort(commDefault())}});
  PutRemote(MailShape{});
  MailShape theirs;
  theirs.sender = "bob@401";
  theirs.destination = "ann@400";
  const fs::path arrived = Post() / SpoolNameOf(theirs, "[=]");

  const uint32_t start = waNow();
  StartTicks();
  InStepMachine them(other, theirs, start + kConsoleTickMs);
  const auto bothDelivered = [&] {
    return them.delivered() && fs::exists(arrived) && other.log.blocks.size() == 1 && SpoolNames().size() == 1;
  };
  RunUntil(bothDelivered, 200000);
  // Their first dial met this machine's in the same instant: both were busy.
  EXPECT_GE(them.failedDials, 1);
  EXPECT_TRUE(them.delivered());
  EXPECT_TRUE(fs::exists(arrived));
  EXPECT_EQ(other.log.blocks.size(), 1u);
  EXPECT_EQ(SpoolNames(), std::vector<std::string>{arrived.filename().string()});
  EXPECT_LE(waNow() - start, 180000u);
}

TEST_F(LinkControl, SilentCallerIsHungUpAfterTheOkLimit) {
  Peer caller(Root(), "caller");
  caller.Open();
  BringLinkUp();
  StartTicks();
  CallFrom(caller);
  const uint32_t since = waNow();
  ASSERT_TRUE(RunUntil([&] { return !caller.carrier; }, kOkLimitMs + kConsoleTickMs + 1000));
  EXPECT_GE(waNow() - since, kOkLimitMs);
  EXPECT_EQ(Link().lineBusy, 0);
  EXPECT_EQ(Link().callState, 0);
  EXPECT_EQ(Link().modemReady, 1);
  EXPECT_TRUE(StatusShowed("Silent caller disconnected"));

  // A caller that is answered is not silent: its announce restarts the limit.
  CallFrom(caller);
  Pump(60000);
  MailShape mail;
  mail.destination = "bob@400";
  caller.Send(MakeAnnounce(SpoolNameOf(mail, "[=]"), "400"));
  ASSERT_TRUE(RunUntil([&] { return caller.log.oks == 1; }, 2000));
  Pump(60000);
  EXPECT_TRUE(caller.carrier);
  EXPECT_EQ(Link().callState, -1);
}

TEST_F(LinkControl, CarrierOnWhenThePortOpensHoldsNoTickBack) {
  // The modem reports its carrier line on as soon as the port is open.
  waAddDeadline(1, [](void*) { OnLinkEvent(4, 1, "", 0); }, nullptr);
  BringLinkUp();
  EXPECT_EQ(Link().cd, 1);
  EXPECT_EQ(Link().lineBusy, 0);
  EXPECT_EQ(StatusText(), "DCE 1 CARRIER WITHOUT CALL");
  const intptr_t handle = Link().portHandle;
  StartTicks();
  Pump(10 * kConsoleTickMs);
  // The ticks did their work (a courier pass is due at every tick here) and
  // the status line still says what is wrong; the port was left alone.
  EXPECT_EQ(Console().courierCounter, 0u);
  EXPECT_EQ(StatusText(), "DCE 1 CARRIER WITHOUT CALL");
  EXPECT_EQ(Link().portHandle, handle);
  // Once the carrier goes, it is an ordinary line again.
  OnLinkEvent(4, 0, "", 0);
  EXPECT_EQ(Link().watch.strayCarrier, 0);
}

}  // namespace
}  // namespace linktest
