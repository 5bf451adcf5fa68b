// Text, path, key and geometry translations for the desktop presenter.
#include "winapi/fltk/convert.h"

#include <FL/Enumerations.H>

#include "winapi/winapi.h"

namespace vlfl {
namespace {

// Code points of bytes 0x80..0x9F; the undefined ones keep their own value.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

int byteOf(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return int(cp);
  for (int i = 0; i < 32; i++)
    if (kHighControls[i] == cp) return 0x80 + i;
  return '?';
}

// Decodes one UTF-8 sequence at s[i]; advances i. Malformed input gives -1.
int32_t decodeOne(const std::string& s, size_t& i) {
  unsigned char c = s[i++];
  if (c < 0x80) return c;
  int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0) return -1;
  uint32_t cp = c & (0x3F >> extra);
  for (int k = 0; k < extra; k++) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  static constexpr uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[extra] || cp > 0x10FFFF) return -1;
  return int32_t(cp);
}

}  // namespace

std::string toUtf8(const std::string& cp1252) {
  std::string out;
  out.reserve(cp1252.size() + 8);
  for (unsigned char c : cp1252) appendUtf8(out, c >= 0x80 && c < 0xA0 ? kHighControls[c - 0x80] : c);
  return out;
}

std::string fromUtf8(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    int32_t cp = decodeOne(utf8, i);
    out += char(cp < 0 ? '?' : byteOf(uint32_t(cp)));
  }
  return out;
}

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
