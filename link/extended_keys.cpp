// What the extended protocol needs from the machine's keys: its own key, the
// machines it knows, and the machines that once proved their key here.
//
// Key files are held to what ssh holds its own to: a MACHINE.KEY that others
// may read, or a KNOWN.TXT that others may write, is refused (with what to
// fix), and a refusal never loosens what a call must prove. A machine whose
// list of known machines is refused takes no call without a key and calls
// nobody; a machine whose own key is refused cannot prove it.
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

bool IsIdCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// A machine id as a telephone number: one leading trunk "0" or international
// "+" does not count (as when a destination is matched).
const char* Significant(const char* id) { return id[0] == '0' || id[0] == '+' ? id + 1 : id; }

void ShowKeyFileProblem(const char* name, const char* problem) {
  StatusNew(name);
  StatusAdd(" refused: ");
  StatusAdd(problem);
}

}  // namespace

bool IsValidMachineId(const char* id) {
  const int32_t length = pLen(id);
  if (length < 1 || length > kMachineIdLimit) return false;
  for (int32_t i = 0; i < length; ++i)
    if (!IsIdCharacter(id[i]) && !(i == 0 && id[i] == '+' && length > 1)) return false;
  return true;
}

bool IsValidMachineSlot(const char* slot, int32_t width) {
  const int32_t length = SlotTextLength(slot, width);
  if (length < 1) return false;
  for (int32_t i = length; i < width; ++i)
    if (slot[i] != 0) return false;  // nothing hides behind the terminator
  char id[kMachineSlotSize + 1] = {};
  AppendSlot(slot, width, id, sizeof id);
  return IsValidMachineId(id);
}

bool SameMachine(const char* a, const char* b) {
  if (!IsValidMachineId(a) || !IsValidMachineId(b)) return false;
  return pCmp(Significant(a), Significant(b)) == 1;
}

const char* LoadOwnKey(MachineKey& key) {
  sodium_memzero(&key, sizeof key);
  char path[kPathSize];
  if (BuildJournalPath(kMachineKeyName, path) != 1) return "this machine has no key";
  const int32_t sharing = tkFileSharing(path);
  if (sharing < 0) return "this machine has no key";
  if ((sharing & kSharedRead) != 0) {
    ShowKeyFileProblem(kMachineKeyName, "others than its owner may read it (chmod 600 MACHINE.KEY)");
    return "this machine's key is readable by others (chmod 600 MACHINE.KEY)";
  }
  if (LoadMachineKey(path, key) == kKeyRead) return nullptr;
  ShowKeyFileProblem(kMachineKeyName, "damaged (vlinit --make-key makes a new one)");
  return "this machine's key is damaged";
}

int32_t LoadKnown(KnownMachines& known) {
  char path[kPathSize];
  KnownProblem problem{};
  known.count = 0;
  if (BuildJournalPath(kKnownMachinesName, path) != 1) return kKnownNone;
  const int32_t sharing = tkFileSharing(path);
  if (sharing > 0 && (sharing & kSharedWrite) != 0) {
    ShowKeyFileProblem(kKnownMachinesName, "others than its owner may write it (chmod go-w KNOWN.TXT)");
    return kKnownRefused;
  }
  const int32_t loaded = LoadKnownMachines(path, known, problem);
  if (loaded == kKnownRefused) {
    StatusNew("KNOWN.TXT refused (line ");
    StatusAddNumber(uint32_t(problem.line));
    StatusAdd("): ");
    StatusAdd(problem.reason);
  }
  return loaded;
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
    if (SameMachine(line, machineId)) return true;
    if (end == nullptr) break;
    line = end + 1;
  }
  return false;
}

void Pin(const char* machineId) {
  if (!IsValidMachineId(machineId) || IsPinned(machineId)) return;
  char path[kPathSize];
  if (BuildJournalPath(kPinnedName, path) != 1) return;
  const int32_t size = pFileSize(path);
  char line[kMachineSlotSize + 2] = {};
  AppendText(machineId, line, kMachineSlotSize);
  AppendText("\n", line, sizeof line);
  if (pFileIO(1, path, size > 0 ? size + 1 : 1, line, pLen(line)) != pLen(line)) StatusAdd(" (PINNED.TXT not written)");
}

bool IsKnownMachine(const KnownMachines& known, const char* machineId) {
  for (int32_t i = 0; i < known.count; ++i)
    if (SameMachine(known.machines[i].id, machineId)) return true;
  return false;
}

const char* UnauthenticatedRefusal(const TransferAnnounce& announce) {
  if (AcceptsPlainCallers(Config().settings) != 1) return "Call refused: this machine takes no call without a key";
  if (!IsValidMachineSlot(announce.senderMachId, sizeof announce.senderMachId))
    return "Call refused: the caller's machine id is not a machine id";
  char sender[kMachineSlotSize + 1];
  AnnouncedSender(announce, sender);
  KnownMachines known;
  if (LoadKnown(known) == kKnownRefused) return "Call refused: KNOWN.TXT is refused, so no call without a key is taken";
  if (IsKnownMachine(known, sender) || IsPinned(sender))
    return "Call refused: its machine has a key here and called without it";
  return nullptr;
}
