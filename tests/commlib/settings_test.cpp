// The port settings file: what opens, and what is refused with a reason.
#include "harness.h"

namespace commtest {
namespace {

class SettingsTest : public CommTest {};

TEST_F(SettingsTest, BadFilesAreRefusedNamingTheLine) {
  struct Case {
    const char* text;
    const char* reason;  // part of the message
  };
  const Case cases[] = {
      {"[port1]\nbackend = modem\n", "line 2: backend must be virtual or serial"},
      {"[port1]\nbackend = virtual\nlisten = 127.0.0.1\n", "line 3: listen"},
      {"[port1]\nlisten = 127.0.0.1:70000\n", "listen"},
      {"[port1]\nlisten = 256.0.0.1:7000\n", "listen"},
      {"[port1]\nlisten = 1.2.3:7000\n", "listen"},
      {"[port1]\nlisten = example.org:7000\n", "listen"},
      {"[port1]\npace = yes\n", "pace must be 0 or 1"},
      {"[port1]\npace = 2\n", "pace must be 0 or 1"},
      {"[port1]\ndrop_after = -5\n", "drop_after"},
      {"[port1]\ndrop_after = 99999999999\n", "drop_after"},
      {"[port1]\ndelay_ms = 600001\n", "delay_ms"},
      {"[port1]\nsplit_gap_ms = 600001\n", "split_gap_ms"},
      {"[port1]\ncorrupt_one_in = 1/50\n", "corrupt_one_in"},
      {"[port1]\nseed = 4294967296\n", "seed"},
      {"[port1]\nauto_answer = 256\n", "auto_answer"},
      {"[port1]\ndevice = ttyS0\n", "device must be an absolute path"},
      {"[port1]\nspeed = 9600\n", "unknown setting 'speed'"},
      {"[port1]\npace = 1\npace = 0\n", "line 3: 'pace' given twice"},
      {"[port0]\nbackend = serial\n", "unknown section [port0]"},
      {"[port33]\nbackend = serial\n", "unknown section [port33]"},
      {"[port01]\nbackend = serial\n", "unknown section [port01]"},
      {"[modem]\nbackend = serial\n", "unknown section [modem]"},
      {"[phonebook]\n4a1 = 127.0.0.1:7401\n", "phonebook: not a number"},
      {"[phonebook]\n401 = 127.0.0.1:0\n", "phonebook 401: not an address"},
      {"[phonebook]\n401 = 127.0.0.1:1\n401 = 127.0.0.1:2\n", "line 3: '401' given twice"},
      {"[port1]\nbackend = virtual\nthis line is no setting\n", "line 3: not a setting"},
      // A mistake in another port's section refuses the whole file.
      {"[port1]\nbackend = virtual\n[port2]\npace = 9\n", "line 4: pace"},
  };
  for (const Case& c : cases) {
    Machine& m = machine("m");
    m.writeSettings(c.text);
    EXPECT_EQ(m.open(), 0) << c.text;
    EXPECT_NE(m.error().find(c.reason), std::string::npos) << c.text << " -> " << m.error();
    EXPECT_NE(m.error().find("m.ini"), std::string::npos) << m.error();
    machines.clear();
  }
}

TEST_F(SettingsTest, GoodFilesOpen) {
  const char* texts[] = {
      "[port1]\nbackend = virtual\n",
      "; comment\n[PORT1]\nBackend = Virtual ; inline comment\nlisten = localhost:0\npace = 1\n"
      "drop_after = 0\ndrop_random = 0\ncorrupt_one_in = 0\nsplit = 0\nsplit_gap_ms = 0\nseed = 4294967295\n"
      "delay_ms = 0\nauto_answer = 2\ndevice = /dev/ttyS0\n[phonebook]\n401 = 127.0.0.1:7401\n"
      "0402 = localhost:7402\n*9# = 127.0.0.1:1\n",
      "[port2]\nbackend = serial\n[port1]\nbackend = virtual\n[port32]\nbackend = virtual\n",
  };
  for (const char* text : texts) {
    Machine& m = machine("m");
    m.writeSettings(text);
    EXPECT_NE(m.open(), 0) << text << " -> " << m.error();
    EXPECT_EQ(m.error(), "");
    machines.clear();
  }
}

TEST_F(SettingsTest, OpenArgumentsAreChecked) {
  Machine& m = machine("m");
  m.writeSettings("[port1]\nbackend = virtual\n[port32]\nbackend = virtual\n");
  commSelect(m.instance);
  EXPECT_EQ(ruk_pbx_Open(0, 56000, 8, 4100, 4100), 0);
  EXPECT_EQ(ruk_pbx_Open(33, 56000, 8, 4100, 4100), 0);
  EXPECT_EQ(ruk_pbx_Open(1, 0, 8, 4100, 4100), 0);
  EXPECT_EQ(ruk_pbx_Open(1, 56000, 9, 4100, 4100), 0);
  EXPECT_EQ(ruk_pbx_Open(1, 56000, 8, -1, 4100), 0);
  EXPECT_NE(m.error().find("buffer sizes"), std::string::npos);
  EXPECT_NE(ruk_pbx_Open(32, 56000, 8, 4100, 4100), 0);
  EXPECT_NE(ruk_pbx_Open(1, 56000, 8, 0, 0), 0) << "sizes below a block still carry whole blocks";
}

TEST_F(SettingsTest, PortsWithoutASectionAreSerialDevices) {
  // No file at all, and a file without the port: both mean /dev/ttyS(n-1).
  // The device need not exist here; a refusal must name it.
  for (bool withFile : {false, true}) {
    Machine& m = machine("m");
    if (withFile) m.writeSettings("[port1]\nbackend = virtual\n");
    commSelect(m.instance);
    if (ruk_pbx_Open(31, 56000, 8, 4100, 4100) == 0) {
      EXPECT_NE(m.error().find("/dev/ttyS30"), std::string::npos) << m.error();
    }
    machines.clear();
  }
  Machine& m = machine("m");
  m.writeSettings("[port3]\ndevice = /nonexistent/tty\n");
  EXPECT_EQ(m.open(56000, 3), 0);
  EXPECT_NE(m.error().find("/nonexistent/tty"), std::string::npos) << m.error();
}

TEST_F(SettingsTest, ListenAddressInUseIsRefused) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  a.writeSettings("[port1]\nbackend = virtual\nlisten = 127.0.0.1:0\n");
  ASSERT_NE(a.open(), 0);
  b.writeSettings("[port1]\nbackend = virtual\nlisten = 127.0.0.1:" + std::to_string(a.listenPort()) + "\n");
  EXPECT_EQ(b.open(), 0);
  EXPECT_NE(b.error().find("cannot listen"), std::string::npos) << b.error();
}

}  // namespace
}  // namespace commtest
