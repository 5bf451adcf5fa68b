// commlib/transport.h -- what every line backend does.
//
// The library calls reach a port only through this interface; each backend
// lives in its own file (virtual_modem.cpp, serial_port.cpp) and makeTransport
// (transport.cpp) is the one place that chooses among them. A backend reports
// line changes, received bytes and result codes to its Owner, which queues
// them for the program's handler; a backend never calls the handler itself,
// so the program may close the port from inside its handler.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "commlib/line_writer.h"
#include "commlib/settings.h"

namespace comm {

enum LineType : int32_t { kCts = 1, kDsr = 2, kRing = 3, kCarrier = 4, kData = 5 };

// Time limits of the modems, in milliseconds.
constexpr uint32_t kRingIntervalMs = 2000;   // an incoming call rings this often
constexpr uint32_t kRingOnMs = 1000;         // RNG stays on this long per ring
constexpr uint32_t kAnswerLimitS = 60;       // S7 at power-on: wait for the answer
constexpr uint32_t kCommandLimitMs = 2000;   // a modem must answer a command
constexpr uint32_t kLinePollMs = 200;        // modem lines read this often, without notice

// What a backend reports to.
class Owner {
 public:
  virtual ~Owner() = default;
  virtual void lineChanged(LineType type, bool on) = 0;
  virtual void received(const char* bytes, size_t length) = 0;
  virtual void resultCode(const char* code) = 0;
  virtual void sentBytes(size_t length) = 0;
  // True while the handler lags so far behind that reading should pause;
  // the owner calls Transport::resumeReading once it has caught up.
  virtual bool backlogged() const = 0;
  virtual uint64_t nowUs() = 0;
};

struct TransportConfig {
  int port = 0;
  PortSettings settings;
  std::vector<PhoneEntry> phonebook;
  int baud = 0;
  int dataBits = 8;
  size_t receiveChunk = 4100;    // most bytes in one data event
  size_t sendCapacity = 8192;    // bytes that may wait to be sent
  uint16_t keptListenPort = 0;   // the port an earlier ":0" listen received
  FaultRandom* faultRandom = nullptr;  // the instance's, kept across opens
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Opens the device or the listening socket and reports CTS and DSR.
  virtual bool start(std::string& error) = 0;
  // One command line; 1 when the modem answered OK (or a dial started).
  virtual int32_t command(const std::string& line, std::string& error) = 0;
  // One whole message; false when there is no call or no room.
  virtual bool write(const uint8_t* bytes, size_t length) = 0;
  // Releases every descriptor and timer. A carrier that was up is reported
  // off; no other event follows.
  virtual void shutdown() = 0;
  virtual void resumeReading() = 0;
  virtual uint16_t listenPort() const { return 0; }
};

std::unique_ptr<Transport> makeTransport(Owner& owner, const TransportConfig& config);
std::unique_ptr<Transport> makeVirtualModem(Owner& owner, const TransportConfig& config);
std::unique_ptr<Transport> makeSerialPort(Owner& owner, const TransportConfig& config);

}  // namespace comm
