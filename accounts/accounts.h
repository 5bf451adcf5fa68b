// accounts/accounts.h -- accounts and the mail user interface, as the console calls them.
#pragma once
#include <stdint.h>
#include "toolkit/window.h"

int32_t CreateAccount();
int32_t RemoveAccount();
int32_t OpenAccount(HWND console, const WindowContext* context);
int32_t ClearAccountInput();
