// console/prompt.h -- vlAskLoader, the program's one-line input box.
//
// Principles of operation
//
// One small modal dialog (template 10000) with the question as its caption
// and one of three edits sharing a rectangle: plain text (mode 0), digits only
// (mode 1) or masked (mode -1). Every key or name prompt of the program, and
// of anything that loads the program, goes through vlAskLoader.
//
//   mode  edit   on entry the buffer holds   result 1 means
//    0    10001  a value to show (may be "")  the buffer now holds the answer
//    1    10002  likewise, digits only        likewise
//   -1    10003  ""                           the answer was stored (a new key)
//   -1    10003  a stored key                 the answer equals it, ignoring case
//
// An empty answer and the close button give 0 and leave the buffer as it was.
// Confirming folds both the buffer and the answer to lower case in place, so
// a confirmed stored key stays in lower case in the caller's buffer.
//
// The edit is subclassed by the Enter-key filter: focus and position messages
// go no further, and the first key release after the prompt opens only arms
// the filter (the release of the key that opened the prompt must not submit
// it); from then on releasing Enter submits. The caller's buffer is never read
// or written beyond maxLength characters (at most 255).
#pragma once
#include <stdint.h>

#include "toolkit/dialog.h"
#include "toolkit/export.h"
#include "toolkit/window.h"
#include "winapi/types.h"

constexpr int32_t kPromptDialogId = 10000;
constexpr int32_t kPromptTextEditId = 10001;
constexpr int32_t kPromptDigitEditId = 10002;
constexpr int32_t kPromptKeyEditId = 10003;
constexpr int32_t kPromptSubmitId = 10004;
constexpr int32_t kPromptCaptionSize = 128;
constexpr int32_t kPromptAnswerSize = 256;
constexpr int32_t kPromptMaxLength = 255;

constexpr int32_t kPromptText = 0;
constexpr int32_t kPromptDigits = 1;
constexpr int32_t kPromptKey = -1;

// The one prompt's state (the dialog is modal: there is never a second one).
struct PromptState {
  int32_t mode;
  char caption[kPromptCaptionSize];
  char answer[kPromptAnswerSize];  // pre-filled value on entry, typed answer on exit
  WindowContext context;           // the caller's, copied
  WindowRecord owner;              // the caller's window record, copied
  WindowRecord record;             // the prompt's own
  HWND edit;                       // the visible edit while the prompt is open
  TkEnterFilter filter;            // that edit's Enter-key filter
  int32_t open;                    // 1 while the dialog runs
};

PromptState& Prompt();
void ResetPrompt();

// See the table above. caption: the question (at most 127 characters are
// shown); buffer: at least maxLength + 1 bytes; owner: the caller's window
// record, whose window owns the prompt and whose rectangle places it (0: no
// owner). Returns 1 (accepted) or 0.
VL_EXPORT int32_t vlAskLoader(int32_t mode, const char* caption, char* buffer, int32_t maxLength,
                              const WindowContext* context, const WindowRecord* owner);

// The prompt's dialog procedure and the edit's Enter-key filter (for tests).
LRESULT PromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT PromptEnterFilter(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
