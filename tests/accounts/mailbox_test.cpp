// The mailbox and the reader: listing, opening, lock keys, key change,
// reply, and saving attachments from mail files as delivery leaves them.
#include <gtest/gtest.h>

#include "tests/accounts/mail_driver.h"

using namespace mailtest;

namespace {

constexpr int32_t M = 6000;
constexpr int32_t R = 7000;
constexpr int32_t W = 3000;

class MailboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desk.machine.MakeAccount("bob", "secret");
    folder = desk.machine.Root() / "saved";
    fs::create_directory(folder);
  }
  // A one-block mail from sender, delivered to bob.
  BlockText Mail(const std::string& sender, const std::string& subject, const std::string& stamp,
                 const std::string& lockKey = "") {
    BlockText t;
    t.sender = sender;
    t.subject = subject;
    t.postedAt = stamp;
    t.lockKey = lockKey;
    Deliver(desk.machine, "bob", t, MessageBlock(t, "text of " + subject));
    return t;
  }
  // A mail carrying the given files, packed by the unit library and cut
  // into chunks as the writer does.
  BlockText MailWithFiles(const std::vector<std::pair<std::string, Bytes>>& files) {
    BlockText t;
    t.sender = "anna@0211234567";
    Deliver(desk.machine, "bob", t, ChainWithFiles(desk.machine, t, files));
    return t;
  }
  Bytes Pack(const Bytes& bytes) {
    Bytes packed = Packed(desk.machine, bytes);
    EXPECT_FALSE(packed.empty());
    return packed;
  }
  std::vector<headless::Row> Rows() { return headless::rows(Ready(M), kMailboxList); }
  Steps& OpenRow(Steps& s, int32_t row) {
    return s.In(M, [row](HWND d) { EXPECT_TRUE(headless::doubleClick(d, kMailboxList, row)); });
  }
  Steps& SaveInto(Steps& s, const fs::path& where) {
    return s
        .In(R, [where](HWND d) {
          headless::answerFolder(Classic(where));
          EXPECT_TRUE(headless::click(d, kReaderSave));
        })
        .Until([] { return ShownStarting("All attachments downloaded") || ShownStarting("This mail's"); });
  }
  // An empty save folder and mailbox, and no status texts, for the next
  // case of a table.
  void StartOver() {
    fs::remove_all(folder);
    fs::create_directory(folder);
    fs::remove(desk.machine.MailboxIndex("bob"));
    Statuses().texts.clear();
  }
  // bob opens the first mail, saves its attachments into the folder and
  // logs out.
  void SaveFirstMail() {
    Steps s;
    OpenRow(s, 0);
    SaveInto(s, folder).Click(R, kReaderExit).Click(M, kMailboxLogout);
    desk.RunMailbox("bob", s);
    desk.ExpectCleanRun(s);
  }
  std::string Status(int i) {
    Bytes entry = IndexEntry(ReadAll(desk.machine.MailboxIndex("bob")), i);
    return TextAt(entry, 256, 4);
  }

  MailDesk desk;
  fs::path folder;
};

TEST_F(MailboxTest, MissingOrEmptyIndexGivesAnEmptyListUnderTheHeader) {
  for (bool empty : {false, true}) {
    SCOPED_TRACE(empty);
    if (empty) WriteAll(desk.machine.MailboxIndex("bob"), Bytes());
    Steps s;
    s.In(M, [](HWND d) {
       EXPECT_TRUE(headless::rows(d, kMailboxList).empty());
       EXPECT_EQ(headless::text(d, kMailboxHeaderLine).substr(0, 6), "Sender");
       EXPECT_EQ(headless::text(d, 0), "Velloran :: Login :: bob");
     }).Click(M, kMailboxLogout);
    desk.RunMailbox("bob", s);
    desk.ExpectCleanRun(s);
  }
}

TEST_F(MailboxTest, RowsAreSortedBySenderAndEachOpensItsOwnMail) {
  Mail("bob@0401", "from bob", "1/1/2026 1:00");
  Mail("anna@0401", "from anna", "2/2/2026 2:00");
  Steps s;
  s.In(M, [](HWND d) {
     auto rows = headless::rows(d, kMailboxList);
     ASSERT_EQ(rows.size(), 2u);
     EXPECT_EQ(rows[0].text.substr(0, 9), "anna@0401");
     EXPECT_EQ(rows[0].data, 521);
     EXPECT_EQ(rows[1].data, 1);
   });
  OpenRow(s, 0)
      .In(R, [](HWND d) {
        EXPECT_EQ(headless::text(d, kReaderSubject), "from anna");
        EXPECT_EQ(headless::text(d, kReaderText), "text of from anna");
        EXPECT_EQ(headless::text(d, kReaderFrom), "anna@0401");
        EXPECT_EQ(headless::text(d, 0), "Velloran :: Reader :: bob");
        EXPECT_FALSE(headless::visible(d, kReaderSave));
      })
      .Click(R, kReaderExit);
  OpenRow(s, 1)
      .In(R, [](HWND d) { EXPECT_EQ(headless::text(d, kReaderSubject), "from bob"); })
      .Click(R, kReaderExit)
      .In(M, [](HWND d) {
        // The list shows the index as it was at login.
        EXPECT_EQ(headless::rows(d, kMailboxList)[0].text.substr(120), "[N]  ");
      })
      .Click(M, kMailboxLogout);
  desk.RunMailbox("bob", s);
  desk.ExpectCleanRun(s);
  EXPECT_EQ(Status(1), "[O]");
  EXPECT_EQ(Status(2), "[O]");
}

TEST_F(MailboxTest, EnterWithoutASelectedRowDoesNothing) {
  Mail("anna@0401", "one", "1/1/2026 1:00");
  Bytes before = ReadAll(desk.machine.MailboxIndex("bob"));
  Steps s;
  s.In(M, [](HWND d) {
     // The first release arms the filter, the second is an Enter with no row.
     headless::keyUp(d, kMailboxList, VK_RETURN);
     headless::keyUp(d, kMailboxList, VK_RETURN);
   })
      .In(M, [](HWND d) {
        EXPECT_EQ(headless::dialog(R), 0u);
        headless::selectRow(d, kMailboxList, 0);
        headless::keyUp(d, kMailboxList, VK_RETURN);
      })
      .In(R, [](HWND d) { EXPECT_EQ(headless::text(d, kReaderSubject), "one"); })
      .Click(R, kReaderExit)
      .Click(M, kMailboxLogout);
  desk.RunMailbox("bob", s);
  desk.ExpectCleanRun(s);
  EXPECT_EQ(Status(1), "[O]");
  // Nothing else of the entry changed.
  Bytes after = ReadAll(desk.machine.MailboxIndex("bob"));
  ASSERT_EQ(after.size(), before.size());
  Bytes a = IndexEntry(after, 1), b = IndexEntry(before, 1);
  PutText(b, 256, "[O]");
  EXPECT_EQ(a, b);
}

TEST_F(MailboxTest, LockKeyIsAskedOnEveryOpening) {
  Mail("anna@0401", "locked", "1/1/2026 1:00", "key1");
  struct Case {
    const char* answer;
    bool opens;
  } cases[] = {{"", false}, {"wrong", false}, {"KEY1", true}, {"key1", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Steps s;
    OpenRow(s, 0);
    if (c.opens) {
      s.Prompt(c.answer, "Enter mail lock key").Click(R, kReaderExit);
    } else if (pLen(c.answer) == 0) {
      s.In(kPromptDialogId, [](HWND d) {
        headless::answerBox(IDOK);
        headless::pressCloseBox(d);
      });
    } else {
      s.PromptAnswering(c.answer, {IDOK});
    }
    s.Click(M, kMailboxLogout);
    desk.RunMailbox("bob", s);
    desk.ExpectCleanRun(s);
    if (!c.opens) {
      EXPECT_EQ(desk.BoxTexts().back(), "Wrong mail lock key. Retry.");
      EXPECT_EQ(Status(1), "[N]");
    } else {
      EXPECT_EQ(Status(1), "[O]");
    }
  }
}

TEST_F(MailboxTest, MailWithoutItsFileCannotBeOpened) {
  BlockText t = Mail("anna@0401", "gone", "1/1/2026 1:00");
  for (int size : {-1, 0, 100}) {
    SCOPED_TRACE(size);
    fs::path file = desk.machine.MailFile("bob", t.sender, t.postedAt);
    if (size < 0)
      fs::remove(file);
    else
      WriteAll(file, Bytes(static_cast<size_t>(size), 1));
    Steps s;
    OpenRow(s, 0).Click(M, kMailboxLogout);
    desk.RunMailbox("bob", s);
    desk.ExpectCleanRun(s);
    EXPECT_EQ(Status(1), "[N]");
  }
}

TEST_F(MailboxTest, TornIndexTailIsNotListed) {
  Mail("anna@0401", "whole", "1/1/2026 1:00");
  Bytes index = ReadAll(desk.machine.MailboxIndex("bob"));
  index.resize(index.size() + 300, 0x41);
  WriteAll(desk.machine.MailboxIndex("bob"), index);
  Steps s;
  s.In(M, [](HWND d) { EXPECT_EQ(headless::rows(d, kMailboxList).size(), 1u); }).Click(M, kMailboxLogout);
  desk.RunMailbox("bob", s);
  desk.ExpectCleanRun(s);
}

TEST_F(MailboxTest, ReplyOpensTheWriterWithSubjectAndDestination) {
  struct Case {
    std::string subject;
    std::string expected;
  } cases[] = {{"hello", "<RE:>hello"}, {std::string(46, 'x'), "<RE:>" + std::string(42, 'x')}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subject);
    fs::remove(desk.machine.MailboxIndex("bob"));
    Mail("anna@0401", c.subject, "1/1/2026 1:00");
    Steps s;
    OpenRow(s, 0)
        .Click(R, kReaderReply)
        .In(3000, [&](HWND d) {
          EXPECT_EQ(headless::text(d, kWriterSubject), c.expected);
          EXPECT_EQ(headless::text(d, kWriterDestination), "anna@0401");
          EXPECT_EQ(headless::text(d, kWriterSender), "bob@0211234567");
          EXPECT_EQ(headless::text(d, 0), "Velloran :: Writer :: bob");
          EXPECT_EQ(headless::dialog(R), 0u);  // the reader has closed
        })
        .Click(3000, kWriterExit)
        .Click(M, kMailboxNew)
        .In(3000, [](HWND d) {
          EXPECT_EQ(headless::text(d, kWriterSubject), "");
          EXPECT_EQ(headless::text(d, kWriterDestination), "");
        })
        .Click(3000, kWriterExit)
        .Click(M, kMailboxLogout);
    desk.RunMailbox("bob", s);
    desk.ExpectCleanRun(s);
  }
}

TEST_F(MailboxTest, ExitDoesNotOpenTheWriter) {
  Mail("anna@0401", "hi", "1/1/2026 1:00");
  Steps s;
  OpenRow(s, 0).Click(R, kReaderExit).In(M, [](HWND) { EXPECT_EQ(headless::dialog(3000), 0u); });
  s.Click(M, kMailboxLogout);
  desk.RunMailbox("bob", s);
  desk.ExpectCleanRun(s);
}

TEST_F(MailboxTest, KeyChangeChecksEveryAnswer) {
  struct Case {
    std::vector<std::string> answers;  // "" closes the prompt
    const char* message;               // 0: changed
  } cases[] = {
      {{""}, "Enter your account login key"},
      {{"secret", "other"}, "Confirm your account login key"},
      {{"wrong", "WRONG"}, "Wrong account key. Re-confirm."},
      {{"secret", "SECRET", ""}, "Wrong entry for account new key"},
      {{"secret", "secret", "New1", "new2"}, "Wrong new account key. Re-confirm."},
      {{"Secret", "secret", "NewKey", "newkey"}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers.size());
    desk.machine.MakeAccount("bob", "secret");
    // A record file longer than its record: a new key must not leave the
    // old tail behind it.
    Bytes longer = ReadAll(desk.machine.AccountFile("bob"));
    longer.resize(700, 0x77);
    WriteAll(desk.machine.AccountFile("bob"), longer);
    Steps s;
    s.Click(M, kMailboxChange);
    for (size_t i = 0; i < c.answers.size(); i++) {
      bool last = i + 1 == c.answers.size();
      if (c.answers[i].empty()) {
        s.In(kPromptDialogId, [last, &c](HWND d) {
          if (last && c.message) headless::answerBox(IDOK);
          headless::pressCloseBox(d);
        });
      } else if (last && c.message) {
        s.PromptAnswering(c.answers[i], {IDOK});
      } else {
        s.Prompt(c.answers[i]);
      }
    }
    s.Click(M, kMailboxLogout);
    desk.RunMailbox("bob", s);
    desk.ExpectCleanRun(s);
    Bytes record = ReadAll(desk.machine.AccountFile("bob"));
    ASSERT_EQ(record.size(), c.message ? 700u : 512u);
    vlData(-1, record.data(), 512);
    if (c.message) {
      EXPECT_EQ(desk.BoxTexts().back(), c.message);
      EXPECT_EQ(TextAt(record, 24, 16), "secret");
    } else {
      EXPECT_EQ(TextAt(record, 24, 16), "newkey");
      EXPECT_EQ(TextAt(record, 0, 24), "bob");
      EXPECT_TRUE(Shown("Account key changed"));
    }
  }
}

TEST_F(MailboxTest, AttachmentButtonOnlyForMailsLongerThanOneBlock) {
  MailWithFiles({{"a.bin", RandomBytes(100, 1)}});
  Mail("zed@1", "plain", "1/1/2026 1:00");
  Steps s;
  OpenRow(s, 0).In(R, [](HWND d) {
    EXPECT_TRUE(headless::visible(d, kReaderSave));
    EXPECT_TRUE(headless::enabled(d, kReaderSave));
  });
  s.Click(R, kReaderExit);
  OpenRow(s, 1).In(R, [](HWND d) { EXPECT_FALSE(headless::visible(d, kReaderSave)); });
  s.Click(R, kReaderExit).Click(M, kMailboxLogout);
  desk.RunMailbox("bob", s);
  desk.ExpectCleanRun(s);
}

TEST_F(MailboxTest, SavedAttachmentsEqualTheOriginalsAndReplaceOlderFiles) {
  Bytes one = RandomBytes(9000, 5);
  Bytes two(20000, 'z');
  MailWithFiles({{"one.bin", one}, {"two.txt", two}});
  // An older, longer file of the same name must not keep its tail.
  WriteAll(folder / "one.bin", Bytes(50000, 'o'));
  Steps s;
  OpenRow(s, 0);
  SaveInto(s, folder).Do([&] {
    EXPECT_EQ(ReadAll(folder / "one.bin"), one);
    EXPECT_EQ(ReadAll(folder / "two.txt"), two);
    fs::remove(folder / "two.txt");
  });
  // Saving again writes every attachment again.
  s.Do([] { Statuses().texts.clear(); });
  SaveInto(s, folder).Click(R, kReaderExit).Click(M, kMailboxLogout);
  desk.RunMailbox("bob", s);
  desk.ExpectCleanRun(s);
  EXPECT_EQ(ReadAll(folder / "two.txt"), two);
  EXPECT_TRUE(Shown("Uncompressing " + Classic(folder) + "\\one.bin..."));
  EXPECT_FALSE(ShownStarting("Uncompressing " + Classic(folder) + "\\two.txt"));
  EXPECT_TRUE(Shown("All attachments downloaded"));
}

TEST_F(MailboxTest, UnsafeTagsNeverWriteOutsideTheChosenFolder) {
  struct Case {
    const char* tag;
    const char* savedAs;
  } cases[] = {{"../escape.bin", "escape.bin"},
               {"..\\..\\escape.bin", "escape.bin"},
               {"..", "attachment"},
               {"sub/inner.bin", "inner.bin"},
               {"C:root.bin", "C_root.bin"},
               {"what?.bin", "what_.bin"},
               {"nul", "_nul"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    StartOver();
    fs::create_directory(folder / "sub");
    Bytes original = RandomBytes(3000, 7);
    MailWithFiles({{c.tag, original}});
    SaveFirstMail();
    EXPECT_EQ(ReadAll(folder / c.savedAs), original);
    EXPECT_FALSE(fs::exists(desk.machine.Root() / "escape.bin"));
    EXPECT_FALSE(fs::exists(folder / "sub" / "inner.bin"));
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(folder)) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1u);
    EXPECT_TRUE(Shown(std::string("Downloading mail attachment - ") + c.savedAs + "... (unsafe name reduced from " +
                      c.tag + ")"));
  }
}

// A save says its total first; meanwhile the reader takes no command that
// would disturb it, and Exit stops it at once without a half file, the mail
// kept as it was.
TEST_F(MailboxTest, ExitStopsASaveAndKeepsTheMail) {
  MailWithFiles({{"big.bin", RandomBytes(2u << 20, 3)}});
  const fs::path mailFile = desk.machine.MailFile("bob", "anna@0211234567", "7/12/2026 9:05");
  const Bytes mail = ReadAll(mailFile);
  const std::string blocks = std::to_string(mail.size() / kBlockSize - 1);
  Steps s;
  OpenRow(s, 0)
      .In(R, [&](HWND d) {
        headless::answerFolder(Classic(folder));
        headless::click(d, kReaderSave);
      })
      .Until([] { return ShownStarting("Downloading mail attachment - big.bin"); })
      .Do([] {
        HWND reader = headless::dialog(R);
        EXPECT_FALSE(headless::click(reader, kReaderSave));
        EXPECT_FALSE(headless::click(reader, kReaderReply));
        EXPECT_TRUE(headless::click(reader, kReaderExit));
      })
      .Click(M, kMailboxLogout);
  desk.RunMailbox("bob", s);
  desk.ExpectCleanRun(s);
  EXPECT_TRUE(Shown("Saving the attachments: " + blocks + " blocks to read; Exit stops it"));
  EXPECT_TRUE(Shown("Saving stopped: the file being written is removed; the mail is kept as it was"));
  EXPECT_FALSE(Shown("All attachments downloaded"));
  EXPECT_FALSE(fs::exists(folder / "big.bin"));
  EXPECT_EQ(ReadAll(mailFile), mail);
}

TEST_F(MailboxTest, TwoAttachmentsOfOneNameLandInTwoFiles) {
  Bytes first = RandomBytes(100, 1);
  Bytes second = RandomBytes(200, 2);
  MailWithFiles({{"same.txt", first}, {"same.txt", second}});
  SaveFirstMail();
  EXPECT_EQ(ReadAll(folder / "same.txt"), first);
  EXPECT_EQ(ReadAll(folder / "same(2).txt"), second);
}

TEST_F(MailboxTest, TwoFilesOfOneNameStayTwoWhenTheFirstFillsItsLastChunk) {
  // The first file packs to exactly four whole chunks (a packed file is a
  // multiple of 4 bytes long, so one whole chunk cannot happen), so neither
  // a change of tag nor a short chunk shows where it ends.
  const size_t whole = 4 * static_cast<size_t>(kContentSize);
  Bytes first;
  for (size_t n = whole - 100; first.empty() && n < whole; n++) {
    Bytes candidate = RandomBytes(n, 4);
    if (Pack(candidate).size() == whole) first = candidate;
  }
  ASSERT_FALSE(first.empty());
  const Bytes second = RandomBytes(500, 5);
  fs::create_directories(desk.machine.Root() / "a");
  fs::create_directories(desk.machine.Root() / "b");
  WriteAll(desk.machine.Root() / "a" / "same.bin", first);
  WriteAll(desk.machine.Root() / "b" / "same.bin", second);

  // anna attaches both and posts to bob.
  desk.machine.MakeAccount("anna");
  desk.machine.OpenAs("anna");
  PrepareCompose();
  BlockText t;
  t.postedAt = Compose().stamp;
  Steps w;
  for (const char* from : {"a", "b"})
    w.In(W, [this, from](HWND d) {
      headless::answerFile(Classic(desk.machine.Root() / from / "same.bin"));
      headless::click(d, kWriterAttach);
    });
  w.In(W,
       [](HWND d) {
         headless::type(d, kWriterSubject, "twins");
         headless::type(d, kWriterDestination, "bob@0211234567");
       })
      .ClickAnswering(W, kWriterSend, {IDYES})
      .Click(W, kWriterExit);
  w.Start();
  OpenWriter(desk.console, &desk.context);
  ResetCompose();
  desk.ExpectCleanRun(w);
  Bytes mail = ReadAll(desk.machine.SpoolFile(t.sender, t.postedAt, "[=]"));
  ASSERT_EQ(mail.size(), 6u * kBlockSize);
  EXPECT_EQ(TextAt(HeaderOf(mail, 1), 252, 4), "2");

  // Local delivery's part, then bob saves them.
  t.totalBlocks = "6";
  t.attachmentCount = "2";
  Deliver(desk.machine, "bob", t, mail);
  SaveFirstMail();
  EXPECT_EQ(ReadAll(folder / "same.bin"), first);
  EXPECT_EQ(ReadAll(folder / "same(2).bin"), second);
  EXPECT_TRUE(Shown("All attachments downloaded"));
}

TEST_F(MailboxTest, TornOrShortChainsAreReportedDamaged) {
  const Bytes whole = RandomBytes(1000, 6);
  const Bytes packed = Pack(whole);
  ASSERT_LT(packed.size(), static_cast<size_t>(kContentSize));
  struct Case {
    const char* what;
    size_t keep;        // bytes of the second block in the file
    bool wholeIsSaved;  // the first file ended before the chain broke off
  } cases[] = {{"second block torn", 100, false}, {"third block missing", kBlockSize, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StartOver();
    BlockText t;
    t.totalBlocks = "3";
    t.attachmentCount = "2";
    Bytes mail = MessageBlock(t, "x");
    Bytes b = AttachmentBlock(t, 2, "whole.bin", packed);
    mail.insert(mail.end(), b.begin(), b.begin() + static_cast<long>(c.keep));
    Deliver(desk.machine, "bob", t, mail);
    SaveFirstMail();
    EXPECT_TRUE(Shown("This mail's attachments are damaged; saving stopped"));
    EXPECT_FALSE(ShownStarting("All attachments downloaded"));
    if (c.wholeIsSaved)
      EXPECT_EQ(ReadAll(folder / "whole.bin"), whole);
    else
      EXPECT_TRUE(fs::is_empty(folder));
  }
}

TEST_F(MailboxTest, DamagedChunkLengthsStopSavingAndLeaveNoHalfFile) {
  for (const char* length : {"3520", "99999", "-1", "12a", ""}) {
    SCOPED_TRACE(length);
    StartOver();
    BlockText t;
    t.sender = "anna@0211234567";
    t.totalBlocks = "3";
    Bytes mail = MessageBlock(t, "x");
    Bytes good = AttachmentBlock(t, 2, "part.bin", Bytes(kContentSize, 1));
    Bytes bad = AttachmentBlock(t, 3, "part.bin", Bytes(10, 2), length);
    if (pLen(length) == 0) std::fill(bad.begin() + 3568, bad.begin() + 3576, 0);
    mail.insert(mail.end(), good.begin(), good.end());
    mail.insert(mail.end(), bad.begin(), bad.end());
    Deliver(desk.machine, "bob", t, mail);
    SaveFirstMail();
    EXPECT_TRUE(Shown("This mail's attachments are damaged; saving stopped"));
    EXPECT_FALSE(fs::exists(folder / "part.bin"));
  }
}

TEST_F(MailboxTest, RefusedDecompressionIsReportedAndTheFileKept) {
  BlockText t;
  t.sender = "anna@0211234567";
  t.totalBlocks = "2";
  Bytes mail = MessageBlock(t, "x");
  Bytes junk(100, 0x5a);
  Bytes b = AttachmentBlock(t, 2, "junk.bin", junk);
  mail.insert(mail.end(), b.begin(), b.end());
  Deliver(desk.machine, "bob", t, mail);
  SaveFirstMail();
  EXPECT_EQ(ReadAll(folder / "junk.bin"), junk);
  EXPECT_TRUE(Shown("All attachments downloaded; 1 could not be uncompressed and are kept as received"));
}

TEST_F(MailboxTest, CancelledFolderChoiceSavesNothing) {
  MailWithFiles({{"a.bin", RandomBytes(10, 1)}});
  Steps s;
  OpenRow(s, 0)
      .In(R, [](HWND d) {
        headless::answerFolder("");
        headless::answerBox(IDOK);
        headless::click(d, kReaderSave);
      })
      .Click(R, kReaderExit)
      .Click(M, kMailboxLogout);
  desk.RunMailbox("bob", s);
  desk.ExpectCleanRun(s);
  EXPECT_EQ(desk.BoxTexts().back(), "No folder selected");
  EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
