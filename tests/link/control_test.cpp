// Link control: bringing the link up and down, dialling, hanging up, the wait
// for "[OK]", and the line events.
#include "commlib/instance.h"
#include "config/config.h"
#include "console/console.h"
#include "link/link.h"
#include "link_fixture.h"
#include "winapi/headless/driver.h"
#include "winapi/loop.h"

namespace linktest {
namespace {

class LinkControl : public LinkFixture {};

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

TEST_F(LinkControl, DialWithoutAnswerGivesUpAfter70Seconds) {
  Peer& a = AddPeer("401");
  a.Close();
  a.autoAnswer = false;
  a.Open();
  BringLinkUp();
  const uint32_t start = waNow();
  EXPECT_EQ(DialMachine("401"), 0);
  const uint32_t spent = waNow() - start;
  EXPECT_GE(spent, 70000u);
  EXPECT_LT(spent, 72100u);
  EXPECT_EQ(Link().callState, 0);
}

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

}  // namespace
}  // namespace linktest
