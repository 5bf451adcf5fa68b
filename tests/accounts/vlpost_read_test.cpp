// vlpost on a machine made by the mail fixtures: --read reads every mail,
// whatever the one before it held, and both --read and --post keep the
// desktop's keys.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <set>

#include "tests/accounts/mail_fixture.h"

using namespace mailtest;

namespace {

#ifdef VLPOST_PATH
// Runs vlpost with these arguments as a script does (no terminal); its exit
// code, and what it wrote in 'out'.
int RunVlpost(const MailMachine& m, const std::vector<std::string>& args, std::string& out) {
  fs::path log = m.Root() / "vlpost.out";
  std::string command = std::string("'") + VLPOST_PATH + "'";
  for (const std::string& a : args) command += " '" + a + "'";
  command += " < /dev/null > '" + log.string() + "' 2>&1";
  int status = std::system(command.c_str());
  Bytes text = ReadAll(log);
  out.assign(text.begin(), text.end());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ReadWithVlpost(const MailMachine& m, const fs::path& into, std::string& out) {
  return RunVlpost(m, {"--read", m.Root().string(), "bob", into.string(), "--key", "secret"}, out);
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

// The mailbox opens with the account's key only, and a locked mail's text
// is written only when its lock key is among those given.
TEST(VlpostRead, NeedsTheAccountKeyAndALockedMailItsLockKey) {
  MailMachine m;
  WriteRecord(Config().unitPath, Config().unit);
  m.MakeAccount("bob");
  BlockText locked;
  locked.lockKey = "lk";
  Deliver(m, "bob", locked, MessageBlock(locked, "the locked text"));
  BlockText open;
  open.postedAt = "7/12/2026 9:06";
  Deliver(m, "bob", open, MessageBlock(open, "the open text"));

  const std::string root = m.Root().string(), into = (m.Root() / "read").string();
  struct Case {
    const char* what;
    std::vector<std::string> options;
    int code;
    const char* says;
    bool lockedText, openText;
  } cases[] = {
      {"no key", {}, 2, "the account key of bob is needed: --key", false, false},
      {"wrong key", {"--key", "secreT1"}, 2, "wrong account key for bob", false, false},
      {"empty key", {"--key", ""}, 2, "the account key of bob is empty", false, false},
      {"no lock key", {"--key", "SECRET"}, 0, "mail 1 from anna@0211234567 subject hello locked", false, true},
      {"wrong lock key", {"--key", "secret", "--lock-key", "l"}, 0, "locked: not opened", false, true},
      {"its lock key", {"--key", "secret", "--lock-key", "x", "--lock-key", "LK"}, 0, "mail 1 from anna", true, true},
  };
  for (const Case& c : cases) {
    fs::remove_all(into);
    std::vector<std::string> args = {"--read", root, "bob", into};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::string out;
    EXPECT_EQ(RunVlpost(m, args, out), c.code) << c.what << ": " << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.what << ": " << out;
    EXPECT_EQ(fs::exists(fs::path(into) / "mail-1.txt"), c.lockedText) << c.what;
    EXPECT_EQ(fs::exists(fs::path(into) / "mail-2.txt"), c.openText) << c.what;
  }
  std::string out;
  EXPECT_EQ(RunVlpost(m, {"--read", root, "nobody", into, "--key", "secret"}, out), 2);
  EXPECT_NE(out.find("account nobody does not exist"), std::string::npos) << out;
}

// A mail is posted from an account that exists and proves its key, and a
// script may post more mails a minute than a minute has stamps: the one
// past the last variant waits for the next minute instead of being refused.
TEST(VlpostPost, NeedsTheSendersKeyAndNeverRunsOutOfStamps) {
  MailMachine m;
  WriteRecord(Config().unitPath, Config().unit);
  m.MakeAccount("anna");
  const std::string root = m.Root().string();
  const std::vector<std::string> mail = {"--post", root, "anna", "bob@0211234567", "subject", "text"};
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* says;
  } refused[] = {
      {"no such sender", {"--post", root, "ghost", "bob@0211234567", "s", "t", "--key", "secret"},
       "account ghost does not exist"},
      {"wrong key", {"--key", "other"}, "wrong account key for anna"},
      {"no key", {}, "--key KEY"},
      {"empty lock key", {"--key", "secret", "--lock", ""}, "the lock key is empty"},
  };
  for (Case& c : refused) {
    std::vector<std::string> args = c.args;
    if (args.empty() || args[0] != "--post") args.insert(args.begin(), mail.begin(), mail.end());
    std::string out;
    EXPECT_EQ(RunVlpost(m, args, out), 2) << c.what << ": " << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.what << ": " << out;
  }
  EXPECT_TRUE(fs::is_empty(m.Spool()));

  std::vector<std::string> args = mail;
  args.insert(args.end(), {"--key", "SECRET"});
  const int count = kStampVariants + 2;
  for (int i = 0; i < count; ++i) {
    std::string out;
    ASSERT_EQ(RunVlpost(m, args, out), 0) << "mail " << i + 1 << ": " << out;
  }
  std::set<fs::path> spool(fs::directory_iterator(m.Spool()), fs::directory_iterator());
  EXPECT_EQ(spool.size(), size_t(count));
}
#endif

}  // namespace
