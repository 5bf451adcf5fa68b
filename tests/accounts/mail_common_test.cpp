// Attachment names from mails: which are taken as they are, and what the
// others are reduced to.
#include <gtest/gtest.h>

#include <string>

#include "accounts/mail_common.h"

using namespace mailui;

namespace {

struct NameCase {
  const char* tag;
  int safe;
  const char* reduced;  // what MakeSafeBareName gives
};

const NameCase kNames[] = {
    {"report.txt", 1, "report.txt"},
    {"photo 1.jpg", 1, "photo 1.jpg"},
    {"a", 1, "a"},
    {"..", 0, "attachment"},
    {".", 0, "attachment"},
    {"", 0, "attachment"},
    {"../../etc/passwd", 0, "passwd"},
    {"..\\..\\boot.ini", 0, "boot.ini"},
    {"sub/dir\\name.bin", 0, "name.bin"},
    {"dir/", 0, "attachment"},
    {"C:evil.txt", 0, "C_evil.txt"},
    {"what?.txt", 0, "what_.txt"},
    {"star*.txt", 0, "star_.txt"},
    {"a<b>c|d\"e", 0, "a_b_c_d_e"},
    {"tab\there", 0, "tab_here"},
    {"trailing.", 0, "trailing"},
    {"trailing ", 0, "trailing"},
    {" leading", 0, "leading"},
    {".bashrc", 0, "bashrc"},
    {".vlunit-t", 0, "vlunit-t"},
    {"CON", 0, "_CON"},
    {"nul.txt", 0, "_nul.txt"},
    {"com1", 0, "_com1"},
    {"console.log", 1, "console.log"},
    {"[MSG]", 1, "[MSG]"},
};

TEST(AttachmentName, SafeNamesAreKeptAndOthersReduced) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE(c.tag);
    EXPECT_EQ(IsSafeBareName(c.tag), c.safe);
    char out[kMaxBareName + 1];
    int32_t changed = MakeSafeBareName(c.tag, out);
    EXPECT_STREQ(out, c.reduced);
    EXPECT_EQ(changed, c.safe ? 0 : 1);
    // Whatever a mail says, the result is itself a safe bare name.
    EXPECT_EQ(IsSafeBareName(out), 1);
  }
}

TEST(AttachmentName, LengthIsBoundedByTheTagSlot) {
  std::string longest(kMaxBareName, 'x');
  EXPECT_EQ(IsSafeBareName(longest.c_str()), 1);
  std::string tooLong(kMaxBareName + 1, 'x');
  EXPECT_EQ(IsSafeBareName(tooLong.c_str()), 0);
  char out[kMaxBareName + 1];
  MakeSafeBareName(tooLong.c_str(), out);
  EXPECT_EQ(std::string(out), longest);
  // A device name at full length still gets its guard character.
  std::string device = "con." + std::string(kMaxBareName - 4, 'y');
  MakeSafeBareName(device.c_str(), out);
  EXPECT_EQ(out[0], '_');
  EXPECT_EQ(std::string(out).size(), static_cast<size_t>(kMaxBareName));
  EXPECT_EQ(IsSafeBareName(out), 1);
}

TEST(CommandWords, SplitIdAndNotification) {
  WPARAM w = static_cast<WPARAM>(6002) | (static_cast<WPARAM>(2) << 16);
  EXPECT_EQ(CommandId(w), 6002);
  EXPECT_EQ(CommandCode(w), 2);
  EXPECT_EQ(CommandId(3014), 3014);
  EXPECT_EQ(CommandCode(3014), 0);
}

}  // namespace
