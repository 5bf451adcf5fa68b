// The Setting dialog: filling, reading back, validation, Save and Exit.
#include "console/setting.h"

#include "config/config.h"
#include "console/console.h"
#include "console/helpers.h"
#include "console/prompt.h"
#include "toolkit/dialog.h"
#include "toolkit/text.h"

#include <initializer_list>

namespace {

SettingState state;

enum class Which { kUnit, kSettings };

ConfigRecord& RecordOf(Which which) { return which == Which::kUnit ? Config().unit : Config().settings; }

// An edit and its slot; limit is the read limit (at most limit - 1 characters).
struct EditField {
  int32_t controlId;
  Which record;
  FieldSlot slot;
  int32_t limit;
};

constexpr EditField kEdits[] = {
    {kSetMachId, Which::kUnit, UnitField::MachID, 23},
    {kSetControlId, Which::kUnit, UnitField::ControlID, 23},
    {kSetControlKey, Which::kUnit, UnitField::ControlKey, 15},
    {kSetOwner, Which::kUnit, UnitField::Owner, 31},
    {kSetSetCmd, Which::kSettings, SettingsField::SetCmd, 15},
    {kSetDial, Which::kSettings, SettingsField::Dial, 15},
    {kSetAnswer, Which::kSettings, SettingsField::Answer, 15},
    {kSetOnlineMachId, Which::kUnit, UnitField::OnlineMachID, 23},
    {kSetInitCmd, Which::kSettings, SettingsField::InitCmd, 47},
};

const char* const kSignalItems[] = {"1", "2", "3"};
const char* const kBaudItems[] = {"56000", "57600", "115200", "128000", "256000"};
const char* const kIntervalItems[] = {"5", "10", "15", "20", "25", "30"};
const char* const kRedialItems[] = {"1", "2", "3"};

// A drop-down list: either fixed items or the numbers 1..count.
struct ComboField {
  int32_t controlId;
  Which record;
  FieldSlot slot;
  const char* const* items;
  int32_t count;
};

constexpr ComboField kCombos[] = {
    {kSetSignal, Which::kSettings, SettingsField::Signal, kSignalItems, 3},
    {kSetPort, Which::kSettings, SettingsField::Port, nullptr, 32},
    {kSetBaud, Which::kSettings, SettingsField::Baud, kBaudItems, 5},
    {kSetAuxPort, Which::kSettings, SettingsField::AuxPort, nullptr, 32},
    {kSetECourierInterval, Which::kUnit, UnitField::ECourierInterval, kIntervalItems, 6},
    {kSetRedial, Which::kUnit, UnitField::Redial, kRedialItems, 3},
};

struct CheckField {
  int32_t controlId;
  FieldSlot slot;
};

constexpr CheckField kChecks[] = {
    {kSetAutoAuxPort, UnitField::AutoAuxPort},
    {kSetEnableECourier, UnitField::EnableECourier},
};

constexpr int32_t kTextSize = 64;

void FillEdit(HWND dialog, const EditField& edit) {
  char text[kTextSize];
  SlotText(RecordOf(edit.record), edit.slot, text);
  pWriteWndStr(dialog, edit.controlId, text);
}

void FillCombo(HWND dialog, const ComboField& combo) {
  for (int32_t i = 0; i < combo.count; ++i)
    pWriteCbo(dialog, combo.controlId, combo.items ? combo.items[i] : pStr(i + 1), 0);
  char text[kTextSize];
  SlotText(RecordOf(combo.record), combo.slot, text);
  pSetCbo(dialog, combo.controlId, text);
}

void FillCheck(HWND dialog, const CheckField& check) {
  tkSetCheck(dialog, check.controlId, Config().unit.Number(check.slot) == 1 ? 1 : 0);
}

const EditField& Edit(int32_t controlId) {
  for (const EditField& edit : kEdits)
    if (edit.controlId == controlId) return edit;
  return kEdits[0];
}
const ComboField& Combo(int32_t controlId) {
  for (const ComboField& combo : kCombos)
    if (combo.controlId == controlId) return combo;
  return kCombos[0];
}

// In the order the dialog has always filled them.
void FillControls(HWND dialog) {
  for (int32_t id : {kSetMachId, kSetControlId, kSetControlKey, kSetOwner}) FillEdit(dialog, Edit(id));
  for (int32_t id : {kSetSignal, kSetPort, kSetBaud, kSetAuxPort, kSetECourierInterval})
    FillCombo(dialog, Combo(id));
  FillCheck(dialog, kChecks[0]);
  FillCombo(dialog, Combo(kSetRedial));
  for (int32_t id : {kSetSetCmd, kSetDial, kSetAnswer}) FillEdit(dialog, Edit(id));
  FillCheck(dialog, kChecks[1]);
  for (int32_t id : {kSetOnlineMachId, kSetInitCmd}) FillEdit(dialog, Edit(id));
}

void ReadControls(HWND dialog) {
  for (const EditField& edit : kEdits) {
    char text[kTextSize] = {};
    pReadWndStr(dialog, edit.controlId, text, edit.limit);
    RecordOf(edit.record).SetText(edit.slot, text);
  }
  for (const ComboField& combo : kCombos) {
    char text[kTextSize] = {};
    if (pReadCbo(dialog, combo.controlId, text) != -1) RecordOf(combo.record).SetText(combo.slot, text);
  }
  for (const CheckField& check : kChecks) Config().unit.SetText(check.slot, tkIsChecked(dialog, check.controlId) ? "1" : "0");
}

int32_t Refuse(HWND dialog, const char* text, int32_t focusId) {
  pAlert(kSettingTitle, text, dialog, focusId, 64);
  return 0;
}

int32_t ValidateControls(HWND dialog) {
  const ConfigRecord& unit = Config().unit;
  if (unit.Text(UnitField::MachID)[0] == 0) return Refuse(dialog, "Machine ID cannot be empty", kSetMachId);
  if (unit.Text(UnitField::ControlID)[0] == 0) return Refuse(dialog, "ControlID cannot be empty", kSetControlId);
  const int32_t redial = unit.Number(UnitField::Redial);
  if (redial < 0 || redial > 3) return Refuse(dialog, "Redial attempts can only be (0 - 3)", kSetRedial);
  return 1;
}

void WriteBothRecords() {
  ConfigState& config = Config();
  WriteRecord(config.unitPath, config.unit);
  WriteRecord(config.settingsPath, config.settings);
}

void WriteSettings() {
  ShowStatus("Saving settings...");
  WriteBothRecords();
  ShowStatus("Settings saved");
}

char* LiveKey() { return Config().unit.Text(UnitField::ControlKey); }

void PutBackSavedKey() { pCopyMem(state.savedKey, LiveKey(), sizeof state.savedKey); }

void InitSetting(HWND dialog) {
  tkDialogInit(&state.record, dialog, SettingProc, kSettingTitle);
  const WindowRecord& console = Console().record;
  pGetWinParm(console.left, console.height - 29, console.width, 0, &state.record);
  FillControls(dialog);
  pCopyMem(LiveKey(), state.savedKey, sizeof state.savedKey);
  state.savedKey[sizeof state.savedKey - 1] = 0;
  WriteBothRecords();
  ShowStatus("Settings loaded");
  pWndFocus(dialog, kSetMachId);
}

}  // namespace

SettingState& Setting() { return state; }

void ResetSetting() { pClrMem(&state, sizeof state); }

int32_t OpenSetting(HWND console, const WindowContext* context) {
  if (Console().controlMode != 1) return 0;
  tkDialogOpen(&state.record, &state.context, context);
  ShowStatus("Loading settings...");
  tkDialogBox(state.context.instance, kSettingDialogId, console, SettingProc, 0);
  return 1;
}

int32_t SaveSettings(HWND dialog) {
  ReadControls(dialog);
  if (ValidateControls(dialog) != 1) return 0;
  // pIsStrEqual folds both keys to upper case: an unchanged key is written so.
  if (pIsStrEqual(state.savedKey, LiveKey()) == 1) {
    WriteSettings();
    return 1;
  }
  if (vlAskLoader(kPromptKey, "Confirm old Control Key", state.savedKey, 15, &state.context, &state.record) != 1) {
    PutBackSavedKey();
    return Refuse(dialog, "Wrong old Control key. Re-confirm.", kSetControlKey);
  }
  if (vlAskLoader(kPromptKey, "Confirm new Control Key", LiveKey(), 15, &state.context, &state.record) != 1) {
    PutBackSavedKey();
    return Refuse(dialog, "Wrong new Control key. Re-confirm.", kSetControlKey);
  }
  WriteSettings();
  pCopyMem(LiveKey(), state.savedKey, sizeof state.savedKey);
  return 1;
}

void ExitSettings(HWND dialog) {
  ReadControls(dialog);
  if (ValidateControls(dialog) != 1) return;
  if (pAlert(kSettingTitle, "Save changes to [Setting]?", dialog, 0, 36) == IDYES) SaveSettings(dialog);
  tkEndDialog(dialog, 0);
  pClrMem(state.savedKey, sizeof state.savedKey);
}

LRESULT SettingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitSetting(dialog);
      return 0;  // the focus is set already
    case WM_PAINT:
      tkDialogPaint(&state.record, 0, 0, state.context.instance);
      return 1;
    case WM_SETFOCUS:
      pWndFocus(dialog, kSetMachId);
      return 1;
    case WM_COMMAND:
      if (CommandId(wParam) == kSetSave) SaveSettings(dialog);
      if (CommandId(wParam) == kSetExit) ExitSettings(dialog);
      return 1;  // Enter, Esc and the rest do nothing
    case WM_CLOSE:  // no close box: only Exit ends it
      return 1;
    default:
      return 0;
  }
}
