// The road of one mail on one machine, through the real console: two
// accounts are made in control mode, anna writes bob a locked mail with two
// attachments, local delivery carries it at its 30-second turn, bob opens it
// with the key, saves the attachments (byte for byte the originals), adds
// anna to his contacts and replies to her, picking her from the book.
#include <gtest/gtest.h>

#include "accounts/accounts.h"
#include "console/startup.h"
#include "link/link.h"
#include "tests/accounts/mail_driver.h"

using namespace mailtest;

namespace {

constexpr int32_t C = 2000;
constexpr int32_t M = 6000;
constexpr int32_t R = 7000;
constexpr int32_t W = 3000;
constexpr int32_t P = 20000;

int32_t NoLink() { return 1; }
int32_t NoHandler(ruk_pbx_Handler, int32_t) { return 1; }

class ScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = MakeTempFolder("vlscenario");
    previous = fs::current_path();
    fs::current_path(root);
    headless::reset(true, 0);
    ResetConfig();
    ResetConsole();
    ResetStartup();
    ResetLink();
    ResetPrompt();
    ResetMailbox();
    ResetReader();
    ResetWriter();
    ResetCompose();
    ResetContacts();
    ResetActiveAccount();
    Statuses() = StatusLog{};
    Console().services.toggleLink = NoLink;
    Console().services.registerLinkHandler = NoHandler;
    ConfigRecord unit{};
    unit.SetText(UnitField::MachID, "0211234567");
    unit.SetText(UnitField::Owner, "Test Owner");
    unit.SetText(UnitField::ControlID, "admin");
    unit.SetText(UnitField::ControlKey, "ctrl");
    unit.SetText(UnitField::AccountCount, "0");
    unit.SetText(UnitField::EnableECourier, "1");
    unit.SetText(UnitField::ECourierInterval, "60");
    ConfigRecord settings{};
    settings.SetText(SettingsField::Signal, "0");
    WriteRecord((root / "VL.INI").string().c_str(), unit);
    WriteRecord((root / "Velloran.INI").string().c_str(), settings);
    ResetConfig();
  }
  void TearDown() override {
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    ResetConfig();
  }

  fs::path Account(const std::string& id) const { return root / (Encoded(id) + "[@]"); }
  bool SpoolHolds(const std::string& suffix) const {
    for (const auto& e : fs::directory_iterator(root / "POST")) {
      std::string name = e.path().filename().string();
      if (name.size() > 3 && name.compare(name.size() - 3, 3, suffix) == 0) return true;
    }
    return false;
  }

  Steps& Login(Steps& s, const std::string& id, const std::string& key) {
    return s
        .In(C,
            [id, key](HWND d) {
              headless::type(d, kIdFieldId, id);
              headless::type(d, kKeyFieldId, key);
              headless::click(d, kAccountButtonId);
            })
        .Prompt(key, "Confirm your account key");
  }
  Steps& Create(Steps& s, const std::string& id, const std::string& key, const std::string& name) {
    return s
        .In(C,
            [id, key](HWND d) {
              headless::type(d, kIdFieldId, id);
              headless::type(d, kKeyFieldId, key);
              headless::click(d, kCreateButtonId);
            })
        .Prompt(key, "Confirm your account key")
        .Prompt(name, "Enter a desired user name")
        .Until([] { return Shown("Account created"); })
        .Do([] { Statuses().texts.clear(); });
  }

  // An account made as account creation leaves it.
  void MakeAccount(const std::string& id, const std::string& key) const {
    fs::create_directory(Account(id));
    WriteAll(Account(id) / (Encoded(id) + "[@]"), AccountFileBytes(id, key));
  }
  fs::path Index(const std::string& id) const { return Account(id) / (Encoded(id) + "[=]"); }
  size_t IndexEntries(const std::string& id) const {
    std::error_code error;
    const auto size = fs::file_size(Index(id), error);
    return error ? 0 : size / kHeaderSize;
  }

  fs::path root, previous;
};

TEST_F(ScenarioTest, MailWithTwoAttachmentsFromOneAccountToAnother) {
  const Bytes photo = RandomBytes(9000, 11);  // incompressible: three chunks
  std::string text;
  for (int i = 0; i < 3000; i++) text += "line " + std::to_string(i) + " of the report\r\n";
  const Bytes report(text.begin(), text.end());
  fs::create_directory(root / "mine");
  fs::create_directory(root / "saved");
  WriteAll(root / "mine" / "photo.jpg", photo);
  WriteAll(root / "mine" / "report.txt", report);
  std::string stamp;

  Steps s;
  // The status line of the real console is recorded from the first step on.
  s.In(C, [](HWND d) {
     Statuses().previous = reinterpret_cast<WNDPROC>(pWndProcAddr(1, d, kStatusLineId, RecordStatus));
     headless::type(d, kIdFieldId, "admin");
     headless::type(d, kKeyFieldId, "ctrl");
     headless::click(d, kControlButtonId);
   }).Prompt("ctrl", "Confirm Control Key");
  Create(s, "anna", "akey", "Anna Smith");
  Create(s, "bob", "bkey", "Bob Jones");
  s.Click(C, kControlButtonId);

  // anna writes.
  Login(s, "Anna", "akey")
      .In(M, [](HWND d) { EXPECT_EQ(headless::text(d, 0), "Velloran :: Login :: anna"); })
      .Click(M, kMailboxNew)
      .In(W,
          [&](HWND d) {
            stamp = headless::text(d, kWriterStamp);
            headless::type(d, kWriterSubject, "two files");
            headless::type(d, kWriterDestination, "bob@1234567");
            headless::type(d, kWriterText, "Dear Bob,\r\nthe photo and the report.\r\n");
            headless::answerFile(Classic(root / "mine" / "photo.jpg"));
            headless::click(d, kWriterAttach);
          })
      .In(W,
          [&](HWND d) {
            headless::answerFile(Classic(root / "mine" / "report.txt"));
            headless::click(d, kWriterAttach);
          })
      .Click(W, kWriterLock)
      .Prompt("Lock7", "Enter a key to lock your mail (Optional)")
      .Prompt("lock7", "Confirm your mail key")
      .ClickAnswering(W, kWriterSend, {IDYES})
      .In(W, [](HWND d) {
        EXPECT_EQ(headless::text(d, kWriterSubject), "");
        EXPECT_TRUE(Shown("Your mail has been posted"));
      })
      .Click(W, kWriterExit)
      .Click(M, kMailboxLogout)
      // Local delivery takes the mail at its next 30-second turn.
      .Until([&] { return !SpoolHolds("[=]"); });

  // bob reads.
  Login(s, "bob", "bkey")
      .In(M,
          [](HWND d) {
            auto rows = headless::rows(d, kMailboxList);
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0].text.substr(0, 50).find("anna@0211234567"), 0u);
            EXPECT_EQ(rows[0].text.substr(120), "[N]  ");
            headless::doubleClick(d, kMailboxList, 0);
          })
      .Prompt("LOCK7", "Enter mail lock key")
      .In(R,
          [&](HWND d) {
            EXPECT_EQ(headless::text(d, kReaderFrom), "anna@0211234567");
            EXPECT_EQ(headless::text(d, kReaderSubject), "two files");
            EXPECT_EQ(headless::text(d, kReaderTo), "bob@1234567");
            EXPECT_EQ(headless::text(d, kReaderDate), stamp);
            EXPECT_EQ(headless::text(d, kReaderText), "Dear Bob,\r\nthe photo and the report.\r\n");
            EXPECT_TRUE(headless::visible(d, kReaderSave));
            headless::answerFolder(Classic(root / "saved"));
            headless::click(d, kReaderSave);
          })
      .Until([] { return Shown("All attachments downloaded"); })
      .Click(R, kReaderAdd)
      .Prompt("Anna", "Enter the address owner's name")
      .Until([] { return Shown("Address added to contact book"); })
      .Click(R, kReaderReply)
      .In(W,
          [](HWND d) {
            EXPECT_EQ(headless::text(d, kWriterSubject), "<RE:>two files");
            EXPECT_EQ(headless::text(d, kWriterDestination), "anna@0211234567");
            headless::type(d, kWriterDestination, "");
            headless::click(d, kWriterContact);
          })
      .In(P,
          [](HWND d) {
            EXPECT_EQ(headless::rows(d, kPickerList), (std::vector<headless::Row>{{"anna", 1}}));
            headless::doubleClick(d, kPickerList, 0);
          })
      .In(W,
          [](HWND d) {
            EXPECT_EQ(headless::text(d, kWriterDestination), "anna@0211234567");
            headless::type(d, kWriterText, "Thank you.");
          })
      .ClickAnswering(W, kWriterSend, {IDYES})
      .Click(W, kWriterExit)
      .Click(M, kMailboxLogout)
      .Until([&] { return !SpoolHolds("[=]"); })
      .ClickAnswering(C, kCloseButtonId, {IDYES});

  s.Start();
  int32_t code = RunProgram(&VelloranResources());
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(s.Finished()) << s.Left() << " steps were not reached";
  for (const std::string& f : headless::failures()) ADD_FAILURE() << f;

  // The attachments as bob saved them are the originals.
  EXPECT_EQ(ReadAll(root / "saved" / "photo.jpg"), photo);
  EXPECT_EQ(ReadAll(root / "saved" / "report.txt"), report);

  // bob's mail file: the whole chain as anna posted it.
  Bytes mail = ReadAll(Account("bob") / (Encoded("anna@0211234567" + stamp) + "[=]"));
  ASSERT_GE(mail.size(), 3u * kBlockSize);
  ASSERT_EQ(mail.size() % kBlockSize, 0u);
  const int blocks = static_cast<int>(mail.size() / kBlockSize);
  size_t photoChunks = 0, reportChunks = 0;
  for (int k = 1; k <= blocks; k++) {
    SCOPED_TRACE(k);
    Bytes h = HeaderOf(mail, k);
    EXPECT_EQ(TextAt(h, 234, 9), std::to_string(k));
    EXPECT_EQ(TextAt(h, 243, 9), std::to_string(blocks));
    EXPECT_EQ(TextAt(h, 252, 4), "2");
    EXPECT_EQ(TextAt(h, 218, 16), "lock7");
    if (k == 1) continue;
    std::string tag = TextAt(mail, (k - 1) * kBlockSize + 3520, 48);
    (tag == "photo.jpg" ? photoChunks : reportChunks)++;
  }
  EXPECT_EQ(photoChunks, 3u);  // 9000 random bytes pack to a little more
  EXPECT_GE(reportChunks, 1u);

  // The index entry is marked opened; the contact book holds anna.
  Bytes index = ReadAll(Account("bob") / (Encoded("bob") + "[=]"));
  ASSERT_EQ(index.size(), 520u);
  EXPECT_EQ(TextAt(IndexEntry(index, 1), 256, 4), "[O]");
  Bytes book = ReadAll(Account("bob") / (Encoded("bob") + "[#]"));
  ASSERT_EQ(book.size(), 256u);
  vlData(-1, book.data(), 256);
  EXPECT_EQ(TextAt(book, 0, 32), "anna");
  EXPECT_EQ(TextAt(book, 32, 48), "anna@0211234567");

  // anna has bob's reply.
  Bytes annaIndex = ReadAll(Account("anna") / (Encoded("anna") + "[=]"));
  ASSERT_EQ(annaIndex.size(), 520u);
  Bytes reply = IndexEntry(annaIndex, 1);
  EXPECT_EQ(TextAt(reply, 26, 48), "bob@0211234567");
  EXPECT_EQ(TextAt(reply, 98, 48), "<RE:>two files");
  EXPECT_EQ(TextAt(reply, 146, 48), "anna@0211234567");
  EXPECT_TRUE(fs::is_empty(root / "POST"));
}

// A reader opened while a tick's local delivery is under way, and left open
// for three more ticks: the delivery goes on beside it, and a mail posted
// meanwhile is in the mailbox before the reader is closed.
TEST_F(ScenarioTest, MailReachesItsMailboxWhileTheReaderStaysOpen) {
  MakeAccount("anna", "akey");
  MakeAccount("bob", "bkey");
  BlockText first;
  first.destination = "bob@0211234567";
  WriteAll(Account("bob") / (Encoded(first.sender + first.postedAt) + "[=]"), MessageBlock(first, "first"));
  Bytes entry = Header(first);
  vlData(1, entry.data(), kHeaderSize);
  WriteAll(Index("bob"), entry);
  BlockText second = first;
  second.postedAt = "7/12/2026 9:06";
  second.subject = "posted meanwhile";
  uint32_t openedAt = 0;

  Steps s;
  Login(s, "bob", "bkey")
      // Opened in the very pause before a local delivery.
      .Until([] { return Console().tickWork == kLocalTickWork; })
      .In(M, [](HWND d) { headless::doubleClick(d, kMailboxList, 0); })
      .In(R,
          [&](HWND) {
            openedAt = waNow();
            WriteAll(root / "POST" / (Encoded(second.sender + second.postedAt) + "[=]"),
                     MessageBlock(second, "second"));
          })
      .Until([&] { return waNow() - openedAt >= 3 * kConsoleTickMs; })
      .In(R,
          [&](HWND d) {
            EXPECT_EQ(headless::text(d, kReaderText), "first");
            EXPECT_EQ(IndexEntries("bob"), 2u);
            EXPECT_TRUE(fs::is_empty(root / "POST"));
          })
      .Click(R, kReaderExit)
      .Click(M, kMailboxLogout)
      .ClickAnswering(C, kCloseButtonId, {IDYES});

  s.Start();
  EXPECT_EQ(RunProgram(&VelloranResources()), 0);
  EXPECT_TRUE(s.Finished()) << s.Left() << " steps were not reached";
  for (const std::string& f : headless::failures()) ADD_FAILURE() << f;
}

}  // namespace
