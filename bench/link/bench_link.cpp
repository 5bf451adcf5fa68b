// Sends one mail with a 1 MiB attachment over a virtual line paced at 56000
// baud and prints the line efficiency: attachment bytes / (elapsed seconds x
// baud / 10), next to the limit that the protocol's own pauses and round
// trips allow.
//
// The sender is the program's posting pass; the receiver is a second
// communication-library instance in this process that answers every announce
// and every whole block with "[OK]". Both modems pace their lines, so a block
// takes the time a real 56000-baud line needs.
//
// The limit, per block: the 150 ms pause before the block, then the block
// (4096 bytes) and its "[OK]" (4 bytes) on the line, noticed by the sender at
// the end of a 50 ms slice of its wait:
//     cycle = 150 + ceil((4096 + 4) / (baud / 10) / 50 ms) x 50 ms
// The attachment's bytes, spread over its blocks, can at best flow at one
// block per cycle; the measured cycle is the receiver's time from the first
// block to the last, divided by blocks - 1. The whole pass adds the call set-up, the announce,
// the 7 s after "[END]" and the hang-up, printed for information.
//
//   bench_link           virtual clock (deterministic, runs in seconds)
//   bench_link --real    the real clock (about five minutes)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "commlib/instance.h"
#include "config/config.h"
#include "link/link.h"
#include "platform/comm.h"
#include "platform/unit.h"
#include "store/format.h"
#include "toolkit/files.h"
#include "toolkit/text.h"
#include "winapi/loop.h"

namespace fs = std::filesystem;

namespace {

constexpr int kBaud = 56000;
constexpr size_t kAttachmentBytes = 1 << 20;

// The receiving end: answers like a receiver of this protocol and notes when
// the mail's stream starts and ends.
struct Receiver {
  CommInstance* instance = nullptr;
  intptr_t handle = 0;
  bool inMail = false;
  size_t gathered = 0;
  int blocks = 0;
  int expectedBlocks = 0;
  uint32_t firstBlockAt = 0;
  uint32_t lastBlockAt = 0;
} receiver;

void Answer() { pRS232IO(1, receiver.handle, "[OK]", 4); }

int32_t OnReceiverEvent(int32_t type, int32_t, const char*, int32_t length) {
  if (type != 5) return 1;
  if (!receiver.inMail) {
    if (length == kAnnounceSize) {
      receiver.inMail = true;
      Answer();
    }
    return 1;
  }
  receiver.gathered += size_t(length);
  while (receiver.gathered >= size_t(kBlockSize)) {
    receiver.gathered -= kBlockSize;
    ++receiver.blocks;
    if (receiver.blocks == 1) receiver.firstBlockAt = waNow();
    receiver.lastBlockAt = waNow();
    if (receiver.blocks == receiver.expectedBlocks) receiver.inMail = false;
    Answer();
  }
  return 1;
}

void WriteSettings(const fs::path& path, int peerPort) {
  std::ofstream out(path, std::ios::trunc);
  out << "[port1]\nbackend = virtual\nlisten = 127.0.0.1:0\npace = 1\nauto_answer = 1\n";
  if (peerPort != 0) out << "[phonebook]\n401 = 127.0.0.1:" << peerPort << "\n";
}

std::string Classic(const fs::path& path) {
  std::string text = "C:" + path.string();
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

// Posts one mail from ann@400 to bob@401 with the attachment: the message
// block, then the compressed attachment in 3519-byte chunks. Returns the
// number of blocks.
int PostMail(const fs::path& post, const fs::path& attachment) {
  const char* made = vlOptimize(1, attachment.c_str(), 0, 2024);
  if (made == nullptr || made[0] == 0) {
    fprintf(stderr, "bench_link: cannot compress the attachment\n");
    exit(1);
  }
  std::ifstream in(made, std::ios::binary);
  std::vector<char> packed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(made);
  const int total = 1 + int((packed.size() + kContentSize - 1) / kContentSize);

  MailHeader header{};
  SetSlot(header.marker, kMailMarker);
  SetSlot(header.postedAt, "7/12/2026 9:05");
  SetSlot(header.sender, "ann@400");
  SetSlot(header.subject, "one mebibyte");
  SetSlot(header.destination, "bob@401");
  SetSlot(header.totalBlocks, std::to_string(total).c_str());
  SetSlot(header.attachmentCount, "1");
  SetSlot(header.status, kStatusNew);
  std::ofstream out(post / "mail[@]", std::ios::binary | std::ios::trunc);
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
      SetSlot(block.payload.tag, "random.bin");
      SetSlot(block.payload.contentLength, std::to_string(n).c_str());
    }
    block.header = header;
    SetSlot(block.header.blockNumber, std::to_string(k).c_str());
    vlData(1, &block.header, kHeaderSize);
    out.write(reinterpret_cast<const char*>(&block), kBlockSize);
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const bool real = argc > 1 && strcmp(argv[1], "--real") == 0;
  std::string pattern = (fs::temp_directory_path() / "vlbenchlinkXXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path root = pattern;
  fs::create_directory(root / "POST");
  if (!real) waSetVirtualClock(1, 1000);

  std::vector<unsigned char> data(kAttachmentBytes);
  std::mt19937 random(7);
  for (unsigned char& b : data) b = static_cast<unsigned char>(random());
  const fs::path attachment = root / "random.bin";
  std::ofstream(attachment, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  receiver.expectedBlocks = PostMail(root / "POST", attachment);

  // The receiving machine.
  receiver.instance = commCreate();
  WriteSettings(root / "peer.ini", 0);
  commSetSettingsFile(receiver.instance, (root / "peer.ini").c_str());
  commSelect(receiver.instance);
  ruk_pbx_Event(OnReceiverEvent, 250);
  receiver.handle = ruk_pbx_Open(1, kBaud, 8, 4100, 4100);
  const int peerPort = commListenPort(receiver.instance);
  commSelect(nullptr);

  // The sending machine: the program itself.
  ResetConfig();
  ResetLink();
  ConfigState& config = Config();
  Classic(root).copy(config.programFolder, sizeof config.programFolder - 1);
  (Classic(root) + "\\POST").copy(config.spoolPath, sizeof config.spoolPath - 1);
  config.unit.SetText(UnitField::MachID, "400");
  config.settings.SetText(SettingsField::Signal, "1");
  config.settings.SetText(SettingsField::Port, "1");
  config.settings.SetNumber(SettingsField::Baud, kBaud);
  config.settings.SetText(SettingsField::Dial, "DT");
  WriteSettings(root / "ruk_comm.ini", peerPort);
  commSetSettingsFile(commDefault(), (root / "ruk_comm.ini").c_str());
  ruk_pbx_Event(OnLinkEvent, 250);
  ToggleLink();
  if (Link().modemReady != 1 || peerPort == 0) {
    fprintf(stderr, "bench_link: the modems did not come up\n");
    return 1;
  }

  const uint32_t start = waNow();
  DeliverRemoteMails();
  const double passSeconds = (waNow() - start) / 1000.0;
  const bool sent = !fs::exists(root / "POST" / "mail[@]") && receiver.blocks == receiver.expectedBlocks;

  const int blocks = receiver.expectedBlocks;
  const double bytesPerSecond = kBaud / 10.0;
  const double onLineMs = (kBlockSize + kOkBytes) / bytesPerSecond * 1000.0;
  const double cycleMs = kBlockPauseMs + std::ceil(onLineMs / kOkSliceMs) * kOkSliceMs;
  // The stream as the receiver sees it: one block arrives every cycle, so
  // the time from the first block to the last is blocks - 1 cycles.
  const double measuredCycleMs = double(receiver.lastBlockAt - receiver.firstBlockAt) / (blocks - 1);
  const double payloadPerBlock = double(kAttachmentBytes) / blocks;
  const double efficiency = payloadPerBlock / (measuredCycleMs / 1000.0 * bytesPerSecond);
  const double limit = payloadPerBlock / (cycleMs / 1000.0 * bytesPerSecond);
  const double payload = double(kAttachmentBytes);
  printf("clock                      %s\n", real ? "real" : "virtual");
  printf("attachment                 %zu bytes in %d blocks (%s)\n", kAttachmentBytes, blocks, sent ? "delivered" : "NOT delivered");
  printf("line                       %d baud, %.0f bytes/s\n", kBaud, bytesPerSecond);
  printf("block cycle limit          %.1f ms (150 ms pause + %.1f ms on the line, noticed in 50 ms slices)\n", cycleMs, onLineMs);
  printf("measured block cycle       %.1f ms\n", measuredCycleMs);
  printf("line efficiency            %.4f\n", efficiency);
  printf("limit of the protocol      %.4f\n", limit);
  printf("efficiency / limit         %.2f %%\n", 100.0 * efficiency / limit);
  printf("whole pass                 %.3f s (dial, announce, stream, 7 s after [END], hang-up)\n", passSeconds);
  printf("whole-pass efficiency      %.4f\n", payload / (passSeconds * bytesPerSecond));

  ToggleLink();
  commDestroy(receiver.instance);
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return sent ? 0 : 1;
}
