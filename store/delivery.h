// store/delivery.h -- local delivery of complete "[=]" spool files.
//
// One run takes every complete local spool file in POST, one after the other
// in the order the folder lists them, copies its blocks byte for byte into a
// new mail file of the recipient's account folder, appends the first block's
// header to the account's mailbox index and deletes the spool file. Every
// mail is preceded by a 150 ms pause and every 16th block of it by a short
// one that lets the interface take what waits (a run goes on as
// background work beside the dialogs), so the link may add spool files
// meanwhile; IsMailComplete keeps a run off a file whose last block has not
// arrived.
//
// A run never loses a mail and never files one twice:
//   - the blocks are copied into a part file, E[@]\N[~] after the mail's own
//     stamp, that starts empty (a copy cut short by a stopped run is replaced)
//     and takes the mail file's name only once it is whole; the folder never
//     shows a mail file that is not complete, and a part file never uses up a
//     name;
//   - the mail file is always a new file; when the account folder already
//     holds one of that name (same sender, same minute), the mail gets the
//     next stamp variant in every header it is written with;
//   - the index entry is appended only once the mail file is in place, and
//     the spool file deleted only after that. A run stopped between those
//     steps leaves the spool file; the next run finds a mail file with this
//     mail's very bytes, adds the index entry if it is missing and only then
//     deletes the spool file, so the mail is filed once;
//   - a failed write removes what this run added and leaves the spool file
//     for the next run, and a read-only mailbox index or spool file leaves
//     the mail in POST untouched; when POST will not let a filed mail's spool
//     file go, the next run finds the mail filed and only tries that again.
//     An account file that is read-only is still an account;
//   - a mail for an account that does not exist here goes back to its
//     sender as a report (store/bounce.h) and leaves POST; a report for a
//     missing account is dropped. Only when no report can be posted now is
//     the mail set aside as N "[u]", which the next run delivers (the
//     account exists by then) or returns; a damaged chain (wrong size, a size between blocks, blocks out
//     of order, not starting with a first block, a stamp that fills its slot
//     without an end) is set aside as N "[!]", which no run takes again.
// Each mail's outcome is one "mail" line in the log naming it; the end
// message on the status line says what was kept and why, and "All local
// mails delivered" only when every mail was.
#pragma once
#include <stdint.h>

#include "store/format.h"

// Working state of one run, and what the last run did.
struct DeliveryState {
  char foundName[260];       // pFileFind fills 260 bytes
  char spoolPath[kPathSize];
  int32_t spoolSize;
  MailBlock block;
  MailBlock filed;            // a block of a mail file already there
  MailHeader firstHeader;     // unscrambled header of block 1, as indexed
  char accountFolder[kPathSize];
  char accountFile[kPathSize];
  char indexPath[kPathSize];
  char mailPath[kPathSize];
  char partPath[kPathSize];   // the mail file while it is copied
  char recipient[kNameBufferSize];
  char stamp[sizeof(MailHeader::postedAt)];
  int32_t restamped;          // this mail got a stamp variant
  // Counts of the last run.
  int32_t delivered;
  int32_t renamed;
  int32_t unknownAccount;     // set aside as "[u]": no report could be posted
  int32_t returned;           // no such account: a report went back to the sender
  int32_t dropped;            // a report for no such account
  int32_t damaged;
  int32_t kept;
  int32_t readOnlyMailbox;
  int32_t noFreeName;
  int32_t leftInPost;
};

DeliveryState& Delivery();
void ResetDelivery();

int32_t DeliverLocalMails();
