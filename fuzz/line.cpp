// The receiving side of the line: any sequence of library events through
// OnLinkEvent, on the link tests' machine (MachID 400, virtual clock, the
// program's console window).
//
// Input: a sequence of events, each an operation byte (taken modulo 5) and
// its arguments:
//   0  carrier on                 1  carrier off
//   2  data: length (2 bytes, little-endian), then that many bytes (fewer
//      at the end of the input)
//   3  another line change: type byte (mod 7), state byte (mod 3)
//   4  a frame of a call with keys: type, mail, number (2 bytes), length (2
//      bytes), payload; sealed as machine 398 seals it. The first one of a
//      carrier opens a new call whose handshake the harness makes with fixed
//      test keys (the handshake itself is driven through op 2's hellos).
//
// Invariants, after every event:
//  - the call state follows the carrier; the receiving state is one of its
//    three phases, a block never holds more than one block's bytes (a whole one
//    only after it was refused), and the
//    part file of the mail being received holds exactly its stored blocks;
// and after every input:
//  - POST holds, besides what was there, only received mails: encoded
//    names with "[=]" (complete: block i says it is block i, the last says
//    it is the last) or "[~]" (whole blocks), and beside a part file the
//    extended receiver's note of what it is a part of, "[#]" (40 bytes); the program folder gains at
//    most the receiver's journal;
//  - the remote spool file and the account waiting there are untouched;
//  - nothing is written outside the machine folder.
#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <regex>

#include "config/config.h"
#include "fuzz/harness.h"
#include "link/extended.h"
#include "link/link.h"
#include "platform/unit.h"
#include "store/journal.h"
#include "tests/link/link_fixture.h"
#include "toolkit/files.h"

using namespace fuzz;

namespace {

class LineMachine : public linktest::LinkFixture {
 public:
  void TestBody() override {}
  void Start() { SetUp(); }
  void Stop() { TearDown(); }
  using LinkFixture::AllFiles;
  using LinkFixture::Post;
  using LinkFixture::PutRemote;
  using LinkFixture::Root;
  using LinkFixture::TakeProgressHistory;
  using LinkFixture::TakeStatusHistory;
};

LineMachine* machine = nullptr;
Tree kept;  // what was in the folder before the line spoke

bool IsReceivedName(const std::string& name) {
  static const std::regex pattern("POST/([0-9a-z][0-9a-z])+\\[[=~#]\\]");
  return std::regex_match(name, pattern);
}

// The receiver's journal of the mails it took, its part and a damaged one set aside.
bool IsJournalName(const std::string& name) { return name.rfind(kReceivedJournalName, 0) == 0; }

std::string HeaderText(const Bytes& header, size_t offset, size_t width) {
  return linktest::TextAt(header, offset, width);
}

void CheckReceivedMail(const std::string& name, const Bytes& bytes) {
  if (name.size() > 3 && name.compare(name.size() - 3, 3, "[#]") == 0) {
    FUZZ_CHECK(bytes.size() == 40, name + " is not a resume note");
    return;
  }
  FUZZ_CHECK(!bytes.empty() && bytes.size() % kBlockSize == 0, name + " is not whole blocks");
  if (name.back() != ']' || name[name.size() - 2] != '=') return;
  const size_t blocks = bytes.size() / kBlockSize;
  for (size_t k = 1; k <= blocks; ++k) {
    const Bytes block(bytes.begin() + long((k - 1) * kBlockSize), bytes.begin() + long(k * kBlockSize));
    const Bytes header = linktest::HeaderOf(block);
    FUZZ_CHECK(HeaderText(header, 0, 8) == "[ML]", name + ": a block without the marker");
    FUZZ_CHECK(HeaderText(header, 234, 9) == std::to_string(k), name + ": block out of order");
    if (k == blocks)
      FUZZ_CHECK(HeaderText(header, 243, 9) == HeaderText(header, 234, 9), name + ": complete without its last block");
  }
}

void CheckState() {
  const LinkState& link = Link();
  FUZZ_CHECK(link.lineBusy == link.cd, "line busy without the carrier or the reverse");
  FUZZ_CHECK(link.callState == (link.cd == 1 ? -1 : 0), "call state " + std::to_string(link.callState));
  const ReceiveWork& w = link.receive;
  FUZZ_CHECK(w.state == kReceiveIdle || w.state == kReceiveMail || w.state == kReceiveRefused, "receive phase");
  FUZZ_CHECK(w.blockBytes >= 0 && w.blockBytes <= kBlockSize, "block bytes " + std::to_string(w.blockBytes));
  if (w.state == kReceiveMail) {
    FUZZ_CHECK(w.blockBytes < kBlockSize, "a whole block left unstored");
    FUZZ_CHECK(w.writePosition >= 1 && (w.writePosition - 1) % kBlockSize == 0, "write position");
    const int32_t stored = pFileSize(w.partPath);
    FUZZ_CHECK(stored == int32_t(w.writePosition - 1) || (stored == -1 && w.writePosition == 1),
               "part file holds " + std::to_string(stored) + " bytes, stored " + std::to_string(w.writePosition - 1));
  }
}

void CheckFolder() {
  const Tree now = Snapshot(machine->Root());
  for (const auto& [name, bytes] : kept) {
    auto found = now.find(name);
    FUZZ_CHECK(found != now.end() && found->second == bytes, name + " was touched");
  }
  for (const auto& [name, bytes] : now) {
    if (kept.count(name)) continue;
    if (IsJournalName(name)) continue;
    FUZZ_CHECK(IsReceivedName(name), "a file the line may not make: " + name);
    CheckReceivedMail(name, bytes);
  }
  CheckOutside({machine->Root()});
}

// Back to the machine as it was: the received files and the journal go, the
// state is reset.
void Clear() {
  for (const auto& [name, bytes] : Snapshot(machine->Root()))
    if (!kept.count(name)) fs::remove_all(machine->Root() / name);
  ResetLink();
  machine->TakeStatusHistory();
  machine->TakeProgressHistory();
}

// The keyed caller 398 and this machine (400), with fixed test keys.
struct SealedCaller {
  MachineKey own, machine;
  KnownMachines knowsMachine, knowsCaller;
  SecureChannel channel;
  bool open = false;  // a call with keys runs on the present carrier
};
SealedCaller sealed;

MachineKey TestKey(unsigned char fill) {
  MachineKey key{};
  unsigned char seed[crypto_sign_SEEDBYTES];
  std::memset(seed, fill, sizeof seed);
  crypto_sign_seed_keypair(key.publicKey.bytes, key.secretKey, seed);
  return key;
}

void KnowAs(const char* id, const MachineKey& key, KnownMachines& known) {
  char hex[kKeyHexSize + 1];
  PublicKeyHex(key.publicKey, hex);
  const std::string line = std::string(id) + " " + hex + "\n";
  KnownProblem problem{};
  ParseKnownMachines(line.c_str(), int32_t(line.size()), known, problem);
}

// A new carrier, and a call on it in which 398 has proved its key: both ends
// of the handshake run here, the machine's end goes into its receiving role.
void OpenSealedCall() {
  OnLinkEvent(4, 0, nullptr, 0);
  OnLinkEvent(4, 1, nullptr, 0);
  SecureHandshake caller{}, callee{};
  unsigned char hello[kHelloSize], reply[kReplySize], confirm[kConfirmSize];
  ExtendedReceive& x = Link().xreceive;
  const bool done = SecureHello(caller, "398", sealed.knowsMachine, "400", hello) == kHelloSize &&
                    SecureReply(callee, sealed.machine, sealed.knowsCaller, hello, kHelloSize, reply) == kReplySize &&
                    SecureConfirm(caller, sealed.own, reply, kReplySize, confirm, sealed.channel) == kConfirmSize &&
                    SecureAccept(callee, confirm, kConfirmSize, x.channel) == 0;
  FUZZ_CHECK(done, "the test keys' handshake failed");
  x.handshake = callee;
  x.callFramed = 1;
  sealed.open = true;
}

void SealedFrame(Input& in) {
  if (!sealed.open) OpenSealedCall();
  const uint8_t type = in.Byte(), mail = in.Byte();
  const uint32_t number = in.Word();
  const Bytes payload = in.Take(std::min<size_t>(in.Word(), size_t(kBlockSize)));
  char frame[kFrameMaxBytes];
  const int32_t n = SealFrame(sealed.channel, type, mail, number, payload.data(), int32_t(payload.size()), frame);
  if (n > 0) OnLinkEvent(5, 0, frame, n);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sealed.own = TestKey(1);
  sealed.machine = TestKey(2);
  KnowAs("400", sealed.machine, sealed.knowsMachine);
  KnowAs("398", sealed.own, sealed.knowsCaller);
  EnterScratch();
  machine = new LineMachine;
  machine->Start();
  // A mail waiting to go out and an account: the line must leave both alone.
  linktest::MailShape outgoing;
  outgoing.destination = "carl@402";
  machine->PutRemote(outgoing);
  fs::create_directory(machine->Root() / (linktest::Encoded("bob") + "[@]"));
  linktest::WriteAll(machine->Root() / (linktest::Encoded("bob") + "[@]") / (linktest::Encoded("bob") + "[@]"),
                     Bytes(512, 7));
  kept = Snapshot(machine->Root());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  sealed.open = false;
  while (!in.Empty()) {
    switch (in.Byte() % 5) {
      case 0:
        sealed.open = false;
        OnLinkEvent(4, 1, nullptr, 0);
        break;
      case 1:
        sealed.open = false;
        OnLinkEvent(4, 0, nullptr, 0);
        break;
      case 4:
        SealedFrame(in);
        break;
      case 2: {
        const Bytes bytes = in.Take(in.Word());
        // The library never hands over an empty buffer; a zero length may come.
        OnLinkEvent(5, 0, bytes.empty() ? nullptr : reinterpret_cast<const char*>(bytes.data()),
                    int32_t(bytes.size()));
        break;
      }
      default: {
        sealed.open = false;
        const int32_t type = in.Byte() % 7;
        const int32_t state = in.Byte() % 3;
        OnLinkEvent(type, state, nullptr, 0);
        break;
      }
    }
    CheckState();
  }
  CheckFolder();
  Trace("POST holds " + std::to_string(Snapshot(machine->Post()).size()) + " files");
  Clear();
  return 0;
}
