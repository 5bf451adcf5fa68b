// The five library calls, the instances behind them, and event delivery
// (principles in library.h).
#include <stdio.h>
#include <string.h>

#include "commlib/hayes.h"
#include "commlib/instance.h"
#include "commlib/library.h"
#include "winapi/loop.h"

namespace {

// The whole library state: the default instance and which one the C calls
// act on.
struct Library {
  CommInstance defaultInstance;
  CommInstance* selected = nullptr;

  CommInstance& current() { return selected ? *selected : defaultInstance; }
};

// Never destroyed: the handler of a process that exits with a port open
// must not be called from static destruction.
Library& library() {
  static Library* lib = new Library;
  return *lib;
}

void onKick(void* context) {
  auto* self = static_cast<CommInstance*>(context);
  self->kick = 0;
  self->deliverAll();
}

void refuse(CommInstance& inst, std::string why) {
  inst.lastError = std::move(why);
  fprintf(stderr, "ruk_comm: %s\n", inst.lastError.c_str());
}

bool validOpenArguments(CommInstance& inst, int32_t port, int32_t baud, int32_t dataBits, int32_t inSize,
                        int32_t outSize) {
  if (port < 1 || port > comm::kMaxPort) refuse(inst, "port " + std::to_string(port) + " is not 1 to 32");
  else if (baud < 50 || baud > 4000000) refuse(inst, "baud rate " + std::to_string(baud) + " is not 50 to 4000000");
  else if (dataBits < 5 || dataBits > 8) refuse(inst, "data bits " + std::to_string(dataBits) + " is not 5 to 8");
  else if (inSize < 0 || outSize < 0 || size_t(inSize) > kMaxBufferSize || size_t(outSize) > kMaxBufferSize)
    refuse(inst, "buffer sizes must be 0 to 1048576");
  else return true;
  return false;
}

}  // namespace

CommInstance::~CommInstance() {
  if (transport) transport->shutdown();
  if (kick) waCancelDeadline(kick);
}

uint64_t CommInstance::nowUs() {
  uint32_t now = waNow();
  if (!clockStarted) {
    clockStarted = true;
    clockMs = now;
  } else {
    clockMs += uint32_t(now - clockLast);
  }
  clockLast = now;
  return clockMs * 1000u;
}

void CommInstance::lineChanged(comm::LineType type, bool on) {
  QueuedEvent e;
  e.type = type;
  e.state = on ? 1 : 0;
  events.push_back(std::move(e));
  deliverLater();
}

void CommInstance::received(const char* bytes, size_t length) {
  receivedTotal += length;
  while (length > 0) {
    if (events.empty() || events.back().type != comm::kData || events.back().bytes.size() >= receiveChunk) {
      QueuedEvent e;
      e.type = comm::kData;
      events.push_back(std::move(e));
    }
    std::vector<char>& tail = events.back().bytes;
    size_t take = std::min(length, receiveChunk - tail.size());
    tail.insert(tail.end(), bytes, bytes + take);
    bytes += take;
    length -= take;
  }
  deliverLater();
}

void CommInstance::seedFaults(uint32_t seed) {
  if (faultSeeded && seed == faultSeed) return;
  faultSeeded = true;
  faultSeed = seed;
  faultRandom.seed(seed);
}

// A test may have emptied the event loop (waResetLoop) under a pending
// delivery; opening or registering arms a fresh one when needed.
void CommInstance::rearmDelivery() {
  if (kick) waCancelDeadline(kick);
  kick = 0;
  if (!events.empty()) deliverLater();
}

void CommInstance::deliverLater() {
  if (!delivering && kick == 0) kick = waAddDeadline(0, onKick, this);
}

void CommInstance::deliverAll() {
  // A serial modem's command pumps the loop while it waits for the answer;
  // its events wait until the program's call has returned.
  if (delivering || commandDepth > 0) return;
  delivering = true;
  Library& lib = library();
  CommInstance* previous = lib.selected;
  lib.selected = this;
  while (!events.empty()) {
    QueuedEvent e = std::move(events.front());
    events.pop_front();
    if (!handler) continue;
    if (e.type == comm::kData) {
      int32_t length = int32_t(e.bytes.size());
      e.bytes.push_back('\0');
      handler(e.type, 0, e.bytes.data(), length);
    } else {
      handler(e.type, e.state, "", 0);
    }
  }
  lib.selected = previous;
  delivering = false;
  if (commandDepth == 0) retired.clear();
  if (transport) transport->resumeReading();
}

void CommInstance::closePort(bool reportCarrier) {
  if (transport) {
    transport->shutdown();
    retired.push_back(std::move(transport));
    if (commandDepth == 0 && !delivering) retired.clear();
  }
  handle = 0;
  if (!reportCarrier) events.clear();
}

void CommInstance::reset() {
  closePort(false);
  retired.clear();
  if (kick) waCancelDeadline(kick);
  kick = 0;
  handler = nullptr;
  queueLimit = kDefaultQueueLimit;
  events.clear();
  settingsPath = kDefaultSettingsFile;
  lastError.clear();
  lastResult.clear();
  keptListenPort = 0;
  faultSeeded = false;
  sent = receivedTotal = 0;
  opens = 0;
}

// ---- the product interface ----

int32_t ruk_pbx_Event(ruk_pbx_Handler handler, int32_t value) {
  CommInstance& inst = library().current();
  inst.handler = handler;
  inst.queueLimit = value > 0 ? size_t(value) : kDefaultQueueLimit;
  inst.rearmDelivery();
  return 1;
}

intptr_t ruk_pbx_Open(int32_t port, int32_t baud, int32_t dataBits, int32_t inSize, int32_t outSize) {
  CommInstance& inst = library().current();
  inst.lastError.clear();
  if (!validOpenArguments(inst, port, baud, dataBits, inSize, outSize)) return 0;
  inst.closePort(true);
  inst.rearmDelivery();

  comm::SettingsFile file;
  std::string error;
  if (!comm::readSettingsFile(inst.settingsPath, file, error)) {
    refuse(inst, error);
    return 0;
  }
  comm::TransportConfig config;
  config.port = port;
  config.settings = comm::settingsForPort(file, port);
  config.phonebook = std::move(file.phonebook);
  config.baud = baud;
  config.dataBits = dataBits;
  config.receiveChunk = std::max(size_t(inSize), kMinReceiveChunk);
  config.sendCapacity = std::max(size_t(outSize), kMinReceiveChunk) + kMinReceiveChunk;
  config.keptListenPort = inst.keptListenPort;
  inst.seedFaults(config.settings.seed);
  config.faultRandom = &inst.faultRandom;
  inst.receiveChunk = config.receiveChunk;

  std::unique_ptr<comm::Transport> transport = comm::makeTransport(inst, config);
  if (!transport || !transport->start(error)) {
    if (transport) transport->shutdown();
    refuse(inst, "port " + std::to_string(port) + ": " + error);
    return 0;
  }
  if (config.settings.listen && config.settings.listen->port == 0) inst.keptListenPort = transport->listenPort();
  inst.transport = std::move(transport);
  ++inst.opens;
  inst.handle = intptr_t(inst.opens) << 8 | port;
  return inst.handle;
}

int32_t ruk_pbx_Close(void) {
  CommInstance& inst = library().current();
  inst.closePort(true);
  return 0;
}

int32_t ruk_pbx_Cmd(const char* command) {
  CommInstance& inst = library().current();
  inst.lastError.clear();
  if (!command) return 0;
  size_t length = strnlen(command, comm::kMaxCommandLength + 1);
  if (length > comm::kMaxCommandLength) {
    inst.lastError = "command longer than 1024 characters";
    return 0;
  }
  if (!inst.transport) {
    inst.lastError = "port not open";
    return 0;
  }
  // The transport may be closed (and kept in 'retired') while it waits.
  comm::Transport* transport = inst.transport.get();
  ++inst.commandDepth;
  std::string error;
  int32_t result = transport->command(std::string(command, length), error);
  --inst.commandDepth;
  if (inst.commandDepth == 0 && !inst.delivering) inst.retired.clear();
  if (!inst.events.empty()) inst.deliverLater();
  if (result != 1) inst.lastError = error;
  return result == 1 ? 1 : 0;
}

int32_t pRS232IO(int32_t direction, intptr_t handle, const void* bytes, int32_t length) {
  CommInstance& inst = library().current();
  if (direction != 1 || handle == 0 || handle != inst.handle || !inst.transport) return 0;
  if (!bytes || length <= 0 || size_t(length) > kMaxBufferSize) return 0;
  return inst.transport->write(static_cast<const uint8_t*>(bytes), size_t(length)) ? length : 0;
}

// ---- instances ----

CommInstance* commCreate() { return new CommInstance(); }

void commDestroy(CommInstance* instance) {
  Library& lib = library();
  if (!instance || instance == &lib.defaultInstance) return;
  if (lib.selected == instance) lib.selected = nullptr;
  instance->reset();
  delete instance;
}

void commSelect(CommInstance* instance) { library().selected = instance; }
CommInstance* commSelected() { return &library().current(); }
CommInstance* commDefault() { return &library().defaultInstance; }

void commSetSettingsFile(CommInstance* instance, const char* path) {
  if (instance) instance->settingsPath = path && *path ? path : kDefaultSettingsFile;
}

int commListenPort(const CommInstance* instance) {
  return instance && instance->transport ? instance->transport->listenPort() : 0;
}

const char* commLastError(const CommInstance* instance) { return instance ? instance->lastError.c_str() : ""; }
const char* commLastResult(const CommInstance* instance) { return instance ? instance->lastResult.c_str() : ""; }

void commLineCounters(const CommInstance* instance, uint64_t* sent, uint64_t* received) {
  if (sent) *sent = instance ? instance->sent : 0;
  if (received) *received = instance ? instance->receivedTotal : 0;
}

void commReset(CommInstance* instance) {
  if (instance) instance->reset();
}
