// The virtual modem: a Hayes-style modem emulated inside the library, whose
// telephone line is a TCP connection.
//
// A call on the wire:
//
//   caller                                   callee (listening)
//   ATD<number> -> phone book -> connect --> accepted: rings every 2 s
//                                            (RNG on, 1 s later RNG off)
//                             <------------  "CONNECT\n"  answered: S0 rings
//   CD on                                    reached or ATA; CD on
//   raw protocol bytes          <========>   raw protocol bytes
//   ATH / close / loss: TCP closed -------->  CD off (and the other way round)
//
//                             <------------  "BUSY\n" and close, when the
//                                            callee is in a call, rings or dials
//
// The caller sends nothing before the answer line; anything but "CONNECT\n"
// (or "BUSY\n") within 64 bytes, a closed connection, or a refused connect is
// NO CARRIER; no answer line within S7 seconds is NO ANSWER. A dial that ends
// without a carrier, for whatever reason, is reported as the carrier going
// off (CD off without a CD on before it): the program learns the outcome of
// its dial from the carrier alone.
//
// A hang-up frees the line at once. The peer's end of a call may still wait
// in the event loop behind a new call (a caller that hangs up and dials again
// at once, or a third machine calling in the same round); a call or dial that
// meets a busy modem first looks whether the call in hand has already ended
// on the wire, and if so finishes it (its last bytes, then CD off) before
// the new call is taken.
#include <string.h>

#include <vector>

#include "commlib/hayes.h"
#include "commlib/net.h"
#include "commlib/transport.h"
#include "winapi/loop.h"

namespace comm {
namespace {

constexpr size_t kAnswerLineMax = 64;
constexpr const char kConnectLine[] = "CONNECT\n";
constexpr const char kBusyLine[] = "BUSY\n";
constexpr int kRegAutoAnswer = 0;
constexpr int kRegRingCount = 1;
constexpr int kRegAnswerLimit = 7;

enum class Phase { Idle, Connecting, AwaitAnswer, Ringing, Online };

class VirtualModem final : public Transport {
 public:
  VirtualModem(Owner& owner, const TransportConfig& config) : owner_(owner), config_(config) {}
  ~VirtualModem() override { shutdown(); }

  bool start(std::string& error) override;
  int32_t command(const std::string& line, std::string& error) override;
  bool write(const uint8_t* bytes, size_t length) override;
  void shutdown() override;
  void resumeReading() override;
  uint16_t listenPort() const override { return boundPort_; }

 private:
  void powerOn();
  bool openListener(std::string& error);
  int32_t obey(const AtStep& step, bool& finished, std::string& error);

  static void onListen(int fd, short revents, void* context);
  void acceptCalls();
  void ring();
  static void onRing(void* context);
  static void onRingOff(void* context);
  bool answer();

  void dial(const std::string& number);
  static void onCall(int fd, short revents, void* context);
  void callReady(short revents);
  void finishConnect();
  void readAnswerLine();
  static void onAnswerLimit(void* context);
  void goOnline(const char* rest, size_t restLength);

  bool readData();
  void settleEndedCall();
  void drainWriter();
  static void onWriterWake(void* context);

  // reportDial = false: a dial in progress ends without its carrier event
  // (the port is closing).
  void endCall(const char* result, bool reportDial = true);
  void dialFailed(const char* result);
  void watchCall();
  static void cancel(uint32_t& id);

  Owner& owner_;
  TransportConfig config_;
  LineWriter writer_;
  int listenFd_ = -1;
  int callFd_ = -1;
  uint16_t boundPort_ = 0;
  Phase phase_ = Phase::Idle;
  uint8_t regs_[256] = {};
  bool echo_ = true;
  bool carrier_ = false;
  bool ringOn_ = false;
  bool readingPaused_ = false;
  bool wantWrite_ = false;
  uint32_t ringTimer_ = 0;
  uint32_t ringOffTimer_ = 0;
  uint32_t answerTimer_ = 0;
  uint32_t writerTimer_ = 0;
  std::string answerLine_;
  std::vector<char> readBuffer_;
};

void VirtualModem::cancel(uint32_t& id) {
  if (id) waCancelDeadline(id);
  id = 0;
}

void VirtualModem::powerOn() {
  memset(regs_, 0, sizeof regs_);
  regs_[kRegAutoAnswer] = uint8_t(config_.settings.autoAnswer);
  regs_[kRegAnswerLimit] = uint8_t(kAnswerLimitS);
  echo_ = true;
}

bool VirtualModem::start(std::string& error) {
  powerOn();
  LineShape shape;
  shape.pacedBaud = config_.settings.pace ? config_.baud : 0;
  shape.delayMs = config_.settings.delayMs;
  shape.dropAfter = config_.settings.dropAfter;
  shape.dropRandom = config_.settings.dropRandom;
  shape.corruptOneIn = config_.settings.corruptOneIn;
  shape.split = config_.settings.split;
  shape.splitGapMs = config_.settings.splitGapMs;
  shape.random = config_.faultRandom;
  shape.capacity = config_.sendCapacity;
  writer_.configure(shape);
  readBuffer_.resize(config_.receiveChunk);
  if (config_.settings.listen && !openListener(error)) return false;
  // The emulated modem is always there and ready while the port is open.
  owner_.lineChanged(kCts, true);
  owner_.lineChanged(kDsr, true);
  return true;
}

bool VirtualModem::openListener(std::string& error) {
  const HostPort& where = *config_.settings.listen;
  // A ":0" address keeps the port it got first, so the number stays valid.
  uint16_t port = where.port != 0 ? where.port : config_.keptListenPort;
  listenFd_ = net::Listen(where.address, port, where.port == 0, where.text, boundPort_, error);
  if (listenFd_ == net::kNoSocket) return false;
  waWatchFd(listenFd_, WA_IN, onListen, this);
  return true;
}

void VirtualModem::shutdown() {
  endCall(nullptr, false);
  if (listenFd_ >= 0) {
    waUnwatchFd(listenFd_);
    net::Close(listenFd_);
    listenFd_ = -1;
  }
  boundPort_ = 0;
}

// ---- commands ----

int32_t VirtualModem::command(const std::string& line, std::string& error) {
  std::vector<AtStep> steps;
  if (!parseCommandLine(line, steps)) {
    owner_.resultCode("ERROR");
    error = "not a modem command: " + line;
    return 0;
  }
  for (const AtStep& step : steps) {
    bool finished = false;
    int32_t result = obey(step, finished, error);
    if (finished) return result;
  }
  owner_.resultCode("OK");
  return 1;
}

// Carries out one step; finished = true when the line ends with it (dial,
// answer, or an error), with its result.
int32_t VirtualModem::obey(const AtStep& step, bool& finished, std::string& error) {
  switch (step.op) {
    case AtOp::Dial:
      finished = true;
      settleEndedCall();
      if (phase_ != Phase::Idle && phase_ != Phase::Ringing) {
        owner_.resultCode("ERROR");
        error = "the modem is already in a call";
        return 0;
      }
      endCall(nullptr);  // a ringing call is turned away by going off hook
      dial(step.number);
      return 1;
    case AtOp::Answer:
      finished = true;
      settleEndedCall();
      if (phase_ != Phase::Ringing) {
        owner_.resultCode("NO CARRIER");
        error = "no incoming call to answer";
        return 0;
      }
      return answer() ? 1 : 0;
    case AtOp::HangUp:
      endCall(nullptr);
      return 1;
    case AtOp::Reset:
      endCall(nullptr);
      powerOn();
      return 1;
    case AtOp::Echo:
      // Kept for ATE; command text never reaches the handler, so nothing
      // is echoed either way.
      echo_ = step.value != 0;
      return 1;
    case AtOp::SetRegister:
      regs_[step.reg] = uint8_t(step.value);
      return 1;
    case AtOp::OffHook:
    case AtOp::ReadRegister:
    case AtOp::Ignored:
      return 1;
  }
  return 1;
}

// ---- incoming calls ----

void VirtualModem::onListen(int, short, void* context) { static_cast<VirtualModem*>(context)->acceptCalls(); }

void VirtualModem::acceptCalls() {
  for (;;) {
    int fd = net::Accept(listenFd_);
    if (fd == net::kNoSocket) return;
    settleEndedCall();
    if (phase_ != Phase::Idle) {
      net::SendLine(fd, kBusyLine);
      net::Close(fd);
      continue;
    }
    callFd_ = fd;
    phase_ = Phase::Ringing;
    regs_[kRegRingCount] = 0;
    watchCall();
    ring();
  }
}

void VirtualModem::ring() {
  if (regs_[kRegRingCount] < 255) ++regs_[kRegRingCount];
  ringOn_ = true;
  owner_.lineChanged(kRing, true);
  owner_.resultCode("RING");
  cancel(ringOffTimer_);
  cancel(ringTimer_);
  ringOffTimer_ = waAddDeadline(kRingOnMs, onRingOff, this);
  ringTimer_ = waAddDeadline(kRingIntervalMs, onRing, this);
}

void VirtualModem::onRing(void* context) {
  auto* self = static_cast<VirtualModem*>(context);
  self->ringTimer_ = 0;
  if (self->phase_ == Phase::Ringing) self->ring();
}

void VirtualModem::onRingOff(void* context) {
  auto* self = static_cast<VirtualModem*>(context);
  self->ringOffTimer_ = 0;
  if (self->ringOn_) {
    self->ringOn_ = false;
    self->owner_.lineChanged(kRing, false);
  }
  uint8_t rings = self->regs_[kRegAutoAnswer];
  if (self->phase_ == Phase::Ringing && rings > 0 && self->regs_[kRegRingCount] >= rings) self->answer();
}

bool VirtualModem::answer() {
  if (!net::SendLine(callFd_, kConnectLine)) {
    endCall("NO CARRIER");
    return false;
  }
  cancel(ringTimer_);
  cancel(ringOffTimer_);
  if (ringOn_) {
    ringOn_ = false;
    owner_.lineChanged(kRing, false);
  }
  goOnline(nullptr, 0);
  return true;
}

// ---- outgoing calls ----

void VirtualModem::dial(const std::string& number) {
  const PhoneEntry* entry = findNumber(config_.phonebook, number);
  int fd = entry ? net::ConnectStart(entry->address.address, entry->address.port) : net::kNoSocket;
  if (fd == net::kNoSocket) {
    dialFailed("NO CARRIER");
    return;
  }
  callFd_ = fd;
  phase_ = Phase::Connecting;
  answerLine_.clear();
  uint32_t limitS = regs_[kRegAnswerLimit] ? regs_[kRegAnswerLimit] : kAnswerLimitS;
  answerTimer_ = waAddDeadline(limitS * 1000u, onAnswerLimit, this);
  watchCall();
}

void VirtualModem::onCall(int, short revents, void* context) {
  static_cast<VirtualModem*>(context)->callReady(revents);
}

void VirtualModem::callReady(short revents) {
  switch (phase_) {
    case Phase::Connecting:
      finishConnect();
      break;
    case Phase::AwaitAnswer:
      readAnswerLine();
      break;
    case Phase::Ringing: {
      // The caller sends nothing before the answer: bytes are dropped, an
      // end means the caller gave up.
      char scratch[256];
      long n = net::Receive(callFd_, scratch, sizeof scratch);
      if (n == 0 || n == net::kFailed) endCall(nullptr);
      break;
    }
    case Phase::Online:
      if (revents & (WA_IN | WA_HUP | WA_ERR)) readData();
      if (phase_ == Phase::Online && (revents & WA_OUT)) drainWriter();
      break;
    case Phase::Idle:
      break;
  }
}

void VirtualModem::finishConnect() {
  if (!net::ConnectSucceeded(callFd_)) {
    endCall("NO CARRIER");
    return;
  }
  phase_ = Phase::AwaitAnswer;
  watchCall();
}

void VirtualModem::readAnswerLine() {
  long n = net::Receive(callFd_, readBuffer_.data(), readBuffer_.size());
  if (n == net::kWouldBlock) return;
  if (n <= 0) {
    endCall("NO CARRIER");
    return;
  }
  answerLine_.append(readBuffer_.data(), size_t(n));
  size_t end = answerLine_.find('\n');
  if (end == std::string::npos) {
    if (answerLine_.size() > kAnswerLineMax) endCall("NO CARRIER");
    return;
  }
  std::string line = answerLine_.substr(0, end + 1);
  std::string rest = answerLine_.substr(end + 1);
  answerLine_.clear();
  if (line == kConnectLine) goOnline(rest.data(), rest.size());
  else endCall(line == kBusyLine ? "BUSY" : "NO CARRIER");
}

void VirtualModem::onAnswerLimit(void* context) {
  auto* self = static_cast<VirtualModem*>(context);
  self->answerTimer_ = 0;
  if (self->phase_ == Phase::Connecting || self->phase_ == Phase::AwaitAnswer) self->endCall("NO ANSWER");
}

void VirtualModem::goOnline(const char* rest, size_t restLength) {
  cancel(answerTimer_);
  phase_ = Phase::Online;
  carrier_ = true;
  writer_.startCall();
  owner_.lineChanged(kCarrier, true);
  owner_.resultCode("CONNECT");
  if (restLength > 0) owner_.received(rest, restLength);
  watchCall();
}

// ---- data ----

// Reads what has arrived, up to one receive chunk; true when the chunk was
// filled, so more may wait.
bool VirtualModem::readData() {
  size_t got = 0;
  bool ended = false;
  while (got < readBuffer_.size()) {
    long n = net::Receive(callFd_, readBuffer_.data() + got, readBuffer_.size() - got);
    if (n > 0) {
      got += size_t(n);
      continue;
    }
    ended = n == 0 || n == net::kFailed;
    break;
  }
  if (got > 0) owner_.received(readBuffer_.data(), got);
  if (ended) {
    endCall("NO CARRIER");
    return false;
  }
  if (owner_.backlogged() && !readingPaused_) {
    readingPaused_ = true;
    watchCall();
  }
  return got == readBuffer_.size();
}

void VirtualModem::resumeReading() {
  if (!readingPaused_ || owner_.backlogged()) return;
  readingPaused_ = false;
  if (callFd_ >= 0) watchCall();
}

bool VirtualModem::write(const uint8_t* bytes, size_t length) {
  if (phase_ != Phase::Online) return false;
  if (!writer_.queue(bytes, length, owner_.nowUs())) return false;
  drainWriter();
  return true;
}

void VirtualModem::drainWriter() {
  if (phase_ != Phase::Online) return;
  cancel(writerTimer_);
  uint64_t now = owner_.nowUs();
  uint64_t wake = 0;
  uint64_t before = writer_.sentInCall();
  LineWriter::Step step = writer_.drain(callFd_, now, wake);
  owner_.sentBytes(size_t(writer_.sentInCall() - before));
  switch (step) {
    case LineWriter::Step::Idle:
    case LineWriter::Step::WaitUntil:
      wantWrite_ = false;
      break;
    case LineWriter::Step::WaitWritable:
      wantWrite_ = true;
      break;
    case LineWriter::Step::Dropped:
    case LineWriter::Step::Failed:
      endCall("NO CARRIER");
      return;
  }
  if (step == LineWriter::Step::WaitUntil)
    writerTimer_ = waAddDeadline(uint32_t((wake - now + 999) / 1000), onWriterWake, this);
  watchCall();
}

void VirtualModem::onWriterWake(void* context) {
  auto* self = static_cast<VirtualModem*>(context);
  self->writerTimer_ = 0;
  self->drainWriter();
}

// ---- ending ----

void VirtualModem::endCall(const char* result, bool reportDial) {
  cancel(ringTimer_);
  cancel(ringOffTimer_);
  cancel(answerTimer_);
  cancel(writerTimer_);
  if (callFd_ >= 0) {
    waUnwatchFd(callFd_);
    net::Close(callFd_);
    callFd_ = -1;
  }
  bool hadCarrier = carrier_;
  bool dialling = reportDial && (phase_ == Phase::Connecting || phase_ == Phase::AwaitAnswer);
  carrier_ = false;
  phase_ = Phase::Idle;
  wantWrite_ = false;
  readingPaused_ = false;
  answerLine_.clear();
  writer_.clear();
  if (ringOn_) {
    ringOn_ = false;
    owner_.lineChanged(kRing, false);
  }
  if (hadCarrier || dialling) owner_.lineChanged(kCarrier, false);
  if (result) owner_.resultCode(result);
}

void VirtualModem::dialFailed(const char* result) {
  owner_.lineChanged(kCarrier, false);
  owner_.resultCode(result);
}

void VirtualModem::settleEndedCall() {
  if (callFd_ < 0 || (phase_ != Phase::Online && phase_ != Phase::Ringing)) return;
  if (!net::PeerHasClosed(callFd_)) return;
  if (phase_ == Phase::Ringing) {
    endCall(nullptr);
    return;
  }
  // The peer has closed, so its last bytes are all here: they are handed on
  // before the carrier goes, even past the handler's queue limit.
  while (phase_ == Phase::Online && readData()) {
  }
  if (phase_ == Phase::Online) endCall("NO CARRIER");
}

void VirtualModem::watchCall() {
  short events = readingPaused_ ? 0 : WA_IN;
  if (wantWrite_ || phase_ == Phase::Connecting) events |= WA_OUT;
  waWatchFd(callFd_, events, onCall, this);
}

}  // namespace

std::unique_ptr<Transport> makeVirtualModem(Owner& owner, const TransportConfig& config) {
  return std::make_unique<VirtualModem>(owner, config);
}

}  // namespace comm
