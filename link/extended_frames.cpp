// Frames and the offer of the extended protocol: building, reading back, and
// the block headers the receiver makes from the first one.
#include <zlib.h>

#include <cstddef>
#include <cstring>

#include "config/config.h"
#include "link/extended.h"
#include "link/internal.h"
#include "platform/unit.h"
#include "toolkit/text.h"

namespace {

uint32_t Crc(const void* bytes, int32_t length, uint32_t crc = 0) {
  return uint32_t(crc32(crc, static_cast<const Bytef*>(bytes), uInt(length)));
}

void PutLittle(char* at, uint32_t value, int32_t bytes) {
  for (int32_t i = 0; i < bytes; ++i) at[i] = char((value >> (8 * i)) & 0xff);
}

uint32_t GetLittle(const char* at, int32_t bytes) {
  uint32_t value = 0;
  for (int32_t i = bytes - 1; i >= 0; --i) value = (value << 8) | uint8_t(at[i]);
  return value;
}

// Offsets inside the offer and the frame head, as drawn in extended.h.
constexpr int32_t kOfferVersionAt = 4, kOfferCapsAt = 5, kOfferBlocksAt = 6, kOfferDigestAt = 10;
constexpr int32_t kTypeAt = 1, kMailAt = 2, kNumberAt = 3, kLengthAt = 7, kHeadCheckAt = 9;

void Drop(FrameReader& reader, int32_t n) {
  std::memmove(reader.bytes, reader.bytes + n, size_t(reader.count - n));
  reader.count -= n;
}

}  // namespace

int32_t BuildFrame(uint8_t type, uint8_t mail, uint32_t number, const void* payload, int32_t length, char* out) {
  if (length < 0 || length > kFrameMaxPayload) return 0;
  out[0] = char(kFrameSync);
  out[kTypeAt] = char(type);
  out[kMailAt] = char(mail);
  PutLittle(out + kNumberAt, number, 4);
  PutLittle(out + kLengthAt, uint32_t(length), 2);
  PutLittle(out + kHeadCheckAt, Crc(out, kHeadCheckAt) & 0xffff, 2);
  if (length > 0) std::memcpy(out + kFrameHeadBytes, payload, size_t(length));
  PutLittle(out + kFrameHeadBytes + length, Crc(out, kFrameHeadBytes + length), kFrameCheckBytes);
  return kFrameOverhead + length;
}

bool FrameReaderAdd(FrameReader& reader, const char* data, int32_t length) {
  if (length < 0 || length > int32_t(sizeof reader.bytes) - reader.count) {
    reader.count = 0;
    return false;
  }
  std::memcpy(reader.bytes + reader.count, data, size_t(length));
  reader.count += length;
  return true;
}

FrameRead FrameReaderTake(FrameReader& reader, Frame& frame) {
  for (;;) {
    // Look for a head whose own check holds; skip anything else byte by byte.
    int32_t start = 0;
    while (start < reader.count && uint8_t(reader.bytes[start]) != kFrameSync) ++start;
    Drop(reader, start);
    if (reader.count < kFrameHeadBytes) return FrameRead::None;
    const char* head = reader.bytes;
    const int32_t length = int32_t(GetLittle(head + kLengthAt, 2));
    if (GetLittle(head + kHeadCheckAt, 2) != (Crc(head, kHeadCheckAt) & 0xffff) || length > kFrameMaxPayload) {
      Drop(reader, 1);
      continue;
    }
    const int32_t whole = kFrameOverhead + length;
    if (reader.count < whole) return FrameRead::None;
    frame.type = uint8_t(head[kTypeAt]);
    frame.mail = uint8_t(head[kMailAt]);
    frame.number = GetLittle(head + kNumberAt, 4);
    frame.length = length;
    frame.payload = nullptr;
    const bool intact = GetLittle(head + kFrameHeadBytes + length, kFrameCheckBytes) == Crc(head, kFrameHeadBytes + length);
    if (!intact) {
      Drop(reader, whole);
      return FrameRead::Damaged;
    }
    std::memcpy(reader.payload, head + kFrameHeadBytes, size_t(length));
    Drop(reader, whole);
    frame.payload = reader.payload;
    return FrameRead::Frame;
  }
}

void WriteOffer(TransferAnnounce& announce, int32_t totalBlocks, const MailDigest& digest, const unsigned char* hello) {
  char* offer = reinterpret_cast<char*>(&announce) + kOfferOffset;
  std::memcpy(offer, kOfferMagic, sizeof kOfferMagic);
  offer[kOfferVersionAt] = char(kOfferVersion);
  offer[kOfferCapsAt] = char(kOwnCapabilities | (hello != nullptr ? kCapKeys : 0));
  PutLittle(offer + kOfferBlocksAt, uint32_t(totalBlocks), 4);
  std::memcpy(offer + kOfferDigestAt, digest.bytes, kDigestSize);
  if (hello != nullptr) std::memcpy(offer + kOfferHelloAt, hello, kHelloSize);
}

bool ReadOffer(const TransferAnnounce& announce, ExtendedOffer& offer) {
  const char* at = reinterpret_cast<const char*>(&announce) + kOfferOffset;
  if (std::memcmp(at, kOfferMagic, sizeof kOfferMagic) != 0 || uint8_t(at[kOfferVersionAt]) != kOfferVersion)
    return false;
  offer.capabilities = uint8_t(at[kOfferCapsAt]);
  const uint32_t blocks = GetLittle(at + kOfferBlocksAt, 4);
  offer.totalBlocks = blocks > uint32_t(kMaxMailBlocks) ? -1 : int32_t(blocks);
  std::memcpy(offer.digest.bytes, at + kOfferDigestAt, kDigestSize);
  std::memcpy(offer.hello, at + kOfferHelloAt, kHelloSize);
  return (offer.capabilities & kCapFrames) != 0;
}

int32_t SealFrame(SecureChannel& channel, uint8_t type, uint8_t mail, uint32_t number, const void* payload,
                  int32_t length, char* out) {
  if (channel.open != 1) return BuildFrame(type, mail, number, payload, length, out);
  // The head is built first so that its type, mail and number can be bound
  // to the sealed payload.
  char sealed[kFrameMaxPayload];
  BuildFrame(type, mail, number, nullptr, 0, out);
  const int32_t n = SecureSeal(channel, out + kTypeAt, kNumberAt + 4 - kTypeAt, payload, length, 0, sealed, sizeof sealed);
  return n < 0 ? 0 : BuildFrame(type, mail, number, sealed, n, out);
}

bool SendFrameOn(SecureChannel& channel, uint8_t type, uint8_t mail, uint32_t number, const void* payload,
                 int32_t length, char* scratch) {
  const int32_t n = SealFrame(channel, type, mail, number, payload, length, scratch);
  return n > 0 && SendToLine(scratch, n);
}

bool OpenFrameOn(SecureChannel& channel, Frame& frame, char* plain) {
  if (channel.open != 1) return true;
  char head[kFrameOverhead];  // an empty frame: its head and its check
  BuildFrame(frame.type, frame.mail, frame.number, nullptr, 0, head);
  const int32_t n = SecureOpen(channel, head + kTypeAt, kNumberAt + 4 - kTypeAt, frame.payload, frame.length, plain,
                               kFrameMaxPayload);
  if (n < 0) return false;
  frame.payload = plain;
  frame.length = n;
  return true;
}

void MakeBlockHeader(const char* firstHeader, int32_t k, char* header) {
  MailHeader plain;
  std::memcpy(&plain, firstHeader, kHeaderSize);
  vlData(-1, &plain, kHeaderSize);
  SetSlot(plain.blockNumber, pStr(k));
  vlData(1, &plain, kHeaderSize);
  std::memcpy(header, &plain, kHeaderSize);
}

namespace {

constexpr int32_t kTagAt = int32_t(offsetof(BlockPayload, tag));
constexpr int32_t kTagWidth = int32_t(sizeof(BlockPayload::tag));
constexpr int32_t kAfterTag = kTagAt + kTagWidth;

int32_t TrimmedLength(const char* bytes, int32_t length) {
  while (length > 0 && bytes[length - 1] == 0) --length;
  return length;
}

}  // namespace

int32_t PackPayload(const BlockPayload& payload, const char* tagBefore, char* out, uint8_t& type) {
  const char* bytes = reinterpret_cast<const char*>(&payload);
  if (tagBefore != nullptr && std::memcmp(bytes + kTagAt, tagBefore, kTagWidth) == 0) {
    type = kFrameSameTag;
    std::memcpy(out, bytes, kTagAt);
    std::memcpy(out + kTagAt, bytes + kAfterTag, kPayloadSize - kAfterTag);
    return TrimmedLength(out, kPayloadSize - kTagWidth);
  }
  type = kFrameData;
  std::memcpy(out, bytes, kPayloadSize);
  return TrimmedLength(out, kPayloadSize);
}

bool UnpackPayload(uint8_t type, const char* packed, int32_t length, const char* tagBefore, BlockPayload& payload) {
  char* bytes = reinterpret_cast<char*>(&payload);
  pClrMem(bytes, kPayloadSize);
  if (type == kFrameData && length >= 0 && length <= kPayloadSize) {
    std::memcpy(bytes, packed, size_t(length));
    return true;
  }
  if (type != kFrameSameTag || tagBefore == nullptr || length < 0 || length > kPayloadSize - kTagWidth) return false;
  char full[kPayloadSize - kTagWidth] = {};
  std::memcpy(full, packed, size_t(length));
  std::memcpy(bytes, full, kTagAt);
  std::memcpy(bytes + kTagAt, tagBefore, kTagWidth);
  std::memcpy(bytes + kAfterTag, full + kTagAt, kPayloadSize - kAfterTag);
  return true;
}

bool ExtendedEnabled() {
  const char* setting = Config().settings.Text(SettingsField::LineProtocol);
  return !(setting[0] == '0' && setting[1] == 0);
}
