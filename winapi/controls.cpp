// The default window procedures of the controls. Each kind answers the
// classic control messages; a replaced procedure forwards to these.
#include <algorithm>
#include <cstring>

#include "winapi/internal.h"

namespace wa {
namespace {

WaWindow* self(HWND h) { return find(h); }

const char* textOf(LPARAM lParam) { return lParam ? reinterpret_cast<const char*>(lParam) : ""; }

// Copies at most size - 1 characters and a terminator; the count copied.
LRESULT copyOut(const std::string& text, WPARAM size, LPARAM dest) {
  if (dest == 0 || size == 0) return 0;
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(reinterpret_cast<char*>(dest), text.data(), n);
  reinterpret_cast<char*>(dest)[n] = 0;
  return LRESULT(n);
}

// Text and font messages common to every kind; handled says whether it was one.
LRESULT commonMessages(WaWindow& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  switch (message) {
    case WM_SETTEXT:
      w.text = textOf(lParam);
      changed(w, WA_TEXT);
      return 1;
    case WM_GETTEXT: return copyOut(w.text, wParam, lParam);
    case WM_GETTEXTLENGTH: return LRESULT(w.text.size());
    case WM_SETFONT:
      w.font = HFONT(wParam);
      changed(w, WA_FONT);
      return 0;
    case WM_GETFONT: return LRESULT(w.font);
    default: handled = false; return 0;
  }
}

LRESULT staticProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  WaWindow* w = self(h);
  if (w == nullptr) return 0;
  bool handled;
  return commonMessages(*w, message, wParam, lParam, handled);
}

LRESULT buttonProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  WaWindow* w = self(h);
  if (w == nullptr) return 0;
  if (message == BM_GETCHECK) return w->checked;
  if (message == BM_SETCHECK) {
    w->checked = wParam ? 1 : 0;
    changed(*w, WA_CHECK);
    return 0;
  }
  bool handled;
  return commonMessages(*w, message, wParam, lParam, handled);
}

LRESULT progressProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  WaWindow* w = self(h);
  if (w == nullptr) return 0;
  switch (message) {
    case PBM_SETRANGE32: {
      LRESULT previous = LRESULT((uint32_t(uint16_t(w->rangeHigh)) << 16) | uint16_t(w->rangeLow));
      w->rangeLow = int32_t(wParam);
      w->rangeHigh = int32_t(lParam);
      w->position = std::clamp(w->position, std::min(w->rangeLow, w->rangeHigh), std::max(w->rangeLow, w->rangeHigh));
      changed(*w, WA_PROGRESS);
      return previous;
    }
    case PBM_SETPOS: {
      int32_t previous = w->position;
      w->position = std::clamp(int32_t(wParam), std::min(w->rangeLow, w->rangeHigh), std::max(w->rangeLow, w->rangeHigh));
      changed(*w, WA_PROGRESS);
      return previous;
    }
    case PBM_GETPOS: return w->position;
    default: {
      bool handled;
      return commonMessages(*w, message, wParam, lParam, handled);
    }
  }
}

void editChanged(WaWindow& w) {
  HWND h = w.handle;
  changed(w, WA_TEXT);
  if (WaWindow* again = find(h)) notifyParent(*again, EN_CHANGE, false);
}

LRESULT editProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  WaWindow* w = self(h);
  if (w == nullptr) return 0;
  switch (message) {
    case WM_SETTEXT:
      w->text = textOf(lParam);
      editChanged(*w);
      return 1;
    case WM_CHAR: {
      if (w->style & CS_READONLY) return 0;
      char c = char(wParam);
      if (c == '\r') {
        if (!(w->style & CS_MULTILINE)) return 0;
        w->text += "\r\n";
      } else if (c == '\b') {
        if (w->text.empty()) return 0;
        w->text.pop_back();
      } else if (uint8_t(c) < 32 || ((w->style & CS_NUMBER) && (c < '0' || c > '9'))) {
        return 0;  // a digits-only field refuses other characters
      } else {
        w->text += c;
      }
      editChanged(*w);
      return 0;
    }
    case WM_SETFOCUS: notifyParent(*w, EN_SETFOCUS, false); return 0;
    case WM_KILLFOCUS: notifyParent(*w, EN_KILLFOCUS, false); return 0;
    default: {
      bool handled;
      return commonMessages(*w, message, wParam, lParam, handled);
    }
  }
}

// List boxes and drop-down combo boxes share their behaviour; only the
// message numbers differ.
struct ListMessages {
  UINT add, insert, remove, reset, setSelection, getSelection, getText, getTextLength, count, getData, setData,
      findExact;
};
constexpr ListMessages listBoxMessages{LB_ADDSTRING,  LB_INSERTSTRING, LB_DELETESTRING, LB_RESETCONTENT,
                                       LB_SETCURSEL,  LB_GETCURSEL,    LB_GETTEXT,      LB_GETTEXTLEN,
                                       LB_GETCOUNT,   LB_GETITEMDATA,  LB_SETITEMDATA,  LB_FINDSTRINGEXACT};
constexpr ListMessages comboMessages{CB_ADDSTRING,  CB_INSERTSTRING, CB_DELETESTRING, CB_RESETCONTENT,
                                     CB_SETCURSEL,  CB_GETCURSEL,    CB_GETLBTEXT,    CB_GETLBTEXTLEN,
                                     CB_GETCOUNT,   CB_GETITEMDATA,  CB_SETITEMDATA,  CB_FINDSTRINGEXACT};

bool validRow(const WaWindow& w, WPARAM index) { return int64_t(intptr_t(index)) >= 0 && size_t(index) < w.items.size(); }

LRESULT insertRow(WaWindow& w, size_t at, const char* text) {
  w.items.insert(w.items.begin() + ptrdiff_t(at), WaItem{text, 0});
  if (w.selection >= 0 && size_t(w.selection) >= at) w.selection++;
  changed(w, WA_ITEMS);
  return LRESULT(at);
}

// Searches after row 'start' and wraps round to it (start -1: from the top).
LRESULT findExact(const WaWindow& w, WPARAM start, const char* text) {
  size_t n = w.items.size();
  if (n == 0) return LB_ERR;
  intptr_t s = intptr_t(start);
  size_t first = (s < 0 || size_t(s) >= n) ? 0 : size_t(s) + 1;
  for (size_t i = 0; i < n; i++) {
    size_t row = (first + i) % n;
    if (compareFolded(w.items[row].text, text) == 0) return LRESULT(row);
  }
  return LB_ERR;
}

LRESULT listMessage(WaWindow& w, const ListMessages& m, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  if (message == m.add) {
    const char* text = textOf(lParam);
    size_t at = w.items.size();
    if (w.style & CS_SORT) {
      auto it = std::upper_bound(w.items.begin(), w.items.end(), std::string(text),
                                 [](const std::string& t, const WaItem& item) { return compareFolded(t, item.text) < 0; });
      at = size_t(it - w.items.begin());
    }
    return insertRow(w, at, text);
  }
  if (message == m.insert) {
    intptr_t at = intptr_t(wParam);
    if (at < 0) at = intptr_t(w.items.size());
    if (size_t(at) > w.items.size()) return LB_ERR;
    return insertRow(w, size_t(at), textOf(lParam));
  }
  if (message == m.remove) {
    if (!validRow(w, wParam)) return LB_ERR;
    int32_t row = int32_t(wParam);
    w.items.erase(w.items.begin() + row);
    if (w.selection == row)
      w.selection = -1;
    else if (w.selection > row)
      w.selection--;
    changed(w, WA_ITEMS | WA_SELECTION);
    return LRESULT(w.items.size());
  }
  if (message == m.reset) {
    w.items.clear();
    w.selection = -1;
    changed(w, WA_ITEMS | WA_SELECTION);
    return 0;
  }
  if (message == m.setSelection) {
    if (intptr_t(wParam) == -1) {
      w.selection = -1;
      changed(w, WA_SELECTION);
      return LB_ERR;
    }
    if (!validRow(w, wParam)) return LB_ERR;
    w.selection = int32_t(wParam);
    changed(w, WA_SELECTION);
    return w.selection;
  }
  if (message == m.getSelection) return w.selection;
  if (message == m.getText) {
    if (!validRow(w, wParam) || lParam == 0) return LB_ERR;
    const std::string& t = w.items[wParam].text;
    std::memcpy(reinterpret_cast<char*>(lParam), t.c_str(), t.size() + 1);
    return LRESULT(t.size());
  }
  if (message == m.getTextLength) return validRow(w, wParam) ? LRESULT(w.items[wParam].text.size()) : LRESULT(LB_ERR);
  if (message == m.count) return LRESULT(w.items.size());
  if (message == m.getData) return validRow(w, wParam) ? w.items[wParam].data : LRESULT(LB_ERR);
  if (message == m.setData) {
    if (!validRow(w, wParam)) return LB_ERR;
    w.items[wParam].data = lParam;
    changed(w, WA_ITEMS);
    return 1;
  }
  if (message == m.findExact) return findExact(w, wParam, textOf(lParam));
  handled = false;
  return 0;
}

LRESULT listProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  WaWindow* w = self(h);
  if (w == nullptr) return 0;
  bool handled;
  LRESULT r = listMessage(*w, listBoxMessages, message, wParam, lParam, handled);
  return handled ? r : commonMessages(*w, message, wParam, lParam, handled);
}

LRESULT comboProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  WaWindow* w = self(h);
  if (w == nullptr) return 0;
  bool handled;
  LRESULT r = listMessage(*w, comboMessages, message, wParam, lParam, handled);
  if (handled) return r;
  // A drop-down list's own text is its selected row.
  std::string shown = w->selection >= 0 ? w->items[size_t(w->selection)].text : std::string();
  if (message == WM_GETTEXT) return copyOut(shown, wParam, lParam);
  if (message == WM_GETTEXTLENGTH) return LRESULT(shown.size());
  return commonMessages(*w, message, wParam, lParam, handled);
}

}  // namespace

WNDPROC defaultProcedure(ControlKind kind) {
  switch (kind) {
    case CTL_BUTTON:
    case CTL_CHECKBOX: return buttonProcedure;
    case CTL_EDIT: return editProcedure;
    case CTL_LISTBOX: return listProcedure;
    case CTL_COMBOBOX: return comboProcedure;
    case CTL_PROGRESS: return progressProcedure;
    default: return staticProcedure;
  }
}

}  // namespace wa
