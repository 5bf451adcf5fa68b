// accounts/mailbox.h -- the mailbox: the hub of an open account.
//
// Principles of operation
//
// The mailbox (dialog 6000) lists the entries of the open account's mailbox
// index, account folder "\" E "[=]", in a sorted list box: one row per whole
// 520-byte entry, its text the sender, subject, stamp and status in fixed
// columns (so rows sort by sender, then subject, then stamp), its item value
// the entry's 1-based file position. The position is the only link from a row
// to its mail: the entry's sender and postedAt name the mail file N "[=]".
//
// Opening a row asks for the mail's lock key when it has one, marks the
// entry "[O]" (one whole entry rewritten at its own position; every other
// entry stays as it is) and runs the reader. A position is used only when it
// is the start of a whole entry of the index; Enter with no row selected does
// nothing. The list is built once, at login: entries delivered meanwhile and
// the "[O]" just written show at the next login.
//
// New opens the writer for a new mail, Change changes the account key
// (stored only after the record has been written), Logout closes the mailbox.
#pragma once
#include <stdint.h>

#include "accounts/mail_common.h"
#include "store/format.h"
#include "toolkit/window.h"

enum MailboxControl : int32_t {
  kMailboxHeaderLine = 6001,
  kMailboxList = 6002,
  kMailboxNew = 6003,
  kMailboxChange = 6004,
  kMailboxLogout = 6005
};

constexpr const char* kMailboxTitle = "Velloran :: Login";

struct MailboxState {
  WindowRecord record;
  WindowContext context;
  TkEnterFilter filter;   // list 6002
  char indexPath[256];
  MailHeader entry;         // the entry being listed or opened, unscrambled
  char row[256];
};

MailboxState& Mailbox();
void ResetMailbox();

// Runs the mailbox over the console for the open account; 1 after Logout.
int32_t OpenMailbox(HWND console, const WindowContext* context);
int32_t LoadMailboxList();
int32_t NewMail();
int32_t OpenMail();
int32_t ChangeAccountKey();

// The list's column header line and the row of one entry, appended to out
// (at least 128 bytes, cleared by the caller).
void MailboxHeaderLine(char* out);
void MailboxRow(const MailHeader& entry, char* out);
