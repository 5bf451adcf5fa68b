// The prompt dialog and its Enter-key filter.
#include "console/prompt.h"

#include "console/helpers.h"
#include "toolkit/dialog.h"
#include "toolkit/text.h"

namespace {

PromptState state;

int32_t EditIdForMode(int32_t mode) {
  switch (mode) {
    case kPromptText: return kPromptTextEditId;
    case kPromptDigits: return kPromptDigitEditId;
    case kPromptKey: return kPromptKeyEditId;
    default: return 0;
  }
}

bool IsEmpty(const char* text) { return text[0] == 0; }

// The answer, cut to maxLength characters, replaces the caller's text.
void StoreAnswer(char* buffer, int32_t maxLength) {
  pClrMem(buffer, maxLength);
  pCopyMem(state.answer, buffer, LengthBounded(state.answer, maxLength));
}

// Confirm-or-set: an empty buffer takes the answer as the new key, a stored
// key must equal the whole answer, letter case aside.
int32_t SetOrConfirmKey(char* buffer, int32_t maxLength) {
  if (IsEmpty(buffer)) {
    StoreAnswer(buffer, maxLength);
    return 1;
  }
  FoldBounded(buffer, maxLength);
  LowerCaseInPlace(state.answer);
  char stored[kPromptAnswerSize];
  CopyBounded(buffer, maxLength, stored);
  return pCmp(stored, state.answer) == 1 ? 1 : 0;
}

void InitPrompt(HWND dialog) {
  tkDialogInit(&state.record, dialog, PromptProc, state.caption);
  pGetWinParm(state.owner.left, state.owner.top, state.owner.width, state.owner.height, &state.record);
  const int32_t editId = EditIdForMode(state.mode);
  pWndShow(dialog, editId, 1);
  state.edit = tkGetDlgItem(dialog, editId);
  pWndFocus(dialog, editId);
  tkInstallEnterFilter(&state.filter, dialog, editId, kPromptSubmitId, PromptEnterFilter);
  if (state.mode != kPromptKey && !IsEmpty(state.answer)) pWriteWndStr(dialog, editId, state.answer);
}

void SubmitPrompt(HWND dialog) {
  const int32_t editId = EditIdForMode(state.mode);
  pClrMem(state.answer, kPromptAnswerSize);
  pReadWndStr(dialog, editId, state.answer, kPromptMaxLength);
  pWndShow(dialog, editId, 0);
  pWndEnable(dialog, editId, 0);
  tkEndDialog(dialog, 1);
}

}  // namespace

PromptState& Prompt() { return state; }

void ResetPrompt() { pClrMem(&state, sizeof state); }

int32_t vlAskLoader(int32_t mode, const char* caption, char* buffer, int32_t maxLength,
                    const WindowContext* context, const WindowRecord* owner) {
  // A second prompt while one is open would overwrite the first one's answer.
  if (buffer == nullptr || context == nullptr || maxLength < 0 || EditIdForMode(mode) == 0 || state.open)
    return 0;
  if (maxLength > kPromptMaxLength) maxLength = kPromptMaxLength;
  pClrMem(state.caption, kPromptCaptionSize);
  pClrMem(state.answer, kPromptAnswerSize);
  pCopyMem(context, &state.context, sizeof state.context);
  pClrMem(&state.owner, sizeof state.owner);
  if (owner != nullptr) pCopyMem(owner, &state.owner, sizeof state.owner);
  if (caption != nullptr) CopyBounded(caption, kPromptCaptionSize - 1, state.caption);
  state.mode = mode;
  state.edit = 0;
  // A stored key is never shown.
  if (!IsEmpty(buffer) && mode != kPromptKey) CopyBounded(buffer, maxLength, state.answer);

  state.open = 1;
  tkDialogBox(state.context.instance, kPromptDialogId, state.owner.handle, PromptProc, 0);
  state.open = 0;
  state.edit = 0;
  pClrMem(&state.filter, sizeof state.filter);

  if (IsEmpty(state.answer)) return 0;
  if (mode == kPromptKey) return SetOrConfirmKey(buffer, maxLength);
  StoreAnswer(buffer, maxLength);
  return 1;
}

LRESULT PromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitPrompt(dialog);
      return 0;  // the focus is set already
    case WM_PAINT:
      tkDialogPaint(&state.record, 0, 0, state.context.instance);
      return 1;
    case WM_COMMAND:
      if (CommandId(wParam) == kPromptSubmitId) SubmitPrompt(dialog);
      return 1;  // Enter and Esc arrive as commands and do nothing
    case WM_CLOSE:
      pClearWndStr(dialog, EditIdForMode(state.mode));
      tkSendMessage(dialog, WM_COMMAND, kPromptSubmitId, 0);
      return 1;
    default:
      return 0;
  }
}

LRESULT PromptEnterFilter(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  return tkRunEnterFilter(&state.filter, edit, message, wParam, lParam);
}
