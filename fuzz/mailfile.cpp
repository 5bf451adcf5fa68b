// The reader and attachment saving: bob's index names one mail whose file
// holds any bytes; bob opens it, saves its attachments into a folder of his
// choosing, leaves the reader and logs out.
//
// Invariants after every session:
//  - the mail file is untouched; the index changes at most its entry's status;
//  - the chosen folder holds only files of safe bare names (no path, no
//    temporary left by the unpacker);
//  - nothing else in the machine folder changes, and nothing is written
//    outside it.
#include "accounts/mail_common.h"
#include "fuzz/mail_session.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mailtest::MailDesk desk;
  mailtest::MailMachine& m = desk.machine;
  m.MakeAccount("bob");
  const fs::path saved = m.Root() / "saved";
  fs::create_directory(saved);
  const mailtest::BlockText mail;
  const fs::path file = m.MailFile("bob", mail.sender, mail.postedAt);
  WriteFile(file, data, size);
  IndexBobsMail(m, mail);
  const Tree before = Snapshot(m.Root());

  MailSession session;
  session.saveInto = saved;
  RunSession(desk, "bob", session);

  Tree after = Snapshot(m.Root());
  const std::string index = fs::relative(m.MailboxIndex("bob"), m.Root()).string();
  CheckOnlyOneStatusChanged(before.at(index), after.at(index));
  after[index] = before.at(index);
  for (auto it = after.begin(); it != after.end();) {
    if (it->first.rfind("saved/", 0) != 0 || it->first == "saved/") {
      ++it;
      continue;
    }
    const std::string name = it->first.substr(6);
    FUZZ_CHECK(name.find('/') == std::string::npos, "saved below the folder: " + name);
    FUZZ_CHECK(mailui::IsSafeBareName(name.c_str()) == 1, "saved under an unsafe name: " + name);
    FUZZ_CHECK(name.rfind(".vlunit-", 0) != 0, "the unpacker left " + name);
    it = after.erase(it);
  }
  Trace("rows " + std::to_string(session.rows) + (session.saved ? ", saved " : ", not saved ") +
        std::to_string(Snapshot(saved).size()) + " files");
  FUZZ_CHECK(after == before, "the session changed:" + Difference(before, after));
  CheckOutside({m.Root()});
  return 0;
}
