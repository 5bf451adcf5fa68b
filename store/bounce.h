// store/bounce.h -- reports: a mail that cannot be delivered goes back to its
// sender as a report mail from the machine.
//
// The report is an ordinary one-block mail, posted like the writer's: to
// the original sender's address, as a local spool file ("[=]") when that
// sender is of this machine, else as a remote one ("[@]") that the courier
// carries over the line like any other mail. Its sender is the machine's
// report sender, kReportSender "@" this machine's MachID: a machine that
// receives it finds the calling machine named as the sender's machine, and
// no account can bear that id (a hyphen is no letter of an account id), so
// a mail from it is known for a report wherever it arrives.
//
// The message names the reason, and the original's recipient, subject and
// date; its attachments are counted, not repeated. A report never causes
// another: a report that cannot be delivered is dropped, and the log says
// so.
#pragma once
#include <stdint.h>

#include "store/format.h"

constexpr const char* kReportSender = "velloran-report";
constexpr const char* kReportSubject = "Undelivered: ";

// "mail from <sender> to <destination> of <postedAt>" of a first header,
// into out (cleared; as much as fits): how status texts and the log name a
// mail.
void MailLabel(const MailHeader& header, char* out, int32_t capacity);

// 1 when the mail of this header is a report (its sender is a machine's
// report sender).
int32_t IsReportMail(const MailHeader& header);

enum ReportResult : int32_t {
  kReportPosted = 1,      // the report waits in POST for its delivery
  kReportNotMade = 0,     // the mail is a report itself, or its sender names no machine: nothing to post
  kReportNotWritten = -1, // POST took no report: keep the mail, try again later
};

// Posts the report for the mail whose first header is given (unscrambled),
// with reason (one line of text). The report's stamp is the current minute;
// reports of one minute take its stamp variants.
int32_t PostReport(const MailHeader& original, const char* reason);
