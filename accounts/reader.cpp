// The reader dialog: showing a mail, saving its attachments, Add and Reply.
#include "accounts/reader.h"

#include <string>
#include <vector>

#include "accounts/contacts.h"
#include "accounts/mail_common.h"
#include "accounts/open_account.h"
#include "accounts/writer.h"
#include "console/console.h"
#include "platform/unit.h"
#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

using namespace mailui;

namespace {

ReaderState reader;

// Between two blocks of a save: the interface takes what waits (Exit among
// it), without sleeping 150 ms a block through a large mail.
constexpr int32_t kBlockYieldMs = 1;
constexpr const char* kReplyPrefix = "<RE:>";

HWND Dialog() { return reader.record.handle; }

// --- saving attachments ------------------------------------------------------

// Names of the files written in one save, so that two attachments of one
// name (or two tags reduced to one safe name) never land in one file.
struct SavePass {
  std::vector<std::string> names;
  int32_t lastEnded;  // the previous chunk ended its file
  int32_t refused;    // files the unit library could not decompress
};

// Decompresses a saved file in place; the unit library keeps a file it
// refuses as it was and answers an empty path.
void Unpack(SavePass& pass, const char* path) {
  const char* unpacked = vlOptimize(-1, path, Console().record.handle, kProgressBarId);
  if (unpacked == nullptr || unpacked[0] == 0) pass.refused++;
}

// Opens the next output file for the chunks tagged 'tag'. 0 when no file
// can be made for it (the status line says why).
int32_t StartFile(SavePass& pass, const char* tag) {
  char name[kMaxBareName + 1] = {};
  int32_t reduced = SaveNameFor(tag, pass.names, name);
  pClrMem(reader.outputPath, sizeof reader.outputPath);
  int32_t end = pLen(reader.folder);
  int32_t hasSeparator = end > 0 && (reader.folder[end - 1] == '\\' || reader.folder[end - 1] == '/');
  if (!AppendBounded(reader.folder, reader.outputPath, kPathSize) ||
      (!hasSeparator && !AppendBounded("\\", reader.outputPath, kPathSize)) ||
      !AppendBounded(name, reader.outputPath, kPathSize)) {
    pClrMem(reader.outputPath, sizeof reader.outputPath);
    StatusLine("The chosen folder's path is too long for ", name);
    return 0;
  }
  // Replace, never write over: an older, longer file must not keep its tail.
  pFileDel(reader.outputPath);
  if (pFileSize(reader.outputPath) > 0) {
    StatusLine("Cannot replace ", reader.outputPath);
    pClrMem(reader.outputPath, sizeof reader.outputPath);
    return 0;
  }
  pass.names.push_back(name);
  pClrMem(reader.attachmentName, sizeof reader.attachmentName);
  AppendBounded(tag, reader.attachmentName, sizeof reader.attachmentName);
  reader.outputPosition = 1;
  if (reduced)
    StatusLine("Downloading mail attachment - ", name, "... (unsafe name reduced from ", tag, ")");
  else
    StatusLine("Downloading mail attachment - ", name, "...");
  return 1;
}

void DropOutput() {
  if (pLen(reader.outputPath) > 0) pFileDel(reader.outputPath);
  pClrMem(reader.outputPath, sizeof reader.outputPath);
}

// The file being written when the chain broke off: kept (and unpacked)
// only when its last chunk said it was complete.
void EndTornFile(SavePass& pass) {
  if (pLen(reader.outputPath) == 0) return;
  if (pass.lastEnded)
    Unpack(pass, reader.outputPath);
  else
    DropOutput();
  pClrMem(reader.outputPath, sizeof reader.outputPath);
}

// The block loop. 1 when every block was saved, 0 when saving stopped.
int32_t SaveBlocks(SavePass& pass) {
  MailBlock& chunk = reader.chunk;
  uint32_t size = static_cast<uint32_t>(reader.mailSize);
  reader.readPosition = 1 + kBlockSize;
  // Whole blocks only: a torn last block of a damaged file is not a chunk.
  while (reader.readPosition - 1 + kBlockSize <= size) {
    pDoEvent(kBlockYieldMs);
    if (reader.stopSave) {
      DropOutput();
      StatusLine("Saving stopped: the file being written is removed; the mail is kept as it was");
      return 0;
    }
    int32_t n = ReadBlockHeader(reader.mailPath, static_cast<int32_t>(reader.readPosition), chunk);
    reader.readPosition += kBlockSize;
    char tag[sizeof chunk.payload.tag + 1];
    SlotText(chunk.payload.tag, tag);
    reader.count = SlotNumber(chunk.payload.contentLength, sizeof chunk.payload.contentLength);
    if (n != kBlockSize || reader.count < 0 || reader.count > kContentSize || pLen(tag) == 0) {
      DropOutput();
      StatusLine("This mail's attachments are damaged; saving stopped");
      return 0;
    }
    if (pCmp(tag, reader.attachmentName) != 1 || pass.lastEnded) {
      if (pLen(reader.outputPath) > 0) {
        StatusLine("Uncompressing ", reader.outputPath, "...");
        Unpack(pass, reader.outputPath);
      }
      if (!StartFile(pass, tag)) return 0;
    }
    if (reader.count > 0 && pFileIO(1, reader.outputPath, static_cast<int32_t>(reader.outputPosition),
                                    chunk.payload.content, reader.count) != reader.count) {
      StatusLine("Could not write ", reader.outputPath);
      DropOutput();
      return 0;
    }
    reader.outputPosition += static_cast<uint32_t>(reader.count);
    pass.lastEnded = ChunkEndsFile(chunk.payload);
    Progress(reader.readPosition, size);
  }
  // A chain that is torn, or shorter or longer than its header says, has
  // lost blocks: whatever was saved, the mail is not whole.
  int32_t declared = SlotNumber(reader.block.header.totalBlocks, sizeof reader.block.header.totalBlocks);
  if (size % kBlockSize != 0 || declared != static_cast<int32_t>(size / kBlockSize)) {
    EndTornFile(pass);
    StatusLine("This mail's attachments are damaged; saving stopped");
    return 0;
  }
  return 1;
}

void ClearSaveBuffers() {
  pClrMem(reader.folder, sizeof reader.folder);
  pClrMem(reader.outputPath, sizeof reader.outputPath);
  pClrMem(reader.attachmentName, sizeof reader.attachmentName);
  pClrMem(&reader.chunk, sizeof reader.chunk);
  reader.outputPosition = 0;
  reader.count = 0;
}

// --- the dialog --------------------------------------------------------------

void Reply() {
  ComposeBuffers& compose = Compose();
  char subject[sizeof(MailHeader::subject) + 1];
  SlotText(reader.block.header.subject, subject);
  pClrMem(compose.subject, sizeof compose.subject);
  AppendBounded(kReplyPrefix, compose.subject, sizeof compose.subject);
  // The subject buffer holds 47 characters; a long subject is cut.
  int32_t room = static_cast<int32_t>(sizeof compose.subject) - 1 - pLen(kReplyPrefix);
  if (pLen(subject) > room) subject[room] = 0;
  AppendBounded(subject, compose.subject, sizeof compose.subject);
  pClrMem(compose.destination, sizeof compose.destination);
  char sender[sizeof(MailHeader::sender) + 1];
  SlotText(reader.block.header.sender, sender);
  AppendBounded(sender, compose.destination, sizeof compose.destination);
  reader.replyFlag = 1;
  tkEndDialog(Dialog(), 1);
}

template <size_t N>
void ShowSlot(HWND dialog, int32_t id, const char (&slot)[N]) {
  char text[N + 1];
  SlotText(slot, text);
  pWriteWndStr(dialog, id, text);
}

LRESULT ReaderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void InitReader(HWND dialog) {
  tkDialogInit(&reader.record, dialog, ReaderProc, kReaderTitle);
  ShowAccountTitle(dialog, kReaderTitle);
  pGetWinParm(-3, -21, 0, 0, &reader.record);
  const MailHeader& header = reader.block.header;
  ShowSlot(dialog, kReaderDate, header.postedAt);
  ShowSlot(dialog, kReaderFrom, header.sender);
  ShowSlot(dialog, kReaderSubject, header.subject);
  ShowSlot(dialog, kReaderTo, header.destination);
  pWriteWndStr(dialog, kReaderText, reader.block.payload.content);
  int32_t attachments = reader.mailSize > kBlockSize ? 1 : 0;
  pWndShow(dialog, kReaderSave, attachments);
  pWndEnable(dialog, kReaderSave, attachments);
  pWndFocus(dialog, kReaderDate);
}

LRESULT ReaderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitReader(dialog);
      return 0;
    case WM_SETFOCUS:
      pWndFocus(dialog, kReaderDate);
      return 1;
    case WM_PAINT:
      tkDialogPaint(&reader.record, 0, 0, reader.context.instance);
      return 1;
    case WM_COMMAND:
      switch (CommandId(wParam)) {
        case kReaderAdd: AddSenderToContacts(); return 1;
        case kReaderSave: SaveAttachments(); return 1;
        case kReaderReply: Reply(); return 1;
        case kReaderExit:
          reader.replyFlag = 0;
          reader.stopSave = reader.saving;
          tkEndDialog(dialog, 1);
          return 1;
        default: return 0;
      }
    default:
      return 0;
  }
}

}  // namespace

ReaderState& Reader() { return reader; }
void ResetReader() { pClrMem(&reader, sizeof reader); }

int32_t OpenReader(HWND owner, const WindowContext* context) {
  tkDialogOpen(&reader.record, &reader.context, context);
  pClrMem(&reader.block, sizeof reader.block);
  reader.readPosition = 1;
  reader.mailSize = pFileSize(reader.mailPath);
  if (reader.mailSize < kBlockSize || ReadBlockHeader(reader.mailPath, 1, reader.block) != kBlockSize) {
    pClrMem(&reader.block, sizeof reader.block);
    return 0;
  }
  reader.readPosition = 1 + kBlockSize;
  vlData(-1, &reader.block.payload, kPayloadSize);
  reader.block.payload.zero = 0;  // the text ends inside its slot, whatever the file said
  tkDialogBox(context->instance, 7000, owner, ReaderProc, 0);
  pClrMem(&reader.block, sizeof reader.block);
  ClearSaveBuffers();
  return 1;
}

// The commands that would pull the buffers from under a save; Exit stays,
// and stops the save at the next block.
void EnableCommands(int32_t on) {
  for (int32_t id : {kReaderSave, kReaderAdd, kReaderReply}) pWndEnable(Dialog(), id, on);
}

// What the save will write, with its total, before the first block.
void ShowSaveTotal() {
  const uint32_t blocks = uint32_t(reader.mailSize / kBlockSize) - 1;
  char total[64] = {};
  AppendBounded(pStr(int32_t(blocks)), total, sizeof total);
  AppendBounded(blocks == 1 ? " block" : " blocks", total, sizeof total);
  StatusLine("Saving the attachments: ", total, " to read; Exit stops it");
}

int32_t SaveAttachments() {
  EnableCommands(0);
  ClearSaveBuffers();
  Progress(0, 1);
  pDirName(Dialog(), reader.folder);
  if (pLen(reader.folder) == 0) {
    pAlert(kReaderTitle, "No folder selected", Dialog(), 0, 64);
  } else {
    ShowSaveTotal();
    reader.saving = 1;
    SavePass pass;
    pass.lastEnded = 0;
    pass.refused = 0;
    if (SaveBlocks(pass)) {
      if (pLen(reader.outputPath) > 0) Unpack(pass, reader.outputPath);
      if (pass.refused == 0)
        StatusLine("All attachments downloaded");
      else
        StatusLine("All attachments downloaded; ", pStr(pass.refused),
                   " could not be uncompressed and are kept as received");
    }
  }
  reader.saving = 0;
  reader.stopSave = 0;
  Progress(0, 1);
  ClearSaveBuffers();
  EnableCommands(1);
  return 1;
}
