// The account commands, driven through the console's Id and Key fields with
// prompts and message boxes answered by the headless driver.
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "accounts/accounts.h"
#include "accounts/open_account.h"
#include "console/console.h"
#include "console/prompt.h"
#include "resources/resources.h"
#include "tests/store/store_fixture.h"
#include "toolkit/dialog.h"
#include "winapi/headless/driver.h"

namespace {

using namespace storetest;

LRESULT QuietConsole(HWND, UINT, WPARAM, LPARAM) { return 0; }

// Prompt answers in the order the command asks; nullopt closes the prompt.
std::deque<std::optional<std::string>> promptAnswers;
int promptsShown = 0;
std::vector<std::string> promptCaptions;

void AnswerNextPrompt(HWND prompt) {
  ++promptsShown;
  promptCaptions.push_back(Prompt().caption);
  if (promptAnswers.empty()) {
    headless::pressCloseBox(prompt);
    return;
  }
  std::optional<std::string> answer = promptAnswers.front();
  promptAnswers.pop_front();
  if (!promptAnswers.empty()) headless::onDialog(kPromptDialogId, AnswerNextPrompt);
  if (!answer) {
    headless::pressCloseBox(prompt);
    return;
  }
  int32_t edit = kPromptTextEditId;
  for (int32_t id : {kPromptTextEditId, kPromptDigitEditId, kPromptKeyEditId})
    if (headless::visible(prompt, id)) edit = id;
  headless::type(prompt, edit, *answer);
  headless::updateUiState(prompt);  // arms the Enter-key filter
  headless::keyPress(prompt, edit, VK_RETURN);
}

class AccountCommands : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  // A fresh dialog world and console window (table rows start with one).
  void Fresh() {
    if (console != 0) {
      EXPECT_TRUE(headless::failures().empty()) << headless::failures().front();
      tkDestroyWindow(console);
      console = 0;
    }
    headless::reset();
    ResetConsole();
    promptAnswers.clear();
    promptsShown = 0;
    promptCaptions.clear();
    Console().context.instance = tkModuleHandle(&VelloranResources());
    console = tkCreateDialog(Console().context.instance, res::kConsoleDialog, 0, QuietConsole, 0);
    ASSERT_NE(console, 0u);
    Console().record.handle = console;
    pBuildStr("Velloran :: Control", Console().record.title);
    Console().statusLine = tkGetDlgItem(console, kStatusLineId);
    Config().unit.SetText(UnitField::ControlKey, "ctrlkey");
    Config().unit.SetText(UnitField::AccountCount, "0");
  }
  void TearDown() override {
    EXPECT_TRUE(headless::failures().empty()) << headless::failures().front();
    tkDestroyWindow(console);
    ResetConsole();
  }

  void Type(const std::string& id, const std::string& key) {
    headless::type(console, kConsoleIdField, id);
    headless::type(console, kConsoleKeyField, key);
    headless::settle();
  }
  void Prompts(std::initializer_list<std::optional<std::string>> answers) {
    promptAnswers.assign(answers.begin(), answers.end());
    if (!promptAnswers.empty()) headless::onDialog(kPromptDialogId, AnswerNextPrompt);
  }
  // The one message box the command showed (boxes the test scripted count too).
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const headless::ShownBox& box : headless::boxes()) texts.push_back(box.text);
    return texts;
  }
  std::string Status() const { return headless::text(console, kStatusLineId); }
  std::string CountOnDisk() const {
    Bytes unit = ReadAll(machine.Root() / "VL.INI");
    if (unit.size() != 512) return "(no unit file)";
    vlData(-1, unit.data(), 512);
    return TextAt(unit, 138, 6);
  }
  void ExpectFieldsEmpty() const {
    EXPECT_EQ(headless::text(console, kConsoleIdField), "");
    EXPECT_EQ(headless::text(console, kConsoleKeyField), "");
  }

  StoreFolder machine;
  HWND console = 0;
};

struct Refusal {
  const char* name;
  const char* id;
  const char* key;
  std::vector<std::optional<std::string>> prompts;
  const char* message;
  int32_t focus;
};

const Refusal kCreateRefusals[] = {
    {"empty id", "", "key", {}, "Enter a user id", kConsoleIdField},
    {"blank in id", "bo b", "key", {}, "Invalid character in user id", kConsoleIdField},
    {"hyphen in id", "bo-b", "key", {}, "Invalid character in user id", kConsoleIdField},
    {"underscore in id", "bo_b", "key", {}, "Invalid character in user id", kConsoleIdField},
    {"empty key", "bob", "", {}, "Enter a desired account key", kConsoleKeyField},
    {"confirmation differs", "bob", "key", {"kez"}, "Wrong account key. Re-confirm.", kConsoleKeyField},
    {"confirmation closed", "bob", "key", {std::nullopt}, "Wrong account key. Re-confirm.", kConsoleKeyField},
    {"name closed", "bob", "key", {"KEY", std::nullopt}, "Wrong entry in user name. Re-enter.", kConsoleIdField},
    {"bad name", "bob", "key", {"key", "bob-smith"}, "Invalid character in user name", kConsoleIdField},
};

TEST_F(AccountCommands, CreationRefusalsNameTheFieldToMendAndMakeNothing) {
  for (const Refusal& r : kCreateRefusals) {
    Fresh();
    Type(r.id, r.key);
    promptAnswers.assign(r.prompts.begin(), r.prompts.end());
    if (!promptAnswers.empty()) headless::onDialog(kPromptDialogId, AnswerNextPrompt);
    headless::answerBox(1);
    EXPECT_EQ(CreateAccount(), 1);
    EXPECT_EQ(Messages(), std::vector<std::string>{r.message}) << r.name;
    ASSERT_FALSE(headless::boxes().empty());
    EXPECT_EQ(headless::boxes()[0].caption, "Velloran :: Control") << r.name;
    EXPECT_EQ(headless::boxes()[0].style, 64) << r.name;
    EXPECT_EQ(headless::focusedId(), r.focus) << r.name;
    EXPECT_EQ(promptsShown, static_cast<int>(r.prompts.size())) << r.name;
    EXPECT_FALSE(fs::exists(machine.AccountFolder("bob"))) << r.name;
    EXPECT_EQ(Config().unit.Number(UnitField::AccountCount), 0) << r.name;
    ExpectFieldsEmpty();
  }
}

TEST_F(AccountCommands, CreationStoresTheRecordInLowerCaseAndCountsTheFolder) {
  Type("Bob", "Key12");
  Prompts({"KEY12", "Bob Smith"});  // a confirmation in other letters passes
  EXPECT_EQ(CreateAccount(), 1);
  EXPECT_TRUE(headless::boxes().empty());
  EXPECT_EQ(promptCaptions, (std::vector<std::string>{"Confirm your account key", "Enter a desired user name"}));
  Bytes record = ReadAll(machine.AccountFile("bob"));
  ASSERT_EQ(record.size(), 512u);
  vlData(-1, record.data(), 512);
  EXPECT_EQ(TextAt(record, 0, 24), "bob");
  EXPECT_EQ(TextAt(record, 24, 16), "key12");
  EXPECT_EQ(TextAt(record, 40, 32), "bob smith");
  EXPECT_EQ(TextAt(record, 72, 6), "0");
  EXPECT_EQ(TextAt(record, 78, 48), Encoded("bob"));
  EXPECT_EQ(TextAt(record, 126, 4), "[-]");
  EXPECT_EQ(Bytes(record.begin() + 130, record.end()), Bytes(382, 0));
  EXPECT_EQ(Status(), "Account created");
  EXPECT_EQ(Config().unit.Number(UnitField::AccountCount), 1);
  EXPECT_EQ(CountOnDisk(), "1");
  ExpectFieldsEmpty();
}

TEST_F(AccountCommands, AnIdAlreadyOwnedIsRefusedButAnEmptyAccountFileIsTakenOver) {
  machine.MakeAccount("bob", "old");
  Type("bob", "new");
  Prompts({"new", "bob"});
  headless::answerBox(1);
  CreateAccount();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Account id already owned"});
  EXPECT_EQ(headless::focusedId(), kConsoleIdField);

  WriteAll(machine.AccountFile("bob"), Bytes());
  Type("bob", "new");
  Prompts({"new", "bob"});
  CreateAccount();
  Bytes record = ReadAll(machine.AccountFile("bob"));
  ASSERT_EQ(record.size(), 512u);
  vlData(-1, record.data(), 512);
  EXPECT_EQ(TextAt(record, 24, 16), "new");
  EXPECT_EQ(Status(), "Account created");
}

TEST_F(AccountCommands, TheCountFollowsTheFoldersEvenWhenItWasWrong) {
  Config().unit.SetText(UnitField::AccountCount, "7");
  machine.MakeAccount("ann");
  Type("bob", "k");
  Prompts({"k", "b"});
  CreateAccount();
  EXPECT_EQ(CountOnDisk(), "2");
  Type("bob", "ctrlkey");
  Prompts({"ctrlkey"});
  headless::answerBox(6);
  RemoveAccount();
  EXPECT_EQ(CountOnDisk(), "1");
  EXPECT_EQ(Config().unit.Number(UnitField::AccountCount), 1);
}

TEST_F(AccountCommands, ACreationThatCannotBeWrittenSaysSo) {
  // A folder where the account file belongs: nothing can be written there.
  fs::create_directories(machine.AccountFile("bob"));
  Type("bob", "k");
  Prompts({"k", "b"});
  CreateAccount();
  EXPECT_EQ(Status(), "Account could not be created");
}

const Refusal kRemoveRefusals[] = {
    {"empty id", "", "ctrlkey", {}, "Enter a user id", kConsoleIdField},
    {"bad id", "b.b", "ctrlkey", {}, "Invalid character in user id", kConsoleIdField},
    {"empty key", "bob", "", {}, "Enter Control Key", kConsoleKeyField},
    {"confirmation differs", "bob", "ctrlkey", {"ctrlkez"}, "Wrong Control key. Re-confirm.", kConsoleKeyField},
    {"not the control key", "bob", "userkey", {"userkey"}, "No admin right to remove account", kConsoleIdField},
    {"no such account", "zed", "ctrlkey", {"ctrlkey"}, "Account id does not exist", kConsoleIdField},
};

TEST_F(AccountCommands, RemovalRefusalsKeepTheAccount) {
  for (const Refusal& r : kRemoveRefusals) {
    Fresh();
    machine.MakeAccount("bob");
    Type(r.id, r.key);
    promptAnswers.assign(r.prompts.begin(), r.prompts.end());
    if (!promptAnswers.empty()) headless::onDialog(kPromptDialogId, AnswerNextPrompt);
    headless::answerBox(1);
    EXPECT_EQ(RemoveAccount(), 1);
    EXPECT_EQ(Messages(), std::vector<std::string>{r.message}) << r.name;
    EXPECT_EQ(headless::focusedId(), r.focus) << r.name;
    EXPECT_TRUE(fs::exists(machine.AccountFile("bob"))) << r.name;
    ExpectFieldsEmpty();
  }
}

TEST_F(AccountCommands, RemovalAnsweredNoKeepsEverything) {
  machine.MakeAccount("bob");
  Type("bob", "CtrlKey");
  Prompts({"ctrlkey"});
  headless::answerBox(7);
  RemoveAccount();
  ASSERT_EQ(headless::boxes().size(), 1u);
  EXPECT_EQ(headless::boxes()[0].caption, "bob");
  EXPECT_EQ(headless::boxes()[0].text, "Remove the above named account?");
  EXPECT_EQ(headless::boxes()[0].style, 36);
  EXPECT_TRUE(fs::exists(machine.AccountFile("bob")));
  EXPECT_NE(Status(), "Account removed");
}

TEST_F(AccountCommands, RemovalDeletesMailsIndexContactsAndTheFolder) {
  machine.MakeAccount("bob");
  machine.MakeAccount("ann");
  Config().unit.SetText(UnitField::AccountCount, "2");
  WriteAll(machine.MailboxIndex("bob"), Bytes(1040, 1));
  WriteAll(machine.MailFile("bob", "ann@1", "7/12/2026 9:05"), Bytes(4096, 2));
  WriteAll(machine.MailFile("bob", "ann@1", "7/12/2026 9:06"), Bytes(8192, 3));
  WriteAll(machine.ContactBook("bob"), Bytes(256, 4));
  Type("BOB", "CTRLKEY");  // the Control Key in other letters is accepted
  Prompts({"ctrlkey"});
  headless::answerBox(6);
  RemoveAccount();
  EXPECT_EQ(promptCaptions, std::vector<std::string>{"Confirm Control Key"});
  EXPECT_FALSE(fs::exists(machine.AccountFolder("bob")));
  EXPECT_TRUE(fs::exists(machine.AccountFile("ann")));
  EXPECT_EQ(Status(), "Account removed");
  EXPECT_EQ(CountOnDisk(), "1");
  EXPECT_EQ(std::string(Config().unit.Text(UnitField::ControlKey)), "ctrlkey");  // compared on copies
}

TEST_F(AccountCommands, RemovingTheLastAccountLeavesNoAccountFolder) {
  machine.MakeAccount("bob");
  Config().unit.SetText(UnitField::AccountCount, "1");
  Type("bob", "ctrlkey");
  Prompts({"ctrlkey"});
  headless::answerBox(6);
  RemoveAccount();
  EXPECT_EQ(CountOnDisk(), "0");
  for (const auto& entry : fs::directory_iterator(machine.Root()))
    EXPECT_NE(entry.path().filename().string().substr(entry.path().filename().string().size() - 3), "[@]");
}

TEST_F(AccountCommands, RemovalSaysSoWhenTheFolderStays) {
  machine.MakeAccount("bob");
  WriteAll(machine.AccountFolder("bob") / "stranger.txt", Bytes(3, 1));
  Type("bob", "ctrlkey");
  Prompts({"ctrlkey"});
  headless::answerBox(6);
  RemoveAccount();
  EXPECT_FALSE(fs::exists(machine.AccountFile("bob")));
  EXPECT_TRUE(fs::exists(machine.AccountFolder("bob") / "stranger.txt"));  // never deleted unasked
  EXPECT_EQ(Status(), "Account removed, but its folder could not be deleted");
  EXPECT_EQ(CountOnDisk(), "1");
}

const Refusal kLoginRefusals[] = {
    {"empty id", "", "secret", {}, "Enter a user id", kConsoleIdField},
    {"bad id", "b b", "secret", {}, "Invalid character in user id", kConsoleIdField},
    {"empty key", "bob", "", {}, "Enter a desired account key", kConsoleKeyField},
    {"confirmation differs", "bob", "secret", {"secreT2"}, "Wrong account key. Re-confirm.", kConsoleKeyField},
    {"no such account", "zed", "secret", {"secret"}, "Account id does not exist", kConsoleIdField},
    {"not the account key", "bob", "other", {"other"}, "Wrong account key. Re-confirm.", kConsoleKeyField},
};

TEST_F(AccountCommands, LoginRefusalsOpenNoMailbox) {
  for (const Refusal& r : kLoginRefusals) {
    Fresh();
    machine.MakeAccount("bob", "secret");
    Type(r.id, r.key);
    promptAnswers.assign(r.prompts.begin(), r.prompts.end());
    if (!promptAnswers.empty()) headless::onDialog(kPromptDialogId, AnswerNextPrompt);
    bool mailboxOpened = false;
    headless::onDialog(res::kMailboxDialog, [&](HWND mailbox) {
      mailboxOpened = true;
      headless::click(mailbox, 6005);
    });
    headless::answerBox(1);
    EXPECT_EQ(OpenAccount(console, &Console().context), 1);
    EXPECT_EQ(Messages(), std::vector<std::string>{r.message}) << r.name;
    EXPECT_EQ(headless::focusedId(), r.focus) << r.name;
    EXPECT_FALSE(mailboxOpened) << r.name;
    EXPECT_EQ(ActiveAccount().open, 0);
    ExpectFieldsEmpty();
  }
}

TEST_F(AccountCommands, AnAccountWithoutTheAccessMarkerCannotBeOpened) {
  machine.MakeAccount("bob", "secret");
  Bytes record = ReadAll(machine.AccountFile("bob"));
  vlData(-1, record.data(), 512);
  PutText(record, 126, "[x]");
  vlData(1, record.data(), 512);
  WriteAll(machine.AccountFile("bob"), record);
  Type("bob", "secret");
  Prompts({"secret"});
  headless::answerBox(1);
  OpenAccount(console, &Console().context);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Account cannot be accessed locally"});
  EXPECT_EQ(headless::focusedId(), kConsoleKeyField);
}

TEST_F(AccountCommands, LoginOpensTheMailboxWithTheOpenAccountFilled) {
  machine.MakeAccount("bob", "secret");
  WriteAll(machine.ContactBook("bob"), Bytes(300, 5));  // one entry and a torn piece
  Type("Bob", "SECRET");
  Prompts({"secret"});
  ActiveAccountState seen{};
  std::string idField = "?";
  headless::onDialog(res::kMailboxDialog, [&](HWND mailbox) {
    seen = ActiveAccount();
    idField = headless::text(console, kConsoleIdField);
    headless::click(mailbox, 6005);
  });
  EXPECT_EQ(OpenAccount(console, &Console().context), 1);
  EXPECT_TRUE(headless::boxes().empty());
  EXPECT_EQ(seen.open, 1);
  EXPECT_EQ(std::string(seen.record.accountId), "bob");
  EXPECT_EQ(std::string(seen.record.encodedId), Encoded("bob"));
  EXPECT_EQ(std::string(seen.accountFolder), Classic(machine.AccountFolder("bob")));
  EXPECT_EQ(std::string(seen.accountFile), Classic(machine.AccountFile("bob")));
  EXPECT_EQ(std::string(seen.contactBookPath), Classic(machine.ContactBook("bob")));
  EXPECT_EQ(seen.contactBookSize, 512u);  // whole entries: later ones stay aligned
  EXPECT_EQ(idField, "");                 // the fields are emptied before the mailbox runs
  EXPECT_EQ(ActiveAccount().open, 0);     // logout clears the open account
  EXPECT_EQ(std::string(ActiveAccount().accountFolder), "");
}

TEST_F(AccountCommands, TheOpenAccountNamesFilesOnlyByTheLoginsOwnId) {
  machine.MakeAccount("bob", "secret");
  Bytes record = ReadAll(machine.AccountFile("bob"));
  vlData(-1, record.data(), 512);
  PutText(record, 0, "evil");
  PutText(record, 78, "..\\..\\elsewhere");
  vlData(1, record.data(), 512);
  WriteAll(machine.AccountFile("bob"), record);
  Type("bob", "secret");
  Prompts({"secret"});
  ActiveAccountState seen{};
  headless::onDialog(res::kMailboxDialog, [&](HWND mailbox) {
    seen = ActiveAccount();
    headless::click(mailbox, 6005);
  });
  OpenAccount(console, &Console().context);
  EXPECT_EQ(std::string(seen.record.accountId), "bob");
  EXPECT_EQ(std::string(seen.record.encodedId), Encoded("bob"));
  EXPECT_EQ(std::string(seen.record.accountKey), "secret");
}

TEST_F(AccountCommands, AKeyOfFifteenCharactersCanBeTypedAtLogin) {
  const std::string key = "abcdefghijklmno";
  machine.MakeAccount("bob", key);
  Type("bob", key);
  Prompts({key});
  bool opened = false;
  headless::onDialog(res::kMailboxDialog, [&](HWND mailbox) {
    opened = true;
    headless::click(mailbox, 6005);
  });
  OpenAccount(console, &Console().context);
  EXPECT_TRUE(opened);
  EXPECT_TRUE(headless::boxes().empty());
}

TEST_F(AccountCommands, AContactBookMissingGivesSizeZero) {
  machine.MakeAccount("bob", "secret");
  Type("bob", "secret");
  Prompts({"secret"});
  uint32_t size = 99;
  headless::onDialog(res::kMailboxDialog, [&](HWND mailbox) {
    size = ActiveAccount().contactBookSize;
    headless::click(mailbox, 6005);
  });
  OpenAccount(console, &Console().context);
  EXPECT_EQ(size, 0u);
}

}  // namespace
