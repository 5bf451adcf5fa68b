// Integers, text and memory: the exact results other modules depend on.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "toolkit/hostpath.h"
#include "toolkit/text.h"

namespace {

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override { tkResetTextState(); }
};

struct Binary {
  int32_t a, b, result;
};

TEST_F(TextTest, DivideRoundsUpInMagnitudeAndAppliesSigns) {
  const Binary rows[] = {
      {1, 2, 0},   {2, 2, 1},   {3, 2, 2},       {4, 2, 2},       {7, 2, 4},       {7, 3, 3},
      {9, 3, 3},   {10, 3, 4},  {-7, 2, -4},     {7, -2, -4},     {-7, -2, 4},     {3575, 3576, 0},
      {3577, 3576, 2}, {100, 3, 34}, {5, 0, 0},  {0, 5, 0},       {INT32_MIN, 1, INT32_MIN},
      {INT32_MIN, -1, INT32_MIN},   {INT32_MAX, 2, 1073741824},
  };
  for (const Binary& r : rows) EXPECT_EQ(pDivide(r.a, r.b), r.result) << r.a << " / " << r.b;
}

TEST_F(TextTest, ArithmeticWrapsModulo32Bits) {
  EXPECT_EQ(pAdd(INT32_MAX, 1), INT32_MIN);
  EXPECT_EQ(pSubtract(INT32_MIN, 1), INT32_MAX);
  const Binary products[] = {
      {3, 4, 12},  {-3, 4, -12}, {3, -4, -12},      {-3, -4, 12},   {0, 9, 0},
      {9, 0, 0},   {65536, 65536, 0}, {INT32_MIN, -1, INT32_MIN}, {59999, 4, 239996},
  };
  for (const Binary& r : products) EXPECT_EQ(pMultiply(r.a, r.b), r.result) << r.a << " * " << r.b;
}

TEST_F(TextTest, MaskRangeAndWords) {
  EXPECT_EQ(pMask(7, 3), 1);
  EXPECT_EQ(pMask(5, 3), 0);
  EXPECT_EQ(pMask(7, 0), 0);
  struct {
    int32_t value, low, high, result;
  } ranges[] = {{5, 1, 3, 1}, {0, 1, 3, -1}, {3, 1, 3, 0}, {1, 0, 0, 1}, {0, 0, 0, 0}, {-1, 0, 0, -1}, {0, 5, 1, -1}};
  for (auto& r : ranges) EXPECT_EQ(pRange(r.value, r.low, r.high), r.result) << r.value;

  EXPECT_EQ(pSetDW(-5), -5);
  EXPECT_EQ(pSetW2DW(-1), 0xFFFF);
  char selector[] = "LWORD";
  EXPECT_EQ(pGetW(selector, 65539), 3);
  EXPECT_STREQ(selector, "lword");
  char high[] = "hword";
  EXPECT_EQ(pGetW(high, 65539), 1);
  EXPECT_EQ(pGetW(high, -1), 0xFFFF);
  char other[] = "word";
  EXPECT_EQ(pGetW(other, 65539), 0);
}

TEST_F(TextTest, DecimalTextBothWays) {
  struct {
    const char* text;
    int32_t value;
  } toValue[] = {{"123", 123}, {"-45", -45}, {"", 0}, {"4294967297", 1}, {"-", 0}, {" ", 240}, {"+", 251}};
  for (auto& r : toValue) EXPECT_EQ(pStrVal(r.text), r.value) << '"' << r.text << '"';

  struct {
    int32_t value;
    const char* text;
  } toText[] = {{0, "0"}, {-7, "-7"}, {INT32_MIN, "-2147483648"}, {INT32_MAX, "2147483647"}, {1000, "1000"}};
  for (auto& r : toText) EXPECT_STREQ(pStr(r.value), r.text);
  char* buffer = pStr(-123456);
  for (int i = 7; i < 256; ++i) ASSERT_EQ(buffer[i], 0) << "pStr leaves stale bytes at " << i;
}

TEST_F(TextTest, HexadecimalTextBothWays) {
  EXPECT_STREQ(pHex(255), "000000FF");
  EXPECT_STREQ(pHex(-1), "FFFFFFFF");
  EXPECT_STREQ(pHex(0x1234ABCD), "1234ABCD");
  struct {
    const char* text;
    int32_t value;
  } rows[] = {{"ff", 255}, {"FF", 255}, {"", 0}, {"7fffffff", INT32_MAX}, {"FFFFFFFF", -1}, {"123456789", 0x2345678A}};
  for (auto& r : rows) EXPECT_EQ(pHexVal(r.text), r.value) << r.text;
}

TEST_F(TextTest, CharacterBuffersAreSharedPerOperation) {
  char* first = pChr(65);
  EXPECT_STREQ(first, "A");
  pChr(0x142);  // only the low byte counts
  EXPECT_STREQ(first, "B");
  EXPECT_STREQ(pChr(0), "");
  EXPECT_EQ(pAsc("\xE9t"), 0xE9);
  EXPECT_EQ(pAsc(""), 0);
}

TEST_F(TextTest, MemoryOperations) {
  char buffer[8];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(pClrMem(buffer, 0), 0);
  EXPECT_EQ(pFillMem(buffer, 0, 'y'), 0);
  EXPECT_EQ(pCopyMem("ab", buffer, 0), 0);
  EXPECT_EQ(std::string(buffer, 8), "xxxxxxxx");
  EXPECT_EQ(pFillMem(buffer, 3, 0x141), 3);
  EXPECT_EQ(std::string(buffer, 8), "AAAxxxxx");
  EXPECT_EQ(pCopyMem("12", buffer + 4, 2), 2);
  EXPECT_EQ(std::string(buffer, 8), "AAAx12xx");
  EXPECT_EQ(pClrMem(buffer + 1, 2), 2);
  EXPECT_EQ(std::string(buffer, 8), std::string("A\0\0x12xx", 8));
  // First byte first: an overlapping copy forward repeats the first byte.
  char run[5] = "abcd";
  pCopyMem(run, run + 1, 3);
  EXPECT_STREQ(run, "aaaa");

  intptr_t block = pMemory(1, 64);
  ASSERT_NE(block, 0);
  const char* bytes = reinterpret_cast<const char*>(block);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(bytes[i], 0);
  EXPECT_EQ(pMemory(0, block), 0);
  EXPECT_EQ(pMemory(0, 0), 0);
  EXPECT_EQ(pMemory(2, 64), 0);
}

TEST_F(TextTest, CompareLengthAndCase) {
  EXPECT_EQ(pCmp("abc", "ABC"), 0);
  EXPECT_EQ(pCmp("", ""), 1);
  EXPECT_EQ(pCmp("ab", "abc"), 0);
  EXPECT_EQ(pCmp("abc", "abc"), 1);
  EXPECT_EQ(pLen("hello"), 5);
  EXPECT_EQ(pIsStrNull(""), 1);
  EXPECT_EQ(pIsStrNull("a"), 0);
  char a[] = "abc", b[] = "ABC";
  EXPECT_EQ(pIsStrEqual(a, b), 1);
  EXPECT_STREQ(a, "ABC");
  EXPECT_STREQ(b, "ABC");
  char c[] = "ab", d[] = "abd";
  EXPECT_EQ(pIsStrEqual(c, d), 0);
  char mixed[] = "Hello, WORLD \xC9";
  EXPECT_STREQ(LowerCaseInPlace(mixed), "hello, world \xC9");
}

TEST_F(TextTest, SubstringSearch) {
  struct {
    bool rightToLeft;
    int32_t start;
    const char *s, *pattern;
    int32_t result;
  } rows[] = {
      {false, 1, "a.b.c", ".", 2},  {false, 3, "a.b.c", ".", 4}, {false, 1, "abc", "x", 0},
      {false, 1, "ab", "abc", -1},  {false, 1, "abc", "abc", 1}, {false, 3, "abc", "abc", 1},
      {false, 1, "abc", "abd", 0},  {false, 9, "abcd", "b", 2},  {false, 4, "abcd", "bc", -2},
      {false, 0, "abcd", "d", 4},   {true, 5, "a.b.c", ".", 4},  {true, 3, "a.b.c", ".", 2},
      {true, 1, "a.b.c", ".", 0},   {true, 0, "a.b.c", ".", 4},  {true, 99, "x@y@z", "@", 4},
      {true, 2, "abcab", "ab", 1},  {true, 5, "abcab", "ab", 4}, {true, 1, "ab", "abc", 0},
      {true, 4, "abcabc", "bc", 2}, {true, 3, "abc", "abc", 1},  {true, 3, "aaa", "b", 0},
  };
  for (auto& r : rows) {
    int32_t got = r.rightToLeft ? pInstrR2L(r.start, r.s, r.pattern) : pInstrL2R(r.start, r.s, r.pattern);
    EXPECT_EQ(got, r.result) << (r.rightToLeft ? "R2L(" : "L2R(") << r.start << ", " << r.s << ", " << r.pattern << ")";
  }
}

TEST_F(TextTest, SplitAtSeparator) {
  struct {
    int32_t direction;
    const char* s;
    int32_t keep;
    bool found;
    const char* written;  // what dest holds afterwards (dest starts as "########")
  } rows[] = {
      {-1, "ab.cd", 0, true, "ab######"},   {1, "ab.cd", 0, true, "cd"},       {-1, "ab.cd", 1, true, "ab.#####"},
      {1, "ab.cd", 1, true, ".cd"},         {-1, "abcd", 0, false, "########"}, {1, "abcd", 0, false, "########"},
      {-1, ".abc", 0, true, "########"},    {1, "abc.", 0, true, ""},           {1, "C:\\A\\B\\f.x", 0, true, "f.x"},
      {-1, "id@machine", 0, true, "id######"}, {2, "ab.cd", 0, false, "########"},
  };
  for (auto& r : rows) {
    char dest[16];
    memset(dest, 0, sizeof dest);
    memset(dest, '#', 8);
    const char* separator = pInstrL2R(1, r.s, "@") > 0 ? "@" : pInstrL2R(1, r.s, "\\") > 0 ? "\\" : ".";
    char* result = pXStr(r.direction, r.s, dest, separator, r.keep);
    EXPECT_EQ(result != nullptr, r.found) << r.direction << " " << r.s;
    if (result) {
      EXPECT_EQ(result, dest);
    }
    EXPECT_STREQ(dest, r.written) << r.direction << " " << r.s << " keep " << r.keep;
  }
}

TEST_F(TextTest, LeftRightMidWriteNoTerminator) {
  char dest[8];
  memset(dest, '#', sizeof dest);
  dest[7] = 0;
  EXPECT_EQ(pLeft("abc", dest, 4), nullptr);
  EXPECT_EQ(pRight("abc", dest, 0), nullptr);
  EXPECT_STREQ(dest, "#######");
  EXPECT_EQ(pLeft("abc", dest, 2), dest);
  EXPECT_STREQ(dest, "ab#####");
  EXPECT_EQ(pRight("abc", dest, 2), dest);
  EXPECT_STREQ(dest, "bc#####");
  EXPECT_EQ(pMid("abcdef", dest, 3, 3), dest);
  EXPECT_STREQ(dest, "cde####");
  EXPECT_EQ(pMid("abcdef", dest + 3, 1, 0), dest + 3);
  EXPECT_STREQ(dest, "cde####");
}

TEST_F(TextTest, BuildingText) {
  char dest[32] = {};
  EXPECT_EQ(pBuildStr("", dest), dest);
  EXPECT_STREQ(dest, "");
  pBuildStr("ab", dest);
  pBuildStr("cd", dest);
  EXPECT_STREQ(dest, "abcd");
  char path[32] = {};
  EXPECT_EQ(pBuildPath("C:\\A", "B", path), path);
  EXPECT_STREQ(path, "C:\\A\\B");
  char over[8] = "1234567";
  pBuildPath("x", "y", over);
  EXPECT_STREQ(over, "x\\y4567");  // no terminator written
}

TEST_F(TextTest, CharacterValidation) {
  const char* ids = "abcdefghijklmnopqrstuvwxyz1234567890";
  struct {
    const char* s;
    int32_t result;
  } rows[] = {{"ab1", 1}, {"AB1", 1}, {"a b", 0}, {"", 1}, {"z9", 1}, {"a-b", 0}, {"\xE9", 0}};
  for (auto& r : rows) EXPECT_EQ(pIsChrValid(r.s, ids), r.result) << r.s;
  EXPECT_EQ(pIsChrValid("a b", "abcdefghijklmnopqrstuvwxyz 1234567890"), 1);
  // A shorter alphabet after a longer one must not see the old tail.
  EXPECT_EQ(pIsChrValid("z", "ab"), 0);
  char alphabet[] = "abc";
  pIsChrValid("A", alphabet);
  EXPECT_STREQ(alphabet, "abc");
}

TEST_F(TextTest, CodePagesBothWays) {
  // e-acute, u-umlaut, pound, C-cedilla in 1252 and their 437 places.
  char ansi[] = "A\xE9\xFC\xA3\xC7z";
  char oem[7] = {};
  EXPECT_EQ(pChar2OEM(1, ansi, oem, 6), 1);
  EXPECT_EQ(std::string(oem, 6), std::string("A\x82\x81\x9C\x80z", 6));
  char back[7] = {};
  EXPECT_EQ(pChar2OEM(0, back, oem, 6), 1);
  EXPECT_EQ(std::string(back, 6), std::string(ansi, 6));
  // The five bytes glibc's 1252 does not define still convert to something.
  char odd[] = "\x81\x8D\x8F\x90\x9D";
  char oddOem[6] = {};
  pChar2OEM(1, odd, oddOem, 5);
  for (int i = 0; i < 5; ++i) EXPECT_NE(oddOem[i], 0) << i;
  // Any other direction leaves both buffers.
  char keep[] = "xy";
  char keepOem[] = "..";
  EXPECT_EQ(pChar2OEM(2, keep, keepOem, 2), 1);
  EXPECT_STREQ(keepOem, "..");
}

TEST_F(TextTest, ProcessorIdentificationCarriesFamily) {
  int32_t id = pPentium();
#if defined(__x86_64__)
  ASSERT_NE(id, 0);
  int family = (id >> 8) & 15;
  EXPECT_GE(family, 5);                // every x86-64 processor reports 6 or 15
  EXPECT_NE(id & 1, 0);                // floating-point unit present
  EXPECT_NE(id & (1 << 25), 0);        // SSE, part of x86-64
#else
  EXPECT_GE(id, 0);
#endif
}

}  // namespace
