// Text, path, key and geometry translations for the desktop presenter.
#include "winapi/fltk/convert.h"

#include <FL/Enumerations.H>

#include "winapi/presenter.h"
#include "winapi/winapi.h"

namespace vlfl {

std::string toUtf8(const std::string& cp1252) { return waToUtf8(cp1252); }
std::string fromUtf8(const std::string& utf8) { return waFromUtf8(utf8); }

std::string toNewlines(const std::string& crlf) {
  std::string out;
  out.reserve(crlf.size());
  for (size_t i = 0; i < crlf.size(); i++) {
    if (crlf[i] == '\r' && i + 1 < crlf.size() && crlf[i + 1] == '\n') continue;
    out += crlf[i];
  }
  return out;
}

std::string toCrLf(const std::string& lf) {
  std::string out;
  out.reserve(lf.size() + 16);
  for (size_t i = 0; i < lf.size(); i++) {
    if (lf[i] == '\n' && (i == 0 || lf[i - 1] != '\r')) out += '\r';
    out += lf[i];
  }
  return out;
}

std::string labelText(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size() + 4);
  for (char c : utf8) {
    if (c == '&' || c == '@') out += c;
    out += c;
  }
  return out;
}

std::string toProgramPath(const std::string& hostPath) {
  if (hostPath.empty() || hostPath[0] != '/') return "";
  std::string out = "C:";
  for (char c : hostPath) out += c == '/' ? '\\' : c;
  return out;
}

std::string toHostPath(const std::string& programPath) {
  std::string rest = programPath;
  if (rest.size() >= 2 && rest[1] == ':') {
    if (rest[0] != 'C' && rest[0] != 'c') return "";
    rest = rest.substr(2);
  }
  for (char& c : rest)
    if (c == '\\') c = '/';
  return rest;
}

std::string chooserFilter(const std::vector<std::string>& pairs) {
  std::string out;
  for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
    std::vector<std::string> patterns;
    std::string one;
    for (char c : pairs[i + 1] + ";") {
      if (c != ';') {
        one += c;
        continue;
      }
      if (one == "*.*") one = "*";
      if (!one.empty()) patterns.push_back(one);
      one.clear();
    }
    if (patterns.empty()) continue;
    std::string glob = patterns.size() == 1 ? patterns[0] : "{";
    if (patterns.size() > 1) {
      for (size_t k = 0; k < patterns.size(); k++) glob += (k ? "," : "") + patterns[k];
      glob += "}";
    }
    if (!out.empty()) out += '\t';
    // A description that already names its patterns is shown as it is.
    std::string name = toUtf8(pairs[i]);
    out += name.find('(') == std::string::npos ? name + " (" + glob + ")" : name.substr(0, name.find('(')) + "(" + glob + ")";
  }
  return out;
}

int32_t virtualKey(int flKey) {
  if (flKey >= 'a' && flKey <= 'z') return flKey - 'a' + 'A';
  if ((flKey >= '0' && flKey <= '9') || flKey == ' ') return flKey;
  if (flKey >= FL_F + 1 && flKey <= FL_F + 12) return 0x70 + (flKey - FL_F - 1);
  switch (flKey) {
    case FL_Enter:
    case FL_KP_Enter: return VK_RETURN;
    case FL_Escape: return VK_ESCAPE;
    case FL_Tab: return VK_TAB;
    case FL_BackSpace: return 0x08;
    case FL_Delete: return 0x2E;
    case FL_Insert: return 0x2D;
    case FL_Home: return 0x24;
    case FL_End: return 0x23;
    case FL_Page_Up: return 0x21;
    case FL_Page_Down: return 0x22;
    case FL_Left: return 0x25;
    case FL_Up: return 0x26;
    case FL_Right: return 0x27;
    case FL_Down: return 0x28;
    case FL_Shift_L:
    case FL_Shift_R: return 0x10;
    case FL_Control_L:
    case FL_Control_R: return 0x11;
    case FL_Alt_L:
    case FL_Alt_R: return 0x12;
    default: return 0;
  }
}

Frame clientArea(const RECT& outer, bool captioned) {
  int32_t top = WA_BORDER + (captioned ? WA_CAPTION : 0);
  int32_t width = outer.right - outer.left - 2 * WA_BORDER;
  int32_t height = outer.bottom - outer.top - WA_BORDER - top;
  return Frame{WA_BORDER, top, width < 0 ? 0 : width, height < 0 ? 0 : height};
}

int32_t fontPixels(int32_t pointSize) {
  int32_t px = (pointSize * 96 + 36) / 72;
  return px > 0 ? px : 12;
}

}  // namespace vlfl
