// Tries again by itself: the table of destinations that a pass could not
// reach, each with its failures in a row and the time of its next try (see
// RetryTable in link/link.h). The posting pass consults and feeds it; the
// console's tick asks whether a try is due.
#include "config/config.h"
#include "link/internal.h"
#include "link/link.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

RetryTable& table() { return Link().retries; }

uint32_t Now() { return uint32_t(pTiming()); }

// The clock wraps after 49 days: compare by the signed distance.
bool Reached(uint32_t now, uint32_t at) { return int32_t(now - at) >= 0; }

bool Free(const RetryEntry& e) { return e.machine[0] == 0; }

RetryEntry* Find(const char* machine) {
  for (RetryEntry& e : table().entries)
    if (!Free(e) && pCmp(e.machine, machine) == 1) return &e;
  return nullptr;
}

// A slot for machine: its own, a free one, or the one whose try is furthest
// off (a full table forgets that one: it is tried at the next courier pass).
RetryEntry& Take(const char* machine) {
  if (RetryEntry* own = Find(machine)) return *own;
  RetryEntry* chosen = &table().entries[0];
  for (RetryEntry& e : table().entries) {
    if (Free(e)) {
      chosen = &e;
      break;
    }
    if (int32_t(e.dueAt - chosen->dueAt) > 0) chosen = &e;
  }
  pClrMem(chosen, sizeof *chosen);
  AppendText(machine, chosen->machine, kMachineSlotSize);
  return *chosen;
}

// The longest delay: the courier interval (at least the first delay).
uint32_t RetryCap() {
  const int32_t minutes = Config().unit.Number(UnitField::ECourierInterval);
  const uint32_t cap = minutes > 0 && minutes < 24 * 60 ? uint32_t(minutes) * 60000u : 0;
  return cap > kRetryFirstMs ? cap : kRetryFirstMs;
}

// The first delay grown by half per earlier failure, drawn between base and
// twice base, never beyond the cap. (A busy machine is free again within
// seconds: doubling kept a mail waiting minutes for a machine that a few
// others happened to call at the moments it was tried.)
uint32_t RetryDelay(int32_t failures) {
  const uint32_t cap = RetryCap();
  uint32_t base = kRetryFirstMs;
  for (int32_t i = 1; i < failures && base < cap; ++i) base += base / 2;
  if (base > cap) base = cap;
  const uint32_t delay = base + tkRandom(base);
  return delay < cap ? delay : cap;
}

void AppendTwoDigits(int32_t value, char* out, int32_t size) {
  if (value < 10) AppendText("0", out, size);
  AppendText(pStr(value), out, size);
}

// The wall-clock time ms from now, as "10:42:10".
void ClockAfter(uint32_t ms, char* out, int32_t size) {
  char now[32] = {};
  pTime(1, now);
  int32_t parts[3];
  SplitThreeNumbers(now, ':', parts);
  const int32_t seconds = (parts[0] * 3600 + parts[1] * 60 + parts[2] + int32_t(ms / 1000)) % (24 * 3600);
  pClrMem(out, size);
  AppendText(pStr(seconds / 3600), out, size);
  AppendText(":", out, size);
  AppendTwoDigits(seconds / 60 % 60, out, size);
  AppendText(":", out, size);
  AppendTwoDigits(seconds % 60, out, size);
}

void ShowNextTry(const RetryEntry& e) {
  char clock[16];
  ClockAfter(e.dueAt - Now(), clock, sizeof clock);
  StatusNew("Next try for Velloran@");
  StatusAdd(e.machine);
  StatusAdd(" at ");
  StatusAdd(clock);
}

void ShowTriesOver(const RetryEntry& e) {
  StatusNew("No more tries by itself for Velloran@");
  StatusAdd(e.machine);
  StatusAdd(" after ");
  StatusAddNumber(uint32_t(e.failures));
  StatusAdd(" failed: it waits for the next courier pass or call request");
}

}  // namespace

void StartRetryRound() { table().passStart = Now(); }

bool RetryWaits(const char* machine) {
  const RetryEntry* e = Find(machine);
  return e != nullptr && e->waiting == 1 && !Reached(Now(), e->dueAt);
}

void TryAtOnce(const char* machine) {
  if (machine == nullptr || machine[0] == 0) return;
  RetryEntry& e = Take(machine);
  e.waiting = 1;
  e.dueAt = Now();
}

void NoteTryFailed(const char* machine, bool itFailed) {
  if (machine == nullptr || machine[0] == 0) return;
  if (!itFailed) return TryAtOnce(machine);  // not tried at all: a call came in
  RetryEntry& e = Take(machine);
  ++e.failures;
  if (e.failures >= kRetryTries) {
    e.waiting = 0;
    ShowTriesOver(e);
    return;
  }
  e.waiting = 1;
  e.dueAt = Now() + RetryDelay(e.failures);
  ShowNextTry(e);
}

void NoteReached(const char* machine) {
  if (RetryEntry* e = Find(machine)) pClrMem(e, sizeof *e);
}

void NoteHeardFrom(const char* machine) {
  RetryEntry* e = Find(machine);
  if (e == nullptr || e->waiting != 1) return;
  pClrMem(e, sizeof *e);
  TryAtOnce(machine);
}

void EndRetryRound() {
  // A try that was due when the pass began and that the pass did not
  // schedule again had no mail left to carry: nothing more to try.
  for (RetryEntry& e : table().entries)
    if (!Free(e) && e.waiting == 1 && Reached(table().passStart, e.dueAt)) pClrMem(&e, sizeof e);
}

bool NextTry(char* machine, char* clock, int32_t size) {
  const RetryEntry* next = nullptr;
  for (const RetryEntry& e : table().entries)
    if (!Free(e) && e.waiting == 1 && (next == nullptr || int32_t(e.dueAt - next->dueAt) < 0)) next = &e;
  if (next == nullptr) return false;
  pClrMem(machine, kMachineSlotSize);
  AppendText(next->machine, machine, kMachineSlotSize);
  ClockAfter(Reached(Now(), next->dueAt) ? 0 : next->dueAt - Now(), clock, size);
  return true;
}

int32_t RetryDue(uint32_t withinMs) {
  const uint32_t now = Now() + withinMs;
  for (const RetryEntry& e : table().entries)
    if (!Free(e) && e.waiting == 1 && Reached(now, e.dueAt)) return 1;
  return 0;
}

int32_t NextTryIn() {
  const uint32_t now = Now();
  int32_t soonest = -1;
  for (const RetryEntry& e : table().entries) {
    if (Free(e) || e.waiting != 1) continue;
    const int32_t in = Reached(now, e.dueAt) ? 0 : int32_t(e.dueAt - now);
    if (soonest < 0 || in < soonest) soonest = in;
  }
  return soonest;
}

void ForgetRetries() { pClrMem(&table(), sizeof table()); }
