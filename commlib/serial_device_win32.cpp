// A serial device on Windows (see serial_device.h): "COMn" or "\\.\COMn",
// opened for overlapped I/O.
//
// Reading: one overlapped ReadFile is always under way. COMMTIMEOUTS make it
// wait for the first byte as long as it takes and end once the line has been
// quiet for 20 ms after it (an interval time-out and no total one; the
// "return at once when a byte is there" setting with MAXDWORD never completes
// an overlapped read under Wine). Its event is watched by the event loop, so
// nothing polls. Bytes it brought wait in the device until the backend reads
// them.
// Writing: one overlapped WriteFile at a time, from the device's own copy of
// the bytes; while it runs the device takes no more (kWouldBlock), and its
// event tells the backend when it does again.
// Modem lines: an overlapped WaitCommEvent for a change of CTS, DSR, RI or
// DCD is under way while the backend watches them, its event watched by the
// event loop; when it completes, the next one is issued first and then the
// backend reads the states with GetCommModemStatus, so no change falls
// between the two. A port without lines is never watched: one that Wine
// maps to a pseudo-terminal answers GetCommModemStatus with an error, takes
// the mask, but refuses WaitCommEvent (ERROR_NOT_SUPPORTED, tried); a port
// that reads its lines but cannot wait for them is read by the backend.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "commlib/net.h"
#include "commlib/serial_device.h"
#include "winapi/loop.h"

namespace comm {
namespace {

constexpr DWORD kReadGapMs = 20;
constexpr size_t kReadChunk = 4096;
constexpr DWORD kLineEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD;

std::string lastError() { return "Windows error " + std::to_string(GetLastError()); }

bool configure(HANDLE port, int baud, int dataBits, std::string& error) {
  SetupComm(port, 8192, 8192);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) {
    error = "not a serial device";
    return false;
  }
  dcb.BaudRate = DWORD(baud);
  dcb.ByteSize = BYTE(dataBits >= 5 && dataBits <= 8 ? dataBits : 8);
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = TRUE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!SetCommState(port, &dcb)) {
    error = "cannot set the line: " + lastError();
    return false;
  }
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = kReadGapMs;
  if (!SetCommTimeouts(port, &timeouts)) {
    error = "cannot set the time-outs: " + lastError();
    return false;
  }
  PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
  return true;
}

class WindowsSerialDevice final : public SerialDevice {
 public:
  explicit WindowsSerialDevice(HANDLE port) : port_(port) {
    reading_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    writing_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    lineWait_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    startRead();
  }
  ~WindowsSerialDevice() override {
    waUnwatchFd(eventFd(reading_));
    waUnwatchFd(eventFd(writing_));
    waUnwatchFd(eventFd(lineWait_));
    SetCommMask(port_, 0);  // ends a WaitCommEvent under way
    CancelIo(port_);
    DWORD n = 0;
    if (readPending_) GetOverlappedResult(port_, &reading_, &n, TRUE);
    if (writePending_) GetOverlappedResult(port_, &writing_, &n, TRUE);
    if (lineWaitPending_) GetOverlappedResult(port_, &lineWait_, &n, TRUE);
    EscapeCommFunction(port_, CLRDTR);  // the modem hangs up
    CloseHandle(port_);
    CloseHandle(reading_.hEvent);
    CloseHandle(writing_.hEvent);
    CloseHandle(lineWait_.hEvent);
  }

  bool lines(int& bits) override {
    DWORD status = 0;
    if (!GetCommModemStatus(port_, &status)) return false;
    bits = (status & MS_CTS_ON ? kLineCts : 0) | (status & MS_DSR_ON ? kLineDsr : 0) |
           (status & MS_RING_ON ? kLineRing : 0) | (status & MS_RLSD_ON ? kLineCarrier : 0);
    return true;
  }

  bool watchLines(LinesCallback callback, void* context) override {
    linesCallback_ = callback;
    linesContext_ = context;
    if (!SetCommMask(port_, kLineEvents) || !startLineWait()) {
      SetCommMask(port_, 0);
      return false;
    }
    waWatchFd(eventFd(lineWait_), WA_IN | WA_EVENT, onLineEvent, this);
    return true;
  }

  long read(char* buffer, size_t length) override {
    collectRead();
    if (arrived_.empty()) return gone_ ? -1 : 0;
    size_t n = std::min(length, arrived_.size() - taken_);
    std::copy(arrived_.begin() + long(taken_), arrived_.begin() + long(taken_ + n), buffer);
    taken_ += n;
    if (taken_ == arrived_.size()) {
      arrived_.clear();
      taken_ = 0;
      startRead();
    }
    return long(n);
  }

  long write(const uint8_t* bytes, size_t length) override {
    if (!collectWrite()) return net::kFailed;
    if (writePending_) return net::kWouldBlock;
    outgoing_.assign(bytes, bytes + length);
    ResetEvent(writing_.hEvent);
    DWORD n = 0;
    if (WriteFile(port_, outgoing_.data(), DWORD(outgoing_.size()), &n, &writing_)) return long(length);
    if (GetLastError() != ERROR_IO_PENDING) return net::kFailed;
    writePending_ = true;
    return long(length);
  }

  void watch(bool reading, bool writing, DeviceCallback callback, void* context) override {
    callback_ = callback;
    context_ = context;
    wantRead_ = reading;
    wantWrite_ = writing;
    rewatch();
  }

 private:
  static int eventFd(const OVERLAPPED& o) { return int(intptr_t(o.hEvent)); }

  void rewatch() {
    // Bytes already here are news the loop cannot see in an event: a read
    // that finished leaves its event set until they are taken.
    if (wantRead_) waWatchFd(eventFd(reading_), WA_IN | WA_EVENT, onRead, this);
    else waUnwatchFd(eventFd(reading_));
    if (wantWrite_ && writePending_) waWatchFd(eventFd(writing_), WA_IN | WA_EVENT, onWritten, this);
    else waUnwatchFd(eventFd(writing_));
  }

  // Issues the next read unless one is under way or bytes still wait. The
  // read event stays set while bytes or the loss of the device wait, so the
  // loop comes back for them.
  void startRead() {
    while (!readPending_ && !gone_ && arrived_.empty()) {
      chunk_.resize(kReadChunk);
      ResetEvent(reading_.hEvent);
      DWORD n = 0;
      if (ReadFile(port_, chunk_.data(), DWORD(chunk_.size()), &n, &reading_)) {
        arrived_.assign(chunk_.begin(), chunk_.begin() + n);
      } else if (GetLastError() == ERROR_IO_PENDING) {
        readPending_ = true;
      } else {
        gone_ = true;
      }
    }
    if (!arrived_.empty() || gone_) SetEvent(reading_.hEvent);
  }

  // Takes the result of a finished read; an empty one is issued again.
  void collectRead() {
    if (!readPending_) return;
    DWORD n = 0;
    if (!GetOverlappedResult(port_, &reading_, &n, FALSE)) {
      if (GetLastError() == ERROR_IO_INCOMPLETE) return;
      readPending_ = false;
      gone_ = true;
      return;
    }
    readPending_ = false;
    arrived_.assign(chunk_.begin(), chunk_.begin() + n);
    startRead();  // an empty read is issued again
  }

  bool collectWrite() {
    if (!writePending_) return true;
    DWORD n = 0;
    if (GetOverlappedResult(port_, &writing_, &n, FALSE)) {
      writePending_ = false;
      return true;
    }
    if (GetLastError() == ERROR_IO_INCOMPLETE) return true;
    writePending_ = false;
    return false;
  }

  // Issues the next wait for a line change; one that completes at once
  // leaves its event set, so the loop comes for it.
  bool startLineWait() {
    ResetEvent(lineWait_.hEvent);
    changedLines_ = 0;
    if (WaitCommEvent(port_, &changedLines_, &lineWait_)) {
      SetEvent(lineWait_.hEvent);
      return true;
    }
    lineWaitPending_ = GetLastError() == ERROR_IO_PENDING;
    return lineWaitPending_;
  }

  // A line changed (or the wait failed): wait again, then let the backend
  // read the lines. A wait that cannot be issued again ends the watching.
  static void onLineEvent(int, short, void* self) {
    auto* device = static_cast<WindowsSerialDevice*>(self);
    DWORD n = 0;
    if (device->lineWaitPending_ && !GetOverlappedResult(device->port_, &device->lineWait_, &n, FALSE) &&
        GetLastError() == ERROR_IO_INCOMPLETE)
      return;
    device->lineWaitPending_ = false;
    bool watching = device->startLineWait();
    if (!watching) {
      waUnwatchFd(eventFd(device->lineWait_));
      SetCommMask(device->port_, 0);
    }
    device->linesCallback_(device->linesContext_, watching);
  }

  static void onRead(int, short, void* self) {
    auto* device = static_cast<WindowsSerialDevice*>(self);
    device->collectRead();
    // Otherwise the read came back empty and the next one is under way.
    if (!device->arrived_.empty() || device->gone_) device->callback_(device->context_, true, false);
  }

  static void onWritten(int, short, void* self) {
    auto* device = static_cast<WindowsSerialDevice*>(self);
    device->collectWrite();
    waUnwatchFd(eventFd(device->writing_));
    device->callback_(device->context_, false, true);
  }

  HANDLE port_;
  OVERLAPPED reading_{};
  OVERLAPPED writing_{};
  OVERLAPPED lineWait_{};
  DWORD changedLines_ = 0;  // written by WaitCommEvent
  bool readPending_ = false;
  bool writePending_ = false;
  bool lineWaitPending_ = false;
  bool gone_ = false;
  std::vector<char> chunk_;
  std::vector<char> arrived_;
  size_t taken_ = 0;
  std::vector<uint8_t> outgoing_;
  bool wantRead_ = false;
  bool wantWrite_ = false;
  DeviceCallback callback_ = nullptr;
  void* context_ = nullptr;
  LinesCallback linesCallback_ = nullptr;
  void* linesContext_ = nullptr;
};

}  // namespace

std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& path, int baud, int dataBits, std::string& error) {
  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    error = path + ": cannot be opened (" + lastError() + ")";
    return nullptr;
  }
  std::string why;
  if (GetFileType(port) != FILE_TYPE_CHAR || !configure(port, baud, dataBits, why)) {
    error = path + ": " + (why.empty() ? std::string("not a serial device") : why);
    CloseHandle(port);
    return nullptr;
  }
  return std::make_unique<WindowsSerialDevice>(port);
}

}  // namespace comm
