// Routes, hubs and the relay field (link/routes.h).
#include "link/routes.h"

#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "link/extended.h"
#include "link/internal.h"
#include "link/link.h"
#include "store/journal.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

constexpr char kNoteMagic[4] = {'V', 'L', 'R', '^'};
constexpr int32_t kNoteBytes = 5;

void OwnMachine(char (&own)[kMachineSlotSize + 1]) {
  pClrMem(own, sizeof own);
  AppendSlot(Config().unit.Text(UnitField::MachID), UnitField::MachID.width, own, sizeof own);
}

// A pattern: a machine id, or a prefix of one (possibly empty) and a final "*".
bool IsSoundPattern(const char* word) {
  const int32_t length = pLen(word);
  if (length < 1 || length > kMaxIdLength) return false;
  if (word[length - 1] != '*') return IsValidMachineId(word);
  char prefix[kMachineSlotSize] = {};
  pCopyMem(word, prefix, length - 1);
  return length == 1 || (std::strchr(prefix, '*') == nullptr && IsValidMachineId(prefix));
}

bool IsPattern(const char* pattern) { return pattern[0] != 0 && pattern[pLen(pattern) - 1] == '*'; }

// The blank-separated words of one line (a "#" ends it), folded to lower
// case as every typed id is; false when a word is longer than any id.
bool SplitWords(std::string line, std::vector<std::string>& words) {
  words.clear();
  const size_t hash = line.find('#');
  if (hash != std::string::npos) line.resize(hash);
  size_t at = 0;
  while ((at = line.find_first_not_of(" \t\r", at)) != std::string::npos) {
    const size_t end = line.find_first_of(" \t\r", at);
    std::string word = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (word.size() > size_t(kMaxIdLength)) return false;
    for (char& c : word)
      if (c >= 'A' && c <= 'Z') c = char(c + 32);
    words.push_back(word);
    at = end;
  }
  return true;
}

const char* LineRefusal(const std::vector<std::string>& words, int32_t columns, const RouteTable& table) {
  if (int32_t(words.size()) != columns)
    return columns == 2 ? "a route is a destination (or pattern) and the machine to dial" : "one machine id a line";
  if (columns == 1 ? !IsValidMachineId(words[0].c_str()) : !IsSoundPattern(words[0].c_str()))
    return columns == 1 ? "not a machine id" : "not a machine id nor a pattern ending in *";
  if (columns == 2 && !IsValidMachineId(words[1].c_str())) return "the machine to dial is not a machine id";
  for (int32_t i = 0; i < table.count; ++i)
    if (pCmp(table.routes[i].pattern, words[0].c_str()) == 1) return "listed twice";
  if (table.count >= kRouteLimit) return "more lines than a route file may hold";
  return nullptr;
}

bool Refuse(RouteTable& table, RouteProblem& problem, int32_t line, const char* reason) {
  table.count = 0;
  problem = {line, reason};
  return false;
}

// POST\<stem>[^] for the spool file POST\<stem>[@].
bool RelayNotePath(const char* spoolPath, char* path) {
  const int32_t stem = pLen(spoolPath) - pLen(kRemoteSuffix);
  pClrMem(path, kPathSize);
  if (stem <= 0 || pCmp(spoolPath + stem, kRemoteSuffix) != 1) return false;
  pCopyMem(spoolPath, path, stem);
  return AppendBounded(kRelayNoteSuffix, path, kPathSize) == 1;
}

int32_t ReadRelayNote(const char* spoolPath) {
  char path[kPathSize], note[kNoteBytes];
  if (!RelayNotePath(spoolPath, path) || pFileSize(path) != kNoteBytes ||
      pFileIO(-1, path, 1, note, kNoteBytes) != kNoteBytes || std::memcmp(note, kNoteMagic, sizeof kNoteMagic) != 0)
    return kRelayHopLimit;
  const int32_t hops = uint8_t(note[4]);
  return hops > kRelayHopLimit ? kRelayHopLimit : hops;
}

bool WriteRelayNote(const char* spoolPath, int32_t hops) {
  char path[kPathSize], note[kNoteBytes];
  if (!RelayNotePath(spoolPath, path)) return false;
  std::memcpy(note, kNoteMagic, sizeof kNoteMagic);
  note[4] = char(hops);
  pFileDel(path);
  return pFileIO(1, path, 1, note, kNoteBytes) == kNoteBytes;
}

// The machine part of a header's sender, into out (kPathSize); false when none.
bool SenderMachine(const MailHeader& header, char* out) {
  char sender[sizeof header.sender + 1];
  SlotText(header.sender, sender);
  return AddressMachinePart(sender, out, kPathSize) == 1;
}

bool NamesExactly(const RouteTable& table, const char* machineId) {
  for (int32_t i = 0; i < table.count; ++i)
    if (!IsPattern(table.routes[i].pattern) && SameMachine(table.routes[i].pattern, machineId)) return true;
  return false;
}

// POST\name into path (kPathSize).
bool InSpoolFolder(const std::string& name, char* path) {
  pClrMem(path, kPathSize);
  return AppendBounded(Config().spoolPath, path, kPathSize) && AppendBounded("\\", path, kPathSize) &&
         AppendBounded(name.c_str(), path, kPathSize);
}

}  // namespace

bool ParseRouteLines(const char* text, int32_t length, int32_t columns, RouteTable& table, RouteProblem& problem) {
  table.count = 0;
  problem = {0, ""};
  std::vector<std::string> words;
  int32_t lineNumber = 0;
  for (int32_t at = 0; at < length;) {
    const char* end = static_cast<const char*>(std::memchr(text + at, '\n', size_t(length - at)));
    const int32_t stop = end == nullptr ? length : int32_t(end - text);
    const std::string line(text + at, size_t(stop - at));
    ++lineNumber;
    at = stop + 1;
    if (line.find('\0') != std::string::npos) return Refuse(table, problem, lineNumber, "a zero byte");
    if (!SplitWords(line, words)) return Refuse(table, problem, lineNumber, "a word longer than a machine id");
    if (words.empty()) continue;
    if (const char* why = LineRefusal(words, columns, table)) return Refuse(table, problem, lineNumber, why);
    Route& route = table.routes[table.count++];
    SetSlot(route.pattern, words[0].c_str());
    SetSlot(route.next, columns == 2 ? words[1].c_str() : "");
  }
  return true;
}

int32_t LoadRouteFile(const char* fileName, int32_t columns, RouteTable& table) {
  table.count = 0;
  char path[kPathSize];
  if (BuildJournalPath(fileName, path) != 1) return kRoutesNone;
  const int32_t size = pFileSize(path);
  if (size == -1) return kRoutesNone;
  RouteProblem problem{0, ""};
  std::vector<char> text(size_t(kRouteFileLimit) + 1, 0);
  const int32_t sharing = tkFileSharing(path);
  if (sharing > 0 && (sharing & kSharedWrite) != 0)
    problem.reason = "others than its owner may write it (chmod go-w)";
  else if (size > kRouteFileLimit)
    problem.reason = "larger than 64 KiB";
  else if (pFileIO(-1, path, 1, text.data(), size) != size)
    problem.reason = "it cannot be read";
  else if (ParseRouteLines(text.data(), size, columns, table, problem))
    return kRoutesRead;
  table.count = 0;
  StatusNew(fileName);
  StatusAdd(" refused");
  if (problem.line > 0) {
    StatusAdd(" (line ");
    StatusAddNumber(uint32_t(problem.line));
    StatusAdd(")");
  }
  StatusAdd(": ");
  StatusAdd(problem.reason);
  return kRoutesRefused;
}

const Route* FindRoute(const RouteTable& table, const char* destination) {
  if (!IsValidMachineId(destination)) return nullptr;
  const Route* best = nullptr;
  int32_t bestLength = -1;
  for (int32_t i = 0; i < table.count; ++i) {
    const Route& route = table.routes[i];
    if (!IsPattern(route.pattern)) {
      if (SameMachine(route.pattern, destination)) return &route;
      continue;
    }
    const int32_t prefix = pLen(route.pattern) - 1;
    if (prefix > bestLength && std::strncmp(route.pattern, destination, size_t(prefix)) == 0) {
      best = &route;
      bestLength = prefix;
    }
  }
  return best;
}

void WriteRelayField(TransferAnnounce& announce, int32_t hops, const char* origin) {
  char* at = reinterpret_cast<char*>(&announce) + kRelayFieldOffset;
  pClrMem(at, kAnnounceSize - kRelayFieldOffset);
  std::memcpy(at, kRelayMagic, sizeof kRelayMagic);
  at[kRelayHopsAt] = char(hops);
  AppendText(origin, at + kRelayOriginAt, kMachineSlotSize);
}

bool ReadRelayField(const TransferAnnounce& announce, RelayField& field) {
  const char* at = reinterpret_cast<const char*>(&announce) + kRelayFieldOffset;
  if (std::memcmp(at, kRelayMagic, sizeof kRelayMagic) != 0) return false;
  if (!IsValidMachineSlot(at + kRelayOriginAt, kMachineSlotSize)) return false;
  field.hops = uint8_t(at[kRelayHopsAt]);
  pClrMem(field.origin, kMachineSlotSize);
  AppendSlot(at + kRelayOriginAt, kMachineSlotSize, field.origin, kMachineSlotSize);
  return true;
}

void PlanRelay(const char* spoolPath, const MailHeader& first, const char* destination, RelayPlan& plan) {
  pClrMem(&plan, sizeof plan);
  AppendText(destination, plan.via, kMachineSlotSize);
  RouteTable routes;
  if (LoadRouteFile(kRoutesName, 2, routes) == kRoutesRead)
    if (const Route* route = FindRoute(routes, destination))
      if (!SameMachine(route->next, destination)) {
        pClrMem(plan.via, kMachineSlotSize);
        AppendText(route->next, plan.via, kMachineSlotSize);
        plan.routed = 1;
      }
  char own[kMachineSlotSize + 1], origin[kPathSize];
  OwnMachine(own);
  const bool named = SenderMachine(first, origin) && IsValidMachineId(origin);
  plan.relayed = named && !SameMachine(origin, own) && pCmp(origin, own) != 1 ? 1 : 0;
  AppendText(plan.relayed == 1 ? origin : own, plan.origin, kMachineSlotSize);
  plan.hops = plan.relayed == 1 ? ReadRelayNote(spoolPath) : 0;
}

bool RelayNeedsFrames(const RelayPlan& plan) { return plan.routed == 1 || plan.relayed == 1; }

bool AddRelayField(TransferAnnounce& announce, const RelayPlan& plan) {
  if (!RelayNeedsFrames(plan)) return true;
  if (!ExtendedEnabled()) return false;
  WriteRelayField(announce, plan.hops, plan.origin);
  return true;
}

void RemoveOrphanRelayNotes() {
  char note[kPathSize], spool[kPathSize], part[kPathSize];
  const int32_t suffix = pLen(kRelayNoteSuffix);
  for (const std::string& name : ListSpoolFiles(kRelayNoteSuffix)) {
    const std::string stem = name.substr(0, name.size() - size_t(suffix));
    if (InSpoolFolder(name, note) && InSpoolFolder(stem + kRemoteSuffix, spool) &&
        InSpoolFolder(stem + kPartSuffix, part) && pFileSize(spool) == -1 && pFileSize(part) == -1)
      pFileDel(note);
  }
}

bool IsForRelay(const TransferAnnounce& announce) {
  char own[kMachineSlotSize + 1], machine[sizeof announce.destinationMachine + 1];
  OwnMachine(own);
  SlotText(announce.destinationMachine, machine);
  return MatchMachine(own, machine) != 1;
}

bool MayRelayTo(const char* machineId) {
  if (!ExtendedEnabled() || !IsValidMachineId(machineId)) return false;
  RouteTable routes;
  return LoadRouteFile(kRoutesName, 2, routes) == kRoutesRead && FindRoute(routes, machineId) != nullptr;
}

const char* TakeMailToRelay(const TransferAnnounce& announce, bool authenticated, const char* spoolPath) {
  if (!IsForRelay(announce)) return nullptr;
  char caller[kMachineSlotSize + 1] = {}, own[kMachineSlotSize + 1];
  AppendSlot(announce.senderMachId, sizeof announce.senderMachId, caller, sizeof caller);
  OwnMachine(own);
  RouteTable routes;
  const bool served = LoadRouteFile(kRoutesName, 2, routes) == kRoutesRead && NamesExactly(routes, caller);
  if (!authenticated && !served)
    return "Mail refused: this machine relays only for machines that prove their key or that ROUTES.TXT names";
  RelayField field{0, {}};
  const bool named = ReadRelayField(announce, field);
  if (named && field.hops >= kRelayHopLimit) return "Mail refused: it has passed as many hubs as a mail may";
  if (named && SameMachine(field.origin, own)) return "Mail refused: it comes back to its origin (a circle of routes)";
  MailDigest waiting;
  if (pFileSize(spoolPath) != -1 && DigestFile(spoolPath, waiting) == 1) {
    ExtendedOffer offer;
    if (!ReadOffer(announce, offer) || SameDigest(waiting, offer.digest) != 1)
      return "Mail refused: another mail of its name waits here to be relayed";
  }
  if (!WriteRelayNote(spoolPath, (named ? field.hops : 0) + 1))
    return "Mail not received: its relay note could not be written to POST (disk full?)";
  return nullptr;
}

bool RelayedByNamedHub(const TransferAnnounce& announce, const char* senderMachine, const char* caller) {
  RelayField field{0, {}};
  if (Link().xreceive.callFramed != 1 || !ReadRelayField(announce, field)) return false;
  if (field.hops < 1 || field.hops > kRelayHopLimit || pCmp(field.origin, senderMachine) != 1) return false;
  RouteTable hubs;
  return LoadRouteFile(kHubsName, 1, hubs) == kRoutesRead && FindRoute(hubs, caller) != nullptr;
}
