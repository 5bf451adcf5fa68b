// Two real program instances on this computer, each in its own machine
// folder made by vlinit, reach each other through virtual modems on loopback:
// a mail with an attachment posted on machine 400 arrives in the mailbox of
// an account on machine 401, attachment byte for byte.
//
// Nobody clicks: the sending side's accounts and spool file are made with
// vlpost beforehand, and the sender's courier interval is set to 0 with the
// program's own record code, which makes every 15-second tick a posting pass
// (the receiver keeps its interval of 5, so its local delivery runs every
// 30 seconds). The test gives up after 150 seconds and stops both programs in
// every case.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "tests/common/programs.h"

namespace {

namespace fs = std::filesystem;

using Clock = std::chrono::steady_clock;
using programs::FreePort;
using programs::Program;
using programs::RunTool;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class TwoMachines : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vltwoXXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    log_ = root_ / "tools.log";
  }
  void TearDown() override {
    if (HasFailure()) {
      for (const char* name : {"tools.log", "a.log", "b.log"})
        std::fprintf(stderr, "---- %s\n%s\n", name, ReadText(root_ / name).c_str());
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  int Tool(std::vector<std::string> args) { return RunTool(args, log_); }

  // The machine folder of MachID id, its modem taking calls on port and
  // reaching the other machine through the phone book.
  void MakeMachine(const fs::path& folder, const std::string& id, int port, const std::string& other, int otherPort) {
    ASSERT_EQ(Tool({VL_VLINIT, folder.string(), "--machid", id, "--owner", "machine " + id, "--control-id", "admin",
                    "--control-key", "secret", "--virtual-modem", "127.0.0.1:" + std::to_string(port), "--phonebook",
                    other + "=127.0.0.1:" + std::to_string(otherPort)}),
              0);
    ASSERT_TRUE(fs::exists(folder / "ruk_comm.ini"));
  }

  // Every tick of this machine becomes a posting pass.
  static void PostAtEveryTick(const fs::path& folder) {
    ConfigRecord unit{};
    const std::string path = (folder / "VL.INI").string();
    ASSERT_EQ(ReadRecord(path.c_str(), unit), kRecordSize);
    unit.SetText(UnitField::ECourierInterval, "0");
    unit.SetText(UnitField::EnableECourier, "1");
    WriteRecord(path.c_str(), unit);
  }

  fs::path root_;
  fs::path log_;
};

TEST_F(TwoMachines, MailWithAttachmentReachesTheOtherMachinesMailbox) {
  const int portA = FreePort(), portB = FreePort();
  ASSERT_NE(portA, 0);
  ASSERT_NE(portB, 0);
  ASSERT_NE(portA, portB);
  const fs::path a = root_ / "a", b = root_ / "b";
  MakeMachine(a, "400", portA, "401", portB);
  MakeMachine(b, "401", portB, "400", portA);
  PostAtEveryTick(a);
  ASSERT_EQ(Tool({VL_VLPOST, "--account", a.string(), "ann", "--key", "annkey", "--control-key", "secret"}), 0);
  ASSERT_EQ(Tool({VL_VLPOST, "--account", b.string(), "bob", "--key", "bobkey", "--control-key", "secret"}), 0);

  // An attachment of several blocks: text and random bytes.
  const fs::path attachment = root_ / "report.bin";
  {
    std::string data;
    for (int i = 0; i < 400; ++i) data += "line " + std::to_string(i) + " of the report\n";
    std::mt19937 random(42);
    for (int i = 0; i < 12000; ++i) data += char(random());
    std::ofstream(attachment, std::ios::binary) << data;
  }
  ASSERT_EQ(Tool({VL_VLPOST, "--post", a.string(), "ann", "bob@401", "quarterly", "see the report", attachment.string(),
                  "--key", "annkey"}),
            0);
  ASSERT_EQ(std::distance(fs::directory_iterator(a / "POST"), fs::directory_iterator()), 1);

  Program receiver(VL_VELLORAN, b, root_ / "b.log");
  Program sender(VL_VELLORAN, a, root_ / "a.log");
  receiver.Start();
  sender.Start();
  const fs::path out = root_ / "out";
  bool arrived = false;
  const auto deadline = Clock::now() + std::chrono::seconds(150);
  while (!arrived && Clock::now() < deadline && receiver.Running() && sender.Running()) {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    fs::remove_all(out);
    arrived =
        Tool({VL_VLPOST, "--read", b.string(), "bob", out.string(), "--key", "bobkey"}) == 0 && fs::exists(out / "report.bin");
  }
  const bool bothRan = receiver.Running() && sender.Running();
  sender.Stop();
  receiver.Stop();
  EXPECT_TRUE(bothRan);
  ASSERT_TRUE(arrived);
  EXPECT_EQ(ReadText(out / "report.bin"), ReadText(attachment));
  EXPECT_EQ(ReadText(out / "mail-1.txt"), "see the report");
  // The sender's spool is empty; the receiver's spool too, once delivered.
  EXPECT_TRUE(fs::is_empty(a / "POST"));
  EXPECT_TRUE(fs::is_empty(b / "POST"));
}

}  // namespace
