// Message boxes, file and folder choosers, and user input from presenters.
#include <cstring>

#include "winapi/internal.h"
#include "winapi/log.h"
#include "winapi/loop.h"

namespace wa {
void runModalLoopForBox(HWND owner, uint32_t boxId);
void returnToOwner(HWND owner, bool ownerWasEnabled);

namespace {

// The classic default button: the first one.
int32_t defaultAnswer(const WaBox& box) {
  if (box.kind != WaBox::Message) return 0;
  return (box.style & 0x0F) == MB_YESNO ? IDYES : IDOK;
}

const char* buttonName(int32_t result) {
  switch (result) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "?";
  }
}

// One log line per box: what it asked and what it was answered.
void logBox(const WaBox& box) {
  if (!waLogIsOpen()) return;
  std::string line;
  if (box.kind == WaBox::Message) {
    line = "\"" + box.caption + "\" " + box.text + " -> " + buttonName(box.result);
  } else {
    const char* kind = box.kind == WaBox::Open ? "Open" : box.kind == WaBox::Save ? "Save" : "Folder";
    line = std::string(kind) + " chooser \"" + box.caption + "\" -> " + (box.result == 1 ? box.path : "(cancelled)");
  }
  waLog(WA_LOG_NOTE, "box", line.c_str());
}

// Shows the box, keeps the loop running until it is answered, gives it back.
WaBox runBox(WaBox box) {
  Manager& m = state();
  box.id = m.nextBox++;
  box.owner = ownerDialog(box.owner);
  bool ownerWasEnabled = box.owner && find(box.owner)->enabled;
  if (box.owner) waEnableWindow(box.owner, 0);
  uint32_t id = box.id;
  m.boxes[id] = box;
  presenter().showBox(box);
  runModalLoopForBox(box.owner, id);
  WaBox done = m.boxes[id];
  if (!done.done) done.result = defaultAnswer(done);
  logBox(done);
  m.boxes.erase(id);
  presenter().hideBox(id);
  returnToOwner(done.owner, ownerWasEnabled);
  return done;
}

std::vector<std::string> filterPairs(const char* filter) {
  std::vector<std::string> out;
  if (filter == nullptr) return out;
  // Pairs of zero-terminated texts, ended by an empty one; a bound keeps a
  // missing final zero from running away.
  for (int i = 0; i < 64 && *filter; i++) {
    out.emplace_back(filter);
    filter += out.back().size() + 1;
  }
  return out;
}

// Writes a chosen path when it fits (size - 1 characters and a terminator).
bool deliverPath(const std::string& path, char* dest, int32_t size) {
  if (dest == nullptr || size <= 0 || path.empty() || path.size() > size_t(size - 1)) return false;
  std::memcpy(dest, path.c_str(), path.size() + 1);
  return true;
}

bool acceptsInput(const WaWindow* w) {
  if (w == nullptr || !w->enabled || !waIsVisible(w->handle)) return false;
  if (w->isDialog) return true;
  const WaWindow* d = find(w->parent);
  return d && d->enabled;
}

HWND defaultButton(const WaWindow& dialog, int32_t& id) {
  for (HWND h : dialog.children) {
    const WaWindow* c = find(h);
    if (c && c->kind == CTL_BUTTON && (c->style & CS_DEFPUSH) && c->enabled) {
      id = c->controlId;
      return h;
    }
  }
  id = IDOK;
  return waGetDlgItem(dialog.handle, IDOK);
}

WPARAM command(int32_t id, int32_t code) { return (WPARAM(uint16_t(code)) << 16) | uint16_t(id); }

}  // namespace
}  // namespace wa

using namespace wa;

int32_t waMessageBox(HWND owner, const char* text, const char* caption, int32_t style) {
  WaBox box;
  box.kind = WaBox::Message;
  box.owner = owner;
  box.caption = caption ? caption : "";
  box.text = text ? text : "";
  box.style = style;
  return runBox(box).result;
}

int32_t waFileChooser(int32_t save, HWND owner, char* dest, int32_t size, const char* filter) {
  WaBox box;
  box.kind = save ? WaBox::Save : WaBox::Open;
  box.owner = owner;
  box.filter = filterPairs(filter);
  if (dest && size > 0) box.path.assign(dest, strnlen(dest, size_t(size)));
  WaBox done = runBox(box);
  return done.result == 1 && deliverPath(done.path, dest, size) ? 1 : 0;
}

int32_t waFolderChooser(HWND owner, const char* caption, const char* instruction, char* dest, int32_t size) {
  WaBox box;
  box.kind = WaBox::Folder;
  box.owner = owner;
  box.caption = caption ? caption : "";
  box.text = instruction ? instruction : "";
  WaBox done = runBox(box);
  return done.result == 1 && deliverPath(done.path, dest, size) ? 1 : 0;
}

bool waAnswerBox(uint32_t boxId, int32_t result, const std::string& path) {
  auto it = state().boxes.find(boxId);
  if (it == state().boxes.end() || it->second.done) return false;
  it->second.result = result;
  it->second.path = path;
  it->second.done = true;
  return true;
}

bool waUserClick(HWND control) {
  WaWindow* c = find(control);
  if (!acceptsInput(c) || c->isDialog || (c->kind != CTL_BUTTON && c->kind != CTL_CHECKBOX)) return false;
  waSetFocus(control);
  if ((c = find(control)) == nullptr) return false;
  if (c->kind == CTL_CHECKBOX) {
    c->checked = c->checked ? 0 : 1;
    changed(*c, WA_CHECK);
  }
  notifyParent(*c, BN_CLICKED, true);
  return true;
}

bool waUserType(HWND control, const std::string& text) {
  WaWindow* c = find(control);
  if (!acceptsInput(c) || c->kind != CTL_EDIT || (c->style & CS_READONLY)) return false;
  waSetFocus(control);
  if ((c = find(control)) == nullptr) return false;
  std::string kept;
  for (char ch : text)
    if (!(c->style & CS_NUMBER) || (ch >= '0' && ch <= '9')) kept += ch;
  c->text = kept;
  changed(*c, WA_TEXT);
  notifyParent(*c, EN_CHANGE, true);
  return true;
}

bool waUserSelect(HWND control, int32_t row, bool doubleClick) {
  WaWindow* c = find(control);
  if (!acceptsInput(c) || (c->kind != CTL_LISTBOX && c->kind != CTL_COMBOBOX)) return false;
  if (row < 0 || size_t(row) >= c->items.size()) return false;
  waSetFocus(control);
  if ((c = find(control)) == nullptr) return false;
  c->selection = row;
  changed(*c, WA_SELECTION);
  notifyParent(*c, c->kind == CTL_LISTBOX ? LBN_SELCHANGE : CBN_SELCHANGE, true);
  if (doubleClick && c->kind == CTL_LISTBOX) notifyParent(*c, LBN_DBLCLK, true);
  return true;
}

// Enter and Esc are the dialog's (IDOK or the default button, IDCANCEL) unless
// a want-return edit has the focus; every key release reaches the focused
// control's current window procedure.
bool waUserKey(HWND control, int32_t vk, bool down) {
  WaWindow* c = find(control);
  if (!acceptsInput(c)) return false;
  if (waGetFocus() != control) waSetFocus(control);
  if ((c = find(control)) == nullptr) return false;
  if (!down) return waPostMessage(control, WM_KEYUP, WPARAM(vk), 0) != 0;
  bool wantsReturn = c->kind == CTL_EDIT && (c->style & CS_WANTRETURN);
  const WaWindow* dialog = c->isDialog ? c : find(c->parent);
  if (dialog && vk == VK_RETURN && !wantsReturn) {
    int32_t id;
    HWND button = defaultButton(*dialog, id);
    return waPostMessage(dialog->handle, WM_COMMAND, command(id, BN_CLICKED), LPARAM(button)) != 0;
  }
  if (dialog && vk == VK_ESCAPE) {
    return waPostMessage(dialog->handle, WM_COMMAND, command(IDCANCEL, BN_CLICKED),
                         LPARAM(waGetDlgItem(dialog->handle, IDCANCEL))) != 0;
  }
  waPostMessage(control, WM_KEYDOWN, WPARAM(vk), 0);
  if (vk == VK_RETURN && c->kind == CTL_EDIT) waPostMessage(control, WM_CHAR, WPARAM('\r'), 0);
  return true;
}

bool waUserClose(HWND dialog) {
  WaWindow* d = find(dialog);
  if (!acceptsInput(d) || !d->isDialog || !(d->style & DS_SYSMENU)) return false;
  return waPostMessage(dialog, WM_CLOSE, 0, 0) != 0;
}

bool waUserMouseUp(HWND dialog, int32_t x, int32_t y) {
  WaWindow* d = find(dialog);
  if (!acceptsInput(d) || !d->isDialog) return false;
  LPARAM at = LPARAM((uint32_t(uint16_t(y)) << 16) | uint16_t(x));
  return waPostMessage(dialog, WM_LBUTTONUP, 0, at) != 0;
}

bool waUserFocus(HWND window) {
  if (!acceptsInput(find(window))) return false;
  waSetFocus(window);
  return true;
}

bool waUserRestore(HWND dialog) {
  WaWindow* d = find(dialog);
  if (d == nullptr || !d->isDialog || !d->minimized) return false;
  d->minimized = false;
  d->paintPending = d->visible;
  changed(*d, WA_RECT);
  return true;
}

bool waUserMove(HWND dialog, int32_t left, int32_t top) {
  WaWindow* d = find(dialog);
  if (!acceptsInput(d) || !d->isDialog || d->minimized) return false;
  return waMoveWindow(dialog, left, top, d->rect.right - d->rect.left, d->rect.bottom - d->rect.top, 0) != 0;
}

void waUserUpdateUiState(HWND dialog) {
  const WaWindow* d = find(dialog);
  if (d == nullptr) return;
  const WPARAM clearCues = (WPARAM(3) << 16) | 2;  // clear "hide focus" and "hide accelerators"
  std::vector<HWND> children = d->children;
  waSendMessage(dialog, WM_UPDATEUISTATE, clearCues, 0);
  for (HWND c : children) waSendMessage(c, WM_UPDATEUISTATE, clearCues, 0);
}
