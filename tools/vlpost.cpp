// vlpost -- prepares and inspects a machine folder's mail store from the
// command line, with the program's own store code, so that scripted runs of
// the program (which nobody clicks) have accounts and posted mails, and so
// that what arrived can be checked. It keeps the desktop's rules: what needs
// a key there needs the same key here.
//
//   vlpost --account FOLDER ID --key KEY --control-key KEY
//       makes the account ID (key KEY) in the machine folder FOLDER, with
//       the machine's Control Key, as the console's Create does.
//   vlpost --post FOLDER FROMID TOADDRESS SUBJECT TEXT [ATTACHMENT...]
//          --key KEY [--lock KEY]
//       posts a mail from the existing account FROMID (its key KEY) to
//       TOADDRESS (id@machine) into FOLDER/POST, exactly as the writer does:
//       a local "[=]" spool file when TOADDRESS names this machine, else
//       "[@]"; --lock locks it as the writer's Lock does. A mail whose
//       minute's stamps are all taken by the sender's mails waits for the
//       next minute, so a script may post any number of mails.
//   vlpost --read FOLDER ID OUTDIR --key KEY [--lock-key KEY]...
//       extracts every mail of account ID's mailbox into OUTDIR: the message
//       as mail-N.txt and each attachment, decompressed, under its own name
//       (numbered, "name(2).ext", when an earlier one took it). A locked mail
//       is opened only with its lock key (any --lock-key given); without it
//       neither its text nor its files are written. Prints one line per
//       mail; a damaged mail is named on stderr, the others are read all the
//       same, and the exit code is then 1.
//   vlpost --call FOLDER
//       asks the machine running in FOLDER for a posting pass at its next
//       15-second tick, whatever its courier setting, as the writer's Send
//       does: the request is the file CALL.NOW, which the tick takes away.
//   vlpost --help
//
// Options may stand anywhere after the command; "--" ends them (a subject or
// text that begins with "--" follows it). A key left out is asked for on the
// terminal (not shown as it is typed) when standard input is one. Keys follow the desktop's prompts: 1 to 15
// printable characters, folded to lower case. Exit code 0 on success, 1 when
// something could not be done (a file, a damaged mail), 2 when the command
// is refused (its words, an unknown account, a wrong key); a message on
// stderr says which.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/secretfile.h"
#include "accounts/mail_common.h"
#include "config/config.h"
#include "console/helpers.h"
#include "platform/unit.h"
#include "store/format.h"
#include "store/linecost.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFailed = 1;
constexpr int kRefused = 2;
constexpr size_t kKeyLength = 15;      // the longest key the desktop's prompt takes
constexpr size_t kSubjectLength = 46;
constexpr size_t kAddressLength = 46;

int Fail(const std::string& message, int code = kFailed) {
  std::fprintf(stderr, "vlpost: %s\n", message.c_str());
  return code;
}

int Refuse(const std::string& message) { return Fail(message, kRefused); }

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return text;
}

// --- the command line --------------------------------------------------------

struct CommandLine {
  std::string command;                       // account, post, read, call, help
  std::vector<std::string> words;            // what is not an option
  std::map<std::string, std::string> keys;   // key, control-key, lock
  std::vector<std::string> lockKeys;         // --lock-key, repeatable
};

// The options each command takes besides its words.
bool TakesOption(const std::string& command, const std::string& option) {
  if (option == "key") return command == "account" || command == "post" || command == "read";
  if (option == "control-key") return command == "account";
  if (option == "lock") return command == "post";
  if (option == "lock-key") return command == "read";
  return false;
}

bool Parse(int argc, char** argv, CommandLine& line, std::string& why) {
  if (argc < 2) return why = "no command given", false;
  const std::string first = argv[1];
  if (first == "-h" || first == "--help") return line.command = "help", true;
  for (const char* command : {"account", "post", "read", "call"})
    if (first == std::string("--") + command) line.command = command;
  if (line.command.empty()) return why = "unknown command " + first, false;
  bool optionsEnded = false;  // after "--" every word is a word, "--text" too
  for (int i = 2; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--" && !optionsEnded) {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || word.rfind("--", 0) != 0) {
      line.words.push_back(word);
      continue;
    }
    std::string name = word.substr(2), value;
    const size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return why = "--" + name + " needs a value", false;
    }
    if (!TakesOption(line.command, name)) return why = "--" + line.command + " takes no --" + name, false;
    if (name == "lock-key") {
      line.lockKeys.push_back(value);
    } else if (!line.keys.emplace(name, value).second) {
      return why = "--" + name + " given twice", false;
    }
  }
  return true;
}

bool WordCountFits(const CommandLine& line) {
  const size_t n = line.words.size();
  if (line.command == "account") return n == 2;
  if (line.command == "post") return n >= 5;
  if (line.command == "read") return n == 3;
  return n == 1;  // call
}

// --- keys --------------------------------------------------------------------

// Reads one line from the terminal without showing it; false when standard
// input is no terminal (a script must give the key as an option).
bool AskHidden(const std::string& question, std::string& answer) {
  if (!InputIsTerminal()) return false;
  std::fprintf(stderr, "%s: ", question.c_str());
  std::fflush(stderr);
  const bool read = ReadHiddenLine(answer);
  std::fprintf(stderr, "\n");
  return read;
}

// A key as the desktop's prompt takes it: 1 to 15 printable characters,
// folded to lower case. Empty text when it is fine, else what is wrong.
std::string KeyProblem(const std::string& key) {
  if (key.empty()) return "is empty";
  if (key.size() > kKeyLength) return "has more than 15 characters";
  for (unsigned char c : key)
    if (c < 32 || c > 126) return "holds a character that cannot be typed";
  return "";
}

// The key given as --option, or asked for on the terminal (twice when it is
// being set); what names it in questions and refusals. false with a refusal
// message when there is none or it breaks the rules.
bool TakeKey(const CommandLine& line, const std::string& option, const std::string& what, bool setting,
             std::string& key, std::string& why) {
  auto given = line.keys.find(option);
  if (given != line.keys.end()) {
    key = given->second;
  } else if (!AskHidden(what, key)) {
    return why = "the " + what + " is needed: --" + option + " KEY (or run vlpost on a terminal to be asked)", false;
  } else if (setting) {
    std::string again;
    if (!AskHidden("confirm the " + what, again) || Lower(again) != Lower(key))
      return why = "the two keys typed differ", false;
  }
  const std::string problem = KeyProblem(key);
  if (!problem.empty()) return why = "the " + what + " " + problem, false;
  key = Lower(key);
  return true;
}

// --- the machine and its accounts -----------------------------------------------

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
  ReadRecord(config.settingsPath, config.settings);  // the line's rate, for what a mail costs on it
  fs::create_directories(absolute + "/POST", ec);
  return true;
}

bool ValidId(const std::string& id) {
  if (id.empty() || int32_t(id.size()) > kMaxIdLength) return false;
  std::string copy = id;
  return pIsChrValid(copy.data(), kIdAlphabet) == 1;
}

template <size_t N>
std::string SlotString(const char (&slot)[N]) {
  return std::string(slot, strnlen(slot, N));
}

struct Account {
  std::string id;
  char folder[kPathSize] = {};
  char file[kPathSize] = {};
  char encoded[kNameBufferSize] = {};
};

bool FindAccount(const std::string& rawId, Account& account, std::string& why) {
  account.id = Lower(rawId);
  if (!ValidId(account.id)) return why = "an account id has 1 to 22 letters a-z or digits, not '" + rawId + "'", false;
  if (BuildAccountPaths(account.id.c_str(), account.folder, account.file, account.encoded) != 1)
    return why = "bad account id", false;
  return true;
}

// The login of the console: the account must exist, be open to this machine
// and have this key (letter case aside). Empty text when it passes.
std::string LogIn(const Account& account, const std::string& key) {
  if (pFileSize(account.file) <= 0) return "account " + account.id + " does not exist";
  AccountRecord record{};
  const int32_t n = pFileIO(-1, account.file, 1, &record, kAccountRecordSize);
  if (n > 0) vlData(-1, &record, n);
  std::string problem;
  if (Lower(SlotString(record.accessMarker)) != kAccessMarker)
    problem = "account " + account.id + " cannot be accessed locally";
  else if (Lower(SlotString(record.accountKey)) != key)
    problem = "wrong account key for " + account.id;
  std::memset(&record, 0, sizeof record);
  return problem;
}

// Opens the machine and logs the account in with the key of --key (or the
// terminal); the exit code when that fails, else 0.
int OpenAccount(const CommandLine& line, const std::string& id, Account& account) {
  std::string why, key;
  if (!OpenMachine(line.words[0], why)) return Fail(why);
  if (!FindAccount(id, account, why)) return Refuse(why);
  if (!TakeKey(line, "key", "account key of " + account.id, false, key, why)) return Refuse(why);
  why = LogIn(account, key);
  return why.empty() ? 0 : Refuse(why);
}

int MakeAccount(const CommandLine& line) {
  std::string why, key, controlKey;
  if (!OpenMachine(line.words[0], why)) return Fail(why);
  Account account;
  if (!FindAccount(line.words[1], account, why)) return Refuse(why);
  if (pFileSize(account.file) > 0) return Refuse("account " + account.id + " exists");
  if (!TakeKey(line, "control-key", "Control Key of this machine", false, controlKey, why)) return Refuse(why);
  if (Lower(Config().unit.Text(UnitField::ControlKey)) != controlKey)
    return Refuse("wrong Control Key: accounts are made with the machine's Control Key");
  if (!TakeKey(line, "key", "account key for " + account.id, true, key, why)) return Refuse(why);
  std::string posixFolder = account.folder;
  for (char& c : posixFolder)
    if (c == '\\') c = '/';
  std::error_code ec;
  fs::create_directories(posixFolder, ec);
  if (ec) return Fail("cannot make " + posixFolder);

  AccountRecord record{};
  SetSlot(record.accountId, account.id.c_str());
  SetSlot(record.accountKey, key.c_str());
  SetSlot(record.userName, account.id.c_str());
  SetSlot(record.fixedZero, "0");
  SetSlot(record.encodedId, account.encoded);
  SetSlot(record.accessMarker, kAccessMarker);
  vlData(1, &record, kAccountRecordSize);
  const bool written = pFileIO(1, account.file, 1, &record, kAccountRecordSize) == kAccountRecordSize;
  std::memset(&record, 0, sizeof record);
  if (!written) return Fail("cannot write the account file");

  ConfigRecord& unit = Config().unit;
  unit.SetNumber(UnitField::AccountCount, unit.Number(UnitField::AccountCount) + 1);
  WriteRecord(Config().unitPath, unit);
  std::printf("account %s\n", account.id.c_str());
  return 0;
}

// --- posting -------------------------------------------------------------------

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

// What the mail will be, checked before anything is written.
struct Draft {
  std::string from, to, subject, text, lockKey;
  std::vector<Attachment> attachments;
};

bool ReadDraft(const CommandLine& line, const Account& sender, Draft& draft, std::string& why) {
  draft.from = sender.id;
  draft.to = Lower(line.words[2]);
  draft.subject = line.words[3];
  draft.text = line.words[4];
  if (draft.to.size() > kAddressLength || draft.to.find('@') == std::string::npos)
    return why = "destination must be id@machine, 46 characters at most", false;
  if (draft.subject.empty() || draft.subject.size() > kSubjectLength)
    return why = "subject must have 1 to 46 characters", false;
  if (int32_t(draft.text.size()) > kMessageMaxLength) return why = "message longer than 3518 characters", false;
  if (line.keys.count("lock") && !TakeKey(line, "lock", "lock key", false, draft.lockKey, why)) return false;
  for (size_t i = 5; i < line.words.size(); ++i) {
    Attachment a;
    a.tag = fs::path(line.words[i]).filename().string();
    if (a.tag.empty() || a.tag.size() > size_t(mailui::kMaxBareName))
      return why = "bad attachment name " + line.words[i], false;
    if (!CompressAttachment(line.words[i], a.compressed)) return why = "cannot compress " + line.words[i], false;
    char cost[160];
    LineCostText(int64_t(a.compressed.size()), Config().settings.Number(SettingsField::Baud), cost, sizeof cost);
    std::printf("attachment %s: %s\n", a.tag.c_str(), cost);
    draft.attachments.push_back(std::move(a));
  }
  int64_t chain = 1;
  for (const Attachment& a : draft.attachments) chain += AttachmentBlocks(int64_t(a.compressed.size()));
  if (chain > MailLimitBlocks()) {
    char limit[64];
    MailLimitText(limit, sizeof limit);
    return why = std::string("the mail would be larger than ") + limit + "; not posted", false;
  }
  return true;
}

// Sleeps until just past the start of the next minute of the clock.
void WaitForNextMinute() {
  using namespace std::chrono;
  const auto next = floor<minutes>(system_clock::now()) + minutes(1) + milliseconds(50);
  std::this_thread::sleep_until(next);
}

// The spool path and stamp of a new mail of sender: this minute's stamp or
// one of its variants. A sender whose mails took every variant of this minute
// waits for the next one: the stamp stays the time of posting and every name
// stays one the receivers and the stores already know.
bool ClaimSpoolName(const char* sender, const char* suffix, char* postedAt, char* spoolPath) {
  for (bool told = false;; told = true) {
    pClrMem(postedAt, sizeof(MailHeader::postedAt));
    PostedAtText(postedAt);
    if (!BuildMailPath(Config().spoolPath, sender, postedAt, suffix, spoolPath)) return false;
    if (ChooseFreeSpoolName(sender, postedAt, suffix, spoolPath) != 0) return true;
    if (!told)
      std::fprintf(stderr, "vlpost: every stamp of %s is taken by mails of %s; waiting for the next minute\n",
                   postedAt, sender);
    WaitForNextMinute();
  }
}

MailHeader HeaderFor(const Draft& draft, const char* sender, int32_t total) {
  MailHeader header{};
  SetSlot(header.marker, kMailMarker);
  SetSlot(header.sender, sender);
  SetSlot(header.onlineMachineId, Config().unit.Text(UnitField::OnlineMachID));
  SetSlot(header.subject, draft.subject.c_str());
  SetSlot(header.destination, draft.to.c_str());
  SetSlot(header.lockKey, draft.lockKey.c_str());
  SetSlot(header.totalBlocks, std::to_string(total).c_str());
  SetSlot(header.attachmentCount, std::to_string(draft.attachments.size()).c_str());
  SetSlot(header.status, kStatusNew);
  return header;
}

// The message block and one block per chunk of each attachment, headers
// still to be filled.
std::vector<MailBlock> BlocksFor(const Draft& draft) {
  std::vector<MailBlock> blocks(1);
  BlockPayload& first = blocks[0].payload;
  SetSlot(first.content, draft.text.c_str());
  SetSlot(first.tag, kMessageTag);
  SetSlot(first.contentLength, std::to_string(draft.text.size()).c_str());
  vlData(1, &first, kPayloadSize);
  for (const Attachment& a : draft.attachments) {
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
  return blocks;
}

// Block by block in order, so the file is complete only once the last one is
// in; a chain that could not be written whole is taken away again.
bool WriteChain(std::vector<MailBlock>& blocks, const MailHeader& header, const char* spoolPath) {
  for (size_t k = 0; k < blocks.size(); ++k) {
    blocks[k].header = header;
    SetSlot(blocks[k].header.blockNumber, std::to_string(k + 1).c_str());
    vlData(1, &blocks[k].header, kHeaderSize);
    if (pFileIO(1, spoolPath, BlockPosition(int32_t(k + 1)), &blocks[k], kBlockSize) != kBlockSize) {
      pFileDel(spoolPath);
      return false;
    }
  }
  return true;
}

int PostMail(const CommandLine& line) {
  Account account;
  if (int refused = OpenAccount(line, line.words[1], account)) return refused;
  Draft draft;
  std::string why;
  if (!ReadDraft(line, account, draft, why)) return Refuse(why);
  std::vector<MailBlock> blocks = BlocksFor(draft);

  char sender[kPathSize] = {};
  BuildAddress(sender, draft.from.c_str(), Config().unit.Text(UnitField::MachID));
  char machine[kPathSize] = {};
  AddressMachinePart(draft.to.c_str(), machine, kPathSize);
  const char* suffix = MatchMachine(Config().unit.Text(UnitField::MachID), machine) == 1 ? kLocalSuffix : kRemoteSuffix;
  MailHeader header = HeaderFor(draft, sender, int32_t(blocks.size()));
  char spoolPath[kPathSize] = {};
  if (!ClaimSpoolName(sender, suffix, header.postedAt, spoolPath)) return Fail("spool path too long");
  if (!WriteChain(blocks, header, spoolPath)) return Fail("cannot write the spool file");
  std::printf("posted %s blocks %zu\n", spoolPath, blocks.size());
  return 0;
}

// --- reading -------------------------------------------------------------------

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
    const std::string tag = SlotString(block.payload.tag);
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

// A mail without a lock, or one whose lock key was given (letter case aside).
bool MayOpen(const MailHeader& entry, const std::vector<std::string>& lockKeys) {
  const std::string lock = Lower(SlotString(entry.lockKey));
  if (lock.empty()) return true;
  for (const std::string& key : lockKeys)
    if (Lower(key) == lock) return true;
  return false;
}

// Every mail of the mailbox is read, whatever became of the one before; a
// damaged mail is named on stderr and makes the exit code 1. A locked mail
// whose key was not given is listed, and nothing of it is written.
int ReadMailbox(const CommandLine& line) {
  Account account;
  if (int refused = OpenAccount(line, line.words[1], account)) return refused;
  const std::string& outDir = line.words[2];
  const std::string index = std::string(account.folder) + "\\" + account.encoded + kMailboxSuffix;
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
    const std::string sender = SlotString(entry.sender), subject = SlotString(entry.subject);
    if (!MayOpen(entry, line.lockKeys)) {
      std::printf("mail %d from %s subject %s locked: not opened without its --lock-key\n", i, sender.c_str(),
                  subject.c_str());
      continue;
    }
    char mailPath[kPathSize] = {};
    std::string message;
    std::vector<ChainFile> files;
    std::string problem =
        BuildMailPath(account.folder, sender.c_str(), SlotString(entry.postedAt).c_str(), kLocalSuffix, mailPath) == 1
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
    std::printf("mail %d from %s subject %s attachments %zu\n", i, sender.c_str(), subject.c_str(), files.size());
  }
  std::printf("mails %d\n", entries);
  return failed == 0 ? 0 : kFailed;
}

// --- a call --------------------------------------------------------------------

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
               "usage: vlpost --account FOLDER ID --key KEY --control-key KEY\n"
               "       vlpost --post FOLDER FROMID TOADDRESS SUBJECT TEXT [ATTACHMENT...] --key KEY [--lock KEY]\n"
               "       vlpost --read FOLDER ID OUTDIR --key KEY [--lock-key KEY]...\n"
               "       vlpost --call FOLDER\n"
               "       vlpost --help\n");
}

void Help() {
  Usage(stdout);
  std::printf(
      "\nPrepares and inspects the mail store of a machine folder (one made by vlinit)\n"
      "with the program's own store code, and asks a running machine for a call.\n"
      "What needs a key on the desktop needs the same key here.\n\n"
      "  --account FOLDER ID     make the account ID (1-22 of a-z 0-9) with key --key;\n"
      "                          needs the machine's --control-key\n"
      "  --post FOLDER FROMID TOADDRESS SUBJECT TEXT [ATTACHMENT...]\n"
      "                          post a mail from the account FROMID (its --key) to\n"
      "                          TOADDRESS (id@machine) into FOLDER/POST, as the writer\n"
      "                          does; attachments are compressed; --lock KEY locks it.\n"
      "                          A sender's 28th mail of one minute waits for the next\n"
      "                          minute (every stamp of this one is taken)\n"
      "  --read FOLDER ID OUTDIR extract account ID's mails (its --key) into OUTDIR: each\n"
      "                          message as mail-N.txt, attachments decompressed; one\n"
      "                          line per mail; a locked mail only with --lock-key KEY\n"
      "                          (repeatable)\n"
      "  --call FOLDER           ask the machine running in FOLDER for a posting pass at\n"
      "                          its next 15-second tick, whatever its courier setting\n"
      "                          (writes FOLDER/CALL.NOW, which the tick takes away)\n\n"
      "Options may stand anywhere after the command; words after -- are never taken\n"
      "for options. Keys have 1 to 15 characters; letter case does not count. A key\n"
      "left out is asked for on the terminal, not shown. Exit code 0 on success, 1\n"
      "when something could not be done, 2 when the command is refused (wrong words,\n"
      "an unknown account, a wrong key); a message on standard error says which.\n");
}

}  // namespace

int main(int argc, char** argv) {
  MakeNewFilesPrivate();  // accounts, mails and what --read extracts are the owner's alone
  CommandLine line;
  std::string why;
  if (!Parse(argc, argv, line, why) || (line.command != "help" && !WordCountFits(line))) {
    if (!why.empty()) std::fprintf(stderr, "vlpost: %s\n", why.c_str());
    Usage(stderr);
    return kRefused;
  }
  if (line.command == "help") return Help(), 0;
  if (line.command == "account") return MakeAccount(line);
  if (line.command == "post") return PostMail(line);
  if (line.command == "read") return ReadMailbox(line);
  return RequestCall(line.words[0]);
}
