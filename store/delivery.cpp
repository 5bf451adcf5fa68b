// Local delivery: complete "[=]" spool files into their mailboxes.
#include "store/delivery.h"

#include <string>
#include <vector>

#include "config/config.h"
#include "console/console.h"
#include "platform/unit.h"
#include "toolkit/files.h"
#include "toolkit/text.h"
#include "toolkit/window.h"

namespace {

DeliveryState state;

constexpr int32_t kBlockPauseMs = 150;

enum class Outcome { Delivered, Skipped, Removed, UnknownAccount, Damaged, Kept };

void ShowStatus(const char* text, int32_t reset) { pWriteWndTxt(Console().statusLine, 0, text, reset, 0); }

void ShowProgress(int32_t position, int32_t total) {
  pProgressBar(1, Console().record.handle, kProgressBarId, position, total);
}

int32_t FileExists(const char* path) { return pFileSize(path) != -1 ? 1 : 0; }

// Moves the spool file to a name ending in suffix, which no run scans for:
// the found name without its "[=]", then a number when that name is taken.
void SetAside(const char* suffix) {
  char base[kPathSize] = {};
  AppendBounded(state.spoolPath, base, kPathSize);
  if (pLen(base) < pLen(kLocalSuffix)) return;
  base[pLen(base) - pLen(kLocalSuffix)] = 0;
  char target[kPathSize];
  for (int32_t n = 0; n < 100; ++n) {
    pClrMem(target, kPathSize);
    if (!AppendBounded(base, target, kPathSize)) return;
    if (n > 0 && !AppendBounded(pStr(n), target, kPathSize)) return;
    if (!AppendBounded(suffix, target, kPathSize)) return;
    if (!FileExists(target) && pFileRen(state.spoolPath, target) == 1) return;
  }
}

// The recipient's account, from the first header; 0 when no account of this
// machine has that id. Ids are stored in lower case, so the user part is
// folded before it names a folder.
int32_t FindRecipient() {
  char destination[sizeof(MailHeader::destination) + 1];
  SlotText(state.firstHeader.destination, destination);
  if (!AddressUserPart(destination, state.recipient, kMaxIdLength + 1)) return 0;
  LowerCaseInPlace(state.recipient);
  if (pIsChrValid(state.recipient, kIdAlphabet) != 1) return 0;
  if (!BuildAccountPaths(state.recipient, state.accountFolder, state.accountFile, nullptr)) return 0;
  return pFileSize(state.accountFile) > 0 ? 1 : 0;
}

// The mail file name: the first stamp variant under which the account folder
// holds no mail file yet. 0 when every variant of the minute is taken.
int32_t ChooseMailFile() {
  char sender[sizeof(MailHeader::sender) + 1];
  char original[sizeof(MailHeader::postedAt) + 1];
  SlotText(state.firstHeader.sender, sender);
  SlotText(state.firstHeader.postedAt, original);
  for (int32_t variant = 0; variant <= kStampVariants; ++variant) {
    if (variant == 0) {
      pClrMem(state.stamp, sizeof state.stamp);
      AppendBounded(original, state.stamp, sizeof state.stamp);
    } else {
      StampVariant(original, variant, state.stamp);
    }
    if (!BuildMailPath(state.accountFolder, sender, state.stamp, kLocalSuffix, state.mailPath)) return 0;
    if (!FileExists(state.mailPath)) {
      state.restamped = pCmp(state.stamp, original) == 1 ? 0 : 1;
      return 1;
    }
  }
  pClrMem(state.mailPath, kPathSize);
  return 0;
}

// Reads block k and checks that it belongs where it lies: a mail header with
// its own number and the chain's total. On success the header is unscrambled.
int32_t ReadChainBlock(int32_t k, int32_t total) {
  if (ReadBlockHeader(state.spoolPath, BlockPosition(k), state.block) != kBlockSize) return 0;
  const MailHeader& h = state.block.header;
  if (SlotEquals(h.marker, kMailMarker) != 1) return 0;
  if (SlotEquals(h.blockNumber, pStr(k)) != 1) return 0;
  return SlotEquals(h.totalBlocks, pStr(total));
}

// Copies blocks 1..total into the new mail file. Returns Delivered, Damaged
// (a block out of place) or Kept (a write failed); on failure the mail file is
// removed again so the next run starts clean.
Outcome CopyBlocks(int32_t total) {
  for (int32_t k = 1; k <= total; ++k) {
    if (k > 1) {
      pDoEvent(kBlockPauseMs);
      if (!ReadChainBlock(k, total)) {
        pFileDel(state.mailPath);
        return Outcome::Damaged;
      }
    }
    if (state.restamped) SetSlot(state.block.header.postedAt, state.stamp);
    vlData(1, &state.block.header, kHeaderSize);
    int32_t written = pFileIO(1, state.mailPath, BlockPosition(k), &state.block, kBlockSize);
    if (written != kBlockSize) {
      pFileDel(state.mailPath);
      return Outcome::Kept;
    }
    ShowProgress(BlockPosition(k + 1), state.spoolSize);
  }
  return Outcome::Delivered;
}

// Appends the first header to the mailbox index, after its last whole entry
// (a torn tail entry is kept, not overwritten).
int32_t AppendIndexEntry() {
  pClrMem(state.indexPath, kPathSize);
  char encoded[kNameBufferSize];
  EncodeName(state.recipient, encoded);
  int32_t ok = AppendBounded(state.accountFolder, state.indexPath, kPathSize) &&
               AppendBounded("\\", state.indexPath, kPathSize) && AppendBounded(encoded, state.indexPath, kPathSize) &&
               AppendBounded(kMailboxSuffix, state.indexPath, kPathSize);
  pClrMem(encoded, sizeof encoded);
  if (!ok) return 0;
  int32_t size = pFileSize(state.indexPath);
  if (size == -1) size = 0;
  int32_t entries = (size + kHeaderSize - 1) / kHeaderSize;
  MailHeader entry = state.firstHeader;
  if (state.restamped) SetSlot(entry.postedAt, state.stamp);
  vlData(1, &entry, kHeaderSize);
  int32_t written = pFileIO(1, state.indexPath, IndexEntryPosition(entries + 1), &entry, kHeaderSize);
  pClrMem(&entry, sizeof entry);
  return written == kHeaderSize ? 1 : 0;
}

Outcome DeliverChain() {
  pDoEvent(kBlockPauseMs);
  if (!ReadChainBlock(1, state.spoolSize / kBlockSize)) return Outcome::Damaged;
  state.firstHeader = state.block.header;
  // Without sender and stamp the mail has no name to be filed under.
  if (state.firstHeader.sender[0] == 0 && state.firstHeader.postedAt[0] == 0) return Outcome::Damaged;
  if (!FindRecipient()) return Outcome::UnknownAccount;
  if (!ChooseMailFile()) return Outcome::Kept;
  Outcome copied = CopyBlocks(state.spoolSize / kBlockSize);
  if (copied != Outcome::Delivered) return copied;
  if (!AppendIndexEntry()) {
    pFileDel(state.mailPath);
    return Outcome::Kept;
  }
  // Whatever was appended to the spool file meanwhile is not in the mailbox:
  // keep the file for a person to look at rather than delete it.
  if (pFileSize(state.spoolPath) != state.spoolSize) return Outcome::Damaged;
  pFileDel(state.spoolPath);
  return Outcome::Delivered;
}

Outcome DeliverSpoolFile() {
  pDoEvent(kBlockPauseMs);
  ShowProgress(0, 100);
  pClrMem(state.spoolPath, kPathSize);
  pClrMem(state.mailPath, kPathSize);
  pClrMem(state.indexPath, kPathSize);
  state.restamped = 0;
  if (!AppendBounded(Config().spoolPath, state.spoolPath, kPathSize) ||
      !AppendBounded("\\", state.spoolPath, kPathSize) || !AppendBounded(state.foundName, state.spoolPath, kPathSize))
    return Outcome::Skipped;
  state.spoolSize = pFileSize(state.spoolPath);
  // An unreadable size is a file someone holds open: try again next run.
  if (state.spoolSize == -1) return Outcome::Skipped;
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
  if (outcome == Outcome::UnknownAccount) SetAside(kUnknownAccountSuffix);
  if (outcome == Outcome::Damaged) SetAside(kDamagedSuffix);
  return outcome;
}

void Count(Outcome outcome) {
  switch (outcome) {
    case Outcome::Delivered:
      ++state.delivered;
      state.renamed += state.restamped;
      break;
    case Outcome::UnknownAccount: ++state.unknownAccount; break;
    case Outcome::Damaged: ++state.damaged; break;
    case Outcome::Kept: ++state.kept; break;
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
  if (state.unknownAccount + state.damaged + state.kept == 0) {
    ShowStatus("All local mails delivered", 1);
  } else {
    ShowStatus("Local mails delivered", 1);
    int32_t first = 1;
    AppendNote(state.unknownAccount, " for unknown accounts (set aside in POST as [u])", first);
    AppendNote(state.damaged, " damaged (set aside in POST as [!])", first);
    AppendNote(state.kept, " that could not be written (kept in POST)", first);
  }
  if (state.renamed > 0) {
    ShowStatus("; ", 0);
    ShowStatus(pStr(state.renamed), 0);
    ShowStatus(" restamped to keep mails of one minute apart", 0);
  }
}

// The names of the local spool files as the folder lists them now. Taking
// them all before the first pause keeps the one file search of the toolkit
// out of reach of whatever runs inside the pauses, and files set aside or
// deleted during the run out of the listing.
std::vector<std::string> ListLocalSpoolFiles() {
  std::vector<std::string> names;
  char pattern[kPathSize] = {};
  if (!AppendBounded(Config().spoolPath, pattern, kPathSize) || !AppendBounded("\\*", pattern, kPathSize) ||
      !AppendBounded(kLocalSuffix, pattern, kPathSize))
    return names;
  char name[260] = {};
  for (int32_t found = pFileFind(pattern, name, 1); found == 1; found = pFileFind(pattern, name, 0)) {
    names.emplace_back(name);
    pClrMem(name, sizeof name);
  }
  return names;
}

}  // namespace

DeliveryState& Delivery() { return state; }

void ResetDelivery() { pClrMem(&state, sizeof state); }

int32_t DeliverLocalMails() {
  ResetDelivery();
  ShowStatus("Delivering local mails...", 1);
  pDoEvent(kBlockPauseMs);
  for (const std::string& name : ListLocalSpoolFiles()) {
    pClrMem(state.foundName, sizeof state.foundName);
    if (!AppendBounded(name.c_str(), state.foundName, sizeof state.foundName)) continue;
    Count(DeliverSpoolFile());
    pClrMem(&state.block, sizeof state.block);
    pClrMem(&state.firstHeader, sizeof state.firstHeader);
    pClrMem(state.recipient, sizeof state.recipient);
  }
  pClrMem(state.foundName, sizeof state.foundName);
  ShowEndMessage();
  ShowProgress(0, 100);
  pDoEvent(kBlockPauseMs);
  return 1;
}
