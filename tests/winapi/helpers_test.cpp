// The window helpers' own rules: text accumulation and reads, progress,
// show/enable results, alerts and choosers from scripts, fonts, paint state,
// pictures, the screen check.
#include <cstring>
#include <string>

#include "fixtures.h"

using namespace fixtures;

namespace {

class Helpers : public Manager {
 protected:
  void SetUp() override {
    Manager::SetUp();
    dlg = openOuter();
    ASSERT_NE(dlg, 0u);
  }
  HWND dlg = 0;
};

TEST_F(Helpers, StatusTextAccumulatesUntilReset) {
  EXPECT_EQ(pWriteWndTxt(dlg, kEdit, "A", 1, 0), 1);
  EXPECT_EQ(pWriteWndTxt(dlg, kEdit, "B", 0, 1), 1);
  EXPECT_EQ(headless::text(dlg, kEdit), "AB\r\n");
  pWriteWndTxt(dlg, kEdit, "Compressing ", 1, 0);
  pWriteWndTxt(dlg, kEdit, "C:\\file", 0, 0);
  pWriteWndTxt(dlg, kEdit, "...", 0, 0);
  EXPECT_EQ(headless::text(dlg, kEdit), "Compressing C:\\file...");
  EXPECT_EQ(pWriteWndTxt(dlg, kEdit, nullptr, 1, 1), 0);
  EXPECT_EQ(headless::text(dlg, kEdit), "Compressing C:\\file...") << "a null text does nothing, not even the reset";
  // One accumulator for every window.
  pWriteWndTxt(dlg, kMemo, "+", 0, 0);
  EXPECT_EQ(headless::text(dlg, kMemo), "Compressing C:\\file...+");
}

TEST_F(Helpers, AccumulatorStopsBelow256Bytes) {
  std::string chunk(100, 'x');
  pWriteWndTxt(dlg, kEdit, chunk.c_str(), 1, 0);
  pWriteWndTxt(dlg, kEdit, chunk.c_str(), 0, 0);
  pWriteWndTxt(dlg, kEdit, chunk.c_str(), 0, 1);
  EXPECT_EQ(headless::text(dlg, kEdit), std::string(255, 'x'));
  pWriteWndTxt(dlg, kEdit, "tail", 0, 0);
  EXPECT_EQ(headless::text(dlg, kEdit).size(), 255u);
  pWriteWndTxt(dlg, kEdit, "new", 1, 0);
  EXPECT_EQ(headless::text(dlg, kEdit), "new");
}

TEST_F(Helpers, ReadClearsTheDestinationAndHonoursTheLimit) {
  pWriteWndStr(dlg, kEdit, "hello world");
  char dest[32];
  std::memset(dest, 'z', sizeof dest);
  std::strcpy(dest, "previous-long-text");
  EXPECT_EQ(pReadWndStr(dlg, kEdit, dest, 6), 5);
  EXPECT_STREQ(dest, "hello");
  EXPECT_EQ(std::string(dest + 6, 12), std::string(12, '\0')) << "the old text was cleared";
  EXPECT_EQ(pReadWndStr(dlg, kEdit, dest, 255), 11);
  EXPECT_EQ(pReadWndStr(dlg, kEdit, nullptr, 10), 0);
  EXPECT_EQ(pReadWndStr(dlg, kEdit, dest, 0), 0);
  EXPECT_EQ(dest[0], 0);
  std::string longText(300, 'k');
  pWriteWndStr(dlg, kEdit, longText.c_str());
  char big[300] = {};
  EXPECT_EQ(pReadWndStr(dlg, kEdit, big, 255), 254);
  EXPECT_EQ(pWriteWndStr(dlg, kEdit, nullptr), 0);
  EXPECT_EQ(headless::text(dlg, kEdit), longText);
  EXPECT_EQ(pClearWndStr(dlg, kEdit), 1);
  EXPECT_EQ(headless::text(dlg, kEdit), "");
  pWriteWndStr(dlg, 0, "Caption");
  EXPECT_EQ(pReadWndStr(dlg, 0, big, 255), 7) << "control id 0 is the dialog";
}

TEST_F(Helpers, ProgressShowsRoundedPercentages) {
  const struct {
    int32_t op, position, total, shown;
  } cases[] = {{1, 1, 3, 34}, {1, 2, 3, 67}, {1, 0, 100, 0}, {1, 1, 200, 0}, {1, 5, 0, 0}, {1, 3, 3, 100}};
  EXPECT_EQ(pProgressBar(0, dlg, kBar, 0, 0), 1);
  for (auto c : cases) {
    EXPECT_EQ(pProgressBar(c.op, dlg, kBar, c.position, c.total), 1);
    EXPECT_EQ(headless::progress(dlg, kBar), c.shown) << c.position << " of " << c.total;
  }
  pProgressBar(1, dlg, kBar, 1, 2);
  EXPECT_EQ(pProgressBar(7, dlg, kBar, 1, 1), 1);
  EXPECT_EQ(headless::progress(dlg, kBar), 50) << "other ops change nothing";
}

TEST_F(Helpers, ShowEnableAndFocusResults) {
  EXPECT_EQ(pWndShow(dlg, 0, 2), int32_t(dlg)) << "other values return the target";
  EXPECT_EQ(pWndEnable(dlg, kEdit, 5), int32_t(tkGetDlgItem(dlg, kEdit)));
  EXPECT_NE(pWndShow(dlg, kEdit, 0), 0) << "it was visible";
  EXPECT_EQ(pWndShow(dlg, kEdit, 0), 0);
  EXPECT_EQ(tkIsVisible(dlg, kEdit), 0);
  EXPECT_EQ(pWndShow(dlg, kEdit, 1), 0);
  EXPECT_EQ(pWndEnable(dlg, kOpen, 0), 0) << "it was enabled";
  EXPECT_NE(pWndEnable(dlg, kOpen, 1), 0) << "it was disabled";
  EXPECT_EQ(tkIsEnabled(dlg, kOpen), 1);
  HWND edit = tkGetDlgItem(dlg, kEdit);
  pWndFocus(dlg, kEdit);
  EXPECT_EQ(pWndFocus(dlg, kList), edit);
  EXPECT_EQ(headless::focusedId(), kList);
  EXPECT_EQ(pWndProcAddr(0, dlg, kEdit, nullptr), intptr_t(edit));
  EXPECT_EQ(pWndProcAddr(1, dlg, kEdit, nullptr), intptr_t(edit)) << "no new procedure: the handle";
}

TEST_F(Helpers, AlertsAnswerFromTheScriptAndMoveTheFocus) {
  headless::answerBox(IDNO);
  headless::answerBox(IDOK);
  pWndFocus(dlg, kList);
  EXPECT_EQ(pAlert("Velloran", "Close Velloran", dlg, 0, 36), IDNO);
  EXPECT_EQ(headless::focused(), tkGetDlgItem(dlg, kList)) << "the owner hands its focus back to its control";
  EXPECT_EQ(pAlert("Velloran :: Writer", "Mail sent", dlg, kEdit, 64), IDOK);
  EXPECT_EQ(headless::focusedId(), kEdit);
  ASSERT_EQ(headless::boxes().size(), 2u);
  EXPECT_EQ(headless::boxes()[0].caption, "Velloran");
  EXPECT_EQ(headless::boxes()[0].text, "Close Velloran");
  EXPECT_EQ(headless::boxes()[0].style, 36);
  EXPECT_EQ(headless::boxes()[0].owner, dlg);
  EXPECT_EQ(headless::boxes()[1].style, 64);
  EXPECT_EQ(headless::unusedAnswers(), 0u);
}

TEST_F(Helpers, TimersRunWhileABoxIsUpAndTheOwnerIsDisabled) {
  pTimer(dlg, 1, 1000, nullptr);
  headless::answerBox(IDYES, 5500);
  pTimer(dlg, 2, 2500, [](HWND h, UINT, uintptr_t, uint32_t) {
    pTimer(h, 2, 0, nullptr);
    EXPECT_EQ(tkIsEnabled(h, 0), 0);
  });
  EXPECT_EQ(pAlert("Q", "Sure?", dlg, 0, 36), IDYES);
  EXPECT_EQ(seen.timers, 5);
  EXPECT_EQ(tkIsEnabled(dlg, 0), 1);
}

TEST_F(Helpers, UnscriptedBoxIsAFailureWithTheDefaultAnswer) {
  expectFailures = true;
  EXPECT_EQ(pAlert("Q", "Unexpected", dlg, 0, 36), IDYES);
  EXPECT_EQ(pAlert("Info", "Also unexpected", 0, 0, 64), IDOK);
  EXPECT_EQ(headless::failures().size(), 2u);
}

TEST_F(Helpers, ScreenCheck) {
  EXPECT_EQ(pIsScrnValid(1024, 768, "Velloran"), 1);
  EXPECT_EQ(pIsScrnValid(1280, 1024, "Velloran"), 1);
  EXPECT_EQ(pIsScrnValid(-1, 768, "Velloran"), 1) << "the comparisons are unsigned";
  EXPECT_TRUE(headless::boxes().empty());
}

TEST_F(Helpers, SmallScreenEndsTheProcessWithTheBoxResult) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (auto [w, h] : {std::pair{800, 600}, {1280, 700}, {1023, 768}}) {
    EXPECT_EXIT(
        {
          headless::answerBox(IDOK);
          pIsScrnValid(w, h, "Velloran");
        },
        ::testing::ExitedWithCode(1), "")
        << w << " x " << h;
  }
}

TEST_F(Helpers, ColoursAndFonts) {
  EXPECT_EQ(pColoRGB(255, 0, 0), 255);
  EXPECT_EQ(pColoRGB(0, 0, 255), 16711680);
  EXPECT_EQ(pColoRGB(0x1FF, 0x101, 0), 0x01FF);
  char create[] = "[1]", remove[] = "[0]", other[] = "[2]", upper[] = "[1]";
  int32_t font = pFont(create, 16, 0, 5, 0, 1, intptr_t("Courier New"));
  EXPECT_NE(font, 0);
  EXPECT_EQ(pFontCtrl(dlg, HFONT(font)), 0);
  EXPECT_EQ(pFont(remove, 0, 0, 0, 0, 0, font), 1);
  EXPECT_EQ(pFont(remove, 0, 0, 0, 0, 0, font), 0) << "already deleted";
  EXPECT_EQ(pFont(other, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_NE(pFont(upper, 12, 0, 9, 1, 2, 0), 0);
  EXPECT_EQ(pFont(nullptr, 0, 0, 0, 0, 0, 0), 0);
}

TEST_F(Helpers, PaintBeginsOnceAndEndsWithAFrame) {
  HDC dc = pPaint(1, dlg);
  EXPECT_NE(dc, 0u);
  EXPECT_EQ(pPaint(1, dlg), dc) << "a second begin only returns the kept context";
  EXPECT_EQ(headless::frames(dlg), 0);
  EXPECT_EQ(pPaint(0, dlg), dc);
  EXPECT_EQ(headless::frames(dlg), 1);
  EXPECT_EQ(headless::paints(dlg), 1);
  EXPECT_EQ(pPaint(0, dlg), dc) << "an end without a begin does nothing";
  EXPECT_EQ(headless::frames(dlg), 1);
}

TEST_F(Helpers, PicturesAreRecordedPerControl) {
  EXPECT_NE(pWriteImage(dlg, kPicture, kPictureId, instance), 0);
  EXPECT_EQ(headless::image(dlg, kPicture), kPictureId);
  EXPECT_EQ(pWriteImage(dlg, kPicture, 110, instance), 0) << "no such bitmap";
  EXPECT_EQ(pWriteImage(dlg, 999, kPictureId, instance), 0) << "no such control";
  EXPECT_NE(pWriteImage(dlg, kEdit, intptr_t("#120"), instance), 0);
  EXPECT_EQ(headless::image(dlg, kEdit), kPictureId);
}

TEST_F(Helpers, ClassesMenusIconsAndCommandLine) {
  int32_t atom = pRegister("VelloranClass", recordingProc, instance, 0, tkArrowCursor(), 0, nullptr);
  EXPECT_NE(atom, 0);
  EXPECT_EQ(pRegister("velloranclass", recordingProc, instance, 0, 0, 0, nullptr), 0) << "already registered";
  EXPECT_EQ(pRegister(nullptr, recordingProc, instance, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(pMenu(instance, dlg, "MAIN"), 0u);
  EXPECT_EQ(pMenuItem(1, 0, 5), -1);
  EXPECT_EQ(pMenuItem(3, 0, 5), 0);
  uint16_t index = 0;
  HICON icon = tkExtractIcon(instance, "no-such-file.exe", &index);
  EXPECT_NE(icon, 0u);
  EXPECT_EQ(index, 100);
  tkSetWindowIcon(dlg, icon);
  EXPECT_EQ(waWindow(dlg)->icon, icon);
  EXPECT_NE(std::string(tkCommandLine()).find("test_winapi"), std::string::npos);
}

TEST_F(Helpers, ChoosersAnswerFromTheScript) {
  headless::answerFile("/tmp/chosen.txt");
  headless::answerFile("");
  headless::answerFile(std::string(40, 'p'));
  char dest[32] = {};
  const char filter[] = "All Files\0*.*\0";
  EXPECT_EQ(pFileName(-1, instance, dest, 32, filter), 1);
  EXPECT_STREQ(dest, "/tmp/chosen.txt");
  EXPECT_EQ(pFileName(1, instance, dest, 32, filter), 0) << "cancelled";
  EXPECT_STREQ(dest, "/tmp/chosen.txt");
  EXPECT_EQ(pFileName(1, instance, dest, 32, filter), 0) << "longer than the buffer: refused";
  EXPECT_STREQ(dest, "/tmp/chosen.txt");
  ASSERT_EQ(headless::boxes().size(), 3u);
  EXPECT_EQ(headless::boxes()[0].kind, WaBox::Open);
  EXPECT_EQ(headless::boxes()[1].kind, WaBox::Save);
  EXPECT_EQ(headless::boxes()[0].filter, (std::vector<std::string>{"All Files", "*.*"}));
  EXPECT_EQ(headless::boxes()[0].owner, dlg) << "owned by the active window";

  headless::answerFolder("/tmp/folder");
  headless::answerFolder("");
  headless::answerFolder(std::string(300, 'f'));
  char folder[256] = {};
  EXPECT_EQ(pDirName(dlg, folder), 1);
  EXPECT_STREQ(folder, "/tmp/folder");
  EXPECT_EQ(pDirName(dlg, folder), 1);
  EXPECT_STREQ(folder, "/tmp/folder") << "cancel leaves dest";
  EXPECT_EQ(pDirName(dlg, folder), 1);
  EXPECT_STREQ(folder, "/tmp/folder") << "a folder too long for the buffer is refused";
  EXPECT_EQ(headless::boxes()[3].caption, "Browse For Folder");
  EXPECT_EQ(headless::boxes()[3].text, "Select A Folder");
}

}  // namespace
