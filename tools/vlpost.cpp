// vlpost -- prepares and inspects a machine folder's mail store from the
// command line, with the program's own store code, so that scripted runs of
// the program (which nobody clicks) have accounts and posted mails, and so
// that what arrived can be checked.
//
//   vlpost --account FOLDER ID KEY
//       makes the account ID (key KEY) in the machine folder FOLDER.
//   vlpost --post FOLDER FROMID TOADDRESS SUBJECT TEXT [ATTACHMENT...]
//       posts a mail from account FROMID of FOLDER's machine to TOADDRESS
//       (id@machine) into FOLDER/POST, exactly as the writer does: a local
//       "[=]" spool file when TOADDRESS names this machine, else "[@]".
//   vlpost --read FOLDER ID OUTDIR
//       extracts every mail of account ID's mailbox into OUTDIR: the message
//       as mail-N.txt and each attachment, decompressed, under its own name
//       (numbered, "name(2).ext", when an earlier one took it). Prints one
//       line per mail; a damaged mail is named on stderr, the others are
//       read all the same, and the exit code is then 1.
//   vlpost --call FOLDER
//       asks the machine running in FOLDER for a posting pass at its next
//       15-second tick, whatever its courier setting, as the writer's Send
//       does: the request is the file CALL.NOW, which the tick takes away.
//   vlpost --help
//
// Exit code 0 on success, 1 on any failure (with a message on stderr).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "accounts/mail_common.h"
#include "config/config.h"
#include "console/helpers.h"
#include "platform/unit.h"
#include "store/format.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace fs = std::filesystem;

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "vlpost: %s\n", message.c_str());
  return 1;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return text;
}

// Points the store at the machine folder and reads its unit record.
bool OpenMachine(const std::string& folder, std::string& error) {
  ResetConfig();
  std::error_code ec;
  const std::string absolute = fs::absolute(folder, ec).lexically_normal().string();
  if (ec || !fs::is_directory(absolute)) {
    error = "no machine folder " + folder;
    return false;
  }
  ConfigState& config = Config();
  if (absolute.size() + 16 >= sizeof config.programFolder) {
    error = "machine folder path too long";
    return false;
  }
  std::snprintf(config.programFolder, sizeof config.programFolder, "%s", absolute.c_str());
  std::snprintf(config.unitPath, sizeof config.unitPath, "%s\\VL.INI", absolute.c_str());
  std::snprintf(config.settingsPath, sizeof config.settingsPath, "%s\\Velloran.INI", absolute.c_str());
  std::snprintf(config.spoolPath, sizeof config.spoolPath, "%s\\POST", absolute.c_str());
  if (ReadRecord(config.unitPath, config.unit) != kRecordSize) {
    error = "no VL.INI in " + folder;
    return false;
  }
  fs::create_directories(absolute + "/POST", ec);
  return true;
}

bool ValidId(const std::string& id) {
  if (id.empty() || int32_t(id.size()) > kMaxIdLength) return false;
  std::string copy = id;
  return pIsChrValid(copy.data(), kIdAlphabet) == 1;
}

int MakeAccount(const std::string& folder, const std::string& rawId, const std::string& rawKey) {
  std::string error;
  if (!OpenMachine(folder, error)) return Fail(error);
  const std::string id = Lower(rawId), key = Lower(rawKey);
  if (!ValidId(id)) return Fail("account id must be 1 to 22 letters or digits");
  if (key.size() > 15) return Fail("account key longer than 15 characters");
  char accountFolder[kPathSize] = {}, accountFile[kPathSize] = {}, encoded[kNameBufferSize] = {};
  if (BuildAccountPaths(id.c_str(), accountFolder, accountFile, encoded) != 1) return Fail("bad account id");
  if (pFileSize(accountFile) > 0) return Fail("account " + id + " exists");
  std::string posixFolder = accountFolder;
  for (char& c : posixFolder)
    if (c == '\\') c = '/';
  std::error_code ec;
  fs::create_directories(posixFolder, ec);
  if (ec) return Fail("cannot make " + posixFolder);

  AccountRecord record{};
  SetSlot(record.accountId, id.c_str());
  SetSlot(record.accountKey, key.c_str());
  SetSlot(record.userName, id.c_str());
  SetSlot(record.fixedZero, "0");
  SetSlot(record.encodedId, encoded);
  SetSlot(record.accessMarker, kAccessMarker);
  vlData(1, &record, kAccountRecordSize);
  if (pFileIO(1, accountFile, 1, &record, kAccountRecordSize) != kAccountRecordSize)
    return Fail("cannot write the account file");

  ConfigRecord& unit = Config().unit;
  unit.SetNumber(UnitField::AccountCount, unit.Number(UnitField::AccountCount) + 1);
  WriteRecord(Config().unitPath, unit);
  std::printf("account %s\n", id.c_str());
  return 0;
}

std::string SlotString(const char* slot, size_t width) { return std::string(slot, strnlen(slot, width)); }

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// The chunks of one attachment's compressed form.
bool CompressAttachment(const std::string& path, std::string& compressed) {
  const char* made = vlOptimize(1, path.c_str(), 0, 2024);
  if (made == nullptr || made[0] == 0) return false;
  const std::string madePath = made;
  const bool ok = ReadWholeFile(madePath, compressed);
  std::error_code ec;
  fs::remove(madePath, ec);
  return ok;
}

struct Attachment {
  std::string tag;
  std::string compressed;
};

int PostMail(const std::string& folder, const std::vector<std::string>& args) {
  std::string error;
  if (!OpenMachine(folder, error)) return Fail(error);
  const std::string from = Lower(args[0]);
  const std::string to = Lower(args[1]);
  const std::string& subject = args[2];
  const std::string& text = args[3];
  if (!ValidId(from)) return Fail("bad sender id");
  if (to.size() > 46 || to.find('@') == std::string::npos) return Fail("destination must be id@machine, 46 characters at most");
  if (subject.empty() || subject.size() > 46) return Fail("subject must have 1 to 46 characters");
  if (int32_t(text.size()) > kMessageMaxLength) return Fail("message longer than 3518 characters");

  std::vector<Attachment> attachments;
  for (size_t i = 4; i < args.size(); ++i) {
    Attachment a;
    a.tag = fs::path(args[i]).filename().string();
    if (a.tag.empty() || a.tag.size() > 47) return Fail("bad attachment name " + args[i]);
    if (!CompressAttachment(args[i], a.compressed)) return Fail("cannot compress " + args[i]);
    attachments.push_back(std::move(a));
  }
  int32_t total = 1;
  for (const Attachment& a : attachments) total += int32_t((a.compressed.size() + kContentSize - 1) / kContentSize);

  MailHeader header{};
  SetSlot(header.marker, kMailMarker);
  char stamp[sizeof header.postedAt] = {};
  PostedAtText(stamp);
  pCopyMem(stamp, header.postedAt, sizeof header.postedAt);
  char sender[kPathSize] = {};
  BuildAddress(sender, from.c_str(), Config().unit.Text(UnitField::MachID));
  SetSlot(header.sender, sender);
  SetSlot(header.onlineMachineId, Config().unit.Text(UnitField::OnlineMachID));
  SetSlot(header.subject, subject.c_str());
  SetSlot(header.destination, to.c_str());
  SetSlot(header.totalBlocks, std::to_string(total).c_str());
  SetSlot(header.attachmentCount, std::to_string(attachments.size()).c_str());
  SetSlot(header.status, kStatusNew);

  char machine[kPathSize] = {};
  AddressMachinePart(to.c_str(), machine, kPathSize);
  const char* suffix = MatchMachine(Config().unit.Text(UnitField::MachID), machine) == 1 ? kLocalSuffix : kRemoteSuffix;
  char spoolPath[kPathSize] = {};
  if (ChooseFreeSpoolName(sender, header.postedAt, suffix, spoolPath) == 0) return Fail("every stamp of this minute is taken");

  std::vector<MailBlock> blocks;
  MailBlock first{};
  SetSlot(first.payload.content, text.c_str());
  SetSlot(first.payload.tag, kMessageTag);
  SetSlot(first.payload.contentLength, std::to_string(text.size()).c_str());
  vlData(1, &first.payload, kPayloadSize);
  blocks.push_back(first);
  for (const Attachment& a : attachments) {
    for (size_t at = 0; at < a.compressed.size(); at += kContentSize) {
      MailBlock b{};
      const size_t n = std::min<size_t>(kContentSize, a.compressed.size() - at);
      std::memcpy(b.payload.content, a.compressed.data() + at, n);
      SetSlot(b.payload.tag, a.tag.c_str());
      SetSlot(b.payload.contentLength, std::to_string(n).c_str());
      if (at + n == a.compressed.size()) mailui::MarkFileEnd(b.payload);
      blocks.push_back(b);
    }
  }
  for (size_t k = 0; k < blocks.size(); ++k) {
    blocks[k].header = header;
    SetSlot(blocks[k].header.blockNumber, std::to_string(k + 1).c_str());
    vlData(1, &blocks[k].header, kHeaderSize);
    if (pFileIO(1, spoolPath, BlockPosition(int32_t(k + 1)), &blocks[k], kBlockSize) != kBlockSize)
      return Fail("cannot write the spool file");
  }
  std::printf("posted %s blocks %d\n", spoolPath, total);
  return 0;
}

// One attached file of a mail as the chain carries it, still compressed.
struct ChainFile {
  std::string tag;
  std::string packed;
};

// The message and the attachments of one mail file, in the order of the
// chain: a file ends at the chunk that says so (ChunkEndsFile) or where the
// tag changes, so two files of one name stay two. Empty text when the mail
// is whole, else what is wrong with it.
std::string ReadChain(const char* mailPath, const MailHeader& entry, std::string& message,
                      std::vector<ChainFile>& files) {
  const int32_t blocks = SlotNumber(entry.totalBlocks, sizeof entry.totalBlocks);
  if (blocks < 1 || pFileSize(mailPath) != int64_t(blocks) * kBlockSize) return "mail file damaged or missing";
  bool ended = true;
  for (int32_t k = 1; k <= blocks; ++k) {
    MailBlock block{};
    if (ReadBlockHeader(mailPath, BlockPosition(k), block) != kBlockSize) return "mail file cannot be read";
    if (k == 1) {
      vlData(-1, &block.payload, kPayloadSize);
      int32_t n = SlotNumber(block.payload.contentLength, sizeof block.payload.contentLength);
      if (n < 0 || n > kMessageMaxLength) n = 0;
      message.assign(block.payload.content, size_t(n));
      continue;
    }
    const int32_t n = SlotNumber(block.payload.contentLength, sizeof block.payload.contentLength);
    if (n < 0 || n > kContentSize) return "bad chunk length in block " + std::to_string(k);
    const std::string tag = SlotString(block.payload.tag, sizeof block.payload.tag);
    if (ended || files.back().tag != tag) files.push_back({tag, std::string()});
    files.back().packed.append(block.payload.content, size_t(n));
    ended = mailui::ChunkEndsFile(block.payload) == 1;
  }
  return "";
}

// Writes and unpacks the files of one mail into outDir, each under a name
// that no earlier file of this run took. Empty text when all unpacked.
std::string SaveChainFiles(const std::vector<ChainFile>& files, const std::string& outDir,
                           std::vector<std::string>& taken) {
  std::string problems;
  for (const ChainFile& file : files) {
    char name[mailui::kMaxBareName + 1];
    mailui::SaveNameFor(file.tag.c_str(), taken, name);
    taken.push_back(name);
    const std::string target = outDir + "/" + name;
    std::ofstream(target, std::ios::binary | std::ios::trunc) << file.packed;
    const char* done = vlOptimize(-1, target.c_str(), 0, 2024);
    if (done == nullptr || done[0] == 0) problems += (problems.empty() ? "cannot decompress " : ", ") + std::string(name);
  }
  return problems;
}

// Every mail of the mailbox is read, whatever became of the one before; a
// damaged mail is named on stderr and makes the exit code 1.
int ReadMailbox(const std::string& folder, const std::string& rawId, const std::string& outDir) {
  std::string error;
  if (!OpenMachine(folder, error)) return Fail(error);
  const std::string id = Lower(rawId);
  char accountFolder[kPathSize] = {}, encoded[kNameBufferSize] = {};
  if (BuildAccountPaths(id.c_str(), accountFolder, nullptr, encoded) != 1) return Fail("bad account id");
  const std::string index = std::string(accountFolder) + "\\" + encoded + kMailboxSuffix;
  std::error_code ec;
  fs::create_directories(outDir, ec);
  const int32_t size = pFileSize(index.c_str());
  const int32_t entries = size > 0 ? size / kHeaderSize : 0;
  std::vector<std::string> taken;
  int failed = 0;
  for (int32_t i = 1; i <= entries; ++i) {
    MailHeader entry{};
    pFileIO(-1, index.c_str(), IndexEntryPosition(i), &entry, kHeaderSize);
    vlData(-1, &entry, kHeaderSize);
    char sender[sizeof entry.sender + 1], postedAt[sizeof entry.postedAt + 1];
    SlotText(entry.sender, sender);
    SlotText(entry.postedAt, postedAt);
    char mailPath[kPathSize] = {};
    std::string message;
    std::vector<ChainFile> files;
    std::string problem = BuildMailPath(accountFolder, sender, postedAt, kLocalSuffix, mailPath) == 1
                              ? ReadChain(mailPath, entry, message, files)
                              : "bad mail name";
    if (problem.empty()) {
      std::ofstream(outDir + "/mail-" + std::to_string(i) + ".txt", std::ios::binary) << message;
      problem = SaveChainFiles(files, outDir, taken);
    }
    if (!problem.empty()) {
      Fail("mail " + std::to_string(i) + ": " + problem);
      ++failed;
      continue;
    }
    std::printf("mail %d from %s subject %s attachments %zu\n", i, sender,
                SlotString(entry.subject, sizeof entry.subject).c_str(), files.size());
  }
  std::printf("mails %d\n", entries);
  return failed == 0 ? 0 : 1;
}

// The request file in the machine folder; the running program's tick takes it.
int RequestCall(const std::string& folder) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::path(folder) / "VL.INI", ec)) return Fail("no machine folder " + folder + " (no VL.INI)");
  const fs::path request = fs::path(folder) / kCallRequestName;
  std::ofstream out(request, std::ios::binary | std::ios::trunc);
  out << "asked for by vlpost --call\n";
  out.close();
  if (!out) return Fail("cannot write " + request.string());
  std::printf("call asked for: %s (taken at the machine's next tick)\n", request.string().c_str());
  return 0;
}

void Usage(FILE* to) {
  std::fprintf(to,
               "usage: vlpost --account FOLDER ID KEY\n"
               "       vlpost --post FOLDER FROMID TOADDRESS SUBJECT TEXT [ATTACHMENT...]\n"
               "       vlpost --read FOLDER ID OUTDIR\n"
               "       vlpost --call FOLDER\n"
               "       vlpost --help\n");
}

void Help() {
  Usage(stdout);
  std::printf(
      "\nPrepares and inspects the mail store of a machine folder (one made by vlinit)\n"
      "with the program's own store code, and asks a running machine for a call.\n\n"
      "  --account FOLDER ID KEY   make the account ID with key KEY (ids: 1-22 of a-z 0-9)\n"
      "  --post FOLDER FROMID TOADDRESS SUBJECT TEXT [ATTACHMENT...]\n"
      "                            post a mail from account FROMID to TOADDRESS (id@machine)\n"
      "                            into FOLDER/POST, as the writer does; attachments are\n"
      "                            compressed; the mail waits there for delivery or a call\n"
      "  --read FOLDER ID OUTDIR   extract account ID's mails into OUTDIR: each message as\n"
      "                            mail-N.txt, attachments decompressed; one line per mail\n"
      "  --call FOLDER             ask the machine running in FOLDER for a posting pass at\n"
      "                            its next 15-second tick, whatever its courier setting\n"
      "                            (writes FOLDER/CALL.NOW, which the tick takes away)\n\n"
      "Exit code 0 on success, 1 on any failure (with a message on standard error).\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "--account") return MakeAccount(args[1], args[2], args[3]);
  if (args.size() >= 6 && args[0] == "--post")
    return PostMail(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
  if (args.size() == 4 && args[0] == "--read") return ReadMailbox(args[1], args[2], args[3]);
  if (args.size() == 2 && args[0] == "--call") return RequestCall(args[1]);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    Help();
    return 0;
  }
  Usage(stderr);
  return 1;
}
