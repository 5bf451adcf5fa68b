// vlpost --read on a mailbox made by the mail fixtures: every mail is read,
// whatever the one before it held.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "tests/accounts/mail_fixture.h"

using namespace mailtest;

namespace {

#ifdef VLPOST_PATH
// Runs vlpost --read; its exit code, and its output lines in 'out'.
int ReadWithVlpost(const MailMachine& m, const fs::path& into, std::string& out) {
  fs::path log = m.Root() / "vlpost.out";
  std::string command = std::string("'") + VLPOST_PATH + "' --read '" + m.Root().string() + "' bob '" +
                        into.string() + "' > '" + log.string() + "' 2>&1";
  int status = std::system(command.c_str());
  Bytes text = ReadAll(log);
  out.assign(text.begin(), text.end());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(VlpostRead, TwoFilesOfOneNameAndADamagedMailLeaveTheOthersReadable) {
  MailMachine m;
  WriteRecord(Config().unitPath, Config().unit);
  m.MakeAccount("bob");
  const Bytes first = RandomBytes(100, 1), second = RandomBytes(200, 2);
  BlockText twins;
  twins.postedAt = "7/12/2026 9:05";
  Deliver(m, "bob", twins, ChainWithFiles(m, twins, {{"same.txt", first}, {"same.txt", second}}));
  BlockText torn;
  torn.postedAt = "7/12/2026 9:06";
  Bytes tornMail = ChainWithFiles(m, torn, {{"lost.bin", RandomBytes(300, 3)}});
  tornMail.resize(kBlockSize + 100);
  Deliver(m, "bob", torn, tornMail);
  BlockText plain;
  plain.postedAt = "7/12/2026 9:07";
  plain.subject = "last";
  Deliver(m, "bob", plain, MessageBlock(plain, "the last one"));

  fs::path into = m.Root() / "read";
  std::string out;
  EXPECT_EQ(ReadWithVlpost(m, into, out), 1) << out;  // the torn mail
  EXPECT_EQ(ReadAll(into / "same.txt"), first);
  EXPECT_EQ(ReadAll(into / "same(2).txt"), second);
  EXPECT_NE(out.find("mail 1 from anna@0211234567 subject hello attachments 2\n"), std::string::npos) << out;
  EXPECT_NE(out.find("mail 2: mail file damaged"), std::string::npos) << out;
  EXPECT_NE(out.find("mail 3 from anna@0211234567 subject last attachments 0\n"), std::string::npos) << out;
  const Bytes last = ReadAll(into / "mail-3.txt");
  EXPECT_EQ(std::string(last.begin(), last.end()), "the last one");
  EXPECT_FALSE(fs::exists(into / "lost.bin"));
}
#endif

}  // namespace
