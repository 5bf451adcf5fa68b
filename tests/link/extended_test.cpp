// The extended protocol between two machines that both run the program (one
// process, one virtual clock): mails arrive byte for byte whatever each side
// speaks, a plain side sees only plain bytes, damaged frames come again,
// broken calls go on from the blocks held, and a mail already held is not
// sent again.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link_fixture.h"
#include "platform/unit.h"
#include "tests/common/two_machines.h"
#include "winapi/headless/driver.h"

namespace {

namespace fs = std::filesystem;
using linktest::Bytes;
using twomachines::Machine;

// Twelve blocks; block 7's header differs from the others by more than its
// number (a writer elsewhere), so it must travel whole.
Bytes TestMail() {
  linktest::MailSpec spec;
  spec.blocks = 12;
  Bytes mail = linktest::MakeMail(spec);
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
    std::string pattern = (fs::temp_directory_path() / "vlextXXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
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
