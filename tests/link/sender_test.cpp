// The posting pass against scripted receivers, on the virtual clock.
#include <algorithm>
#include <chrono>
#include <fstream>

#include "config/config.h"
#include "console/console.h"
#include "link/link.h"
#include "link_fixture.h"
#include "toolkit/files.h"
#include "winapi/headless/driver.h"
#include "winapi/log.h"
#include "winapi/loop.h"

namespace linktest {
namespace {

class PostingPass : public LinkFixture {
 protected:
  PostingPass() {
    waLogCatch([this](const WaLogLine& line) {
      if (line.topic == "mail") mailLines_.push_back(line.text);
    });
  }
  ~PostingPass() override { waLogCatch(nullptr); }
  void Pass() { ASSERT_EQ(DeliverRemoteMails(), 1); }
  // One mail for each machine, in the order the pass meets the spool files
  // (the folder's scan order decides which file carries which mail); their
  // spool names in that order.
  std::vector<std::string> PutInScanOrder(const std::vector<const char*>& machines) {
    std::vector<std::string> scan;
    for (size_t i = 0; i < machines.size(); ++i) WriteAll(Post() / (std::string(1, char('a' + i)) + "[@]"), {});
    char found[260] = {};
    const std::string pattern = std::string(Config().spoolPath) + "\\*[@]";
    for (int32_t first = 1; pFileFind(pattern.c_str(), found, first) == 1; first = 0) scan.push_back(found);
    EXPECT_EQ(scan.size(), machines.size());
    for (size_t i = 0; i < machines.size() && i < scan.size(); ++i) {
      MailShape mail;
      mail.sender = "s" + std::to_string(i) + "@400";
      mail.destination = std::string("bob@") + machines[i];
      PutRemote(mail, scan[i]);
    }
    return scan;
  }
  // The status line showed it, or the log has it as a "mail" line.
  bool Said(const std::string& text) {
    return StatusShowed(text) || std::find(mailLines_.begin(), mailLines_.end(), text) != mailLines_.end();
  }
  std::vector<std::string> mailLines_;

  bool Exists(const fs::path& path) const { return fs::exists(path); }

  static int BlockNumberOf(const Bytes& block) { return std::stoi(TextAt(HeaderOf(block), 234, 9)); }
};

TEST_F(PostingPass, WithoutRemoteSpoolFilesNothingIsDialledOrEnded) {
  Peer& a = AddPeer("401");
  BringLinkUp();
  MailShape local;
  local.destination = "bob@400";
  const fs::path localFile = Post() / SpoolNameOf(local, "[=]");
  WriteAll(localFile, MakeMail(local));
  TakeStatusHistory();
  Pass();
  EXPECT_EQ(a.log.carrierOn, 0);
  EXPECT_EQ(a.log.ends, 0);
  EXPECT_TRUE(a.log.order.empty());
  EXPECT_EQ(Link().callState, 0);
  EXPECT_TRUE(Exists(localFile));
  const std::vector<std::string> expected = {"Delivering remote mails...", "All remote mails delivered"};
  EXPECT_EQ(TakeStatusHistory(), expected);
}

TEST_F(PostingPass, TwoMailsForOneMachineTravelInOneCall) {
  Peer& a = AddPeer("401");
  BringLinkUp();
  MailShape one, two;
  two.sender = "cy@400";
  two.blocks = 3;
  const fs::path first = PutRemote(one);
  const fs::path second = PutRemote(two);
  const Bytes sent1 = ReadAll(first), sent2 = ReadAll(second);
  Pass();

  EXPECT_EQ(a.log.carrierOn, 1);
  EXPECT_EQ(a.log.carrierOff, 1);
  ASSERT_EQ(a.log.announces.size(), 2u);
  ASSERT_EQ(a.log.blocks.size(), 4u);
  EXPECT_EQ(a.log.ends, 1);
  EXPECT_EQ(a.log.order.back(), "end");
  EXPECT_FALSE(Exists(first));
  EXPECT_FALSE(Exists(second));
  // Each announce names the mail as a local spool file for the receiver and
  // is followed by that mail's blocks, byte for byte as spooled.
  for (const Bytes& announce : a.log.announces) {
    EXPECT_EQ(TextAt(announce, 137, 24), "401");
    EXPECT_EQ(TextAt(announce, 161, 12), "[ML]");
    EXPECT_EQ(TextAt(announce, 173, 24), "400");
    EXPECT_EQ(TextAt(announce, 197, 32), "link tests");
  }
  const bool oneFirst = TextAt(a.log.announces[0], 0, 137) == SpoolNameOf(one, "[=]");
  const MailShape& firstMail = oneFirst ? one : two;
  const MailShape& secondMail = oneFirst ? two : one;
  EXPECT_EQ(TextAt(a.log.announces[0], 0, 137), SpoolNameOf(firstMail, "[=]"));
  EXPECT_EQ(TextAt(a.log.announces[1], 0, 137), SpoolNameOf(secondMail, "[=]"));
  Bytes received;
  for (const Bytes& b : a.log.blocks) received.insert(received.end(), b.begin(), b.end());
  Bytes expected = oneFirst ? sent1 : sent2;
  const Bytes& tail = oneFirst ? sent2 : sent1;
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_TRUE(received == expected);
  // Hung up: the port was closed and opened again, the modem is ready.
  EXPECT_EQ(Link().callState, 0);
  EXPECT_EQ(Link().online, 1);
  EXPECT_EQ(Link().modemReady, 1);
  EXPECT_EQ(Link().lineBusy, 0);
  EXPECT_TRUE(StatusShowed("Velloran@401 Verified OK"));
  EXPECT_TRUE(StatusShowed("Disconnecting from Velloran@401..."));
}

TEST_F(PostingPass, MailsForAnotherMachineWaitForTheNextPass) {
  Peer& a = AddPeer("401");
  Peer& b = AddPeer("402");
  BringLinkUp();
  // A, B, A in the order the pass meets them.
  const std::vector<std::string> scan = PutInScanOrder({"401", "402", "401"});
  ASSERT_EQ(scan.size(), 3u);

  Pass();
  EXPECT_EQ(a.log.carrierOn, 1);
  EXPECT_EQ(a.log.announces.size(), 2u);
  EXPECT_EQ(a.log.ends, 1);
  EXPECT_EQ(b.log.carrierOn, 0);
  EXPECT_EQ(Console().repeatRequest, 1);
  EXPECT_EQ(SpoolNames(), std::vector<std::string>{scan[1]});

  Pass();
  EXPECT_EQ(b.log.carrierOn, 1);
  EXPECT_EQ(b.log.announces.size(), 1u);
  EXPECT_EQ(b.log.ends, 1);
  EXPECT_EQ(a.log.carrierOn, 1);
  EXPECT_EQ(Console().repeatRequest, 0);
  EXPECT_TRUE(SpoolNames().empty());
}

// A mail kept early in a pass because its machine waited for its next try,
// when that try falls due later in the pass and a later mail reaches the
// machine: no try waits for it any more, so the next pass takes it at once.
TEST_F(PostingPass, AMailKeptBeforeItsMachineWasReachedGoesInTheNextPass) {
  Peer& a = AddPeer("401");
  BringLinkUp();
  // 401, then 402 (nobody answers: its dial takes a moment), then 401.
  const std::vector<std::string> scan = PutInScanOrder({"401", "402", "401"});
  ASSERT_EQ(scan.size(), 3u);
  RetryEntry& waits = Link().retries.entries[0];
  std::snprintf(waits.machine, sizeof waits.machine, "401");
  waits.failures = 1;
  waits.waiting = 1;
  waits.dueAt = uint32_t(pTiming()) + 1000;

  Pass();
  EXPECT_EQ(a.log.announces.size(), 1u);
  EXPECT_EQ(SpoolNames(), (std::vector<std::string>{scan[0], scan[1]}));
  EXPECT_EQ(Console().repeatRequest, 1);
  Pass();
  EXPECT_EQ(a.log.announces.size(), 2u);
  EXPECT_EQ(SpoolNames(), std::vector<std::string>{scan[1]});
}

TEST_F(PostingPass, ASentMailKeepsItsNameFromTheNextMailOfItsMinute) {
  Peer& a = AddPeer("401");
  BringLinkUp();
  MailShape mail;
  mail.sender = "bob@400";
  PutRemote(mail);
  Pass();
  ASSERT_TRUE(SpoolNames().empty());
  // The writer posts another mail of the same minute: its spool file is
  // gone, but the receiver may still hold the first under that name.
  char stamp[18] = {};
  mail.postedAt.copy(stamp, sizeof stamp - 1);
  char path[256] = {};
  EXPECT_EQ(ChooseFreeSpoolName("bob@400", stamp, "[@]", path), 2);
  EXPECT_STREQ(stamp, "7/12/2026 9:05a");
  MailShape next = mail;
  next.postedAt = stamp;
  EXPECT_EQ(std::string(path), std::string(Config().spoolPath) + "\\" + SpoolNameOf(next, "[@]"));
  EXPECT_EQ(a.log.announces.size(), 1u);
}

TEST_F(PostingPass, UnansweredAnnounceEndsTheCallAfter75Seconds) {
  Peer& a = AddPeer("401");
  a.script.answerAnnounce = false;
  BringLinkUp();
  const fs::path file = PutRemote(MailShape{});
  const uint32_t start = waNow();
  Pass();
  EXPECT_EQ(a.log.announces.size(), 1u);
  EXPECT_TRUE(a.log.blocks.empty());
  EXPECT_EQ(a.log.ends, 0);  // the call was ended by the hang-up
  EXPECT_EQ(a.log.carrierOff, 1);
  EXPECT_TRUE(Exists(file));
  EXPECT_GE(waNow() - start, 75000u);
  EXPECT_TRUE(StatusShowed("Velloran@401 Verified NOT OK"));
}

TEST_F(PostingPass, UnacknowledgedBlockLeavesTheMailForAWholeResend) {
  Peer& a = AddPeer("401");
  a.script.blocksToAnswer = 1;
  BringLinkUp();
  MailShape mail;
  mail.blocks = 3;
  const fs::path file = PutRemote(mail);
  const Bytes spooled = ReadAll(file);
  Pass();
  EXPECT_EQ(a.log.blocks.size(), 2u);
  EXPECT_EQ(a.log.ends, 0);
  EXPECT_EQ(a.log.carrierOff, 1);
  EXPECT_TRUE(Exists(file));
  EXPECT_EQ(ReadAll(file), spooled);

  a.script.blocksToAnswer = 1 << 30;
  a.log = PeerLog{};
  Pump(2 * kRetryFirstMs);  // its machine's next try is due
  Pass();
  ASSERT_EQ(a.log.blocks.size(), 3u);
  EXPECT_EQ(BlockNumberOf(a.log.blocks[0]), 1);
  EXPECT_EQ(BlockNumberOf(a.log.blocks[2]), 3);
  EXPECT_FALSE(Exists(file));
}

TEST_F(PostingPass, CarrierLostMidMailKeepsTheSpoolFile) {
  Peer& a = AddPeer("401");
  a.script.blocksToAnswer = 0;
  a.script.hangUpAfterBlocks = 1;
  BringLinkUp();
  MailShape mail;
  mail.blocks = 3;
  const fs::path file = PutRemote(mail);
  Pass();
  EXPECT_EQ(a.log.blocks.size(), 1u);
  EXPECT_EQ(a.log.ends, 0);
  EXPECT_TRUE(Exists(file));
  EXPECT_EQ(Link().callState, 0);
  EXPECT_EQ(Link().lineBusy, 0);
  EXPECT_EQ(Link().send.state, 0);
  // The link itself stays up and the next pass sends the mail.
  a.script = PeerScript{};
  Pump(2 * kRetryFirstMs);
  Pass();
  EXPECT_FALSE(Exists(file));
}

// Spool files that cannot or must not be sent: none of them makes a call.
enum class Fate { StaysAsIs, Damaged, Returned };
struct UnsendableCase {
  const char* what;
  MailShape mail;
  bool truncate;      // the file lacks its last block
  Fate fate;          // Returned: gone, and a report for its sender waits in POST
  const char* status;  // a status text the pass must show, or ""
};

class UnsendableSpool : public PostingPass, public ::testing::WithParamInterface<UnsendableCase> {};

TEST_P(UnsendableSpool, MakesNoCall) {
  const UnsendableCase& c = GetParam();
  Peer& a = AddPeer("401");
  BringLinkUp();
  fs::path file = Post() / "mail[@]";
  Bytes bytes = MakeMail(c.mail);
  if (c.truncate) bytes.resize(bytes.size() - 4096);
  WriteAll(file, bytes);
  Pass();
  EXPECT_EQ(a.log.carrierOn, 0) << c.what;
  EXPECT_EQ(Link().callState, 0) << c.what;
  if (c.fate == Fate::StaysAsIs) {
    EXPECT_EQ(ReadAll(file), bytes) << c.what;
  } else if (c.fate == Fate::Damaged) {
    EXPECT_FALSE(Exists(file)) << c.what;
    EXPECT_EQ(ReadAll(Post() / "mail[!]"), bytes) << c.what;
  } else {
    EXPECT_FALSE(Exists(file)) << c.what;
    const std::vector<std::string> names = SpoolNames();
    ASSERT_EQ(names.size(), 1u) << c.what;
    EXPECT_EQ(names[0].substr(names[0].size() - 3), "[=]") << c.what;  // ann is of this machine
    EXPECT_EQ(TextAt(HeaderOf(ReadAll(Post() / names[0])), 146, 48), "ann@400") << c.what;
    EXPECT_FALSE(StatusShowed("All remote mails delivered")) << c.what;
  }
  if (c.status[0] != 0) {
    EXPECT_TRUE(Said(c.status)) << c.what;
  }
}

MailShape WithDestination(const std::string& destination) {
  MailShape m;
  m.destination = destination;
  return m;
}

MailShape ThreeBlocks(const std::string& total, std::vector<std::string> numbers = {}) {
  MailShape m;
  m.blocks = 3;
  m.totalBlocks = total;
  m.blockNumbers = std::move(numbers);
  return m;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnsendableSpool,
    ::testing::Values(
        UnsendableCase{"no machine part", WithDestination("bob"), false, Fate::Returned,
                       "returned to its sender: mail from ann@400 to bob of 7/12/2026 9:05: its address names no "
                       "machine"},
        UnsendableCase{"empty machine part", WithDestination("bob@"), false, Fate::Returned,
                       "Remote mails: 0 sent, 1 returned to their senders"},
        UnsendableCase{"machine part of 24 characters", WithDestination("bob@123456789012345678901234"), false,
                       Fate::Returned,
                       "returned to its sender: mail from ann@400 to bob@123456789012345678901234 of 7/12/2026 9:05: "
                       "its machine ID is longer than 23 characters"},
        UnsendableCase{"incomplete: last block missing", ThreeBlocks("3"), true, Fate::StaysAsIs, ""},
        UnsendableCase{"last block not the last of its mail", ThreeBlocks("4"), false, Fate::StaysAsIs, ""},
        UnsendableCase{"block count not a number", ThreeBlocks("x"), false, Fate::StaysAsIs, ""},
        UnsendableCase{"chain shorter than its file", ThreeBlocks("2", {"1", "2", "2"}), false, Fate::Damaged, ""},
        UnsendableCase{"chain of no blocks", ThreeBlocks("0", {"1", "2", "0"}), false, Fate::Damaged, ""}),
    CaseName<UnsendableCase>);

// A mail that does not leave is named with its reason, and the pass does not
// end with "All remote mails delivered"; one still there after the retry
// limit goes back to its sender.
struct KeptCase {
  const char* what;
  const char* destination;
  bool answerAnnounce;
  int32_t ageDays;
  const char* line;  // the mail's line in the log
  const char* end;   // the pass's end
};

class KeptMail : public PostingPass, public ::testing::WithParamInterface<KeptCase> {};

TEST_P(KeptMail, IsNamedWithItsReason) {
  const KeptCase& c = GetParam();
  Peer& a = AddPeer("401");
  a.script.answerAnnounce = c.answerAnnounce;
  BringLinkUp();
  const fs::path file = PutRemote(WithDestination(c.destination));
  const auto posted = fs::last_write_time(file) - std::chrono::hours(24 * c.ageDays + 1);
  fs::last_write_time(file, posted);
  TakeStatusHistory();
  Pass();
  const std::vector<std::string> history = TakeStatusHistory();
  EXPECT_EQ(mailLines_, std::vector<std::string>{c.line}) << c.what;
  ASSERT_FALSE(history.empty());
  EXPECT_EQ(history.back().substr(0, std::string(c.end).size()), c.end) << c.what;
  EXPECT_EQ(Exists(file), c.ageDays < kGiveUpDays) << c.what;
  EXPECT_EQ(SpoolNames().size(), 1u) << c.what;  // the mail, or its report
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeptMail,
    ::testing::Values(
        KeptCase{"machine not in the phone book", "bob@402", true, 0,
                 "kept in POST: mail from ann@400 to bob@402 of 7/12/2026 9:05: no carrier (busy, no answer, or no "
                 "such number)",
                 "Remote mails: 0 sent, 1 kept in POST (1 no carrier (busy, no answer, or no such number)); next try "
                 "for Velloran@402 at "},
        KeptCase{"announce refused", "bob@401", false, 0,
                 "kept in POST: mail from ann@400 to bob@401 of 7/12/2026 9:05: not answered (refused, or a wrong "
                 "key)",
                 "Remote mails: 0 sent, 1 kept in POST (1 not answered (refused, or a wrong key)); next try for "
                 "Velloran@401 at "},
        KeptCase{"no carrier for three days", "bob@402", true, 3,
                 "returned to its sender: mail from ann@400 to bob@402 of 7/12/2026 9:05: not delivered within 3 "
                 "days; the last attempt: no carrier (busy, no answer, or no such number)",
                 "Remote mails: 0 sent, 1 returned to their senders"}),
    CaseName<KeptCase>);

// A machine the dial cannot reach gets its own next try, later after each
// failure in a row and never beyond the courier interval; its other mails
// wait for that try, and mails for other machines go meanwhile.
TEST_F(PostingPass, AnUnreachableMachineWaitsForItsOwnLaterAndLaterTries) {
  tkSeedRandom(11);
  Config().unit.SetText(UnitField::ECourierInterval, "5");
  Peer& a = AddPeer("401");  // 402 is in no phone book: no carrier
  BringLinkUp();
  for (const char* sender : {"s1@400", "s2@400"}) {
    MailShape mail;
    mail.sender = sender;
    mail.destination = "bob@402";
    PutRemote(mail);
  }
  PutRemote(MailShape{});  // for 401
  const auto dialsTo402 = [&] {
    const std::vector<std::string> history = TakeStatusHistory();
    return std::count(history.begin(), history.end(), "Connecting to Velloran@402...");
  };
  Pass();  // 401's mail, and 402's wait for a call of their own
  EXPECT_EQ(a.log.announces.size(), 1u);
  TakeStatusHistory();
  Pass();
  EXPECT_EQ(dialsTo402(), 1);
  EXPECT_EQ(SpoolNames().size(), 2u);
  EXPECT_NE(StatusText().find("next try for Velloran@402 at "), std::string::npos);
  Pass();  // at once: 402's try is not due
  EXPECT_EQ(dialsTo402(), 0);
  EXPECT_EQ(RetryDue(), 0);

  // Each delay is drawn between base and twice base, the base growing by
  // half from the first delay, never beyond the courier interval (5 minutes).
  const uint32_t cap = 5 * 60000;
  uint32_t base = kRetryFirstMs;
  for (uint32_t i = 0; i < 6; ++i, base += base / 2) {
    const uint32_t least = std::min(base, cap);
    const uint32_t most = std::min(2 * least, cap);
    const uint32_t since = waNow();
    ASSERT_TRUE(RunUntil([] { return RetryDue() == 1; }, 400000)) << i;
    EXPECT_GE(waNow() - since, least - 1000) << i;  // less the rest of the pass
    EXPECT_LE(waNow() - since, most + 100) << i;
    Pass();
    EXPECT_EQ(dialsTo402(), 1) << i;
    EXPECT_EQ(SpoolNames().size(), 2u) << i;
  }
}

// Redial: a number with no carrier is dialled again at once as many times as
// the setting says, within the same pass.
TEST_F(PostingPass, RedialDialsANumberWithoutCarrierAgainAtOnce) {
  for (const int redial : {0, 1, 3}) {
    SCOPED_TRACE(redial);
    TearDown();
    SetUp();
    Config().unit.SetNumber(UnitField::Redial, redial);
    BringLinkUp();
    MailShape mail;
    mail.destination = "bob@402";
    PutRemote(mail);
    TakeStatusHistory();
    Pass();
    const std::vector<std::string> history = TakeStatusHistory();
    EXPECT_EQ(std::count(history.begin(), history.end(), "Connecting to Velloran@402..."), 1 + redial);
  }
}

TEST_F(PostingPass, MachinePartOf23CharactersIsDialled) {
  Peer& a = AddPeer("12345678901234567890123");
  BringLinkUp();
  PutRemote(WithDestination("bob@12345678901234567890123"));
  Pass();
  EXPECT_EQ(a.log.carrierOn, 1);
  ASSERT_EQ(a.log.announces.size(), 1u);
  EXPECT_EQ(TextAt(a.log.announces[0], 137, 24), "12345678901234567890123");
  EXPECT_TRUE(SpoolNames().empty());
}

// The port does not open again after a hang-up inside a pass (its device
// went away): the status line says so, and no box holds the pass.
fs::path settingsToBreak;
void BreakPortSettings(void*) {
  std::ofstream(settingsToBreak, std::ios::trunc) << "[port1]\nbackend = serial\ndevice = /dev/vl-no-such-device\n";
}

TEST_F(PostingPass, APortThatDoesNotOpenAgainAfterAHangUpIsToldWithoutABox) {
  Peer& a = AddPeer("401");
  a.script.answerAnnounce = false;
  BringLinkUp();
  const fs::path file = PutRemote(MailShape{});
  settingsToBreak = Root() / "ruk_comm.ini";
  waAddDeadline(5000, BreakPortSettings, nullptr);  // while the announce waits
  Pass();
  EXPECT_TRUE(headless::boxes().empty());
  EXPECT_TRUE(StatusShowed("DCE not found on this com port 1"));
  EXPECT_EQ(Link().online, 0);
  EXPECT_TRUE(Exists(file));
}

TEST_F(PostingPass, OfflineOrUnreadyModemDialsNothing) {
  Peer& a = AddPeer("401");
  const fs::path file = PutRemote(MailShape{});
  // The link is down: the modem is not ready, so no dial is made.
  Pass();
  EXPECT_EQ(a.log.carrierOn, 0);
  EXPECT_TRUE(Exists(file));
}

}  // namespace
}  // namespace linktest
