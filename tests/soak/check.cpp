#include "tests/soak/check.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "platform/unit.h"
#include "store/format.h"
#include "tests/common/programs.h"

namespace soak {
namespace {

namespace fs = std::filesystem;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The encoded mail name a stored file is named by: its name up to the first
// bracket ("N[=]", "N[~]", "N3[!]" all give N).
std::string NameStem(const std::string& file) {
  std::string stem = file.substr(0, file.find('['));
  while (!stem.empty() && stem.size() % 2 == 1) stem.pop_back();  // a set-aside number
  return stem;
}

// The mail file names the mailbox index points at.
std::set<std::string> IndexedMailFiles(const fs::path& index) {
  std::set<std::string> names;
  const std::string bytes = ReadFile(index);
  for (size_t at = 0; at + kHeaderSize <= bytes.size(); at += kHeaderSize) {
    MailHeader entry;
    bytes.copy(reinterpret_cast<char*>(&entry), kHeaderSize, at);
    vlData(-1, &entry, kHeaderSize);
    char sender[sizeof entry.sender + 1], postedAt[sizeof entry.postedAt + 1];
    SlotText(entry.sender, sender);
    SlotText(entry.postedAt, postedAt);
    char name[kNameBufferSize];
    if (BuildMailName(sender, postedAt, name) == 1) names.insert(std::string(name) + kLocalSuffix);
  }
  return names;
}

void AccountFolderLeftOvers(const fs::path& account, std::vector<fs::path>& out) {
  const std::string folderName = account.filename().string();
  const std::string e = folderName.substr(0, folderName.size() - std::string(kFolderSuffix).size());
  const std::set<std::string> own = {e + kFolderSuffix, e + kMailboxSuffix, e + kContactSuffix};
  const std::set<std::string> indexed = IndexedMailFiles(account / (e + kMailboxSuffix));
  for (const fs::directory_entry& file : fs::directory_iterator(account)) {
    const std::string name = file.path().filename().string();
    if (own.count(name) == 0 && indexed.count(name) == 0) out.push_back(file.path());
  }
}

// What `vlpost --read` said of one mailbox: every entry it read whole, with
// its count of attachments, and every entry it found damaged, with why.
struct Reading {
  int entries = 0;
  std::map<int, int> attachmentCounts;   // entry -> attachments, whole entries
  std::map<int, std::string> problems;   // entry -> what is wrong with it
  std::string failure;                   // the mailbox as a whole could not be read
};

Reading ReadMailbox(const std::string& vlpost, const fs::path& folder, const std::string& account,
                    const fs::path& out) {
  std::error_code ignored;
  fs::remove_all(out, ignored);
  std::string output;
  Reading r;
  const int code =
      programs::RunToolOutput({vlpost, "--read", folder.string(), account, out.string(), "--key", account + "key"}, output);
  std::istringstream lines(output);
  bool counted = false;
  for (std::string line; std::getline(lines, line);) {
    int entry = 0, attachments = 0, total = 0;
    char problem[512] = {};
    if (std::sscanf(line.c_str(), "mail %d from", &entry) == 1) {
      const size_t at = line.rfind(" attachments ");
      if (at != std::string::npos) attachments = std::atoi(line.c_str() + at + 13);
      r.attachmentCounts[entry] = attachments;
    } else if (std::sscanf(line.c_str(), "vlpost: mail %d: %511[^\n]", &entry, problem) == 2) {
      r.problems[entry] = problem;
    } else if (std::sscanf(line.c_str(), "mails %d", &total) == 1) {
      r.entries = total;
      counted = true;
    } else {
      r.failure += (r.failure.empty() ? "" : " / ") + line;
    }
  }
  if (!counted || (code != 0 && r.problems.empty())) r.failure = "exit code " + std::to_string(code) + ": " + r.failure;
  else r.failure.clear();
  return r;
}

// The mail a message text belongs to (0: none of this run).
int MailNumber(const std::string& text) {
  constexpr const char kPrefix[] = "soak mail ";
  if (text.rfind(kPrefix, 0) != 0) return 0;
  return std::atoi(text.c_str() + sizeof kPrefix - 1);
}

std::string Who(const MailPlan& m) {
  return "mail " + std::to_string(m.number) + " (" + m.fromAccount + "@" + char('A' + m.fromMachine) + " to " +
         m.toAccount + "@" + char('A' + m.toMachine) + ", " + std::to_string(m.attachments.size()) + " attachments)";
}

// Compares the copy of mail m found as entry `entry` of a mailbox read into
// out; empty when it is whole.
std::string CompareCopy(const MailPlan& m, const fs::path& out, int entry, int attachmentCount) {
  if (ReadFile(out / ("mail-" + std::to_string(entry) + ".txt")) != m.text) return "its text differs";
  if (attachmentCount != int(m.attachments.size()))
    return "it has " + std::to_string(attachmentCount) + " attachments, not " + std::to_string(m.attachments.size());
  for (const Attachment& a : m.attachments) {
    const fs::path file = out / a.name;
    if (!fs::exists(file)) return "attachment " + a.name + " is missing";
    const std::string bytes = ReadFile(file);
    if (bytes != a.bytes)
      return "attachment " + a.name + " differs (" + std::to_string(bytes.size()) + " bytes, not " +
             std::to_string(a.bytes.size()) + ")";
  }
  return "";
}

}  // namespace

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<fs::path> LeftOverFiles(const fs::path& folder) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (const fs::directory_entry& file : fs::directory_iterator(folder / kSpoolFolderName, ec)) out.push_back(file.path());
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory() && EndsWith(name, kFolderSuffix))
      AccountFolderLeftOvers(entry.path(), out);
    else if (name.find("[~]") != std::string::npos)
      out.push_back(entry.path());
  }
  return out;
}

Verdict Check(const std::string& vlpost, const std::vector<MailPlan>& mails, const std::vector<MachineFolder>& machines,
              const fs::path& scratch, const std::function<std::string(const std::string&)>& label) {
  Verdict v;
  std::map<int, int> copies;
  std::set<int> damaged;
  for (int machine = 0; machine < int(machines.size()); ++machine) {
    for (const std::string& account : machines[size_t(machine)].accounts) {
      const std::string where = account + "@" + machines[size_t(machine)].letter;
      const fs::path out = scratch / where;
      const Reading r = ReadMailbox(vlpost, machines[size_t(machine)].folder, account, out);
      if (!r.failure.empty()) {
        ++v.corrupted;
        v.findings.push_back("mailbox " + where + " cannot be read: " + r.failure);
      }
      for (int entry = 1; entry <= r.entries; ++entry) {
        const auto problem = r.problems.find(entry);
        const auto whole = r.attachmentCounts.find(entry);
        const std::string text = ReadFile(out / ("mail-" + std::to_string(entry) + ".txt"));
        const int n = MailNumber(text);
        const std::string place = "mailbox " + where + " entry " + std::to_string(entry);
        if (n < 1 || n > int(mails.size())) {
          // A damaged entry whose text was not even written belongs to no
          // known mail; the mail it was is then also counted lost.
          ++v.corrupted;
          v.findings.push_back(place + (problem != r.problems.end() ? " damaged: " + problem->second
                                                                    : " is no mail of this run: \"" + text.substr(0, 60) + "\""));
          continue;
        }
        const MailPlan& m = mails[size_t(n - 1)];
        if (m.toMachine != machine || m.toAccount != account) {
          ++v.corrupted;
          v.findings.push_back(Who(m) + " found in the wrong mailbox " + where);
          continue;
        }
        if (++copies[n] > 1) continue;  // its files are those of the first copy
        const std::string damage = problem != r.problems.end() ? problem->second
                                   : whole == r.attachmentCounts.end() ? std::string("not listed")
                                                                       : CompareCopy(m, out, entry, whole->second);
        if (!damage.empty()) {
          damaged.insert(n);
          ++v.corrupted;
          v.findings.push_back(Who(m) + " corrupted (" + place + "): " + damage);
        }
      }
    }
  }
  std::vector<std::string> leftOvers;
  for (const MachineFolder& machine : machines)
    for (const fs::path& file : LeftOverFiles(machine.folder)) {
      ++v.leftOver;
      const std::string name = label(NameStem(file.filename().string()));
      leftOvers.push_back(std::string("left over on ") + machine.letter + ": " +
                          fs::relative(file, machine.folder).string() + (name.empty() ? "" : " (" + name + ")"));
    }
  for (const MailPlan& m : mails) {
    const int n = copies[m.number];
    if (n == 1 && damaged.count(m.number) == 0) ++v.whole;
    if (n == 0) {
      ++v.lost;
      v.findings.push_back(Who(m) + " lost");
    } else if (n > 1) {
      v.duplicated += n - 1;
      v.findings.push_back(Who(m) + " delivered " + std::to_string(n) + " times");
    }
  }
  v.findings.insert(v.findings.end(), leftOvers.begin(), leftOvers.end());
  return v;
}

}  // namespace soak
