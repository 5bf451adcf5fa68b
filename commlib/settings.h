// commlib/settings.h -- the port settings file "ruk_comm.ini".
//
// The file sits in the program folder and is read again at every
// ruk_pbx_Open, so a changed file takes effect at the next open (the program
// reopens its port after every call it dialled, and at every link-up).
//
//   [port1]                    ; one section per port, port1 .. port32
//   backend     = virtual      ; "virtual" (modem over TCP) or "serial"
//   listen      = 127.0.0.1:7401 ; virtual: where incoming calls arrive
//                              ;   (port 0: any free port, kept across opens)
//   auto_answer = 0            ; virtual: power-on value of S0 (rings to answer)
//   pace        = 1            ; virtual: 1 = the line runs at the Baud setting,
//                              ;   8N1, so baud/10 bytes per second
//   device      = /dev/ttyS0   ; serial: the device to open
//
//   ; Faults, virtual only, for tests, soaks and benchmarks. Every fault acts
//   ; on the bytes THIS modem sends onto the line during a call (pRS232IO
//   ; data), never on what it receives and never on the modems' own answer
//   ; lines (CONNECT, BUSY). To spoil a line both ways, give both ends faults.
//   ; Counts start again with every call. 0 switches a fault off.
//   drop_after   = 0           ; drop the carrier once N bytes of a call have
//                              ;   left (both ends see NO CARRIER; the peer
//                              ;   receives exactly the first N bytes)
//   drop_random  = 0           ; drop the carrier after a random count of
//                              ;   1..N bytes, drawn anew for every call;
//                              ;   with drop_after too, the earlier one wins
//   corrupt_one_in = 0         ; each byte sent is changed with chance 1/N
//                              ;   (XOR with a random non-zero value; the
//                              ;   length never changes; 1 = every byte)
//   delay_ms     = 0           ; every write leaves this many ms later
//   split        = 0           ; every write leaves in pieces of at most N
//                              ;   bytes, each piece split_gap_ms after the one
//                              ;   before (also across writes), so the peer
//                              ;   receives a message in several events
//   split_gap_ms = 1           ; the pause after each piece of a split line
//                              ;   (0: back to back, the peer may rejoin them)
//   seed         = 0           ; seed of drop_random and corrupt_one_in: the
//                              ;   same seed gives the same faults. The draws
//                              ;   run on across opens while the seed stays
//                              ;   the same (a dialler that reopens after every
//                              ;   call meets new faults on every call); a new
//                              ;   seed, a reset or a new process starts again.
//
//   [phonebook]                ; virtual: number = host:port
//   401 = 127.0.0.1:7401
//
// Hosts are dotted IPv4 addresses or "localhost". Every value is checked; a
// file with any bad line is refused whole (ruk_pbx_Open returns 0). Without
// the file, or without a section for the port, port n is the serial device
// /dev/ttyS(n-1) on Linux, COMn on Windows. A device is an absolute path on
// Linux, "COMn" or "\\.\COMn" on Windows.
#pragma once
#include <stdint.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace comm {

constexpr int kMaxPort = 32;
constexpr uint32_t kMaxDelayMs = 600000;
constexpr size_t kMaxNumberLength = 32;
constexpr size_t kMaxDeviceLength = 255;

struct HostPort {
  uint32_t address = 0;  // IPv4, host byte order
  uint16_t port = 0;
  std::string text;      // as written, for messages
};

enum class Backend { Serial, Virtual };

struct PortSettings {
  Backend backend = Backend::Serial;
  std::string device;               // serial
  std::optional<HostPort> listen;   // virtual; none = calls out only
  bool pace = false;
  uint32_t autoAnswer = 0;
  // Faults on the bytes this modem sends (see the table above).
  uint32_t dropAfter = 0;
  uint32_t dropRandom = 0;
  uint32_t corruptOneIn = 0;
  uint32_t delayMs = 0;
  uint32_t split = 0;
  uint32_t splitGapMs = 1;
  uint32_t seed = 0;
};

struct PhoneEntry {
  std::string number;
  HostPort address;
};

struct SettingsFile {
  std::array<std::optional<PortSettings>, kMaxPort + 1> ports;  // index = port number
  std::vector<PhoneEntry> phonebook;
};

// Reads and checks the file. A missing file gives empty settings; anything
// else that is wrong gives false and a message naming the line.
bool readSettingsFile(const std::string& path, SettingsFile& out, std::string& error);

// The settings of one port (1..kMaxPort), the default serial device when the
// file has no section for it.
PortSettings settingsForPort(const SettingsFile& file, int port);

// The host's serial device names (devices_posix.cpp, devices_win32.cpp):
// whether a device setting names one, the rule for the refusal, and the
// device of port n when the file names none.
bool IsSerialDevicePath(std::string_view device);
extern const char* const kSerialDeviceRule;
std::string DefaultSerialDevice(int port);

// "host:port"; allowZeroPort for listening addresses.
bool parseHostPort(std::string_view text, bool allowZeroPort, HostPort& out);

// The entry for a dialled number: the same digits, or the same digits once
// leading zeros are dropped on both sides ("0401" reaches "401").
const PhoneEntry* findNumber(const std::vector<PhoneEntry>& book, std::string_view number);

}  // namespace comm
