// The extended protocol between two machines that both run the program (one
// process, one virtual clock): mails arrive byte for byte whatever each side
// speaks, a plain side sees only plain bytes, damaged frames come again,
// broken calls go on from the blocks held, and a mail already held is not
// sent again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/temp_folder.h"
#include "console/console.h"
#include "link_fixture.h"
#include "platform/unit.h"
#include "store/delivery.h"
#include "tests/common/store_bytes.h"
#include "tests/common/two_machines.h"
#include "toolkit/files.h"
#include "winapi/headless/driver.h"

namespace {

namespace fs = std::filesystem;
using linktest::Bytes;
using twomachines::Machine;

// Twelve blocks; block 7's header differs from the others by more than its
// number (a writer elsewhere), so it must travel whole.
Bytes TestMail() {
  linktest::MailShape shape;
  shape.blocks = 12;
  Bytes mail = linktest::MakeMail(shape);
  MailHeader header;
  std::memcpy(&header, mail.data() + 6 * kBlockSize + kPayloadSize, kHeaderSize);
  vlData(-1, &header, kHeaderSize);
  SetSlot(header.subject, "another subject");
  vlData(1, &header, kHeaderSize);
  std::memcpy(mail.data() + 6 * kBlockSize + kPayloadSize, &header, kHeaderSize);
  return mail;
}

std::string AsText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A mail of b's (401) for a (400), or for another machine: spooled in b's POST.
Bytes MailOfB(const std::string& destination) {
  linktest::MailShape shape;
  shape.sender = "bob@401";
  shape.destination = destination;
  shape.postedAt = "7/12/2026 9:30";
  shape.blocks = 12;
  return linktest::MakeMail(shape);
}

class ExtendedLink : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = twomachines::BeginTest("vlext");
    ASSERT_FALSE(root_.empty());
  }
  void TearDown() override { twomachines::EndTest(root_); }

  // Machines 401 (b, receiving) and 400 (a, sending), with modem lines each.
  // a dials 401 at b, or at aDialsPort when one is given (a man in the middle).
  void StartBoth(bool extendedA, bool extendedB, const std::string& linesA = "", const std::string& linesB = "",
                 int aDialsPort = 0) {
    Machine& b = twomachines::Start<1>(root_ / "b", "401", extendedB, linesB);
    const int port = aDialsPort != 0 ? aDialsPort : twomachines::ListenPort(b);
    a_ = &twomachines::Start<0>(root_ / "a", "400", extendedA, linesA, "401 = 127.0.0.1:" + std::to_string(port) + "\n");
    b_ = &b;
  }
  fs::path Spool() const { return root_ / "a" / "POST" / "mail[@]"; }
  // One mail of a for each machine, in the order a's pass meets the spool
  // files (the folder's scan order decides which file carries which mail);
  // their spool names in that order.
  std::vector<std::string> PutInScanOrder(const std::vector<const char*>& machines) {
    std::vector<std::string> scan;
    twomachines::As(*a_, [&] {
      for (size_t i = 0; i < machines.size(); ++i)
        linktest::WriteAll(root_ / "a" / "POST" / (std::string(1, char('a' + i)) + "[@]"), {});
      char found[260] = {};
      const std::string pattern = std::string(Config().spoolPath) + "\\*[@]";
      for (int32_t first = 1; pFileFind(pattern.c_str(), found, first) == 1; first = 0) scan.push_back(found);
    });
    EXPECT_EQ(scan.size(), machines.size());
    for (size_t i = 0; i < machines.size() && i < scan.size(); ++i) {
      linktest::MailShape shape;
      shape.sender = "s" + std::to_string(i) + "@400";
      shape.destination = std::string("bob@") + machines[i];
      linktest::WriteAll(root_ / "a" / "POST" / scan[i], linktest::MakeMail(shape));
    }
    return scan;
  }
  void Post(const Bytes& mail) const { linktest::WriteAll(Spool(), mail); }
  // Posting passes until the spool file is gone; returns how many ran.
  int Deliver(int maxPasses) {
    int passes = 0;
    while (fs::exists(Spool()) && passes < maxPasses) {
      ++passes;
      // Each pass asked for (vlpost --call): it does not wait for the next try.
      twomachines::As(*a_, [] {
        ForgetRetries();
        DeliverRemoteMails();
      });
    }
    return passes;
  }
  // The mails received in machine's POST (b's unless named), as stored.
  std::vector<Bytes> Received(const char* machine = "b") const {
    std::vector<Bytes> mails;
    for (const auto& entry : fs::directory_iterator(root_ / machine / "POST"))
      if (entry.path().filename().string().find("[=]") != std::string::npos)
        mails.push_back(linktest::ReadAll(entry.path()));
    return mails;
  }
  std::vector<std::string> LeftOver(const char* machine = "b") const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_ / machine / "POST")) {
      const std::string name = entry.path().filename().string();
      if (name.find("[~]") != std::string::npos || name.find("[#]") != std::string::npos) names.push_back(name);
    }
    return names;
  }

  fs::path root_;
  Machine* a_ = nullptr;
  Machine* b_ = nullptr;
};

// Whoever is plain, the other side falls back, the mail arrives whole, and
// the plain side hears nothing but the plain protocol: an announce, the
// blocks, "[END]" one way; "[OK]"s the other way.
TEST_F(ExtendedLink, EitherSidePlainGetsExactlyThePlainProtocol) {
  const struct {
    const char* what;
    bool extendedA, extendedB;
  } cases[] = {{"extended sender, plain receiver", true, false}, {"plain sender, extended receiver", false, true}};
  const Bytes mail = TestMail();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StartBoth(c.extendedA, c.extendedB);
    Post(mail);
    linktest::WriteAll(root_ / "b" / "POST" / "back[@]", MailOfB("ann@400"));  // never goes back to a plain side
    EXPECT_EQ(Deliver(1), 1);
    EXPECT_TRUE(fs::exists(root_ / "b" / "POST" / "back[@]"));
    ASSERT_EQ(Received().size(), 1u);
    EXPECT_TRUE(Received()[0] == mail);
    const std::string& b = b_->received;
    ASSERT_EQ(b.size(), size_t(kAnnounceSize) + mail.size() + 5);
    EXPECT_EQ(b.substr(kAnnounceSize, mail.size()), AsText(mail));
    EXPECT_EQ(b.substr(b.size() - 5), "[END]");
    std::string oks;
    for (size_t i = 0; i <= mail.size() / kBlockSize; ++i) oks += "[OK]";
    EXPECT_EQ(a_->received, oks);
    if (!c.extendedA) {
      // A plain sender's announce keeps its spare bytes zero.
      Bytes announce(b.begin(), b.begin() + kAnnounceSize);
      vlData(-1, announce.data(), kAnnounceSize);
      EXPECT_EQ(std::count(announce.begin() + 229, announce.end(), 0), 283);
    }
    twomachines::Stop<0>();
    twomachines::Stop<1>();
    fs::remove_all(root_ / "a");
    fs::remove_all(root_ / "b");
  }
}

TEST_F(ExtendedLink, ExtendedMachinesCarryTheMailWithTheHeaderOnceAndEndAtOnce) {
  StartBoth(true, true);
  const Bytes mail = TestMail();
  Post(mail);
  const uint32_t start = waNow();
  EXPECT_EQ(Deliver(1), 1);
  const uint32_t took = waNow() - start;
  ASSERT_EQ(Received().size(), 1u);
  EXPECT_TRUE(Received()[0] == mail);
  EXPECT_TRUE(LeftOver().empty());
  // Eleven headers stay at home, less the one sent whole.
  EXPECT_LT(b_->bytesIn, kAnnounceSize + mail.size() - 9 * kHeaderSize);
  EXPECT_LT(took, uint32_t(kEndPauseMs)) << "the extended end spares the 7 s after [END]";
}

// A call with frames ends as soon as its machine has no further mail in the
// pass, and the next mail dials its own machine in the same pass. A plain
// call keeps the pass as it was: the other machine's mail waits for the next.
TEST_F(ExtendedLink, AFramedCallEndsWhenItsMachineHasNoMoreMailAndThePassGoesOn) {
  for (const bool extendedB : {true, false}) {
    SCOPED_TRACE(extendedB);
    StartBoth(true, extendedB);
    // The file the pass meets first is for 401; the other for 402, a number
    // nobody answers.
    const std::vector<std::string> scan = PutInScanOrder({"401", "402"});
    ASSERT_EQ(scan.size(), 2u);
    bool dialled402 = false;
    twomachines::As(*a_, [&] {
      DeliverRemoteMails();
      EXPECT_EQ(Console().repeatRequest, extendedB ? 0 : 1);
      for (const RetryEntry& e : Link().retries.entries) dialled402 = dialled402 || pCmp(e.machine, "402") == 1;
    });
    EXPECT_EQ(dialled402, extendedB);
    EXPECT_EQ(Received().size(), 1u);
    EXPECT_TRUE(fs::exists(root_ / "a" / "POST" / scan[1]));
    twomachines::Stop<0>();
    twomachines::Stop<1>();
    fs::remove_all(root_ / "a");
    fs::remove_all(root_ / "b");
  }
}

// A mail kept while its machine waited for a try that fell due later in the
// pass goes in the framed call that a later mail makes to that machine; a
// plain call leaves it to the next pass, asked for at once.
TEST_F(ExtendedLink, AMailKeptBeforeItsMachineWasCalledGoesInThatFramedCall) {
  for (const bool extendedB : {true, false}) {
    SCOPED_TRACE(extendedB);
    StartBoth(true, extendedB);
    // 401 (its try due in a moment), 402 (nobody answers: its dial takes a
    // moment), 401.
    const std::vector<std::string> scan = PutInScanOrder({"401", "402", "401"});
    ASSERT_EQ(scan.size(), 3u);
    twomachines::As(*a_, [&] {
      RetryEntry& waits = Link().retries.entries[0];
      std::snprintf(waits.machine, sizeof waits.machine, "401");
      waits.failures = waits.waiting = 1;
      waits.dueAt = uint32_t(pTiming()) + 1000;
      DeliverRemoteMails();
      EXPECT_EQ(Console().repeatRequest, extendedB ? 0 : 1);
    });
    EXPECT_EQ(Received().size(), extendedB ? 2u : 1u);
    EXPECT_EQ(fs::exists(root_ / "a" / "POST" / scan[0]), !extendedB);
    twomachines::Stop<0>();
    twomachines::Stop<1>();
    fs::remove_all(root_ / "a");
    fs::remove_all(root_ / "b");
  }
}

TEST_F(ExtendedLink, DamagedFramesAreSentAgainAndTheMailArrivesWhole) {
  // About one frame in three damaged, both ways.
  StartBoth(true, true, "corrupt_one_in = 10000\nseed = 5\n", "corrupt_one_in = 10000\nseed = 6\n");
  const Bytes mail = TestMail();
  Post(mail);
  Deliver(3);
  EXPECT_FALSE(fs::exists(Spool()));
  ASSERT_EQ(Received().size(), 1u);
  EXPECT_TRUE(Received()[0] == mail);
  EXPECT_TRUE(LeftOver().empty());
}

TEST_F(ExtendedLink, ABrokenCallGoesOnFromTheBlocksHeld) {
  // Every call of the sender breaks after five blocks' worth of bytes.
  StartBoth(true, true, "drop_after = 20480\n");
  const Bytes mail = TestMail();
  Post(mail);
  EXPECT_GE(Deliver(6), 3);
  EXPECT_FALSE(fs::exists(Spool()));
  ASSERT_EQ(Received().size(), 1u);
  EXPECT_TRUE(Received()[0] == mail);
  EXPECT_TRUE(LeftOver().empty());
  // Starting again from block 1 at every call would never get through; going
  // on costs little more than the mail.
  EXPECT_LT(b_->bytesIn, mail.size() + 4 * kAnnounceSize + 3 * kBlockSize);
}

TEST_F(ExtendedLink, AMailTheReceiverHoldsIsNotSentAgain) {
  StartBoth(true, true);
  const Bytes mail = TestMail();
  Post(mail);
  EXPECT_EQ(Deliver(1), 1);
  const uint64_t first = b_->bytesIn;
  Post(mail);  // its last ack was lost, say: the sender still has it
  EXPECT_EQ(Deliver(1), 1);
  EXPECT_FALSE(fs::exists(Spool())) << "the sender lets it go";
  EXPECT_EQ(Received().size(), 1u) << "filed once";
  EXPECT_LT(b_->bytesIn - first, uint64_t(kAnnounceSize + 64)) << "no block went again";
}

}  // namespace

// A mail for an account its destination does not have comes back: the
// report goes over the line with the destination's courier, as any mail, and
// reaches the sender's mailbox.
TEST_F(ExtendedLink, AMailForNoSuchAccountComesBackToItsSendersMailbox) {
  StartBoth(true, true);
  const fs::path annFolder = root_ / "a" / (linktest::Encoded("ann") + "[@]");
  fs::create_directory(annFolder);
  linktest::WriteAll(annFolder / (linktest::Encoded("ann") + "[@]"), storebytes::AccountFileBytes("ann", "key"));
  linktest::MailShape mail;  // from ann@400
  mail.destination = "nobody@401";
  mail.blocks = 2;
  Post(linktest::MakeMail(mail));
  Deliver(1);
  twomachines::As(*b_, [] { DeliverLocalMails(); });
  EXPECT_EQ(Delivery().returned, 1);
  // 401 calls 400 back with its report.
  twomachines::Stop<1>();
  b_ = &twomachines::Start<1>(root_ / "b", "401", true, "",
                              "400 = 127.0.0.1:" + std::to_string(twomachines::ListenPort(*a_)) + "\n");
  twomachines::As(*b_, [] { DeliverRemoteMails(); });
  EXPECT_TRUE(fs::is_empty(root_ / "b" / "POST"));
  twomachines::As(*a_, [] { DeliverLocalMails(); });
  const Bytes index = linktest::ReadAll(annFolder / (linktest::Encoded("ann") + "[=]"));
  ASSERT_EQ(index.size(), size_t(kHeaderSize));
  const Bytes entry = storebytes::IndexEntry(index, 1);
  EXPECT_EQ(linktest::TextAt(entry, 26, 48), "velloran-report@401");
  EXPECT_EQ(linktest::TextAt(entry, 98, 48), "Undelivered: subject");
  EXPECT_EQ(linktest::TextAt(entry, 146, 48), "ann@400");
}

// --- calls between machines with keys ----------------------------------------------

namespace {

struct Keys {
  MachineKey a, b, other;
};

using twomachines::Hex;
using twomachines::WriteKey;
using twomachines::WriteKnown;

class SecuredLink : public ExtendedLink {
 protected:
  void SetUp() override {
    ExtendedLink::SetUp();
    for (MachineKey* k : {&keys_.a, &keys_.b, &keys_.other}) ASSERT_EQ(MakeMachineKey(*k), 1);
  }
  // Both machines with their keys; a knows b; b knows 400 by the key given.
  void StartKeyed(const MachineKey& bKnowsAs, const std::string& linesA = "", int aDialsPort = 0,
                  const std::string& linesB = "") {
    fs::create_directories(root_ / "a");
    fs::create_directories(root_ / "b");
    WriteKey(root_ / "a", keys_.a);
    WriteKey(root_ / "b", keys_.b);
    WriteKnown(root_ / "a", "401", keys_.b);
    WriteKnown(root_ / "b", "400", bKnowsAs);
    StartBoth(true, true, linesA, linesB, aDialsPort);
  }
  Keys keys_;
};

bool Contains(const std::string& haystack, const Bytes& needle) {
  return haystack.find(AsText(needle)) != std::string::npos;
}

}  // namespace

TEST_F(SecuredLink, KnownMachinesCarryTheMailEncrypted) {
  StartKeyed(keys_.a);
  const Bytes mail = TestMail();
  Post(mail);
  EXPECT_EQ(Deliver(1), 1);
  ASSERT_EQ(Received().size(), 1u);
  EXPECT_TRUE(Received()[0] == mail);
  // Nothing of the mail can be read on the line: not the attachment's name,
  // not a run of its bytes.
  const Bytes run(mail.begin() + 3 * kBlockSize + 100, mail.begin() + 3 * kBlockSize + 164);
  EXPECT_FALSE(Contains(b_->received, run));
  EXPECT_EQ(b_->received.find("file.bin"), std::string::npos);
  EXPECT_TRUE(fs::exists(root_ / "b" / "PINNED.TXT")) << "400 proved its key";
}

TEST_F(SecuredLink, KeysThatDoNotProveThemselvesEndTheCallWithNothingStored) {
  const struct {
    const char* what;
    bool bKnowsA;
    bool wrongKey;
  } cases[] = {{"unknown machine", false, false}, {"wrong key", true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root_ / "a");
    fs::remove_all(root_ / "b");
    StartKeyed(c.wrongKey ? keys_.other : keys_.a);
    if (!c.bKnowsA) fs::remove(root_ / "b" / kKnownMachinesName);
    Post(TestMail());
    Deliver(1);
    EXPECT_TRUE(fs::exists(Spool())) << "the sender keeps its mail";
    EXPECT_TRUE(Received().empty());
    EXPECT_TRUE(LeftOver().empty());
    EXPECT_FALSE(fs::exists(root_ / "b" / "PINNED.TXT"));
    twomachines::Stop<0>();
    twomachines::Stop<1>();
  }
}

TEST_F(SecuredLink, APlainCallInTheNameOfAMachineThatProvedItsKeyIsRefused) {
  StartKeyed(keys_.a);
  const Bytes mail = TestMail();
  Post(mail);
  ASSERT_EQ(Deliver(1), 1);
  twomachines::Stop<0>();
  // The same machine id, now without its key and plain.
  fs::remove(root_ / "a" / kMachineKeyName);
  a_ = &twomachines::Start<0>(root_ / "a", "400", false, "",
                              "401 = 127.0.0.1:" + std::to_string(twomachines::ListenPort(*b_)) + "\n");
  linktest::MailShape other;
  other.postedAt = "7/12/2026 9:07";
  Post(linktest::MakeMail(other));
  Deliver(1);
  EXPECT_TRUE(fs::exists(Spool()));
  EXPECT_EQ(Received().size(), 1u) << "only the mail of the authenticated call";
}

// A sealed frame's head is bound to its payload: the same sealed bytes under
// another block number (its checks made good) do not open.
TEST_F(SecuredLink, SealedFramesRefuseAChangedHead) {
  KnownMachines knowsB{}, knowsA{};
  KnownProblem problem{};
  const std::string b = "401 " + Hex(keys_.b) + "\n", a = "400 " + Hex(keys_.a) + "\n";
  ASSERT_EQ(ParseKnownMachines(b.c_str(), int32_t(b.size()), knowsB, problem), 1);
  ASSERT_EQ(ParseKnownMachines(a.c_str(), int32_t(a.size()), knowsA, problem), 1);
  SecureHandshake caller{}, callee{};
  SecureChannel sending{}, receiving{};
  unsigned char hello[kHelloSize], reply[kReplySize], confirm[kConfirmSize];
  ASSERT_EQ(SecureHello(caller, "400", knowsB, "401", hello), kHelloSize);
  ASSERT_EQ(SecureReply(callee, keys_.b, knowsA, hello, kHelloSize, reply), kReplySize);
  ASSERT_EQ(SecureConfirm(caller, keys_.a, reply, kReplySize, confirm, sending), kConfirmSize);
  ASSERT_EQ(SecureAccept(callee, confirm, kConfirmSize, receiving), 0);

  const std::string text = "block seven";
  auto sealed = [&](uint32_t number) {
    std::vector<char> out(kFrameMaxBytes);
    out.resize(size_t(SealFrame(sending, kFrameData, 0, number, text.data(), int32_t(text.size()), out.data())));
    return out;
  };
  auto opens = [&](const std::vector<char>& bytes) {
    FrameReader reader{};
    Frame frame{};
    char plain[kFrameMaxPayload];
    FrameReaderAdd(reader, bytes.data(), int32_t(bytes.size()));
    return FrameReaderTake(reader, frame) == FrameRead::Frame && OpenFrameOn(receiving, frame, plain) &&
           std::string(frame.payload, size_t(frame.length)) == text;
  };
  const std::vector<char> seven = sealed(7);
  EXPECT_TRUE(opens(seven));
  // The same sealed bytes under block number 8, head and checks rebuilt.
  std::vector<char> moved(kFrameMaxBytes);
  moved.resize(size_t(BuildFrame(kFrameData, 0, 8, seven.data() + kFrameHeadBytes,
                                 int32_t(seven.size()) - kFrameOverhead, moved.data())));
  EXPECT_FALSE(opens(moved));
  EXPECT_EQ(receiving.open, 0) << "the first failure closes the channel";
}

// A recording of an authenticated call, played to the callee again from
// another line: the callee's fresh call key makes the recorded confirm fail,
// and nothing of it is stored.
TEST_F(SecuredLink, ARecordingOfAnEarlierCallPlayedAgainStoresNothing) {
  StartKeyed(keys_.a);
  Post(TestMail());
  ASSERT_EQ(Deliver(1), 1);
  const std::string recording = b_->received;
  for (const auto& entry : fs::directory_iterator(root_ / "b" / "POST")) fs::remove(entry.path());
  fs::remove_all(root_ / "b" / "PINNED.TXT");

  linktest::Peer intruder(root_, "intruder");
  intruder.Open({{"401", twomachines::ListenPort(*b_)}});
  ASSERT_EQ(intruder.Dial("401"), 1);
  pDoEvent(3000);
  ASSERT_TRUE(intruder.carrier);
  intruder.Send(recording.substr(0, kAnnounceSize));
  pDoEvent(1000);
  for (size_t at = kAnnounceSize; at < recording.size() && at < 5 * kBlockSize; at += 2048) {
    intruder.Send(recording.substr(at, 2048));
    pDoEvent(1000);
  }
  EXPECT_TRUE(Received().empty());
  EXPECT_TRUE(LeftOver().empty());
  EXPECT_FALSE(fs::exists(root_ / "b" / "PINNED.TXT"));
}

// --- a man in the middle ------------------------------------------------------------

namespace {

// Answers a's call as 401 and calls b itself: everything a says reaches the
// man, who passes it on to b as the case says (or answers a himself), and b's
// answers go back to a unchanged.
class ManInTheMiddle : public SecuredLink {
 protected:
  using Edit = std::function<void(ManInTheMiddle&, const Bytes&)>;
  void StartMan(const Edit& fromA) {
    front_ = std::make_unique<linktest::Peer>(root_, "front");
    back_ = std::make_unique<linktest::Peer>(root_, "back");
    front_->Open();
    StartKeyed(keys_.a, "", front_->ListenPort());
    back_->Open({{"401", twomachines::ListenPort(*b_)}});
    front_->tap = [this, fromA](const Bytes& bytes) {
      heard_.insert(heard_.end(), bytes.begin(), bytes.end());
      fromA(*this, bytes);
    };
    back_->tap = [this](const Bytes& bytes) { front_->Send(bytes); };
    ASSERT_EQ(back_->Dial("401"), 1);
    pDoEvent(3000);
    ASSERT_TRUE(back_->carrier);
  }
  void TearDown() override {
    front_.reset();
    back_.reset();
    SecuredLink::TearDown();
  }
  // The clear announce that opens the call, changed by edit and passed on.
  static Edit EditAnnounce(std::function<void(Bytes&)> edit) {
    return [edit](ManInTheMiddle& man, const Bytes& bytes) {
      Bytes out = bytes;
      const size_t before = man.heard_.size() - bytes.size();
      if (before == 0 && out.size() >= size_t(kAnnounceSize)) {
        vlData(-1, out.data(), kAnnounceSize);
        edit(out);
        vlData(1, out.data(), kAnnounceSize);
      }
      man.back_->Send(out);
    };
  }
  static Edit Answer(const Bytes& answer) {
    return [answer](ManInTheMiddle& man, const Bytes&) { man.front_->Send(answer); };
  }

 public:
  std::unique_ptr<linktest::Peer> front_, back_;
  Bytes heard_;  // every byte a sent
};

Bytes ReplyFrame(char status) {
  Bytes frame(kFrameMaxBytes);
  frame.resize(size_t(BuildFrame(kFrameReply, 0, 0, &status, 1, reinterpret_cast<char*>(frame.data()))));
  return frame;
}

}  // namespace

// b's own tick work (a posting pass waiting between its calls, local
// delivery) paused when the call comes in.
void TickWorkWaits(void*) { pDoEvent(10 * 60 * 1000); }

// Two machines with mail for each other need one call: the callee's mail
// for the caller comes back in it (sealed when they have keys), also while
// the callee's own tick work waits; its mail for another machine stays, and
// a mail it holds in another machine's name is refused by the caller as a
// callee refuses one.
TEST_F(SecuredLink, MailGoesBothWaysInOneCall) {
  // Without keys nothing proves who called: nothing goes back.
  const struct {
    const char* what;
    bool keys;
    bool tickWorkWaits;
  } cases[] = {{"without keys", false, false}, {"with keys", true, false}, {"with keys, b's work waiting", true, true}};
  const Bytes mail = TestMail(), back = MailOfB("ann@400"), elsewhere = MailOfB("carl@402");
  linktest::MailShape forged;
  forged.sender = "carl@402";
  forged.destination = "ann@400";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root_ / "a");
    fs::remove_all(root_ / "b");
    if (c.keys)
      StartKeyed(keys_.a);
    else
      StartBoth(true, true);
    Post(mail);
    linktest::WriteAll(root_ / "b" / "POST" / "back[@]", back);
    linktest::WriteAll(root_ / "b" / "POST" / "else[@]", elsewhere);
    linktest::WriteAll(root_ / "b" / "POST" / "forged[@]", linktest::MakeMail(forged));
    if (c.tickWorkWaits) {
      ASSERT_EQ(tkStartWork(TickWorkWaits, nullptr), 1);
    }
    EXPECT_EQ(Deliver(1), 1);
    tkCancelWork();
    ASSERT_EQ(Received("b").size(), 1u);
    EXPECT_TRUE(Received("b")[0] == mail);
    EXPECT_EQ(fs::exists(root_ / "b" / "POST" / "back[@]"), !c.keys) << "b's mail for a goes back with keys only";
    ASSERT_EQ(Received("a").size(), c.keys ? 1u : 0u);
    if (c.keys) {
      EXPECT_TRUE(Received("a")[0] == back);
    }
    EXPECT_TRUE(fs::exists(root_ / "b" / "POST" / "else[@]")) << "only mail for the caller goes back";
    EXPECT_TRUE(fs::exists(root_ / "b" / "POST" / "forged[@]")) << "refused, and kept";
    EXPECT_TRUE(LeftOver("a").empty());
    EXPECT_EQ(a_->received.find(AsText(Bytes(back.begin() + 3 * kBlockSize + 100, back.begin() + 3 * kBlockSize + 164))),
              std::string::npos)
        << "nothing of b's mail in the clear";
    twomachines::Stop<0>();
    twomachines::Stop<1>();
  }
}

// A call broken while b sends back leaves b's mail in its POST and a's part
// to go on from; the next calls carry the rest, and it is filed once.
TEST_F(SecuredLink, ACallBrokenInTheTurnLeavesTheMailToGoOnFrom) {
  // Every call breaks once b has sent five blocks' worth of bytes.
  StartKeyed(keys_.a, "", 0, "drop_after = 20480\n");
  const Bytes back = MailOfB("ann@400");
  linktest::WriteAll(root_ / "b" / "POST" / "back[@]", back);
  linktest::MailShape shape;
  Post(linktest::MakeMail(shape));
  Deliver(1);
  EXPECT_TRUE(fs::exists(root_ / "b" / "POST" / "back[@]")) << "no Ack, no delete";
  EXPECT_TRUE(Received("a").empty());
  EXPECT_FALSE(LeftOver("a").empty()) << "a part file to go on from";
  int calls = 1;
  for (int minute = 31; fs::exists(root_ / "b" / "POST" / "back[@]") && calls < 8; ++minute, ++calls) {
    shape.postedAt = "7/12/2026 9:" + std::to_string(minute);  // a's next call needs mail of its own
    Post(linktest::MakeMail(shape));
    Deliver(1);
  }
  // No call carries the whole mail: it arrives only because each goes on
  // from the blocks held.
  EXPECT_FALSE(fs::exists(root_ / "b" / "POST" / "back[@]"));
  ASSERT_EQ(Received("a").size(), 1u);
  EXPECT_TRUE(Received("a")[0] == back);
  EXPECT_TRUE(LeftOver("a").empty());
  EXPECT_EQ(Received("b").size(), size_t(calls)) << "a's own mails, each once";
}

// A caller that knows b's key takes b's answer only sealed: whoever answers
// in the clear, or makes b answer so by stripping the keys on the way, ends
// the call. The mail stays with a, b stores nothing, and nothing of the mail
// was on the line: the clear part of a call with keys names no mail.
TEST_F(ManInTheMiddle, NoDowngradeAndNothingOfTheMailInTheClear) {
  const struct {
    const char* what;
    Edit edit;
  } cases[] = {
      {"the man answers [OK]", Answer(Bytes{'[', 'O', 'K', ']'})},
      {"the man answers with an unsealed Reply", Answer(ReplyFrame(kReplySend))},
      {"the hello stripped", EditAnnounce([](Bytes& a) {
         a[kOfferOffset + 5] &= uint8_t(~kCapKeys);
         std::fill(a.begin() + kOfferOffset + kOfferHelloAt, a.begin() + kOfferOffset + kOfferHelloAt + kHelloSize, 0);
       })},
      {"the offer stripped", EditAnnounce([](Bytes& a) { std::fill(a.begin() + kOfferOffset, a.end(), 0); })},
      {"a byte of the sealed announce changed", [](ManInTheMiddle& man, const Bytes& bytes) {
         Bytes out = bytes;
         const size_t at = kAnnounceSize + kFrameOverhead + kConfirmSize + kFrameHeadBytes + 40;
         const size_t before = man.heard_.size() - bytes.size();
         if (before <= at && at < man.heard_.size()) out[at - before] ^= 0x20;
         man.back_->Send(out);
       }},
  };
  const Bytes mail = TestMail();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root_ / "a");
    fs::remove_all(root_ / "b");
    heard_.clear();
    StartMan(c.edit);
    Post(mail);
    Deliver(1);
    EXPECT_TRUE(fs::exists(Spool())) << "a keeps its mail";
    EXPECT_TRUE(Received().empty());
    const std::string line = AsText(heard_);
    EXPECT_EQ(line.find("file.bin"), std::string::npos);
    EXPECT_FALSE(Contains(line, Bytes(mail.begin() + kBlockSize, mail.begin() + kBlockSize + 64)));
    Bytes announce(heard_.begin(), heard_.begin() + std::min<size_t>(heard_.size(), kAnnounceSize));
    announce.resize(kAnnounceSize);
    vlData(-1, announce.data(), kAnnounceSize);
    EXPECT_EQ(announce[0], 0) << "no mail name in the clear";
    EXPECT_EQ(std::count(announce.begin() + 197, announce.begin() + 229, 0), 32) << "no Owner in the clear";
    twomachines::Stop<0>();
    twomachines::Stop<1>();
  }
}

// Key files that others could read or change are refused, and a machine whose
// key is refused does not call a machine it knows without it.
TEST_F(SecuredLink, KeyFilesOthersCouldUseAreRefusedAndNoCallGoesWithoutKeys) {
  const struct {
    const char* what;
    fs::path file;
    fs::perms perms;
    bool damage;
    bool aDials;
  } cases[] = {
      {"a's key readable by others", "a/MACHINE.KEY", fs::perms::owner_read | fs::perms::others_read, false, false},
      {"a's key damaged", "a/MACHINE.KEY", fs::perms::owner_read | fs::perms::owner_write, true, false},
      {"b's list writable by others", "b/KNOWN.TXT", fs::perms::owner_all | fs::perms::others_write, false, true},
  };
  // Windows keeps who may read a file in the folder's access list, not in
  // permission bits: there a key file cannot be made readable by others this
  // way, and those cases cannot be played.
  const fs::path probe = root_ / "probe";
  std::ofstream(probe) << "probe";
  fs::permissions(probe, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  const bool hostHasBits = tkFileSharing(storebytes::Classic(probe).c_str()) == kSharedRead;
  fs::remove(probe);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.damage && !hostHasBits) {
      std::printf("not played on this host (no permission bits): %s\n", c.what);
      continue;
    }
    fs::remove_all(root_ / "a");
    fs::remove_all(root_ / "b");
    StartKeyed(keys_.a);
    if (c.damage) std::ofstream(root_ / c.file, std::ios::binary | std::ios::app) << "x";
    fs::permissions(root_ / c.file, c.perms);
    Post(TestMail());
    Deliver(1);
    EXPECT_TRUE(fs::exists(Spool()));
    EXPECT_TRUE(Received().empty());
    EXPECT_EQ(b_->bytesIn > 0, c.aDials) << "a machine that cannot prove its key does not call";
    twomachines::Stop<0>();
    twomachines::Stop<1>();
  }
}

// A machine that proved its key still files mail only in its own name.
TEST_F(SecuredLink, AProvenMachineCannotFileMailOfAnother) {
  StartKeyed(keys_.a);
  linktest::MailShape forged;
  forged.sender = "anna@401";
  forged.blocks = 3;
  Post(linktest::MakeMail(forged));
  Deliver(1);
  EXPECT_TRUE(fs::exists(Spool()));
  EXPECT_TRUE(Received().empty());
  EXPECT_TRUE(LeftOver().empty());
}

// A caller without keys that speaks frames, scripted: what b answers is
// gathered in answers.
class FramedCaller : public ExtendedLink {
 protected:
  void Call() {
    StartBoth(true, true);
    caller_ = std::make_unique<linktest::Peer>(root_, "caller");
    caller_->tap = [this](const Bytes& bytes) { answers_.insert(answers_.end(), bytes.begin(), bytes.end()); };
    caller_->Open({{"401", twomachines::ListenPort(*b_)}});
    ASSERT_EQ(caller_->Dial("401"), 1);
    pDoEvent(3000);
  }
  void TearDown() override {
    caller_.reset();
    ExtendedLink::TearDown();
  }
  // The announce of shape's mail, with an offer when withOffer.
  static Bytes Announce(const linktest::MailShape& shape, bool withOffer) {
    Bytes announce = linktest::MakeAnnounce(linktest::Encoded(shape.sender + shape.postedAt) + "[=]", "401");
    if (withOffer) linktest::AddOffer(announce, linktest::MakeMail(shape));
    return announce;
  }
  void SendFrame(uint8_t type, uint8_t mail, uint32_t number, const Bytes& payload) {
    Bytes frame(kFrameMaxBytes);
    frame.resize(size_t(BuildFrame(type, mail, number, payload.data(), int32_t(payload.size()),
                                   reinterpret_cast<char*>(frame.data()))));
    caller_->Send(frame);
    pDoEvent(1000);
  }
  // The statuses of b's Reply frames, in order.
  std::string Replies() const {
    FrameReader reader{};
    FrameReaderAdd(reader, reinterpret_cast<const char*>(answers_.data()), int32_t(answers_.size()));
    Frame f{};
    std::string replies;
    while (FrameReaderTake(reader, f) == FrameRead::Frame)
      if (f.type == kFrameReply && f.length == 1) replies += f.payload[0];
    return replies;
  }
  std::unique_ptr<linktest::Peer> caller_;
  Bytes answers_;
};

// A block frame longer than a block is refused before anything is copied,
// ahead of the window as well as in order.
TEST_F(FramedCaller, ABlockFrameLongerThanABlockIsRefused) {
  Call();
  linktest::MailShape shape;
  shape.blocks = 3;
  caller_->Send(Announce(shape, true));
  pDoEvent(1000);
  SendFrame(kFrameData, 0, 2, Bytes(kBlockSize + kSealOverhead, 'x'));
  EXPECT_EQ(Replies(), "SN") << "sent for, then refused";
  EXPECT_TRUE(LeftOver().empty());
}

// A framed call stays framed: an announce frame without its offer ends it,
// and is never answered with a plain "[OK]".
TEST_F(FramedCaller, AnAnnounceWithoutItsOfferEndsAFramedCall) {
  Call();
  linktest::MailShape first, second;
  second.postedAt = "7/12/2026 9:06";
  caller_->Send(Announce(first, true));
  pDoEvent(1000);
  SendFrame(kFrameBlock, 0, 1, linktest::MakeMail(first));
  ASSERT_EQ(Received().size(), 1u);
  const size_t before = answers_.size();
  SendFrame(kFrameAnnounce, 1, 0, Announce(second, false));
  SendFrame(kFrameBlock, 1, 1, linktest::MakeMail(second));
  EXPECT_EQ(AsText(Bytes(answers_.begin() + long(before), answers_.end())).find("[OK]"), std::string::npos);
  EXPECT_EQ(Received().size(), 1u);
}
