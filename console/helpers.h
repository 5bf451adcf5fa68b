// console/helpers.h -- small helpers shared by the console's own files.
//
// Configuration slots come from files: a slot whose text fills it without a
// terminator must never make a reader run on into the next field, so every
// slot is read, shown and folded here within its width.
#pragma once
#include <stdint.h>

#include "config/config.h"
#include "winapi/types.h"

// The control id (low word) and the notification code (high word) of a command.
int32_t CommandId(WPARAM wParam);
int32_t CommandCode(WPARAM wParam);

// Copies at most limit characters of text (stopping at its terminator) into
// dest, which then holds them and a terminator; dest has limit + 1 bytes.
void CopyBounded(const char* text, int32_t limit, char* dest);

// The text of a slot, at most width - 1 characters, into out (width bytes).
void SlotText(const ConfigRecord& record, FieldSlot slot, char* out);

// Folds "A".."Z" to lower case in place, up to the terminator or limit bytes.
void FoldBounded(char* text, int32_t limit);
// The same for a record slot.
void FoldSlot(ConfigRecord& record, FieldSlot slot);

// Length of text, but at most limit.
int32_t LengthBounded(const char* text, int32_t limit);

// A new message on the console's status line, replacing what it showed.
void ShowStatus(const char* text);
// The status line given back the text it showed before (no news for the log).
void RestoreStatus(const char* text);

// A call asked for from outside (vlpost --call): the file "CALL.NOW" in the
// program folder. Taking it removes it and returns 1; the tick then posts as
// after the writer's Send, whatever the courier setting. A request that
// cannot be removed is not taken (it would post at every tick) and says so on
// the status line.
constexpr const char* kCallRequestName = "CALL.NOW";
int32_t TakeCallRequest();

// The machine's log hears of the line indicators' changes, as
// ShowLineIndicators gets them (1 on, -1 off, anything else unchanged):
// port open or closed, DSR, CTS, ring, carrier.
void LogLineIndicators(int32_t on, int32_t dsr, int32_t cts, int32_t rng, int32_t cd);
