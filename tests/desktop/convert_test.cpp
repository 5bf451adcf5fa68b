// Translations between the program's text, paths and keys and FLTK's.
#include <FL/Enumerations.H>
#include <gtest/gtest.h>

#include "winapi/fltk/convert.h"
#include "winapi/fltk/script.h"

namespace {

TEST(DesktopText, CodePageRoundTripsEveryByte) {
  std::string all;
  for (int b = 1; b < 256; b++) all += char(b);
  EXPECT_EQ(vlfl::fromUtf8(vlfl::toUtf8(all)), all);
}

TEST(DesktopText, KnownCharacters) {
  struct Case { std::string cp, utf8; } cases[] = {
      {"abc", "abc"}, {"\x80", "\xE2\x82\xAC"}, {"\xE9", "\xC3\xA9"}, {"\x81", "\xC2\x81"}, {"\x99", "\xE2\x84\xA2"}};
  for (const auto& c : cases) {
    EXPECT_EQ(vlfl::toUtf8(c.cp), c.utf8);
    EXPECT_EQ(vlfl::fromUtf8(c.utf8), c.cp);
  }
  EXPECT_EQ(vlfl::fromUtf8("\xE4\xB8\xAD"), "?");  // outside the code page
  EXPECT_EQ(vlfl::fromUtf8("\xC3"), "?");          // cut sequence
  EXPECT_EQ(vlfl::fromUtf8("\xC0\x80"), "?");      // overlong: one refusal
}

TEST(DesktopText, LinesLabelsPaths) {
  EXPECT_EQ(vlfl::toNewlines("a\r\nb\r\n"), "a\nb\n");
  EXPECT_EQ(vlfl::toCrLf("a\nb\r\nc"), "a\r\nb\r\nc");
  EXPECT_EQ(vlfl::labelText("a&b@c"), "a&&b@@c");
  EXPECT_EQ(vlfl::toProgramPath("/srv/vl/x.txt"), "C:\\srv\\vl\\x.txt");
  EXPECT_EQ(vlfl::toProgramPath("relative"), "");
  EXPECT_EQ(vlfl::toHostPath("C:\\srv\\vl"), "/srv/vl");
  EXPECT_EQ(vlfl::toHostPath("D:\\x"), "");
  EXPECT_EQ(vlfl::chooserFilter({"All Files", "*.*"}), "All Files (*)");
  EXPECT_EQ(vlfl::chooserFilter({"Text", "*.txt;*.doc"}), "Text ({*.txt,*.doc})");
}

TEST(DesktopText, KeysAndGeometry) {
  EXPECT_EQ(vlfl::virtualKey(FL_Enter), 13);
  EXPECT_EQ(vlfl::virtualKey(FL_KP_Enter), 13);
  EXPECT_EQ(vlfl::virtualKey(FL_Escape), 27);
  EXPECT_EQ(vlfl::virtualKey('a'), 'A');
  EXPECT_EQ(vlfl::virtualKey(FL_F + 1), 0x70);
  EXPECT_EQ(vlfl::fontPixels(9), 12);
  EXPECT_EQ(vlfl::fontPixels(12), 16);
  vlfl::Frame f = vlfl::clientArea(RECT{190, 192, 1090, 392}, true);
  EXPECT_EQ(f.left, 3);
  EXPECT_EQ(f.top, 21);
  EXPECT_EQ(f.width, 894);
  EXPECT_EQ(f.height, 176);
}

TEST(DesktopScript, ParsesAndRefuses) {
  std::vector<vlfl::Step> steps;
  std::string error;
  ASSERT_TRUE(vlfl::parseScript("# c\nwait Velloran\ntype \"Velloran :: Control\" 2011 \"a b\"\n"
                                "key Velloran 2011 13 up\nselect \"Velloran :: Login*\" 6002 0 double\n"
                                "text Velloran 2023 \"All local*\"\nsnapbox question \"Velloran :: Writer*\"\n",
                                steps, error));
  ASSERT_EQ(steps.size(), 6u);
  EXPECT_EQ(steps[1].text, "a b");
  EXPECT_EQ(steps[2].a, 13);
  EXPECT_EQ(steps[2].b, 0);
  EXPECT_EQ(steps[3].b, 1);
  EXPECT_EQ(steps[4].op, vlfl::Op::Text);
  EXPECT_EQ(steps[4].id, 2023);
  EXPECT_EQ(steps[4].text, "All local*");
  EXPECT_EQ(steps[5].op, vlfl::Op::SnapBox);
  EXPECT_EQ(steps[5].title, "question");
  EXPECT_EQ(steps[5].text, "Velloran :: Writer*");
  const char* bad[] = {"jump x", "click Velloran", "key Velloran 1 13 sideways", "sleep -1", "type \"x 1 y",
                       "snap ../x Velloran", "text Velloran 2023", "snapbox a/b Velloran"};
  for (const char* line : bad) EXPECT_FALSE(vlfl::parseScript(line, steps, error)) << line;
  EXPECT_TRUE(vlfl::titleMatches("Velloran :: Login*", "Velloran :: Login :: bob"));
  EXPECT_FALSE(vlfl::titleMatches("Velloran", "Velloran :: Setting"));
}

}  // namespace
