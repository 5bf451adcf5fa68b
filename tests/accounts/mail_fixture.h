// A throw-away machine for the mail dialogs: program folder with POST, the
// live configuration pointing at it, accounts made as creation leaves them,
// and the raw file work the checks need. Files are read back with the host's
// own calls, apart from the code under test; only names come from the unit
// library's encoding.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "accounts/open_account.h"
#include "config/config.h"
#include "platform/unit.h"
#include "store/format.h"
#include "tests/common/store_bytes.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace mailtest {

using namespace storebytes;

class MailMachine {
 public:
  explicit MailMachine(const std::string& machId = "0211234567") {
    root_ = MakeTempFolder("vlmail");
    fs::create_directory(root_ / "POST");
    ResetConfig();
    std::string classic = Classic(root_);
    classic.copy(Config().programFolder, sizeof Config().programFolder - 1);
    (classic + "\\VL.INI").copy(Config().unitPath, 255);
    (classic + "\\Velloran.INI").copy(Config().settingsPath, 255);
    (classic + "\\POST").copy(Config().spoolPath, 255);
    Config().unit.SetText(UnitField::MachID, machId.c_str());
    Config().unit.SetText(UnitField::EnableECourier, "1");
  }
  ~MailMachine() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    ResetConfig();
    ResetActiveAccount();
  }

  const fs::path& Root() const { return root_; }
  fs::path Spool() const { return root_ / "POST"; }
  fs::path AccountFolder(const std::string& id) const { return root_ / (Encoded(id) + "[@]"); }
  fs::path AccountFile(const std::string& id) const { return AccountFolder(id) / (Encoded(id) + "[@]"); }
  fs::path MailboxIndex(const std::string& id) const { return AccountFolder(id) / (Encoded(id) + "[=]"); }
  fs::path ContactBook(const std::string& id) const { return AccountFolder(id) / (Encoded(id) + "[#]"); }
  fs::path MailFile(const std::string& id, const std::string& sender, const std::string& stamp) const {
    return AccountFolder(id) / (Encoded(sender + stamp) + "[=]");
  }
  fs::path SpoolFile(const std::string& sender, const std::string& stamp, const std::string& suffix) const {
    return Spool() / (Encoded(sender + stamp) + suffix);
  }
  fs::path PendingFile(const std::string& id) const { return Spool() / Encoded(id); }

  void MakeAccount(const std::string& id, const std::string& key = "secret") const {
    fs::create_directory(AccountFolder(id));
    WriteAll(AccountFile(id), AccountFileBytes(id, key));
  }

  // What a successful login leaves in ActiveAccount().
  void OpenAs(const std::string& id) const {
    ResetActiveAccount();
    ActiveAccountState& a = ActiveAccount();
    Bytes record = ReadAll(AccountFile(id));
    vlData(-1, record.data(), kAccountRecordSize);
    pCopyMem(record.data(), &a.record, kAccountRecordSize);
    Classic(AccountFolder(id)).copy(a.accountFolder, 255);
    Classic(AccountFile(id)).copy(a.accountFile, 255);
    Classic(ContactBook(id)).copy(a.contactBookPath, 255);
    std::error_code error;
    auto size = fs::file_size(ContactBook(id), error);
    a.contactBookSize = error ? 0 : static_cast<uint32_t>(size);
    a.open = 1;
  }

  std::vector<std::string> SpoolNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Spool())) names.push_back(entry.path().filename().string());
    return names;
  }

 private:
  fs::path root_;
};

// A block as stored: header scrambled, the message payload scrambled too,
// attachment payloads as they are.
struct BlockText {
  std::string sender = "anna@0211234567";
  std::string postedAt = "7/12/2026 9:05";
  std::string subject = "hello";
  std::string destination = "bob@0211234567";
  std::string lockKey;
  std::string blockNumber = "1";
  std::string totalBlocks = "1";
  std::string attachmentCount = "0";
  std::string status = "[N]";
};

inline Bytes Header(const BlockText& t) {
  Bytes h(kHeaderSize, 0);
  PutText(h, 0, "[ML]");
  PutText(h, 8, t.postedAt);
  PutText(h, 26, t.sender);
  PutText(h, 98, t.subject);
  PutText(h, 146, t.destination);
  PutText(h, 218, t.lockKey);
  PutText(h, 234, t.blockNumber);
  PutText(h, 243, t.totalBlocks);
  PutText(h, 252, t.attachmentCount);
  PutText(h, 256, t.status);
  return h;
}

inline Bytes MessageBlock(const BlockText& t, const std::string& message) {
  Bytes block(kBlockSize, 0);
  PutText(block, 0, message);
  PutText(block, 3520, "[MSG]");
  PutText(block, 3568, std::to_string(message.size()));
  vlData(1, block.data(), kPayloadSize);
  Bytes h = Header(t);
  vlData(1, h.data(), kHeaderSize);
  std::copy(h.begin(), h.end(), block.begin() + kPayloadSize);
  return block;
}

inline Bytes AttachmentBlock(BlockText t, int number, const std::string& tag, const Bytes& chunk,
                             const std::string& length = "") {
  Bytes block(kBlockSize, 0);
  std::copy(chunk.begin(), chunk.end(), block.begin());
  PutText(block, 3520, tag);
  PutText(block, 3568, length.empty() ? std::to_string(chunk.size()) : length);
  t.blockNumber = std::to_string(number);
  Bytes h = Header(t);
  vlData(1, h.data(), kHeaderSize);
  std::copy(h.begin(), h.end(), block.begin() + kPayloadSize);
  return block;
}

// The packed form of a file, as the writer attaches it.
inline Bytes Packed(const MailMachine& m, const Bytes& bytes) {
  fs::path file = m.Root() / "pack.tmp";
  WriteAll(file, bytes);
  const char* packed = vlOptimize(1, Classic(file).c_str(), 0, 0);
  Bytes result;
  if (packed != nullptr && packed[0] != 0) {
    result = ReadAll(packed);
    fs::remove(packed);
  }
  fs::remove(file);
  return result;
}

// A mail file carrying the given files, packed and cut into chunks as a
// writer of any system does (no end marks); t's block and file counts are
// set to match.
inline Bytes ChainWithFiles(const MailMachine& m, BlockText& t,
                            const std::vector<std::pair<std::string, Bytes>>& files) {
  std::vector<std::pair<std::string, Bytes>> chunks;
  for (const auto& [name, bytes] : files) {
    Bytes packed = Packed(m, bytes);
    for (size_t at = 0; at < packed.size(); at += kContentSize)
      chunks.push_back({name, Bytes(packed.begin() + at, packed.begin() + std::min(packed.size(), at + kContentSize))});
  }
  t.totalBlocks = std::to_string(1 + chunks.size());
  t.attachmentCount = std::to_string(files.size());
  Bytes mail = MessageBlock(t, "files");
  for (size_t i = 0; i < chunks.size(); i++) {
    Bytes b = AttachmentBlock(t, static_cast<int>(i + 2), chunks[i].first, chunks[i].second);
    mail.insert(mail.end(), b.begin(), b.end());
  }
  return mail;
}

// A delivered mail: the mail file in the account folder and its index entry
// appended, as local delivery leaves them.
inline void Deliver(const MailMachine& m, const std::string& id, const BlockText& t, const Bytes& mailFile) {
  WriteAll(m.MailFile(id, t.sender, t.postedAt), mailFile);
  Bytes index = ReadAll(m.MailboxIndex(id));
  Bytes entry = Header(t);
  vlData(1, entry.data(), kHeaderSize);
  index.insert(index.end(), entry.begin(), entry.end());
  WriteAll(m.MailboxIndex(id), index);
}

}  // namespace mailtest
