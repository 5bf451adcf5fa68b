// Times one local delivery run over 100 spool files of 1 to 10 blocks each.
// The clock is virtual, so the pauses cost nothing and the figure is the
// store's own work: reads, writes, scrambling. Then one mail of 10 000
// blocks (40 MB) on the real clock: how long a large mail holds its machine,
// pauses included.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/config.h"
#include "platform/unit.h"
#include "store/delivery.h"
#include "store/format.h"
#include "winapi/loop.h"

namespace fs = std::filesystem;

namespace {

std::string Classic(const fs::path& host) {
  std::string text = "C:" + host.string();
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

std::string Encoded(const std::string& text) {
  char buffer[kNameBufferSize] = {};
  text.copy(buffer, text.size());
  vlData(1, buffer, static_cast<int32_t>(2 * text.size()));
  return buffer;
}

void MakeAccount(const fs::path& root, const std::string& id) {
  fs::create_directory(root / (Encoded(id) + "[@]"));
  AccountRecord record{};
  SetSlot(record.accountId, id.c_str());
  SetSlot(record.encodedId, Encoded(id).c_str());
  SetSlot(record.accessMarker, kAccessMarker);
  vlData(1, &record, sizeof record);
  std::ofstream(root / (Encoded(id) + "[@]") / (Encoded(id) + "[@]"), std::ios::binary)
      .write(reinterpret_cast<const char*>(&record), sizeof record);
}

void MakeSpoolFile(const fs::path& spool, int mail, int blocks) {
  std::string sender = "sender" + std::to_string(mail) + "@100";
  if (blocks > 1000) sender = "large" + sender;
  std::string stamp = "7/12/2026 9:05";
  std::ofstream out(spool / (Encoded(sender + stamp) + "[=]"), std::ios::binary);
  for (int k = 1; k <= blocks; ++k) {
    MailBlock block{};
    SetSlot(block.header.marker, kMailMarker);
    SetSlot(block.header.postedAt, stamp.c_str());
    SetSlot(block.header.sender, sender.c_str());
    SetSlot(block.header.destination, "bob@100");
    SetSlot(block.header.subject, "bench");
    SetSlot(block.header.blockNumber, std::to_string(k).c_str());
    SetSlot(block.header.totalBlocks, std::to_string(blocks).c_str());
    SetSlot(block.header.status, kStatusNew);
    for (int i = 0; i < kContentSize; ++i) block.payload.content[i] = static_cast<char>(i * 7 + k);
    if (k == 1) vlData(1, &block.payload, kPayloadSize);
    vlData(1, &block.header, kHeaderSize);
    out.write(reinterpret_cast<const char*>(&block), sizeof block);
  }
}

}  // namespace

int main() {
  char pattern[] = "/tmp/vlbenchXXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  fs::path root = pattern;
  fs::create_directory(root / "POST");
  ResetConfig();
  Classic(root).copy(Config().programFolder, 255);
  (Classic(root) + "\\POST").copy(Config().spoolPath, 255);
  MakeAccount(root, "bob");
  int totalBlocks = 0;
  for (int mail = 0; mail < 100; ++mail) {
    int blocks = 1 + mail % 10;
    MakeSpoolFile(root / "POST", mail, blocks);
    totalBlocks += blocks;
  }
  waSetVirtualClock(1, 0);
  uint32_t virtualStart = waNow();
  auto start = std::chrono::steady_clock::now();
  DeliverLocalMails();
  auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  uint32_t virtualMs = waNow() - virtualStart;
  printf("local delivery: %d mails, %d blocks, %d delivered\n", 100, totalBlocks, Delivery().delivered);
  printf("real time: %.1f ms (%.3f ms per block)\n", elapsed, elapsed / totalBlocks);
  printf("virtual time: %u ms of pauses\n", virtualMs);
  const bool smallOnes = Delivery().delivered == 100;

  constexpr int kLargeBlocks = 10000;
  MakeSpoolFile(root / "POST", 0, kLargeBlocks);
  waSetVirtualClock(0, 0);
  start = std::chrono::steady_clock::now();
  DeliverLocalMails();
  elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  printf("one large mail on the real clock: %d blocks (%d MB), %d delivered in %.1f s\n", kLargeBlocks,
         kLargeBlocks * kBlockSize >> 20, Delivery().delivered, elapsed / 1000);
  fs::remove_all(root);
  return smallOnes && Delivery().delivered == 1 ? 0 : 1;
}
