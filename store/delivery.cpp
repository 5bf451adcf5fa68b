// Local delivery: complete "[=]" spool files into their mailboxes.
#include "store/delivery.h"

#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "console/console.h"
#include "platform/unit.h"
#include "store/bounce.h"
#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "toolkit/text.h"
#include "toolkit/window.h"

namespace {

DeliveryState state;

constexpr int32_t kBlockPauseMs = 150;
// Within one mail, every kBlocksPerYield blocks: enough for the interface to
// take what waits (a delivery runs as background work, so nothing waits on
// it), not a sleep: a mail of 10 000 blocks is not to hold its machine for
// 25 minutes.
constexpr int32_t kBlockYieldMs = 1;
constexpr int32_t kBlocksPerYield = 16;
constexpr const char* kNoAccountReason = "no such account on the receiving machine";
constexpr const char* kPartSuffix = "[~]";  // a mail file still being copied
constexpr int32_t kSuffixLength = 3;        // "[=]", "[u]", "[!]", "[~]"

enum class Outcome {
  Delivered,
  Skipped,
  Removed,
  UnknownAccount,   // no such account, and its report could not be posted: set aside as "[u]"
  Returned,         // no such account: a report went back to the sender, the mail is gone
  Dropped,          // no such account for a report (never answered): gone
  Damaged,
  Kept,             // a write into the account folder failed
  MailboxReadOnly,  // the mailbox index takes no new entry
  NoFreeName,       // every stamp variant of the minute names a mail already
  LeftInPost,       // the spool file is read-only or POST would not let it go
};

// What the mail file names of one mail hold: a free one, this very mail
// filed by an earlier run, every variant taken by other mails, or no name
// that fits a path.
enum class NameChoice { Free, Filed, Full, TooLong };

void ShowStatus(const char* text, int32_t reset) { pWriteWndTxt(Console().statusLine, 0, text, reset, 0); }

void ShowProgress(int32_t position, int32_t total) {
  pProgressBar(1, Console().record.handle, kProgressBarId, position, total);
}

// 1 when anything of that name is there, whatever its permissions.
int32_t NameTaken(const char* path) {
  char found[260] = {};
  return pFileFind(path, found, 1) == 1 ? 1 : 0;
}

// 1 when the file is there and its first byte can be read. pFileSize answers
// -1 for a file that may not be written, so it cannot tell a read-only file
// from a missing one; account files and mail files are never empty.
int32_t HasContent(const char* path) {
  char byte = 0;
  return pFileIO(-1, path, 1, &byte, 1) == 1 ? 1 : 0;
}

// 1 when the slot ends inside itself: a stamp that fills its slot has lost
// its end, and cut to fit it would name the mail as some other one.
template <size_t N>
int32_t IsTerminated(const char (&slot)[N]) {
  for (size_t i = 0; i < N; ++i)
    if (slot[i] == 0) return 1;
  return 0;
}

// Moves the spool file to a name ending in suffix, which no run scans for:
// the found name without its own suffix, then a number when that name is
// taken. 0 when the file is still where it was.
int32_t SetAside(const char* suffix) {
  char base[kPathSize] = {};
  AppendBounded(state.spoolPath, base, kPathSize);
  if (pLen(base) <= kSuffixLength) return 0;
  base[pLen(base) - kSuffixLength] = 0;
  char target[kPathSize];
  for (int32_t n = 0; n < 100; ++n) {
    pClrMem(target, kPathSize);
    if (!AppendBounded(base, target, kPathSize)) return 0;
    if (n > 0 && !AppendBounded(pStr(n), target, kPathSize)) return 0;
    if (!AppendBounded(suffix, target, kPathSize)) return 0;
    if (NameTaken(target)) continue;
    pFileRen(state.spoolPath, target);
    return NameTaken(state.spoolPath) ? 0 : 1;
  }
  return 0;
}

// The recipient's account, from the first header; 0 when no account of this
// machine has that id. Ids are stored in lower case, so the user part is
// folded before it names a folder. A read-only account file is still an
// account: delivery never writes it.
int32_t FindRecipient() {
  char destination[sizeof(MailHeader::destination) + 1];
  SlotText(state.firstHeader.destination, destination);
  if (!AddressUserPart(destination, state.recipient, kMaxIdLength + 1)) return 0;
  LowerCaseInPlace(state.recipient);
  if (pIsChrValid(state.recipient, kIdAlphabet) != 1) return 0;
  if (!BuildAccountPaths(state.recipient, state.accountFolder, state.accountFile, nullptr)) return 0;
  return HasContent(state.accountFile);
}

int32_t BuildIndexPath() {
  pClrMem(state.indexPath, kPathSize);
  char encoded[kNameBufferSize];
  EncodeName(state.recipient, encoded);
  int32_t ok = AppendBounded(state.accountFolder, state.indexPath, kPathSize) &&
               AppendBounded("\\", state.indexPath, kPathSize) && AppendBounded(encoded, state.indexPath, kPathSize) &&
               AppendBounded(kMailboxSuffix, state.indexPath, kPathSize);
  pClrMem(encoded, sizeof encoded);
  return ok ? 1 : 0;
}

// An index that holds entries but may not be written: no use copying the
// mail now, it stays in POST until the mailbox can be written again.
int32_t IsMailboxReadOnly() { return pFileSize(state.indexPath) == -1 && HasContent(state.indexPath) ? 1 : 0; }

// Reads block k and checks that it belongs where it lies: a mail header with
// its own number and the chain's total. On success the header is unscrambled.
int32_t ReadChainBlock(int32_t k, int32_t total) {
  if (ReadBlockHeader(state.spoolPath, BlockPosition(k), state.block) != kBlockSize) return 0;
  const MailHeader& h = state.block.header;
  if (SlotEquals(h.marker, kMailMarker) != 1) return 0;
  if (SlotEquals(h.blockNumber, pStr(k)) != 1) return 0;
  return SlotEquals(h.totalBlocks, pStr(total));
}

// Block k as the mail file holds it: read from the spool, given the chosen
// stamp, header scrambled again. 0 when the block is out of place.
int32_t LoadFiledBlock(int32_t k, int32_t total) {
  if (!ReadChainBlock(k, total)) return 0;
  if (state.restamped) SetSlot(state.block.header.postedAt, state.stamp);
  vlData(1, &state.block.header, kHeaderSize);
  return 1;
}

// 1 when the mail file at state.mailPath holds exactly this mail as this run
// would file it under state.stamp: an earlier run filed it and was stopped
// before the spool file was gone.
int32_t IsFiledAlready(int32_t total) {
  for (int32_t k = 1; k <= total; ++k) {
    if (!LoadFiledBlock(k, total)) return 0;
    pClrMem(&state.filed, sizeof state.filed);
    if (pFileIO(-1, state.mailPath, BlockPosition(k), &state.filed, kBlockSize) != kBlockSize) return 0;
    if (std::memcmp(&state.filed, &state.block, kBlockSize) != 0) return 0;
  }
  char beyond = 0;
  return pFileIO(-1, state.mailPath, BlockPosition(total + 1), &beyond, 1) == 0 ? 1 : 0;
}

// Stamp variant v of the mail's own stamp into state.stamp and the mail file
// of that name into state.mailPath.
int32_t NameVariant(int32_t variant, const char* sender, const char* original) {
  if (variant == 0) {
    pClrMem(state.stamp, sizeof state.stamp);
    AppendBounded(original, state.stamp, sizeof state.stamp);
  } else {
    StampVariant(original, variant, state.stamp);
  }
  state.restamped = pCmp(state.stamp, original) == 1 ? 0 : 1;
  return BuildMailPath(state.accountFolder, sender, state.stamp, kLocalSuffix, state.mailPath);
}

// The mail file name: the name under which an earlier run already filed this
// very mail, else the first stamp variant that names no mail file yet (a
// read-only one counts as taken). The part file is named after the mail's
// own stamp, so a copy cut short is found and replaced by the next one.
NameChoice ChooseMailFile(int32_t total) {
  char sender[sizeof(MailHeader::sender) + 1];
  char original[sizeof(MailHeader::postedAt) + 1];
  SlotText(state.firstHeader.sender, sender);
  SlotText(state.firstHeader.postedAt, original);
  if (!BuildMailPath(state.accountFolder, sender, original, kPartSuffix, state.partPath)) return NameChoice::TooLong;
  int32_t free = -1;
  for (int32_t variant = 0; variant <= kStampVariants; ++variant) {
    if (!NameVariant(variant, sender, original)) return NameChoice::TooLong;
    if (HasContent(state.mailPath)) {
      if (IsFiledAlready(total)) return NameChoice::Filed;
    } else if (free < 0 && !NameTaken(state.mailPath)) {
      free = variant;
    }
  }
  pClrMem(state.mailPath, kPathSize);
  if (free < 0) return NameChoice::Full;
  NameVariant(free, sender, original);
  return NameChoice::Free;
}

// Copies blocks 1..total into the part file, which starts empty. Returns
// Delivered, Damaged (a block out of place) or Kept (a write failed); on
// failure the part file is removed again.
Outcome CopyBlocks(int32_t total) {
  pFileDel(state.partPath);
  for (int32_t k = 1; k <= total; ++k) {
    if (k % kBlocksPerYield == 0) pDoEvent(kBlockYieldMs);
    if (!LoadFiledBlock(k, total)) {
      pFileDel(state.partPath);
      return Outcome::Damaged;
    }
    if (pFileIO(1, state.partPath, BlockPosition(k), &state.block, kBlockSize) != kBlockSize) {
      pFileDel(state.partPath);
      return Outcome::Kept;
    }
    ShowProgress(BlockPosition(k + 1), state.spoolSize);
  }
  return Outcome::Delivered;
}

// The whole copy takes the mail file's name in one step, so the folder never
// shows a mail file that is not complete.
int32_t PutMailFileInPlace() {
  if (pFileSize(state.partPath) != state.spoolSize) return 0;
  pFileRen(state.partPath, state.mailPath);
  return !NameTaken(state.partPath) && HasContent(state.mailPath) ? 1 : 0;
}

// The index entry as this run files it: the first header with the chosen stamp.
void ExpectedEntry(MailHeader& entry) {
  entry = state.firstHeader;
  if (state.restamped) SetSlot(entry.postedAt, state.stamp);
}

// 1 when the index holds the entry already; its status may have changed since
// (the mail may have been opened).
int32_t HasIndexEntry() {
  MailHeader expected;
  MailHeader entry;
  ExpectedEntry(expected);
  int32_t found = 0;
  for (int32_t i = 1; !found; ++i) {
    pClrMem(&entry, sizeof entry);
    int32_t got = pFileIO(-1, state.indexPath, IndexEntryPosition(i), &entry, kHeaderSize);
    if (got <= 0) break;
    if (got != kHeaderSize) continue;  // a torn entry; whole ones may follow it
    vlData(-1, &entry, kHeaderSize);
    pCopyMem(expected.status, entry.status, sizeof entry.status);
    found = std::memcmp(&entry, &expected, sizeof entry) == 0 ? 1 : 0;
  }
  pClrMem(&entry, sizeof entry);
  pClrMem(&expected, sizeof expected);
  return found;
}

// Appends the entry to the mailbox index, after its last whole entry (a torn
// tail entry is kept, not overwritten).
int32_t AppendIndexEntry() {
  int32_t size = pFileSize(state.indexPath);
  if (size == -1) size = 0;
  int32_t entries = (size + kHeaderSize - 1) / kHeaderSize;
  MailHeader entry;
  ExpectedEntry(entry);
  vlData(1, &entry, kHeaderSize);
  int32_t written = pFileIO(1, state.indexPath, IndexEntryPosition(entries + 1), &entry, kHeaderSize);
  pClrMem(&entry, sizeof entry);
  return written == kHeaderSize ? 1 : 0;
}

// The mail is in its mailbox; the spool file goes last. When POST keeps it,
// the next run finds the mail filed and only tries to remove it again.
Outcome RemoveSpoolFile() {
  // Whatever was appended to the spool file meanwhile is not in the mailbox:
  // keep the file for a person to look at rather than delete it.
  if (pFileSize(state.spoolPath) != state.spoolSize) return Outcome::Damaged;
  pFileDel(state.spoolPath);
  return NameTaken(state.spoolPath) ? Outcome::LeftInPost : Outcome::Delivered;
}

// The steps of one mail, each leaving the store whole if the program is
// stopped after it: the copy under the part name, the mail file's name, the
// index entry, the spool file's removal. A run that finds the mail file
// already filed picks up after the last step that was done.
Outcome FileMail(int32_t total) {
  NameChoice name = ChooseMailFile(total);
  if (name == NameChoice::Full) return Outcome::NoFreeName;
  if (name == NameChoice::TooLong) return Outcome::Kept;
  if (name == NameChoice::Free) {
    Outcome copied = CopyBlocks(total);
    if (copied != Outcome::Delivered) return copied;
    if (!PutMailFileInPlace()) {
      pFileDel(state.partPath);
      return Outcome::Kept;
    }
  }
  // A fresh mail file has no entry yet; one filed before may have it.
  if ((name == NameChoice::Free || !HasIndexEntry()) && !AppendIndexEntry()) {
    if (name == NameChoice::Free) pFileDel(state.mailPath);
    return Outcome::Kept;
  }
  return RemoveSpoolFile();
}

Outcome DeliverChain() {
  pDoEvent(kBlockPauseMs);
  int32_t total = state.spoolSize / kBlockSize;
  if (!ReadChainBlock(1, total)) return Outcome::Damaged;
  state.firstHeader = state.block.header;
  // Without sender and stamp the mail has no name to be filed under.
  if (state.firstHeader.sender[0] == 0 && state.firstHeader.postedAt[0] == 0) return Outcome::Damaged;
  if (!IsTerminated(state.firstHeader.postedAt)) return Outcome::Damaged;
  if (!FindRecipient()) return Outcome::UnknownAccount;
  if (!BuildIndexPath()) return Outcome::Kept;
  if (IsMailboxReadOnly()) return Outcome::MailboxReadOnly;
  return FileMail(total);
}

// A mail for an account this machine does not have goes back to its sender
// as a report, and leaves POST. A report for a missing account is dropped
// (no report answers a report). When POST takes no report now, the mail is
// set aside as "[u]" and tried again by the next run.
Outcome ReturnToSender(int32_t setAside) {
  const int32_t report = PostReport(state.firstHeader, kNoAccountReason);
  if (report == kReportNotWritten) {
    if (!setAside && !SetAside(kUnknownAccountSuffix)) return Outcome::LeftInPost;
    return Outcome::UnknownAccount;
  }
  pFileDel(state.spoolPath);
  if (NameTaken(state.spoolPath)) return Outcome::LeftInPost;
  return report == kReportPosted ? Outcome::Returned : Outcome::Dropped;
}

// A mail set aside for want of an account is taken again once an account of
// its recipient's id exists.
int32_t HasAccountNow() {
  if (ReadBlockHeader(state.spoolPath, 1, state.block) != kBlockSize) return 0;
  state.firstHeader = state.block.header;
  return FindRecipient();
}

// The spool file may be written (pFileSize answers) or is read-only: a file
// in use elsewhere cannot be read either.
int32_t IsReadOnlySpoolFile() { return HasContent(state.spoolPath); }

Outcome DeliverSpoolFile(int32_t setAside) {
  pClrMem(state.spoolPath, kPathSize);
  pClrMem(state.mailPath, kPathSize);
  pClrMem(state.partPath, kPathSize);
  pClrMem(state.indexPath, kPathSize);
  state.restamped = 0;
  if (!AppendBounded(Config().spoolPath, state.spoolPath, kPathSize) ||
      !AppendBounded("\\", state.spoolPath, kPathSize) || !AppendBounded(state.foundName, state.spoolPath, kPathSize))
    return Outcome::Skipped;
  if (setAside && !HasAccountNow())
    return IsFirstBlock(state.firstHeader) == 1 ? ReturnToSender(setAside) : Outcome::Skipped;
  pDoEvent(kBlockPauseMs);
  ShowProgress(0, 100);
  state.spoolSize = pFileSize(state.spoolPath);
  if (state.spoolSize == -1) return IsReadOnlySpoolFile() ? Outcome::LeftInPost : Outcome::Skipped;
  if (state.spoolSize == 0) {
    pFileDel(state.spoolPath);
    return Outcome::Removed;
  }
  // Spool files grow by whole blocks only (the writer appends them, the link
  // renames a finished file into place), so a size between blocks is damage,
  // not a mail still arriving: set it aside instead of skipping it forever.
  Outcome outcome = Outcome::Damaged;
  if (state.spoolSize % kBlockSize == 0) {
    if (IsMailComplete(state.spoolPath, state.spoolSize) != 1) return Outcome::Skipped;
    outcome = DeliverChain();
  }
  if (outcome == Outcome::UnknownAccount) return ReturnToSender(setAside);
  if (outcome == Outcome::Damaged && !SetAside(kDamagedSuffix)) return Outcome::LeftInPost;
  return outcome;
}

void Count(Outcome outcome) {
  switch (outcome) {
    case Outcome::Delivered:
      ++state.delivered;
      state.renamed += state.restamped;
      break;
    case Outcome::UnknownAccount: ++state.unknownAccount; break;
    case Outcome::Returned: ++state.returned; break;
    case Outcome::Dropped: ++state.dropped; break;
    case Outcome::Damaged: ++state.damaged; break;
    case Outcome::Kept: ++state.kept; break;
    case Outcome::MailboxReadOnly: ++state.readOnlyMailbox; break;
    case Outcome::NoFreeName: ++state.noFreeName; break;
    case Outcome::LeftInPost: ++state.leftInPost; break;
    default: break;
  }
}

void AppendNote(int32_t count, const char* text, int32_t& first) {
  if (count == 0) return;
  ShowStatus(first ? " except " : ", ", 0);
  first = 0;
  ShowStatus(pStr(count), 0);
  ShowStatus(text, 0);
}

void ShowEndMessage() {
  if (state.unknownAccount + state.returned + state.dropped + state.damaged + state.kept + state.readOnlyMailbox +
          state.noFreeName + state.leftInPost ==
      0) {
    ShowStatus("All local mails delivered", 1);
  } else {
    Console().keepStatus = 1;
    ShowStatus("Local mails delivered", 1);
    int32_t first = 1;
    AppendNote(state.returned, " for unknown accounts (returned to their senders)", first);
    AppendNote(state.dropped, " reports for unknown accounts (dropped)", first);
    AppendNote(state.unknownAccount, " for unknown accounts (set aside in POST as [u]: no report could be posted)",
               first);
    AppendNote(state.damaged, " damaged (set aside in POST as [!])", first);
    AppendNote(state.kept, " that could not be written (kept in POST)", first);
    AppendNote(state.readOnlyMailbox, " for read-only mailboxes (kept in POST)", first);
    AppendNote(state.noFreeName, " from a sender with 27 mails of that minute already (kept in POST)", first);
    AppendNote(state.leftInPost, " left in POST, which is read-only", first);
  }
  if (state.renamed > 0) {
    ShowStatus("; ", 0);
    ShowStatus(pStr(state.renamed), 0);
    ShowStatus(" restamped to keep mails of one minute apart", 0);
  }
}

// The names of the spool files with this suffix as the folder lists them now.
// Taking them all before the first pause keeps the one file search of the
// toolkit out of reach of whatever runs inside the pauses, and files set aside
// or deleted during the run out of the listing.
std::vector<std::string> ListSpoolFiles(const char* suffix) {
  std::vector<std::string> names;
  char pattern[kPathSize] = {};
  if (!AppendBounded(Config().spoolPath, pattern, kPathSize) || !AppendBounded("\\*", pattern, kPathSize) ||
      !AppendBounded(suffix, pattern, kPathSize))
    return names;
  char name[260] = {};
  for (int32_t found = pFileFind(pattern, name, 1); found == 1; found = pFileFind(pattern, name, 0)) {
    names.emplace_back(name);
    pClrMem(name, sizeof name);
  }
  return names;
}

// What became of the mail, with its sender, recipient and stamp: one "mail"
// line in the log per mail (the status line tells the run's end).
const char* OutcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::Delivered: return "delivered: ";
    case Outcome::Returned: return "returned to its sender (no such account here): ";
    case Outcome::Dropped: return "dropped (a report for no such account here): ";
    case Outcome::UnknownAccount: return "set aside as [u] (no such account here; no report could be posted): ";
    case Outcome::Kept: return "kept in POST (could not be written): ";
    case Outcome::MailboxReadOnly: return "kept in POST (the mailbox is read-only): ";
    case Outcome::NoFreeName: return "kept in POST (27 mails of its sender's minute are filed already): ";
    case Outcome::LeftInPost: return "left in POST (POST is read-only): ";
    default: return nullptr;
  }
}

void LogOutcome(Outcome outcome) {
  char line[2 * kPathSize] = {};
  if (outcome == Outcome::Damaged) {
    AppendBounded("set aside as damaged ([!]): ", line, sizeof line);
    AppendBounded(state.foundName, line, sizeof line);
  } else if (OutcomeText(outcome) != nullptr && state.firstHeader.marker[0] != 0) {
    char label[kPathSize];
    MailLabel(state.firstHeader, label, sizeof label);
    AppendBounded(OutcomeText(outcome), line, sizeof line);
    AppendBounded(label, line, sizeof line);
    if (outcome == Outcome::Delivered) {
      AppendBounded(", ", line, sizeof line);
      AppendBounded(pStr(state.spoolSize / kBlockSize), line, sizeof line);
      AppendBounded(state.spoolSize == kBlockSize ? " block" : " blocks", line, sizeof line);
    }
  }
  if (line[0] != 0) tkLog(0, "mail", line);
}

void DeliverListed(const std::vector<std::string>& names, int32_t setAside) {
  for (const std::string& name : names) {
    pClrMem(state.foundName, sizeof state.foundName);
    if (!AppendBounded(name.c_str(), state.foundName, sizeof state.foundName)) continue;
    const Outcome outcome = DeliverSpoolFile(setAside);
    Count(outcome);
    LogOutcome(outcome);
    pClrMem(&state.block, sizeof state.block);
    pClrMem(&state.filed, sizeof state.filed);
    pClrMem(&state.firstHeader, sizeof state.firstHeader);
    pClrMem(state.recipient, sizeof state.recipient);
  }
}

}  // namespace

DeliveryState& Delivery() { return state; }

void ResetDelivery() { pClrMem(&state, sizeof state); }

int32_t DeliverLocalMails() {
  ResetDelivery();
  ShowStatus("Delivering local mails...", 1);
  pDoEvent(kBlockPauseMs);
  std::vector<std::string> local = ListSpoolFiles(kLocalSuffix);
  std::vector<std::string> setAside = ListSpoolFiles(kUnknownAccountSuffix);
  DeliverListed(local, 0);
  DeliverListed(setAside, 1);
  pClrMem(state.foundName, sizeof state.foundName);
  ShowEndMessage();
  ShowProgress(0, 100);
  pDoEvent(kBlockPauseMs);
  return 1;
}
