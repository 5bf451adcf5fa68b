// The serial backend: a real modem on a serial device.
//
// The device (serial_device.h: termios or COMn) runs raw 8N1 (or the
// requested data bits) with RTS/CTS flow control; closing it lowers DTR,
// which makes the modem hang up.
//
// Modem lines: where the device has them, CTS, DSR, RI and DCD are reported
// as they change. The device tells of a change where the system gives notice
// (Windows: WaitCommEvent), and the lines are read then; elsewhere (termios)
// they are read every 200 ms. Pseudo-terminals
// and many adapters have none; there CTS and DSR count as on while the port
// is open, and the modem's result codes stand in for the rest: RING pulses
// RNG, CONNECT raises the carrier, NO CARRIER (also when it ends the data of
// a call) drops it, and the device going away drops everything.
//
// Command mode and data mode: until CONNECT (or DCD) the modem's output is
// read as result lines, answers to ruk_pbx_Cmd; afterwards it is call data,
// delivered unchanged, until the carrier goes. ruk_pbx_Cmd waits for OK or
// ERROR by pumping the event loop for at most 2 s; a dial (ATD) or answer
// (ATA) is not waited for, the carrier tells its outcome: CD on, or, when the
// modem answers BUSY, NO CARRIER, NO ANSWER, NO DIALTONE or ERROR instead,
// CD off (without a CD on before it), so a failed dial is known at once.
// During a call the modem is not sent commands: they would go down the line
// as data.
#include <string_view>
#include <vector>

#include "commlib/hayes.h"
#include "commlib/serial_device.h"
#include "commlib/transport.h"
#include "winapi/loop.h"

namespace comm {
namespace {

constexpr size_t kResultLineMax = 256;
constexpr std::string_view kNoCarrier = "NO CARRIER";

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if ((text[i] | 32) != (prefix[i] | 32)) return false;
  return true;
}

// Where a "NO CARRIER" line begins in call data, or npos.
size_t findNoCarrier(const char* bytes, size_t length) {
  std::string_view data(bytes, length);
  for (size_t at = data.find(kNoCarrier); at != std::string_view::npos; at = data.find(kNoCarrier, at + 1)) {
    size_t end = at + kNoCarrier.size();
    bool lineStart = at == 0 || data[at - 1] == '\n' || data[at - 1] == '\r';
    bool lineEnd = end == length || data[end] == '\r' || data[end] == '\n';
    if (lineStart && lineEnd) return at;
  }
  return std::string_view::npos;
}

class SerialPort final : public Transport {
 public:
  SerialPort(Owner& owner, const TransportConfig& config) : owner_(owner), config_(config) {}
  ~SerialPort() override { shutdown(); }

  bool start(std::string& error) override;
  int32_t command(const std::string& line, std::string& error) override;
  bool write(const uint8_t* bytes, size_t length) override;
  void shutdown() override;
  void resumeReading() override;

 private:
  void reportInitialLines();
  static void onLinesChanged(void* context, bool watching);
  static void onLinePoll(void* context);
  void readLines();
  void setCarrier(bool on);
  void ringPulse();
  static void onRingOff(void* context);

  static void onDevice(void* context, bool readable, bool writable);
  void readDevice();
  void consume(const char* bytes, size_t length);
  size_t consumeData(const char* bytes, size_t length);
  void handleResultLine(const std::string& line);
  void deviceLost();

  void drainWriter();
  void watchDevice();
  static void cancel(uint32_t& id);

  Owner& owner_;
  TransportConfig config_;
  LineWriter writer_;
  std::unique_ptr<SerialDevice> device_;
  bool hasLines_ = false;
  int lines_ = 0;          // last kLine* bits
  bool dataMode_ = false;
  bool skipLineFeed_ = false;
  bool carrier_ = false;
  bool ringOn_ = false;
  bool lost_ = false;
  bool shut_ = false;
  bool wantWrite_ = false;
  bool readingPaused_ = false;
  bool awaitingCarrier_ = false;  // a dial or answer waits for its outcome
  int awaited_ = -1;       // answer to the command being waited for: 1 OK, 0 other
  uint32_t pollTimer_ = 0;
  uint32_t ringOffTimer_ = 0;
  std::string resultLine_;
  std::vector<char> readBuffer_;
};

void SerialPort::cancel(uint32_t& id) {
  if (id) waCancelDeadline(id);
  id = 0;
}

bool SerialPort::start(std::string& error) {
  device_ = OpenSerialDevice(config_.settings.device, config_.baud, config_.dataBits, error);
  if (!device_) return false;
  LineShape shape;
  shape.capacity = config_.sendCapacity + kResultLineMax;
  writer_.configure(shape);
  readBuffer_.resize(config_.receiveChunk);
  watchDevice();
  reportInitialLines();
  return true;
}

void SerialPort::reportInitialLines() {
  hasLines_ = device_->lines(lines_);
  if (!hasLines_) {
    owner_.lineChanged(kCts, true);
    owner_.lineChanged(kDsr, true);
    return;
  }
  owner_.lineChanged(kCts, lines_ & kLineCts);
  owner_.lineChanged(kDsr, lines_ & kLineDsr);
  if (lines_ & kLineRing) owner_.lineChanged(kRing, true);
  if (lines_ & kLineCarrier) setCarrier(true);
  if (!device_->watchLines(onLinesChanged, this)) pollTimer_ = waAddDeadline(kLinePollMs, onLinePoll, this);
}

void SerialPort::onLinesChanged(void* context, bool watching) {
  auto* self = static_cast<SerialPort*>(context);
  self->readLines();
  // A device that can tell no more is read from now on.
  if (!watching && self->pollTimer_ == 0) self->pollTimer_ = waAddDeadline(kLinePollMs, onLinePoll, self);
}

void SerialPort::onLinePoll(void* context) {
  auto* self = static_cast<SerialPort*>(context);
  self->readLines();
  self->pollTimer_ = waAddDeadline(kLinePollMs, onLinePoll, self);
}

void SerialPort::readLines() {
  int now = 0;
  if (!device_ || !device_->lines(now)) return;
  int changed = now ^ lines_;
  lines_ = now;
  if (changed & kLineCts) owner_.lineChanged(kCts, now & kLineCts);
  if (changed & kLineDsr) owner_.lineChanged(kDsr, now & kLineDsr);
  if (changed & kLineRing) owner_.lineChanged(kRing, now & kLineRing);
  if (changed & kLineCarrier) setCarrier(now & kLineCarrier);
}

void SerialPort::setCarrier(bool on) {
  dataMode_ = on;
  if (on) awaitingCarrier_ = false;
  if (on == carrier_) return;
  carrier_ = on;
  owner_.lineChanged(kCarrier, on);
}

void SerialPort::ringPulse() {
  if (!ringOn_) owner_.lineChanged(kRing, true);
  ringOn_ = true;
  cancel(ringOffTimer_);
  ringOffTimer_ = waAddDeadline(kRingOnMs, onRingOff, this);
}

void SerialPort::onRingOff(void* context) {
  auto* self = static_cast<SerialPort*>(context);
  self->ringOffTimer_ = 0;
  if (self->ringOn_) {
    self->ringOn_ = false;
    self->owner_.lineChanged(kRing, false);
  }
}

// ---- commands and data out ----

int32_t SerialPort::command(const std::string& line, std::string& error) {
  if (lost_ || !device_) {
    error = "the modem is gone";
    return 0;
  }
  if (dataMode_) {
    error = "a call is connected; commands would go down the line";
    return 0;
  }
  std::vector<AtStep> steps;
  bool parsed = parseCommandLine(line, steps);
  if (!parsed && !startsWithNoCase(line, "AT")) {
    error = "not a modem command: " + line;
    return 0;
  }
  bool answeredByCarrier =
      parsed && !steps.empty() && (steps.back().op == AtOp::Dial || steps.back().op == AtOp::Answer);
  std::string text = line + "\r";
  if (!writer_.queue(reinterpret_cast<const uint8_t*>(text.data()), text.size(), owner_.nowUs())) {
    error = "the line is still busy sending";
    return 0;
  }
  awaited_ = -1;
  resultLine_.clear();
  drainWriter();
  awaitingCarrier_ = answeredByCarrier;
  if (answeredByCarrier) return 1;

  uint32_t start = waNow();
  while (awaited_ == -1 && !lost_ && !shut_) {
    uint32_t spent = waNow() - start;
    if (spent >= kCommandLimitMs) break;
    waPump(int32_t(kCommandLimitMs - spent));
  }
  if (awaited_ == 1) return 1;
  error = awaited_ == -1 ? "the modem did not answer within 2 s" : "the modem refused the command";
  return 0;
}

bool SerialPort::write(const uint8_t* bytes, size_t length) {
  if (lost_ || !dataMode_) return false;
  if (!writer_.queue(bytes, length, owner_.nowUs())) return false;
  owner_.sentBytes(length);
  drainWriter();
  return true;
}

void SerialPort::drainWriter() {
  if (!device_) return;
  uint64_t wake = 0;
  LineWriter::Step step = writer_.drain(
      [this](const uint8_t* bytes, size_t length) { return device_->write(bytes, length); }, owner_.nowUs(), wake);
  if (step == LineWriter::Step::Failed) {
    deviceLost();
    return;
  }
  wantWrite_ = step == LineWriter::Step::WaitWritable;
  watchDevice();
}

void SerialPort::watchDevice() {
  device_->watch(!readingPaused_, wantWrite_, onDevice, this);
}

// ---- bytes in ----

void SerialPort::onDevice(void* context, bool readable, bool writable) {
  auto* self = static_cast<SerialPort*>(context);
  if (readable) self->readDevice();
  if (self->device_ && writable) self->drainWriter();
}

void SerialPort::readDevice() {
  long n = device_->read(readBuffer_.data(), readBuffer_.size());
  if (n == 0) return;
  if (n < 0) {
    deviceLost();
    return;
  }
  consume(readBuffer_.data(), size_t(n));
  if (device_ && owner_.backlogged() && !readingPaused_) {
    readingPaused_ = true;
    watchDevice();
  }
}

void SerialPort::resumeReading() {
  if (!readingPaused_ || owner_.backlogged() || !device_) return;
  readingPaused_ = false;
  watchDevice();
}

void SerialPort::consume(const char* bytes, size_t length) {
  while (length > 0) {
    if (dataMode_) {
      size_t used = consumeData(bytes, length);
      bytes += used;
      length -= used;
      continue;
    }
    char c = *bytes++;
    --length;
    if (c == '\r' || c == '\n') {
      if (resultLine_.empty()) continue;
      std::string line;
      line.swap(resultLine_);
      handleResultLine(line);
      if (dataMode_) skipLineFeed_ = c == '\r';
    } else if (c >= 32 && c < 127 && resultLine_.size() < kResultLineMax) {
      resultLine_ += c;
    }
  }
}

// Delivers call data; returns how much of it belongs to the call (the rest
// follows a NO CARRIER line, back in command mode).
size_t SerialPort::consumeData(const char* bytes, size_t length) {
  size_t used = 0;
  if (skipLineFeed_) {
    skipLineFeed_ = false;
    if (bytes[0] == '\n') used = 1;
  }
  const char* data = bytes + used;
  size_t dataLength = length - used;
  size_t end = hasLines_ ? std::string_view::npos : findNoCarrier(data, dataLength);
  if (end == std::string_view::npos) {
    if (dataLength > 0) owner_.received(data, dataLength);
    return length;
  }
  size_t keep = end;  // the modem puts CR LF before its result line
  if (keep > 0 && data[keep - 1] == '\n') --keep;
  if (keep > 0 && data[keep - 1] == '\r') --keep;
  if (keep > 0) owner_.received(data, keep);
  setCarrier(false);
  return used + end;
}

void SerialPort::handleResultLine(const std::string& line) {
  if (startsWithNoCase(line, "AT")) return;  // the modem's echo of a command
  if (line == "OK") {
    owner_.resultCode("OK");
    awaited_ = 1;
  } else if (startsWithNoCase(line, "CONNECT")) {
    awaitingCarrier_ = false;
    owner_.resultCode("CONNECT");
    if (hasLines_) dataMode_ = true;
    else setCarrier(true);
  } else if (line == "RING") {
    owner_.resultCode("RING");
    if (!hasLines_) ringPulse();
  } else if (line == "ERROR" || line == "NO CARRIER" || line == "BUSY" || line == "NO ANSWER" ||
             line == "NO DIALTONE") {
    owner_.resultCode(line.c_str());
    if (awaited_ == -1) awaited_ = 0;
    if (awaitingCarrier_ && !carrier_) {
      awaitingCarrier_ = false;
      owner_.lineChanged(kCarrier, false);
    } else if (line == "NO CARRIER" && !hasLines_) {
      setCarrier(false);
    }
  }
}

void SerialPort::deviceLost() {
  device_.reset();
  if (lost_) return;
  lost_ = true;
  cancel(pollTimer_);
  cancel(ringOffTimer_);
  if (ringOn_) owner_.lineChanged(kRing, false);
  ringOn_ = false;
  if (carrier_) owner_.resultCode("NO CARRIER");
  setCarrier(false);
  owner_.lineChanged(kCts, false);
  owner_.lineChanged(kDsr, false);
}

void SerialPort::shutdown() {
  if (shut_) return;
  shut_ = true;
  cancel(pollTimer_);
  cancel(ringOffTimer_);
  device_.reset();
  if (ringOn_) owner_.lineChanged(kRing, false);
  ringOn_ = false;
  setCarrier(false);
}

}  // namespace

std::unique_ptr<Transport> makeSerialPort(Owner& owner, const TransportConfig& config) {
  return std::make_unique<SerialPort>(owner, config);
}

}  // namespace comm
