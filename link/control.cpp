// Link control: port open/close, modem initialisation, dialling, hang-up,
// the wait for "[OK]", the line events that drive the flags, and the watch
// that keeps the line from staying blocked.
#include "link/link.h"

#include "config/config.h"
#include "console/console.h"
#include "link/internal.h"
#include "platform/comm.h"
#include "toolkit/files.h"
#include "toolkit/text.h"
#include "toolkit/window.h"

namespace {

LinkState link;

bool SignalIsOne() { return Config().settings.Number(SettingsField::Signal) == 1; }

uint32_t Now() { return uint32_t(pTiming()); }

// The machine's Port setting as text, bounded by its slot.
void PortText(char* out, int32_t size) {
  pClrMem(out, size);
  AppendSlot(Config().settings.Text(SettingsField::Port), SettingsField::Port.width, out, size);
}

void ShowDceMessage(const char* state) {
  char port[16];
  PortText(port, sizeof port);
  StatusNew("DCE ");
  StatusAdd(port);
  StatusAdd(state);
}

// Builds "AT" followed by the given settings into the command buffer.
void BuildCommand(const FieldSlot* slots, int32_t count, const char* tail) {
  ClearCommandBuffers();
  AppendText("AT", link.command, kCommandBufferSize);
  for (int32_t i = 0; i < count; ++i)
    AppendSlot(Config().settings.Text(slots[i]), slots[i].width, link.command, kCommandBufferSize);
  if (tail != nullptr) AppendText(tail, link.command, kCommandBufferSize);
}

// "AT" + Set CMD + Initialization CMD: the modem as the machine wants it,
// answering calls by itself. 1 when the modem took it.
int32_t SendInitialisation() {
  const FieldSlot init[] = {SettingsField::SetCmd, SettingsField::InitCmd};
  BuildCommand(init, 2, nullptr);
  const int32_t taken = SignalIsOne() && ruk_pbx_Cmd(link.command) == 1 ? 1 : 0;
  ClearCommandBuffers();
  return taken;
}

// A carrier that is there the moment the port opens belongs to no call of
// ours (a modem line stuck on, or a call the modem took by itself before):
// it must not hold the timer's work back, and someone should look at it.
void NoteStrayCarrier() {
  link.watch.strayCarrier = 1;
  link.lineBusy = 0;
  ShowDceMessage(" CARRIER WITHOUT CALL");
}

int32_t BringLinkUp() {
  const int32_t port = Config().settings.Number(SettingsField::Port);
  const int32_t baud = Config().settings.Number(SettingsField::Baud);
  if (SignalIsOne()) link.portHandle = ruk_pbx_Open(port, baud, 8, kCommandBufferSize, kCommandBufferSize);
  if (link.portHandle == 0) {
    char text[16];
    PortText(text, sizeof text);
    // Reopened after a hang-up, inside a pass: a box would hold the pass and
    // every tick behind it until someone answers it, so the line says it.
    if (link.watch.reopening == 1) {
      StatusNew("DCE not found on this com port ");
      StatusAdd(text);
    } else {
      pAlert("DCE not found on this com port", text, Console().record.handle, kSettingButtonId, 64);
    }
    return 1;
  }
  link.online = 1;
  link.callState = 0;
  ShowLineIndicators(1, 0, 0, 0, 0);
  ClearCommandBuffers();
  pWndEnable(Console().record.handle, kSettingButtonId, 0);
  pDoEvent(kLinkSettleMs);
  if (link.cts == 1 && link.modemReady != 1 && SendInitialisation() == 1) {
    link.modemReady = 1;
    ShowDceMessage(" ONLINE");
    pDoEvent(kLinkSettleMs);
  }
  if (link.online == 1 && link.cd == 1) NoteStrayCarrier();
  return 1;
}

int32_t TakeLinkDown() {
  ClearCommandBuffers();
  if (SignalIsOne()) link.portHandle = ruk_pbx_Close();
  if (link.portHandle != 0) return 1;
  link.online = 0;
  link.callState = 0;
  link.modemReady = 0;
  // The next link-up initialises the modem afresh.
  link.watch.answeringOff = 0;
  link.watch.strayCarrier = 0;
  // With the port closed no call can be up, whether or not the library
  // reported the carrier's end; a line-busy flag left at 1 would stop the
  // console's timer for good.
  link.lineBusy = 0;
  EndCallForBothRoles();
  ShowLineIndicators(-1, -1, -1, -1, -1);
  pWndEnable(Console().record.handle, kSettingButtonId, 1);
  ShowDceMessage(" OFFLINE");
  pDoEvent(kLinkSettleMs);
  return 1;
}

// Types 1 to 4: one flag and one indicator each.
void OnLineChange(int32_t type, int32_t on) {
  const int32_t show = on ? 1 : -1;
  switch (type) {
    case 1:
      link.cts = on;
      ShowLineIndicators(0, 0, show, 0, 0);
      break;
    case 2:
      link.dsr = on;
      ShowLineIndicators(0, show, 0, 0, 0);
      break;
    case 3:
      link.rng = on;
      if (on) {
        ++link.watch.rings;
        link.watch.ringAt = Now();
      }
      ShowLineIndicators(0, 0, 0, show, 0);
      break;
    case 4:
      if (on) {
        link.callState = -1;
        link.cd = 1;
        link.lineBusy = 1;
        link.watch.rings = 0;  // the ring, if any, has been answered
        link.watch.quietSince = Now();
      } else {
        link.cd = 0;
        link.callState = 0;
        EndCallForBothRoles();
        link.lineBusy = 0;
        ++link.watch.carrierDrops;
        link.watch.strayCarrier = 0;
      }
      ShowLineIndicators(0, 0, 0, 0, show);
      break;
    default:
      break;
  }
}

// The modem's answering comes back with the machine's initialisation
// command. Never while a carrier is up: a modem in a call would pass the
// command down the line as data. (The flag is cleared first: a serial modem's
// command pumps while it waits, and a tick inside must not send it again.)
void RestoreAnswering() {
  if (link.watch.answeringOff != 1 || link.online != 1 || link.cd == 1) return;
  link.watch.answeringOff = 0;
  if (SendInitialisation() == 1) return;
  link.watch.answeringOff = 1;  // the next tick tries again
  ShowDceMessage(" NOT ANSWERING");
}

// A caller rang within the last ring cycle and is still waiting for the
// modem to pick up.
bool RingPending() {
  return link.rng == 1 || (link.watch.rings > 0 && Now() - link.watch.ringAt < kRingPendingMs);
}

// Pumps in short slices for at most limitMs, until a call comes in, or a ring
// when stopOnRing.
void PauseUnlessCalled(uint32_t limitMs, bool stopOnRing) {
  const uint32_t start = Now();
  for (;;) {
    const uint32_t spent = Now() - start;
    if (spent >= limitMs || link.callState != 0 || (stopOnRing && RingPending())) return;
    const uint32_t left = limitMs - spent;
    pDoEvent(int32_t(left < uint32_t(kRingLookMs) ? left : uint32_t(kRingLookMs)));
  }
}

// Before a dial. Two machines whose ticks run in step and that dialled each
// other in the same instant find each other busy, and would again when they
// dial each other once more at once (Redial, or a courier pass after the
// tries by itself have ended): a random part of a tick before dialling again
// the number that just failed breaks the step. (Tries by themselves come at
// random times already, and a different number is dialled at once.) And a
// caller whose ring is pending came first: dialling now would turn its call
// away, so the modem is left to answer it while it keeps ringing.
void GiveWayToCallers(const char* machineId) {
  if (pCmp(link.watch.lastFailedDial, machineId) == 1) PauseUnlessCalled(tkRandom(kRetrySpreadMs), true);
  const uint32_t start = Now();
  while (link.callState == 0 && RingPending() && Now() - start < kCarrierLimitMs) PauseUnlessCalled(kRingLookMs, false);
}

// Looks for the carrier every 2 s for 70 s. A ring or a carrier drop reported
// meanwhile ends the wait: a modem that is dialling is off hook and cannot
// ring, so its dial is over, and a drop ends whatever call there was.
bool AwaitCarrier() {
  const uint32_t rings = link.watch.rings;
  const uint32_t drops = link.watch.carrierDrops;
  const uint32_t start = Now();
  for (;;) {
    const uint32_t now = Now();
    if (link.cd == 1) return true;
    if (now - start >= kCarrierLimitMs) return false;
    if (link.watch.rings != rings || link.watch.carrierDrops != drops) return false;
    pDoEvent(kCarrierLookMs);
  }
}

// One outgoing attempt, from the pause before it to the modem answering again
// after a failure.
int32_t Dial(const char* machineId) {
  GiveWayToCallers(machineId);
  if (link.callState != 0 || link.modemReady != 1 || link.cts != 1) return 0;
  if (!SignalIsOne() || ruk_pbx_Cmd("ATS0=0") != 1) return 0;
  link.watch.answeringOff = 1;
  const FieldSlot dial[] = {SettingsField::Dial};
  BuildCommand(dial, 1, machineId);
  ruk_pbx_Cmd(link.command);
  if (AwaitCarrier()) {
    link.callState = 1;
    pClrMem(link.watch.lastFailedDial, kMachineSlotSize);
    return 1;
  }
  link.callState = 0;
  pClrMem(link.watch.lastFailedDial, kMachineSlotSize);
  AppendText(machineId, link.watch.lastFailedDial, kMachineSlotSize);
  // The wait may have ended on a ring while the modem still waits for the
  // other end to answer: its call is abandoned here, or a late answer would
  // bring a carrier that both ends take for the other's call.
  ruk_pbx_Cmd("ATH");
  RestoreAnswering();
  return 0;
}

// An incoming call that has carried nothing for the "[OK]" limit: no sender
// waits that long between its messages, so the caller is gone or broken.
// Closing the port hangs the modem up; reopening initialises it again.
void EndSilentCall() {
  ToggleLink();
  if (link.online == 1) return;  // the port did not close: the next tick tries again
  link.watch.reopening = 1;
  ToggleLink();
  link.watch.reopening = 0;
  if (link.watch.strayCarrier != 1) StatusNew("Silent caller disconnected");
}

}  // namespace

LinkState& Link() { return link; }

bool CallComingIn() { return link.callState == -1 || (link.callState == 0 && RingPending()); }

void ResetLink() { pClrMem(&link, sizeof link); }

int32_t ClearCommandBuffers() {
  pClrMem(link.command, kCommandBufferSize);
  pClrMem(link.lineText, kCommandBufferSize);
  return 1;
}

int32_t ToggleLink() { return link.online == 0 ? BringLinkUp() : TakeLinkDown(); }

int32_t DialMachine(const char* machineId) {
  link.cd = 0;
  link.callState = 0;
  link.send.state = 0;
  if (machineId == nullptr || machineId[0] == 0 || link.cts != 1 || link.modemReady != 1) return 0;
  if (!FitsMachineSlot(machineId)) return 0;
  StatusNew("Connecting to Velloran@");
  StatusAdd(machineId);
  StatusAdd("...");
  link.watch.dialling = 1;
  const int32_t result = Dial(machineId);
  link.watch.dialling = 0;
  return result;
}

int32_t HangUp() {
  // No call of ours is up any more (the dial failed, the carrier dropped):
  // there is nothing to end, but the modem must answer calls again.
  if (link.callState != 1) {
    RestoreAnswering();
    return 0;
  }
  ToggleLink();
  link.watch.reopening = 1;
  ToggleLink();
  link.watch.reopening = 0;
  link.send.state = 0;
  if (link.modemReady != 1 || link.callState != 0) return 0;
  StatusNew("Disconnecting from Velloran@");
  StatusAdd(link.connectedMachine);
  StatusAdd("...");
  pClrMem(link.connectedMachine, kMachineSlotSize);
  return 1;
}

int32_t WaitForOk(uint32_t limitMs) {
  ClearCommandBuffers();
  int32_t result = 0;
  link.okFlag = -1;
  // A wait begun in a call ends with it: a dead line answers nothing.
  const bool inCall = link.callState == 1;
  const uint32_t start = uint32_t(pTiming());
  for (;;) {
    const uint32_t now = uint32_t(pTiming());
    if (limitMs == 0 || now - start >= limitMs) break;
    if (link.okFlag == 1) {
      link.okFlag = 0;
      result = 1;
      break;
    }
    if (inCall && link.callState != 1) break;
    pDoEvent(kOkSliceMs);
  }
  ClearCommandBuffers();
  return result;
}

int32_t WatchLine() {
  if (link.online != 1) return 1;
  if (link.watch.strayCarrier == 1)
    ShowDceMessage(" CARRIER WITHOUT CALL");
  else if (link.callState == -1 && link.watch.dialling == 0 && Now() - link.watch.quietSince >= kOkLimitMs)
    EndSilentCall();
  else if (link.callState == 0 && link.watch.dialling == 0)
    RestoreAnswering();
  return 1;
}

int32_t OnLinkEvent(int32_t type, int32_t state, const char* data, int32_t length) {
  if (type >= 1 && type <= 4) {
    if (state == 0 || state == 1) OnLineChange(type, state);
  } else if (type == 5) {
    OnLineData(data, length);
  }
  return 1;
}
