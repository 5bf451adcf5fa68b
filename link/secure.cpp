// Machine keys, the handshake and the encrypted channel (layouts and rules in
// link/secure.h).
#include "link/secure.h"

#include <sodium.h>

#include <cstring>
#include <vector>

#include "toolkit/files.h"

static_assert(crypto_sign_PUBLICKEYBYTES == kPublicKeySize);
static_assert(crypto_sign_SECRETKEYBYTES == sizeof(MachineKey::secretKey));
static_assert(crypto_sign_SEEDBYTES == 32 && crypto_sign_BYTES == 64);
static_assert(crypto_kx_PUBLICKEYBYTES == 32 && crypto_kx_SECRETKEYBYTES == 32 && crypto_kx_SESSIONKEYBYTES == 32);
static_assert(crypto_kdf_KEYBYTES == 32 && crypto_kdf_CONTEXTBYTES == 8);
static_assert(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES == 24);
static_assert(crypto_aead_xchacha20poly1305_ietf_ABYTES + 8 == kSealOverhead);
constexpr uint64_t kLastFrame = uint64_t(1) << 63;
static_assert(crypto_aead_xchacha20poly1305_ietf_KEYBYTES == 32 && crypto_aead_xchacha20poly1305_ietf_ABYTES == 16);
static_assert(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES == 24);

namespace {

constexpr int32_t kMarkerSize = 4;
constexpr int32_t kCallKeySize = 32;
constexpr int32_t kSignatureSize = 64;
constexpr int32_t kNonceBaseSize = 24;
constexpr int32_t kProofSize = kSignatureSize + kNonceBaseSize;  // signature, nonce base of its frames
constexpr int32_t kTagSize = 16;
constexpr int32_t kSealedProofSize = kProofSize + kTagSize;
constexpr int32_t kTranscriptSize = 32;
constexpr int32_t kLabelSize = 16;

namespace HelloAt {
constexpr int32_t callerId = 4, dialledId = 28, callKey = 52;
}
namespace ReplyAt {
constexpr int32_t callKey = 4, sealed = 36;
}
namespace ConfirmAt {
constexpr int32_t sealed = 4;
}
namespace KeyFileAt {
constexpr int32_t seed = 16, publicKey = 48;
}
static_assert(HelloAt::callKey + kCallKeySize == kHelloSize);
static_assert(ReplyAt::sealed + kSealedProofSize == kReplySize);
static_assert(ConfirmAt::sealed + kSealedProofSize == kConfirmSize);
static_assert(KeyFileAt::publicKey + kPublicKeySize == kMachineKeyFileSize);

constexpr unsigned char kHelloMarker[kMarkerSize] = {'V', 'L', 'H', '1'};
constexpr unsigned char kReplyMarker[kMarkerSize] = {'V', 'L', 'R', '1'};
constexpr unsigned char kConfirmMarker[kMarkerSize] = {'V', 'L', 'C', '1'};
// What each side signs starts with its role, so that a signature made as
// callee can never pass for one made as caller.
constexpr char kCalleeLabel[kLabelSize] = "velloran callee";
constexpr char kCallerLabel[kLabelSize] = "velloran caller";
constexpr char kKdfContext[] = "VLsecure";
constexpr uint64_t kHandshakeSubkey = 1;
constexpr uint64_t kStreamSubkey = 2;

// The library picks its code and opens its random source once; without it
// no key can be made.
bool Ready() {
  static const int ready = sodium_init();
  return ready >= 0;
}


bool IsIdCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// A machine id slot as this system writes it: an id, then zeros to the end.
bool IdSlotSound(const unsigned char* slot) {
  const char* text = reinterpret_cast<const char*>(slot);
  const int32_t length = int32_t(strnlen(text, kMachineIdSlot));
  if (!IsMachineId(text, length)) return false;
  for (int32_t i = length; i < kMachineIdSlot; ++i)
    if (slot[i] != 0) return false;
  return true;
}

void SetIdSlot(char (&slot)[kMachineIdSlot], const char* id, int32_t length) {
  std::memset(slot, 0, kMachineIdSlot);
  std::memcpy(slot, id, size_t(length));
}

// t = H(t, part): every byte of the handshake so far, in order.
void Absorb(SecureHandshake& hs, const unsigned char* part, int32_t length) {
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, kTranscriptSize);
  crypto_generichash_update(&state, hs.transcript, kTranscriptSize);
  crypto_generichash_update(&state, part, size_t(length));
  crypto_generichash_final(&state, hs.transcript, kTranscriptSize);
}

void SignedText(const SecureHandshake& hs, const char (&label)[kLabelSize], unsigned char (&text)[kLabelSize + kTranscriptSize]) {
  std::memcpy(text, label, kLabelSize);
  std::memcpy(text + kLabelSize, hs.transcript, kTranscriptSize);
}

// crypto_kx: the caller is its client, the callee its server.
bool DeriveSessionKeys(SecureHandshake& hs, const unsigned char* peerCallKey) {
  if (hs.role == kSecureCaller)
    return crypto_kx_client_session_keys(hs.downKey, hs.upKey, hs.callPublic, hs.callSecret, peerCallKey) == 0;
  return crypto_kx_server_session_keys(hs.upKey, hs.downKey, hs.callPublic, hs.callSecret, peerCallKey) == 0;
}

void Subkey(const unsigned char* sessionKey, uint64_t which, unsigned char (&out)[32]) {
  crypto_kdf_derive_from_key(out, sizeof out, which, kKdfContext, sessionKey);
}

// This side's proof: its signature of the transcript and the nonce base of the
// frames it will send, sealed under its direction's handshake key.
void SealProof(SecureHandshake& hs, const MachineKey& own, const char (&label)[kLabelSize], const unsigned char* sessionKey,
               unsigned char* out) {
  unsigned char text[kLabelSize + kTranscriptSize], proof[kProofSize], key[32];
  SignedText(hs, label, text);
  crypto_sign_detached(proof, nullptr, text, sizeof text, own.secretKey);
  Subkey(sessionKey, kStreamSubkey, hs.channel.sendKey);
  randombytes_buf(proof + kSignatureSize, kNonceBaseSize);
  std::memcpy(hs.channel.sendNonce, proof + kSignatureSize, kNonceBaseSize);
  Subkey(sessionKey, kHandshakeSubkey, key);
  const unsigned char nonce[crypto_aead_xchacha20poly1305_ietf_NPUBBYTES] = {};
  crypto_aead_xchacha20poly1305_ietf_encrypt(out, nullptr, proof, kProofSize, hs.transcript, kTranscriptSize, nullptr,
                                             nonce, key);
  sodium_memzero(key, sizeof key);
  sodium_memzero(proof, sizeof proof);
}

// The other side's proof: a seal that does not open is damage (or a message
// of another call); a signature that does not verify is another key.
int32_t OpenProof(SecureHandshake& hs, const char (&label)[kLabelSize], const unsigned char* sessionKey,
                  const unsigned char* sealed) {
  unsigned char text[kLabelSize + kTranscriptSize], proof[kProofSize], key[32];
  const unsigned char nonce[crypto_aead_xchacha20poly1305_ietf_NPUBBYTES] = {};
  Subkey(sessionKey, kHandshakeSubkey, key);
  int32_t result = 0;
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(proof, nullptr, nullptr, sealed, kSealedProofSize, hs.transcript,
                                                 kTranscriptSize, nonce, key) != 0) {
    result = kSecureDamaged;
  } else {
    SignedText(hs, label, text);
    if (crypto_sign_verify_detached(proof, text, sizeof text, hs.peerKey.bytes) != 0) {
      result = kSecureWrongKey;
    } else {
      Subkey(sessionKey, kStreamSubkey, hs.channel.receiveKey);
      std::memcpy(hs.channel.receiveNonce, proof + kSignatureSize, kNonceBaseSize);
    }
  }
  sodium_memzero(key, sizeof key);
  sodium_memzero(proof, sizeof proof);
  return result;
}

// The ids and the peer's key stay for the status line; nothing secret does.
void WipeSecrets(SecureHandshake& hs) {
  sodium_memzero(hs.callSecret, sizeof hs.callSecret);
  sodium_memzero(hs.transcript, sizeof hs.transcript);
  sodium_memzero(hs.upKey, sizeof hs.upKey);
  sodium_memzero(hs.downKey, sizeof hs.downKey);
  sodium_memzero(&hs.channel, sizeof hs.channel);
}

int32_t Refuse(SecureHandshake& hs, int32_t refusal) {
  WipeSecrets(hs);
  hs.step = kSecureStepRefused;
  return refusal;
}

// The handshake is over: the channel it built goes to the caller of the API.
void Finish(SecureHandshake& hs, SecureChannel& channel) {
  channel = hs.channel;
  channel.open = 1;
  channel.sentLast = 0;
  channel.peerEnded = 0;
  WipeSecrets(hs);
  hs.step = kSecureStepDone;
}

void StartCall(SecureHandshake& hs, int32_t role, const PublicKey& peerKey) {
  hs.role = role;
  hs.peerKey = peerKey;
  crypto_kx_keypair(hs.callPublic, hs.callSecret);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int32_t SkipBlanks(const char* line, int32_t length, int32_t at) {
  while (at < length && IsBlank(line[at])) ++at;
  return at;
}

int32_t WordEnd(const char* line, int32_t length, int32_t at) {
  while (at < length && !IsBlank(line[at])) ++at;
  return at;
}

// Takes one line of KNOWN.TXT; the reason it is refused, or null.
const char* TakeKnownLine(const char* line, int32_t length, KnownMachines& known) {
  if (length > 0 && line[length - 1] == '\r') --length;
  if (length <= 0) return nullptr;
  if (std::memchr(line, 0, size_t(length)) != nullptr) return "not a line of text";
  const int32_t idStart = SkipBlanks(line, length, 0);
  if (idStart == length || line[idStart] == '#') return nullptr;
  const int32_t idEnd = WordEnd(line, length, idStart);
  const int32_t keyStart = SkipBlanks(line, length, idEnd);
  const int32_t keyEnd = WordEnd(line, length, keyStart);
  if (keyStart == keyEnd || SkipBlanks(line, length, keyEnd) != length) return "a line holds a machine id and a key";
  if (!IsMachineId(line + idStart, idEnd - idStart)) return "a machine id is 1 to 22 of a-z 0-9";
  KnownMachine machine;
  const char* reason = nullptr;
  if (!PublicKeyFromHex(line + keyStart, keyEnd - keyStart, machine.key, &reason)) return reason;
  SetIdSlot(machine.id, line + idStart, idEnd - idStart);
  if (FindKnownMachine(known, machine.id) != nullptr) return "machine listed twice";
  if (known.count == kKnownCapacity) return "more than 256 machines";
  known.machines[known.count++] = machine;
  return nullptr;
}

int32_t RefuseKnown(KnownMachines& known, KnownProblem& problem, int32_t line, const char* reason) {
  known.count = 0;
  problem = {line, reason};
  return 0;
}

}  // namespace

// --- keys and the list of known machines ---------------------------------------------

int32_t MakeMachineKey(MachineKey& key) {
  if (!Ready()) return 0;
  crypto_sign_keypair(key.publicKey.bytes, key.secretKey);
  return 1;
}

void MachineKeyRecord(const MachineKey& key, unsigned char (&record)[kMachineKeyFileSize]) {
  std::memset(record, 0, sizeof record);
  std::memcpy(record, kMachineKeyMarker, std::strlen(kMachineKeyMarker));
  crypto_sign_ed25519_sk_to_seed(record + KeyFileAt::seed, key.secretKey);
  std::memcpy(record + KeyFileAt::publicKey, key.publicKey.bytes, kPublicKeySize);
}

int32_t LoadMachineKey(const char* path, MachineKey& key) {
  std::memset(&key, 0, sizeof key);
  // One byte more than the file may hold, so that a longer file shows.
  unsigned char record[kMachineKeyFileSize + 1] = {};
  const int32_t got = pFileIO(-1, path, 1, record, sizeof record);
  if (got == 0 && pFileSize(path) == -1) return kKeyMissing;
  unsigned char marker[KeyFileAt::seed] = {};
  std::memcpy(marker, kMachineKeyMarker, std::strlen(kMachineKeyMarker));
  bool sound = got == kMachineKeyFileSize && Ready() && std::memcmp(record, marker, sizeof marker) == 0;
  if (sound) {
    crypto_sign_seed_keypair(key.publicKey.bytes, key.secretKey, record + KeyFileAt::seed);
    sound = sodium_memcmp(key.publicKey.bytes, record + KeyFileAt::publicKey, kPublicKeySize) == 0;
  }
  sodium_memzero(record, sizeof record);
  if (sound) return kKeyRead;
  sodium_memzero(&key, sizeof key);
  return kKeyDamaged;
}

void PublicKeyHex(const PublicKey& key, char (&hex)[kKeyHexSize + 1]) {
  sodium_bin2hex(hex, sizeof hex, key.bytes, kPublicKeySize);
}

int32_t PublicKeyFromHex(const char* text, int32_t length, PublicKey& key, const char** reason) {
  size_t bytes = 0;
  const char* end = nullptr;
  std::memset(&key, 0, sizeof key);
  if (text == nullptr || length != kKeyHexSize ||
      sodium_hex2bin(key.bytes, kPublicKeySize, text, size_t(length), nullptr, &bytes, &end) != 0 ||
      bytes != size_t(kPublicKeySize) || end != text + length) {
    if (reason) *reason = "a key is 64 hex digits";
    return 0;
  }
  // Points of small order or off the curve would let anyone's signature pass
  // or none; such a "key" was never made by a key pair.
  if (crypto_core_ed25519_is_valid_point(key.bytes) != 1) {
    if (reason) *reason = "not a public key";
    return 0;
  }
  return 1;
}

int32_t IsMachineId(const char* text, int32_t length) {
  if (text == nullptr || length < 1 || length > kMachineIdLimit) return 0;
  for (int32_t i = 0; i < length; ++i)
    if (!IsIdCharacter(text[i])) return 0;
  return 1;
}

int32_t ParseKnownMachines(const char* text, int32_t length, KnownMachines& known, KnownProblem& problem) {
  known.count = 0;
  problem = {0, ""};
  int32_t line = 0;
  for (int32_t at = 0; at < length;) {
    const char* newline = static_cast<const char*>(std::memchr(text + at, '\n', size_t(length - at)));
    const int32_t end = newline ? int32_t(newline - text) : length;
    ++line;
    if (const char* reason = TakeKnownLine(text + at, end - at, known)) return RefuseKnown(known, problem, line, reason);
    at = end + 1;
  }
  return 1;
}

int32_t LoadKnownMachines(const char* path, KnownMachines& known, KnownProblem& problem) {
  known.count = 0;
  problem = {0, ""};
  std::vector<char> text(kKnownFileLimit + 1, 0);
  const int32_t got = pFileIO(-1, path, 1, text.data(), int32_t(text.size()));
  if (got == 0 && pFileSize(path) == -1) return kKnownNone;
  if (got > kKnownFileLimit) return RefuseKnown(known, problem, 0, "larger than 64 KiB"), kKnownRefused;
  if (got == 0 && pFileSize(path) > 0) return RefuseKnown(known, problem, 0, "cannot be read"), kKnownRefused;
  return ParseKnownMachines(text.data(), got, known, problem) ? kKnownRead : kKnownRefused;
}

const PublicKey* FindKnownMachine(const KnownMachines& known, const char* id) {
  if (id == nullptr || !IsMachineId(id, int32_t(strnlen(id, kMachineIdSlot)))) return nullptr;
  for (int32_t i = 0; i < known.count; ++i)
    if (std::strncmp(known.machines[i].id, id, kMachineIdSlot) == 0) return &known.machines[i].key;
  return nullptr;
}

int32_t AcceptsPlainCallers(const ConfigRecord& settings) {
  const char* policy = settings.Text(SettingsField::PlainCallers);
  return policy[0] == '0' && policy[1] == 0 ? 0 : 1;
}

// --- handshake ---------------------------------------------------------------------------

int32_t SecureHello(SecureHandshake& hs, const char* ownId, const KnownMachines& known, const char* dialledId,
                    unsigned char (&hello)[kHelloSize]) {
  if (hs.role != 0 || hs.step != kSecureStepNone) return Refuse(hs, kSecureOutOfStep);
  const int32_t ownLength = ownId ? int32_t(strnlen(ownId, kMachineIdSlot)) : 0;
  if (!Ready() || !IsMachineId(ownId, ownLength)) return Refuse(hs, kSecureNoKey);
  const PublicKey* peer = FindKnownMachine(known, dialledId);
  if (peer == nullptr) return Refuse(hs, kSecureUnknownMachine);
  StartCall(hs, kSecureCaller, *peer);
  SetIdSlot(hs.callerId, ownId, ownLength);
  SetIdSlot(hs.dialledId, dialledId, int32_t(std::strlen(dialledId)));
  std::memcpy(hello, kHelloMarker, kMarkerSize);
  std::memcpy(hello + HelloAt::callerId, hs.callerId, kMachineIdSlot);
  std::memcpy(hello + HelloAt::dialledId, hs.dialledId, kMachineIdSlot);
  std::memcpy(hello + HelloAt::callKey, hs.callPublic, kCallKeySize);
  Absorb(hs, hello, kHelloSize);
  hs.step = kSecureStepWaiting;
  return kHelloSize;
}

int32_t SecureReply(SecureHandshake& hs, const MachineKey& own, const KnownMachines& known, const unsigned char* hello,
                    int32_t length, unsigned char (&reply)[kReplySize]) {
  if (hs.role != 0 || hs.step != kSecureStepNone) return Refuse(hs, kSecureOutOfStep);
  if (!Ready()) return Refuse(hs, kSecureNoKey);
  if (hello == nullptr || length != kHelloSize || std::memcmp(hello, kHelloMarker, kMarkerSize) != 0 ||
      !IdSlotSound(hello + HelloAt::callerId) || !IdSlotSound(hello + HelloAt::dialledId))
    return Refuse(hs, kSecureDamaged);
  std::memcpy(hs.callerId, hello + HelloAt::callerId, kMachineIdSlot);
  std::memcpy(hs.dialledId, hello + HelloAt::dialledId, kMachineIdSlot);
  const PublicKey* peer = FindKnownMachine(known, hs.callerId);
  if (peer == nullptr) return Refuse(hs, kSecureUnknownMachine);
  StartCall(hs, kSecureCallee, *peer);
  Absorb(hs, hello, kHelloSize);
  if (!DeriveSessionKeys(hs, hello + HelloAt::callKey)) return Refuse(hs, kSecureDamaged);
  std::memcpy(reply, kReplyMarker, kMarkerSize);
  std::memcpy(reply + ReplyAt::callKey, hs.callPublic, kCallKeySize);
  Absorb(hs, reply, ReplyAt::sealed);
  SealProof(hs, own, kCalleeLabel, hs.downKey, reply + ReplyAt::sealed);
  Absorb(hs, reply + ReplyAt::sealed, kSealedProofSize);
  sodium_memzero(hs.callSecret, sizeof hs.callSecret);
  hs.step = kSecureStepWaiting;
  return kReplySize;
}

int32_t SecureConfirm(SecureHandshake& hs, const MachineKey& own, const unsigned char* reply, int32_t length,
                      unsigned char (&confirm)[kConfirmSize], SecureChannel& channel) {
  SecureClose(channel);
  if (hs.role != kSecureCaller || hs.step != kSecureStepWaiting) return Refuse(hs, kSecureOutOfStep);
  if (reply == nullptr || length != kReplySize || std::memcmp(reply, kReplyMarker, kMarkerSize) != 0)
    return Refuse(hs, kSecureDamaged);
  Absorb(hs, reply, ReplyAt::sealed);
  if (!DeriveSessionKeys(hs, reply + ReplyAt::callKey)) return Refuse(hs, kSecureDamaged);
  if (const int32_t refused = OpenProof(hs, kCalleeLabel, hs.downKey, reply + ReplyAt::sealed)) return Refuse(hs, refused);
  Absorb(hs, reply + ReplyAt::sealed, kSealedProofSize);
  std::memcpy(confirm, kConfirmMarker, kMarkerSize);
  SealProof(hs, own, kCallerLabel, hs.upKey, confirm + ConfirmAt::sealed);
  Finish(hs, channel);
  return kConfirmSize;
}

int32_t SecureAccept(SecureHandshake& hs, const unsigned char* confirm, int32_t length, SecureChannel& channel) {
  SecureClose(channel);
  if (hs.role != kSecureCallee || hs.step != kSecureStepWaiting) return Refuse(hs, kSecureOutOfStep);
  if (confirm == nullptr || length != kConfirmSize || std::memcmp(confirm, kConfirmMarker, kMarkerSize) != 0)
    return Refuse(hs, kSecureDamaged);
  if (const int32_t refused = OpenProof(hs, kCallerLabel, hs.upKey, confirm + ConfirmAt::sealed))
    return Refuse(hs, refused);
  Finish(hs, channel);
  return 0;
}

void SecureForget(SecureHandshake& hs) { sodium_memzero(&hs, sizeof hs); }

const char* SecureRefusalText(int32_t result) {
  switch (result) {
    case kSecureUnknownMachine: return "unknown machine";
    case kSecureWrongKey: return "wrong key";
    case kSecureDamaged: return "damaged";
    case kSecureNoKey: return "no machine key";
    case kSecureOutOfStep: return "out of step";
    default: return "";
  }
}

// --- channel -----------------------------------------------------------------------------

namespace {

// The nonce of frame counter n: the direction's base with n in its first bytes.
void FrameNonce(const unsigned char* base, uint64_t counter, unsigned char (&nonce)[24]) {
  std::memcpy(nonce, base, sizeof nonce);
  for (int32_t i = 0; i < 8; ++i) nonce[i] ^= static_cast<unsigned char>(counter >> (8 * i));
}

// What the tag covers besides the bytes: the counter, then the caller's data.
bool FrameAd(const unsigned char* counter, const void* extra, int32_t extraLength, unsigned char (&ad)[64],
             int32_t& adLength) {
  if (extraLength < 0 || extraLength > int32_t(sizeof ad) - 8 || (extra == nullptr && extraLength > 0)) return false;
  std::memcpy(ad, counter, 8);
  if (extraLength > 0) std::memcpy(ad + 8, extra, size_t(extraLength));
  adLength = 8 + extraLength;
  return true;
}

}  // namespace

int32_t SecureSeal(SecureChannel& channel, const void* extra, int32_t extraLength, const void* plain, int32_t length,
                   int32_t last, void* cipher, int32_t capacity) {
  if (channel.open != 1 || channel.sentLast || length < 0 || (plain == nullptr && length > 0) || cipher == nullptr ||
      capacity - kSealOverhead < length)
    return kSecureOutOfStep;
  const uint64_t counter = ++channel.sent | (last ? kLastFrame : 0);
  unsigned char* out = static_cast<unsigned char*>(cipher);
  for (int32_t i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(counter >> (8 * i));
  unsigned char ad[64], nonce[24];
  int32_t adLength = 0;
  if (!FrameAd(out, extra, extraLength, ad, adLength)) return kSecureOutOfStep;
  FrameNonce(channel.sendNonce, counter, nonce);
  crypto_aead_xchacha20poly1305_ietf_encrypt(out + 8, nullptr, static_cast<const unsigned char*>(plain), size_t(length),
                                             ad, size_t(adLength), nullptr, nonce, channel.sendKey);
  if (last) channel.sentLast = 1;
  return length + kSealOverhead;
}

int32_t SecureOpen(SecureChannel& channel, const void* extra, int32_t extraLength, const void* cipher, int32_t length,
                   void* plain, int32_t capacity) {
  if (channel.open != 1) return kSecureOutOfStep;
  const unsigned char* in = static_cast<const unsigned char*>(cipher);
  uint64_t counter = 0;
  if (in != nullptr && length >= kSealOverhead)
    for (int32_t i = 7; i >= 0; --i) counter = (counter << 8) | in[i];
  // Nothing may follow the other side's last frame, nor come again or out of
  // order; a frame too big for the receiver's buffer was never sealed by a
  // peer keeping to the protocol.
  unsigned char ad[64], nonce[24];
  int32_t adLength = 0;
  const bool sound = !channel.peerEnded && in != nullptr && plain != nullptr && length >= kSealOverhead &&
                     length - kSealOverhead <= capacity && (counter & ~kLastFrame) > channel.received &&
                     FrameAd(in, extra, extraLength, ad, adLength);
  if (sound) FrameNonce(channel.receiveNonce, counter, nonce);
  if (!sound || crypto_aead_xchacha20poly1305_ietf_decrypt(static_cast<unsigned char*>(plain), nullptr, nullptr, in + 8,
                                                            size_t(length - 8), ad, size_t(adLength), nonce,
                                                            channel.receiveKey) != 0) {
    SecureClose(channel);
    return kSecureDamaged;
  }
  channel.received = counter & ~kLastFrame;
  if ((counter & kLastFrame) != 0) channel.peerEnded = 1;
  return length - kSealOverhead;
}

void SecureClose(SecureChannel& channel) { sodium_memzero(&channel, sizeof channel); }
