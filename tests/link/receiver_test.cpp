// The receiving role: a scripted sender calls this machine and sends
// announces and blocks; the data events must turn into a local spool file.
#include <chrono>
#include <fstream>

#include "config/config.h"
#include "link/link.h"
#include "link/secure.h"
#include "link_fixture.h"
#include "toolkit/files.h"
#include "winapi/loop.h"

namespace linktest {
namespace {

class Receiving : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    Config().unit.SetText(UnitField::MachID, "401");
    caller_ = std::make_unique<Peer>(Root(), "caller");
    caller_->Open();
    BringLinkUp();
    CallFrom(*caller_);
  }
  void TearDown() override {
    ResetReceiverLimits();
    caller_.reset();
    LinkFixture::TearDown();
  }

  Peer& caller() { return *caller_; }

  // Sends and lets the line carry it; true when the receiver answered with
  // one more "[OK]".
  bool SendAndHearOk(const Bytes& bytes) {
    const int before = caller().log.oks;
    caller().Send(bytes);
    return RunUntil([&] { return caller().log.oks > before; }, 2000);
  }

  std::string NameOf(const MailShape& mail) const { return SpoolNameOf(mail, "[=]"); }

  // Announces a whole mail under a name and sends its blocks; true when
  // every message was answered.
  bool SendMail(const Bytes& bytes, const std::string& name) {
    if (!SendAndHearOk(MakeAnnounce(name, "401"))) return false;
    for (size_t k = 1; k * 4096 <= bytes.size(); ++k)
      if (!SendAndHearOk(Block(bytes, int(k)))) return false;
    return true;
  }

  Bytes Block(const Bytes& mail, int k) const {
    return Bytes(mail.begin() + (k - 1) * 4096, mail.begin() + k * 4096);
  }

  std::unique_ptr<Peer> caller_;
};

TEST_F(Receiving, ThreeBlockMailBecomesALocalSpoolFile) {
  MailShape mail;
  mail.destination = "bob@0401";
  mail.blocks = 3;
  const Bytes bytes = MakeMail(mail);
  // 0401 designates this machine (MachID 401).
  ASSERT_TRUE(SendAndHearOk(MakeAnnounce(NameOf(mail), "0401")));
  EXPECT_EQ(Link().receive.state, kReceiveMail);
  TakeProgressHistory();
  const char* received[] = {"Comm Action Is Ok : Bytes Received - 4097", "Comm Action Is Ok : Bytes Received - 8193",
                            "Comm Action Is Ok : Bytes Received - 12289"};
  for (int k = 1; k <= 3; ++k) {
    EXPECT_FALSE(fs::exists(Post() / NameOf(mail))) << "visible before its last block: " << k;
    ASSERT_TRUE(SendAndHearOk(Block(bytes, k))) << k;
    EXPECT_EQ(StatusText(), received[k - 1]);
  }
  const std::vector<int32_t> progress = {34, 67, 100, 0};
  EXPECT_EQ(TakeProgressHistory(), progress);
  EXPECT_EQ(ReadAll(Post() / NameOf(mail)), bytes);
  EXPECT_EQ(SpoolNames(), std::vector<std::string>{NameOf(mail)});
  EXPECT_EQ(Link().receive.state, kReceiveIdle);

  // Ready for the next mail of the same call; "[END]" gets no answer.
  MailShape next;
  next.sender = "cy@400";
  ASSERT_TRUE(SendAndHearOk(MakeAnnounce(NameOf(next), "401")));
  ASSERT_TRUE(SendAndHearOk(MakeMail(next)));
  EXPECT_EQ(ReadAll(Post() / NameOf(next)), MakeMail(next));
  EXPECT_FALSE(SendAndHearOk(Bytes{'[', 'E', 'N', 'D', ']'}));
  EXPECT_EQ(SpoolNames().size(), 2u);
}

TEST_F(Receiving, BlockInSeveralPiecesIsAnsweredOnceWhole) {
  MailShape mail;
  const Bytes bytes = MakeMail(mail);
  ASSERT_TRUE(SendAndHearOk(MakeAnnounce(NameOf(mail), "401")));
  EXPECT_FALSE(SendAndHearOk(Bytes(bytes.begin(), bytes.begin() + 1000)));
  EXPECT_FALSE(SendAndHearOk(Bytes(bytes.begin() + 1000, bytes.begin() + 4000)));
  EXPECT_TRUE(SendAndHearOk(Bytes(bytes.begin() + 4000, bytes.end())));
  EXPECT_EQ(ReadAll(Post() / NameOf(mail)), bytes);
}

// Announces that must get no answer and leave nothing anywhere.
struct RefusedAnnounce {
  const char* what;
  std::string name;
  std::string machine;
  std::string marker;
  size_t length;
};

class RefusedAnnounces : public Receiving, public ::testing::WithParamInterface<RefusedAnnounce> {};

TEST_P(RefusedAnnounces, GetSilenceAndWriteNothing) {
  const RefusedAnnounce& c = GetParam();
  const std::vector<std::string> before = AllFiles();
  Bytes announce = MakeAnnounce(c.name, c.machine, c.marker);
  announce.resize(c.length, 0);
  EXPECT_FALSE(SendAndHearOk(announce)) << c.what;
  EXPECT_EQ(Link().receive.state, kReceiveIdle) << c.what;
  // Blocks that follow are taken for further announces, and refused too.
  EXPECT_FALSE(SendAndHearOk(MakeMail(MailShape{}))) << c.what;
  EXPECT_EQ(AllFiles(), before) << c.what;
  EXPECT_TRUE(fs::exists(Root())) << c.what;
}

const std::string kGood = Encoded("ann@4007/12/2026 9:05") + "[=]";

std::string Unterminated() { return std::string(137, 'a'); }

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedAnnounces,
    ::testing::Values(RefusedAnnounce{"for another machine", kGood, "402", "[ML]", 512},
                      RefusedAnnounce{"for a longer number", kGood, "1401", "[ML]", 512},
                      RefusedAnnounce{"without the marker", kGood, "401", "[XX]", 512},
                      RefusedAnnounce{"shorter than an announce", kGood, "401", "[ML]", 300},
                      RefusedAnnounce{"parent folder", "..[=]", "401", "[ML]", 512},
                      RefusedAnnounce{"climbing out", "../../evil[=]", "401", "[ML]", 512},
                      RefusedAnnounce{"slash", "ab/cd[=]", "401", "[ML]", 512},
                      RefusedAnnounce{"backslash", "ab\\cd[=]", "401", "[ML]", 512},
                      RefusedAnnounce{"wildcard", "a*[=]", "401", "[ML]", 512},
                      RefusedAnnounce{"question mark", "ab?c[=]", "401", "[ML]", 512},
                      RefusedAnnounce{"dot", "ab.c[=]", "401", "[ML]", 512},
                      RefusedAnnounce{"remote suffix", "abcd[@]", "401", "[ML]", 512},
                      RefusedAnnounce{"no suffix", "abcd", "401", "[ML]", 512},
                      RefusedAnnounce{"suffix alone", "[=]", "401", "[ML]", 512},
                      RefusedAnnounce{"odd length", "abc[=]", "401", "[ML]", 512},
                      RefusedAnnounce{"blank", "ab d[=]", "401", "[ML]", 512},
                      RefusedAnnounce{"upper case", "ABcd[=]", "401", "[ML]", 512},
                      RefusedAnnounce{"not terminated", Unterminated(), "401", "[ML]", 512},
                      RefusedAnnounce{"empty name", "", "401", "[ML]", 512}), CaseName<RefusedAnnounce>);

TEST_F(Receiving, AnExistingFileStaysAndTheMailKeepsNoTail) {
  MailShape mail;
  const fs::path target = Post() / NameOf(mail);
  WriteAll(target, Bytes(3 * 4096, 0x5a));
  WriteAll(Post() / (Encoded(mail.sender + mail.postedAt) + "[~]"), Bytes(2 * 4096, 0x33));
  ASSERT_TRUE(SendAndHearOk(MakeAnnounce(NameOf(mail), "401")));
  ASSERT_TRUE(SendAndHearOk(MakeMail(mail)));
  EXPECT_EQ(ReadAll(target), Bytes(3 * 4096, 0x5a));
  MailShape filed = mail;
  filed.postedAt += "a";
  EXPECT_EQ(ReadAll(Post() / NameOf(filed)), MakeMail(filed));
  EXPECT_EQ(SpoolNames(), (std::vector<std::string>{NameOf(mail), NameOf(filed)}));
}

TEST_F(Receiving, AMailOfAnotherChainNeverTakesTheNameOfOneWaiting) {
  MailShape first;
  MailShape second = first;  // same sender, same minute, another mail
  second.blocks = 2;
  ASSERT_TRUE(SendMail(MakeMail(first), NameOf(first)));
  ASSERT_TRUE(SendMail(MakeMail(second), NameOf(second)));
  EXPECT_EQ(ReadAll(Post() / NameOf(first)), MakeMail(first));
  // The second mail carries the stamp variant in every header, as local
  // delivery would give it, so every reader derives the name it lies under.
  MailShape filed = second;
  filed.postedAt = "7/12/2026 9:05a";
  EXPECT_EQ(ReadAll(Post() / NameOf(filed)), MakeMail(filed));
  EXPECT_EQ(SpoolNames().size(), 2u);
  EXPECT_TRUE(StatusShowed("Comm Action Is Ok : Bytes Received - 8193 (another mail holds its name: filed as "
                           "7/12/2026 9:05a)"));
}

TEST_F(Receiving, AMailSentAgainIsAnsweredButNotFiledTwice) {
  MailShape mail;
  mail.blocks = 3;
  const Bytes bytes = MakeMail(mail);
  ASSERT_TRUE(SendMail(bytes, NameOf(mail)));
  // Local delivery takes it to the mailbox; the sender never heard the last
  // "[OK]" and sends the mail again in its next call.
  fs::remove(Post() / NameOf(mail));
  TakeStatusHistory();
  ASSERT_TRUE(SendMail(bytes, NameOf(mail)));
  EXPECT_TRUE(SpoolNames().empty());
  EXPECT_TRUE(StatusShowed("Comm Action Is Ok : Bytes Received - 12289 (received before: not filed again)"));
  // Another mail under that name is a mail of its own.
  MailShape other = mail;
  other.blocks = 1;
  ASSERT_TRUE(SendMail(MakeMail(other), NameOf(other)));
  EXPECT_EQ(ReadAll(Post() / NameOf(other)), MakeMail(other));
}

TEST_F(Receiving, AMailThatCannotBeWrittenIsRefusedAloud) {
  MailShape mail;
  // Its part file cannot be written: the place is taken by a folder.
  fs::create_directory(Post() / (Encoded(mail.sender + mail.postedAt) + "[~]"));
  ASSERT_TRUE(SendAndHearOk(MakeAnnounce(NameOf(mail), "401")));
  EXPECT_FALSE(SendAndHearOk(MakeMail(mail)));
  EXPECT_EQ(Link().receive.state, kReceiveRefused);
  EXPECT_EQ(StatusText(), "Mail not received: it could not be written to POST (disk full?)");
  EXPECT_FALSE(fs::exists(Post() / NameOf(mail)));
}

// What a call may cost: no chain longer than the longest mail, never below
// the margin of free space.
struct CostlyMail {
  const char* what;
  std::string firstTotal;    // totalBlocks of block 1
  std::string secondTotal;   // totalBlocks of block 2
  int64_t spaceLeftBlocks;   // free space above the margin, in blocks; -1: as the disk has it
  bool announceAnswered;
  int blocksAnswered;
  std::string status;
};

class CostlyMails : public Receiving, public ::testing::WithParamInterface<CostlyMail> {};

TEST_P(CostlyMails, AreRefusedAloudBeforeTheyCost) {
  const CostlyMail& c = GetParam();
  if (c.spaceLeftBlocks >= 0) {
    const std::string folder = Config().programFolder;
    ReceiverLimits().freeMarginBytes = tkFreeBytes(folder.c_str()) - c.spaceLeftBlocks * 4096;
  }
  MailShape one;
  one.blocks = 2;
  one.totalBlocks = c.firstTotal;
  MailShape two = one;
  two.totalBlocks = c.secondTotal;
  const Bytes first = Block(MakeMail(one), 1), second = Block(MakeMail(two), 2);
  EXPECT_EQ(SendAndHearOk(MakeAnnounce(NameOf(one), "401")), c.announceAnswered) << c.what;
  int answered = 0;
  if (c.announceAnswered && SendAndHearOk(first)) ++answered;
  if (answered == 1 && SendAndHearOk(second)) ++answered;
  EXPECT_EQ(answered, c.blocksAnswered) << c.what;
  EXPECT_EQ(StatusText(), c.status) << c.what;
  EXPECT_FALSE(fs::exists(Post() / NameOf(one))) << c.what;
  if (c.blocksAnswered == 0) {
    EXPECT_FALSE(fs::exists(Post() / (Encoded(one.sender + one.postedAt) + "[~]"))) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CostlyMails,
    ::testing::Values(
        CostlyMail{"more blocks than the longest mail", "999999", "999999", -1, true, 0,
                   "Mail refused: longer than the longest mail (blocks: 999999)"},
        CostlyMail{"a total that grows after the first block", "2", "999999", -1, true, 1,
                   "Mail refused: its blocks do not follow the announced mail"},
        CostlyMail{"no room even for one block", "2", "2", 0, false, 0,
                   "Mail refused: too little free space in the program folder"},
        CostlyMail{"no room for the whole chain and its delivered copy", "100000", "100000", 16384, true, 0,
                   "Mail refused: too little free space in the program folder"}),
    CaseName<CostlyMail>);

TEST_F(Receiving, PartFilesNoCallAddedToForADayGo) {
  const fs::path old = Post() / "aaaa[~]", young = Post() / "bbbb[~]", oldMail = Post() / "cccc[=]";
  // Resume notes: one beside the young part file, one whose part file went.
  const fs::path youngNote = Post() / "bbbb[#]", loneNote = Post() / "dddd[#]";
  for (const fs::path& p : {old, young, oldMail, youngNote, loneNote}) WriteAll(p, Bytes(4096, 1));
  const auto now = fs::file_time_type::clock::now();
  fs::last_write_time(old, now - std::chrono::hours(25));
  fs::last_write_time(oldMail, now - std::chrono::hours(25));
  fs::last_write_time(young, now - std::chrono::hours(23));
  MailShape mail;
  ASSERT_TRUE(SendAndHearOk(MakeAnnounce(NameOf(mail), "401")));
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(fs::exists(young));
  EXPECT_TRUE(fs::exists(oldMail));
  EXPECT_TRUE(fs::exists(youngNote));
  EXPECT_FALSE(fs::exists(loneNote));
}

TEST_F(Receiving, MoreThanABlockIsNeverStoredNorAnswered) {
  MailShape mail;
  mail.blocks = 2;
  const Bytes bytes = MakeMail(mail);
  ASSERT_TRUE(SendAndHearOk(MakeAnnounce(NameOf(mail), "401")));
  EXPECT_FALSE(SendAndHearOk(Bytes(bytes.begin(), bytes.begin() + 4000)));
  // 4000 + 200 bytes overrun the block.
  EXPECT_FALSE(SendAndHearOk(Bytes(bytes.begin() + 4000, bytes.begin() + 4200)));
  EXPECT_EQ(Link().receive.state, kReceiveRefused);
  // Nothing more is taken in this call, not even a fresh announce.
  EXPECT_FALSE(SendAndHearOk(MakeAnnounce(NameOf(mail), "401")));
  EXPECT_FALSE(fs::exists(Post() / NameOf(mail)));
  // The next call starts afresh.
  caller().HangUp();
  ASSERT_TRUE(RunUntil([&] { return Link().callState == 0; }, 5000));
  EXPECT_EQ(Link().receive.state, kReceiveIdle);
}

// Blocks that do not continue the announced mail in order are refused.
struct BrokenChain {
  const char* what;
  std::vector<std::string> numbers;
  std::string total;
  int answered;  // blocks answered before the refusal
};

class BrokenChains : public Receiving, public ::testing::WithParamInterface<BrokenChain> {};

TEST_P(BrokenChains, StopAtTheFirstBadBlock) {
  const BrokenChain& c = GetParam();
  MailShape mail;
  mail.blocks = int(c.numbers.size());
  mail.blockNumbers = c.numbers;
  mail.totalBlocks = c.total;
  const Bytes bytes = MakeMail(mail);
  ASSERT_TRUE(SendAndHearOk(MakeAnnounce(NameOf(mail), "401")));
  int answered = 0;
  for (int k = 1; k <= mail.blocks && SendAndHearOk(Block(bytes, k)); ++k) ++answered;
  EXPECT_EQ(answered, c.answered) << c.what;
  EXPECT_EQ(Link().receive.state, kReceiveRefused) << c.what;
  EXPECT_FALSE(fs::exists(Post() / NameOf(mail))) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, BrokenChains,
                         ::testing::Values(BrokenChain{"starts with block 2", {"2", "3"}, "3", 0},
                                           BrokenChain{"skips a block", {"1", "3", "3"}, "3", 1},
                                           BrokenChain{"repeats a block", {"1", "1", "2"}, "2", 1},
                                           BrokenChain{"number beyond the total", {"1", "3"}, "2", 1},
                                           BrokenChain{"number not a number", {"1", "x"}, "2", 1}), CaseName<BrokenChain>);

TEST_F(Receiving, CarrierLossLeavesNoSpoolFileAndResetsBothRoles) {
  MailShape mail;
  mail.blocks = 3;
  const Bytes bytes = MakeMail(mail);
  ASSERT_TRUE(SendAndHearOk(MakeAnnounce(NameOf(mail), "401")));
  ASSERT_TRUE(SendAndHearOk(Block(bytes, 1)));
  caller().HangUp();
  ASSERT_TRUE(RunUntil([&] { return Link().callState == 0; }, 5000));
  EXPECT_EQ(Link().lineBusy, 0);
  EXPECT_EQ(Link().receive.state, kReceiveIdle);
  EXPECT_EQ(Link().send.state, 0);
  EXPECT_FALSE(fs::exists(Post() / NameOf(mail)));
}

TEST_F(Receiving, APostingPassDuringTheCallLeavesTheMailAlone) {
  MailShape incoming;
  incoming.blocks = 3;
  const Bytes bytes = MakeMail(incoming);
  ASSERT_TRUE(SendAndHearOk(MakeAnnounce(NameOf(incoming), "401")));
  ASSERT_TRUE(SendAndHearOk(Block(bytes, 1)));

  // A mail of this machine waits for another machine; the pass runs while
  // the call is connected and must neither dial nor touch the receiver.
  MailShape outgoing;
  outgoing.sender = "bob@401";
  outgoing.destination = "ann@402";
  const fs::path waiting = PutRemote(outgoing);
  ASSERT_EQ(DeliverRemoteMails(), 1);
  EXPECT_TRUE(fs::exists(waiting));
  EXPECT_EQ(Link().callState, -1);
  EXPECT_EQ(Link().receive.state, kReceiveMail);
  EXPECT_EQ(caller().log.otherBytes, 0);

  ASSERT_TRUE(SendAndHearOk(Block(bytes, 2)));
  ASSERT_TRUE(SendAndHearOk(Block(bytes, 3)));
  EXPECT_EQ(ReadAll(Post() / NameOf(incoming)), bytes);
}


// A caller files mail only in its own name, and a machine listed with a key
// is never taken without it. Ids are checked before they are trusted and are
// compared whole: a trunk "0" names the same machine, a blank or a tab makes
// no id, and an id that merely ends like a listed one is another machine.
TEST_F(Receiving, MailIsFiledOnlyInTheNameOfTheMachineThatCalls) {
  const struct {
    const char* what;
    std::string from, sender;
    bool filed;
  } cases[] = {
      {"its own mail", "400", "ann@400", true},
      {"another machine's mail", "999", "ann@400", false},
      {"a listed machine, keyless", "398", "ann@398", false},
      {"a listed machine with a trunk zero", "0398", "ann@0398", false},
      {"a listed id and a blank", "398 ", "ann@398 ", false},
      {"a listed id and a tab", "398\t", "ann@398\t", false},
      {"an id that only ends like a listed one", "98", "ann@98", true},
  };
  MachineKey listed;
  ASSERT_EQ(MakeMachineKey(listed), 1);
  char hex[kKeyHexSize + 1];
  PublicKeyHex(listed.publicKey, hex);
  std::ofstream(Root() / kKnownMachinesName) << "398 " << hex << "\n";
  fs::permissions(Root() / kKnownMachinesName, fs::perms::owner_read | fs::perms::owner_write);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MailShape mail;
    mail.sender = c.sender;
    const bool announced = SendAndHearOk(MakeAnnounce(NameOf(mail), "401", "[ML]", c.from));
    const bool stored = announced && SendAndHearOk(MakeMail(mail));
    EXPECT_EQ(stored, c.filed);
    EXPECT_EQ(fs::exists(Post() / NameOf(mail)), c.filed);
    fs::remove(Post() / NameOf(mail));
    Link().receive.state = kReceiveIdle;  // the refused mail's call goes on with the next
  }
}

// One call files no more mails than its share of the journal; the rest wait
// for another call.
TEST_F(Receiving, OneCallFilesNoMoreThanItsShare) {
  ReceiverLimits().mailsPerCall = 2;
  int filed = 0;
  for (int minute = 1; minute <= 3; ++minute) {
    MailShape mail;
    mail.postedAt = "7/12/2026 9:0" + std::to_string(minute);
    if (SendMail(MakeMail(mail), NameOf(mail))) ++filed;
  }
  EXPECT_EQ(filed, 2);
  EXPECT_EQ(SpoolNames().size(), 2u);
}

}  // namespace
}  // namespace linktest
