// The prompt: its three modes, the confirm-or-set rule, lengths, the close
// button and the Enter-key filter.
#include <cstring>
#include <string>

#include "console/prompt.h"
#include "console_fixture.h"
#include "toolkit/dialog.h"
#include "winapi/winapi.h"

namespace consoletest {
namespace {

class PromptTest : public ConsoleFixture {
 protected:
  int32_t Ask(int32_t mode, const char* caption, char* buffer, int32_t maxLength) {
    return vlAskLoader(mode, caption, buffer, maxLength, &context_, nullptr);
  }
};

enum class Act { kSubmit, kCloseBox };

struct PromptCase {
  const char* what;
  int32_t mode;
  const char* before;
  int32_t maxLength;
  Act act;
  std::string answer;  // typed over whatever the edit showed; "=" keeps it
  int32_t result;
  std::string after;
  int32_t shownEdit;
  const char* shownText;
};

const PromptCase kPrompts[] = {
    {"plain value, pre-filled and kept", 0, "hello", 31, Act::kSubmit, "=", 1, "hello", kPromptTextEditId, "hello"},
    {"plain value replaced", 0, "hello", 31, Act::kSubmit, "world", 1, "world", kPromptTextEditId, "hello"},
    {"plain value emptied", 0, "hello", 31, Act::kSubmit, "", 0, "hello", kPromptTextEditId, "hello"},
    {"close box keeps a pre-filled value", 0, "hello", 31, Act::kCloseBox, "other", 0, "hello", kPromptTextEditId,
     "hello"},
    {"digits mode uses the digit edit", 1, "", 15, Act::kSubmit, "1234", 1, "1234", kPromptDigitEditId, ""},
    {"answer cut to maxLength", 0, "", 15, Act::kSubmit, "abcdefghijklmnopqrst", 1, "abcdefghijklmno",
     kPromptTextEditId, ""},
    {"new key stored as typed", -1, "", 15, Act::kSubmit, "NewKey", 1, "NewKey", kPromptKeyEditId, ""},
    {"new key left empty", -1, "", 15, Act::kSubmit, "", 0, "", kPromptKeyEditId, ""},
    {"stored key never shown, confirmed in lower case", -1, "MiXeD", 15, Act::kSubmit, "mixed", 1, "mixed",
     kPromptKeyEditId, ""},
    {"stored key confirmed in upper case", -1, "abc", 15, Act::kSubmit, "ABC", 1, "abc", kPromptKeyEditId, ""},
    {"stored key not confirmed, still folded", -1, "AbC", 15, Act::kSubmit, "abd", 0, "abc", kPromptKeyEditId, ""},
    {"confirming answer longer than the stored key", -1, "abcdefghijklmno", 15, Act::kSubmit,
     "abcdefghijklmnopqrst", 0, "abcdefghijklmno", kPromptKeyEditId, ""},
    {"confirm cancelled with the close box", -1, "key", 15, Act::kCloseBox, "key", 0, "key", kPromptKeyEditId, ""},
};

TEST_F(PromptTest, ModesAndTheirResults) {
  for (const PromptCase& c : kPrompts) {
    SCOPED_TRACE(c.what);
    char buffer[256] = {};
    std::strcpy(buffer, c.before);
    std::string shown;
    bool onlyItsEditShown[3] = {};
    std::string caption;
    headless::onDialog(kPromptDialogId, [&](HWND prompt) {
      shown = headless::text(prompt, c.shownEdit);
      caption = headless::text(prompt, 0);
      int i = 0;
      for (int32_t id : {kPromptTextEditId, kPromptDigitEditId, kPromptKeyEditId})
        onlyItsEditShown[i++] = (id == c.shownEdit) == headless::visible(prompt, id);
      if (c.answer != "=") headless::type(prompt, c.shownEdit, c.answer);
      if (c.act == Act::kCloseBox) {
        headless::pressCloseBox(prompt);
      } else {
        headless::keyUp(prompt, c.shownEdit, VK_RETURN);
        headless::keyUp(prompt, c.shownEdit, VK_RETURN);
      }
    });
    EXPECT_EQ(Ask(c.mode, "Question?", buffer, c.maxLength), c.result);
    EXPECT_EQ(std::string(buffer), c.after);
    EXPECT_EQ(shown, c.shownText);
    EXPECT_EQ(caption, "Question?");
    for (bool shownRight : onlyItsEditShown) EXPECT_TRUE(shownRight);
    EXPECT_EQ(headless::dialog(kPromptDialogId), 0u);
  }
}

TEST_F(PromptTest, LongAnswerIsReadAsItsFirst254Characters) {
  char buffer[256] = {};
  AnswerPrompt(std::string(300, 'z'));
  EXPECT_EQ(Ask(0, "Long", buffer, 255), 1);
  EXPECT_EQ(std::string(buffer), std::string(254, 'z'));
}

TEST_F(PromptTest, TheCallersBufferIsNeverWrittenBeyondMaxLength) {
  char buffer[32];
  std::memset(buffer, '#', sizeof buffer);
  buffer[0] = 0;
  buffer[10] = 0;
  AnswerPrompt("0123456789abcdef");
  EXPECT_EQ(Ask(0, "Short", buffer, 10), 1);
  EXPECT_EQ(std::string(buffer), "0123456789");
  for (size_t i = 11; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << i;
}

TEST_F(PromptTest, RefusesWhatItCannotServeWithoutOpening) {
  char buffer[16] = "keep";
  bool opened = false;
  headless::onDialog(kPromptDialogId, [&](HWND prompt) {
    opened = true;
    headless::pressCloseBox(prompt);
  });
  EXPECT_EQ(vlAskLoader(2, "Bad mode", buffer, 15, &context_, nullptr), 0);
  EXPECT_EQ(vlAskLoader(0, "No buffer", nullptr, 15, &context_, nullptr), 0);
  EXPECT_EQ(vlAskLoader(0, "No context", buffer, 15, nullptr, nullptr), 0);
  EXPECT_EQ(vlAskLoader(0, "Negative", buffer, -1, &context_, nullptr), 0);
  EXPECT_FALSE(opened);
  EXPECT_STREQ(buffer, "keep");
  // Let the unused hook go with a prompt that is really shown.
  Ask(0, "Open", buffer, 15);
  EXPECT_TRUE(opened);
}

TEST_F(PromptTest, APromptOpenedWhileOneIsShowingIsRefused) {
  char outer[16] = {};
  char inner[16] = "inner";
  int32_t nested = -1;
  headless::onDialog(kPromptDialogId, [&](HWND prompt) {
    nested = Ask(0, "Second", inner, 15);
    headless::type(prompt, kPromptTextEditId, "first");
    headless::keyUp(prompt, kPromptTextEditId, VK_RETURN);
    headless::keyUp(prompt, kPromptTextEditId, VK_RETURN);
  });
  EXPECT_EQ(Ask(0, "First", outer, 15), 1);
  EXPECT_EQ(nested, 0);
  EXPECT_STREQ(outer, "first");
  EXPECT_STREQ(inner, "inner");
}

struct FilterCase {
  const char* what;
  bool uiStateFirst;
  int otherKeysFirst;  // key releases of other keys before the Enters
  int entersToSubmit;
};

TEST_F(PromptTest, EnterFilterArmsOnTheFirstReleaseOrOnAUiStateUpdate) {
  const FilterCase cases[] = {
      {"fresh prompt: the first Enter only arms", false, 0, 2},
      {"UI-state update armed it: the first Enter submits", true, 0, 1},
      {"another key's release armed it", false, 1, 1},
      {"other keys after arming do not submit", false, 3, 1},
  };
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(c.what);
    char buffer[16] = {};
    int entersNeeded = 0;
    headless::onDialog(kPromptDialogId, [&](HWND prompt) {
      headless::type(prompt, kPromptTextEditId, "value");
      if (c.uiStateFirst) headless::updateUiState(prompt);
      for (int i = 0; i < c.otherKeysFirst; ++i) headless::keyUp(prompt, kPromptTextEditId, 'A');
      headless::settle();
      EXPECT_FALSE(waWindow(prompt)->ended);
      while (!waWindow(prompt)->ended && entersNeeded < 5) {
        headless::keyUp(prompt, kPromptTextEditId, VK_RETURN);
        headless::settle();
        ++entersNeeded;
      }
    });
    EXPECT_EQ(Ask(0, "Filter", buffer, 15), 1);
    EXPECT_EQ(entersNeeded, c.entersToSubmit);
    EXPECT_STREQ(buffer, "value");
  }
}

TEST_F(PromptTest, EnterAndEscAsCommandsDoNothing) {
  char buffer[16] = {};
  headless::onDialog(kPromptDialogId, [&](HWND prompt) {
    tkSendMessage(prompt, WM_COMMAND, IDOK, 0);
    tkSendMessage(prompt, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(waWindow(prompt)->ended);
    headless::type(prompt, kPromptTextEditId, "x");
    tkSendMessage(prompt, WM_COMMAND, kPromptSubmitId, 0);
  });
  EXPECT_EQ(Ask(0, "Commands", buffer, 15), 1);
  EXPECT_STREQ(buffer, "x");
}

}  // namespace
}  // namespace consoletest
