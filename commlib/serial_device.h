// commlib/serial_device.h -- one open serial device, as the serial backend
// (serial_port.cpp) drives it: serial_device_posix.cpp (termios),
// serial_device_win32.cpp (COMn: DCB, COMMTIMEOUTS, overlapped I/O).
//
// The line runs raw with the requested data bits, no parity, one stop bit,
// RTS/CTS flow control, DTR and RTS raised; closing lowers DTR, which makes
// the modem hang up. Reads and writes never block: the event loop tells the
// backend when the device can give or take bytes.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

namespace comm {

// Modem lines, as SerialDevice::lines reports them.
enum { kLineCts = 1, kLineDsr = 2, kLineRing = 4, kLineCarrier = 8 };

// From the event loop: the device has bytes (or has gone), or takes bytes again.
using DeviceCallback = void (*)(void* context, bool readable, bool writable);
// From the event loop: a modem line may have changed (read them with lines);
// watching false when the device can tell no more from now on.
using LinesCallback = void (*)(void* context, bool watching);

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  // The modem lines now (kLine* bits); false where the device has none.
  virtual bool lines(int& bits) = 0;
  // Tells callback whenever a modem line changes, from the system's own
  // notice; false where the system gives none (the backend then reads the
  // lines every kLinePollMs).
  virtual bool watchLines(LinesCallback callback, void* context) = 0;
  // Bytes read (> 0), 0 when none wait, -1 when the device has gone.
  virtual long read(char* buffer, size_t length) = 0;
  // Bytes taken, net::kWouldBlock or net::kFailed (commlib/net.h).
  virtual long write(const uint8_t* bytes, size_t length) = 0;
  // What the backend waits for now; replaces the earlier wish.
  virtual void watch(bool reading, bool writing, DeviceCallback callback, void* context) = 0;
};

// The device at path, set up for the line; nullptr and a message when it
// cannot be opened or is no serial device.
std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& path, int baud, int dataBits, std::string& error);

}  // namespace comm
