#include "peer.h"

#include <cstring>
#include <fstream>

#include "platform/comm.h"
#include "platform/unit.h"

namespace linktest {

namespace {

std::map<CommInstance*, Peer*>& peers() {
  static std::map<CommInstance*, Peer*> all;
  return all;
}

// Runs library calls on the peer's instance, then hands the line back to the
// program's (default) instance.
class Selected {
 public:
  explicit Selected(CommInstance* instance) : previous_(commSelected()) { commSelect(instance); }
  ~Selected() { commSelect(previous_ == commDefault() ? nullptr : previous_); }

 private:
  CommInstance* previous_;
};

std::string SlotAt(const Bytes& bytes, size_t offset, size_t width) {
  std::string text;
  for (size_t i = 0; i < width && bytes[offset + i] != 0; ++i) text += char(bytes[offset + i]);
  return text;
}

}  // namespace

Peer::Peer(const fs::path& folder, std::string name)
    : settings_(folder / (name + ".ini")), name_(std::move(name)), instance_(commCreate()) {
  peers()[instance_] = this;
  commSetSettingsFile(instance_, settings_.string().c_str());
}

Peer::~Peer() {
  peers().erase(instance_);
  commDestroy(instance_);
}

void Peer::WriteSettings(const std::map<std::string, int>& phonebook) {
  std::ofstream out(settings_, std::ios::trunc);
  out << "[port1]\nbackend = virtual\nlisten = 127.0.0.1:0\nauto_answer = " << (autoAnswer ? 1 : 0) << "\n";
  out << "[phonebook]\n";
  for (const auto& [number, port] : phonebook) out << number << " = 127.0.0.1:" << port << "\n";
}

void Peer::Open(const std::map<std::string, int>& phonebook) {
  WriteSettings(phonebook);
  Selected on(instance_);
  ruk_pbx_Event(&Peer::Handler, 250);
  handle_ = ruk_pbx_Open(1, 56000, 8, 4100, 4100);
  port_ = commListenPort(instance_);
  gathering_.clear();
  inMail_ = false;
}

void Peer::Close() {
  Selected on(instance_);
  ruk_pbx_Close();
  handle_ = 0;
}

int32_t Peer::Dial(const std::string& number) {
  Selected on(instance_);
  ruk_pbx_Cmd("ATS0=0");
  return ruk_pbx_Cmd(("ATDT" + number).c_str());
}

void Peer::Send(const Bytes& bytes) {
  Selected on(instance_);
  pRS232IO(1, handle_, bytes.data(), int32_t(bytes.size()));
}

void Peer::Send(const std::string& text) { Send(Bytes(text.begin(), text.end())); }

void Peer::HangUp() {
  Close();
  // The listening port is kept, so the peer stays reachable under its number.
  Selected on(instance_);
  handle_ = ruk_pbx_Open(1, 56000, 8, 4100, 4100);
}

int32_t Peer::Handler(int32_t type, int32_t state, const char* data, int32_t length) {
  auto it = peers().find(commSelected());
  if (it != peers().end()) it->second->OnEvent(type, state, data, length);
  return 1;
}

void Peer::OnEvent(int32_t type, int32_t state, const char* data, int32_t length) {
  if (type == 4) {
    carrier = state == 1;
    (carrier ? log.carrierOn : log.carrierOff)++;
    gathering_.clear();
    inMail_ = false;
  } else if (type == 5 && data != nullptr && length > 0) {
    if (tap)
      tap(Bytes(data, data + length));
    else
      OnData(data, length);
  }
}

void Peer::Reply(const char* text) { pRS232IO(1, handle_, text, int32_t(std::strlen(text))); }

void Peer::OnData(const char* data, int32_t length) {
  const std::string text(data, size_t(length));
  if (!inMail_ && text == "[OK]") {
    log.oks++;
    log.order.push_back("ok");
    return;
  }
  if (!inMail_ && text == "[END]") {
    log.ends++;
    log.order.push_back("end");
    return;
  }
  if (!inMail_ && length == 512) {
    Bytes announce(data, data + length);
    vlData(-1, announce.data(), 512);
    log.announces.push_back(announce);
    log.order.push_back("announce");
    if (script.answerAnnounce) {
      inMail_ = true;
      Reply("[OK]");
    }
    return;
  }
  if (!inMail_) {
    log.otherBytes += length;
    log.order.push_back("other");
    return;
  }
  gathering_.insert(gathering_.end(), data, data + length);
  if (gathering_.size() < 4096) return;
  Bytes block(gathering_.begin(), gathering_.begin() + 4096);
  gathering_.erase(gathering_.begin(), gathering_.begin() + 4096);
  log.blocks.push_back(block);
  log.order.push_back("block");
  Bytes header(block.begin() + 3576, block.end());
  vlData(-1, header.data(), 520);
  if (SlotAt(header, 234, 9) == SlotAt(header, 243, 9)) inMail_ = false;
  if (int(log.blocks.size()) <= script.blocksToAnswer) Reply("[OK]");
  if (int(log.blocks.size()) == script.hangUpAfterBlocks) HangUp();
}

}  // namespace linktest
