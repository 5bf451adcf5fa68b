// Scrambling: exact round trips, byte-by-byte working, and safe names.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/unit.h"

namespace {

using Bytes = std::vector<unsigned char>;

const std::string kAliceName = "82653142fd";
const std::string kMachineName = "d761ca2c";
const Bytes kRecordScrambled = {0x22, 0xF9, 0x07, 0xC3, 0xB2, 0xBC, 0x83, 0xC4};

Bytes scrambled(Bytes b, int32_t direction = 1) {
  vlData(direction, b.data(), static_cast<int32_t>(b.size()));
  return b;
}

// The one documented set that need not round-trip: even length and only the
// control bytes that scramble onto hex digits.
bool onlyHexSourceBytes(const Bytes& b) {
  if (b.size() % 2 != 0) return false;
  for (unsigned char c : b)
    if (!((c >= 0x01 && c <= 0x08) || (c >= 0x0E && c <= 0x15))) return false;
  return true;
}

std::string nameOf(const std::string& text) {
  unsigned char buffer[256] = {};
  memcpy(buffer, text.data(), text.size());
  vlData(1, buffer, static_cast<int32_t>(2 * text.size()));
  return std::string(reinterpret_cast<char*>(buffer), 2 * text.size());
}

TEST(Scramble, RandomBuffersRoundTrip) {
  std::mt19937 rng(20261207);
  int checked = 0;
  for (int round = 0; round < 600; ++round) {
    Bytes original(1 + rng() % 5000);
    // Half the buffers are plain noise, half are sparse like records.
    bool sparse = round % 2 == 1;
    for (unsigned char& c : original) c = static_cast<unsigned char>(sparse && rng() % 3 ? 0 : rng());
    if (onlyHexSourceBytes(original)) continue;
    Bytes s = scrambled(original);
    ASSERT_EQ(s.size(), original.size());
    ASSERT_EQ(scrambled(s, -1), original) << "round " << round << " length " << original.size();
    ASSERT_EQ(scrambled(original), s) << "scrambling is deterministic";
    ++checked;
  }
  EXPECT_GT(checked, 590);
}

TEST(Scramble, RecordsWorkPositionByPosition) {
  // Records: text slots with zero padding, as every stored record has.
  std::mt19937 rng(7);
  for (int32_t length : {256, 512, 520, 3576}) {
    Bytes record(static_cast<size_t>(length), 0);
    for (int32_t slot = 0; slot + 16 <= length; slot += 24)
      for (int32_t i = 0; i < 1 + static_cast<int32_t>(rng() % 15); ++i) record[slot + i] = 'a' + rng() % 26;
    Bytes s = scrambled(record);
    size_t same = 0;
    for (size_t i = 0; i < s.size(); ++i) same += s[i] == record[i];
    EXPECT_LT(same, s.size() / 20) << "scrambling leaves most bytes as they were";
    for (int32_t prefix : {1, 2, 10, 100, length / 2, length - 1}) {
      Bytes head(s.begin(), s.begin() + prefix);
      Bytes expected(record.begin(), record.begin() + prefix);
      EXPECT_EQ(scrambled(head, -1), expected) << "length " << length << " prefix " << prefix;
    }
  }
}

TEST(Scramble, ZeroAndTextNeverScrambleToHexDigits) {
  // So a scrambled record is never taken for a name.
  for (int32_t length : {1, 2, 64, 512}) {
    for (int value : {0x00, 0x09, 0x0A, 0x0D, 0x20, int('0'), int('a'), int('Z'), 0x7F, 0x80, 0xE9, 0xFF}) {
      Bytes b(static_cast<size_t>(length), static_cast<unsigned char>(value));
      for (unsigned char c : scrambled(b))
        ASSERT_FALSE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << "value " << value;
    }
  }
}

TEST(Scramble, IgnoresBadCalls) {
  Bytes b = {1, 2, 3};
  Bytes copy = b;
  vlData(0, b.data(), 3);
  vlData(2, b.data(), 3);
  vlData(1, b.data(), 0);
  vlData(1, b.data(), -4);
  vlData(1, nullptr, 3);
  EXPECT_EQ(b, copy);
}

TEST(Names, RandomNamesAreSafeDistinctAndReversible) {
  std::mt19937 rng(99);
  std::set<std::string> texts, names;
  for (int round = 0; round < 2000; ++round) {
    std::string text(1 + rng() % 127, ' ');
    bool idLike = round % 2 == 0;
    for (char& c : text)
      c = idLike ? "abcdefghijklmnopqrstuvwxyz0123456789"[rng() % 36] : static_cast<char>(1 + rng() % 255);
    std::string name = nameOf(text);
    ASSERT_EQ(name.size(), 2 * text.size());
    for (char c : name) ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << text;
    ASSERT_EQ(nameOf(text), name) << "the same text gives the same name";
    Bytes back(name.begin(), name.end());
    vlData(-1, back.data(), static_cast<int32_t>(back.size()));
    Bytes expected(text.begin(), text.end());
    expected.resize(2 * text.size(), 0);
    ASSERT_EQ(back, expected);
    texts.insert(text);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), texts.size()) << "different texts gave the same name";
}

TEST(Names, OnlyTheExactFormIsAName) {
  // Not a name text: odd length, a zero in the first half, a byte in the second.
  struct {
    Bytes text;
    bool isName;
  } rows[] = {
      {{'a', 0}, true},
      {{'a', 'b', 0, 0}, true},
      {{'a', 0, 0}, false},
      {{'a', 0, 0, 0}, false},
      {{'a', 'b', 0, 'c'}, false},
      {{0, 0}, false},
  };
  for (auto& r : rows) {
    Bytes s = scrambled(r.text);
    bool allHex = true;
    for (unsigned char c : s) allHex = allHex && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
    EXPECT_EQ(allHex, r.isName) << r.text.size();
    EXPECT_EQ(scrambled(s, -1), r.text);
  }
}

TEST(Names, StayTheSameAcrossVersions) {
  // Account folders are found again by name: the transform must never change.
  // These were made by the first release of the library.
  EXPECT_EQ(nameOf("alice"), kAliceName);
  EXPECT_EQ(nameOf("2001"), kMachineName);
  Bytes record = {'V', 'L', 0, 0, '1', '5', 0, 0};
  EXPECT_EQ(scrambled(record), kRecordScrambled);
}

}  // namespace
