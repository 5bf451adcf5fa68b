// Control login and logout, the buttons of each mode, the commands, and the
// close sequence.
#include <string>
#include <vector>

#include "console/console.h"
#include "console/setting.h"
#include "console_fixture.h"
#include "link/link.h"
#include "toolkit/dialog.h"
#include "winapi/winapi.h"

namespace consoletest {
namespace {

class LoginTest : public ConsoleFixture {
 protected:
  void ExpectNormalButtons(HWND console) {
    for (int32_t id : {kAccountButtonId, kCloseButtonId}) EXPECT_TRUE(headless::enabled(console, id)) << id;
    for (int32_t id : {kCreateButtonId, kRemoveButtonId}) EXPECT_FALSE(headless::enabled(console, id)) << id;
  }
  void ExpectControlButtons(HWND console) {
    for (int32_t id : {kAccountButtonId, kCloseButtonId}) EXPECT_FALSE(headless::enabled(console, id)) << id;
    for (int32_t id : {kCreateButtonId, kRemoveButtonId}) EXPECT_TRUE(headless::enabled(console, id)) << id;
  }
};

struct LoginCase {
  const char* what;
  const char* storedId;
  const char* storedKey;
  const char* typedId;
  const char* typedKey;
  const char* confirm;  // nullptr: no prompt may open
  const char* refusal;  // nullptr: the login succeeds
  const char* keyAfter;
};

const LoginCase kLogins[] = {
    {"mixed-case ControlID typed in upper case", "AdMin", "secret", "ADMIN", "secret", "secret", nullptr, "secret"},
    {"mixed-case ControlID typed in lower case", "AdMin", "secret", "admin", "secret", "secret", nullptr, "secret"},
    {"key typed and confirmed in other cases", "admin", "SeCret", "admin", "SECRET", "Secret", nullptr, "secret"},
    {"wrong id", "admin", "secret", "root", "secret", nullptr, "Wrong entry in ControlID. Re-enter.", "secret"},
    {"id with extra character", "admin", "secret", "admin1", "secret", nullptr, "Wrong entry in ControlID. Re-enter.",
     "secret"},
    {"wrong key", "admin", "SECRET", "admin", "guess", nullptr, "Wrong entry in Control key. Re-enter.", "secret"},
    {"wrong confirmation", "admin", "secret", "admin", "secret", "secreT!", "Wrong entry in Control key. Re-enter.",
     "secret"},
    {"empty stored key: any answer becomes the key", "admin", "", "admin", "", "NewKey", nullptr, "NewKey"},
    {"empty stored key and empty answer", "admin", "", "admin", "", "", "Wrong entry in Control key. Re-enter.", ""},
    {"empty stored key but a key typed", "admin", "", "admin", "x", nullptr, "Wrong entry in Control key. Re-enter.",
     ""},
};

TEST_F(LoginTest, ControlLoginCases) {
  for (const LoginCase& c : kLogins) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    WriteMachine({{UnitField::ControlID, c.storedId}, {UnitField::ControlKey, c.storedKey}});
    if (c.refusal != nullptr) headless::answerBox(1);
    bool prompted = false;
    RunConsole([&](HWND console) {
      headless::type(console, kIdFieldId, c.typedId);
      headless::type(console, kKeyFieldId, c.typedKey);
      if (c.confirm != nullptr) AnswerPrompt(c.confirm, [&] { prompted = true; });
      headless::click(console, kControlButtonId);
      headless::settle();
      EXPECT_EQ(prompted, c.confirm != nullptr);
      // The comparison folds the live ControlID whatever the outcome.
      EXPECT_EQ(Slot(Config().unit, UnitField::ControlID), std::string(c.storedId) == "AdMin" ? "admin" : c.storedId);
      EXPECT_EQ(Slot(Config().unit, UnitField::ControlKey), c.keyAfter);
      EXPECT_EQ(headless::text(console, kIdFieldId), "");
      EXPECT_EQ(headless::text(console, kKeyFieldId), "");
      EXPECT_EQ(headless::focusedId(), kIdFieldId);
      EXPECT_EQ(Recorded().clears, 1);
      if (c.refusal == nullptr) {
        EXPECT_EQ(Console().controlMode, 1);
        EXPECT_EQ(headless::text(console, 0), "Velloran :: Control");
        EXPECT_EQ(std::string(Console().savedTitle), "Velloran");
        ExpectControlButtons(console);
        EXPECT_TRUE(headless::boxes().empty());
      } else {
        EXPECT_EQ(Console().controlMode, 0);
        EXPECT_EQ(headless::text(console, 0), "Velloran");
        ExpectNormalButtons(console);
        ASSERT_EQ(headless::boxes().size(), 1u);
        EXPECT_EQ(headless::boxes()[0].caption, "Velloran");
        EXPECT_EQ(headless::boxes()[0].text, c.refusal);
        EXPECT_EQ(headless::boxes()[0].style, 64);
      }
    });
  }
}

TEST_F(LoginTest, LoginTakesTheLinkDownAndLogoutBringsItBack) {
  WriteMachine();
  RunConsole([&](HWND console) {
    ASSERT_EQ(Link().online, 1);
    ControlLogin(console, "admin", "secret", "secret");
    EXPECT_EQ(Link().online, 0);
    EXPECT_EQ(Recorded().toggles, 2);
    EXPECT_TRUE(headless::enabled(console, kSettingButtonId));

    headless::click(console, kControlButtonId);
    headless::settle();
    EXPECT_EQ(Console().controlMode, 0);
    EXPECT_EQ(headless::text(console, 0), "Velloran");
    EXPECT_EQ(Console().savedTitle[0], 0);
    EXPECT_EQ(Recorded().toggles, 3);
    EXPECT_EQ(Link().online, 1);
    EXPECT_FALSE(headless::enabled(console, kSettingButtonId));
    ExpectNormalButtons(console);
    EXPECT_EQ(Recorded().clears, 2);
  });
}

TEST_F(LoginTest, WithTheLinkDownLoginDoesNotToggleAndLogoutTriesAgain) {
  WriteMachine();
  Recorded().linkOpens = false;
  RunConsole([&](HWND console) {
    ControlLogin(console, "admin", "secret", "secret");
    EXPECT_EQ(Recorded().toggles, 1);  // only the start-up attempt
    EXPECT_TRUE(headless::enabled(console, kSettingButtonId));
    headless::click(console, kControlButtonId);
    headless::settle();
    EXPECT_EQ(Recorded().toggles, 2);
    EXPECT_EQ(Link().online, 0);
    EXPECT_FALSE(headless::enabled(console, kSettingButtonId));
  });
}

TEST_F(LoginTest, LogoutWithAPortThatCannotOpenLeavesTheConsoleOfflineWithTheLinksReport) {
  // The real link control: with Signal 2 no port can ever be opened.
  WriteMachine({}, {{SettingsField::Signal, "2"}, {SettingsField::Port, "7"}});
  Console().services.toggleLink = nullptr;
  headless::answerBox(1);  // at start-up
  headless::answerBox(1);  // at logout
  RunConsole([&](HWND console) {
    ASSERT_EQ(CountBoxes("7"), 1);
    ControlLogin(console, "admin", "secret", "secret");
    EXPECT_EQ(Console().controlMode, 1);
    headless::click(console, kControlButtonId);
    headless::settle();
    EXPECT_EQ(Console().controlMode, 0);
    EXPECT_EQ(Link().online, 0);
  });
  ASSERT_EQ(headless::boxes().size(), 2u);
  for (const headless::ShownBox& box : headless::boxes()) {
    EXPECT_EQ(box.caption, "DCE not found on this com port");
    EXPECT_EQ(box.text, "7");
  }
}

TEST_F(LoginTest, InControlModeNeitherCloseBoxNorCloseButtonCloses) {
  WriteMachine();
  RunConsole([&](HWND console) {
    ControlLogin(console, "admin", "secret", "secret");
    headless::pressCloseBox(console);
    headless::settle();
    EXPECT_FALSE(headless::click(console, kCloseButtonId));
    tkSendMessage(console, WM_COMMAND, kCloseButtonId, 0);
    EXPECT_TRUE(headless::boxes().empty());
    EXPECT_FALSE(waWindow(console)->ended);
  });
}

TEST_F(LoginTest, CloseAnsweredNoKeepsRunningAndYesEndsWithZero) {
  WriteMachine({}, {{SettingsField::Signal, "1"}});
  headless::answerBox(IDNO);
  headless::answerBox(IDYES);
  const int32_t result = RunConsole([&](HWND console) {
    headless::pressCloseBox(console);
    headless::settle();
    ASSERT_EQ(headless::boxes().size(), 1u);
    EXPECT_EQ(headless::boxes()[0].caption, "Velloran");
    EXPECT_EQ(headless::boxes()[0].text, "Close Velloran");
    EXPECT_EQ(headless::boxes()[0].style, 36);
    EXPECT_FALSE(waWindow(console)->ended);
    EXPECT_EQ(Recorded().toggles, 1);

    Console().loginId[0] = 'x';  // working memory the close must clear
    headless::click(console, kCloseButtonId);
    headless::settle();
    EXPECT_TRUE(waWindow(console) == nullptr || waWindow(console)->ended);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(headless::boxes().size(), 2u);
  EXPECT_EQ(Recorded().toggles, 2);  // taken down
  EXPECT_EQ(Recorded().clears, 1);   // the account work buffers
  ASSERT_EQ(Recorded().registrations.size(), 2u);
  EXPECT_EQ(Recorded().registrations[1], std::make_pair(false, 0));
  EXPECT_EQ(Console().record.handle, 0u);
  EXPECT_EQ(Console().loginId[0], 0);
  EXPECT_EQ(Config().unitPath[0], 0);
  EXPECT_EQ(Slot(Config().unit, UnitField::MachID), "0401");  // the records stay
  EXPECT_EQ(Link().online, 0);
}

TEST_F(LoginTest, CommandsCallTheirOperationsOnlyWhereTheirModeAllows) {
  WriteMachine();
  RunConsole([&](HWND console) {
    headless::click(console, kAccountButtonId);
    headless::settle();
    EXPECT_EQ(Recorded().opens, 1);
    EXPECT_EQ(headless::focusedId(), kIdFieldId);
    EXPECT_FALSE(headless::click(console, kCreateButtonId));
    EXPECT_FALSE(headless::click(console, kRemoveButtonId));
    // Setting does nothing outside control mode, even when the command comes.
    tkSendMessage(console, WM_COMMAND, kSettingButtonId, 0);
    EXPECT_EQ(headless::dialog(kSettingDialogId), 0u);
    // Enter and Esc are ignored.
    tkSendMessage(console, WM_COMMAND, IDOK, 0);
    tkSendMessage(console, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(waWindow(console)->ended);

    ControlLogin(console, "admin", "secret", "secret");
    headless::click(console, kCreateButtonId);
    headless::click(console, kRemoveButtonId);
    headless::settle();
    EXPECT_EQ(Recorded().creates, 1);
    EXPECT_EQ(Recorded().removes, 1);
    EXPECT_FALSE(headless::click(console, kAccountButtonId));
    EXPECT_EQ(Recorded().opens, 1);
  });
}

TEST_F(LoginTest, IndicatorsShowLabelsBlanksOrStayAsTheyAre) {
  WriteMachine();
  RunConsole([&](HWND console) {
    ShowLineIndicators(1, 1, 1, 1, 1);
    EXPECT_EQ(headless::text(console, kIndicatorOnId), "ON");
    EXPECT_EQ(headless::text(console, kIndicatorDsrId), "DSR");
    EXPECT_EQ(headless::text(console, kIndicatorCtsId), "CTS");
    EXPECT_EQ(headless::text(console, kIndicatorRngId), "RNG");
    EXPECT_EQ(headless::text(console, kIndicatorCdId), "CD");
    ShowLineIndicators(0, -1, 2, 0, -1);
    EXPECT_EQ(headless::text(console, kIndicatorOnId), "ON");
    EXPECT_EQ(headless::text(console, kIndicatorDsrId), "   ");
    EXPECT_EQ(headless::text(console, kIndicatorCtsId), "CTS");
    EXPECT_EQ(headless::text(console, kIndicatorCdId), "   ");
  });
}

}  // namespace
}  // namespace consoletest
