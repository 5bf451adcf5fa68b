#include "tests/soak/relay.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/unit.h"
#include "store/format.h"

namespace soak {
namespace {

constexpr size_t kEndBytes = 5;  // "[END]"

int ListenLoopback(uint16_t& port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

int ConnectLoopback(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void NoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool SendAll(int fd, const uint8_t* bytes, size_t length) {
  while (length > 0) {
    const ssize_t n = send(fd, bytes, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= size_t(n);
  }
  return true;
}

// Reads the sender's stream message by message: an announce (512 bytes) or
// "[END]" when no mail is under way, else the announced mail's next block.
class StreamReader {
 public:
  explicit StreamReader(LineReading& reading) : reading_(reading) {}

  void Take(const uint8_t* bytes, size_t length) {
    while (length > 0) {
      const size_t want = Wanted();
      const size_t n = std::min(want - buffer_.size(), length);
      buffer_.insert(buffer_.end(), bytes, bytes + n);
      bytes += n;
      length -= n;
      if (buffer_.size() == Wanted()) Finish();
      reading_.pendingBytes = int32_t(buffer_.size());
    }
  }

 private:
  size_t Wanted() const {
    if (inMail_) return kBlockSize;
    // Between mails: "[END]" is told from an announce by its first bytes.
    if (buffer_.size() >= kEndBytes && std::memcmp(buffer_.data(), "[END]", kEndBytes) == 0) return kEndBytes;
    return buffer_.size() < kEndBytes ? kEndBytes : kAnnounceSize;
  }

  void Finish() {
    if (inMail_) {
      MailBlock block;
      std::memcpy(&block, buffer_.data(), kBlockSize);
      vlData(-1, &block.header, kHeaderSize);
      reading_.block = SlotNumber(block.header.blockNumber, sizeof block.header.blockNumber);
      reading_.totalBlocks = SlotNumber(block.header.totalBlocks, sizeof block.header.totalBlocks);
      if (reading_.block >= reading_.totalBlocks) inMail_ = false;
    } else if (buffer_.size() == kEndBytes) {
      reading_.ended = true;
    } else {
      TransferAnnounce announce;
      std::memcpy(&announce, buffer_.data(), kAnnounceSize);
      vlData(-1, &announce, kAnnounceSize);
      std::string name(announce.name, strnlen(announce.name, sizeof announce.name));
      if (name.size() > 3) name.resize(name.size() - 3);
      reading_.mailName = name;
      reading_.block = 0;
      reading_.totalBlocks = 0;
      inMail_ = true;
    }
    buffer_.clear();
  }

  LineReading& reading_;
  std::vector<uint8_t> buffer_;
  bool inMail_ = false;
};

}  // namespace

struct Relay::Call {
  CallView view;
  int fd[2] = {-1, -1};  // [0] caller side, [1] callee side
  uint64_t triggerBase[2] = {0, 0};
  StreamReader reader{view.reading};
  std::string backTail;   // last bytes towards the caller, to count "[OK]"
  bool ended = false;
};

Relay::Relay(Log log) : log_(std::move(log)) {}

Relay::~Relay() { Stop(); }

bool Relay::Start(uint16_t targetA, uint16_t targetB) {
  targetA_ = targetA;
  targetB_ = targetB;
  if (pipe2(wake_, O_CLOEXEC) != 0) return false;
  listenToA_ = ListenLoopback(portToA_);
  listenToB_ = ListenLoopback(portToB_);
  if (listenToA_ < 0 || listenToB_ < 0) return false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void Relay::Stop() {
  if (thread_.joinable()) {
    stop_ = true;
    const char byte = 0;
    if (write(wake_[1], &byte, 1) < 0) {
    }
    thread_.join();
  }
  for (Call* call : calls_) {
    EndCall(*call, "relay stopped");
    delete call;
  }
  calls_.clear();
  for (int* fd : {&listenToA_, &listenToB_, &wake_[0], &wake_[1]})
    if (*fd >= 0) {
      close(*fd);
      *fd = -1;
    }
}

void Relay::Arm(Trigger trigger) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Call* call : calls_) {
    call->triggerBase[0] = call->view.forward;
    call->triggerBase[1] = call->view.back;
  }
  trigger_ = std::move(trigger);
}

bool Relay::Armed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return trigger_.has_value();
}

void Relay::Disarm() {
  std::lock_guard<std::mutex> lock(mutex_);
  trigger_.reset();
}

int Relay::CallsUp() {
  std::lock_guard<std::mutex> lock(mutex_);
  return int(calls_.size());
}

void Relay::SetNamer(std::function<std::string(const std::string&)> namer) {
  std::lock_guard<std::mutex> lock(mutex_);
  namer_ = std::move(namer);
}

std::string Relay::Describe(const CallView& call) {
  std::string text = "call " + std::to_string(call.number) + " " + call.caller + "->" + call.callee + " (" +
                     std::to_string(call.forward) + " bytes out, " + std::to_string(call.back) + " back, " +
                     std::to_string(call.reading.oks) + " [OK]";
  const LineReading& r = call.reading;
  if (!r.mailName.empty()) {
    const std::string label = namer_ ? namer_(r.mailName) : std::string();
    text += ", " + (label.empty() ? "unknown mail " + r.mailName.substr(0, 16) : label);
    text += " block " + std::to_string(r.block) + "/" + (r.totalBlocks > 0 ? std::to_string(r.totalBlocks) : "?");
    if (r.pendingBytes > 0) text += " +" + std::to_string(r.pendingBytes) + " bytes";
  }
  if (r.ended) text += ", [END] sent";
  return text + ")";
}

std::string Relay::DescribeCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  for (Call* call : calls_) text += (text.empty() ? "" : "; ") + Describe(call->view);
  return text.empty() ? "no call" : text;
}

void Relay::Run() {
  while (!stop_) {
    std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}, {listenToA_, POLLIN, 0}, {listenToB_, POLLIN, 0}};
    std::vector<std::pair<Call*, Direction>> owners;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (Call* call : calls_) {
        fds.push_back({call->fd[0], POLLIN, 0});
        owners.emplace_back(call, Direction::CallerToCallee);
        fds.push_back({call->fd[1], POLLIN, 0});
        owners.emplace_back(call, Direction::CalleeToCaller);
      }
    }
    if (poll(fds.data(), fds.size(), 500) < 0 && errno != EINTR) break;
    if (stop_) break;
    if (fds[1].revents & POLLIN) Accept(listenToA_, 'B', 'A', targetA_);
    if (fds[2].revents & POLLIN) Accept(listenToB_, 'A', 'B', targetB_);
    for (size_t i = 3; i < fds.size(); ++i)
      if (fds[i].revents != 0 && !owners[i - 3].first->ended) Pump(*owners[i - 3].first, owners[i - 3].second);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = calls_.begin(); it != calls_.end();) {
      if ((*it)->ended) {
        delete *it;
        it = calls_.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void Relay::Accept(int listener, char caller, char callee, uint16_t target) {
  const int in = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (in < 0) return;
  const int out = ConnectLoopback(target);
  std::lock_guard<std::mutex> lock(mutex_);
  const int number = nextCall_++;
  if (out < 0) {
    // The machine called is not running: the caller hears no carrier.
    close(in);
    log_("call " + std::to_string(number) + " " + caller + "->" + callee + ": nobody answers (" + callee +
         " is down)");
    return;
  }
  NoDelay(in);
  NoDelay(out);
  Call* call = new Call;
  call->view.number = number;
  call->view.caller = caller;
  call->view.callee = callee;
  call->fd[0] = in;
  call->fd[1] = out;
  calls_.push_back(call);
  log_("call " + std::to_string(number) + " " + caller + "->" + callee + " connected");
}

void Relay::Pump(Call& call, Direction direction) {
  const int from = call.fd[direction == Direction::CallerToCallee ? 0 : 1];
  uint8_t buffer[65536];
  const ssize_t n = recv(from, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (n <= 0) {
    EndCall(call, direction == Direction::CallerToCallee ? "caller hung up" : "callee hung up");
    return;
  }
  Forward(call, direction, buffer, size_t(n));
}

// Forwards bytes; a trigger that falls inside them splits them at its byte.
void Relay::Forward(Call& call, Direction direction, const uint8_t* bytes, size_t length) {
  size_t before = length;
  const bool fired = CheckTrigger(call, direction, bytes, length, before);
  const int side = direction == Direction::CallerToCallee ? 0 : 1;
  auto pass = [&](const uint8_t* b, size_t n) {
    if (n == 0) return true;
    if (!SendAll(call.fd[1 - side], b, n)) return false;
    if (direction == Direction::CallerToCallee) {
      call.view.forward += n;
      call.reader.Take(b, n);
    } else {
      call.view.back += n;
      for (size_t i = 0; i < n; ++i) {
        call.backTail.push_back(char(b[i]));
        if (call.backTail.size() > 4) call.backTail.erase(0, call.backTail.size() - 4);
        if (call.backTail == "[OK]") {
          ++call.view.reading.oks;
          call.backTail.clear();
        }
      }
    }
    return true;
  };
  if (!pass(bytes, before)) {
    EndCall(call, "line write failed");
    return;
  }
  if (!fired) return;
  Trigger trigger = std::move(*trigger_);
  trigger_.reset();
  const CallView seen = call.view;
  if (trigger.cut) {
    log_("cut " + Describe(seen));
    EndCall(call, "cut by the soak");
  }
  if (trigger.action) trigger.action(seen);
  if (!trigger.cut && !pass(bytes + before, length - before)) EndCall(call, "line write failed");
}

bool Relay::CheckTrigger(Call& call, Direction direction, const uint8_t*, size_t length, size_t& before) {
  if (!trigger_ || trigger_->direction != direction) return false;
  const int side = direction == Direction::CallerToCallee ? 0 : 1;
  const uint64_t done = (side == 0 ? call.view.forward : call.view.back) - call.triggerBase[side];
  if (done + length < trigger_->bytes) return false;
  before = trigger_->bytes > done ? size_t(trigger_->bytes - done) : 0;
  return true;
}

void Relay::EndCall(Call& call, const char* why) {
  if (call.ended) return;
  call.ended = true;
  for (int& fd : call.fd)
    if (fd >= 0) {
      shutdown(fd, SHUT_RDWR);
      close(fd);
      fd = -1;
    }
  log_("ended " + Describe(call.view) + ": " + why);
}

}  // namespace soak
