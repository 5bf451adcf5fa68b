// The Setting dialog: what it shows, what it writes and when, validation, and
// the Control Key confirmations of Save.
#include <string>
#include <vector>

#include "console/console.h"
#include "console/prompt.h"
#include "console/setting.h"
#include "console_fixture.h"
#include "toolkit/dialog.h"
#include "winapi/winapi.h"

namespace consoletest {
namespace {

class SettingTest : public ConsoleFixture {
 protected:
  // Opens the Setting dialog from control mode; scenario runs inside it and
  // should end it; a dialog left open is ended afterwards.
  void RunSetting(const std::function<void(HWND)>& scenario, const std::function<void(HWND)>& afterwards = nullptr) {
    RunConsole([&](HWND console) {
      ControlLogin(console, "admin", "secret", "secret");
      ASSERT_EQ(Console().controlMode, 1);
      bool opened = false;
      headless::onDialog(kSettingDialogId, [&](HWND setting) {
        opened = true;
        scenario(setting);
        if (!waWindow(setting)->ended) tkEndDialog(setting, 0);
      });
      headless::click(console, kSettingButtonId);
      headless::settle();
      EXPECT_TRUE(opened);
      if (afterwards) afterwards(console);
    });
  }
  std::string ComboText(HWND setting, int32_t id) {
    const int32_t row = headless::selection(setting, id);
    return row < 0 ? std::string("(none)") : headless::rows(setting, id)[static_cast<size_t>(row)].text;
  }
  void Click(HWND setting, int32_t id) {
    headless::click(setting, id);
    headless::settle();
  }
  std::string FileSlot(const char* file, FieldSlot slot) { return Slot(ReadBack(file), slot); }
  std::string Status() { return headless::text(Console().record.handle, kStatusLineId); }
};

TEST_F(SettingTest, ControlsShowTheLiveRecords) {
  WriteMachine({{UnitField::OnlineMachID, "0499"}, {UnitField::AutoAuxPort, "1"}, {UnitField::EnableECourier, "0"},
                {UnitField::ECourierInterval, "25"}, {UnitField::Redial, "3"}},
               {{SettingsField::Port, "17"}, {SettingsField::Baud, "115200"}, {SettingsField::Signal, "3"}});
  RunSetting([&](HWND s) {
    EXPECT_EQ(headless::text(s, 0), "Velloran :: Setting");
    const std::pair<int32_t, const char*> edits[] = {
        {kSetMachId, "0401"}, {kSetOnlineMachId, "0499"}, {kSetOwner, "Test Owner"}, {kSetSetCmd, "E0"},
        {kSetDial, "DT"},     {kSetAnswer, "A"},          {kSetInitCmd, "S0=1"},     {kSetControlId, "admin"},
        {kSetControlKey, "secret"}};
    for (const auto& [id, text] : edits) EXPECT_EQ(headless::text(s, id), text) << id;
    const std::pair<int32_t, const char*> combos[] = {{kSetSignal, "3"},   {kSetPort, "17"},
                                                      {kSetBaud, "115200"}, {kSetAuxPort, "2"},
                                                      {kSetECourierInterval, "25"}, {kSetRedial, "3"}};
    for (const auto& [id, text] : combos) EXPECT_EQ(ComboText(s, id), text) << id;
    EXPECT_EQ(headless::rows(s, kSetPort).size(), 32u);
    EXPECT_EQ(headless::rows(s, kSetBaud).size(), 5u);
    EXPECT_EQ(headless::rows(s, kSetECourierInterval).size(), 6u);
    EXPECT_EQ(headless::rows(s, kSetRedial).size(), 3u);
    EXPECT_TRUE(headless::checked(s, kSetAutoAuxPort));
    EXPECT_FALSE(headless::checked(s, kSetEnableECourier));
    EXPECT_EQ(headless::focusedId(), kSetMachId);
    EXPECT_EQ(Status(), "Settings loaded");
  });
}

TEST_F(SettingTest, FilesRemovedWhileRunningComeBackAtTheNextOpening) {
  WriteMachine();
  headless::answerBox(IDNO);
  RunConsole([&](HWND console) {
    ControlLogin(console, "admin", "secret", "secret");
    fs::remove(root_ / "VL.INI");
    fs::remove(root_ / "Velloran.INI");
    headless::onDialog(kSettingDialogId, [&](HWND s) { Click(s, kSetExit); });
    headless::click(console, kSettingButtonId);
    headless::settle();
  });
  EXPECT_EQ(FileSlot("VL.INI", UnitField::ControlID), "admin");
  EXPECT_EQ(FileSlot("Velloran.INI", SettingsField::Dial), "DT");
}

TEST_F(SettingTest, ExitAnsweredNoKeepsTheEditsLiveButUnwritten) {
  WriteMachine();
  headless::answerBox(IDNO);
  RunSetting(
      [&](HWND s) {
        headless::type(s, kSetControlId, "Boss");
        headless::pickCombo(s, kSetECourierInterval, "10");
        headless::tick(s, kSetEnableECourier, false);
        Click(s, kSetExit);
        ASSERT_EQ(headless::boxes().size(), 1u);
        EXPECT_EQ(headless::boxes()[0].caption, "Velloran :: Setting");
        EXPECT_EQ(headless::boxes()[0].text, "Save changes to [Setting]?");
        EXPECT_EQ(headless::boxes()[0].style, 36);
        EXPECT_TRUE(waWindow(s)->ended);
      },
      [&](HWND console) {
        EXPECT_EQ(Slot(Config().unit, UnitField::ControlID), "Boss");
        EXPECT_EQ(Slot(Config().unit, UnitField::ECourierInterval), "10");
        EXPECT_EQ(Slot(Config().unit, UnitField::EnableECourier), "0");
        EXPECT_EQ(FileSlot("VL.INI", UnitField::ControlID), "admin");
        EXPECT_EQ(Setting().savedKey[0], 0);
        // The new ControlID counts at once.
        headless::click(console, kControlButtonId);
        headless::settle();
        ControlLogin(console, "boss", "secret", "secret");
        EXPECT_EQ(Console().controlMode, 1);
      });
}

TEST_F(SettingTest, RedialOutsideTheListBlocksSaveUntilOneIsChosen) {
  WriteMachine({{UnitField::Redial, "7"}});
  headless::answerBox(1);
  RunSetting([&](HWND s) {
    EXPECT_EQ(ComboText(s, kSetRedial), "(none)");
    headless::type(s, kSetOwner, "Changed Owner");
    Click(s, kSetSave);
    ASSERT_EQ(headless::boxes().size(), 1u);
    EXPECT_EQ(headless::boxes()[0].text, "Redial attempts can only be (0 - 3)");
    EXPECT_EQ(headless::focusedId(), kSetRedial);
    EXPECT_EQ(FileSlot("VL.INI", UnitField::Owner), "Test Owner");
    EXPECT_EQ(Status(), "Settings loaded");
    EXPECT_FALSE(waWindow(s)->ended);
    headless::pickCombo(s, kSetRedial, "2");
    Click(s, kSetSave);
    EXPECT_EQ(FileSlot("VL.INI", UnitField::Redial), "2");
    EXPECT_EQ(FileSlot("VL.INI", UnitField::Owner), "Changed Owner");
    EXPECT_EQ(Status(), "Settings saved");
  });
}

TEST_F(SettingTest, ValuesTheListsDoNotOfferSurviveASave) {
  WriteMachine({{UnitField::Redial, "0"}}, {{SettingsField::Baud, "9600"}});
  RunSetting([&](HWND s) {
    EXPECT_EQ(ComboText(s, kSetBaud), "(none)");
    Click(s, kSetSave);
    EXPECT_TRUE(headless::boxes().empty());
    EXPECT_EQ(FileSlot("Velloran.INI", SettingsField::Baud), "9600");
    EXPECT_EQ(FileSlot("VL.INI", UnitField::Redial), "0");
  });
}

TEST_F(SettingTest, ASlotFilledToItsEndIsShownAndSavedWithinItsWidth) {
  WriteMachine({{UnitField::OnlineMachID, "0499"}});
  ConfigRecord unit = ReadBack("VL.INI");
  for (int32_t i = 0; i < UnitField::MachID.width; ++i) unit.bytes[UnitField::MachID.offset + i] = 'M';
  WriteRecord((root_ / "VL.INI").string().c_str(), unit);
  RunSetting([&](HWND s) {
    EXPECT_EQ(headless::text(s, kSetMachId), std::string(23, 'M'));
    EXPECT_EQ(headless::text(s, kSetOnlineMachId), "0499");
    Click(s, kSetSave);
  });
  const ConfigRecord saved = ReadBack("VL.INI");
  // Read back with the field's limit: 22 characters.
  EXPECT_EQ(Slot(saved, UnitField::MachID), std::string(22, 'M'));
  EXPECT_EQ(saved.bytes[UnitField::MachID.offset + 23], 0);
  EXPECT_EQ(Slot(saved, UnitField::OnlineMachID), "0499");
}

struct RefusalCase {
  int32_t field;
  const char* text;
  int32_t focus;
};

TEST_F(SettingTest, EmptyIdsAreRefusedAndExitStaysOpen) {
  const RefusalCase cases[] = {{kSetMachId, "Machine ID cannot be empty", kSetMachId},
                               {kSetControlId, "ControlID cannot be empty", kSetControlId}};
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.text);
    TearDown();
    SetUp();
    WriteMachine();
    headless::answerBox(1);
    headless::answerBox(1);
    RunSetting([&](HWND s) {
      headless::type(s, c.field, "");
      Click(s, kSetSave);
      Click(s, kSetExit);
      EXPECT_FALSE(waWindow(s)->ended);
      ASSERT_EQ(headless::boxes().size(), 2u);
      for (const headless::ShownBox& box : headless::boxes()) {
        EXPECT_EQ(box.caption, "Velloran :: Setting");
        EXPECT_EQ(box.text, c.text);
        EXPECT_EQ(box.style, 64);
      }
      EXPECT_EQ(headless::focusedId(), c.focus);
    });
  }
}

TEST_F(SettingTest, TwentyCharacterKeyIsStoredWithItsFirstFourteen) {
  WriteMachine();
  std::vector<std::string> captions;
  RunSetting([&](HWND s) {
    headless::type(s, kSetControlKey, "abcdefghijklmnopqrst");
    AnswerPrompt("secret", [&] {
      captions.push_back(Prompt().caption);
      AnswerPrompt("ABCDEFGHIJKLMN", [&] { captions.push_back(Prompt().caption); });
    });
    Click(s, kSetSave);
  });
  EXPECT_EQ(captions, (std::vector<std::string>{"Confirm old Control Key", "Confirm new Control Key"}));
  EXPECT_EQ(FileSlot("VL.INI", UnitField::ControlKey), "abcdefghijklmn");
  EXPECT_EQ(Slot(Config().unit, UnitField::ControlKey), "abcdefghijklmn");
}

TEST_F(SettingTest, LetterCaseOnlyChangeAsksNothingAndIsWrittenInUpperCase) {
  WriteMachine();
  bool prompted = false;
  RunSetting([&](HWND s) {
    headless::onDialog(kPromptDialogId, [&](HWND p) {
      prompted = true;
      headless::pressCloseBox(p);
    });
    headless::type(s, kSetControlKey, "SeCrEt");
    Click(s, kSetSave);
  });
  EXPECT_FALSE(prompted);
  EXPECT_EQ(FileSlot("VL.INI", UnitField::ControlKey), "SECRET");
  EXPECT_EQ(Slot(Config().unit, UnitField::ControlKey), "SECRET");
}

TEST_F(SettingTest, FailedOldKeyConfirmationPutsTheOldKeyBackAndAsksAgainNextTime) {
  WriteMachine();
  headless::answerBox(1);
  RunSetting([&](HWND s) {
    headless::type(s, kSetControlKey, "newkey");
    AnswerPrompt("wrong");
    Click(s, kSetSave);
    ASSERT_EQ(headless::boxes().size(), 1u);
    EXPECT_EQ(headless::boxes()[0].text, "Wrong old Control key. Re-confirm.");
    EXPECT_EQ(headless::focusedId(), kSetControlKey);
    EXPECT_EQ(Slot(Config().unit, UnitField::ControlKey), "secret");
    EXPECT_EQ(FileSlot("VL.INI", UnitField::ControlKey), "secret");
    EXPECT_EQ(headless::text(s, kSetControlKey), "newkey");
    AnswerPrompt("secret", [&] { AnswerPrompt("newkey"); });
    Click(s, kSetSave);
    EXPECT_EQ(FileSlot("VL.INI", UnitField::ControlKey), "newkey");
    EXPECT_EQ(std::string(Setting().savedKey), "newkey");
  });
}

TEST_F(SettingTest, FailedNewKeyConfirmationWritesNothing) {
  WriteMachine();
  headless::answerBox(1);
  RunSetting([&](HWND s) {
    headless::type(s, kSetControlKey, "newkey");
    headless::type(s, kSetOwner, "Someone Else");
    AnswerPrompt("secret", [&] { AnswerPrompt("newkez"); });
    Click(s, kSetSave);
    ASSERT_EQ(headless::boxes().size(), 1u);
    EXPECT_EQ(headless::boxes()[0].text, "Wrong new Control key. Re-confirm.");
    EXPECT_EQ(Slot(Config().unit, UnitField::ControlKey), "secret");
    EXPECT_EQ(FileSlot("VL.INI", UnitField::Owner), "Test Owner");
  });
}

TEST_F(SettingTest, ExitAnsweredYesSavesAndEnds) {
  WriteMachine();
  headless::answerBox(IDYES);
  RunSetting([&](HWND s) {
    headless::type(s, kSetDial, "DP");
    headless::tick(s, kSetAutoAuxPort, true);
    Click(s, kSetExit);
    EXPECT_TRUE(waWindow(s)->ended);
  });
  EXPECT_EQ(FileSlot("Velloran.INI", SettingsField::Dial), "DP");
  EXPECT_EQ(FileSlot("VL.INI", UnitField::AutoAuxPort), "1");
}

TEST_F(SettingTest, EnterEscAndCloseRequestsAreIgnored) {
  WriteMachine();
  RunSetting([&](HWND s) {
    tkSendMessage(s, WM_COMMAND, IDOK, 0);
    tkSendMessage(s, WM_COMMAND, IDCANCEL, 0);
    tkSendMessage(s, WM_CLOSE, 0, 0);
    EXPECT_FALSE(waWindow(s)->ended);
    EXPECT_TRUE(headless::boxes().empty());
  });
}

}  // namespace
}  // namespace consoletest
