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
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace mailtest {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

inline std::string Encoded(const std::string& text) {
  char buffer[256] = {};
  text.copy(buffer, text.size());
  vlData(1, buffer, static_cast<int32_t>(2 * text.size()));
  return std::string(buffer);
}

inline Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string TextAt(const Bytes& bytes, size_t offset, size_t width) {
  std::string text;
  for (size_t i = 0; i < width && offset + i < bytes.size() && bytes[offset + i] != 0; ++i)
    text += static_cast<char>(bytes[offset + i]);
  return text;
}

inline void PutText(Bytes& bytes, size_t offset, const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) bytes[offset + i] = static_cast<unsigned char>(text[i]);
}

// The classic form of a host path: "C:" and "\" between names.
inline std::string Classic(const fs::path& host) {
  std::string text = "C:" + host.string();
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

inline fs::path MakeTempFolder(const char* stem) {
  std::string pattern = (fs::temp_directory_path() / (std::string(stem) + "XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  return fs::path(mkdtemp(name.data()));
}

// Incompressible bytes of a given length, the same for the same seed.
inline Bytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<unsigned char>(generator());
  return bytes;
}

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
    Bytes record(kAccountRecordSize, 0);
    PutText(record, 0, id);
    PutText(record, 24, key);
    PutText(record, 40, "test user");
    PutText(record, 72, "0");
    PutText(record, 78, Encoded(id));
    PutText(record, 126, "[-]");
    vlData(1, record.data(), kAccountRecordSize);
    WriteAll(AccountFile(id), record);
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

inline Bytes IndexEntry(const Bytes& index, int i) {
  Bytes entry(index.begin() + (i - 1) * kHeaderSize, index.begin() + i * kHeaderSize);
  vlData(-1, entry.data(), kHeaderSize);
  return entry;
}

inline Bytes HeaderOf(const Bytes& file, int k) {
  Bytes header(file.begin() + (k - 1) * kBlockSize + kPayloadSize, file.begin() + k * kBlockSize);
  vlData(-1, header.data(), kHeaderSize);
  return header;
}

}  // namespace mailtest
