// What the extended protocol needs from the machine's keys: its own key, the
// machines it knows, and the machines that once proved their key here.
#include <sodium.h>

#include <cstring>

#include "config/config.h"
#include "link/extended.h"
#include "link/internal.h"
#include "store/journal.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

constexpr const char* kPinnedName = "PINNED.TXT";
constexpr int32_t kPinnedLimit = 65536;  // bytes of PINNED.TXT read

// The sender MachID of an announce, as text.
void AnnouncedSender(const TransferAnnounce& announce, char (&id)[kMachineSlotSize + 1]) {
  pClrMem(id, sizeof id);
  AppendSlot(announce.senderMachId, sizeof announce.senderMachId, id, sizeof id);
}

}  // namespace

bool LoadOwnKey(MachineKey& key) {
  char path[kPathSize];
  return BuildJournalPath(kMachineKeyName, path) == 1 && LoadMachineKey(path, key) == kKeyRead;
}

void LoadKnown(KnownMachines& known) {
  char path[kPathSize];
  KnownProblem problem{};
  known.count = 0;
  if (BuildJournalPath(kKnownMachinesName, path) != 1) return;
  if (LoadKnownMachines(path, known, problem) == kKnownRefused) {
    StatusNew("KNOWN.TXT refused (line ");
    StatusAddNumber(uint32_t(problem.line));
    StatusAdd("): ");
    StatusAdd(problem.reason);
  }
}

bool IsPinned(const char* machineId) {
  char path[kPathSize];
  if (BuildJournalPath(kPinnedName, path) != 1) return false;
  const int32_t size = pFileSize(path);
  if (size <= 0) return false;
  static char text[kPinnedLimit + 1];
  const int32_t got = pFileIO(-1, path, 1, text, size < kPinnedLimit ? size : kPinnedLimit);
  text[got > 0 ? got : 0] = 0;
  for (char* line = text; *line != 0;) {
    char* end = std::strchr(line, '\n');
    if (end != nullptr) *end = 0;
    // Either way round: "0401" must not slip past a pinned "401".
    if (*line != 0 && (MatchMachine(line, machineId) == 1 || MatchMachine(machineId, line) == 1)) return true;
    if (end == nullptr) break;
    line = end + 1;
  }
  return false;
}

void Pin(const char* machineId) {
  if (IsPinned(machineId)) return;
  char path[kPathSize];
  if (BuildJournalPath(kPinnedName, path) != 1) return;
  const int32_t size = pFileSize(path);
  char line[kMachineSlotSize + 2] = {};
  AppendText(machineId, line, kMachineSlotSize);
  AppendText("\n", line, sizeof line);
  if (pFileIO(1, path, size > 0 ? size + 1 : 1, line, pLen(line)) != pLen(line)) StatusAdd(" (PINNED.TXT not written)");
}

const char* UnauthenticatedRefusal(const TransferAnnounce& announce) {
  if (AcceptsPlainCallers(Config().settings) != 1) return "Call refused: this machine takes no call without a key";
  char sender[kMachineSlotSize + 1];
  AnnouncedSender(announce, sender);
  if (IsPinned(sender)) return "Call refused: its machine has proved a key here and called without it";
  return nullptr;
}
