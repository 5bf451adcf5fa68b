// winapi/fltk/convert.h -- the pure translations between the program's world
// and FLTK's: text encodings, paths, keys, geometry and label escapes.
//
// Nothing here touches the display, so every rule is tested without one.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "winapi/types.h"

namespace vlfl {

// Code page 1252 (the program's text) to UTF-8 (FLTK's). The five bytes the
// code page leaves undefined travel as the C1 code points of the same value,
// so a round trip gives back every byte.
std::string toUtf8(const std::string& cp1252);
// UTF-8 to code page 1252; characters outside the code page and malformed
// sequences become '?'.
std::string fromUtf8(const std::string& utf8);

// Line ends: the program's edits hold "\r\n", FLTK's text widgets "\n".
std::string toNewlines(const std::string& crlf);
std::string toCrLf(const std::string& lf);

// FLTK draws "@..." as symbols and "&x" as an underlined shortcut; labels
// showing the program's text literally escape both.
std::string labelText(const std::string& utf8);

// Host paths "/a/b" as the program writes them ("C:\a\b"), and back. A
// program path on another drive has no host form: "" is returned.
std::string toProgramPath(const std::string& hostPath);
std::string toHostPath(const std::string& programPath);

// A chooser's filter (pairs of description and ";"-separated patterns) in
// FLTK's form: "Description (pattern)" joined by tabs; "*.*" means every name.
std::string chooserFilter(const std::vector<std::string>& pairs);

// FLTK key code (FL_Enter, 'a', ...) to the classic virtual-key code; 0 for a
// key that has none.
int32_t virtualKey(int flKey);

// Frame of our own drawn dialog windows: the client area inside the outer
// rectangle the dialog manager keeps.
struct Frame {
  int32_t left, top, width, height;
};
Frame clientArea(const RECT& outer, bool captioned);

// Pixel height of the dialog font at a template's point size (96 dpi).
int32_t fontPixels(int32_t pointSize);

}  // namespace vlfl
