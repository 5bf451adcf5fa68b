// A serial device on a POSIX host (see serial_device.h): termios, raw, at the
// standard speed nearest the Baud setting (56000 -> 57600, 128000 -> 115200,
// 256000 -> 230400); HUPCL lowers DTR at close. The modem lines come from
// TIOCMGET where the device has them (pseudo-terminals and many adapters
// have none).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "commlib/net.h"
#include "commlib/serial_device.h"
#include "winapi/loop.h"

namespace comm {
namespace {

struct Speed {
  int baud;
  speed_t code;
};
constexpr Speed kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
    {1000000, B1000000}, {2000000, B2000000}, {4000000, B4000000},
};

speed_t nearestSpeed(int baud) {
  const Speed* best = &kSpeeds[0];
  for (const Speed& s : kSpeeds)
    if (std::abs(s.baud - baud) < std::abs(best->baud - baud)) best = &s;
  return best->code;
}

tcflag_t sizeFlag(int dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

bool configure(int fd, int baud, int dataBits, std::string& error) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    error = strerror(errno);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
  tio.c_cflag |= sizeFlag(dataBits) | CREAD | CLOCAL | HUPCL | CRTSCTS;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  speed_t speed = nearestSpeed(baud);
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    error = std::string("cannot set the line: ") + strerror(errno);
    return false;
  }
  ioctl(fd, TIOCEXCL);
  int raise = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &raise);  // fails harmlessly where there are no lines
  tcflush(fd, TCIOFLUSH);
  return true;
}

class PosixSerialDevice final : public SerialDevice {
 public:
  explicit PosixSerialDevice(int fd) : fd_(fd) {}
  ~PosixSerialDevice() override {
    waUnwatchFd(fd_);
    close(fd_);
  }

  bool lines(int& bits) override {
    int now = 0;
    if (ioctl(fd_, TIOCMGET, &now) != 0) return false;
    bits = (now & TIOCM_CTS ? kLineCts : 0) | (now & TIOCM_DSR ? kLineDsr : 0) | (now & TIOCM_RNG ? kLineRing : 0) |
           (now & TIOCM_CD ? kLineCarrier : 0);
    return true;
  }

  // termios tells of a line change only to a thread blocked in TIOCMIWAIT,
  // never through a descriptor the event loop could watch.
  bool watchLines(LinesCallback, void*) override { return false; }

  long read(char* buffer, size_t length) override {
    ssize_t n = ::read(fd_, buffer, length);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return n <= 0 ? -1 : long(n);
  }

  long write(const uint8_t* bytes, size_t length) override { return net::WriteSome(fd_, bytes, length); }

  void watch(bool reading, bool writing, DeviceCallback callback, void* context) override {
    callback_ = callback;
    context_ = context;
    waWatchFd(fd_, short((reading ? POLLIN : 0) | (writing ? POLLOUT : 0)), onReady, this);
  }

 private:
  static void onReady(int, short revents, void* self) {
    auto* device = static_cast<PosixSerialDevice*>(self);
    device->callback_(device->context_, revents & (POLLIN | POLLHUP | POLLERR), revents & POLLOUT);
  }

  int fd_;
  DeviceCallback callback_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace

std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& path, int baud, int dataBits, std::string& error) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + strerror(errno);
    return nullptr;
  }
  std::string why;
  if (!isatty(fd) || !configure(fd, baud, dataBits, why)) {
    error = path + ": " + (why.empty() ? std::string("not a serial device") : why);
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixSerialDevice>(fd);
}

}  // namespace comm
