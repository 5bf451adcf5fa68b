// One login session on the mail tests' machine (tests/accounts), driven as a
// user would through the headless presenter on the virtual clock: the
// mailbox opens, its first row is opened, the reader optionally saves the
// attachments into a folder, every prompt is closed, and the user logs out.
// Message boxes get their default answers.
#pragma once
#include "fuzz/harness.h"
#include "tests/accounts/mail_driver.h"

namespace fuzz {

constexpr int32_t kMailboxDialog = 6000;
constexpr int32_t kReaderDialog = 7000;

struct MailSession {
  fs::path saveInto;       // empty: the reader saves nothing
  std::string addAs;       // empty: the reader's Add is not pressed
  bool addPressed = false;
  bool nameGiven = false;  // the owner name prompt was answered
  size_t rows = 0;         // rows the mailbox listed
  bool listed = false;     // the mailbox was seen
  bool saved = false;      // Save was pressed
  bool loggedOut = false;
};

// Drives whatever dialog is in front until the mailbox is back and logged out.
inline bool DriveToLogout(MailSession& session) {
  if (HWND prompt = mailtest::Ready(kPromptDialogId)) {
    if (!session.addPressed || session.nameGiven || !headless::visible(prompt, kPromptTextEditId)) {
      headless::pressCloseBox(prompt);
      return false;
    }
    // The first release of Enter arms the prompt, the second answers it.
    headless::type(prompt, kPromptTextEditId, session.addAs);
    headless::keyUp(prompt, kPromptTextEditId, VK_RETURN);
    headless::keyUp(prompt, kPromptTextEditId, VK_RETURN);
    session.nameGiven = true;
    return false;
  }
  if (HWND reader = mailtest::Ready(kReaderDialog)) {
    if (!session.addAs.empty() && !session.addPressed && headless::enabled(reader, kReaderAdd)) {
      session.addPressed = headless::click(reader, kReaderAdd);
    } else if (!session.saveInto.empty() && !session.saved && headless::enabled(reader, kReaderSave)) {
      session.saved = true;
      headless::answerFolder(storebytes::Classic(session.saveInto));
      headless::click(reader, kReaderSave);
    } else {
      headless::click(reader, kReaderExit);
    }
    return false;
  }
  if (HWND mailbox = mailtest::Ready(kMailboxDialog)) {
    session.loggedOut = headless::click(mailbox, kMailboxLogout);
    return session.loggedOut;
  }
  return false;
}

inline void RunSession(mailtest::MailDesk& desk, const std::string& id, MailSession& session) {
  mailtest::Steps steps;
  steps
      .In(kMailboxDialog,
          [&session](HWND mailbox) {
            session.listed = true;
            session.rows = headless::rows(mailbox, kMailboxList).size();
            if (session.rows > 0) headless::doubleClick(mailbox, kMailboxList, 0);
          })
      .Then([&session] { return DriveToLogout(session); });
  desk.RunMailbox(id, steps);
  FUZZ_CHECK(session.listed && session.loggedOut, "the session did not reach its end");
}

// The index as it was, but for the status slot of at most one whole entry.
// The fixtures' one mail of bob: its mail file holds a message block.
inline void FileBobsMail(mailtest::MailMachine& m, const mailtest::BlockText& mail) {
  storebytes::WriteAll(m.MailFile("bob", mail.sender, mail.postedAt), mailtest::MessageBlock(mail, "hello bob"));
}

// The index entry of that mail, scrambled as the mailbox keeps it.
inline void IndexBobsMail(mailtest::MailMachine& m, const mailtest::BlockText& mail) {
  Bytes entry = mailtest::Header(mail);
  vlData(1, entry.data(), kHeaderSize);
  storebytes::WriteAll(m.MailboxIndex("bob"), entry);
}

inline void CheckOnlyOneStatusChanged(const Bytes& before, const Bytes& after) {
  FUZZ_CHECK(before.size() == after.size(), "the index changed its size");
  int changedEntry = -1;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    const size_t entry = i / kHeaderSize;
    const size_t offset = i % kHeaderSize;
    FUZZ_CHECK(offset >= 256 && offset < 260, "index byte " + std::to_string(i) + " outside a status slot changed");
    FUZZ_CHECK(changedEntry == -1 || changedEntry == int(entry), "two entries changed");
    FUZZ_CHECK((entry + 1) * kHeaderSize <= before.size(), "a torn entry changed");
    changedEntry = int(entry);
  }
}

}  // namespace fuzz
