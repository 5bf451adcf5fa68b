// Two machines' handshake in memory, the channel it opens, and the files that
// hold machine keys and known machines: what must get through, and every
// alteration, replay and impostor that must not.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/common/temp_folder.h"
#include "link/secure.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

struct Party {
  std::string id;
  MachineKey key;       // the key it signs with
  KnownMachines known;  // the machines it knows
};

void Know(Party& party, const char* id, const PublicKey& key) {
  KnownMachine& m = party.known.machines[party.known.count++];
  std::memset(m.id, 0, sizeof m.id);
  std::strcpy(m.id, id);
  m.key = key;
}

enum Step { kHello, kReply, kConfirm, kAccept, kOpen };

// One handshake; change(message, bytes) may alter a message on its way.
struct Call {
  Bytes hello = Bytes(kHelloSize), reply = Bytes(kReplySize), confirm = Bytes(kConfirmSize);
  SecureHandshake caller{}, callee{};
  SecureChannel callerChannel{}, calleeChannel{};
  int32_t refusedAt = kOpen;  // Step of the first refusal
  int32_t refusal = 0;
};

using Change = void (*)(Step message, Bytes& bytes);

Call Handshake(Party& caller, Party& callee, const char* dialled, Change change = nullptr) {
  Call call;
  auto refused = [&call](Step step, int32_t result) {
    if (result >= 0) return false;
    call.refusedAt = step;
    call.refusal = result;
    return true;
  };
  auto pass = [change](Step message, Bytes& bytes) {
    if (change) change(message, bytes);
  };
  unsigned char hello[kHelloSize], reply[kReplySize], confirm[kConfirmSize];
  if (refused(kHello, SecureHello(call.caller, caller.id.c_str(), caller.known, dialled, hello))) return call;
  call.hello.assign(hello, hello + kHelloSize);
  pass(kHello, call.hello);
  if (refused(kReply, SecureReply(call.callee, callee.key, callee.known, call.hello.data(), int32_t(call.hello.size()), reply)))
    return call;
  call.reply.assign(reply, reply + kReplySize);
  pass(kReply, call.reply);
  if (refused(kConfirm, SecureConfirm(call.caller, caller.key, call.reply.data(), int32_t(call.reply.size()), confirm,
                                      call.callerChannel)))
    return call;
  call.confirm.assign(confirm, confirm + kConfirmSize);
  pass(kConfirm, call.confirm);
  refused(kAccept, SecureAccept(call.callee, call.confirm.data(), int32_t(call.confirm.size()), call.calleeChannel));
  return call;
}

// The callee never opens a channel on a refused handshake; the caller's is
// open only once it has sent its confirm (its frames then meet a callee that
// refused and hung up).
void ExpectNoChannel(const Call& call) {
  EXPECT_EQ(call.calleeChannel.open, 0);
  EXPECT_EQ(call.callerChannel.open, call.refusedAt == kAccept ? 1 : 0);
}

Bytes Seal(SecureChannel& channel, const std::string& text, int32_t last = 0) {
  Bytes cipher(text.size() + kSealOverhead + 8);
  const int32_t n =
      SecureSeal(channel, nullptr, 0, text.data(), int32_t(text.size()), last, cipher.data(), int32_t(cipher.size()));
  EXPECT_EQ(n, int32_t(text.size()) + kSealOverhead);
  cipher.resize(n > 0 ? size_t(n) : 0);
  return cipher;
}

// The frame's text, or "refused: <reason>".
std::string Open(SecureChannel& channel, const Bytes& cipher) {
  std::vector<char> plain(cipher.size() + 1);
  const int32_t n =
      SecureOpen(channel, nullptr, 0, cipher.data(), int32_t(cipher.size()), plain.data(), int32_t(plain.size()));
  if (n < 0) return std::string("refused: ") + SecureRefusalText(n);
  return std::string(plain.data(), size_t(n));
}

class Secure : public testing::Test {
 protected:
  void SetUp() override {
    for (Party* p : {&a_, &b_, &impostor_}) {
      p->known.count = 0;
      ASSERT_EQ(MakeMachineKey(p->key), 1);
    }
    a_.id = "401";
    b_.id = "402";
    impostor_.id = "403";
    Know(a_, "402", b_.key.publicKey);
    Know(b_, "401", a_.key.publicKey);
    Know(b_, "403", impostor_.key.publicKey);
  }
  Party a_, b_, impostor_;
};

TEST_F(Secure, HandshakeOpensAChannelThatCarriesFramesBothWays) {
  Call call = Handshake(a_, b_, "402");
  ASSERT_EQ(call.refusedAt, kOpen) << SecureRefusalText(call.refusal);
  EXPECT_STREQ(call.callee.callerId, "401");
  EXPECT_STREQ(call.callee.dialledId, "402");

  const std::string block(4096, 'm');
  EXPECT_EQ(Open(call.calleeChannel, Seal(call.callerChannel, "first mail")), "first mail");
  EXPECT_EQ(Open(call.calleeChannel, Seal(call.callerChannel, block)), block);
  EXPECT_EQ(Open(call.calleeChannel, Seal(call.callerChannel, "")), "");
  EXPECT_EQ(Open(call.callerChannel, Seal(call.calleeChannel, "[OK]")), "[OK]");

  // The mail's text is nowhere in what crosses the line.
  const std::string text = "Dear Bob, the ship leaves at nine.";
  const Bytes sealed = Seal(call.callerChannel, text);
  EXPECT_EQ(std::search(sealed.begin(), sealed.end(), text.begin() + 5, text.begin() + 15), sealed.end());
  EXPECT_EQ(Open(call.calleeChannel, sealed), text);

  // The last frame ends the direction: nothing may be sealed or opened after it.
  EXPECT_EQ(Open(call.callerChannel, Seal(call.calleeChannel, "[END]", 1)), "[END]");
  EXPECT_EQ(call.callerChannel.peerEnded, 1);
  unsigned char spare[64];
  EXPECT_EQ(SecureSeal(call.calleeChannel, nullptr, 0, "x", 1, 0, spare, sizeof spare), kSecureOutOfStep);
  EXPECT_EQ(call.calleeChannel.open, 1);  // its receiving side stays
  EXPECT_EQ(Open(call.calleeChannel, Seal(call.callerChannel, "still here")), "still here");
}

struct RefusalCase {
  const char* what;
  Step message;     // the message altered (kOpen: none)
  int32_t offset;   // byte flipped (bit 0), -1: cut the message one byte short
  Step refusedAt;
  int32_t refusal;
};

// Every part of every message counts: markers, ids and their zero fill, call
// keys, sealed proofs and their tags, and the length.
const RefusalCase kAltered[] = {
    {"hello marker", kHello, 0, kReply, kSecureDamaged},
    {"hello zero fill after the caller id", kHello, 4 + 10, kReply, kSecureDamaged},
    {"hello caller id", kHello, 4 + 2, kReply, kSecureUnknownMachine},
    {"hello dialled id", kHello, 28 + 2, kConfirm, kSecureDamaged},
    {"hello caller call key", kHello, 52 + 5, kConfirm, kSecureDamaged},
    {"hello cut short", kHello, -1, kReply, kSecureDamaged},
    {"reply marker", kReply, 0, kConfirm, kSecureDamaged},
    {"reply callee call key", kReply, 4 + 7, kConfirm, kSecureDamaged},
    {"reply signature", kReply, 36 + 3, kConfirm, kSecureDamaged},
    {"reply stream header", kReply, 36 + 64 + 3, kConfirm, kSecureDamaged},
    {"reply tag", kReply, kReplySize - 1, kConfirm, kSecureDamaged},
    {"reply cut short", kReply, -1, kConfirm, kSecureDamaged},
    {"confirm marker", kConfirm, 1, kAccept, kSecureDamaged},
    {"confirm signature", kConfirm, 4 + 10, kAccept, kSecureDamaged},
    {"confirm stream header", kConfirm, 4 + 64 + 10, kAccept, kSecureDamaged},
    {"confirm tag", kConfirm, kConfirmSize - 1, kAccept, kSecureDamaged},
    {"confirm cut short", kConfirm, -1, kAccept, kSecureDamaged},
};

const RefusalCase* gAltered = nullptr;

void AlterOne(Step message, Bytes& bytes) {
  if (message != gAltered->message) return;
  if (gAltered->offset < 0)
    bytes.pop_back();
  else
    bytes[size_t(gAltered->offset)] ^= 1;
}

TEST_F(Secure, AnyAlteredHandshakeMessageIsRefused) {
  for (const RefusalCase& c : kAltered) {
    SCOPED_TRACE(c.what);
    gAltered = &c;
    Call call = Handshake(a_, b_, "402", AlterOne);
    EXPECT_EQ(call.refusedAt, c.refusedAt);
    EXPECT_STREQ(SecureRefusalText(call.refusal), SecureRefusalText(c.refusal));
    ExpectNoChannel(call);
  }
  gAltered = nullptr;
}

TEST_F(Secure, UnknownMachinesAndWrongKeysAreRefused) {
  Party stranger = a_;
  stranger.id = "409";  // its key, but an id b does not know
  Party forger = impostor_;
  forger.id = "401";    // a's id and list, another key
  forger.known = a_.known;
  Party claimsOther = a_;
  claimsOther.id = "403";  // a's key presented for a known id that is not a's
  Party wrongCallee = b_;
  wrongCallee.key = impostor_.key;  // answers for 402 with another key
  Party blank = a_;
  blank.known.count = 0;

  struct Case {
    const char* what;
    Party* caller;
    Party* callee;
    const char* dialled;
    Step refusedAt;
    int32_t refusal;
  } cases[] = {
      {"caller dials a machine it does not know", &blank, &b_, "402", kHello, kSecureUnknownMachine},
      {"caller dials an id outside the alphabet", &a_, &b_, "4-2", kHello, kSecureUnknownMachine},
      {"callee does not know the caller", &stranger, &b_, "402", kReply, kSecureUnknownMachine},
      {"caller signs with another key than its id's", &forger, &b_, "402", kAccept, kSecureWrongKey},
      {"caller presents its key for another known id", &claimsOther, &b_, "402", kAccept, kSecureWrongKey},
      {"callee answers with another key than the one dialled", &a_, &wrongCallee, "402", kConfirm, kSecureWrongKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Call call = Handshake(*c.caller, *c.callee, c.dialled);
    EXPECT_EQ(call.refusedAt, c.refusedAt);
    EXPECT_STREQ(SecureRefusalText(call.refusal), SecureRefusalText(c.refusal));
    ExpectNoChannel(call);
  }
}

TEST_F(Secure, RecordingOfAnEarlierCallIsRefused) {
  Call earlier = Handshake(a_, b_, "402");
  ASSERT_EQ(earlier.refusedAt, kOpen);
  const Bytes earlierFrame = Seal(earlier.callerChannel, "mail of the earlier call");

  // Played to the callee: the old hello gets a fresh reply the old confirm cannot answer.
  SecureHandshake callee{};
  SecureChannel channel{};
  unsigned char reply[kReplySize], confirm[kConfirmSize], hello[kHelloSize];
  EXPECT_EQ(SecureReply(callee, b_.key, b_.known, earlier.hello.data(), kHelloSize, reply), kReplySize);
  EXPECT_EQ(SecureAccept(callee, earlier.confirm.data(), kConfirmSize, channel), kSecureDamaged);
  EXPECT_EQ(channel.open, 0);

  // Played to a caller: the old reply answers another hello.
  SecureHandshake caller{};
  ASSERT_EQ(SecureHello(caller, "401", a_.known, "402", hello), kHelloSize);
  EXPECT_EQ(SecureConfirm(caller, a_.key, earlier.reply.data(), kReplySize, confirm, channel), kSecureDamaged);
  EXPECT_EQ(channel.open, 0);

  // A frame of the earlier call does not open in a later one.
  Call later = Handshake(a_, b_, "402");
  ASSERT_EQ(later.refusedAt, kOpen);
  EXPECT_EQ(Open(later.calleeChannel, earlierFrame), "refused: damaged");
}

TEST_F(Secure, HandshakeTakesNoMessageOutOfTurn) {
  SecureHandshake hs{};
  SecureChannel channel{};
  unsigned char hello[kHelloSize] = {}, reply[kReplySize] = {}, confirm[kConfirmSize] = {};
  EXPECT_EQ(SecureConfirm(hs, a_.key, reply, kReplySize, confirm, channel), kSecureOutOfStep);
  SecureForget(hs);
  ASSERT_EQ(SecureHello(hs, "401", a_.known, "402", hello), kHelloSize);
  EXPECT_EQ(SecureAccept(hs, confirm, kConfirmSize, channel), kSecureOutOfStep);  // a caller takes no confirm
  EXPECT_EQ(SecureHello(hs, "401", a_.known, "402", hello), kSecureOutOfStep);      // refused for good
  EXPECT_EQ(SecureHello(hs, "Bad", a_.known, "402", hello), kSecureOutOfStep);
  SecureForget(hs);
  EXPECT_EQ(SecureHello(hs, "Bad", a_.known, "402", hello), kSecureNoKey);
}

// What reaches the receiver, frame by frame: an index into the sealed frames,
// altered as the case says.
struct Arrival {
  int index;
  enum { Whole, FlipHeader, FlipBody, FlipTag, CutShort } how;
};

TEST_F(Secure, FramesOutOfOrderTwiceOrAlteredAreRefusedAndCloseTheChannel) {
  struct Case {
    const char* what;
    std::vector<Arrival> arrivals;
    std::vector<bool> opened;
  } cases[] = {
      {"in order", {{0, Arrival::Whole}, {1, Arrival::Whole}, {2, Arrival::Whole}}, {true, true, true}},
      {"played twice", {{0, Arrival::Whole}, {0, Arrival::Whole}, {1, Arrival::Whole}}, {true, false, false}},
      {"out of order", {{1, Arrival::Whole}, {0, Arrival::Whole}}, {true, false}},
      // A frame a noisy line spoiled is sent again under a new counter.
      {"one left out", {{0, Arrival::Whole}, {2, Arrival::Whole}}, {true, true}},
      {"first byte flipped", {{0, Arrival::FlipHeader}, {0, Arrival::Whole}}, {false, false}},
      {"text flipped", {{0, Arrival::Whole}, {1, Arrival::FlipBody}, {1, Arrival::Whole}}, {true, false, false}},
      {"tag flipped", {{0, Arrival::FlipTag}}, {false}},
      {"cut short", {{0, Arrival::Whole}, {1, Arrival::CutShort}, {1, Arrival::Whole}}, {true, false, false}},
      {"after the last frame", {{0, Arrival::Whole}, {1, Arrival::Whole}, {2, Arrival::Whole}, {3, Arrival::Whole}},
       {true, true, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Call call = Handshake(a_, b_, "402");
    ASSERT_EQ(call.refusedAt, kOpen);
    std::vector<Bytes> frames = {Seal(call.callerChannel, "block one"), Seal(call.callerChannel, "block two"),
                                 Seal(call.callerChannel, "[END]", 1)};
    // A frame an intruder appends after the last one, under a channel in
    // the same state as the sender's was.
    SecureChannel copy = call.callerChannel;
    copy.sentLast = 0;
    frames.push_back(Seal(copy, "appended"));
    for (size_t i = 0; i < c.arrivals.size(); ++i) {
      Bytes frame = frames[size_t(c.arrivals[i].index)];
      switch (c.arrivals[i].how) {
        case Arrival::Whole: break;
        case Arrival::FlipHeader: frame[0] ^= 1; break;
        case Arrival::FlipBody: frame[3] ^= 0x20; break;
        case Arrival::FlipTag: frame.back() ^= 0x80; break;
        case Arrival::CutShort: frame.pop_back(); break;
      }
      const std::string got = Open(call.calleeChannel, frame);
      EXPECT_EQ(got.rfind("refused", 0) != 0, bool(c.opened[i])) << "arrival " << i << ": " << got;
    }
  }
}

// --- files -------------------------------------------------------------------------

class SecureFiles : public testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempFolder("vl-secure-");
    ASSERT_FALSE(root_.empty());
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string Write(const char* name, const std::string& bytes) {
    std::ofstream(root_ / name, std::ios::binary) << bytes;
    return (root_ / name).string();
  }
  fs::path root_;
};

std::string Hex(const PublicKey& key) {
  char hex[kKeyHexSize + 1];
  PublicKeyHex(key, hex);
  return hex;
}

TEST_F(SecureFiles, KnownMachinesAreReadWholeOrNotAtAll) {
  MachineKey one, two;
  ASSERT_EQ(MakeMachineKey(one), 1);
  ASSERT_EQ(MakeMachineKey(two), 1);
  const std::string k1 = Hex(one.publicKey), k2 = Hex(two.publicKey);
  std::string upper = k2;
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));

  KnownMachines known;
  KnownProblem problem;
  const std::string good = "# machines of the harbour\r\n\n401 " + k1 + "\r\n  \t\n402\t " + upper + "  \n";
  ASSERT_EQ(LoadKnownMachines(Write("KNOWN.TXT", good).c_str(), known, problem), kKnownRead) << problem.reason;
  ASSERT_EQ(known.count, 2);
  ASSERT_NE(FindKnownMachine(known, "402"), nullptr);
  EXPECT_EQ(Hex(*FindKnownMachine(known, "402")), k2);
  EXPECT_EQ(Hex(*FindKnownMachine(known, "401")), k1);
  for (const char* other : {"40", "0401", "4011", "", "401 "}) EXPECT_EQ(FindKnownMachine(known, other), nullptr) << other;
  EXPECT_EQ(LoadKnownMachines((root_ / "none.txt").string().c_str(), known, problem), kKnownNone);
  EXPECT_EQ(known.count, 0);

  std::string many;
  for (int i = 0; i <= kKnownCapacity; ++i) many += "m" + std::to_string(i) + " " + k1 + "\n";
  struct Case {
    std::string text;
    int32_t line;
    const char* reason;
  } cases[] = {
      {"401 " + k1 + "\n402\n", 2, "a line holds a machine id and a key"},
      {"401 " + k1 + " 402\n", 1, "a line holds a machine id and a key"},
      {"Harbour " + k1 + "\n", 1, "a machine id is 1 to 22 of a-z 0-9"},
      {std::string(23, 'a') + " " + k1 + "\n", 1, "a machine id is 1 to 22 of a-z 0-9"},
      {"401 " + k1.substr(1) + "\n", 1, "a key is 64 hex digits"},
      {"401 " + k1 + "0\n", 1, "a key is 64 hex digits"},
      {"401 g" + k1.substr(1) + "\n", 1, "a key is 64 hex digits"},
      {"401 " + std::string(64, '0') + "\n", 1, "not a public key"},
      {"401 " + k1 + "\n402 " + k2 + "\n401 " + k2 + "\n", 3, "machine listed twice"},
      {"401 " + k1 + std::string(1, '\0') + "\n", 1, "not a line of text"},
      {many, kKnownCapacity + 1, "more than 256 machines"},
      {std::string(kKnownFileLimit + 1, '#'), 0, "larger than 64 KiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    EXPECT_EQ(LoadKnownMachines(Write("KNOWN.TXT", c.text).c_str(), known, problem), kKnownRefused);
    EXPECT_EQ(problem.line, c.line);
    EXPECT_STREQ(problem.reason, c.reason);
    EXPECT_EQ(known.count, 0);
  }
}

TEST_F(SecureFiles, MachineKeyFileIsCheckedBeforeItsKeyIsUsed) {
  MachineKey made, read;
  ASSERT_EQ(MakeMachineKey(made), 1);
  unsigned char record[kMachineKeyFileSize];
  MachineKeyRecord(made, record);
  const std::string bytes(reinterpret_cast<const char*>(record), sizeof record);
  ASSERT_EQ(LoadMachineKey(Write("MACHINE.KEY", bytes).c_str(), read), kKeyRead);
  EXPECT_EQ(std::memcmp(&made, &read, sizeof made), 0);

  EXPECT_EQ(LoadMachineKey((root_ / "none").string().c_str(), read), kKeyMissing);
  std::string seedFlipped = bytes, keyFlipped = bytes, markerFlipped = bytes;
  seedFlipped[20] ^= 1;
  keyFlipped[60] ^= 1;
  markerFlipped[2] ^= 1;
  for (const std::string& damaged : {seedFlipped, keyFlipped, markerFlipped, bytes.substr(1), bytes + "x", std::string()}) {
    EXPECT_EQ(LoadMachineKey(Write("MACHINE.KEY", damaged).c_str(), read), kKeyDamaged) << damaged.size();
    EXPECT_EQ(read.secretKey[0] | read.secretKey[40], 0);
  }
}

// The field is new: files written before it hold zeros there, and a reader
// that took its number would read them as "0" and refuse every plain peer.
TEST(SecureSettings, OnlyAZeroRefusesPlainCallers) {
  ConfigRecord settings{};
  EXPECT_EQ(AcceptsPlainCallers(settings), 1);
  settings.SetText(SettingsField::PlainCallers, "0");
  EXPECT_EQ(AcceptsPlainCallers(settings), 0);
  settings.SetText(SettingsField::PlainCallers, "1");
  EXPECT_EQ(AcceptsPlainCallers(settings), 1);
}

}  // namespace
