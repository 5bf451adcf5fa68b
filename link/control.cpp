// Link control: port open/close, modem initialisation, dialling, hang-up,
// the wait for "[OK]", and the line events that drive the flags.
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

int32_t BringLinkUp() {
  const int32_t port = Config().settings.Number(SettingsField::Port);
  const int32_t baud = Config().settings.Number(SettingsField::Baud);
  if (SignalIsOne()) link.portHandle = ruk_pbx_Open(port, baud, 8, kCommandBufferSize, kCommandBufferSize);
  if (link.portHandle == 0) {
    char text[16];
    PortText(text, sizeof text);
    pAlert("DCE not found on this com port", text, Console().record.handle, kSettingButtonId, 64);
    return 1;
  }
  link.online = 1;
  link.callState = 0;
  ShowLineIndicators(1, 0, 0, 0, 0);
  ClearCommandBuffers();
  pWndEnable(Console().record.handle, kSettingButtonId, 0);
  pDoEvent(kLinkSettleMs);
  if (link.cts == 1 && link.modemReady != 1) {
    const FieldSlot init[] = {SettingsField::SetCmd, SettingsField::InitCmd};
    BuildCommand(init, 2, nullptr);
    if (SignalIsOne() && ruk_pbx_Cmd(link.command) == 1) {
      link.modemReady = 1;
      ShowDceMessage(" ONLINE");
      pDoEvent(kLinkSettleMs);
    }
    ClearCommandBuffers();
  }
  return 1;
}

int32_t TakeLinkDown() {
  ClearCommandBuffers();
  if (SignalIsOne()) link.portHandle = ruk_pbx_Close();
  if (link.portHandle != 0) return 1;
  link.online = 0;
  link.callState = 0;
  link.modemReady = 0;
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
      ShowLineIndicators(0, 0, 0, show, 0);
      break;
    case 4:
      if (on) {
        link.callState = -1;
        link.cd = 1;
        link.lineBusy = 1;
      } else {
        link.cd = 0;
        link.callState = 0;
        EndCallForBothRoles();
        link.lineBusy = 0;
      }
      ShowLineIndicators(0, 0, 0, 0, show);
      break;
    default:
      break;
  }
}

}  // namespace

LinkState& Link() { return link; }

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
  if (!SignalIsOne() || ruk_pbx_Cmd("ATS0=0") != 1) return 0;
  const FieldSlot dial[] = {SettingsField::Dial};
  BuildCommand(dial, 1, machineId);
  ruk_pbx_Cmd(link.command);
  const uint32_t start = uint32_t(pTiming());
  for (;;) {
    const uint32_t now = uint32_t(pTiming());
    if (link.cd == 1) {
      link.callState = 1;
      return 1;
    }
    if (now - start >= kCarrierLimitMs) {
      link.callState = 0;
      return 0;
    }
    pDoEvent(kCarrierLookMs);
  }
}

int32_t HangUp() {
  if (link.callState != 1) return 0;
  ToggleLink();
  ToggleLink();
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
  const uint32_t start = uint32_t(pTiming());
  for (;;) {
    const uint32_t now = uint32_t(pTiming());
    if (limitMs == 0 || now - start >= limitMs) break;
    if (link.okFlag == 1) {
      link.okFlag = 0;
      result = 1;
      break;
    }
    pDoEvent(kOkSliceMs);
  }
  ClearCommandBuffers();
  return result;
}

int32_t OnLinkEvent(int32_t type, int32_t state, const char* data, int32_t length) {
  if (type >= 1 && type <= 4) {
    if (state == 0 || state == 1) OnLineChange(type, state);
  } else if (type == 5) {
    OnLineData(data, length);
  }
  return 1;
}
