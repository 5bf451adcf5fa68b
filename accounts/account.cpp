// Accounts: creation, removal and login from the console's Id and Key fields.
#include <string>
#include <vector>

#include "accounts/accounts.h"
#include "accounts/open_account.h"
#include "config/config.h"
#include "console/console.h"
#include "console/prompt.h"
#include "platform/unit.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

ActiveAccountState active;
AccountInputState input;

constexpr int32_t kRemovePauseMs = 300;
constexpr int32_t kInfoStyle = 64;
constexpr int32_t kQuestionStyle = 36;
constexpr int32_t kYes = 6;

HWND ConsoleWindow() { return Console().record.handle; }

// Every message of the account commands: over the console, captioned with
// its current title. Returns 0, the result of the failing step it ends.
int32_t Refuse(const char* text, int32_t focusId) {
  pAlert(Console().record.title, text, ConsoleWindow(), focusId, kInfoStyle);
  return 0;
}

void ShowStatus(const char* text) { pWriteWndTxt(Console().statusLine, 0, text, 1, 0); }

void ReadIdAndKey(HWND owner) {
  pClrMem(input.id, sizeof input.id);
  pClrMem(input.key, sizeof input.key);
  pReadWndStr(owner, kConsoleIdField, input.id, kIdReadLimit);
  pReadWndStr(owner, kConsoleKeyField, input.key, kKeyReadLimit);
  LowerCaseInPlace(input.id);
  LowerCaseInPlace(input.key);
}

// The checks every command makes of the typed id; 1 when it passes.
int32_t CheckId() {
  if (pLen(input.id) == 0) return Refuse("Enter a user id", kConsoleIdField);
  if (pIsChrValid(input.id, kIdAlphabet) != 1) return Refuse("Invalid character in user id", kConsoleIdField);
  return 1;
}

// Case-blind comparison on copies: pIsStrEqual upper-cases what it is given.
template <size_t N>
int32_t SameIgnoringCase(const char* typed, const char (&slot)[N]) {
  char a[kNameBufferSize] = {};
  char b[N + 1];
  AppendBounded(typed, a, sizeof a);
  SlotText(slot, b);
  return pIsStrEqual(a, b);
}

int32_t ConfirmKey(const char* caption, const WindowContext* context) {
  return vlAskLoader(kPromptKey, caption, input.key, kKeyLength, context, &Console().record);
}

// 1 when the account file of the paths in input exists and is not empty.
int32_t AccountFileExists() {
  int32_t size = pFileSize(input.accountFile);
  return size != -1 && size != 0 ? 1 : 0;
}

void StoreUnitRecord() { WriteRecord(Config().unitPath, Config().unit); }

int32_t FolderExists(const char* folder) {
  char found[260] = {};
  return pFileFind(folder, found, 1);
}

void ClearPaths() {
  pClrMem(input.folder, sizeof input.folder);
  pClrMem(input.accountFile, sizeof input.accountFile);
}

// --- creation ----------------------------------------------------------------

int32_t AskCreationDetails() {
  if (!CheckId()) return 0;
  if (pLen(input.key) == 0) return Refuse("Enter a desired account key", kConsoleKeyField);
  if (ConfirmKey("Confirm your account key", &Console().context) != 1)
    return Refuse("Wrong account key. Re-confirm.", kConsoleKeyField);
  pClrMem(input.userName, sizeof input.userName);
  if (vlAskLoader(kPromptText, "Enter a desired user name", input.userName, kUserNameLength, &Console().context,
                  &Console().record) != 1)
    return Refuse("Wrong entry in user name. Re-enter.", kConsoleIdField);
  LowerCaseInPlace(input.userName);
  if (pIsChrValid(input.userName, kNameAlphabet) != 1)
    return Refuse("Invalid character in user name", kConsoleIdField);
  return 1;
}

void FillCreationRecord() {
  pClrMem(&input.creation, sizeof input.creation);
  SetSlot(input.creation.accountId, input.id);
  SetSlot(input.creation.accountKey, input.key);
  SetSlot(input.creation.userName, input.userName);
  SetSlot(input.creation.fixedZero, "0");
  SetSlot(input.creation.encodedId, input.encodedId);
  SetSlot(input.creation.accessMarker, kAccessMarker);
}

// Writes the creation record to the account file; 1 when all of it is there.
int32_t StoreCreationRecord() {
  vlData(1, &input.creation, kAccountRecordSize);
  int32_t written = pFileIO(1, input.accountFile, 1, &input.creation, kAccountRecordSize);
  vlData(-1, &input.creation, kAccountRecordSize);
  return written == kAccountRecordSize ? 1 : 0;
}

void MakeAccount() {
  if (!BuildAccountPaths(input.id, input.folder, input.accountFile, input.encodedId)) {
    Refuse("Account could not be created", kConsoleIdField);
    return;
  }
  if (AccountFileExists()) {
    Refuse("Account id already owned", kConsoleIdField);
    return;
  }
  ShowStatus("Creating account...");
  FillCreationRecord();
  char make[] = "mak";
  pDir(make, input.folder, kPathSize);
  int32_t stored = StoreCreationRecord();
  RecountAccounts();
  ShowStatus(stored ? "Account created" : "Account could not be created");
}

// --- removal -----------------------------------------------------------------

int32_t AskRemovalRight() {
  if (!CheckId()) return 0;
  if (pLen(input.key) == 0) return Refuse("Enter Control Key", kConsoleKeyField);
  if (ConfirmKey("Confirm Control Key", &Console().context) != 1)
    return Refuse("Wrong Control key. Re-confirm.", kConsoleKeyField);
  char controlKey[sizeof(ConfigRecord::bytes)] = {};
  AppendBounded(Config().unit.Text(UnitField::ControlKey), controlKey, UnitField::ControlKey.width);
  char typed[sizeof input.key] = {};
  AppendBounded(input.key, typed, sizeof typed);
  int32_t same = pIsStrEqual(typed, controlKey);
  pClrMem(controlKey, sizeof controlKey);
  if (same != 1) return Refuse("No admin right to remove account", kConsoleIdField);
  return 1;
}

// The mailbox index and the mail files: every name ending in "[=]". They are
// listed before the first deletion so the search is not disturbed by them.
void DeleteMailFiles() {
  char pattern[kPathSize] = {};
  if (!AppendBounded(input.folder, pattern, kPathSize) || !AppendBounded("\\*", pattern, kPathSize) ||
      !AppendBounded(kLocalSuffix, pattern, kPathSize))
    return;
  std::vector<std::string> names;
  char found[260] = {};
  for (int32_t more = pFileFind(pattern, found, 1); more == 1; more = pFileFind(pattern, found, 0)) {
    names.emplace_back(found);
    pClrMem(found, sizeof found);
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) pDoEvent(kRemovePauseMs);
    char path[kPathSize] = {};
    if (AppendBounded(input.folder, path, kPathSize) && AppendBounded("\\", path, kPathSize) &&
        AppendBounded(names[i].c_str(), path, kPathSize))
      pFileDel(path);
  }
}

void DeleteContactBook() {
  char path[kPathSize] = {};
  if (AppendBounded(input.folder, path, kPathSize) && AppendBounded("\\", path, kPathSize) &&
      AppendBounded(input.encodedId, path, kPathSize) && AppendBounded(kContactSuffix, path, kPathSize))
    pFileDel(path);
}

void DeleteAccount() {
  if (!BuildAccountPaths(input.id, input.folder, input.accountFile, input.encodedId) || !AccountFileExists()) {
    Refuse("Account id does not exist", kConsoleIdField);
    return;
  }
  if (pAlert(input.id, "Remove the above named account?", ConsoleWindow(), 0, kQuestionStyle) != kYes) return;
  ShowStatus("Removing account, please wait...");
  DeleteMailFiles();
  DeleteContactBook();
  pFileDel(input.accountFile);
  char remove[] = "rem";
  pDir(remove, input.folder, kPathSize);
  RecountAccounts();
  // A folder that is still there holds files this system did not put there
  // (or could not delete): say so rather than claim the account is gone.
  ShowStatus(FolderExists(input.folder) ? "Account removed, but its folder could not be deleted"
                                         : "Account removed");
}

// --- login -------------------------------------------------------------------

// Reads the account file into the open account; only what was read is
// unscrambled, so a short file leaves zeros (and no access marker).
void ReadAccountRecord() {
  pClrMem(&active.record, sizeof active.record);
  int32_t n = pFileIO(-1, active.accountFile, 1, &active.record, kAccountRecordSize);
  if (n > 0) vlData(-1, &active.record, n);
}

// The contact-book size in whole entries; a torn last entry counts as one so
// that entries added later still start at a multiple of 256.
void FindContactBook() {
  pClrMem(active.contactBookPath, sizeof active.contactBookPath);
  active.contactBookSize = 0;
  if (!AppendBounded(active.accountFolder, active.contactBookPath, kPathSize) ||
      !AppendBounded("\\", active.contactBookPath, kPathSize) ||
      !AppendBounded(input.encodedId, active.contactBookPath, kPathSize) ||
      !AppendBounded(kContactSuffix, active.contactBookPath, kPathSize)) {
    pClrMem(active.contactBookPath, sizeof active.contactBookPath);
    return;
  }
  int32_t size = pFileSize(active.contactBookPath);
  if (size > 0) active.contactBookSize = static_cast<uint32_t>((size + kContactSize - 1) / kContactSize) * kContactSize;
}

int32_t LogIn(HWND console, const WindowContext* context) {
  ReadIdAndKey(console);
  if (!CheckId()) return 0;
  if (pLen(input.key) == 0) return Refuse("Enter a desired account key", kConsoleKeyField);
  if (ConfirmKey("Confirm your account key", context) != 1)
    return Refuse("Wrong account key. Re-confirm.", kConsoleKeyField);
  if (!BuildAccountPaths(input.id, active.accountFolder, active.accountFile, input.encodedId) ||
      pFileSize(active.accountFile) <= 0)
    return Refuse("Account id does not exist", kConsoleIdField);
  ReadAccountRecord();
  if (SameIgnoringCase(kAccessMarker, active.record.accessMarker) != 1)
    return Refuse("Account cannot be accessed locally", kConsoleKeyField);
  if (SameIgnoringCase(input.key, active.record.accountKey) != 1)
    return Refuse("Wrong account key. Re-confirm.", kConsoleKeyField);
  // The mailbox and the writer build file names from the record's id and E;
  // a record edited outside this system must not steer them elsewhere, so
  // both are the ones the login itself derived.
  SetSlot(active.record.accountId, input.id);
  SetSlot(active.record.encodedId, input.encodedId);
  FindContactBook();
  return 1;
}

}  // namespace

ActiveAccountState& ActiveAccount() { return active; }
void ResetActiveAccount() { pClrMem(&active, sizeof active); }
AccountInputState& AccountInput() { return input; }

int32_t ClearAccountInput() {
  pClrMem(&input, sizeof input);
  pClearWndStr(ConsoleWindow(), kConsoleIdField);
  pClearWndStr(ConsoleWindow(), kConsoleKeyField);
  return 1;
}

int32_t RecountAccounts() {
  char pattern[kPathSize] = {};
  int32_t count = 0;
  if (AppendBounded(Config().programFolder, pattern, kPathSize) && AppendBounded("\\*", pattern, kPathSize) &&
      AppendBounded(kFolderSuffix, pattern, kPathSize)) {
    char found[260] = {};
    for (int32_t more = pFileFind(pattern, found, 1); more == 1; more = pFileFind(pattern, found, 0)) ++count;
  }
  Config().unit.SetNumber(UnitField::AccountCount, count);
  StoreUnitRecord();
  return count;
}

int32_t CreateAccount() {
  ReadIdAndKey(ConsoleWindow());
  if (AskCreationDetails()) MakeAccount();
  ClearPaths();
  ClearAccountInput();
  return 1;
}

int32_t RemoveAccount() {
  ReadIdAndKey(ConsoleWindow());
  if (AskRemovalRight()) DeleteAccount();
  ClearPaths();
  ClearAccountInput();
  return 1;
}

int32_t OpenAccount(HWND console, const WindowContext* context) {
  ResetActiveAccount();
  pClrMem(input.id, sizeof input.id);
  pClrMem(input.key, sizeof input.key);
  if (context != nullptr) active.context = *context;
  if (LogIn(console, &active.context)) {
    pClearWndStr(console, kConsoleIdField);
    pClearWndStr(console, kConsoleKeyField);
    active.open = 1;
    OpenMailbox(console, &active.context);
  }
  ResetActiveAccount();
  ClearPaths();
  ClearAccountInput();
  return 1;
}
