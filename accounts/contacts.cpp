// The contact book: Add from the reader, and the picker of the writer.
#include "accounts/contacts.h"

#include "accounts/open_account.h"
#include "accounts/reader.h"
#include "accounts/writer.h"
#include "console/prompt.h"
#include "platform/unit.h"
#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

using namespace mailui;

namespace {

ContactState contacts;

constexpr int32_t kPauseMs = 150;
constexpr int32_t kOwnerNameLength = 31;

int32_t BookSize() {
  int32_t size = pFileSize(ActiveAccount().contactBookPath);
  return size > 0 ? size : 0;
}

// Reads and unscrambles the entry at a 1-based position; 0 unless the
// position starts a whole entry of the book.
int32_t ReadEntry(int32_t position, ContactEntry& entry) {
  pClrMem(&entry, sizeof entry);
  if (position < 1 || (position - 1) % kContactSize != 0 || position > ContactCount() * kContactSize) return 0;
  if (pFileIO(-1, ActiveAccount().contactBookPath, position, &entry, kContactSize) != kContactSize) return 0;
  vlData(-1, &entry, kContactSize);
  return 1;
}

int32_t ReaderAlert(const char* text) {
  return pAlert(kReaderTitle, text, Reader().record.handle, kReaderAdd, 64);
}

// 1 when the book already holds exactly this address.
int32_t HoldsAddress(const char* address) {
  int32_t count = ContactCount();
  ContactEntry& entry = contacts.entry;
  for (int32_t i = 1; i <= count; i++) {
    if (!ReadEntry(ContactPosition(i), entry)) continue;
    char stored[sizeof entry.address + 1];
    SlotText(entry.address, stored);
    pClrMem(&entry, sizeof entry);
    if (pCmp(stored, address) == 1) return 1;
  }
  return 0;
}

// --- the picker ---------------------------------------------------------------

LRESULT PickerListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return tkRunEnterFilter(&contacts.filter, window, message, wParam, lParam);
}

void FillPicker(HWND dialog) {
  int32_t count = ContactCount();
  ContactEntry& entry = contacts.entry;
  for (int32_t i = 1; i <= count; i++) {
    pDoEvent(kPauseMs);
    if (!ReadEntry(ContactPosition(i), entry)) continue;
    char name[sizeof entry.ownerName + 1];
    SlotText(entry.ownerName, name);
    pWriteLst(dialog, kPickerList, name, ContactPosition(i));
  }
  pClrMem(&entry, sizeof entry);
}

// Command 20002: take the entry at the chosen position, if any, and end.
void Pick(HWND dialog) {
  pClrMem(contacts.result, sizeof contacts.result);
  ContactEntry& entry = contacts.entry;
  if (contacts.position > 0 && ReadEntry(contacts.position, entry)) {
    char address[sizeof entry.address + 1];
    SlotText(entry.address, address);
    AppendBounded(address, contacts.result, sizeof contacts.result);
    // One destination has one contact name: the picked entry's replaces any
    // earlier pick instead of growing past the buffer.
    char name[sizeof entry.contactName + 1];
    SlotText(entry.contactName, name);
    ComposeBuffers& compose = Compose();
    pClrMem(compose.contactName, sizeof compose.contactName);
    AppendBounded(name, compose.contactName, sizeof compose.contactName);
  }
  pClrMem(&entry, sizeof entry);
  pWndShow(dialog, kPickerList, 0);
  pWndEnable(dialog, kPickerList, 0);
  tkEndDialog(dialog, 1);
}

LRESULT PickerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      tkDialogInit(&contacts.record, dialog, PickerProc, kPickerTitle);
      const WindowRecord& owner = contacts.owner;
      pGetWinParm(owner.left, owner.top, owner.width, owner.height, &contacts.record);
      InstallListEnterFilter(contacts.filter, dialog, kPickerList, PickerListProc);
      if (ContactCount() > 0) {
        FillPicker(dialog);
      } else {
        pAlert(kPickerTitle, "Your contact book has no entry", dialog, 0, 64);
        tkEndDialog(dialog, 0);
      }
      return 0;
    }
    case WM_PAINT:
      tkDialogPaint(&contacts.record, 0, 0, contacts.context.instance);
      return 1;
    case WM_CLOSE:
      contacts.position = 0;
      tkSendMessage(dialog, WM_COMMAND, kPickerPick, 0);
      return 1;
    case WM_COMMAND:
      if (CommandId(wParam) == kPickerList && CommandCode(wParam) == LBN_DBLCLK) {
        int32_t position = pReadLst(dialog, kPickerList, nullptr);
        // No row selected: nothing to pick, the picker stays.
        if (position < 1) return 1;
        contacts.position = position;
        tkSendMessage(dialog, WM_COMMAND, kPickerPick, 0);
        return 1;
      }
      if (CommandId(wParam) == kPickerPick) {
        Pick(dialog);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace

ContactState& Contacts() { return contacts; }
void ResetContacts() { pClrMem(&contacts, sizeof contacts); }

int32_t ContactCount() { return BookSize() / kContactSize; }

int32_t AddSenderToContacts() {
  ContactEntry& entry = contacts.entry;
  pClrMem(&entry, sizeof entry);
  char sender[sizeof(MailHeader::sender) + 1];
  SlotText(Reader().block.header.sender, sender);
  int32_t count = ContactCount();
  if (count > 0) {
    StatusLine("Scanning contact book for address occurence...");
    if (HoldsAddress(sender)) {
      StatusLine("Similar address exist in contact book");
      pClrMem(&entry, sizeof entry);
      return 1;
    }
  }
  // Whole entries only: a torn tail is written over rather than kept
  // between two entries.
  contacts.position = ContactPosition(count + 1);
  SetSlot(entry.address, sender);
  int32_t answered = vlAskLoader(0, "Enter the address owner's name", entry.ownerName, kOwnerNameLength,
                                 &Reader().context, &Reader().record);
  if (answered == 1) LowerCaseInPlace(entry.ownerName);
  if (answered != 1) {
    ReaderAlert("Wrong entry in address owner's name. Re-enter.");
  } else if (pIsChrValid(entry.ownerName, kNameAlphabet) != 1) {
    ReaderAlert("Invalid character in address owner's name");
  } else {
    vlData(1, &entry, kContactSize);
    int32_t written = pFileIO(1, ActiveAccount().contactBookPath, contacts.position, &entry, kContactSize);
    if (written == kContactSize) {
      ActiveAccount().contactBookSize = static_cast<uint32_t>(contacts.position - 1 + kContactSize);
      StatusLine("Address added to contact book");
    } else {
      StatusLine("The contact book could not be written");
    }
  }
  pClrMem(&entry, sizeof entry);
  return 1;
}

int32_t vlContactLoader(char* out, const WindowContext* windowContext, const WindowRecord* ownerRecord) {
  pClrMem(contacts.record.title, sizeof contacts.record.title);
  pClrMem(contacts.result, sizeof contacts.result);
  pCopyMem(windowContext, &contacts.context, sizeof contacts.context);
  pCopyMem(ownerRecord, &contacts.owner, sizeof contacts.owner);
  pClrMem(&contacts.filter, sizeof contacts.filter);
  contacts.position = 0;
  tkDialogBox(contacts.context.instance, 20000, contacts.owner.handle, PickerProc, 0);
  int32_t n = pLen(contacts.result);
  pClrMem(&contacts.filter, sizeof contacts.filter);
  if (n == 0) return 0;
  pCopyMem(contacts.result, out, n);
  pClrMem(contacts.result, sizeof contacts.result);
  return 1;
}
