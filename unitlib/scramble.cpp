// Record scrambling and file names (see unitlib.h for the reasoning).
#include <string.h>

#include "platform/unit.h"
#include "unitlib/unitlib.h"

namespace {

// The 16 control bytes that scramble onto hex digits, and the digits.
constexpr unsigned char kHexSource[16] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                          0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15};
constexpr char kHexDigits[] = "0123456789abcdef";

// Fixed keys of the two transforms: changing them makes every stored record
// and every name unreadable.
constexpr uint64_t kRecordKey = 0x56c3a1d2e4b7f019ull;
constexpr uint64_t kNameKey = 0x9e3779b97f4a7c15ull;

// Which class a byte value belongs to and its index inside it, built once.
struct Classes {
  unsigned char sourceIndex[256];  // index in kHexSource or in the 240 others
  bool isSource[256];
  unsigned char others[240];       // bytes outside kHexSource, ascending
  unsigned char digitIndex[256];   // index in kHexDigits or in the 240 non-digits
  bool isDigit[256];
  unsigned char nonDigits[240];    // bytes that are not hex digits, ascending
  unsigned char unitInverse[240];  // multiplicative inverses mod 240 (0: none)
  unsigned char units[64];         // the 64 units of the ring mod 240
};

Classes makeClasses() {
  Classes c{};
  for (int i = 0; i < 16; ++i) {
    c.isSource[kHexSource[i]] = true;
    c.sourceIndex[kHexSource[i]] = static_cast<unsigned char>(i);
    unsigned char d = static_cast<unsigned char>(kHexDigits[i]);
    c.isDigit[d] = true;
    c.digitIndex[d] = static_cast<unsigned char>(i);
  }
  int o = 0, n = 0, u = 0;
  for (int b = 0; b < 256; ++b) {
    if (!c.isSource[b]) {
      c.sourceIndex[b] = static_cast<unsigned char>(o);
      c.others[o++] = static_cast<unsigned char>(b);
    }
    if (!c.isDigit[b]) {
      c.digitIndex[b] = static_cast<unsigned char>(n);
      c.nonDigits[n++] = static_cast<unsigned char>(b);
    }
  }
  for (int a = 1; a < 240; ++a)
    for (int x = 1; x < 240; ++x)
      if (a * x % 240 == 1) {
        c.unitInverse[a] = static_cast<unsigned char>(x);
        c.units[u++] = static_cast<unsigned char>(a);
      }
  return c;
}

const Classes& classes() {
  static const Classes c = makeClasses();
  return c;
}

uint64_t mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

// The key of position i: an affine map inside each class.
struct PositionKey {
  unsigned mul16, add16;    // on the 16 source bytes / hex digits
  unsigned mul240, add240;  // on the other 240
};

PositionKey keyOf(uint64_t position) {
  uint64_t k = mix(position ^ kRecordKey);
  PositionKey key;
  key.mul16 = static_cast<unsigned>(k & 7) * 2 + 1;
  key.add16 = static_cast<unsigned>(k >> 3) & 15;
  key.mul240 = classes().units[(k >> 8) & 63];
  key.add240 = static_cast<unsigned>((k >> 16) % 240);
  return key;
}

unsigned inverse16(unsigned odd) {
  for (unsigned x = 1; x < 16; x += 2)
    if (odd * x % 16 == 1) return x;
  return 1;
}

unsigned char scrambleByte(uint64_t position, unsigned char b) {
  const Classes& c = classes();
  PositionKey key = keyOf(position);
  unsigned idx = c.sourceIndex[b];
  if (c.isSource[b]) return static_cast<unsigned char>(kHexDigits[(key.mul16 * idx + key.add16) % 16]);
  return c.nonDigits[(key.mul240 * idx + key.add240) % 240];
}

unsigned char unscrambleByte(uint64_t position, unsigned char b) {
  const Classes& c = classes();
  PositionKey key = keyOf(position);
  unsigned idx = c.digitIndex[b];
  if (c.isDigit[b]) return kHexSource[inverse16(key.mul16) * ((idx + 16 - key.add16) % 16) % 16];
  return c.others[c.unitInverse[key.mul240] * ((idx + 240 - key.add240) % 240) % 240];
}

// u_j and its inverse: xor with a key byte, then an odd multiplier and an
// offset modulo 256.
struct NameKey {
  unsigned char x, mul, add, mulInverse;
};

NameKey nameKeyOf(uint64_t j) {
  uint64_t k = mix(j ^ kNameKey);
  NameKey key;
  key.x = static_cast<unsigned char>(k);
  key.mul = static_cast<unsigned char>((k >> 8) | 1);
  key.add = static_cast<unsigned char>(k >> 16);
  unsigned char inv = 1;
  for (unsigned v = 1; v < 256; v += 2)
    if ((v * key.mul & 0xFF) == 1) inv = static_cast<unsigned char>(v);
  key.mulInverse = inv;
  return key;
}

unsigned char nameEncode(uint64_t j, unsigned char b) {
  NameKey k = nameKeyOf(j);
  return static_cast<unsigned char>(((b ^ k.x) * k.mul + k.add) & 0xFF);
}

unsigned char nameDecode(uint64_t j, unsigned char e) {
  NameKey k = nameKeyOf(j);
  return static_cast<unsigned char>((((e - k.add) & 0xFF) * k.mulInverse & 0xFF) ^ k.x);
}

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool isNameText(const unsigned char* b, size_t length) {
  if (length < 2 || length % 2 != 0) return false;
  size_t n = length / 2;
  for (size_t i = 0; i < n; ++i)
    if (b[i] == 0) return false;
  for (size_t i = n; i < length; ++i)
    if (b[i] != 0) return false;
  return true;
}

bool isName(const unsigned char* b, size_t length) {
  if (length < 2 || length % 2 != 0) return false;
  for (size_t j = 0; j < length / 2; ++j) {
    int hi = hexValue(b[2 * j]), lo = hexValue(b[2 * j + 1]);
    if (hi < 0 || lo < 0 || nameDecode(j, static_cast<unsigned char>(hi * 16 + lo)) == 0) return false;
  }
  return true;
}

// From the last text byte back, so that no text byte is overwritten before
// it was read.
void encodeName(unsigned char* b, size_t length) {
  for (size_t j = length / 2; j-- > 0;) {
    unsigned char e = nameEncode(j, b[j]);
    b[2 * j] = static_cast<unsigned char>(kHexDigits[e >> 4]);
    b[2 * j + 1] = static_cast<unsigned char>(kHexDigits[e & 15]);
  }
}

void decodeName(unsigned char* b, size_t length) {
  size_t n = length / 2;
  for (size_t j = 0; j < n; ++j)
    b[j] = nameDecode(j, static_cast<unsigned char>(hexValue(b[2 * j]) * 16 + hexValue(b[2 * j + 1])));
  memset(b + n, 0, n);
}

}  // namespace

void vlData(int32_t direction, void* buffer, int32_t length) {
  if (!buffer || length <= 0 || (direction != 1 && direction != -1)) return;
  unsigned char* b = static_cast<unsigned char*>(buffer);
  size_t n = static_cast<size_t>(length);
  if (direction == 1) {
    if (isNameText(b, n)) return encodeName(b, n);
    for (size_t i = 0; i < n; ++i) b[i] = scrambleByte(i, b[i]);
  } else {
    if (isName(b, n)) return decodeName(b, n);
    for (size_t i = 0; i < n; ++i) b[i] = unscrambleByte(i, b[i]);
  }
}
