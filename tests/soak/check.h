// The verdict of a soak run, read from the two machine folders once both
// programs have stopped: every mail must sit exactly once in its recipient's
// mailbox with its text and attachments byte for byte, and no spool, part or
// set-aside file may be left anywhere.
#pragma once
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/soak/plan.h"

namespace soak {

struct Verdict {
  int whole = 0;        // mails found exactly once, undamaged, in their mailbox
  int lost = 0;
  int duplicated = 0;   // extra copies
  int corrupted = 0;    // text, attachment or mailbox damaged, or a mail in the wrong mailbox
  int leftOver = 0;     // files
  std::vector<std::string> findings;  // one line per problem
};

struct MachineFolder {
  std::filesystem::path folder;
  char letter;
  std::vector<std::string> accounts;  // each one's key is its id followed by "key"
};

// Reads every account's mailbox with `vlpost --read` (into scratch) and looks
// through the folders; a mail's toMachine indexes machines. label names a
// file by the mail it holds (empty: unknown).
Verdict Check(const std::string& vlpost, const std::vector<MailPlan>& mails, const std::vector<MachineFolder>& machines,
              const std::filesystem::path& scratch, const std::function<std::string(const std::string&)>& label);

// The whole file (empty when it cannot be read).
std::string ReadFile(const std::filesystem::path& path);

// Files that hold no finished mail in a machine folder: everything in POST,
// anything named as a part, and files of an account folder that are neither
// its account file, index, contact book nor one of its index's mail files.
std::vector<std::filesystem::path> LeftOverFiles(const std::filesystem::path& folder);

}  // namespace soak
