// The extended protocol between two machines that both run the program (one
// process, one virtual clock): mails arrive byte for byte whatever each side
// speaks, a plain side sees only plain bytes, damaged frames come again,
// broken calls go on from the blocks held, and a mail already held is not
// sent again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/common/temp_folder.h"
#include "link_fixture.h"
#include "platform/unit.h"
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

class ExtendedLink : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempFolder("vlext");
    ASSERT_FALSE(root_.empty());
    commReset(commDefault());
    headless::reset(true, 1000);
  }
  void TearDown() override {
    twomachines::Stop<0>();
    twomachines::Stop<1>();
    commReset(commDefault());
    headless::reset(true, 0);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Machines 401 (b, receiving) and 400 (a, sending), with modem lines each.
  void StartBoth(bool extendedA, bool extendedB, const std::string& linesA = "", const std::string& linesB = "") {
    Machine& b = twomachines::Start<1>(root_ / "b", "401", extendedB, linesB);
    a_ = &twomachines::Start<0>(root_ / "a", "400", extendedA, linesA,
                                "401 = 127.0.0.1:" + std::to_string(twomachines::ListenPort(b)) + "\n");
    b_ = &b;
  }
  fs::path Spool() const { return root_ / "a" / "POST" / "mail[@]"; }
  void Post(const Bytes& mail) const { linktest::WriteAll(Spool(), mail); }
  // Posting passes until the spool file is gone; returns how many ran.
  int Deliver(int maxPasses) {
    int passes = 0;
    while (fs::exists(Spool()) && passes < maxPasses) {
      ++passes;
      twomachines::As(*a_, [] { DeliverRemoteMails(); });
    }
    return passes;
  }
  // The mails in b's POST, as stored.
  std::vector<Bytes> Received() const {
    std::vector<Bytes> mails;
    for (const auto& entry : fs::directory_iterator(root_ / "b" / "POST"))
      if (entry.path().filename().string().find("[=]") != std::string::npos)
        mails.push_back(linktest::ReadAll(entry.path()));
    return mails;
  }
  std::vector<std::string> LeftOver() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_ / "b" / "POST")) {
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
    EXPECT_EQ(Deliver(1), 1);
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

// --- calls between machines with keys ----------------------------------------------

namespace {

struct Keys {
  MachineKey a, b, other;
};

std::string Hex(const MachineKey& key) {
  char hex[kKeyHexSize + 1];
  PublicKeyHex(key.publicKey, hex);
  return hex;
}

void WriteKey(const fs::path& folder, const MachineKey& key) {
  unsigned char record[kMachineKeyFileSize];
  MachineKeyRecord(key, record);
  linktest::WriteAll(folder / kMachineKeyName, Bytes(record, record + kMachineKeyFileSize));
}

void WriteKnown(const fs::path& folder, const std::string& id, const MachineKey& key) {
  std::ofstream(folder / kKnownMachinesName, std::ios::trunc) << id << " " << Hex(key) << "\n";
}

class SecuredLink : public ExtendedLink {
 protected:
  void SetUp() override {
    ExtendedLink::SetUp();
    for (MachineKey* k : {&keys_.a, &keys_.b, &keys_.other}) ASSERT_EQ(MakeMachineKey(*k), 1);
  }
  // Both machines with their keys; a knows b; b knows 400 by the key given.
  void StartKeyed(const MachineKey& bKnowsAs, const std::string& linesA = "") {
    fs::create_directories(root_ / "a");
    fs::create_directories(root_ / "b");
    WriteKey(root_ / "a", keys_.a);
    WriteKey(root_ / "b", keys_.b);
    WriteKnown(root_ / "a", "401", keys_.b);
    WriteKnown(root_ / "b", "400", bKnowsAs);
    StartBoth(true, true, linesA);
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
