// The mailbox dialog: list, open, new mail, key change, logout.
#include "accounts/mailbox.h"

#include "accounts/open_account.h"
#include "accounts/reader.h"
#include "accounts/writer.h"
#include "console/console.h"
#include "console/prompt.h"
#include "platform/unit.h"
#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

using namespace mailui;

namespace {

MailboxState mailbox;

constexpr int32_t kRowPauseMs = 300;
constexpr int32_t kKeyLength = 15;

HWND Dialog() { return mailbox.record.handle; }

int32_t Tell(const char* text, int32_t focusId) { return pAlert(kMailboxTitle, text, Dialog(), focusId, 64); }

int32_t IndexEntries() {
  int32_t size = pFileSize(mailbox.indexPath);
  return size > 0 ? size / kHeaderSize : 0;
}

// Reads and unscrambles the entry at a 1-based position; 0 unless the
// position starts a whole entry of the index.
int32_t ReadEntry(int32_t position, MailHeader& entry) {
  pClrMem(&entry, sizeof entry);
  if (position < 1 || (position - 1) % kHeaderSize != 0 || position > IndexEntries() * kHeaderSize) return 0;
  if (pFileIO(-1, mailbox.indexPath, position, &entry, kHeaderSize) != kHeaderSize) return 0;
  vlData(-1, &entry, kHeaderSize);
  return 1;
}

int32_t WriteEntry(int32_t position, MailHeader& entry) {
  vlData(1, &entry, kHeaderSize);
  int32_t written = pFileIO(1, mailbox.indexPath, position, &entry, kHeaderSize);
  vlData(-1, &entry, kHeaderSize);
  return written == kHeaderSize ? 1 : 0;
}

int32_t IsKnownStatus(const char* status) {
  char a[8] = {};
  char b[8] = {};
  AppendBounded(status, a, sizeof a);
  AppendBounded(kStatusNew, b, sizeof b);
  if (pIsStrEqual(a, b) == 1) return 1;
  pClrMem(b, sizeof b);
  AppendBounded(kStatusOpened, b, sizeof b);
  return pIsStrEqual(a, b);
}

// 1 when the mail's lock key (if any) was given.
int32_t Unlocked(const MailHeader& entry) {
  char key[sizeof entry.lockKey + 1];
  SlotText(entry.lockKey, key);
  if (pLen(key) == 0) return 1;
  if (vlAskLoader(-1, "Enter mail lock key", key, kKeyLength, &mailbox.context, &mailbox.record) == 1) return 1;
  Tell("Wrong mail lock key. Retry.", 0);
  return 0;
}

// The mail file of an entry, into the reader's mail path; 1 when it holds
// at least one whole block.
int32_t FindMailFile(const MailHeader& entry) {
  ReaderState& reader = Reader();
  char sender[sizeof entry.sender + 1];
  char postedAt[sizeof entry.postedAt + 1];
  SlotText(entry.sender, sender);
  SlotText(entry.postedAt, postedAt);
  if (!BuildMailPath(ActiveAccount().accountFolder, sender, postedAt, kLocalSuffix, reader.mailPath)) return 0;
  return pFileSize(reader.mailPath) >= kBlockSize ? 1 : 0;
}

LRESULT MailboxListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return tkRunEnterFilter(&mailbox.filter, window, message, wParam, lParam);
}

LRESULT MailboxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void InitMailbox(HWND dialog) {
  tkDialogInit(&mailbox.record, dialog, MailboxProc, kMailboxTitle);
  ShowAccountTitle(dialog, kMailboxTitle);
  pGetWinParm(-3, Console().record.height - 29, 0, 0, &mailbox.record);
  InstallListEnterFilter(mailbox.filter, dialog, kMailboxList, MailboxListProc);
  LoadMailboxList();
}

LRESULT MailboxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitMailbox(dialog);
      return 0;
    case WM_SETFOCUS:
      pWndFocus(dialog, kMailboxList);
      return 1;
    case WM_PAINT:
      tkDialogPaint(&mailbox.record, 0, 0, mailbox.context.instance);
      return 1;
    case WM_COMMAND:
      switch (CommandId(wParam)) {
        case kMailboxList:
          if (CommandCode(wParam) == LBN_DBLCLK) OpenMail();
          return 1;
        case kMailboxNew: NewMail(); return 1;
        case kMailboxChange: ChangeAccountKey(); return 1;
        case kMailboxLogout: tkEndDialog(dialog, 1); return 1;
        default: return 0;
      }
    default:
      return 0;
  }
}

// Stores the open account's record with a new key; the key in memory
// changes only once the file holds it.
int32_t StoreAccountKey(const char* key) {
  AccountRecord record = ActiveAccount().record;
  SetSlot(record.accountKey, key);
  vlData(1, &record, kAccountRecordSize);
  // The file is one record; a longer one (written elsewhere) is replaced
  // whole rather than keeping its old tail behind the new record.
  if (pFileSize(ActiveAccount().accountFile) > kAccountRecordSize) pFileDel(ActiveAccount().accountFile);
  int32_t written = pFileIO(1, ActiveAccount().accountFile, 1, &record, kAccountRecordSize);
  pClrMem(&record, sizeof record);
  if (written != kAccountRecordSize) return 0;
  SetSlot(ActiveAccount().record.accountKey, key);
  return 1;
}

}  // namespace

MailboxState& Mailbox() { return mailbox; }
void ResetMailbox() { pClrMem(&mailbox, sizeof mailbox); }

void MailboxHeaderLine(char* out) {
  PadColumn("Sender", out, 50);
  PadColumn("Subject", out, 50);
  PadColumn("Date       Time", out, 20);
  PadColumn("Stat", out, 5);
}

void MailboxRow(const MailHeader& entry, char* out) {
  char sender[sizeof entry.sender + 1];
  char subject[sizeof entry.subject + 1];
  char postedAt[sizeof entry.postedAt + 1];
  char status[sizeof entry.status + 1];
  SlotText(entry.sender, sender);
  SlotText(entry.subject, subject);
  SlotText(entry.postedAt, postedAt);
  SlotText(entry.status, status);
  PadColumn(sender, out, 50);
  PadColumn(subject, out, 50);
  PadColumn(postedAt, out, 20);
  if (IsKnownStatus(status)) PadColumn(status, out, 5);
}

int32_t OpenMailbox(HWND console, const WindowContext* context) {
  ResetMailbox();
  tkDialogOpen(&mailbox.record, &mailbox.context, context);
  tkDialogBox(context->instance, 6000, console, MailboxProc, 0);
  ResetMailbox();
  return 1;
}

int32_t LoadMailboxList() {
  HWND dialog = Dialog();
  pClrMem(mailbox.row, sizeof mailbox.row);
  MailboxHeaderLine(mailbox.row);
  pWriteWndStr(dialog, kMailboxHeaderLine, mailbox.row);
  pClrMem(mailbox.indexPath, sizeof mailbox.indexPath);
  char encoded[sizeof(AccountRecord::encodedId) + 1];
  SlotText(ActiveAccount().record.encodedId, encoded);
  if (!AppendBounded(ActiveAccount().accountFolder, mailbox.indexPath, kPathSize) ||
      !AppendBounded("\\", mailbox.indexPath, kPathSize) || !AppendBounded(encoded, mailbox.indexPath, kPathSize) ||
      !AppendBounded(kMailboxSuffix, mailbox.indexPath, kPathSize)) {
    pClrMem(mailbox.indexPath, sizeof mailbox.indexPath);
    return 1;
  }
  // The count is taken once: entries delivered while the list fills show
  // at the next login.
  int32_t count = IndexEntries();
  for (int32_t i = 1; i <= count; i++) {
    pDoEvent(kRowPauseMs);
    if (!ReadEntry(IndexEntryPosition(i), mailbox.entry)) continue;
    pClrMem(mailbox.row, sizeof mailbox.row);
    MailboxRow(mailbox.entry, mailbox.row);
    pWriteLst(dialog, kMailboxList, mailbox.row, IndexEntryPosition(i));
  }
  pClrMem(&mailbox.entry, sizeof mailbox.entry);
  pClrMem(mailbox.row, sizeof mailbox.row);
  return 1;
}

int32_t NewMail() {
  PrepareCompose();
  OpenWriter(Dialog(), &mailbox.context);
  ResetCompose();
  return 1;
}

int32_t OpenMail() {
  ReaderState& reader = Reader();
  pClrMem(reader.mailPath, sizeof reader.mailPath);
  reader.replyFlag = 0;
  int32_t position = pReadLst(Dialog(), kMailboxList, nullptr);
  // No row selected, or a value that is no entry of the index: nothing to open.
  MailHeader& entry = mailbox.entry;
  if (!ReadEntry(position, entry)) return 1;
  if (!Unlocked(entry) || !FindMailFile(entry)) {
    pClrMem(&entry, sizeof entry);
    pClrMem(reader.mailPath, sizeof reader.mailPath);
    return 1;
  }
  SetSlot(entry.status, kStatusOpened);
  WriteEntry(position, entry);
  pClrMem(&entry, sizeof entry);
  PrepareCompose();
  OpenReader(Dialog(), &mailbox.context);
  if (reader.replyFlag == 1) {
    reader.replyFlag = 0;
    OpenWriter(Dialog(), &mailbox.context);
  }
  ResetCompose();
  pClrMem(reader.mailPath, sizeof reader.mailPath);
  return 1;
}

int32_t ChangeAccountKey() {
  char key[16] = {};
  WindowRecord* owner = &mailbox.record;
  const WindowContext* context = &mailbox.context;
  if (vlAskLoader(-1, "Enter your account login key", key, kKeyLength, context, owner) != 1) {
    Tell("Enter your account login key", kMailboxChange);
    return 1;
  }
  if (vlAskLoader(-1, "Confirm your account login key", key, kKeyLength, context, owner) != 1) {
    Tell("Confirm your account login key", kMailboxChange);
    pClrMem(key, sizeof key);
    return 1;
  }
  // Compared on copies: the comparison folds its texts in place.
  char typed[sizeof key + 1] = {};
  char stored[sizeof(AccountRecord::accountKey) + 1];
  AppendBounded(key, typed, sizeof typed);
  SlotText(ActiveAccount().record.accountKey, stored);
  int32_t same = pIsStrEqual(typed, stored);
  pClrMem(typed, sizeof typed);
  pClrMem(stored, sizeof stored);
  pClrMem(key, sizeof key);
  if (same != 1) {
    Tell("Wrong account key. Re-confirm.", kMailboxChange);
    return 1;
  }
  if (vlAskLoader(-1, "Enter your new account key", key, kKeyLength, context, owner) != 1) {
    Tell("Wrong entry for account new key", kMailboxChange);
    return 1;
  }
  if (vlAskLoader(-1, "Confirm your new account key", key, kKeyLength, context, owner) != 1) {
    Tell("Wrong new account key. Re-confirm.", kMailboxChange);
    pClrMem(key, sizeof key);
    return 1;
  }
  StatusLine("Changing account key...");
  if (StoreAccountKey(key))
    StatusLine("Account key changed");
  else
    StatusLine("The account key could not be stored; it is unchanged");
  pClrMem(key, sizeof key);
  return 1;
}
