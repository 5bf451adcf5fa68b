// accounts/accounts.h -- accounts and the mail user interface, as the console calls them.
//
// Principles of operation
//
// An account is a folder E "[@]" in the program folder holding one 512-byte
// AccountRecord file (store/format.h); it exists while that file exists and
// is not empty. The three commands work on the console's Id and Key fields:
// CreateAccount makes the folder and the record, RemoveAccount deletes both
// (with the machine's Control Key), OpenAccount logs in and runs the mailbox
// dialog with the account in ActiveAccount() (accounts/open_account.h). Every
// command ends with ClearAccountInput, whatever its outcome.
//
// The UnitRecord's account count is set, after every creation and removal, to
// the number of account folders actually in the program folder, so a folder
// that could not be made or removed never leaves the count wrong.
#pragma once
#include <stdint.h>

#include "store/format.h"
#include "toolkit/window.h"

constexpr int32_t kConsoleIdField = 2011;
constexpr int32_t kConsoleKeyField = 2013;
// Id field read limit: at most 22 characters. The Key field is read with
// room for 15 characters, the longest key the prompt can set, so that every
// key the mailbox's key change stores can also be typed at login.
constexpr int32_t kIdReadLimit = 23;
constexpr int32_t kKeyReadLimit = 16;
constexpr int32_t kKeyLength = 15;
constexpr int32_t kUserNameLength = 31;

// The work buffers of the three commands, zero between uses.
struct AccountInputState {
  char id[24];
  char key[16];
  char userName[48];
  char encodedId[48];
  AccountRecord creation;
  char folder[kPathSize];
  char accountFile[kPathSize];
};

AccountInputState& AccountInput();

int32_t CreateAccount();
int32_t RemoveAccount();
int32_t OpenAccount(HWND console, const WindowContext* context);
int32_t ClearAccountInput();

// Sets the UnitRecord's account count to the number of account folders in
// the program folder and stores the unit file; returns the count.
int32_t RecountAccounts();
