// The writer dialog and its four commands.
#include "accounts/writer.h"

#include <vector>

#include "accounts/contacts.h"
#include "accounts/mail_common.h"
#include "accounts/open_account.h"
#include "config/config.h"
#include "console/console.h"
#include "console/prompt.h"
#include "platform/unit.h"
#include "store/linecost.h"
#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

using namespace mailui;

namespace {

ComposeBuffers compose;
WriterState writer;

// Between two blocks of an attachment or a posted chain: the interface takes
// what waits, without sleeping 150 ms a block (a 40 MB file would take half
// an hour).
constexpr int32_t kBlockYieldMs = 1;
constexpr int32_t kSubjectLimit = 47;      // pReadWndStr limit: 46 characters
constexpr int32_t kDestinationLimit = 47;
constexpr int32_t kTextLimit = 3519;       // 3518 characters
constexpr int32_t kKeyLength = 15;
constexpr int32_t kFieldProbe = 1 << 20;

HWND Dialog() { return writer.record.handle; }

int32_t Ask(const char* text, int32_t focusId, int32_t style) {
  return pAlert(kWriterTitle, text, Dialog(), focusId, style);
}

void Busy(int32_t on) {
  writer.busy = on;
  pWndEnable(Dialog(), 0, on ? 0 : 1);
}

int32_t PendingSize() {
  int32_t size = pFileSize(writer.pendingPath);
  return size > 0 ? size : 0;
}

// The file name part of a chosen path: after its last separator.
void BareName(const char* path, char* out, int32_t capacity) {
  int32_t n = pLen(path);
  int32_t start = 0;
  for (int32_t i = 0; i < n; i++)
    if (path[i] == '\\' || path[i] == '/') start = i + 1;
  pClrMem(out, capacity);
  AppendBounded(path + start, out, capacity);
}

// Reads the whole compressed file, so that an input error shows before a
// single record reaches the pending file.
int32_t ReadWhole(const char* path, std::vector<char>& bytes) {
  int32_t size = pFileSize(path);
  if (size <= 0) return 0;
  bytes.assign(static_cast<size_t>(size), 0);
  int32_t done = 0;
  while (done < size) {
    int32_t chunk = size - done < 65536 ? size - done : 65536;
    int32_t n = pFileIO(-1, path, done + 1, bytes.data() + done, chunk);
    if (n <= 0) return 0;
    done += n;
  }
  return 1;
}

// Appends the compressed bytes as attachment records tagged 'tag'.
int32_t AppendRecords(const std::vector<char>& bytes, const char* tag) {
  BlockPayload record;
  pClrMem(&record, sizeof record);
  SetSlot(record.tag, tag);
  int32_t size = static_cast<int32_t>(bytes.size());
  int32_t write = 1 + PendingRecordCount(writer.pendingPath) * kPayloadSize;
  for (int32_t read = 0; read < size;) {
    pDoEvent(kBlockYieldMs);
    pClrMem(record.content, kContentSize + 1);
    pClrMem(record.contentLength, sizeof record.contentLength);
    int32_t n = size - read < kContentSize ? size - read : kContentSize;
    pCopyMem(bytes.data() + read, record.content, n);
    SetSlot(record.contentLength, pStr(n));
    if (read + n == size) MarkFileEnd(record);
    if (pFileIO(1, writer.pendingPath, write, &record, kPayloadSize) != kPayloadSize) return 0;
    read += n;
    write += kPayloadSize;
    Progress(static_cast<uint32_t>(read), static_cast<uint32_t>(size));
  }
  return 1;
}

// Says what the packed file costs on the line before it joins the mail: a
// file that would make the mail larger than the Mail limit is refused, one
// that takes more than a minute on the line is attached only on Yes.
int32_t AcceptPackedSize(int64_t packedBytes) {
  char cost[160];
  LineCostText(packedBytes, Config().settings.Number(SettingsField::Baud), cost, sizeof cost);
  StatusLine(writer.chosenPath, ": ", cost);
  const int64_t blocks = AttachmentBlocks(packedBytes);
  char text[256] = {};
  AppendBounded("This file is ", text, sizeof text);
  AppendBounded(cost, text, sizeof text);
  if (1 + PendingRecordCount(writer.pendingPath) + blocks > MailLimitBlocks()) {
    char limit[64];
    MailLimitText(limit, sizeof limit);
    AppendBounded(": with it the mail would be larger than ", text, sizeof text);
    AppendBounded(limit, text, sizeof text);
    AppendBounded(", so it is not attached.", text, sizeof text);
    Ask(text, 0, 64);
    return 0;
  }
  if (LineSeconds(blocks, Config().settings.Number(SettingsField::Baud)) <= kAskAboveLineSeconds) return 1;
  AppendBounded(". Attach it?", text, sizeof text);
  return Ask(text, 0, 36) == IDYES ? 1 : 0;
}

// Compresses the chosen file and appends its records. Every way this can
// end is said on the status line; a file the unit library would not pack
// (unreadable, or over its 256 MB) is also said in a box, since nothing
// else would tell the user that the mail goes without it.
void AttachChosenFile(const char* tag) {
  StatusLine("Compressing ", writer.chosenPath, "...");
  const char* packed = vlOptimize(1, writer.chosenPath, Console().record.handle, kProgressBarId);
  char packedPath[256] = {};
  if (packed != nullptr) AppendBounded(packed, packedPath, sizeof packedPath);
  std::vector<char> bytes;
  if (pLen(packedPath) == 0 || !ReadWhole(packedPath, bytes)) {
    StatusLine(writer.chosenPath, " could not be attached");
    Ask("This file could not be compressed, so it is not attached: it cannot be read, or it is larger than 256 MB.",
        0, 64);
  } else if (!AcceptPackedSize(int64_t(bytes.size()))) {
    StatusLine(writer.chosenPath, " not attached");
  } else {
    StatusLine("Attaching ", writer.chosenPath, " to your mail... ");
    if (AppendRecords(bytes, tag)) {
      StatusLine(writer.chosenPath, " attached to your mail");
      writer.attachmentCount++;
    } else {
      StatusLine(writer.chosenPath, " could not be attached");
    }
  }
  if (pLen(packedPath) > 0) pFileDel(packedPath);
}

void Contact() {
  char pick[256] = {};
  WindowRecord placement = writer.record;
  pClrMem(placement.title, sizeof placement.title);
  placement.left = 150;
  placement.top = 76;
  placement.width = 0;
  placement.height = 0;
  if (vlContactLoader(pick, &writer.context, &placement) == 1) pWriteWndStr(Dialog(), kWriterDestination, pick);
  pClrMem(pick, sizeof pick);
}

void Exit() {
  if (PendingSize() > 0) {
    if (Ask("You have not posted your mail. Exit anyway?", 0, 36) != IDYES) return;
    pFileDel(writer.pendingPath);
  }
  tkEndDialog(Dialog(), 1);
}

LRESULT WriterProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void InitWriter(HWND dialog) {
  tkDialogInit(&writer.record, dialog, WriterProc, kWriterTitle);
  ShowAccountTitle(dialog, kWriterTitle);
  pGetWinParm(-3, -21, 0, 0, &writer.record);
  pWriteWndStr(dialog, kWriterStamp, compose.stamp);
  pWriteWndStr(dialog, kWriterSender, compose.sender);
  pWriteWndStr(dialog, kWriterSubject, compose.subject);
  pWriteWndStr(dialog, kWriterDestination, compose.destination);
  pClrMem(compose.contactName, sizeof compose.contactName);
  pWndFocus(dialog, kWriterSubject);
}

LRESULT WriterProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitWriter(dialog);
      return 0;
    case WM_SETFOCUS:
      pWndFocus(dialog, kWriterSubject);
      return 1;
    case WM_PAINT:
      tkDialogPaint(&writer.record, 0, 0, writer.context.instance);
      return 1;
    case WM_COMMAND:
      switch (CommandId(wParam)) {
        case kWriterContact: Contact(); return 1;
        case kWriterAttach: AttachFile(); return 1;
        case kWriterLock: LockMail(); return 1;
        case kWriterSend: PostMail(); return 1;
        case kWriterExit: Exit(); return 1;
        default: return 0;
      }
    default:
      return 0;
  }
}

// --- posting ---------------------------------------------------------------

struct Draft {
  char subject[48];
  char destination[48];
  char machine[kMachineSlotSize];
  char stamp[18];
  const char* suffix;
  int32_t records;
  int32_t attachments;
};

// The length of what a field holds (up to a mebibyte, far beyond any slot).
int32_t FieldLength(int32_t id) {
  std::vector<char> text(kFieldProbe, 0);
  return pReadWndStr(Dialog(), id, text.data(), kFieldProbe);
}

// A field longer than its slot in the mail is never cut without a word: the
// user is told what would go and may post it cut (as the mail takes it) or
// go back and shorten it. 1 when the field fits or the user agreed.
int32_t AgreeToCut(int32_t id, const char* what, int32_t limit) {
  const int32_t length = FieldLength(id);
  if (length <= limit) return 1;
  char text[256] = {};
  AppendBounded("Your ", text, sizeof text);
  AppendBounded(what, text, sizeof text);
  AppendBounded(" has ", text, sizeof text);
  AppendBounded(pStr(length), text, sizeof text);
  AppendBounded(" characters; a mail takes ", text, sizeof text);
  AppendBounded(pStr(limit), text, sizeof text);
  AppendBounded(". Post it without its last ", text, sizeof text);
  AppendBounded(pStr(length - limit), text, sizeof text);
  AppendBounded("?", text, sizeof text);
  return Ask(text, id, 36) == IDYES ? 1 : 0;
}

// Steps 3 to 9 of a post: what the user typed and where it goes. 0 when a
// check failed (its message has been shown).
int32_t ReadDraft(Draft& draft) {
  HWND dialog = Dialog();
  pReadWndStr(dialog, kWriterSubject, draft.subject, kSubjectLimit);
  if (pLen(draft.subject) == 0) {
    Ask("Your mail has no subject", kWriterSubject, 64);
    return 0;
  }
  pReadWndStr(dialog, kWriterDestination, draft.destination, kDestinationLimit);
  if (pLen(draft.destination) == 0) {
    Ask("Your mail has no destination address", kWriterDestination, 64);
    return 0;
  }
  // A cut address would be another address: the mail could reach someone else.
  if (FieldLength(kWriterDestination) > kDestinationLimit - 1) {
    Ask("This destination address is too long: an address has at most 46 characters.", kWriterDestination, 64);
    return 0;
  }
  if (!AgreeToCut(kWriterSubject, "subject", kSubjectLimit - 1) ||
      !AgreeToCut(kWriterText, "message", kTextLimit - 1))
    return 0;
  const char* machId = Config().unit.Text(UnitField::MachID);
  if (pLen(machId) == 0) {
    Ask("Enter this machine ID in [Setting]", kWriterDestination, 64);
    return 0;
  }
  AddressMachinePart(draft.destination, draft.machine, sizeof draft.machine);
  draft.suffix = MatchMachine(machId, draft.machine) == 1 ? kLocalSuffix : kRemoteSuffix;
  draft.records = PendingRecordCount(writer.pendingPath);
  draft.attachments = PendingFileCount(writer.pendingPath);
  AppendBounded(compose.stamp, draft.stamp, sizeof draft.stamp);
  return 1;
}

// Step 10: a spool file of its own; another mail of this minute keeps its
// file and this one takes the next stamp variant.
int32_t ChooseSpoolFile(Draft& draft) {
  int32_t chosen = ChooseFreeSpoolName(compose.sender, draft.stamp, draft.suffix, writer.spoolPath);
  if (chosen == 0) {
    Ask("Too many mails posted in this minute. Post this one again in a minute.", 0, 64);
    return 0;
  }
  if (chosen == 2) {
    char text[256] = {};
    AppendBounded("Another mail of yours already waits with this minute's stamp; this mail is posted as ", text,
                  sizeof text);
    AppendBounded(draft.stamp, text, sizeof text);
    Ask(text, 0, 64);
  }
  return 1;
}

void FillHeader(const Draft& draft, MailHeader& header) {
  pClrMem(&header, sizeof header);
  SetSlot(header.marker, kMailMarker);
  SetSlot(header.postedAt, draft.stamp);
  SetSlot(header.sender, compose.sender);
  SetSlot(header.onlineMachineId, Config().unit.Text(UnitField::OnlineMachID));
  SetSlot(header.subject, draft.subject);
  SetSlot(header.destination, draft.destination);
  SetSlot(header.contactName, compose.contactName);
  SetSlot(header.lockKey, writer.lockKey);
  SetSlot(header.blockNumber, "1");
  SetSlot(header.totalBlocks, pStr(1 + draft.records));
  SetSlot(header.attachmentCount, pStr(draft.attachments));
  SetSlot(header.status, kStatusNew);
}

void FillMessage(BlockPayload& payload) {
  pClrMem(&payload, sizeof payload);
  SetSlot(payload.tag, kMessageTag);
  int32_t n = pReadWndStr(Dialog(), kWriterText, payload.content, kTextLimit);
  if (n < 0) n = 0;
  SetSlot(payload.contentLength, pStr(n));
}

// Steps 11 to 14: the whole chain into the chosen spool file. 0 when a
// block could not be written or a pending record could not be read.
int32_t WriteChain(const Draft& draft) {
  MailBlock& block = writer.block;
  FillHeader(draft, block.header);
  FillMessage(block.payload);
  vlData(1, &block.header, kHeaderSize);
  vlData(1, &block.payload, kPayloadSize);
  StatusLine("Posting your mail...");
  int32_t spool = 1;
  if (pFileIO(1, writer.spoolPath, spool, &block, kBlockSize) != kBlockSize) return 0;
  spool += kBlockSize;
  uint32_t pendingBytes = static_cast<uint32_t>(draft.records) * kPayloadSize;
  int32_t pending = 1;
  for (int32_t k = 2; k <= 1 + draft.records; k++) {
    vlData(-1, &block.header, kHeaderSize);
    pDoEvent(kBlockYieldMs);
    pClrMem(&block.payload, kPayloadSize);
    SetSlot(block.header.blockNumber, pStr(k));
    vlData(1, &block.header, kHeaderSize);
    if (pFileIO(-1, writer.pendingPath, pending, &block.payload, kPayloadSize) != kPayloadSize) return 0;
    pending += kPayloadSize;
    if (pFileIO(1, writer.spoolPath, spool, &block, kBlockSize) != kBlockSize) return 0;
    spool += kBlockSize;
    Progress(static_cast<uint32_t>(pending - 1), pendingBytes);
  }
  return 1;
}

// Step 16: ready for the next mail of the same account.
void ClearForNextMail() {
  HWND dialog = Dialog();
  writer.attachmentCount = 0;
  pClrMem(writer.lockKey, sizeof writer.lockKey);
  pClearWndStr(dialog, kWriterSubject);
  pClearWndStr(dialog, kWriterDestination);
  pClearWndStr(dialog, kWriterText);
  pClearWndStr(dialog, kWriterStamp);
  pClrMem(compose.stamp, sizeof compose.stamp);
  PostedAtText(compose.stamp);
  pWriteWndStr(dialog, kWriterStamp, compose.stamp);
}

void PostDraft() {
  Draft draft;
  pClrMem(&draft, sizeof draft);
  if (Ask("Proceed with mail posting?", 0, 36) != IDYES) return;
  if (!ReadDraft(draft) || !ChooseSpoolFile(draft)) return;
  if (!WriteChain(draft)) {
    // Half a chain would never become complete; take it away again and keep
    // everything in the writer, attachments and lock included.
    pFileDel(writer.spoolPath);
    Ask("Your mail could not be posted. It is kept in the writer.", 0, 64);
    return;
  }
  pFileDel(writer.pendingPath);
  StatusLine("Your mail has been posted");
  ClearForNextMail();
}

}  // namespace

ComposeBuffers& Compose() { return compose; }
void ResetCompose() { pClrMem(&compose, sizeof compose); }
WriterState& Writer() { return writer; }
void ResetWriter() { pClrMem(&writer, sizeof writer); }

void PrepareCompose() {
  ResetCompose();
  PostedAtText(compose.stamp);
  char id[sizeof(AccountRecord::accountId) + 1];
  SlotText(ActiveAccount().record.accountId, id);
  char machId[sizeof(compose.sender)] = {};
  AppendBounded(Config().unit.Text(UnitField::MachID), machId, sizeof machId);
  char sender[256] = {};
  BuildAddress(sender, id, machId);
  AppendBounded(sender, compose.sender, sizeof compose.sender);
}

int32_t PendingRecordCount(const char* pendingPath) {
  int32_t size = pFileSize(pendingPath);
  return size > 0 ? size / kPayloadSize : 0;
}

int32_t PendingFileCount(const char* pendingPath) {
  // Records left by a writer that was stopped go with the next mail too, so
  // the files are counted from the records rather than from this writer's
  // own attachments: a file starts where the tag changes or after the chunk
  // that ended the one before.
  int32_t records = PendingRecordCount(pendingPath);
  BlockPayload record;
  char previous[sizeof record.tag + 1] = {};
  int32_t files = 0;
  int32_t lastEnded = 0;
  for (int32_t i = 0; i < records; i++) {
    pClrMem(&record, sizeof record);
    if (pFileIO(-1, pendingPath, 1 + i * kPayloadSize, &record, kPayloadSize) != kPayloadSize) break;
    char tag[sizeof record.tag + 1];
    SlotText(record.tag, tag);
    if (files == 0 || lastEnded || pCmp(tag, previous) != 1) files++;
    pClrMem(previous, sizeof previous);
    AppendBounded(tag, previous, sizeof previous);
    lastEnded = ChunkEndsFile(record);
  }
  pClrMem(&record, sizeof record);
  return files;
}

int32_t OpenWriter(HWND owner, const WindowContext* context) {
  ResetWriter();
  tkDialogOpen(&writer.record, &writer.context, context);
  char encoded[sizeof(AccountRecord::encodedId) + 1];
  SlotText(ActiveAccount().record.encodedId, encoded);
  AppendBounded(Config().spoolPath, writer.pendingPath, sizeof writer.pendingPath);
  AppendBounded("\\", writer.pendingPath, sizeof writer.pendingPath);
  AppendBounded(encoded, writer.pendingPath, sizeof writer.pendingPath);
  tkDialogBox(context->instance, 3000, owner, WriterProc, 0);
  ResetWriter();
  return 1;
}

int32_t AttachFile() {
  Busy(1);
  Progress(0, 1);
  pClrMem(writer.chosenPath, sizeof writer.chosenPath);
  pFileName(-1, writer.context.instance, writer.chosenPath, 255, "All Files\0*.*\0");
  char tag[256] = {};
  BareName(writer.chosenPath, tag, sizeof tag);
  if (pLen(writer.chosenPath) == 0) {
    // nothing chosen
  } else if (pLen(tag) == 0 || pLen(tag) > kMaxBareName) {
    Ask("This file's name is too long to attach (at most 47 characters).", 0, 64);
  } else {
    AttachChosenFile(tag);
  }
  Progress(0, 1);
  pClrMem(writer.chosenPath, sizeof writer.chosenPath);
  Busy(0);
  return 1;
}

int32_t LockMail() {
  if (pLen(writer.lockKey) > 0) {
    if (Ask("Mail is already locked. Proceed anyway?", 0, 36) != IDYES) return 1;
    pClrMem(writer.lockKey, sizeof writer.lockKey);
  }
  for (;;) {
    if (vlAskLoader(-1, "Enter a key to lock your mail (Optional)", writer.lockKey, kKeyLength, &writer.context,
                    &writer.record) != 1)
      return 1;
    if (vlAskLoader(-1, "Confirm your mail key", writer.lockKey, kKeyLength, &writer.context, &writer.record) != 0)
      return 1;
    Ask("Mail key not consistent. Retry.", kWriterLock, 64);
    pClrMem(writer.lockKey, sizeof writer.lockKey);
  }
}

int32_t PostMail() {
  Busy(1);
  Progress(0, 1);
  pClrMem(&writer.block, sizeof writer.block);
  pClrMem(writer.spoolPath, sizeof writer.spoolPath);
  PostDraft();
  Progress(0, 1);
  pClrMem(&writer.block, sizeof writer.block);
  pClrMem(writer.spoolPath, sizeof writer.spoolPath);
  Busy(0);
  // With the courier off, a Send (answered or not) asks for a pass at the
  // next tick.
  if (Config().unit.Number(UnitField::EnableECourier) == 0) Console().sendNow = 1;
  return 1;
}
