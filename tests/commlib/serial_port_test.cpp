// The serial backend against a fake modem: the test holds the master side
// of a pseudo-terminal and answers as a modem would.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>

#include "harness.h"

namespace commtest {
namespace {

// A modem on the master side of a pty, run by the same event loop.
class FakeModem {
 public:
  FakeModem() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    device = name;
    slaveKeep = slave;  // closed once the library has opened its own
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    waWatchFd(master, POLLIN, &FakeModem::onReadable, this);
  }
  ~FakeModem() { hangUpDevice(); }

  void say(const std::string& text) { ASSERT_EQ(::write(master, text.data(), text.size()), ssize_t(text.size())); }
  // Everything the library sent since the last call.
  std::string heard() {
    std::string out;
    out.swap(input);
    return out;
  }
  void closeSlaveCopy() {
    if (slaveKeep >= 0) ::close(slaveKeep);
    slaveKeep = -1;
  }
  void hangUpDevice() {
    closeSlaveCopy();
    if (master >= 0) {
      waUnwatchFd(master);
      ::close(master);
    }
    master = -1;
  }

  int master = -1;
  int slaveKeep = -1;
  std::string device;
  std::string input;      // bytes from the library
  std::string commands;   // complete command lines seen
  bool answerCommands = true;
  std::string answer = "\r\nOK\r\n";
  bool echo = false;
  bool dataMode = false;

 private:
  static void onReadable(int, short, void* context) {
    auto* self = static_cast<FakeModem*>(context);
    char buffer[8192];
    ssize_t n = ::read(self->master, buffer, sizeof buffer);
    if (n <= 0) return;
    self->input.append(buffer, size_t(n));
    if (self->dataMode) return;
    size_t end;
    while ((end = self->input.find('\r')) != std::string::npos) {
      std::string line = self->input.substr(0, end);
      self->input.erase(0, end + 1);
      self->commands += line + "|";
      if (self->echo) self->say(line + "\r");
      bool dial = line.rfind("ATD", 0) == 0;
      if (self->answerCommands && !dial) self->say(self->answer);
    }
  }
};

class SerialPortTest : public CommTest {
 protected:
  void SetUp() override {
    CommTest::SetUp();
    // Pseudo-terminals pass bytes through a kernel worker a moment later, so
    // these tests run on the real clock; every wait ends as soon as its
    // condition holds.
    waSetVirtualClock(0, 0);
  }

  Machine& openOnModem(FakeModem& modem) {
    Machine& m = machine("m");
    m.writeSettings("[port1]\nbackend = serial\ndevice = " + modem.device + "\n");
    EXPECT_NE(m.open(115200), 0) << m.error();
    modem.closeSlaveCopy();
    pumpFor(20);
    return m;
  }
};

TEST_F(SerialPortTest, OpenReportsCtsAndDsrOnADeviceWithoutModemLines) {
  FakeModem modem;
  ASSERT_GE(modem.master, 0);
  Machine& m = openOnModem(modem);
  EXPECT_EQ(m.line(1), 1);
  EXPECT_EQ(m.line(2), 1);
  EXPECT_EQ(m.line(4), -1);
  termios tio{};
  int fd = open(modem.device.c_str(), O_RDWR | O_NOCTTY);
  if (fd >= 0) {  // TIOCEXCL keeps out everybody but root
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_lflag & ICANON, 0u) << "raw";
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B115200));
    close(fd);
  }
}

TEST_F(SerialPortTest, CommandsWaitForTheModemsAnswer) {
  struct Case {
    const char* answer;
    bool echo;
    int32_t accepted;
  };
  const Case cases[] = {
      {"\r\nOK\r\n", false, 1},
      {"\r\nOK\r\n", true, 1},  // the echoed command line is not an answer
      {"\r\nERROR\r\n", false, 0},
      {"OK\n", false, 1},
  };
  for (const Case& c : cases) {
    FakeModem modem;
    modem.answer = c.answer;
    modem.echo = c.echo;
    Machine& m = openOnModem(modem);
    EXPECT_EQ(m.command("ATE0S0=1"), c.accepted) << c.answer;
    EXPECT_EQ(modem.commands, "ATE0S0=1|");
    machines.clear();
  }
}

TEST_F(SerialPortTest, EventsWaitUntilTheCommandHasReturned) {
  FakeModem modem;
  modem.answer = "\r\nRING\r\nOK\r\n";
  Machine& m = openOnModem(modem);
  m.events.clear();
  EXPECT_EQ(m.command("AT"), 1);
  EXPECT_TRUE(m.events.empty()) << "the ring came while the program was inside ruk_pbx_Cmd";
  ASSERT_TRUE(pumpUntil([&] { return m.line(3) == 1; }, 2000));
}

TEST_F(SerialPortTest, SilentModemTimesOut) {
  FakeModem modem;
  modem.answerCommands = false;
  Machine& m = openOnModem(modem);
  waSetVirtualClock(1, 5000);  // the 2 s limit passes at once
  EXPECT_EQ(m.command("AT"), 0);
  EXPECT_NE(m.error().find("did not answer"), std::string::npos) << m.error();
  EXPECT_EQ(m.command("hello"), 0) << "not a modem command: not even sent";
}

TEST_F(SerialPortTest, CallFromDialToNoCarrier) {
  FakeModem modem;
  Machine& m = openOnModem(modem);
  m.events.clear();
  EXPECT_EQ(m.command("ATDT0401"), 1) << "a dial is not waited for";
  ASSERT_TRUE(pumpUntil([&] { return modem.commands == "ATDT0401|"; }, 2000));

  // The modem connects; the first data comes in the same write.
  modem.dataMode = true;
  modem.say("\r\nCONNECT 56000\r\n[OK]");
  ASSERT_TRUE(pumpUntil([&] { return m.received().size() >= 4; }, 2000));
  ASSERT_GE(m.events.size(), 2u);
  EXPECT_EQ(m.events[0].type, 4);
  EXPECT_EQ(m.events[0].state, 1);
  EXPECT_EQ(m.received(), "[OK]");
  EXPECT_TRUE(m.of(5)[0].terminated);
  EXPECT_EQ(m.result(), "CONNECT");

  // Data both ways; commands are refused while the call is up.
  std::string block(4096, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = char(i * 37);
  EXPECT_EQ(m.send(block), 4096);
  ASSERT_TRUE(pumpUntil([&] { return modem.input.size() >= 4096; }, 2000));
  EXPECT_EQ(modem.heard(), block);
  EXPECT_EQ(m.command("ATH"), 0);

  // The call ends: the data before the result line is still delivered.
  modem.say("tail\r\nNO CARRIER\r\n");
  ASSERT_TRUE(pumpUntil([&] { return m.line(4) == 0; }, 2000));
  EXPECT_EQ(m.received(), "[OK]tail");
  EXPECT_EQ(m.result(), "NO CARRIER");
  EXPECT_EQ(m.send("late"), 0);
  modem.dataMode = false;
  EXPECT_EQ(m.command("AT"), 1) << "back in command mode";
}

TEST_F(SerialPortTest, ResultCodesBecomeLineEvents) {
  FakeModem modem;
  Machine& m = openOnModem(modem);
  m.events.clear();
  modem.say("\r\nRING\r\n");
  ASSERT_TRUE(pumpUntil([&] { return m.line(3) == 0; }, 3000));
  ASSERT_EQ(m.of(3).size(), 2u);
  EXPECT_EQ(m.of(3)[0].state, 1);
  modem.say("\r\nBUSY\r\n");
  ASSERT_TRUE(pumpUntil([&] { return m.result() == "BUSY"; }, 2000));
  EXPECT_TRUE(m.of(4).empty());
  EXPECT_TRUE(m.of(5).empty()) << "result codes never arrive as data";
}

// A dial the modem gives up on ends as the carrier off, so the program need
// not wait out its time limit; the modem stays in command mode.
TEST_F(SerialPortTest, FailedDialReportsTheCarrierOff) {
  for (const char* result : {"BUSY", "NO CARRIER", "NO ANSWER", "NO DIALTONE", "ERROR"}) {
    FakeModem modem;
    Machine& m = openOnModem(modem);
    m.events.clear();
    EXPECT_EQ(m.command("ATDT0401"), 1) << result;
    modem.say(std::string("\r\n") + result + "\r\n");
    ASSERT_TRUE(pumpUntil([&] { return m.line(4) == 0; }, 2000)) << result;
    EXPECT_EQ(m.result(), result);
    ASSERT_EQ(m.of(4).size(), 1u) << result;
    EXPECT_EQ(m.command("AT"), 1) << result;
    modem.say("\r\nNO CARRIER\r\n");  // a late repeat is no second outcome
    pumpFor(20);
    EXPECT_EQ(m.of(4).size(), 1u) << result;
    machines.clear();
  }
}

TEST_F(SerialPortTest, DeviceGoneDropsEveryLine) {
  FakeModem modem;
  Machine& m = openOnModem(modem);
  EXPECT_EQ(m.command("ATD401"), 1);
  modem.dataMode = true;
  modem.say("\r\nCONNECT\r\n");
  ASSERT_TRUE(pumpUntil([&] { return m.carrier(); }, 2000));
  modem.hangUpDevice();
  ASSERT_TRUE(pumpUntil([&] { return m.line(2) == 0; }, 2000));
  EXPECT_EQ(m.line(4), 0);
  EXPECT_EQ(m.line(1), 0);
  EXPECT_EQ(m.command("AT"), 0);
  EXPECT_EQ(m.close(), 0);
}

TEST_F(SerialPortTest, ClosingDuringACallReportsTheCarrierOff) {
  FakeModem modem;
  Machine& m = openOnModem(modem);
  EXPECT_EQ(m.command("ATD401"), 1);
  modem.dataMode = true;
  modem.say("\r\nCONNECT\r\n");
  ASSERT_TRUE(pumpUntil([&] { return m.carrier(); }, 2000));
  EXPECT_EQ(m.close(), 0);
  pumpFor(10);
  EXPECT_EQ(m.line(4), 0);
  EXPECT_EQ(m.line(1), 1) << "CTS keeps its last report";
}

TEST_F(SerialPortTest, OnlyTerminalsOpen) {
  std::string file = folder + "/plain";
  std::ofstream(file) << "x";
  Machine& m = machine("m");
  m.writeSettings("[port1]\nbackend = serial\ndevice = " + file + "\n");
  EXPECT_EQ(m.open(), 0);
  EXPECT_NE(m.error().find("not a serial device"), std::string::npos) << m.error();
}

}  // namespace
}  // namespace commtest
