// The transmit side of a line (see line_writer.h).
#include "commlib/line_writer.h"

#include "commlib/net.h"

#include <algorithm>

namespace comm {
uint64_t FaultRandom::next() {
  uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

void LineWriter::clear() {
  messages_.clear();
  waiting_ = 0;
  sentInCall_ = 0;
  dropAt_ = 0;
  pieceSent_ = 0;
  nextPieceUs_ = 0;
  lineFreeUs_ = 0;
  admitted_ = 0;
  sliceDueUs_ = 0;
  sliceLength_ = 0;
}

void LineWriter::startCall() {
  clear();
  dropAt_ = shape_.dropAfter;
  if (shape_.dropRandom > 0 && shape_.random) {
    uint64_t drawn = 1u + uint64_t(shape_.random->below(shape_.dropRandom));
    if (dropAt_ == 0 || drawn < dropAt_) dropAt_ = drawn;
  }
}

void LineWriter::corrupt(std::vector<uint8_t>& bytes) {
  if (shape_.corruptOneIn == 0 || !shape_.random) return;
  for (uint8_t& b : bytes)
    if (shape_.random->below(shape_.corruptOneIn) == 0) b ^= uint8_t(1 + shape_.random->below(255));
}

bool LineWriter::queue(const uint8_t* bytes, size_t length, uint64_t nowUs) {
  if (length == 0) return true;
  if (waiting_ + length > shape_.capacity) return false;
  Message m;
  m.bytes.assign(bytes, bytes + length);
  corrupt(m.bytes);
  m.notBeforeUs = nowUs + uint64_t(shape_.delayMs) * 1000u;
  messages_.push_back(std::move(m));
  waiting_ += length;
  return true;
}

// On a paced line, lets the next slice of the head message through once the
// line would have carried it. Returns false with wakeUs while it is not due.
bool LineWriter::admitSlice(uint64_t nowUs, uint64_t& wakeUs) {
  if (shape_.pacedBaud <= 0) {
    admitted_ = SIZE_MAX;
    return true;
  }
  if (admitted_ > 0) return true;
  const Message& head = messages_.front();
  if (sliceDueUs_ == 0) {
    sliceLength_ = std::min(kPaceSlice, head.bytes.size() - head.offset);
    uint64_t start = std::max(lineFreeUs_, nowUs);
    // 10 bit times per byte (start, 8 data, stop).
    sliceDueUs_ = start + uint64_t(sliceLength_) * 10'000'000u / uint64_t(shape_.pacedBaud);
  }
  if (nowUs < sliceDueUs_) {
    wakeUs = sliceDueUs_;
    return false;
  }
  lineFreeUs_ = sliceDueUs_;
  sliceDueUs_ = 0;
  admitted_ = sliceLength_;
  return true;
}

// On a split line every piece, also the last one of a message, is followed
// by the gap, so the peer meets each piece on its own.
void LineWriter::endPiece(bool messageDone, size_t written, uint64_t nowUs) {
  if (shape_.split == 0) return;
  pieceSent_ += written;
  if (pieceSent_ < shape_.split && !messageDone) return;
  pieceSent_ = 0;
  nextPieceUs_ = nowUs + uint64_t(shape_.splitGapMs) * 1000u;
}

LineWriter::Step LineWriter::drain(int fd, uint64_t nowUs, uint64_t& wakeUs) {
  return drain([fd](const uint8_t* bytes, size_t length) { return net::WriteSome(fd, bytes, length); }, nowUs, wakeUs);
}

LineWriter::Step LineWriter::drain(const WriteSome& write, uint64_t nowUs, uint64_t& wakeUs) {
  while (!messages_.empty()) {
    Message& head = messages_.front();
    if (nowUs < head.notBeforeUs) {
      wakeUs = head.notBeforeUs;
      return Step::WaitUntil;
    }
    if (shape_.split > 0 && nowUs < nextPieceUs_) {
      wakeUs = nextPieceUs_;
      return Step::WaitUntil;
    }
    if (!admitSlice(nowUs, wakeUs)) return Step::WaitUntil;
    size_t length = std::min(admitted_, head.bytes.size() - head.offset);
    if (shape_.split > 0) length = std::min(length, size_t(shape_.split) - pieceSent_);
    if (dropAt_ > 0) {
      if (sentInCall_ >= dropAt_) return Step::Dropped;
      length = size_t(std::min<uint64_t>(length, dropAt_ - sentInCall_));
    }
    long n = write(head.bytes.data() + head.offset, length);
    if (n == net::kWouldBlock) return Step::WaitWritable;
    if (n < 0) return Step::Failed;
    head.offset += size_t(n);
    waiting_ -= size_t(n);
    sentInCall_ += uint64_t(n);
    if (admitted_ != SIZE_MAX) admitted_ -= size_t(n);
    endPiece(head.offset == head.bytes.size(), size_t(n), nowUs);
    if (head.offset == head.bytes.size()) {
      messages_.pop_front();
      if (admitted_ != SIZE_MAX) admitted_ = 0;
    }
    if (dropAt_ > 0 && sentInCall_ >= dropAt_) return Step::Dropped;
    if (size_t(n) < length) return Step::WaitWritable;
  }
  if (shape_.pacedBaud <= 0) admitted_ = 0;
  return Step::Idle;
}

}  // namespace comm
