// Start-up: the unit-file check with its captions and exit code, the program
// folder, the splash and the About box.
#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <string>

#include "console/console.h"
#include "console/startup.h"
#include "console_fixture.h"
#include "link/link.h"
#include "toolkit/dialog.h"
#include "winapi/loop.h"
#include "winapi/winapi.h"

namespace consoletest {
namespace {

class StartupTest : public ConsoleFixture {
 protected:
  void Truncate(const std::string& name, size_t size) {
    auto bytes = FileBytes(name);
    bytes.resize(size, 0x41);
    std::ofstream out(root_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
};

struct BrokenFiles {
  const char* what;
  const char* file;   // the file changed
  int size;           // its new size; -1 removes it, -2 makes it read-only
  const char* caption;
};

const BrokenFiles kBroken[] = {
    {"unit file of 511 bytes", "VL.INI", 511, "vl.INI Corrupt"},
    {"unit file of 513 bytes", "VL.INI", 513, "vl.INI Corrupt"},
    {"empty unit file", "VL.INI", 0, "vl.INI Missing"},
    {"no unit file", "VL.INI", -1, "vl.INI Missing"},
    {"read-only unit file", "VL.INI", -2, "vl.INI Missing"},
    {"empty settings file", "Velloran.INI", 0, "Velloran.INI Missing"},
    {"no settings file", "Velloran.INI", -1, "Velloran.INI Missing"},
    {"read-only settings file", "Velloran.INI", -2, "Velloran.INI Missing"},
};

TEST_F(StartupTest, EveryBrokenFileEndsTheProgramWithItsCaptionAndExitCodeZero) {
  for (const BrokenFiles& c : kBroken) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    WriteMachine();
    if (c.size == -1) fs::remove(root_ / c.file);
    if (c.size == -2) fs::permissions(root_ / c.file, fs::perms::owner_read | fs::perms::group_read);
    if (c.size >= 0) Truncate(c.file, static_cast<size_t>(c.size));
    headless::answerBox(1);
    bool consoleReady = false;
    const int32_t result = RunConsole([&](HWND) { consoleReady = true; });
    EXPECT_EQ(result, 0);
    ASSERT_EQ(Recorded().exits.size(), 1u);
    EXPECT_EQ(Recorded().exits[0], 0);
    ASSERT_EQ(headless::boxes().size(), 1u);
    EXPECT_EQ(headless::boxes()[0].caption, c.caption);
    EXPECT_EQ(headless::boxes()[0].text, "Velloran will shutdown");
    EXPECT_EQ(headless::boxes()[0].style, 64);
    EXPECT_EQ(headless::boxes()[0].owner, 0u);
    // Nothing of the console's own work started.
    EXPECT_EQ(Recorded().toggles, 0);
    EXPECT_TRUE(Recorded().registrations.empty());
    EXPECT_FALSE(consoleReady && Console().record.handle != 0);
  }
}

TEST_F(StartupTest, UnitFileMissingWinsOverEverythingElse) {
  WriteMachine();
  fs::remove(root_ / "VL.INI");
  fs::remove(root_ / "Velloran.INI");
  headless::answerBox(1);
  RunConsole([](HWND) {});
  ASSERT_EQ(headless::boxes().size(), 1u);
  EXPECT_EQ(headless::boxes()[0].caption, "vl.INI Missing");
}

TEST_F(StartupTest, OneByteSettingsFilePassesAndTheRestOfTheRecordIsZero) {
  WriteMachine();
  Truncate("Velloran.INI", 1);
  bool ran = false;
  RunConsole([&](HWND) {
    ran = true;
    for (int i = 1; i < kRecordSize; ++i) ASSERT_EQ(Config().settings.bytes[i], 0) << "byte " << i;
  });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(Recorded().exits.empty());
  EXPECT_TRUE(headless::boxes().empty());
}

TEST_F(StartupTest, RecordsAreReadFromTheCurrentFolderAndPostIsMadeThere) {
  WriteMachine({{UnitField::MachID, "0777"}}, {{SettingsField::Dial, "DP"}});
  ASSERT_FALSE(fs::exists(root_ / "POST"));
  RunConsole([&](HWND) {
    EXPECT_EQ(Slot(Config().unit, UnitField::MachID), "0777");
    EXPECT_EQ(Slot(Config().settings, SettingsField::Dial), "DP");
  });
  EXPECT_TRUE(fs::is_directory(root_ / "POST"));
}

TEST_F(StartupTest, AFolderTooLongForItsPathsIsRefusedInsteadOfCut) {
  // 250 characters of folder leave no room for "\Velloran.INI" in 255.
  fs::path deep = root_;
  while (deep.string().size() < 250) deep /= std::string(std::min<size_t>(60, 250 - deep.string().size()), 'd');
  fs::create_directories(deep);
  fs::path keep = root_;
  root_ = deep;
  WriteMachine();
  fs::current_path(deep);
  headless::answerBox(1);
  RunConsole([](HWND) {});
  root_ = keep;
  ASSERT_EQ(headless::boxes().size(), 1u);
  EXPECT_EQ(headless::boxes()[0].caption, "vl.INI Missing");
  EXPECT_EQ(Recorded().exits, std::vector<int32_t>{0});
  EXPECT_FALSE(fs::exists(deep / "POST"));
}

TEST_F(StartupTest, FailedHandlerRegistrationEndsSilently) {
  WriteMachine({}, {{SettingsField::Signal, "1"}});
  Recorded().registerResult = 0;
  const int32_t result = RunConsole([](HWND) {});
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Recorded().exits, std::vector<int32_t>{0});
  EXPECT_TRUE(headless::boxes().empty());
  ASSERT_EQ(Recorded().registrations.size(), 1u);
  EXPECT_EQ(Recorded().registrations[0], std::make_pair(true, 250));
}

TEST_F(StartupTest, HandlerIsRegisteredOnlyForSignalOne) {
  for (const char* signal : {"1", "2", "3", ""}) {
    SCOPED_TRACE(signal);
    TearDown();
    SetUp();
    WriteMachine({}, {{SettingsField::Signal, signal}});
    RunConsole([](HWND) {});
    EXPECT_EQ(Recorded().registrations.size(), std::string(signal) == "1" ? 1u : 0u);
  }
}

TEST_F(StartupTest, SplashShowsItsPictureWhileTheLinkComesUpAndIsGoneAfterwards) {
  WriteMachine();
  HWND splash = 0;
  uint32_t toggledAt = 0;
  headless::onDialog(kSplashDialogId, [&](HWND dialog) { splash = dialog; });
  bool splashShown = false;
  int32_t picture = 0;
  Recorded().duringToggle = [&] {
    splashShown = headless::visible(splash, 0);
    picture = headless::image(splash, kSplashPictureId);
  };
  RunConsole([&](HWND console) {
    toggledAt = waNow();
    EXPECT_EQ(headless::dialog(kSplashDialogId), 0u);
    EXPECT_FALSE(waIsWindow(splash));
    EXPECT_EQ(headless::text(console, 0), "Velloran");
    // Centred on the 1280 x 1024 screen, 220 pixels above the middle.
    EXPECT_EQ(Console().record.left, 190);
    EXPECT_EQ(Console().record.top, 192);
    EXPECT_EQ(Console().record.width, 900);
    EXPECT_EQ(Console().record.height, 200);
  });
  ASSERT_NE(splash, 0u);
  EXPECT_TRUE(splashShown);
  EXPECT_EQ(picture, kPictureBitmapId);
  EXPECT_EQ(Recorded().toggles, 1);
  EXPECT_GE(toggledAt, 1200u);  // the splash stood for 1200 ms before the link came up
  EXPECT_EQ(Startup().splash.title, std::string("Velloran :: Welcome"));
}

TEST_F(StartupTest, InitialisationLeavesTheConsoleInNormalModeWithItsButtons) {
  WriteMachine();
  RunConsole([&](HWND console) {
    EXPECT_EQ(Console().controlMode, 0);
    for (int32_t id : {kAccountButtonId, kControlButtonId, kCloseButtonId, kAboutButtonId})
      EXPECT_TRUE(headless::enabled(console, id)) << id;
    for (int32_t id : {int32_t(kCreateButtonId), int32_t(kRemoveButtonId), kSettingButtonId})
      EXPECT_FALSE(headless::enabled(console, id)) << id;
    for (int32_t id = kIndicatorOnId; id <= kIndicatorCdId; ++id) EXPECT_EQ(headless::text(console, id), "   ");
    EXPECT_EQ(headless::focusedId(), kIdFieldId);
    EXPECT_EQ(Console().statusLine, headless::control(console, kStatusLineId));
    Wait(15000);  // the first tick refreshes the clock line
    const std::regex clock(
        "(Sun|Mon|Tues|Wednes|Thurs|Fri|Satur)day [1-9][0-9]? "
        "(January|February|March|April|May|June|July|August|September|October|November|December) "
        "[0-9]{4} ([1-9]?[0-9]):([1-9]?[0-9]):([1-9]?[0-9])");
    EXPECT_TRUE(std::regex_match(headless::text(console, kClockLineId), clock)) << headless::text(console, kClockLineId);
  });
}

TEST_F(StartupTest, AboutShowsThePictureAndEndsOnlyWithAClick) {
  WriteMachine();
  bool sawAbout = false;
  RunConsole([&](HWND console) {
    headless::onDialog(kAboutDialogId, [&](HWND about) {
      sawAbout = true;
      headless::uncover(about);
      headless::settle();
      EXPECT_EQ(headless::image(about, kAboutPictureId), kPictureBitmapId);
      EXPECT_EQ(headless::text(about, 0), "Velloran :: About");
      // Enter, Esc and the caption's close request leave it open.
      tkSendMessage(about, WM_COMMAND, IDOK, 0);
      tkSendMessage(about, WM_COMMAND, IDCANCEL, 0);
      tkSendMessage(about, WM_CLOSE, 0, 0);
      EXPECT_FALSE(waWindow(about)->ended);
      headless::mouseUp(about);
    });
    headless::click(console, kAboutButtonId);
    headless::settle();
    EXPECT_EQ(headless::dialog(kAboutDialogId), 0u);
    EXPECT_EQ(headless::focusedId(), kIdFieldId);
  });
  EXPECT_TRUE(sawAbout);
}

}  // namespace
}  // namespace consoletest
