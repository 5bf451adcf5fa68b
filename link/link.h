// link/link.h -- the modem link and the remote transfer protocol.
#pragma once
#include <stdint.h>

int32_t ToggleLink();
int32_t DialMachine(const char* machineId);
int32_t HangUp();
int32_t WaitForOk(uint32_t limitMs);
int32_t ClearCommandBuffers();
// The communication library's event handler (types 1-4 line changes, 5 data).
int32_t OnLinkEvent(int32_t type, int32_t state, const char* data, int32_t length);
int32_t DeliverRemoteMails();
int32_t AnnounceMail(const char* machineId, char* announce, int32_t length);
