// Placement: pGetWinParm's arithmetic, minimised positions, the sizes and
// created positions that dialogs get from their templates.
#include <cstring>

#include "fixtures.h"

using namespace fixtures;

namespace {

class Placement : public Manager {};

struct WinParmCase {
  const char* what;
  RECT window;  // where the dialog is (outer rectangle)
  int32_t presetWidth, presetHeight;
  int32_t dx, dy, areaWidth, areaHeight;
  int32_t left, top, width, height;
};

const WinParmCase kWinParmCases[] = {
    {"console on 1024 x 768", {5, 5, 105, 105}, 900, 200, 0, -220, 1024, 768, 62, 64, 900, 200},
    {"console on 1280 x 1024", {5, 5, 105, 105}, 900, 200, 0, -220, 1280, 1024, 190, 192, 900, 200},
    {"odd difference puts the extra pixel left; a difference of 1 gives 0", {5, 5, 105, 105}, 900, 200, 0, 0, 1025, 201, 63, 0, 900, 200},
    {"difference of one gives zero", {5, 5, 105, 105}, 900, 200, 0, 0, 901, 201, 0, 0, 900, 200},
    {"size from the window, moved from its place", {100, 100, 400, 300}, 0, 0, -3, -21, 0, 0, 97, 79, 300, 200},
    {"centred over the console", {0, 0, 300, 100}, 0, 0, 62, 64, 900, 200, 362, 114, 300, 100},
    {"centred horizontally, created top plus offset", {40, 50, 340, 150}, 0, 0, 62, 171, 900, 0, 362, 221, 300, 100},
    {"minimised counts as at the origin", {-32000, -32000, -31840, -31976}, 0, 0, 0, 0, 0, 0, 0, 0, 160, 24},
};

class WinParm : public Placement, public ::testing::WithParamInterface<WinParmCase> {};

TEST_P(WinParm, ComputesTheRecordFromWindowAndArea) {
  const WinParmCase& c = GetParam();
  HWND h = openOuter();
  ASSERT_NE(h, 0u);
  tkMoveWindow(h, c.window.left, c.window.top, c.window.right - c.window.left, c.window.bottom - c.window.top, 0);
  WindowRecord record{};
  record.handle = h;
  std::strcpy(record.title, "keep");
  record.width = c.presetWidth;
  record.height = c.presetHeight;
  record.procedure = recordingProc;
  EXPECT_EQ(pGetWinParm(c.dx, c.dy, c.areaWidth, c.areaHeight, &record), 1);
  EXPECT_EQ(record.left, c.left);
  EXPECT_EQ(record.top, c.top);
  EXPECT_EQ(record.width, c.width);
  EXPECT_EQ(record.height, c.height);
  EXPECT_STREQ(record.title, "keep");
  EXPECT_EQ(record.handle, h);
  EXPECT_EQ(record.procedure, recordingProc);
}

INSTANTIATE_TEST_SUITE_P(Examples, WinParm, ::testing::ValuesIn(kWinParmCases),
                         [](const auto& info) { return caseName(info.param.what); });

TEST_F(Placement, MinimisedWindowReportsTheClassicPosition) {
  HWND h = tkCreateDialog(instance, kConsole, 0, recordingProc, 0);
  ASSERT_NE(h, 0u);
  RECT r{};
  ASSERT_EQ(tkGetWindowRect(h, &r), 1);
  EXPECT_EQ(r.left, -32000);
  EXPECT_EQ(r.top, -32000);
  WindowRecord record{};
  record.handle = h;
  pGetWinParm(0, 0, 0, 0, &record);
  EXPECT_EQ(record.left, 0);
  EXPECT_EQ(record.top, 0);
  EXPECT_EQ(record.width, WA_MINIMIZED_CX);
}

TEST(RealCoordinates, NegativeValuesWrapByStepsOf32000) {
  const std::pair<int32_t, int32_t> cases[] = {{0, 0},         {5, 5},     {-32000, 0},  {-1, 31999},
                                              {-64001, 31999}, {-31840, 160}, {2000000, 2000000}};
  for (auto [in, out] : cases) {
    EXPECT_EQ(pGetRealXX(in), out) << in;
    EXPECT_EQ(pGetRealYY(in), out) << in;
  }
}

TEST_F(Placement, TemplateUnitsBecomePixelsOfTheFontCell) {
  // 9 pt Courier New: 7 x 14 cell; a unit is 7/4 px across and 14/8 px down.
  HWND outer = openOuter();
  RECT client{};
  tkGetWindowRect(outer, &client);
  waGetClientRect(outer, &client);
  EXPECT_EQ(client.right, 350);   // 200 * 7 / 4
  EXPECT_EQ(client.bottom, 175);  // 100 * 14 / 8
  RECT outerRect{};
  tkGetWindowRect(outer, &outerRect);
  EXPECT_EQ(outerRect.right - outerRect.left, 350 + 2 * WA_BORDER);
  EXPECT_EQ(outerRect.bottom - outerRect.top, 175 + 2 * WA_BORDER + WA_CAPTION);
  // A control at (4, 4) units, 80 x 10, sits in the client area.
  RECT edit = headless::rect(outer, kEdit);
  EXPECT_EQ(edit.left - outerRect.left, WA_BORDER + 7);
  EXPECT_EQ(edit.top - outerRect.top, WA_BORDER + WA_CAPTION + 7);
  EXPECT_EQ(edit.right - edit.left, 140);
  EXPECT_EQ(edit.bottom - edit.top, 18);  // 10 * 14 / 8 = 17.5, rounded
  // 12 pt: 10 x 19 cell.
  headless::onDialog(kInner, [](HWND h) {
    RECT c{};
    waGetClientRect(h, &c);
    EXPECT_EQ(c.right, 393);  // 157 * 10 / 4 = 392.5, rounded
    EXPECT_EQ(c.bottom, 71);  // 30 * 19 / 8 = 71.25
    tkEndDialog(h, 0);
  });
  tkDialogBox(instance, kInner, outer, recordingProc, 0);
}

TEST_F(Placement, OwnedDialogStartsAtTheOwnersClientOrigin) {
  HWND outer = openOuter();
  tkMoveWindow(outer, 100, 100, 400, 300, 0);
  RECT innerRect{};
  headless::onDialog(kInner, [&](HWND h) {
    tkGetWindowRect(h, &innerRect);
    // (-3, -21) from the created place is the owner's own corner.
    WindowRecord record{};
    record.handle = h;
    pGetWinParm(-3, -21, 0, 0, &record);
    EXPECT_EQ(record.left, 100);
    EXPECT_EQ(record.top, 100);
    tkEndDialog(h, 0);
  });
  tkDialogBox(instance, kInner, outer, recordingProc, 0);
  EXPECT_EQ(innerRect.left, 100 + WA_BORDER);
  EXPECT_EQ(innerRect.top, 100 + WA_BORDER + WA_CAPTION);
}

TEST_F(Placement, ScreenSizeComesFromThePresenter) {
  EXPECT_EQ(tkScreenWidth(), 1280);
  EXPECT_EQ(tkScreenHeight(), 1024);
  headless::setScreen(1024, 768);
  EXPECT_EQ(tkScreenWidth(), 1024);
  EXPECT_EQ(tkScreenHeight(), 768);
  EXPECT_EQ(tkUseDesktop(), 0);
}

}  // namespace
