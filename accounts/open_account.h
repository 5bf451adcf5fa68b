// accounts/open_account.h -- the account whose mailbox is showing.
//
// OpenAccount fills this record after a successful login and clears it when
// the mailbox dialog has closed; an account is open exactly while the mailbox
// runs. The mailbox, the reader, the writer and the contact picker read it
// (and the picker keeps contactBookSize up to date as it appends entries).
// record is held unscrambled; the paths are those BuildAccountPaths makes.
#pragma once
#include <stdint.h>

#include "store/format.h"
#include "toolkit/window.h"

struct ActiveAccountState {
  WindowContext context;        // the opener's copy of the program context
  AccountRecord record;         // unscrambled
  char accountFolder[256];      // program folder "\" E "[@]"
  char accountFile[256];        // account folder "\" E "[@]"
  char contactBookPath[256];    // account folder "\" E "[#]"
  uint32_t contactBookSize;     // bytes; 0 when the book is missing or empty
  int32_t open;                 // 1 while the mailbox dialog runs
};

ActiveAccountState& ActiveAccount();
void ResetActiveAccount();

// The mailbox dialog (resource 6000), run modally over the console for the
// account in ActiveAccount(); returns when the user has logged out.
int32_t OpenMailbox(HWND console, const WindowContext* context);
