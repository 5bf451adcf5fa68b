// Reports of undelivered mails (see bounce.h).
#include "store/bounce.h"

#include "config/config.h"
#include "platform/unit.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

constexpr int32_t kSubjectMaxLength = 46;

// A field of the machine's UnitRecord as text, never past its slot.
void UnitText(FieldSlot slot, char* out, int32_t size) {
  pClrMem(out, size);
  const char* text = Config().unit.Text(slot);
  for (int32_t n = 0; n < slot.width - 1 && n < size - 1 && text[n] != 0; ++n) out[n] = text[n];
}

// Appends the slot's text to out (capacity bytes), as far as it fits.
template <size_t N>
void AppendSlotText(const char (&slot)[N], char* out, int32_t capacity) {
  char text[N + 1];
  SlotText(slot, text);
  AppendBounded(text, out, capacity);
}

// Appends label, text and a line end to the message, as far as they fit.
void AddLine(char* message, const char* label, const char* text) {
  AppendBounded(label, message, kMessageMaxLength + 1);
  AppendBounded(text, message, kMessageMaxLength + 1);
  AppendBounded("\r\n", message, kMessageMaxLength + 1);
}

template <size_t N>
void AddSlotLine(char* message, const char* label, const char (&slot)[N]) {
  char text[N + 1];
  SlotText(slot, text);
  AddLine(message, label, text);
}

void WriteMessage(const MailHeader& original, const char* reason, BlockPayload& payload) {
  char machine[kMachineSlotSize];
  UnitText(UnitField::MachID, machine, sizeof machine);
  char message[kMessageMaxLength + 1] = {};
  AddLine(message, "Your mail could not be delivered.\r\n", "");
  AddLine(message, "Reason:   ", reason);
  AddSlotLine(message, "To:       ", original.destination);
  AddSlotLine(message, "Subject:  ", original.subject);
  AddSlotLine(message, "Posted:   ", original.postedAt);
  const int32_t files = SlotNumber(original.attachmentCount, sizeof original.attachmentCount);
  if (files > 0) AddLine(message, "Attached: ", pStr(files));
  if (files > 0) AddLine(message, "(The attached files are not repeated here.)", "");
  AddLine(message, "\r\nThis report comes from machine ", machine);
  pClrMem(&payload, sizeof payload);
  SetSlot(payload.content, message);
  SetSlot(payload.tag, kMessageTag);
  SetSlot(payload.contentLength, pStr(pLen(message)));
}

void WriteHeader(const MailHeader& original, const char* sender, const char* stamp, MailHeader& header) {
  char destination[sizeof original.sender + 1];
  char subject[kSubjectMaxLength + 1] = {};
  char originalSubject[sizeof original.subject + 1];
  SlotText(original.sender, destination);
  SlotText(original.subject, originalSubject);
  AppendBounded(kReportSubject, subject, sizeof subject);
  for (int32_t n = pLen(subject), i = 0; n < kSubjectMaxLength && originalSubject[i] != 0; ++n, ++i)
    subject[n] = originalSubject[i];
  char online[kMachineSlotSize];
  UnitText(UnitField::OnlineMachID, online, sizeof online);
  pClrMem(&header, sizeof header);
  SetSlot(header.marker, kMailMarker);
  SetSlot(header.postedAt, stamp);
  SetSlot(header.sender, sender);
  SetSlot(header.onlineMachineId, online);
  SetSlot(header.subject, subject);
  SetSlot(header.destination, destination);
  SetSlot(header.blockNumber, "1");
  SetSlot(header.totalBlocks, "1");
  SetSlot(header.attachmentCount, "0");
  SetSlot(header.status, kStatusNew);
}

}  // namespace

void MailLabel(const MailHeader& header, char* out, int32_t capacity) {
  pClrMem(out, capacity);
  AppendBounded("mail from ", out, capacity);
  AppendSlotText(header.sender, out, capacity);
  AppendBounded(" to ", out, capacity);
  AppendSlotText(header.destination, out, capacity);
  AppendBounded(" of ", out, capacity);
  AppendSlotText(header.postedAt, out, capacity);
}

int32_t IsReportMail(const MailHeader& header) {
  char sender[sizeof header.sender + 1];
  char user[sizeof header.sender + 1];
  SlotText(header.sender, sender);
  return AddressUserPart(sender, user, sizeof user) == 1 && pCmp(user, kReportSender) == 1 ? 1 : 0;
}

int32_t PostReport(const MailHeader& original, const char* reason) {
  if (IsReportMail(original)) return kReportNotMade;
  char to[sizeof original.sender + 1];
  char machine[sizeof original.sender + 1];
  SlotText(original.sender, to);
  if (AddressMachinePart(to, machine, sizeof machine) != 1) return kReportNotMade;
  char ownMachine[kMachineSlotSize];
  UnitText(UnitField::MachID, ownMachine, sizeof ownMachine);
  char sender[kPathSize] = {};
  BuildAddress(sender, kReportSender, ownMachine);
  const char* suffix = MatchMachine(ownMachine, machine) == 1 ? kLocalSuffix : kRemoteSuffix;
  char stamp[sizeof original.postedAt] = {};
  PostedAtText(stamp);
  char spoolPath[kPathSize] = {};
  if (ChooseFreeSpoolName(sender, stamp, suffix, spoolPath) == 0) return kReportNotWritten;
  MailBlock block;
  WriteMessage(original, reason, block.payload);
  WriteHeader(original, sender, stamp, block.header);
  vlData(1, &block.payload, kPayloadSize);
  vlData(1, &block.header, kHeaderSize);
  const int32_t written = pFileIO(1, spoolPath, 1, &block, kBlockSize);
  pClrMem(&block, sizeof block);
  if (written == kBlockSize) return kReportPosted;
  pFileDel(spoolPath);
  return kReportNotWritten;
}
