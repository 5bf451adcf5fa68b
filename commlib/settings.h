// commlib/settings.h -- the port settings file "ruk_comm.ini".
//
//   [port1]                    ; one section per port, port1 .. port32
//   backend     = virtual      ; "virtual" (modem over TCP) or "serial"
//   listen      = 127.0.0.1:7401 ; virtual: where incoming calls arrive
//                              ;   (port 0: any free port, kept across opens)
//   pace        = 1            ; virtual: 1 = the line runs at the Baud setting,
//                              ;   8N1, so baud/10 bytes per second
//   drop_after  = 0            ; virtual: drop the carrier after N bytes sent
//                              ;   in one call (0 = never; fault injection)
//   delay_ms    = 0            ; virtual: every write leaves this much later
//   auto_answer = 0            ; virtual: power-on value of S0 (rings to answer)
//   device      = /dev/ttyS0   ; serial: the device to open
//
//   [phonebook]                ; virtual: number = host:port
//   401 = 127.0.0.1:7401
//
// Hosts are dotted IPv4 addresses or "localhost". Every value is checked; a
// file with any bad line is refused whole. Without the file, or without a
// section for the port, port n is the serial device /dev/ttyS(n-1).
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
  uint32_t dropAfter = 0;
  uint32_t delayMs = 0;
  int autoAnswer = 0;
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

// "host:port"; allowZeroPort for listening addresses.
bool parseHostPort(std::string_view text, bool allowZeroPort, HostPort& out);

// The entry for a dialled number: the same digits, or the same digits once
// leading zeros are dropped on both sides ("0401" reaches "401").
const PhoneEntry* findNumber(const std::vector<PhoneEntry>& book, std::string_view number);

}  // namespace comm
