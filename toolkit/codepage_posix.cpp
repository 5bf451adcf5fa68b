// One byte between code pages 1252 and 437 through glibc's iconv (see codepage.h).
#include <iconv.h>

#include "toolkit/codepage.h"

namespace codepage {
namespace {

// '?' when the target has no single byte for it (the classic conversion's
// best fit also ends in '?').
unsigned char convert(const char* to, const char* from, unsigned char in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return '?';
  char inBuf[1] = {static_cast<char>(in)};
  char outBuf[8] = {};
  char* ip = inBuf;
  char* op = outBuf;
  size_t inLeft = 1, outLeft = sizeof outBuf;
  bool single = iconv(cd, &ip, &inLeft, &op, &outLeft) != static_cast<size_t>(-1) && outLeft == sizeof outBuf - 1;
  iconv_close(cd);
  return single ? static_cast<unsigned char>(outBuf[0]) : '?';
}

}  // namespace

unsigned char ToOem(unsigned char ansi) { return convert("CP437//TRANSLIT", "CP1252", ansi); }
unsigned char ToAnsi(unsigned char oem) { return convert("CP1252//TRANSLIT", "CP437", oem); }

}  // namespace codepage
