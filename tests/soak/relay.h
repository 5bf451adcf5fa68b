// The telephone exchange between the two machines of the soak: each machine's
// phone book reaches the other through this relay, a TCP forwarder of our own
// on loopback, so that the soak can cut a call at any byte and see which mail
// was on the line when it did.
//
//   machine A's modem --dials 402--> [exchange to B] --> B's modem (listening)
//   machine B's modem --dials 401--> [exchange to A] --> A's modem (listening)
//
// A cut closes both ends of a call: each modem sees its carrier drop, exactly
// as when the other machine hangs up. The relay reads the protocol as it
// passes (announce, blocks, "[OK]", "[END]") only to name what was in flight.
//
// A trigger waits for the next call (or the one in progress) to carry a given
// number of bytes in one direction, counted from the moment the trigger was
// armed or the call began, whichever is later; it then runs its action in the
// relay's thread before one more byte of that direction is forwarded.
#pragma once
#include <stdint.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace soak {

// Which way the bytes go within a call.
enum class Direction { CallerToCallee, CalleeToCaller };

// What the protocol stream of one call showed so far.
struct LineReading {
  std::string mailName;      // announced name (without its "[=]"), empty before the first announce
  int32_t block = 0;         // blocks of that mail fully forwarded
  int32_t totalBlocks = 0;   // its totalBlocks, once a block was seen
  int32_t pendingBytes = 0;  // bytes of the message in progress
  int32_t oks = 0;           // "[OK]" answers forwarded
  bool ended = false;        // "[END]" forwarded
};

// One call as the trigger's action and the log see it.
struct CallView {
  int number = 0;            // 1, 2, ... in the order calls arrived
  char caller = '?';         // 'A' or 'B'
  char callee = '?';
  uint64_t forward = 0;      // caller to callee bytes so far
  uint64_t back = 0;         // callee to caller bytes so far
  LineReading reading;
};

struct Trigger {
  Direction direction = Direction::CallerToCallee;
  uint64_t bytes = 1;                              // fires when this many have passed
  bool cut = true;                                 // close the call at that byte
  std::function<void(const CallView&)> action;     // then this, in the relay's thread
};

class Relay {
 public:
  using Log = std::function<void(const std::string&)>;
  explicit Relay(Log log);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // Listens on two free loopback ports: calls made by A to port ToB() go to
  // B's modem on targetB, and the other way round.
  bool Start(uint16_t targetA, uint16_t targetB);
  void Stop();
  uint16_t ToA() const { return portToA_; }
  uint16_t ToB() const { return portToB_; }

  void Arm(Trigger trigger);
  bool Armed();
  void Disarm();
  int CallsUp();
  // A text naming the calls in progress and what they carry.
  std::string DescribeCalls();

  // Names a mail from its encoded name, for the log (empty: unknown).
  void SetNamer(std::function<std::string(const std::string&)> namer);
  std::string Describe(const CallView& call);

 private:
  struct Call;
  void Run();
  void Accept(int listener, char caller, char callee, uint16_t target);
  void Pump(Call& call, Direction direction);
  void Forward(Call& call, Direction direction, const uint8_t* bytes, size_t length);
  bool CheckTrigger(Call& call, Direction direction, const uint8_t* bytes, size_t length, size_t& before);
  void EndCall(Call& call, const char* why);

  Log log_;
  std::mutex mutex_;
  std::function<std::string(const std::string&)> namer_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  int wake_[2] = {-1, -1};
  int listenToA_ = -1, listenToB_ = -1;
  uint16_t portToA_ = 0, portToB_ = 0, targetA_ = 0, targetB_ = 0;
  std::vector<Call*> calls_;
  std::optional<Trigger> trigger_;
  int nextCall_ = 1;
};

}  // namespace soak
