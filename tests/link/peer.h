// A scripted machine at the other end of the line: a second instance of the
// communication library in this process, with a virtual modem on loopback.
// As a receiver it answers announces and blocks as its script says; as a
// sender the test drives it message by message. Everything it sees is logged.
#pragma once
#include <stdint.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "commlib/instance.h"

namespace linktest {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// How the peer answers when it is called.
struct PeerScript {
  bool answerAnnounce = true;  // "[OK]" to every announce
  int blocksToAnswer = 1 << 30;  // blocks answered in all; later ones get silence
  int hangUpAfterBlocks = -1;  // close the line once this many blocks arrived
};

struct PeerLog {
  int carrierOn = 0;
  int carrierOff = 0;
  int oks = 0;                  // "[OK]" received (peer as sender)
  int ends = 0;                 // "[END]" received
  std::vector<Bytes> announces;  // as received, unscrambled
  std::vector<Bytes> blocks;     // whole blocks as received
  std::vector<std::string> order;  // "announce", "block", "end", "ok", "other"
  int otherBytes = 0;
};

class Peer {
 public:
  // A peer whose modem answers calls by itself (S0=1) and listens on a free
  // loopback port; its settings file lives in folder.
  Peer(const fs::path& folder, std::string name);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Opens (again) with the given phone book (number -> loopback port).
  void Open(const std::map<std::string, int>& phonebook = {});
  void Close();
  int ListenPort() const { return port_; }

  // Peer as sender: dials a number of its phone book; sends raw bytes.
  int32_t Dial(const std::string& number);
  void Send(const Bytes& bytes);
  void Send(const std::string& text);
  // Peer as receiver: drops the line.
  void HangUp();

  bool autoAnswer = true;  // taken at the next Open
  // When set, every byte the line brings goes here and the script is not
  // played: a man in the middle passes it on as he likes.
  std::function<void(const Bytes&)> tap;
  PeerScript script;
  PeerLog log;
  bool carrier = false;

 private:
  static int32_t Handler(int32_t type, int32_t state, const char* data, int32_t length);
  void OnEvent(int32_t type, int32_t state, const char* data, int32_t length);
  void OnData(const char* data, int32_t length);
  void Reply(const char* text);
  void WriteSettings(const std::map<std::string, int>& phonebook);

  fs::path settings_;
  std::string name_;
  CommInstance* instance_ = nullptr;
  intptr_t handle_ = 0;
  int port_ = 0;
  Bytes gathering_;  // the current block, however it arrives
  bool inMail_ = false;
};

}  // namespace linktest
