// accounts/reader.h -- the reader: one mail, its attachments, Add and Reply.
//
// Principles of operation
//
// The reader (dialog 7000) shows the first block of the mail file named in
// Reader().mailPath: header fields and message text. A mail file longer than
// one block carries attachments; "[]" saves them into a folder the user
// chooses. Attachment blocks follow the message block, their payloads stored
// as they are: `content` holds `contentLength` bytes of the compressed file
// named by `tag`. Consecutive chunks with the same tag form one file; the
// chunk our writer marked as the last of its file, or one shorter than 3519
// bytes, ends it (kFileEndMark). Each file is written whole, then
// decompressed in place by the unit library.
//
// Everything a mail file says is checked before it is used: a tag becomes a
// file name only when it is a safe bare name (no separator, no "..", nothing a
// file system refuses) and is otherwise reduced to one, with a word on the
// status line; a contentLength must be plain digits of at most 3519, else the
// mail is damaged from that block on and saving stops (the half-written file
// is removed). A mail file torn inside a block, or holding fewer or more
// blocks than its header declares, is reported damaged too: the files that
// were whole are kept, the one cut off is not. An existing file of the same name is replaced, never written
// over from its start, and two attachments of one name in one mail land in
// two files.
//
// Reply sets the compose subject ("<RE:>" and the subject, cut to what the
// buffer holds) and destination, raises the reply flag and closes the reader;
// the mailbox then opens the writer.
#pragma once
#include <stdint.h>

#include "store/format.h"
#include "toolkit/window.h"

enum ReaderControl : int32_t {
  kReaderDate = 7002,
  kReaderFrom = 7004,
  kReaderSubject = 7006,
  kReaderTo = 7008,
  kReaderText = 7009,
  kReaderSave = 7011,
  kReaderAdd = 7012,
  kReaderReply = 7013,
  kReaderExit = 7014
};

constexpr const char* kReaderTitle = "Velloran :: Reader";

struct ReaderState {
  WindowRecord record;
  WindowContext context;
  char mailPath[256];
  MailBlock block;            // the first block, header and payload unscrambled
  int32_t mailSize;
  uint32_t readPosition;      // 1-based
  // saving attachments
  MailBlock chunk;            // the attachment block being read
  char folder[256];
  char outputPath[256];
  char attachmentName[256];   // the tag of the file being written
  uint32_t outputPosition;
  int32_t count;              // bytes of the current chunk
  int32_t saving;             // a save runs: Exit stops it
  int32_t stopSave;           // Exit came during a save
  int32_t replyFlag;          // set by Reply, read and cleared by OpenMail
};

ReaderState& Reader();
void ResetReader();

// Runs the reader over owner for the mail file in Reader().mailPath; 1 when
// it has closed, 0 when the file holds no whole first block.
int32_t OpenReader(HWND owner, const WindowContext* context);
int32_t SaveAttachments();
