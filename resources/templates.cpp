// The nine dialog templates. Rectangles are left, top, width, height in dialog
// units of the template's own font.
//
// Choices the layouts leave open, made once for all dialogs:
// - No button is a default push button: every dialog ignores Enter, and a
//   default button would turn Enter into that button's command.
// - Controls the user works with (edits, combos, check boxes, buttons) are tab
//   stops, so the keyboard can walk them in the order listed here.
// - Edits the user types ids, keys or subjects into scroll horizontally, since
//   their texts are longer than the fields are wide.
#include "resources/resources.h"

namespace {

constexpr uint32_t kTab = CS_TABSTOP;

// --- 1000 "Welcome" splash and 4000 About ------------------------------------
// Both only frame bitmap 120 (695 x 125 pixels). In Courier New 9 pt a dialog
// unit is 7/4 pixels across and 14/8 down, so 398 x 72 units cover the
// picture with nothing left bare.
constexpr int32_t kPictureCx = 398, kPictureCy = 72;

constexpr ControlTemplate kWelcomeControls[] = {
    {1001, CTL_BITMAP, 0, 0, kPictureCx, kPictureCy, 0, nullptr, res::kPictureBitmap},
};
// Created modeless, so it must be visible by itself; no close box.
constexpr DialogTemplate kWelcome = {
    res::kWelcomeDialog, DS_CAPTION | DS_TOOLWINDOW | DS_VISIBLE, "Velloran :: Welcome", "Courier New", 9,
    kPictureCx, kPictureCy, kWelcomeControls, 1};

constexpr ControlTemplate kAboutControls[] = {
    {4001, CTL_BITMAP, 0, 0, kPictureCx, kPictureCy, 0, nullptr, res::kPictureBitmap},
};
// No close box: a click on the picture is the only way out.
constexpr DialogTemplate kAbout = {
    res::kAboutDialog, DS_CAPTION | DS_TOOLWINDOW, "Velloran :: About", "Courier New", 9,
    kPictureCx, kPictureCy, kAboutControls, 1};

// --- 2000 Control Console ------------------------------------------------------
constexpr uint32_t kConsoleButton = CS_STATICEDGE | kTab;
constexpr uint32_t kConsoleEdit = CS_STATICEDGE | CS_AUTOHSCROLL | kTab;
constexpr uint32_t kIndicator = CS_CENTER | CS_MODALFRAME;

constexpr ControlTemplate kConsoleControls[] = {
    {2001, CTL_BITMAP, 3, 2, 71, 13, 0, nullptr, res::kLogoBitmap},
    {2002, CTL_STATIC, 262, 2, 148, 11, CS_RIGHT | CS_BORDER, "", 0},
    {2003, CTL_STATIC, 414, 2, 92, 12, CS_SUNKEN, "", 0},
    {2004, CTL_STATIC, 416, 3, 17, 10, kIndicator, "", 0},
    {2005, CTL_STATIC, 434, 3, 17, 10, kIndicator, "", 0},
    {2006, CTL_STATIC, 452, 3, 17, 10, kIndicator, "", 0},
    {2007, CTL_STATIC, 470, 3, 17, 10, kIndicator, "", 0},
    {2008, CTL_STATIC, 489, 3, 17, 10, kIndicator, "", 0},
    {2009, CTL_GROUPBOX, 3, 17, 274, 32, 0, "Account/Control Login", 0},
    {2010, CTL_STATIC, 11, 29, 10, 10, 0, "Id:", 0},
    {2011, CTL_EDIT, 25, 29, 62, 10, kConsoleEdit, "", 0},
    {2012, CTL_STATIC, 97, 29, 14, 10, 0, "Key:", 0},
    {2013, CTL_EDIT, 114, 29, 62, 10, kConsoleEdit | CS_PASSWORD, "", 0},
    {2014, CTL_BUTTON, 194, 29, 38, 12, kConsoleButton, "Account", 0},
    {2015, CTL_BUTTON, 234, 29, 38, 12, kConsoleButton, "Control", 0},
    {2016, CTL_BUTTON, 3, 57, 38, 12, kConsoleButton, "Create", 0},
    {2017, CTL_BUTTON, 43, 57, 38, 12, kConsoleButton, "Remove", 0},
    {2018, CTL_BUTTON, 83, 57, 38, 12, kConsoleButton, "Setting", 0},
    {2019, CTL_BUTTON, 123, 57, 38, 12, kConsoleButton, "Close", 0},
    {2020, CTL_BUTTON, 163, 57, 38, 12, kConsoleButton, "About", 0},
    {2021, CTL_STATIC, 279, 17, 228, 53, CS_GREYPANEL | CS_CLIENTEDGE, "", 0},
    {2022, CTL_STATIC, 3, 75, 31, 9, 0, "Status:", 0},
    {2023, CTL_STATIC, 34, 75, 385, 10, CS_BORDER | CS_NOWRAP, "", 0},
    {2024, CTL_PROGRESS, 422, 75, 84, 10, 0, nullptr, 0},
};
// Close box but no minimise or maximise box; created visible and minimised.
constexpr DialogTemplate kConsole = {
    res::kConsoleDialog, DS_CAPTION | DS_SYSMENU | DS_VISIBLE | DS_MINIMIZED, "Velloran", "Courier New", 9,
    510, 89, kConsoleControls, sizeof kConsoleControls / sizeof kConsoleControls[0]};

// --- 3000 writer -----------------------------------------------------------------
constexpr uint32_t kWriterButton = CS_STATICEDGE | kTab;

constexpr ControlTemplate kWriterControls[] = {
    {3001, CTL_STATIC, 3, 3, 33, 8, 0, "Date:", 0},
    {3002, CTL_EDIT, 40, 3, 202, 10, CS_READONLY | CS_AUTOHSCROLL, "", 0},
    {3003, CTL_STATIC, 3, 15, 33, 8, 0, "From:", 0},
    {3004, CTL_EDIT, 40, 15, 202, 10, CS_READONLY | CS_AUTOHSCROLL, "", 0},
    {3005, CTL_STATIC, 3, 27, 33, 8, 0, "Subject:", 0},
    {3006, CTL_EDIT, 40, 27, 202, 10, CS_AUTOHSCROLL | kTab, "", 0},
    {3007, CTL_STATIC, 3, 39, 33, 8, 0, "To:", 0},
    {3008, CTL_BUTTON, 40, 38, 34, 12, kWriterButton, "Contact", 0},
    {3009, CTL_EDIT, 75, 39, 167, 10, CS_AUTOHSCROLL | kTab, "", 0},
    {3010, CTL_EDIT, 3, 55, 441, 86, CS_MULTILINE | CS_VSCROLL | CS_WANTRETURN | CS_CLIENTEDGE | kTab, "", 0},
    {3011, CTL_STATIC, 244, 3, 200, 50, CS_GREYPANEL | CS_CLIENTEDGE, "", 0},
    {3012, CTL_BUTTON, 305, 144, 34, 12, kWriterButton, "Attach", 0},
    {3013, CTL_BUTTON, 340, 144, 34, 12, kWriterButton, "Lock", 0},
    {3014, CTL_BUTTON, 375, 144, 34, 12, kWriterButton, "Send", 0},
    {3015, CTL_BUTTON, 410, 144, 34, 12, kWriterButton, "Exit", 0},
};
constexpr DialogTemplate kWriter = {
    res::kWriterDialog, DS_CAPTION | DS_TOOLWINDOW, "Velloran :: Writer", "Courier New", 10,
    447, 158, kWriterControls, sizeof kWriterControls / sizeof kWriterControls[0]};

// --- 5000 Setting ------------------------------------------------------------------
constexpr uint32_t kSettingEdit = CS_BORDER | CS_AUTOHSCROLL | kTab;
constexpr uint32_t kSettingCombo = kTab;  // unsorted drop-down list
constexpr uint32_t kSettingCheck = CS_LEFTTEXT | kTab;

constexpr ControlTemplate kSettingControls[] = {
    {5001, CTL_STATIC, 3, 3, 29, 8, 0, "MachID:", 0},
    {5002, CTL_EDIT, 33, 3, 67, 10, kSettingEdit, "", 0},
    {5003, CTL_STATIC, 117, 3, 61, 8, 0, "Online MachID:", 0},
    {5004, CTL_EDIT, 179, 3, 67, 10, kSettingEdit, "", 0},
    {5005, CTL_STATIC, 263, 3, 24, 8, 0, "Owner:", 0},
    {5006, CTL_EDIT, 288, 3, 156, 10, kSettingEdit, "", 0},
    {5007, CTL_GROUPBOX, 3, 14, 441, 38, 0, "Communication Device Settings", 0},
    {5008, CTL_STATIC, 6, 24, 27, 8, 0, "Signal:", 0},
    {5009, CTL_COMBOBOX, 35, 24, 22, 42, kSettingCombo, nullptr, 0},
    {5010, CTL_STATIC, 67, 24, 20, 8, 0, "Port:", 0},
    {5011, CTL_COMBOBOX, 89, 24, 22, 42, kSettingCombo, nullptr, 0},
    {5012, CTL_STATIC, 121, 24, 20, 8, 0, "Baud:", 0},
    {5013, CTL_COMBOBOX, 142, 24, 50, 42, kSettingCombo, nullptr, 0},
    {5014, CTL_STATIC, 202, 24, 32, 8, 0, "Set CMD:", 0},
    {5015, CTL_EDIT, 235, 24, 45, 10, kSettingEdit, "", 0},
    {5016, CTL_STATIC, 291, 24, 20, 8, 0, "Dial:", 0},
    {5017, CTL_EDIT, 312, 24, 45, 10, kSettingEdit, "", 0},
    {5018, CTL_STATIC, 367, 24, 28, 8, 0, "Answer:", 0},
    {5019, CTL_EDIT, 396, 24, 45, 10, kSettingEdit, "", 0},
    {5020, CTL_STATIC, 6, 38, 76, 8, 0, "Initialization CMD:", 0},
    {5021, CTL_EDIT, 83, 38, 130, 10, kSettingEdit, "", 0},
    {5022, CTL_STATIC, 229, 38, 27, 8, 0, "Redial:", 0},
    {5023, CTL_COMBOBOX, 258, 38, 22, 42, kSettingCombo, nullptr, 0},
    {5024, CTL_STATIC, 290, 38, 40, 8, 0, "Aux. Port:", 0},
    {5025, CTL_COMBOBOX, 332, 38, 22, 42, kSettingCombo, nullptr, 0},
    {5026, CTL_CHECKBOX, 370, 38, 70, 8, kSettingCheck, "Auto Aux. Port:", 0},
    {5027, CTL_STATIC, 3, 54, 42, 8, 0, "ControlID:", 0},
    {5028, CTL_EDIT, 47, 54, 67, 10, kSettingEdit, "", 0},
    {5029, CTL_STATIC, 123, 54, 50, 8, 0, "Control Key:", 0},
    {5030, CTL_EDIT, 175, 54, 67, 10, kSettingEdit | CS_PASSWORD, "", 0},
    {5031, CTL_STATIC, 250, 54, 71, 8, 0, "ECourier Interval:", 0},
    {5032, CTL_COMBOBOX, 323, 54, 37, 42, kSettingCombo, nullptr, 0},
    {5033, CTL_CHECKBOX, 369, 54, 75, 8, kSettingCheck, "Enable ECourier:", 0},
    {5034, CTL_BUTTON, 375, 70, 34, 12, kTab, "Save", 0},
    {5035, CTL_BUTTON, 410, 70, 34, 12, kTab, "Exit", 0},
};
// No close box: Exit is the only way out, so the edits are always read back.
constexpr DialogTemplate kSetting = {
    res::kSettingDialog, DS_CAPTION | DS_TOOLWINDOW, "Velloran :: Setting", "Courier New", 10,
    447, 85, kSettingControls, sizeof kSettingControls / sizeof kSettingControls[0]};

// --- 6000 mailbox --------------------------------------------------------------------
constexpr uint32_t kRowList = CS_SORT | CS_NOTIFY | CS_TABSTOP | CS_NOINTEGRALHEIGHT | CS_VSCROLL | CS_BORDER;

constexpr ControlTemplate kMailboxControls[] = {
    {6001, CTL_STATIC, 4, 3, 502, 9, CS_NOWRAP | CS_TRANSPARENT, "", 0},
    {6002, CTL_LISTBOX, 3, 14, 504, 135, kRowList, nullptr, 0},
    {6003, CTL_BUTTON, 388, 153, 38, 12, kTab, "New", 0},
    {6004, CTL_BUTTON, 428, 153, 38, 12, kTab, "Change", 0},
    {6005, CTL_BUTTON, 468, 153, 38, 12, kTab, "Logout", 0},
};
constexpr DialogTemplate kMailbox = {
    res::kMailboxDialog, DS_CAPTION | DS_TOOLWINDOW, "Velloran :: Login", "Courier New", 9,
    510, 168, kMailboxControls, sizeof kMailboxControls / sizeof kMailboxControls[0]};

// --- 7000 reader ---------------------------------------------------------------------
constexpr uint32_t kReaderField = CS_READONLY | CS_AUTOHSCROLL;
constexpr uint32_t kReaderButton = CS_STATICEDGE | kTab;

constexpr ControlTemplate kReaderControls[] = {
    {7001, CTL_STATIC, 3, 3, 33, 8, 0, "Date:", 0},
    {7002, CTL_EDIT, 40, 3, 202, 10, kReaderField, "", 0},
    {7003, CTL_STATIC, 3, 15, 33, 8, 0, "From:", 0},
    {7004, CTL_EDIT, 40, 15, 202, 10, kReaderField, "", 0},
    {7005, CTL_STATIC, 3, 27, 33, 8, 0, "Subject:", 0},
    {7006, CTL_EDIT, 40, 27, 202, 10, kReaderField, "", 0},
    {7007, CTL_STATIC, 3, 39, 33, 8, 0, "To:", 0},
    {7008, CTL_EDIT, 40, 39, 202, 10, kReaderField, "", 0},
    {7009, CTL_EDIT, 3, 55, 441, 86, CS_MULTILINE | CS_READONLY | CS_VSCROLL | CS_CLIENTEDGE | kTab, "", 0},
    {7010, CTL_STATIC, 244, 3, 200, 50, CS_GREYPANEL | CS_CLIENTEDGE, "", 0},
    {7011, CTL_BUTTON, 3, 144, 12, 12, CS_CENTER | kTab, "[]", 0},
    {7012, CTL_BUTTON, 340, 144, 34, 12, kReaderButton, "Add", 0},
    {7013, CTL_BUTTON, 375, 144, 34, 12, kReaderButton, "Reply", 0},
    {7014, CTL_BUTTON, 410, 144, 34, 12, kReaderButton, "Exit", 0},
};
constexpr DialogTemplate kReader = {
    res::kReaderDialog, DS_CAPTION | DS_TOOLWINDOW, "Velloran :: Reader", "Courier New", 10,
    447, 158, kReaderControls, sizeof kReaderControls / sizeof kReaderControls[0]};

// --- 10000 prompt ---------------------------------------------------------------------
// Three edits on one rectangle; the prompt shows the one for its mode. The
// caption is the question, set when the prompt opens.
constexpr uint32_t kPromptEdit = CS_STATICEDGE | CS_AUTOHSCROLL | CS_OEMCONVERT | CS_WANTRETURN | CS_HIDDEN | kTab;

constexpr ControlTemplate kPromptControls[] = {
    {10001, CTL_EDIT, 2, 3, 152, 10, kPromptEdit, "", 0},
    {10002, CTL_EDIT, 2, 3, 152, 10, kPromptEdit | CS_NUMBER, "", 0},
    {10003, CTL_EDIT, 2, 3, 152, 10, kPromptEdit | CS_PASSWORD, "", 0},
};
constexpr DialogTemplate kPrompt = {
    res::kPromptDialog, DS_CAPTION | DS_SYSMENU | DS_TOOLWINDOW, "", "Courier New", 12,
    157, 20, kPromptControls, sizeof kPromptControls / sizeof kPromptControls[0]};

// --- 20000 contact picker --------------------------------------------------------------
constexpr ControlTemplate kContactControls[] = {
    {20001, CTL_LISTBOX, 0, 0, 225, 93, kRowList, nullptr, 0},
};
constexpr DialogTemplate kContact = {
    res::kContactDialog, DS_CAPTION | DS_SYSMENU | DS_TOOLWINDOW, "Velloran :: Contact", "Courier New", 9,
    225, 93, kContactControls, 1};

constexpr const DialogTemplate* kDialogs[] = {
    &kWelcome, &kConsole, &kWriter, &kAbout, &kSetting, &kMailbox, &kReader, &kPrompt, &kContact,
};
constexpr int32_t kDialogCount = sizeof kDialogs / sizeof kDialogs[0];

const BitmapResource* BitmapHook(int32_t id) { return res::Bitmap(id); }
const IconResource* IconHook(int32_t id) { return res::Icon(id); }

constexpr ResourceSet kResources = {"Velloran.exe", kDialogs, kDialogCount, BitmapHook, IconHook};

}  // namespace

namespace res {

const DialogTemplate* const* DialogTemplates(int32_t* count) {
  if (count) *count = kDialogCount;
  return kDialogs;
}

const DialogTemplate* FindDialog(int32_t id) {
  for (const DialogTemplate* dialog : kDialogs)
    if (dialog->id == id) return dialog;
  return nullptr;
}

}  // namespace res

const ResourceSet& VelloranResources() { return kResources; }
