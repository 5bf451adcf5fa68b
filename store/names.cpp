// Names, addresses, stamps and paths of the mail store.
#include "config/config.h"
#include "platform/unit.h"
#include "store/format.h"
#include "store/journal.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

// A machine ID compared like a telephone number: one leading trunk "0" or
// international "+" does not count.
const char* SignificantPart(const char* id) {
  if (id[0] == '0' || id[0] == '+') return id + 1;
  return id;
}

int32_t FileExists(const char* path) { return pFileSize(path) != -1 ? 1 : 0; }

}  // namespace

int32_t MatchMachine(const char* reference, const char* candidate) {
  if (reference == nullptr || candidate == nullptr) return 0;
  const char* ref = SignificantPart(reference);
  const char* cand = SignificantPart(candidate);
  int32_t r = pLen(ref);
  int32_t c = pLen(cand);
  if (r == 0 || c == 0 || c > r) return 0;
  // From the last characters backwards; the candidate running out first (or
  // together with the reference) is a match.
  while (c > 0) {
    if (ref[r - 1] != cand[c - 1]) return 0;
    --r;
    --c;
  }
  return 1;
}

void SplitThreeNumbers(const char* text, char separator, int32_t (&parts)[3]) {
  parts[0] = parts[1] = parts[2] = 0;
  int32_t field = 0;
  for (const char* c = text; *c != 0 && field < 3; ++c) {
    if (*c == separator)
      ++field;
    else if (*c >= '0' && *c <= '9')
      parts[field] = parts[field] * 10 + (*c - '0');
  }
}

int32_t AppendBounded(const char* text, char* dest, int32_t capacity) {
  if (text == nullptr || dest == nullptr) return 0;
  if (pLen(dest) + pLen(text) > capacity - 1) return 0;
  int32_t end = pLen(dest);
  pBuildStr(text, dest);
  dest[end + pLen(text)] = 0;
  return 1;
}

int32_t EncodeName(const char* text, char* out) {
  pClrMem(out, kNameBufferSize);
  int32_t n = text ? pLen(text) : 0;
  if (n == 0 || 2 * n > kNameBufferSize - 1) return 0;
  pCopyMem(text, out, n);
  vlData(1, out, 2 * n);
  return 1;
}

int32_t BuildMailName(const char* sender, const char* postedAt, char* out) {
  char name[kNameBufferSize] = {};
  if (!AppendBounded(sender, name, kNameBufferSize) || !AppendBounded(postedAt, name, kNameBufferSize)) {
    pClrMem(out, kNameBufferSize);
    return 0;
  }
  int32_t result = EncodeName(name, out);
  pClrMem(name, sizeof name);
  return result;
}

int32_t BuildMailPath(const char* folder, const char* sender, const char* postedAt, const char* suffix,
                      char* path) {
  char encoded[kNameBufferSize];
  pClrMem(path, kPathSize);
  int32_t ok = BuildMailName(sender, postedAt, encoded) && AppendBounded(folder, path, kPathSize) &&
               AppendBounded("\\", path, kPathSize) && AppendBounded(encoded, path, kPathSize) &&
               AppendBounded(suffix, path, kPathSize);
  pClrMem(encoded, sizeof encoded);
  if (!ok) pClrMem(path, kPathSize);
  return ok ? 1 : 0;
}

int32_t BuildAccountPaths(const char* id, char* folder, char* accountFile, char* encodedId) {
  if (id == nullptr || pLen(id) == 0 || pLen(id) > kMaxIdLength) return 0;
  char encoded[kNameBufferSize];
  if (!EncodeName(id, encoded)) return 0;
  char folderPath[kPathSize] = {};
  char filePath[kPathSize] = {};
  int32_t ok = AppendBounded(Config().programFolder, folderPath, kPathSize) &&
               AppendBounded("\\", folderPath, kPathSize) && AppendBounded(encoded, folderPath, kPathSize) &&
               AppendBounded(kFolderSuffix, folderPath, kPathSize);
  ok = ok && AppendBounded(folderPath, filePath, kPathSize) && AppendBounded("\\", filePath, kPathSize) &&
       AppendBounded(encoded, filePath, kPathSize) && AppendBounded(kFolderSuffix, filePath, kPathSize);
  if (ok) {
    if (folder != nullptr) {
      pClrMem(folder, kPathSize);
      pBuildStr(folderPath, folder);
      if (accountFile != nullptr) {
        pClrMem(accountFile, kPathSize);
        pBuildStr(filePath, accountFile);
      }
    }
    if (encodedId != nullptr) pBuildStr(encoded, encodedId);
  }
  pClrMem(encoded, sizeof encoded);
  return ok ? 1 : 0;
}

int32_t BuildAddress(char* output, const char* id, const char* machineId) {
  pBuildStr(id, output);
  pBuildStr("@", output);
  pBuildStr(machineId, output);
  return 1;
}

int32_t PostedAtText(char* output) {
  pDate(1, output);
  pBuildStr(" ", output);
  pTime(2, output);
  return 1;
}

int32_t PadColumn(const char* text, char* output, int32_t width) {
  char scratch[kNameBufferSize] = {};
  AppendBounded(text, scratch, kNameBufferSize);
  for (int32_t n = pLen(scratch); n < width && n < kNameBufferSize - 1; ++n) scratch[n] = ' ';
  pBuildStr(scratch, output);
  pClrMem(scratch, sizeof scratch);
  return 1;
}

int32_t AddressUserPart(const char* address, char* out, int32_t capacity) {
  pClrMem(out, capacity);
  int32_t at = 0;
  while (address[at] != 0 && address[at] != '@') ++at;
  if (address[at] != '@' || at == 0 || at > capacity - 1) return 0;
  pCopyMem(address, out, at);
  return 1;
}

int32_t AddressMachinePart(const char* address, char* out, int32_t capacity) {
  pClrMem(out, capacity);
  int32_t length = pLen(address);
  int32_t at = length - 1;
  while (at >= 0 && address[at] != '@') --at;
  int32_t count = length - at - 1;
  if (at < 0 || count == 0 || count > capacity - 1) return 0;
  pCopyMem(address + at + 1, out, count);
  return 1;
}

namespace {
// A stamp is "d/m/yyyy h:mm": its last character is a digit unless a variant
// letter follows the minute.
int32_t HasVariantLetter(const char* stamp) {
  int32_t n = pLen(stamp);
  return n > 0 && stamp[n - 1] >= 'a' && stamp[n - 1] <= 'z';
}
}  // namespace

int32_t StampBase(const char* stamp, char* out) {
  pClrMem(out, sizeof(MailHeader::postedAt));
  int32_t n = pLen(stamp);
  if (HasVariantLetter(stamp)) --n;
  if (n > static_cast<int32_t>(sizeof(MailHeader::postedAt)) - 2) n = sizeof(MailHeader::postedAt) - 2;
  pCopyMem(stamp, out, n);
  return 1;
}

int32_t StampVariant(const char* stamp, int32_t variant, char* out) {
  StampBase(stamp, out);
  if (variant < 0 || variant > kStampVariants) return 0;
  if (variant > 0) out[pLen(out)] = static_cast<char>('a' + variant - 1);
  return 1;
}

namespace {
// A mail of that name left this machine lately: its spool file is gone, but
// the receiver may still hold it under that name, so the name stays taken
// while the sender's journal remembers it.
int32_t SentLately(const char* sender, const char* stamp) {
  char name[kNameBufferSize];
  char journal[kPathSize];
  if (!BuildMailName(sender, stamp, name) || !AppendBounded(kLocalSuffix, name, kNameBufferSize) ||
      !BuildJournalPath(kSentJournalName, journal))
    return 0;
  return JournalHasName(journal, name) == kJournalKnown ? 1 : 0;
}
}  // namespace

int32_t ChooseFreeSpoolName(const char* sender, char* postedAt, const char* suffix, char* spoolPath) {
  char original[sizeof(MailHeader::postedAt)] = {};
  AppendBounded(postedAt, original, sizeof original);
  char stamp[sizeof(MailHeader::postedAt)];
  for (int32_t variant = 0; variant <= kStampVariants; ++variant) {
    StampVariant(original, variant, stamp);
    if (!BuildMailPath(Config().spoolPath, sender, stamp, suffix, spoolPath)) break;
    if (!FileExists(spoolPath) && !SentLately(sender, stamp)) {
      if (pCmp(stamp, original)) return 1;
      pClrMem(postedAt, sizeof(MailHeader::postedAt));
      pBuildStr(stamp, postedAt);
      return 2;
    }
  }
  pClrMem(spoolPath, kPathSize);
  return 0;
}
