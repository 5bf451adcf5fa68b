// console/setting.h -- the Setting dialog (5000), where a user edits the
// UnitRecord and the SettingsRecord.
//
// Principles of operation
//
// Reachable only in control mode. Opening fills the controls from the live
// records, keeps a copy of the Control Key and writes both files from the
// live records (so every opening rewrites them). Save and Exit first read the
// controls back into the live records and validate them:
//
//   MachID empty        "Machine ID cannot be empty"            focus 5002
//   ControlID empty     "ControlID cannot be empty"             focus 5028
//   Redial outside 0-3  "Redial attempts can only be (0 - 3)"   focus 5023
//
// Redial is how many times the posting pass dials a number that was busy or
// gave no carrier again at once, before its next try waits for the retry
// table (link/link.h, RetryTable); 0 dials once per attempt.
//
// A combo box without a selection keeps the record's value (so a stored Baud
// of 9600 survives). Save writes both records when the Control Key is the one
// the dialog opened with, letter case aside; a changed key must first confirm
// the old key and then the new one, and a failed confirmation puts the old key
// back and writes nothing. Exit asks "Save changes to [Setting]?" and always
// ends the dialog; answered No, the edited values stay live but unwritten.
#pragma once
#include <stdint.h>

#include "toolkit/window.h"
#include "winapi/types.h"

enum SettingControl : int32_t {
  kSetMachId = 5002,
  kSetOnlineMachId = 5004,
  kSetOwner = 5006,
  kSetSignal = 5009,
  kSetPort = 5011,
  kSetBaud = 5013,
  kSetSetCmd = 5015,
  kSetDial = 5017,
  kSetAnswer = 5019,
  kSetInitCmd = 5021,
  kSetRedial = 5023,
  kSetAuxPort = 5025,
  kSetAutoAuxPort = 5026,
  kSetControlId = 5028,
  kSetControlKey = 5030,
  kSetECourierInterval = 5032,
  kSetEnableECourier = 5033,
  kSetSave = 5034,
  kSetExit = 5035
};

constexpr int32_t kSettingDialogId = 5000;
constexpr const char* kSettingTitle = "Velloran :: Setting";

struct SettingState {
  WindowRecord record;
  WindowContext context;
  char savedKey[16];  // the Control Key as the dialog found it
};

SettingState& Setting();
void ResetSetting();

// The console's Setting command: runs the dialog modally over the console
// when control mode is on (returns 1 when it ran, 0 otherwise).
int32_t OpenSetting(HWND console, const WindowContext* context);

LRESULT SettingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Save and Exit as their buttons run them (for tests).
int32_t SaveSettings(HWND dialog);
void ExitSettings(HWND dialog);
