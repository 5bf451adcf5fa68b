// Accounts: creation, removal and login from the console's Id and Key fields.
#include "accounts/accounts.h"
#include "accounts/open_account.h"
#include "toolkit/text.h"

namespace {
ActiveAccountState active;
}

ActiveAccountState& ActiveAccount() { return active; }
void ResetActiveAccount() { pClrMem(&active, sizeof active); }
