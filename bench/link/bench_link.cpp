// One mail with a 1 MiB attachment of random bytes, from machine 400 to
// machine 401 over a virtual line paced at 56000 baud both ways, both
// machines being the program itself (tests/common/two_machines.h), on the
// virtual clock. Side by side:
//   plain      both machines plain only: one block in flight, a 150 ms pause
//              before each, the 520-byte header in every block
//   extended   frames in a window, the header once per mail
//   noisy      one byte in 100 000 changed, both directions: is the mail that
//              arrives byte-identical, and at what efficiency
//   ext+keys   extended, both machines with keys: authenticated, every frame sealed
//   cut        the carrier dropped after every 200 KiB the sender sends: the
//              extended protocol goes on from the blocks held; bytes on the
//              line against the mail's size
//   ext/both   each machine holds such a mail for the other: one call by 400
//              carries both (the callee sends its mail back after the
//              caller's), against two one-way calls
//   zmodem     lrzsz's sz/rz over the same kind of paced line, in real time
//              (about three minutes; --no-zmodem leaves it out)
// Efficiency over the stream: attachment bytes / (seconds x baud / 10), the
// seconds from the line time of the receiver's first block bytes to its last
// (over every call, when there were several); over the call:
// the same bytes over the whole posting pass, dial to hang-up.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/link/zmodem_reference.h"
#include "link/secure.h"
#include "platform/unit.h"
#include "store/format.h"
#include "tests/common/temp_folder.h"
#include "tests/common/two_machines.h"
#include "toolkit/text.h"

namespace fs = std::filesystem;
using twomachines::Machine;

namespace {

constexpr int kBaud = 56000;
constexpr double kBytesPerSecond = kBaud / 10.0;
constexpr size_t kAttachmentBytes = 1 << 20;

using Bytes = std::vector<char>;

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The mail as the writer spools it: the message block, then the compressed
// attachment in 3519-byte chunks.
Bytes MakeMail(const fs::path& attachment, const char* sender = "ann@400", const char* destination = "bob@401") {
  const char* made = vlOptimize(1, attachment.string().c_str(), 0, 2024);
  if (made == nullptr || made[0] == 0) {
    fprintf(stderr, "bench_link: cannot compress the attachment\n");
    exit(1);
  }
  const Bytes packed = ReadAll(made);
  fs::remove(made);
  const int total = 1 + int((packed.size() + kContentSize - 1) / kContentSize);
  MailHeader header{};
  SetSlot(header.marker, kMailMarker);
  SetSlot(header.postedAt, "7/12/2026 9:05");
  SetSlot(header.sender, sender);
  SetSlot(header.subject, "one mebibyte");
  SetSlot(header.destination, destination);
  SetSlot(header.totalBlocks, std::to_string(total).c_str());
  SetSlot(header.attachmentCount, "1");
  SetSlot(header.status, kStatusNew);
  Bytes mail;
  for (int k = 1; k <= total; ++k) {
    MailBlock block{};
    if (k == 1) {
      SetSlot(block.payload.content, "a big file");
      SetSlot(block.payload.tag, kMessageTag);
      SetSlot(block.payload.contentLength, "10");
      vlData(1, &block.payload, kPayloadSize);
    } else {
      const size_t at = size_t(k - 2) * kContentSize;
      const size_t n = std::min<size_t>(kContentSize, packed.size() - at);
      memcpy(block.payload.content, packed.data() + at, n);
      if (k == total) block.payload.zero = kFileEndMark;
      SetSlot(block.payload.tag, "random.bin");
      SetSlot(block.payload.contentLength, std::to_string(n).c_str());
    }
    block.header = header;
    SetSlot(block.header.blockNumber, std::to_string(k).c_str());
    vlData(1, &block.header, kHeaderSize);
    const char* bytes = reinterpret_cast<const char*>(&block);
    mail.insert(mail.end(), bytes, bytes + kBlockSize);
  }
  return mail;
}

struct Run {
  bool delivered = false;   // the sender's spool file is gone
  bool identical = false;   // the receiver's spool file is the mail, byte for byte
  int passes = 0;
  double streamSeconds = 0, callSeconds = 0;
  uint64_t lineBytes = 0;   // both directions, every call
};

// Machines 401 (receiver) and 400 (sender) with the given modem lines; the
// mail goes in posting passes until it has left or passes run out.
// Both machines get a key (readable by its owner only) and know each
// other's: the call is authenticated and every frame sealed.
void GiveKeys(const fs::path& a, const fs::path& b) {
  MachineKey ka, kb;
  MakeMachineKey(ka);
  MakeMachineKey(kb);
  const std::pair<fs::path, std::pair<const MachineKey*, std::pair<const char*, const MachineKey*>>> sides[] = {
      {a, {&ka, {"401", &kb}}}, {b, {&kb, {"400", &ka}}}};
  for (const auto& [folder, keys] : sides) {
    fs::create_directories(folder);
    unsigned char record[kMachineKeyFileSize];
    MachineKeyRecord(*keys.first, record);
    std::ofstream(folder / kMachineKeyName, std::ios::binary).write(reinterpret_cast<const char*>(record), sizeof record);
    // A machine refuses a key that others than its owner may read.
    fs::permissions(folder / kMachineKeyName, fs::perms::owner_read | fs::perms::owner_write);
    char hex[kKeyHexSize + 1];
    PublicKeyHex(keys.second.second->publicKey, hex);
    std::ofstream(folder / kKnownMachinesName) << keys.second.first << " " << hex << "\n";
  }
}

Run Carry(const fs::path& root, const Bytes& mail, bool extended, const std::string& faults, int maxPasses,
          bool keys = false) {
  fs::remove_all(root);
  if (keys) GiveKeys(root / "a", root / "b");
  Machine& b = twomachines::Start<1>(root / "b", "401", extended, "pace = 1\n" + faults);
  const std::string book = "401 = 127.0.0.1:" + std::to_string(twomachines::ListenPort(b)) + "\n";
  Machine& a = twomachines::Start<0>(root / "a", "400", extended, "pace = 1\n" + faults, book);
  const fs::path spool = root / "a" / "POST" / "mail[@]";
  std::ofstream(spool, std::ios::binary).write(mail.data(), std::streamsize(mail.size()));
  Run run;
  const uint32_t start = waNow();
  while (fs::exists(spool) && run.passes < maxPasses) {
    ++run.passes;
    twomachines::As(a, [] { DeliverRemoteMails(); });
  }
  run.callSeconds = (waNow() - start) / 1000.0;
  run.delivered = !fs::exists(spool);
  for (const auto& entry : fs::directory_iterator(root / "b" / "POST"))
    if (entry.path().string().find("[=]") != std::string::npos) run.identical = ReadAll(entry.path()) == mail;
  // The receiver's first data event is the announce; the stream is the rest,
  // from the line time of its first slice (512 bytes) on.
  run.streamSeconds = (b.lastDataAt - b.secondDataAt) / 1000.0 + 512 / kBytesPerSecond;
  run.lineBytes = a.bytesIn + b.bytesIn;
  twomachines::Stop<0>();
  twomachines::Stop<1>();
  return run;
}

// Both machines extended, each with a mail for the other; one posting pass
// of 400's. Delivered and identical only when both mails arrived whole.
Run CarryBothWays(const fs::path& root, const Bytes& mail, const Bytes& back) {
  fs::remove_all(root);
  Machine& b = twomachines::Start<1>(root / "b", "401", true, "pace = 1\n");
  const std::string book = "401 = 127.0.0.1:" + std::to_string(twomachines::ListenPort(b)) + "\n";
  Machine& a = twomachines::Start<0>(root / "a", "400", true, "pace = 1\n", book);
  std::ofstream(root / "a" / "POST" / "mail[@]", std::ios::binary).write(mail.data(), std::streamsize(mail.size()));
  std::ofstream(root / "b" / "POST" / "back[@]", std::ios::binary).write(back.data(), std::streamsize(back.size()));
  Run run;
  const uint32_t start = waNow();
  run.passes = 1;
  twomachines::As(a, [] { DeliverRemoteMails(); });
  run.callSeconds = (waNow() - start) / 1000.0;
  run.delivered = !fs::exists(root / "a" / "POST" / "mail[@]") && !fs::exists(root / "b" / "POST" / "back[@]");
  int whole = 0;
  for (const auto& [folder, expected] : {std::make_pair(root / "b" / "POST", &mail), std::make_pair(root / "a" / "POST", &back)})
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.path().string().find("[=]") != std::string::npos && ReadAll(entry.path()) == *expected) ++whole;
  run.identical = whole == 2;
  run.streamSeconds = (a.lastDataAt - b.secondDataAt) / 1000.0 + 512 / kBytesPerSecond;
  run.lineBytes = a.bytesIn + b.bytesIn;
  twomachines::Stop<0>();
  twomachines::Stop<1>();
  return run;
}

void Print(const char* what, const Run& run, double attachment, double mailBytes) {
  const double stream = attachment / (run.streamSeconds * kBytesPerSecond);
  const double call = attachment / (run.callSeconds * kBytesPerSecond);
  printf("%-10s %-9s %-9s %6d %10.1f %9.4f %10.1f %9.4f %12.3f\n", what, run.delivered ? "yes" : "NO",
         run.identical ? "yes" : "NO", run.passes, run.streamSeconds, stream, run.callSeconds, call,
         run.lineBytes / mailBytes);
}

}  // namespace

int main(int argc, char** argv) {
  bool zmodem = true;
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "--no-zmodem") == 0) zmodem = false;
  const fs::path root = MakeTempFolder("vlbenchlink");
  if (root.empty()) return 1;
  waSetVirtualClock(1, 1000);

  std::vector<unsigned char> data(kAttachmentBytes);
  std::mt19937 random(7);
  for (unsigned char& b : data) b = static_cast<unsigned char>(random());
  const fs::path attachment = root / "random.bin";
  std::ofstream(attachment, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  const Bytes mail = MakeMail(attachment);
  const double attachmentBytes = double(kAttachmentBytes);

  printf("line: %d baud both ways, %.0f bytes/s; attachment %zu random bytes, mail %zu bytes in %zu blocks\n", kBaud,
         kBytesPerSecond, kAttachmentBytes, mail.size(), mail.size() / kBlockSize);
  printf("%-10s %-9s %-9s %6s %10s %9s %10s %9s %12s\n", "protocol", "delivered", "identical", "calls", "stream s",
         "stream", "call s", "call", "line/mail");
  const std::string noisy = "corrupt_one_in = 100000\nseed = 11\n";
  Print("plain", Carry(root / "plain", mail, false, "", 1), attachmentBytes, double(mail.size()));
  const Run extended = Carry(root / "ext", mail, true, "", 1);
  Print("extended", extended, attachmentBytes, double(mail.size()));
  const Run keyed = Carry(root / "extkeys", mail, true, "", 1, true);
  Print("ext+keys", keyed, attachmentBytes, double(mail.size()));
  Print("plain/1e-5", Carry(root / "plainnoisy", mail, false, noisy, 1), attachmentBytes, double(mail.size()));
  Print("ext/1e-5", Carry(root / "extnoisy", mail, true, noisy, 1), attachmentBytes, double(mail.size()));
  const Run cut = Carry(root / "extcut", mail, true, "drop_after = 204800\n", 20);
  Print("ext/cut", cut, attachmentBytes, double(mail.size()));
  printf("(cut: the carrier drops after every 200 KiB the sender sends; the stream spans every call)\n");
  const Run both = CarryBothWays(root / "both", mail, MakeMail(attachment, "bob@401", "ann@400"));
  Print("ext/both", both, 2 * attachmentBytes, 2 * double(mail.size()));
  printf("(ext/both: two mails, one each way, in one call of %.1f s; one way each takes two calls, %.1f s)\n",
         both.callSeconds, 2 * extended.callSeconds);
  // Every block frame carries a counter and a tag; the rest is the handshake.
  const double sealSeconds = double(kSealOverhead) * double(mail.size() / kBlockSize) / kBytesPerSecond;
  printf("keys: the call takes %.3f s and %lld bytes on the line more than without them; sealing the block frames\n"
         "      (%d bytes each) takes %.3f s of it, the handshake (%d bytes more) the other %.3f s\n",
         keyed.callSeconds - extended.callSeconds, (long long)keyed.lineBytes - (long long)extended.lineBytes,
         kSealOverhead, sealSeconds, 1 + kReplySize + kConfirmSize + 2 * kFrameOverhead + kSealOverhead,
         keyed.callSeconds - extended.callSeconds - sealSeconds);

  if (zmodem) {
    waSetVirtualClock(0, 0);
    const ZmodemFigures z = RunZmodemReference(attachment.string(), kBaud, 0, 1);
    if (z.ran)
      printf("%-10s %-9s %-9s %6d %10.1f %9.4f   (sz/rz, real time; %llu bytes on the line)\n", "zmodem", "yes",
             z.identical ? "yes" : "NO", 1, z.seconds, z.efficiency,
             (unsigned long long)(z.lineBytesForward + z.lineBytesBack));
    else
      printf("zmodem     not run: %s\n", z.note.c_str());
  }
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
