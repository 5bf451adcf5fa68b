// One byte between code pages 1252 and 437 through the platform's tables
// (see codepage.h). No best fit: a character without its own byte in the
// target is '?', as with the POSIX build.
#include <windows.h>

#include "toolkit/codepage.h"

namespace codepage {
namespace {

unsigned char convert(UINT to, UINT from, unsigned char in) {
  char inBuf[1] = {static_cast<char>(in)};
  wchar_t wide[2] = {};
  if (MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, inBuf, 1, wide, 2) != 1) return '?';
  char outBuf[4] = {};
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(to, WC_NO_BEST_FIT_CHARS, wide, 1, outBuf, sizeof outBuf, "?", &usedDefault);
  return n == 1 && !usedDefault ? static_cast<unsigned char>(outBuf[0]) : '?';
}

}  // namespace

unsigned char ToOem(unsigned char ansi) { return convert(437, 1252, ansi); }
unsigned char ToAnsi(unsigned char oem) { return convert(1252, 437, oem); }

}  // namespace codepage
