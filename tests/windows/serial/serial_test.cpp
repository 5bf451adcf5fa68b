// The serial backend on Windows, through two COM ports that Wine maps to the
// two ends of a pseudo-terminal pair (serial.sh makes them): the library
// drives "COM8" while this test plays the modem on "COM9". A pty carries no
// modem lines, so CTS and DSR count as on and the result codes stand in for
// the carrier, as on Linux.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "commlib/instance.h"
#include "platform/comm.h"
#include "winapi/loop.h"

namespace {

struct Event {
  int32_t type, state;
  std::string data;
};
std::vector<Event> events;

int32_t OnEvent(int32_t type, int32_t state, const char* data, int32_t length) {
  events.push_back(Event{type, state, type == 5 ? std::string(data, size_t(length)) : std::string()});
  return 1;
}

// The modem: answers each command line with OK, a dial with CONNECT, then
// sends back what the call brings until it has seen "[END]", and hangs up.
class FakeModem {
 public:
  explicit FakeModem(const char* device) {
    port_ = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port_ == INVALID_HANDLE_VALUE) return;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 100;
    SetCommTimeouts(port_, &timeouts);
    thread_ = std::thread([this] { run(); });
  }
  ~FakeModem() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
  }
  bool open() const { return port_ != INVALID_HANDLE_VALUE; }

 private:
  void send(const std::string& text) {
    DWORD n = 0;
    WriteFile(port_, text.data(), DWORD(text.size()), &n, nullptr);
  }
  void run() {
    std::string line, call;
    bool online = false;
    while (!stop_) {
      char buffer[256];
      DWORD n = 0;
      if (!ReadFile(port_, buffer, sizeof buffer, &n, nullptr) || n == 0) continue;
      for (DWORD i = 0; i < n; ++i) {
        if (online) {
          call += buffer[i];
          continue;
        }
        if (buffer[i] != '\r') {
          line += buffer[i];
          continue;
        }
        bool dial = line.rfind("ATD", 0) == 0;
        send(dial ? "\r\nCONNECT 57600\r\n" : "\r\nOK\r\n");
        online = dial;
        line.clear();
      }
      if (online && !call.empty()) {
        send(call);  // the peer answers with what it received
        bool end = call.find("[END]") != std::string::npos;
        call.clear();
        if (end) {
          send("\r\nNO CARRIER\r\n");
          online = false;
        }
      }
    }
  }

  HANDLE port_ = INVALID_HANDLE_VALUE;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

// Pumps the event loop until an event of the type (and state) has come, at
// most limitMs of real time.
bool PumpUntil(int32_t type, int32_t state, uint32_t limitMs = 5000) {
  uint32_t start = waNow();
  while (waNow() - start < limitMs) {
    for (const Event& e : events)
      if (e.type == type && (type == 5 || e.state == state)) return true;
    waPump(100);
  }
  return false;
}

std::string Received() {
  std::string all;
  for (const Event& e : events)
    if (e.type == 5) all += e.data;
  return all;
}

TEST(WindowsSerialPort, CommandsDialDataAndHangUpOverCom8) {
  FakeModem modem("\\\\.\\COM9");
  ASSERT_TRUE(modem.open()) << "COM9 is not there (run by serial.sh)";
  char folder[MAX_PATH] = {};
  GetTempPathA(sizeof folder, folder);
  std::string settings = std::string(folder) + "vl-serial-" + std::to_string(GetCurrentProcessId()) + ".ini";
  std::ofstream(settings) << "[port8]\nbackend = serial\ndevice = COM8\n";
  commSetSettingsFile(commDefault(), settings.c_str());

  ASSERT_EQ(ruk_pbx_Event(OnEvent, 250), 1);
  intptr_t handle = ruk_pbx_Open(8, 57600, 8, 4100, 4100);
  ASSERT_NE(handle, 0) << commLastError(commDefault());
  EXPECT_TRUE(PumpUntil(1, 1)) << "CTS on";
  EXPECT_TRUE(PumpUntil(2, 1)) << "DSR on";
  EXPECT_EQ(ruk_pbx_Cmd("ATE0V1"), 1) << commLastError(commDefault());
  EXPECT_EQ(ruk_pbx_Cmd("ATS0=0"), 1);
  EXPECT_EQ(ruk_pbx_Cmd("ATDT401"), 1);
  ASSERT_TRUE(PumpUntil(4, 1)) << "no carrier after CONNECT";

  std::string block(4096, 'b');
  for (size_t i = 0; i < block.size(); ++i) block[i] = char('a' + i % 26);
  pRS232IO(1, handle, block.data(), int32_t(block.size()));
  pRS232IO(1, handle, "[END]", 5);
  uint32_t start = waNow();
  while (Received().size() < block.size() + 5 && waNow() - start < 10000) waPump(100);
  EXPECT_EQ(Received(), block + "[END]");
  EXPECT_TRUE(PumpUntil(4, 0)) << "NO CARRIER drops the carrier";
  EXPECT_EQ(ruk_pbx_Close(), 0);
  ruk_pbx_Event(nullptr, 0);
  DeleteFileA(settings.c_str());
}

}  // namespace
