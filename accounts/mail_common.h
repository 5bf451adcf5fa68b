// accounts/mail_common.h -- small helpers shared by the mailbox, reader,
// writer and contact picker.
//
// A tag read from a mail may hold a path, a wildcard or a device name; the
// checks here decide whether it can only ever name a file in the folder the
// user chose, and reduce it to such a name when not. They also hold the two
// console outputs every long operation uses, the status line and the progress
// bar, and the Enter-key filter that the mailbox list and the picker share.
//
//  StatusLine       one message, built from up to five pieces, kept below the
//                   status accumulator's 256 bytes by cutting the longest
//                   piece in the middle ("...") when the whole would not fit
//  Progress         the console's progress bar in percent of a total
//  IsSafeBareName   a name that can only ever name a file in its folder
//  MakeSafeBareName the safe name a foreign name is reduced to
//  ChunkEndsFile    where the chunks of one attached file end
//  SaveNameFor      the name an attachment is saved under
//  InstallListEnterFilter  the Enter-key filter of the mailbox list and the picker
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "store/format.h"
#include "toolkit/dialog.h"
#include "toolkit/window.h"
#include "winapi/types.h"

namespace mailui {

void StatusLine(const char* a, const char* b = nullptr, const char* c = nullptr, const char* d = nullptr,
                const char* e = nullptr);
void Progress(uint32_t done, uint32_t total);

// Names at most this long are taken (one less than the 48-byte tag slot).
constexpr int32_t kMaxBareName = 47;
int32_t IsSafeBareName(const char* name);
// Writes a safe name for 'name' into out (kMaxBareName + 1 bytes): the part
// after its last separator, unsafe characters replaced by "_", trailing dots
// and blanks dropped, and "attachment" when nothing usable is left. Returns
// 1 when the result differs from the name.
int32_t MakeSafeBareName(const char* name, char* out);

// 1 when an attachment chunk is the last of its file: marked so by the
// writer (kFileEndMark), or shorter than a whole chunk. A chunk whose tag
// differs from the one before starts a file as well.
int32_t ChunkEndsFile(const BlockPayload& chunk);
void MarkFileEnd(BlockPayload& chunk);

// The name a file tagged 'tag' is saved under, into out (kMaxBareName + 1
// bytes): the tag when it is safe, else its safe reduction; numbered
// ("report(2).txt") while 'taken' already holds it, without regard to case.
// Returns 1 when the tag had to be reduced.
int32_t SaveNameFor(const char* tag, const std::vector<std::string>& taken, char* out);

// Focuses a list and puts the toolkit's Enter-key filter on it: a released
// Enter then acts as a double-click on the selected row.
void InstallListEnterFilter(TkEnterFilter& filter, HWND dialog, int32_t listId, WNDPROC procedure);

// Shows title " :: " and the open account's id as the dialog's window text.
void ShowAccountTitle(HWND dialog, const char* title);

// The control id and the notification code of a WM_COMMAND.
int32_t CommandId(WPARAM wParam);
int32_t CommandCode(WPARAM wParam);

}  // namespace mailui
