// commlib/line_writer.h -- the transmit side of a line.
//
// pRS232IO hands over whole messages (4, 5, 512, 4096 bytes) and must never
// block the interface thread, so messages wait here and leave as fast as the
// descriptor takes them. A paced line also keeps the time a real line would
// need: 8N1 carries baud/10 bytes per second. A message leaves in slices of
// at most kPaceSlice bytes, each written when the line would have finished
// sending it; a message of up to kPaceSlice bytes is therefore never split,
// and the peer receives it in one piece. Fault injection: the line may be
// told to give up after N bytes of a call, or to hold every message back by
// a fixed delay.
#pragma once
#include <stdint.h>
#include <sys/types.h>

#include <deque>
#include <vector>

namespace comm {

constexpr size_t kPaceSlice = 512;

struct LineShape {
  int pacedBaud = 0;       // 0: as fast as the descriptor takes it
  uint32_t delayMs = 0;    // every message leaves this much later
  uint32_t dropAfter = 0;  // give up after this many bytes of a call (0: never)
  size_t capacity = 8192;  // bytes that may wait
};

class LineWriter {
 public:
  enum class Step {
    Idle,          // nothing waits
    WaitWritable,  // the descriptor is full: watch for POLLOUT
    WaitUntil,     // the next bytes are due at wakeUs
    Dropped,       // dropAfter reached: the call is to be dropped
    Failed         // the descriptor failed: the peer is gone
  };

  void configure(const LineShape& shape) { shape_ = shape; }
  // A new call: nothing waiting, byte count and line clock from zero.
  void startCall();
  // Takes the whole message or nothing (when it would not fit).
  bool queue(const uint8_t* bytes, size_t length, uint64_t nowUs);
  // Writes what is due now; tells what to wait for next.
  Step drain(int fd, uint64_t nowUs, uint64_t& wakeUs);
  bool empty() const { return messages_.empty(); }
  size_t waiting() const { return waiting_; }
  uint64_t sentInCall() const { return sentInCall_; }

 private:
  struct Message {
    std::vector<uint8_t> bytes;
    size_t offset = 0;
    uint64_t notBeforeUs = 0;
  };
  bool admitSlice(uint64_t nowUs, uint64_t& wakeUs);

  LineShape shape_;
  std::deque<Message> messages_;
  size_t waiting_ = 0;
  uint64_t sentInCall_ = 0;
  uint64_t lineFreeUs_ = 0;   // when the paced line finishes what it has taken
  size_t admitted_ = 0;       // bytes at the head that may be written now
  uint64_t sliceDueUs_ = 0;   // the slice being timed (0: none)
  size_t sliceLength_ = 0;
};

}  // namespace comm
