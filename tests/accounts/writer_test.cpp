// The writer: spool files as posted, attachments, lock, exit.
#include <gtest/gtest.h>

#include "tests/accounts/mail_driver.h"

using namespace mailtest;
using mailui::StatusLine;

namespace {

constexpr int32_t W = 3000;

// A pending-attachment record as AttachFile leaves it.
Bytes PendingRecord(const std::string& tag, const Bytes& chunk) {
  Bytes r(kPayloadSize, 0);
  std::copy(chunk.begin(), chunk.end(), r.begin());
  PutText(r, 3520, tag);
  PutText(r, 3568, std::to_string(chunk.size()));
  return r;
}

// The records of one compressed file of the given size.
Bytes PendingFile(const std::string& tag, size_t size, unsigned seed) {
  Bytes all;
  Bytes bytes = RandomBytes(size, seed);
  for (size_t at = 0; at < size; at += kContentSize) {
    size_t n = std::min<size_t>(kContentSize, size - at);
    Bytes r = PendingRecord(tag, Bytes(bytes.begin() + at, bytes.begin() + at + n));
    all.insert(all.end(), r.begin(), r.end());
  }
  return all;
}

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desk.machine.MakeAccount("anna");
    desk.machine.OpenAs("anna");
  }
  void RunWriter(Steps& steps) {
    PrepareCompose();
    steps.Start();
    OpenWriter(desk.console, &desk.context);
    ResetCompose();
  }
  // Types a mail and sends it, answering Proceed with Yes.
  Steps& Typed(Steps& s, const std::string& subject, const std::string& to, const std::string& text) {
    return s.In(W, [this, subject, to, text](HWND d) {
      headless::type(d, kWriterSubject, subject);
      headless::type(d, kWriterDestination, to);
      headless::type(d, kWriterText, text);
      stamp = headless::text(d, kWriterStamp);
    });
  }
  fs::path Spool(const std::string& suffix, const std::string& at = "") const {
    return desk.machine.SpoolFile("anna@0211234567", at.empty() ? stamp : at, suffix);
  }

  MailDesk desk;
  std::string stamp;
  std::string second;
};

TEST_F(WriterTest, MailWithoutAttachmentsIsOneBlock) {
  Steps s;
  Typed(s, "hello", "bob@1234567", "the text").ClickAnswering(W, kWriterSend, {IDYES}).Click(W, kWriterExit);
  RunWriter(s);
  desk.ExpectCleanRun(s);
  Bytes file = ReadAll(Spool("[=]"));
  ASSERT_EQ(file.size(), 4096u);
  Bytes h = HeaderOf(file, 1);
  EXPECT_EQ(TextAt(h, 0, 8), "[ML]");
  EXPECT_EQ(TextAt(h, 8, 18), stamp);
  EXPECT_EQ(TextAt(h, 26, 48), "anna@0211234567");
  EXPECT_EQ(TextAt(h, 98, 48), "hello");
  EXPECT_EQ(TextAt(h, 146, 48), "bob@1234567");
  EXPECT_EQ(TextAt(h, 218, 16), "");
  EXPECT_EQ(TextAt(h, 234, 9), "1");
  EXPECT_EQ(TextAt(h, 243, 9), "1");
  EXPECT_EQ(TextAt(h, 252, 4), "0");
  EXPECT_EQ(TextAt(h, 256, 4), "[N]");
  for (size_t i = 260; i < 520; i++) ASSERT_EQ(h[i], 0) << i;
  Bytes payload(file.begin(), file.begin() + kPayloadSize);
  vlData(-1, payload.data(), kPayloadSize);
  EXPECT_EQ(TextAt(payload, 0, 3519), "the text");
  EXPECT_EQ(TextAt(payload, 3520, 48), "[MSG]");
  EXPECT_EQ(TextAt(payload, 3568, 8), "8");
  EXPECT_TRUE(Shown("Your mail has been posted"));
}

TEST_F(WriterTest, TwoPendingFilesOf3519And7039BytesGiveFiveBlocks) {
  Bytes first = PendingFile("first.bin", 3519, 1);
  Bytes second = PendingFile("second.bin", 7039, 2);
  Bytes pending = first;
  pending.insert(pending.end(), second.begin(), second.end());
  ASSERT_EQ(pending.size(), 4u * kPayloadSize);
  WriteAll(desk.machine.PendingFile("anna"), pending);
  EXPECT_EQ(TextAt(pending, 3 * kPayloadSize + 3568, 8), "1");  // the last record carries 1 byte

  Steps s;
  Typed(s, "files", "bob@1234567", "two files").ClickAnswering(W, kWriterSend, {IDYES}).Click(W, kWriterExit);
  RunWriter(s);
  desk.ExpectCleanRun(s);

  Bytes file = ReadAll(Spool("[=]"));
  ASSERT_EQ(file.size(), 5u * kBlockSize);
  for (int k = 1; k <= 5; k++) {
    SCOPED_TRACE(k);
    Bytes h = HeaderOf(file, k);
    EXPECT_EQ(TextAt(h, 234, 9), std::to_string(k));
    EXPECT_EQ(TextAt(h, 243, 9), "5");
    EXPECT_EQ(TextAt(h, 252, 4), "2");
    EXPECT_EQ(TextAt(h, 26, 48), "anna@0211234567");
    if (k == 1) continue;
    // Attachment payloads go out exactly as the pending records hold them.
    Bytes payload(file.begin() + (k - 1) * kBlockSize, file.begin() + (k - 1) * kBlockSize + kPayloadSize);
    Bytes record(pending.begin() + (k - 2) * kPayloadSize, pending.begin() + (k - 1) * kPayloadSize);
    EXPECT_EQ(payload, record);
  }
  EXPECT_FALSE(fs::exists(desk.machine.PendingFile("anna")));
}

TEST_F(WriterTest, DestinationDecidesLocalOrRemote) {
  struct Case {
    const char* to;
    const char* suffix;
  } cases[] = {{"bob@1234567", "[=]"}, {"bob@0211234567", "[=]"}, {"bob@+211234567", "[=]"},
               {"bob@0401", "[@]"}, {"bob", "[@]"}, {"bob@", "[@]"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    for (const auto& e : fs::directory_iterator(desk.machine.Spool())) fs::remove(e.path());
    Steps s;
    Typed(s, "where", c.to, "x").ClickAnswering(W, kWriterSend, {IDYES}).Click(W, kWriterExit);
    RunWriter(s);
    desk.ExpectCleanRun(s);
    std::vector<std::string> names = desk.machine.SpoolNames();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], Encoded("anna@0211234567" + stamp) + c.suffix);
  }
}

// What does not fit its slot is never cut without a word: the user is told
// and posts it cut only by answering Yes; an address is never cut at all.
TEST_F(WriterTest, LongFieldsArePostedCutOnlyWhenTheUserAgrees) {
  const std::string text(5000, 'm'), subject(60, 's');
  struct Case {
    const char* what;
    std::string subject, to, text;
    std::vector<int32_t> answers;  // Proceed, then the questions asked
    const char* says;              // in the last box
    bool posted;
  } cases[] = {
      {"subject kept", subject, "bob@1234567", "short", {IDYES, IDNO}, "subject has 60 characters", false},
      {"message kept", "s", "bob@1234567", text, {IDYES, IDNO}, "message has 5000 characters; a mail takes 3518",
       false},
      {"address too long", "s", "bob@" + std::string(46, '1'), "x", {IDYES, IDOK}, "at most 46 characters", false},
      {"both cut", subject, "bob@1234567", text, {IDYES, IDYES, IDYES}, "Post it without its last 1482?", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string& name : desk.machine.SpoolNames()) fs::remove(desk.machine.Spool() / name);
    Steps s;
    Typed(s, c.subject, c.to, c.text).ClickAnswering(W, kWriterSend, c.answers).Click(W, kWriterExit);
    RunWriter(s);
    desk.ExpectCleanRun(s);
    EXPECT_NE(desk.BoxTexts().back().find(c.says), std::string::npos) << desk.BoxTexts().back();
    ASSERT_EQ(desk.machine.SpoolNames().size(), c.posted ? 1u : 0u);
  }
  // The mail posted cut holds what its slots take.
  Bytes file = ReadAll(Spool("[=]"));
  ASSERT_EQ(file.size(), 4096u);
  Bytes payload(file.begin(), file.begin() + kPayloadSize);
  vlData(-1, payload.data(), kPayloadSize);
  EXPECT_EQ(TextAt(payload, 0, 3519), std::string(3518, 'm'));
  EXPECT_EQ(payload[3518], 0);
  EXPECT_EQ(payload[3519], 0);
  EXPECT_EQ(TextAt(payload, 3568, 8), "3518");
  EXPECT_EQ(TextAt(HeaderOf(file, 1), 98, 48), std::string(46, 's'));
}

TEST_F(WriterTest, SameStampNeverAppendsToAnotherMailsSpoolFile) {
  Bytes other(4096, 7);
  Steps s;
  Typed(s, "second", "bob@1234567", "again")
      .Do([&] { WriteAll(Spool("[=]"), other); })
      .ClickAnswering(W, kWriterSend, {IDYES, IDOK})
      .Click(W, kWriterExit);
  RunWriter(s);
  desk.ExpectCleanRun(s);
  EXPECT_EQ(ReadAll(Spool("[=]")), other);  // the waiting mail is untouched
  Bytes mine = ReadAll(Spool("[=]", stamp + "a"));
  ASSERT_EQ(mine.size(), 4096u);
  EXPECT_EQ(TextAt(HeaderOf(mine, 1), 8, 18), stamp + "a");
  std::vector<std::string> texts = desk.BoxTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[1].find(stamp + "a"), std::string::npos) << texts[1];
}

TEST_F(WriterTest, MissingFieldsAreRefusedInOrder) {
  struct Case {
    const char* subject;
    const char* to;
    const char* machId;
    const char* message;
  } cases[] = {{"", "bob@1", "0211234567", "Your mail has no subject"},
               {"s", "", "0211234567", "Your mail has no destination address"},
               {"s", "bob@1", "", "Enter this machine ID in [Setting]"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Config().unit.SetText(UnitField::MachID, c.machId);
    Steps s;
    Typed(s, c.subject, c.to, "x").ClickAnswering(W, kWriterSend, {IDYES, IDOK}).Click(W, kWriterExit);
    RunWriter(s);
    desk.ExpectCleanRun(s);
    EXPECT_EQ(desk.BoxTexts().back(), c.message);
    EXPECT_TRUE(desk.machine.SpoolNames().empty());
  }
}

TEST_F(WriterTest, LockKeyGoesIntoTheHeaderOfOneMailOnly) {
  Steps s;
  Typed(s, "one", "bob@1234567", "x")
      .Click(W, kWriterLock)
      .Prompt("Key1", "Enter a key to lock your mail (Optional)")
      .Prompt("KEY1", "Confirm your mail key")
      .ClickAnswering(W, kWriterSend, {IDYES})
      .In(W, [&](HWND d) {
        headless::type(d, kWriterSubject, "two");
        headless::type(d, kWriterDestination, "bob@1234567");
        second = headless::text(d, kWriterStamp);
        headless::answerBox(IDYES);
        // Within the same minute the second mail takes the next stamp variant.
        if (second == stamp) headless::answerBox(IDOK);
        headless::click(d, kWriterSend);
      })
      .Click(W, kWriterExit);
  RunWriter(s);
  desk.ExpectCleanRun(s);
  // The confirmation folds both to lower case.
  EXPECT_EQ(TextAt(HeaderOf(ReadAll(Spool("[=]")), 1), 218, 16), "key1");
  fs::path next = desk.machine.SpoolFile("anna@0211234567", second, "[=]");
  if (second == stamp) next = desk.machine.SpoolFile("anna@0211234567", second + "a", "[=]");
  EXPECT_EQ(TextAt(HeaderOf(ReadAll(next), 1), 218, 16), "");
}

TEST_F(WriterTest, UnconfirmedLockAsksAgainAndEmptyLeavesUnlocked) {
  Steps s;
  Typed(s, "one", "bob@1234567", "x")
      .Click(W, kWriterLock)
      .Prompt("abc")
      .PromptAnswering("abd", {IDOK})
      .Prompt("")  // nothing entered: not locked
      .ClickAnswering(W, kWriterSend, {IDYES})
      .Click(W, kWriterExit);
  RunWriter(s);
  desk.ExpectCleanRun(s);
  EXPECT_EQ(desk.BoxTexts().front(), "Mail key not consistent. Retry.");
  EXPECT_EQ(TextAt(HeaderOf(ReadAll(Spool("[=]")), 1), 218, 16), "");
}

TEST_F(WriterTest, ExitWithPendingAttachmentsAsks) {
  WriteAll(desk.machine.PendingFile("anna"), PendingFile("a.bin", 10, 3));
  Steps s;
  s.ClickAnswering(W, kWriterExit, {IDNO})
      .Do([&] { EXPECT_TRUE(fs::exists(desk.machine.PendingFile("anna"))); })
      .ClickAnswering(W, kWriterExit, {IDYES});
  RunWriter(s);
  desk.ExpectCleanRun(s);
  EXPECT_EQ(desk.BoxTexts(), std::vector<std::string>(2, "You have not posted your mail. Exit anyway?"));
  EXPECT_FALSE(fs::exists(desk.machine.PendingFile("anna")));
}

TEST_F(WriterTest, SendNowFlagFollowsTheCourierSetting) {
  struct Case {
    const char* courier;
    int32_t answer;
    int32_t sendNow;
  } cases[] = {{"0", IDNO, 1}, {"", IDNO, 1}, {"0", IDYES, 1}, {"1", IDYES, 0}, {"1", IDNO, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.courier) + " " + std::to_string(c.answer));
    Config().unit.SetText(UnitField::EnableECourier, c.courier);
    Console().sendNow = 0;
    for (const auto& e : fs::directory_iterator(desk.machine.Spool())) fs::remove(e.path());
    Steps s;
    Typed(s, "s", "bob@0401", "x").ClickAnswering(W, kWriterSend, {c.answer}).Click(W, kWriterExit);
    RunWriter(s);
    desk.ExpectCleanRun(s);
    EXPECT_EQ(Console().sendNow, c.sendNow);
  }
}

TEST_F(WriterTest, UnwritableSpoolKeepsTheMailInTheWriter) {
  std::string saved;
  WriteAll(desk.machine.PendingFile("anna"), PendingFile("a.bin", 100, 4));
  Steps s;
  Typed(s, "s", "bob@1234567", "x")
      .Do([&] {
        // The spool folder is gone (a removed disk, say): no spool file can be made.
        saved = Config().spoolPath;
        pClrMem(Config().spoolPath, sizeof Config().spoolPath);
        Classic(desk.machine.Root() / "gone").copy(Config().spoolPath, 255);
      })
      .ClickAnswering(W, kWriterSend, {IDYES, IDOK})
      .Do([&] {
        pClrMem(Config().spoolPath, sizeof Config().spoolPath);
        saved.copy(Config().spoolPath, 255);
        EXPECT_TRUE(fs::exists(desk.machine.PendingFile("anna")));
      })
      .In(W, [&](HWND d) {
        EXPECT_EQ(headless::text(d, kWriterSubject), "s");
        EXPECT_EQ(headless::text(d, kWriterText), "x");
      })
      .ClickAnswering(W, kWriterExit, {IDYES});
  RunWriter(s);
  desk.ExpectCleanRun(s);
  EXPECT_EQ(desk.BoxTexts()[1], "Your mail could not be posted. It is kept in the writer.");
  EXPECT_FALSE(Shown("Your mail has been posted"));
}

TEST_F(WriterTest, AttachFileCompressesIntoPendingRecords) {
  fs::path file = desk.machine.Root() / "notes.txt";
  Bytes original = RandomBytes(5000, 9);
  WriteAll(file, original);
  std::string tooLong(48, 'n');
  WriteAll(desk.machine.Root() / tooLong, original);
  Steps s;
  s.In(W, [&](HWND d) {
     headless::answerFile(Classic(file));
     headless::click(d, kWriterAttach);
   })
      .In(W, [&](HWND d) {
        headless::answerFile(Classic(desk.machine.Root() / tooLong));
        headless::answerBox(IDOK);
        headless::click(d, kWriterAttach);
      })
      .In(W, [&](HWND d) {
        headless::answerFile("");  // cancelled
        headless::click(d, kWriterAttach);
      })
      .Do([&] {
        Bytes pending = ReadAll(desk.machine.PendingFile("anna"));
        ASSERT_GT(pending.size(), 0u);
        ASSERT_EQ(pending.size() % kPayloadSize, 0u);
        size_t total = 0;
        for (size_t at = 0; at < pending.size(); at += kPayloadSize) {
          EXPECT_EQ(TextAt(pending, at + 3520, 48), "notes.txt");
          total += std::stoul(TextAt(pending, at + 3568, 8));
        }
        EXPECT_GT(total, original.size());  // random bytes do not shrink
        EXPECT_EQ(Writer().attachmentCount, 1u);
      })
      .ClickAnswering(W, kWriterExit, {IDYES});
  RunWriter(s);
  desk.ExpectCleanRun(s);
  EXPECT_TRUE(Shown("Compressing " + Classic(file) + "..."));
  EXPECT_TRUE(Shown(Classic(file) + " attached to your mail"));
  EXPECT_EQ(desk.BoxTexts()[0], "This file's name is too long to attach (at most 47 characters).");
}

TEST_F(WriterTest, LargeFilesOfAnyRatioAttachAndRefusalsAreSaid) {
  // 20 MB of zeros packs far better than 1000 to 1: an honest attachment.
  fs::path zeros = desk.machine.Root() / "zeros.log";
  WriteAll(zeros, Bytes(20u << 20, 0));
  // More than the unit library packs (made sparse, so it costs no disk).
  fs::path huge = desk.machine.Root() / "huge.img";
  WriteAll(huge, Bytes(1, 1));
  fs::resize_file(huge, 300u << 20);
  Steps s;
  s.In(W, [&](HWND d) {
     headless::answerFile(Classic(zeros));
     headless::click(d, kWriterAttach);
   })
      .In(W, [&](HWND d) {
        headless::answerFile(Classic(huge));
        headless::answerBox(IDOK);
        headless::click(d, kWriterAttach);
      })
      .Do([&] {
        EXPECT_EQ(Writer().attachmentCount, 1u);
        Bytes pending = ReadAll(desk.machine.PendingFile("anna"));
        ASSERT_EQ(pending.size(), static_cast<size_t>(kPayloadSize));
        EXPECT_EQ(TextAt(pending, 3520, 48), "zeros.log");
      })
      .ClickAnswering(W, kWriterExit, {IDYES});
  RunWriter(s);
  desk.ExpectCleanRun(s);
  EXPECT_TRUE(Shown(Classic(zeros) + " attached to your mail"));
  EXPECT_TRUE(Shown(Classic(huge) + " could not be attached"));
  ASSERT_EQ(desk.BoxTexts().size(), 2u);
  EXPECT_EQ(desk.BoxTexts()[0],
            "This file could not be compressed, so it is not attached: it cannot be read, or it is larger than 256 MB.");
}

// A file that takes more than a minute on the line at the machine's rate is
// attached only when the user says so, after being told its packed size and
// its time on the line.
TEST_F(WriterTest, ASlowAttachmentIsAChoice) {
  Config().settings.SetText(SettingsField::Baud, "300");
  fs::path file = desk.machine.Root() / "photo.jpg";
  WriteAll(file, RandomBytes(5000, 9));  // two blocks: 8192 bytes at 30 bytes a second
  for (const int32_t answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer);
    Statuses().texts.clear();
    Steps s;
    s.In(W, [&](HWND d) {
       headless::answerFile(Classic(file));
       headless::answerBox(answer);
       headless::click(d, kWriterAttach);
     })
        .In(W, [&](HWND) { EXPECT_EQ(Writer().attachmentCount, answer == IDYES ? 1u : 0u); })
        .ClickAnswering(W, kWriterExit, answer == IDYES ? std::vector<int32_t>{IDYES} : std::vector<int32_t>{});
    RunWriter(s);
    desk.ExpectCleanRun(s);
    const std::vector<std::string> boxes = desk.BoxTexts();
    ASSERT_FALSE(boxes.empty());
    const std::string& asked = boxes[boxes.size() - (answer == IDYES ? 2 : 1)];
    EXPECT_EQ(asked.rfind("This file is 4.", 0), 0u) << asked;
    EXPECT_NE(asked.find(" KB packed, about 4 min 34 s on the line at 300 baud. Attach it?"), std::string::npos)
        << asked;
    EXPECT_EQ(Shown(Classic(file) + " attached to your mail"), answer == IDYES);
  }
}

// A file that would make the mail larger than the machine's Mail limit is
// refused, and the user is told why.
TEST_F(WriterTest, AnAttachmentOverTheMailLimitIsRefused) {
  Config().settings.SetText(SettingsField::MailLimitMb, "1");
  fs::path file = desk.machine.Root() / "film.bin";
  WriteAll(file, RandomBytes(1100000, 4));
  Steps s;
  s.In(W, [&](HWND d) {
     headless::answerFile(Classic(file));
     headless::answerBox(IDOK);
     headless::click(d, kWriterAttach);
   })
      .In(W, [&](HWND) { EXPECT_EQ(Writer().attachmentCount, 0u); })
      .Click(W, kWriterExit);
  RunWriter(s);
  desk.ExpectCleanRun(s);
  ASSERT_EQ(desk.BoxTexts().size(), 1u);
  const std::string told = desk.BoxTexts()[0];
  EXPECT_NE(told.find("with it the mail would be larger than this machine's mail limit of 1 MB, so it is not "
                      "attached."),
            std::string::npos)
      << told;
  EXPECT_FALSE(fs::exists(desk.machine.PendingFile("anna")));
}

TEST(StatusLineTest, LongPiecesAreCutInTheMiddleToFitTheLine) {
  MailDesk desk;
  std::string path = "C:\\" + std::string(300, 'd') + "\\file.bin";
  StatusLine("Compressing ", path.c_str(), "...");
  ASSERT_FALSE(Statuses().texts.empty());
  std::string shown = Statuses().texts.back();
  EXPECT_LE(shown.size(), 250u);
  EXPECT_EQ(shown.rfind("Compressing C:\\ddd", 0), 0u);
  EXPECT_EQ(shown.substr(shown.size() - 12), "\\file.bin...");
  EXPECT_NE(shown.find("..."), shown.size() - 3);
  StatusLine("short ", "enough");
  EXPECT_EQ(Statuses().texts.back(), "short enough");
}

}  // namespace
