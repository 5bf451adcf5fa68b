// link/secure.h -- machine keys, the handshake that opens a secured call, and
// the encrypted channel that follows it. Bytes in, bytes out: nothing here
// touches the line.
//
// Principles of operation
//
// Every machine has a long-term Ed25519 key pair (MACHINE.KEY in the program
// folder, private to its owner) and a list of the machines it knows with
// their public keys (KNOWN.TXT beside it). A key is shown and exchanged as 64
// lower-case hex digits. A list with a single bad line is refused whole, so a
// typing error never leaves a machine half known.
//
// A secured call opens with three messages. Each side makes a fresh X25519
// key pair for the call (crypto_kx); the session keys come from those alone,
// so a recording of a call cannot be read later even with both machine keys,
// and a recording played again meets fresh keys it cannot answer. Each side
// signs the transcript -- every byte of the handshake so far, both machine ids
// included -- with its machine key, so a key cannot be presented for another
// id, and sends that signature sealed under the session keys (XChaCha20-
// Poly1305, each key used for one message only), so any changed byte shows.
//
//   caller                                              callee
//   hello    (ids, caller's call key)          ------->  caller's id looked up
//            <-------  reply   (callee's call key, sealed: signature, nonce base)
//   confirm  (sealed: signature, nonce base)   ------->
//   channel open on both sides; every frame Seal/Open
//
// hello, 84 bytes (clear)
//   +0   4  marker      "VLH1"
//   +4  24  caller id   1-22 of a-z 0-9, zero-filled
//   +28 24  dialled id  the id the caller dialled, same form
//   +52 32  caller's X25519 call key
//
// reply, 140 bytes
//   +0   4  marker      "VLR1"
//   +4  32  callee's X25519 call key
//   +36 88  sealed with the callee->caller handshake key, nonce 0,
//           additional data: transcript after hello and reply +0..+36
//              +0  64  callee's signature of "velloran callee" and that transcript
//              +64 24  nonce base of the callee->caller frames
//   +124 16 seal's tag
//
// confirm, 108 bytes
//   +0   4  marker      "VLC1"
//   +4  88  sealed with the caller->callee handshake key, nonce 0,
//           additional data: transcript after hello and the whole reply
//              +0  64  caller's signature of "velloran caller" and that transcript
//              +64 24  nonce base of the caller->callee frames
//   +92 16  seal's tag
//
// The transcript is a chained BLAKE2b-256: t = H(t, message part). Session
// keys: crypto_kx's two directional keys; from each, crypto_kdf derives the
// handshake key (1) and the stream key (2) of that direction.
//
// After the handshake every frame is sealed on its own (XChaCha20-Poly1305,
// the direction's stream key, nonce = the direction's nonce base with the
// frame's counter in its first 8 bytes):
//   +0   8  counter      little-endian, 1 for the first frame; bit 63 marks the last
//   +8   n  the frame's bytes, encrypted
//   +8+n 16 tag          over the counter, the caller's additional data and the bytes
// A line that loses a frame (damaged on the way, sent again later under a new
// counter) loses nothing else: counters only have to grow. A frame altered,
// cut short, played twice or put out of order fails to open, and the first
// failure closes the channel for good: the call must end. The last frame of a
// call can be sealed as the last, so a receiver tells a call that ended from
// one cut short.
//
// Who does what (the line protocol calls these):
//   caller: SecureHello -> send hello; reply arrives -> SecureConfirm -> send
//           confirm; the channel is open.
//   callee: hello arrives -> SecureReply (looks up the caller's id) -> send
//           reply; confirm arrives -> SecureAccept; the channel is open.
// What the keys prove is the ids in the hello, so the line protocol holds the
// call to them: the callee answers only a hello whose dialled id names this
// machine (as it answers only an announce addressed here), and takes only
// announces whose sender machine is the caller's id.
// A negative result is a refusal (SecureRefusalText names it for the status
// line). After a refusal or the open channel the handshake keeps the ids and
// the other machine's key, wipes every secret and takes no further message;
// SecureForget makes it new.
#pragma once
#include <stdint.h>

#include "config/config.h"

constexpr const char* kMachineKeyName = "MACHINE.KEY";
constexpr const char* kKnownMachinesName = "KNOWN.TXT";

constexpr int32_t kPublicKeySize = 32;
constexpr int32_t kKeyHexSize = 64;          // text form of a public key
constexpr int32_t kMachineIdLimit = 22;      // characters of a machine id
constexpr int32_t kMachineIdSlot = 24;       // its slot in the handshake
constexpr int32_t kHelloSize = 84;
constexpr int32_t kReplySize = 140;
constexpr int32_t kConfirmSize = 108;
constexpr int32_t kSealOverhead = 24;        // bytes a sealed frame adds: counter and tag
constexpr int32_t kKnownCapacity = 256;      // machines in KNOWN.TXT
constexpr int32_t kKnownFileLimit = 65536;   // bytes of KNOWN.TXT

// MACHINE.KEY, 80 bytes, raw (mode 0600)
//   +0  16  marker   "[VL-MACHINE]", zero-filled
//   +16 32  seed     of the Ed25519 key pair
//   +48 32  public   the public key the seed gives (checked on reading)
constexpr int32_t kMachineKeyFileSize = 80;
constexpr const char* kMachineKeyMarker = "[VL-MACHINE]";

struct PublicKey {
  unsigned char bytes[kPublicKeySize];
};

struct MachineKey {
  PublicKey publicKey;
  unsigned char secretKey[64];  // Ed25519: seed followed by the public key
};

struct KnownMachine {
  char id[kMachineIdSlot];
  PublicKey key;
};

struct KnownMachines {
  int32_t count;
  KnownMachine machines[kKnownCapacity];
};

// Where and why KNOWN.TXT was refused; line 0: the file as a whole.
struct KnownProblem {
  int32_t line;
  const char* reason;
};

// Results. Handshake and channel calls give a byte count (>= 0) or one of these.
enum SecureRefusal : int32_t {
  kSecureUnknownMachine = -1,  // the other machine's id is not in KNOWN.TXT
  kSecureWrongKey = -2,        // it signed with another key than the one known for it
  kSecureDamaged = -3,         // a message or frame is not what it must be
  kSecureNoKey = -4,           // this machine has no usable key or id (or no crypto library)
  kSecureOutOfStep = -5,       // a call made out of turn, or on a closed channel
};

enum KnownLoad : int32_t {
  kKnownRead = 1,      // the list as the file gives it
  kKnownNone = 0,      // no file: no machine is known
  kKnownRefused = -1,  // the file is refused whole (KnownProblem says why); no machine is known
};

enum KeyLoad : int32_t {
  kKeyRead = 1,
  kKeyMissing = 0,
  kKeyDamaged = -1,
};

enum SecureRole : int32_t { kSecureCaller = 1, kSecureCallee = 2 };
enum SecureStep : int32_t {
  kSecureStepNone = 0,      // new (or forgotten)
  kSecureStepWaiting = 1,   // caller: hello made; callee: reply made
  kSecureStepDone = 2,      // the channel is open
  kSecureStepRefused = -1,
};

// One direction each way: its key, its nonce base and its counter.
struct SecureChannel {
  unsigned char sendKey[32];
  unsigned char sendNonce[24];
  unsigned char receiveKey[32];
  unsigned char receiveNonce[24];
  uint64_t sent;       // counter of the last frame sealed
  uint64_t received;   // counter of the last frame opened
  int32_t open;        // 1 from the handshake until the first failure
  int32_t sentLast;    // this side sealed its last frame
  int32_t peerEnded;   // the other side's last frame was opened
};

// One handshake, from its first message to the open channel.
struct SecureHandshake {
  int32_t role;                          // SecureRole, 0 before the first call
  int32_t step;                          // SecureStep
  char callerId[kMachineIdSlot];         // as the hello carries them
  char dialledId[kMachineIdSlot];
  PublicKey peerKey;                     // the other machine's known key
  unsigned char callPublic[32];          // this side's X25519 key for this call
  unsigned char callSecret[32];
  unsigned char transcript[32];
  unsigned char upKey[32];               // caller -> callee session key
  unsigned char downKey[32];             // callee -> caller session key
  SecureChannel channel;                 // built as the messages pass
};

// --- keys and the list of known machines ---------------------------------------
// A fresh key pair; 0 when the crypto library cannot start.
int32_t MakeMachineKey(MachineKey& key);
// The MACHINE.KEY bytes of a key.
void MachineKeyRecord(const MachineKey& key, unsigned char (&record)[kMachineKeyFileSize]);
// Reads MACHINE.KEY; damaged when its size, marker or public key is wrong.
int32_t LoadMachineKey(const char* path, MachineKey& key);
// 64 lower-case hex digits and a terminator.
void PublicKeyHex(const PublicKey& key, char (&hex)[kKeyHexSize + 1]);
// Exactly 64 hex digits (either case) naming a valid Ed25519 public key; else
// 0 with the reason.
int32_t PublicKeyFromHex(const char* text, int32_t length, PublicKey& key, const char** reason);
// 1 when the text is 1 to 22 characters of a-z 0-9.
int32_t IsMachineId(const char* text, int32_t length);
// KNOWN.TXT: one machine a line, "<id> <key hex>", blanks between; empty
// lines and lines starting with "#" are skipped. 1, or 0 with known empty.
int32_t ParseKnownMachines(const char* text, int32_t length, KnownMachines& known, KnownProblem& problem);
int32_t LoadKnownMachines(const char* path, KnownMachines& known, KnownProblem& problem);
// The key known for exactly this id; null when it is not known.
const PublicKey* FindKnownMachine(const KnownMachines& known, const char* id);

// The settings' plain-caller policy: only "0" refuses plain callers; an
// empty field (a settings file older than the field) accepts them.
int32_t AcceptsPlainCallers(const ConfigRecord& settings);

// --- handshake -------------------------------------------------------------------
// Caller: the hello for a call to dialledId; kHelloSize or a refusal. Its
// own key proves itself only in the confirm.
int32_t SecureHello(SecureHandshake& hs, const char* ownId, const KnownMachines& known, const char* dialledId,
                    unsigned char (&hello)[kHelloSize]);
// Callee: checks the hello, looks up the caller; kReplySize or a refusal.
// Afterwards hs.callerId is the caller's id, hs.dialledId the id it dialled.
int32_t SecureReply(SecureHandshake& hs, const MachineKey& own, const KnownMachines& known, const unsigned char* hello,
                    int32_t length, unsigned char (&reply)[kReplySize]);
// Caller: checks the reply; kConfirmSize and an open channel, or a refusal.
int32_t SecureConfirm(SecureHandshake& hs, const MachineKey& own, const unsigned char* reply, int32_t length,
                      unsigned char (&confirm)[kConfirmSize], SecureChannel& channel);
// Callee: checks the confirm; 0 and an open channel, or a refusal.
int32_t SecureAccept(SecureHandshake& hs, const unsigned char* confirm, int32_t length, SecureChannel& channel);
// Wipes the whole handshake: ready for a new one.
void SecureForget(SecureHandshake& hs);
// "unknown machine", "wrong key", "damaged", ...; "" for a result that is no refusal.
const char* SecureRefusalText(int32_t result);

// --- channel ---------------------------------------------------------------------
// Seals length bytes into cipher (capacity >= length + kSealOverhead),
// binding the additional data (e.g. the frame's head) to them; last marks the
// call's last frame. The sealed length, or a refusal.
int32_t SecureSeal(SecureChannel& channel, const void* extra, int32_t extraLength, const void* plain, int32_t length,
                   int32_t last, void* cipher, int32_t capacity);
// Opens a frame sealed after the last one opened, with the same additional
// data, into plain; its plain length, or a refusal that closes the channel.
int32_t SecureOpen(SecureChannel& channel, const void* extra, int32_t extraLength, const void* cipher, int32_t length,
                   void* plain, int32_t capacity);
// Wipes the channel and closes it.
void SecureClose(SecureChannel& channel);
