// Journals of mails that crossed the line (layout and rules in journal.h).
#include "store/journal.h"

#include <sodium.h>

#include <cstring>
#include <vector>

#include "config/config.h"
#include "platform/unit.h"
#include "store/format.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

static_assert(sizeof(crypto_generichash_state) <= sizeof(DigestWork::state));
static_assert(alignof(crypto_generichash_state) <= alignof(DigestWork));
static_assert(crypto_generichash_BYTES == kDigestSize);

namespace {

constexpr const char* kPartSuffix = "[~]";
constexpr const char* kSetAsideSuffix = "[!]";
constexpr int32_t kHeadSize = sizeof(JournalHead);
constexpr int32_t kEntrySize = sizeof(JournalEntry);
constexpr int32_t kLargestJournal = kHeadSize + kJournalCapacity * kEntrySize;
constexpr int32_t kFileSlice = 65536;  // bytes read at a time when a whole file is digested

enum class Loaded { Missing, Sound, Damaged };

using Entries = std::vector<JournalEntry>;

crypto_generichash_state& StateOf(DigestWork& work) {
  return *reinterpret_cast<crypto_generichash_state*>(work.state);
}

// The library picks its fastest code here, once; hashing works without it,
// so a failure changes nothing but speed.
void PrepareLibrary() { [[maybe_unused]] static const int ready = sodium_init(); }

void Hash(const unsigned char* bytes, size_t length, unsigned char* digest) {
  PrepareLibrary();
  crypto_generichash(digest, kDigestSize, bytes, length, nullptr, 0);
}

int32_t SidePath(const char* path, const char* suffix, char* out) {
  pClrMem(out, kPathSize);
  return AppendBounded(path, out, kPathSize) && AppendBounded(suffix, out, kPathSize) ? 1 : 0;
}

// Every slot of an entry written by this system is terminated and its
// numbers are plain digits; anything else is damage.
bool IsSound(const JournalEntry& entry) {
  const void* end = std::memchr(entry.name, 0, sizeof entry.name);
  if (end == nullptr || entry.name[0] == 0) return false;
  return SlotNumber(entry.day, sizeof entry.day) >= 0 && SlotNumber(entry.blocks, sizeof entry.blocks) >= 1;
}

// Reads and checks one journal file.
Loaded Read(const char* path, Entries& entries) {
  entries.clear();
  const int32_t size = pFileSize(path);
  if (size == -1) return Loaded::Missing;
  if (size < kHeadSize || size > kLargestJournal || (size - kHeadSize) % kEntrySize != 0) return Loaded::Damaged;
  std::vector<unsigned char> bytes(size_t(size), 0);
  if (pFileIO(-1, path, 1, bytes.data(), size) != size) return Loaded::Damaged;
  JournalHead head;
  std::memcpy(&head, bytes.data(), kHeadSize);
  vlData(-1, &head, kHeadSize);
  unsigned char digest[kDigestSize];
  Hash(bytes.data() + kHeadSize, size_t(size - kHeadSize), digest);
  if (SlotEquals(head.marker, kJournalMarker) != 1 || std::memcmp(digest, head.digest, kDigestSize) != 0)
    return Loaded::Damaged;
  entries.resize(size_t((size - kHeadSize) / kEntrySize));
  for (size_t i = 0; i < entries.size(); ++i) {
    std::memcpy(&entries[i], bytes.data() + kHeadSize + i * kEntrySize, kEntrySize);
    vlData(-1, &entries[i], kEntrySize);
    if (!IsSound(entries[i])) {
      entries.clear();
      return Loaded::Damaged;
    }
  }
  return Loaded::Sound;
}

// The journal as it stands. A sound part file is a newer journal whose
// rename into place was cut short: it takes the journal's place. Any other
// part file is a write cut short and goes.
Loaded Load(const char* path, Entries& entries) {
  char part[kPathSize];
  if (SidePath(path, kPartSuffix, part) == 1 && pFileSize(part) != -1) {
    Entries newer;
    if (Read(part, newer) == Loaded::Sound) {
      pFileDel(path);
      pFileRen(part, path);
    } else {
      pFileDel(part);
    }
  }
  return Read(path, entries);
}

// Writes the whole journal under the part name and renames it into place.
bool Write(const char* path, const Entries& entries) {
  const int32_t size = kHeadSize + int32_t(entries.size()) * kEntrySize;
  std::vector<unsigned char> bytes(size_t(size), 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    JournalEntry entry = entries[i];
    vlData(1, &entry, kEntrySize);
    std::memcpy(bytes.data() + kHeadSize + i * kEntrySize, &entry, kEntrySize);
  }
  JournalHead head;
  pClrMem(&head, kHeadSize);
  SetSlot(head.marker, kJournalMarker);
  Hash(bytes.data() + kHeadSize, size_t(size - kHeadSize), head.digest);
  vlData(1, &head, kHeadSize);
  std::memcpy(bytes.data(), &head, kHeadSize);

  char part[kPathSize];
  if (SidePath(path, kPartSuffix, part) != 1) return false;
  pFileDel(part);
  if (pFileIO(1, part, 1, bytes.data(), size) != size || pFileSize(part) != size) {
    pFileDel(part);
    return false;
  }
  pFileDel(path);
  pFileRen(part, path);
  return pFileSize(path) == size;
}

// Keeps a damaged journal where a person can look at it (the last one only).
void SetAside(const char* path) {
  char aside[kPathSize];
  if (SidePath(path, kSetAsideSuffix, aside) != 1) return;
  pFileDel(aside);
  pFileRen(path, aside);
  pFileDel(path);
}

// Drops the entries older than kJournalKeepDays; entries dated after today
// (the clock was set back) stay until their time comes. True when any went.
bool DropExpired(Entries& entries, int32_t today) {
  const size_t before = entries.size();
  std::erase_if(entries, [today](const JournalEntry& e) {
    return today - SlotNumber(e.day, sizeof e.day) > kJournalKeepDays;
  });
  return entries.size() != before;
}

bool HasName(const JournalEntry& entry, const char* name) { return SlotEquals(entry.name, name) == 1; }

// Days from 1/1/1970 to a date of the proleptic Gregorian calendar.
int32_t DaysFromCivil(int32_t year, int32_t month, int32_t day) {
  year -= month <= 2 ? 1 : 0;
  const int32_t era = (year >= 0 ? year : year - 399) / 400;
  const int32_t yearOfEra = year - era * 400;
  const int32_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int32_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

void DigestStart(DigestWork& work) {
  pClrMem(&work, sizeof work);
  PrepareLibrary();
  crypto_generichash_init(&StateOf(work), nullptr, 0, kDigestSize);
}

void DigestAdd(DigestWork& work, const void* bytes, int32_t length) {
  if (bytes == nullptr || length <= 0) return;
  crypto_generichash_update(&StateOf(work), static_cast<const unsigned char*>(bytes), size_t(length));
}

void DigestFinish(DigestWork& work, MailDigest& digest) {
  crypto_generichash_final(&StateOf(work), digest.bytes, kDigestSize);
  pClrMem(&work, sizeof work);
}

int32_t DigestFile(const char* path, MailDigest& digest) {
  pClrMem(&digest, sizeof digest);
  const int32_t size = pFileSize(path);
  if (size <= 0) return 0;
  DigestWork work;
  DigestStart(work);
  std::vector<unsigned char> slice(kFileSlice);
  for (int32_t done = 0; done < size;) {
    const int32_t want = size - done < kFileSlice ? size - done : kFileSlice;
    if (pFileIO(-1, path, done + 1, slice.data(), want) != want) {
      DigestFinish(work, digest);
      pClrMem(&digest, sizeof digest);
      return 0;
    }
    DigestAdd(work, slice.data(), want);
    done += want;
  }
  DigestFinish(work, digest);
  return 1;
}

int32_t SameDigest(const MailDigest& a, const MailDigest& b) {
  return sodium_memcmp(a.bytes, b.bytes, kDigestSize) == 0 ? 1 : 0;
}

int32_t BuildJournalPath(const char* fileName, char* path) {
  pClrMem(path, kPathSize);
  const int32_t ok = AppendBounded(Config().programFolder, path, kPathSize) && AppendBounded("\\", path, kPathSize) &&
                     AppendBounded(fileName, path, kPathSize);
  if (!ok) pClrMem(path, kPathSize);
  return ok ? 1 : 0;
}

int32_t JournalToday() {
  char date[32] = {};
  pDate(1, date);
  int32_t parts[3];
  SplitThreeNumbers(date, '/', parts);
  if (parts[0] < 1 || parts[1] < 1 || parts[1] > 12 || parts[2] < 1970) return 0;
  return DaysFromCivil(parts[2], parts[1], parts[0]);
}

int32_t JournalLookup(const char* path, const char* name, const MailDigest& digest) {
  Entries entries;
  switch (Load(path, entries)) {
    case Loaded::Missing: return kJournalUnknown;
    case Loaded::Damaged: return kJournalDamaged;
    case Loaded::Sound: break;
  }
  for (const JournalEntry& e : entries) {
    MailDigest known;
    std::memcpy(known.bytes, e.digest, kDigestSize);
    if (HasName(e, name) && SameDigest(known, digest) == 1) return kJournalKnown;
  }
  return kJournalUnknown;
}

int32_t JournalHasName(const char* path, const char* name) {
  Entries entries;
  switch (Load(path, entries)) {
    case Loaded::Missing: return kJournalUnknown;
    case Loaded::Damaged: return kJournalDamaged;
    case Loaded::Sound: break;
  }
  for (const JournalEntry& e : entries)
    if (HasName(e, name)) return kJournalKnown;
  return kJournalUnknown;
}

int32_t JournalRecord(const char* path, const char* name, const MailDigest& digest, int32_t blocks, int32_t today) {
  JournalEntry entry;
  pClrMem(&entry, sizeof entry);
  if (name == nullptr || pLen(name) == 0 || pLen(name) >= int32_t(sizeof entry.name) || blocks < 1 || today < 0)
    return kJournalNotWritten;
  Entries entries;
  const bool damaged = Load(path, entries) == Loaded::Damaged;
  if (damaged) SetAside(path);
  DropExpired(entries, today);
  SetSlot(entry.name, name);
  std::memcpy(entry.digest, digest.bytes, kDigestSize);
  SetSlot(entry.day, pStr(today));
  SetSlot(entry.blocks, pStr(blocks));
  // An entry whose sender may still resend its mail is never dropped for room.
  if (entries.size() >= size_t(kJournalCapacity)) return kJournalFull;
  entries.push_back(entry);
  if (!Write(path, entries)) return kJournalNotWritten;
  return damaged ? kJournalRenewed : kJournalWritten;
}

bool JournalHasRoom(const char* path, int32_t today) {
  Entries entries;
  if (Load(path, entries) != Loaded::Sound) return true;
  DropExpired(entries, today);
  return entries.size() < size_t(kJournalCapacity);
}

int32_t JournalExpire(const char* path, int32_t today) {
  Entries entries;
  switch (Load(path, entries)) {
    case Loaded::Missing: return kJournalWritten;
    case Loaded::Damaged: return kJournalNotWritten;
    case Loaded::Sound: break;
  }
  if (!DropExpired(entries, today)) return kJournalWritten;
  return Write(path, entries) ? kJournalWritten : kJournalNotWritten;
}
