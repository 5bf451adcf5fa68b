// Integers, text and memory (see text.h for the contract).
//
// All arithmetic is done in uint32_t so that the modulo-2^32 results the
// callers rely on never pass through signed overflow. A null text is treated
// as the empty string everywhere: the classic runtime would fault on it, and a
// quiet "nothing there" is the sound reading for callers that test results.
#include "toolkit/text.h"

#include "toolkit/codepage.h"
#include "toolkit/hostpath.h"

#include <stdlib.h>
#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

// The private static result buffers: one per operation, as the callers expect
// (a result stays valid until the next call of the same operation).
struct TextState {
  char chr[4];
  char hex[256];
  char str[256];
  char alphabet[256];
  char oneChar[2];
  // Code page tables, built once on first use.
  bool tablesReady;
  unsigned char ansiToOem[256];
  unsigned char oemToAnsi[256];
};

TextState state;

uint32_t U(int32_t v) { return static_cast<uint32_t>(v); }
int32_t S(uint32_t v) { return static_cast<int32_t>(v); }

const char* orEmpty(const char* s) { return s ? s : ""; }

void upperInPlace(char* s) {
  for (; s && *s; ++s)
    if (*s >= 'a' && *s <= 'z') *s = static_cast<char>(*s - 32);
}

bool bytesEqual(const char* a, const char* b, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// The forward search shared by both substring searches: -1 when the pattern
// is longer than or as long as the text, -2 when it cannot begin at start,
// else the first 1-based hit at or after start, or 0.
int32_t forwardSearch(int32_t start, const char* s, int32_t len, const char* pattern, int32_t plen) {
  if (plen >= len) return -1;
  int32_t last = len - plen + 1;
  if (start < 1 || start > last) return -2;
  for (int32_t k = start; k <= last; ++k)
    if (bytesEqual(s + k - 1, pattern, plen)) return k;
  return 0;
}

// glibc's CP1252 knows no 0x81, 0x8D, 0x8F, 0x90 and 0x9D; the classic platform
// reads them as the C1 controls of the same value. Those have no place in
// code page 437 either, so they become '?' on the way there.
bool undefinedIn1252(unsigned char c) {
  return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

void buildCodePageTables() {
  for (int c = 0; c < 256; ++c) {
    unsigned char b = static_cast<unsigned char>(c);
    bool ascii = c < 128;
    state.ansiToOem[c] = ascii ? b : undefinedIn1252(b) ? '?' : codepage::ToOem(b);
    state.oemToAnsi[c] = ascii ? b : codepage::ToAnsi(b);
  }
  state.tablesReady = true;
}

}  // namespace

void tkResetTextState(void) { memset(&state, 0, sizeof state); }

int32_t pAdd(int32_t a, int32_t b) { return S(U(a) + U(b)); }
int32_t pSubtract(int32_t a, int32_t b) { return S(U(a) - U(b)); }

// Repeated addition of a, b times, is the product modulo 2^32; the sign flip
// of both operands for a negative b does not change that product.
int32_t pMultiply(int32_t a, int32_t b) {
  if (a == 0 || b == 0) return 0;
  return S(U(a) * U(b));
}

// Quotient rounded up in magnitude for |a| >= |b|, 0 for |a| < |b|, with the
// signs applied afterwards: 3577 / 3576 is 2, so a file of 3577 bytes counts
// two payload blocks.
int32_t pDivide(int32_t a, int32_t b) {
  uint32_t ma = a < 0 ? 0u - U(a) : U(a);
  uint32_t mb = b < 0 ? 0u - U(b) : U(b);
  if (ma == 0 || mb == 0 || ma < mb) return 0;
  uint32_t q = ma / mb + (ma % mb != 0 ? 1u : 0u);
  if (a < 0) q = 0u - q;
  if (b < 0) q = 0u - q;
  return S(q);
}

int32_t pMask(int32_t value, int32_t mask) { return pDivide(value & mask, mask); }

int32_t pRange(int32_t value, int32_t low, int32_t high) {
  if (value < low) return -1;
  return value > high ? 1 : 0;
}

int32_t pSetDW(int32_t value) { return value; }
int32_t pSetW2DW(int32_t value) { return S(U(value) & 0xFFFFu); }

int32_t pGetW(char* selector, int32_t value) {
  if (!selector) return 0;
  LowerCaseInPlace(selector);
  if (strcmp(selector, "lword") == 0) return S(U(value) & 0xFFFFu);
  if (strcmp(selector, "hword") == 0) return S(U(value) >> 16);
  return 0;
}

char* pChr(int32_t code) {
  state.chr[0] = static_cast<char>(code & 0xFF);
  return state.chr;
}

int32_t pAsc(const char* s) { return static_cast<unsigned char>(orEmpty(s)[0]); }

int32_t pHexVal(const char* s) {
  s = orEmpty(s);
  int32_t len = pLen(s);
  uint32_t value = 0;
  for (int32_t i = 0; i < len; ++i) {
    uint32_t c = static_cast<unsigned char>(s[len - 1 - i]);
    uint32_t digit = c < 65 ? (c - 48) & 15 : c <= 86 ? (c - 55) & 15 : (c - 87) & 15;
    value += digit << ((4u * U(i)) % 32u);
  }
  return S(value);
}

char* pHex(int32_t value) {
  static const char digits[] = "0123456789ABCDEF";
  memset(state.hex, 0, sizeof state.hex);
  for (int i = 0; i < 8; ++i) state.hex[i] = digits[(U(value) >> (28 - 4 * i)) & 15];
  return state.hex;
}

char* pStr(int32_t value) {
  memset(state.str, 0, sizeof state.str);
  uint32_t magnitude = value < 0 ? 0u - U(value) : U(value);
  int n = 0;
  if (value < 0) state.str[n++] = '-';
  int first = n;
  do {
    state.str[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  for (int i = first, j = n - 1; i < j; ++i, --j) {
    char t = state.str[i];
    state.str[i] = state.str[j];
    state.str[j] = t;
  }
  return state.str;
}

int32_t pStrVal(const char* s) {
  s = orEmpty(s);
  bool negative = *s == '-';
  if (negative) ++s;
  uint32_t value = 0;
  for (; *s; ++s) value = value * 10u + ((static_cast<unsigned char>(*s) - 48u) & 0xFFu);
  return S(negative ? 0u - value : value);
}

int32_t pClrMem(void* dest, int32_t count) { return pFillMem(dest, count, 0); }

int32_t pCopyMem(const void* src, void* dest, int32_t count) {
  if (!src || !dest || count <= 0) return 0;
  const unsigned char* from = static_cast<const unsigned char*>(src);
  unsigned char* to = static_cast<unsigned char*>(dest);
  // First byte first, also when the areas overlap.
  for (int32_t i = 0; i < count; ++i) to[i] = from[i];
  return count;
}

int32_t pFillMem(void* dest, int32_t count, int32_t value) {
  if (!dest || count <= 0) return 0;
  memset(dest, value & 0xFF, static_cast<size_t>(count));
  return count;
}

intptr_t pMemory(int32_t op, intptr_t value) {
  if (op == 1) return value < 0 ? 0 : reinterpret_cast<intptr_t>(calloc(static_cast<size_t>(value) ? static_cast<size_t>(value) : 1, 1));
  if (op == 0 && value != 0) free(reinterpret_cast<void*>(value));
  return 0;
}

int32_t pCmp(const char* a, const char* b) { return strcmp(orEmpty(a), orEmpty(b)) == 0 ? 1 : 0; }

int32_t pLen(const char* s) { return static_cast<int32_t>(strlen(orEmpty(s))); }

char* pMid(const char* src, char* dest, int32_t start, int32_t count) {
  if (src && start >= 1) pCopyMem(src + start - 1, dest, count);
  return dest;
}

char* pLeft(const char* src, char* dest, int32_t n) {
  int32_t len = pLen(src);
  if (n < 1 || n > len) return nullptr;
  pCopyMem(src, dest, n);
  return dest;
}

char* pRight(const char* src, char* dest, int32_t n) {
  int32_t len = pLen(src);
  if (n < 1 || n > len) return nullptr;
  pCopyMem(src + len - n, dest, n);
  return dest;
}

int32_t pInstrL2R(int32_t start, const char* s, const char* pattern) {
  s = orEmpty(s);
  pattern = orEmpty(pattern);
  int32_t len = pLen(s), plen = pLen(pattern);
  if (start < 1 || start > len) start = 1;
  if (plen == len) return pCmp(s, pattern);
  return forwardSearch(start, s, len, pattern, plen);
}

// The last occurrence that begins at or before start. A start after the last
// position where the pattern can begin is pulled back to it, so a pattern of
// several characters is found from the default start too, and a hit after
// start is never reported.
int32_t pInstrR2L(int32_t start, const char* s, const char* pattern) {
  s = orEmpty(s);
  pattern = orEmpty(pattern);
  int32_t len = pLen(s), plen = pLen(pattern);
  if (start < 1 || start > len) start = len;
  if (plen == len) return pCmp(s, pattern);
  if (plen > len) return 0;
  if (start > len - plen + 1) start = len - plen + 1;
  for (int32_t k = start; k >= 1; --k)
    if (bytesEqual(s + k - 1, pattern, plen)) return k;
  return 0;
}

char* pXStr(int32_t direction, const char* s, char* dest, const char* separator, int32_t keep) {
  s = orEmpty(s);
  if (direction == -1) {
    int32_t p = pInstrL2R(1, s, separator);
    if (p < 1) return nullptr;
    pCopyMem(s, dest, keep == 0 ? p - 1 : p);
    return dest;
  }
  if (direction == 1) {
    int32_t len = pLen(s);
    int32_t p = pInstrR2L(len, s, separator);
    if (p < 1) return nullptr;
    int32_t from = keep == 0 ? p + 1 : p;
    // The rest of s and its terminator.
    pCopyMem(s + from - 1, dest, len - from + 2);
    return dest;
  }
  return nullptr;
}

int32_t pIsChrValid(const char* s, const char* alphabet) {
  s = orEmpty(s);
  int32_t alen = pLen(alphabet);
  if (alen > 255) alen = 255;
  memset(state.alphabet, 0, sizeof state.alphabet);
  pCopyMem(alphabet, state.alphabet, alen);
  upperInPlace(state.alphabet);
  int32_t result = 1;
  for (int32_t i = 0; s[i] && result == 1; ++i) {
    state.oneChar[0] = s[i];
    state.oneChar[1] = 0;
    upperInPlace(state.oneChar);
    if (pInstrL2R(1, state.alphabet, state.oneChar) < 1) result = 0;
  }
  memset(state.alphabet, 0, sizeof state.alphabet);
  return result;
}

int32_t pIsStrEqual(char* a, char* b) {
  upperInPlace(a);
  upperInPlace(b);
  return pCmp(a, b);
}

int32_t pIsStrNull(const char* s) { return pLen(s) == 0 ? 1 : 0; }

char* pBuildStr(const char* s, char* dest) {
  if (!dest) return dest;
  pCopyMem(s, dest + pLen(dest), pLen(s));
  return dest;
}

char* pBuildPath(const char* folder, const char* name, char* dest) {
  if (!dest) return dest;
  int32_t flen = pLen(folder);
  pCopyMem(folder, dest, flen);
  dest[flen] = '\\';
  pCopyMem(name, dest + flen + 1, pLen(name));
  return dest;
}

int32_t pChar2OEM(int32_t direction, char* ansi, char* oem, int32_t length) {
  if ((direction != 0 && direction != 1) || !ansi || !oem || length <= 0) return 1;
  if (!state.tablesReady) buildCodePageTables();
  const unsigned char* table = direction == 1 ? state.ansiToOem : state.oemToAnsi;
  char* from = direction == 1 ? ansi : oem;
  char* to = direction == 1 ? oem : ansi;
  for (int32_t i = 0; i < length; ++i) to[i] = static_cast<char>(table[static_cast<unsigned char>(from[i])]);
  return 1;
}

// Feature flags of leaf 1 with bits 8-11 replaced by the family field. On
// x86-64 the identification flag always toggles; __get_cpuid_max performs
// that test itself on 32-bit builds.
int32_t pPentium(void) {
#if defined(__i386__) || defined(__x86_64__)
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) == 0) return 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
  uint32_t family = (eax >> 8) & 0xFu;
  return S((edx & ~0xF00u) | (family << 8));
#else
  return 0;
#endif
}

char* LowerCaseInPlace(char* text) {
  for (char* p = text; p && *p; ++p)
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p + 32);
  return text;
}
