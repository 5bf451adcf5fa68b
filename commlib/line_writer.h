// commlib/line_writer.h -- the transmit side of a line.
//
// pRS232IO hands over whole messages (4, 5, 512, 4096 bytes) and must never
// block the interface thread, so messages wait here and leave as fast as the
// descriptor takes them. A paced line also keeps the time a real line would
// need: 8N1 carries baud/10 bytes per second. A message leaves in slices of
// at most kPaceSlice bytes, each written when the line would have finished
// sending it; a message of up to kPaceSlice bytes is therefore never split,
// and the peer receives it in one piece.
//
// Faults (settings.h) are made here, on the way out, so they hit exactly the
// bytes the program wrote: a message is corrupted as it is queued, split into
// pieces and held back as it drains, and the call is given up once its drop
// point has left. The drop point is fixed when a call starts.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <functional>
#include <vector>

namespace comm {

constexpr size_t kPaceSlice = 512;

// The seeded draws of the faults (splitmix64): small, and the same on every
// machine, so a seed names one run of faults.
class FaultRandom {
 public:
  void seed(uint64_t value) { state_ = value; }
  uint64_t next();
  // 0 .. n-1, n > 0.
  uint32_t below(uint32_t n) { return uint32_t(next() % n); }

 private:
  uint64_t state_ = 0;
};

struct LineShape {
  int pacedBaud = 0;          // 0: as fast as the descriptor takes it
  uint32_t delayMs = 0;       // every message leaves this much later
  uint32_t dropAfter = 0;     // give up after this many bytes of a call (0: never)
  uint32_t dropRandom = 0;    // give up after 1..dropRandom bytes, drawn per call
  uint32_t corruptOneIn = 0;  // change each byte with chance 1/corruptOneIn
  uint32_t split = 0;         // leave in pieces of at most this many bytes
  uint32_t splitGapMs = 0;    // pause after every piece
  FaultRandom* random = nullptr;  // needed by dropRandom and corruptOneIn
  size_t capacity = 8192;     // bytes that may wait
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
  // A new call: nothing waiting, byte count and line clock from zero, and
  // the call's drop point drawn.
  void startCall();
  // The call is over: nothing waits any more.
  void clear();
  // Takes the whole message or nothing (when it would not fit).
  bool queue(const uint8_t* bytes, size_t length, uint64_t nowUs);
  // Writes what is due now through write (bytes taken, or net::kWouldBlock
  // or net::kFailed; commlib/net.h); tells what to wait for next.
  using WriteSome = std::function<long(const uint8_t* bytes, size_t length)>;
  Step drain(const WriteSome& write, uint64_t nowUs, uint64_t& wakeUs);
  // The same on a socket (or, on POSIX, any descriptor).
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
  void corrupt(std::vector<uint8_t>& bytes);
  void endPiece(bool messageDone, size_t written, uint64_t nowUs);

  LineShape shape_;
  std::deque<Message> messages_;
  size_t waiting_ = 0;
  uint64_t sentInCall_ = 0;
  uint64_t dropAt_ = 0;       // bytes of this call after which it drops (0: never)
  size_t pieceSent_ = 0;      // split: bytes of the current piece written
  uint64_t nextPieceUs_ = 0;  // split: the next piece waits until then
  uint64_t lineFreeUs_ = 0;   // when the paced line finishes what it has taken
  size_t admitted_ = 0;       // bytes at the head that may be written now
  uint64_t sliceDueUs_ = 0;   // the slice being timed (0: none)
  size_t sliceLength_ = 0;
};

}  // namespace comm
