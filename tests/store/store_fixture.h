// A throw-away program folder with its POST folder, and the raw file work the
// store tests need to build spool files and inspect what a run left behind.
// Files are made and read here with the host's own calls, apart from the code
// under test; only the names come from the unit library's encoding.
#pragma once
#include <stdint.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/config.h"
#include "platform/unit.h"
#include "store/format.h"
#include "tests/common/store_bytes.h"
#include "winapi/loop.h"

namespace storetest {

using namespace storebytes;

// What one block of a test mail says about itself.
struct BlockSpec {
  std::string blockNumber;
  std::string totalBlocks;
  std::string marker = "[ML]";
};

struct MailShape {
  std::string sender = "ann@100";
  std::string postedAt = "7/12/2026 9:05";
  std::string destination = "bob@100";
  std::string subject = "hello";
  std::string message = "the message";
  int blocks = 1;
};

// One block, as stored: header scrambled, the first payload scrambled too,
// attachment payloads plain (filled with a pattern of their block number).
inline Bytes MakeBlock(const MailShape& mail, const BlockSpec& shape) {
  Bytes block(kBlockSize, 0);
  const size_t h = kPayloadSize;
  PutText(block, h + 0, shape.marker);
  PutText(block, h + 8, mail.postedAt);
  PutText(block, h + 26, mail.sender);
  PutText(block, h + 98, mail.subject);
  PutText(block, h + 146, mail.destination);
  PutText(block, h + 234, shape.blockNumber);
  PutText(block, h + 243, shape.totalBlocks);
  PutText(block, h + 252, std::to_string(mail.blocks - 1));
  PutText(block, h + 256, "[N]");
  if (shape.blockNumber == "1") {
    PutText(block, 0, mail.message);
    PutText(block, 3520, "[MSG]");
    PutText(block, 3568, std::to_string(mail.message.size()));
    vlData(1, block.data(), kPayloadSize);
  } else {
    for (int i = 0; i < kContentSize; ++i) block[i] = static_cast<unsigned char>(shape.blockNumber[0] + i);
    PutText(block, 3520, "file.bin");
    PutText(block, 3568, std::to_string(kContentSize));
  }
  vlData(1, block.data() + h, kHeaderSize);
  return block;
}

inline Bytes MakeMail(const MailShape& mail) {
  Bytes all;
  for (int k = 1; k <= mail.blocks; ++k) {
    Bytes b = MakeBlock(mail, {std::to_string(k), std::to_string(mail.blocks)});
    all.insert(all.end(), b.begin(), b.end());
  }
  return all;
}

// A program folder of its own under the system's temporary folder, with the
// live configuration pointing at it and the clock virtual.
class StoreFolder {
 public:
  StoreFolder() {
    root_ = MakeTempFolder("vlstore");
    fs::create_directory(root_ / "POST");
    ResetConfig();
    std::string classic = Classic(root_);
    classic.copy(Config().programFolder, sizeof Config().programFolder - 1);
    (classic + "\\VL.INI").copy(Config().unitPath, 255);
    (classic + "\\POST").copy(Config().spoolPath, 255);
    waSetVirtualClock(1, 0);
  }
  ~StoreFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    ResetConfig();
  }

  static std::string Classic(const fs::path& host) { return storetest::Classic(host); }

  const fs::path& Root() const { return root_; }
  fs::path Spool() const { return root_ / "POST"; }
  fs::path AccountFolder(const std::string& id) const { return root_ / (Encoded(id) + "[@]"); }
  fs::path MailFile(const std::string& id, const std::string& sender, const std::string& stamp) const {
    return AccountFolder(id) / (Encoded(sender + stamp) + "[=]");
  }
  fs::path AccountFile(const std::string& id) const { return AccountFolder(id) / (Encoded(id) + "[@]"); }
  fs::path MailboxIndex(const std::string& id) const { return AccountFolder(id) / (Encoded(id) + "[=]"); }
  fs::path ContactBook(const std::string& id) const { return AccountFolder(id) / (Encoded(id) + "[#]"); }
  fs::path SpoolFile(const MailShape& mail, const std::string& suffix = "[=]") const {
    return Spool() / (Encoded(mail.sender + mail.postedAt) + suffix);
  }

  // An account folder with a valid account file, as creation leaves it.
  void MakeAccount(const std::string& id, const std::string& key = "secret") const {
    fs::create_directory(AccountFolder(id));
    WriteAll(AccountFolder(id) / (Encoded(id) + "[@]"), AccountFileBytes(id, key));
  }

  void PutSpool(const MailShape& mail, const Bytes& bytes, const std::string& suffix = "[=]") const {
    WriteAll(SpoolFile(mail, suffix), bytes);
  }

  std::vector<std::string> SpoolNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Spool())) names.push_back(entry.path().filename().string());
    return names;
  }

 private:
  fs::path root_;
};

}  // namespace storetest
