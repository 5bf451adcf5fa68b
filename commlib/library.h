// commlib/library.h -- the communication library: principles of operation.
//
// The program sees five calls (platform/comm.h). Behind them one library
// instance (CommInstance, below; further ones through instance.h) holds the
// handler, the event queue and the open port. ruk_pbx_Open reads the
// settings file (settings.h), picks the port's backend (transport.h) and
// starts it:
//
//   program --ruk_pbx_Cmd/pRS232IO--> CommInstance --> Transport
//                                                       |-- VirtualModem: Hayes
//                                                       |   modem emulated over TCP
//                                                       `-- SerialPort: termios
//   program <--handler(type, ...)--- event queue <------ line changes, bytes
//
// Events. Backends report line changes and received bytes; the instance
// queues them and hands them to the handler from a zero-delay deadline of the
// event loop (winapi/loop.h), one at a time, in order, with the instance
// selected. So events only ever arrive while the program pumps, never inside
// one of its own calls (CTS and DSR reported at ruk_pbx_Open come at the next
// pump; a serial modem's ruk_pbx_Cmd, which pumps while it waits for OK,
// holds events back until it returns), and a handler may call any library
// function, even ruk_pbx_Close.
// Received bytes are followed by a zero byte; bytes that arrive while earlier
// ones still wait join them, up to the receive chunk (at least 4096 bytes),
// so a message is never split by the library. When the handler falls behind
// by the queue limit given to ruk_pbx_Event (250), reading pauses until it
// catches up.
//
// Result codes of the modem (OK, RING, CONNECT, NO CARRIER, ...) never reach
// the handler as bytes: the receiving program would take text that arrives
// during a call for protocol data. They become line events (RING -> RNG,
// CONNECT -> CD on, NO CARRIER -> CD off), the result of ruk_pbx_Cmd, and
// commLastResult. A dial (ruk_pbx_Cmd "ATD...", which returns 1 once the
// modem has taken it) always ends in one carrier event at a later pump: CD on
// when the call is connected, CD off without a CD on before it when the modem
// gives up (BUSY, NO CARRIER, NO ANSWER, a number nobody answers on), so the
// program knows at once that its dial failed. Closing the port during a dial
// ends it without that event.
//
// Files: comm.cpp (the calls, instances, delivery), settings.cpp (the INI
// file), transport.cpp (backend choice), virtual_modem.cpp, serial_port.cpp,
// hayes.cpp (command lines), line_writer.cpp (transmit queue and pacing).
//
// Ownership: the instance owns its transport; a transport closed from inside
// a wait of its own (a handler that closes the port during ruk_pbx_Cmd) is
// kept until that wait has returned.
#pragma once
#include <stdint.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "commlib/transport.h"
#include "platform/comm.h"

constexpr const char* kDefaultSettingsFile = "ruk_comm.ini";
constexpr size_t kDefaultQueueLimit = 250;
constexpr size_t kMinReceiveChunk = 4096;
constexpr size_t kMaxBufferSize = 1 << 20;

struct QueuedEvent {
  int32_t type = 0;
  int32_t state = 0;
  std::vector<char> bytes;  // type 5 only
};

struct CommInstance final : comm::Owner {
  std::string settingsPath = kDefaultSettingsFile;
  ruk_pbx_Handler handler = nullptr;
  size_t queueLimit = kDefaultQueueLimit;
  std::deque<QueuedEvent> events;
  bool delivering = false;
  uint32_t kick = 0;  // deadline id of the pending delivery
  std::unique_ptr<comm::Transport> transport;
  std::vector<std::unique_ptr<comm::Transport>> retired;
  int commandDepth = 0;
  intptr_t handle = 0;
  uint32_t opens = 0;
  size_t receiveChunk = kMinReceiveChunk;
  std::string lastError;
  std::string lastResult;
  uint16_t keptListenPort = 0;
  // The fault draws run on across opens while the seed stays the same.
  comm::FaultRandom faultRandom;
  bool faultSeeded = false;
  uint32_t faultSeed = 0;
  uint64_t sent = 0;
  uint64_t receivedTotal = 0;
  uint32_t clockLast = 0;  // the 32-bit loop clock, widened
  uint64_t clockMs = 0;
  bool clockStarted = false;

  ~CommInstance() override;
  void lineChanged(comm::LineType type, bool on) override;
  void received(const char* bytes, size_t length) override;
  void resultCode(const char* code) override { lastResult = code; }
  void sentBytes(size_t length) override { sent += length; }
  bool backlogged() const override { return events.size() >= queueLimit; }
  uint64_t nowUs() override;

  void seedFaults(uint32_t seed);
  void deliverLater();
  void rearmDelivery();
  void deliverAll();
  // Closes the port; reportCarrier = false drops even the carrier event.
  void closePort(bool reportCarrier);
  void reset();
};
