// The virtual modem's sockets on Windows (see net.h): Winsock 2, started
// once at the first socket the library makes.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "commlib/net.h"

namespace comm::net {
namespace {

bool started() {
  static const bool ready = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

SOCKET socketOf(int fd) { return SOCKET(unsigned(fd)); }

std::string lastError() { return "Winsock error " + std::to_string(WSAGetLastError()); }

sockaddr_in socketAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(address);
  sa.sin_port = htons(port);
  return sa;
}

void makeNonBlocking(SOCKET s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}

void setNoDelay(SOCKET s) {
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

int bindTo(SOCKET s, uint32_t address, uint16_t port) {
  sockaddr_in sa = socketAddress(address, port);
  return bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

bool wouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }

}  // namespace

int Listen(uint32_t address, uint16_t port, bool orAnyPort, const std::string& what, uint16_t& bound,
           std::string& error) {
  SOCKET s = started() ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
  if (s == INVALID_SOCKET) {
    error = "no socket: " + lastError();
    return kNoSocket;
  }
  // Windows lets SO_REUSEADDR take a port another socket listens on; the
  // exclusive use is what POSIX's reuse means for a listener.
  BOOL one = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  makeNonBlocking(s);
  int rc = bindTo(s, address, port);
  if (rc != 0 && orAnyPort && port != 0) rc = bindTo(s, address, 0);
  if (rc != 0 || listen(s, 8) != 0) {
    error = "cannot listen on " + what + ": " + lastError();
    closesocket(s);
    return kNoSocket;
  }
  sockaddr_in sa{};
  int length = sizeof sa;
  getsockname(s, reinterpret_cast<sockaddr*>(&sa), &length);
  bound = ntohs(sa.sin_port);
  return int(s);
}

int Accept(int listener) {
  SOCKET s = accept(socketOf(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoSocket;
  makeNonBlocking(s);
  setNoDelay(s);
  return int(s);
}

int ConnectStart(uint32_t address, uint16_t port) {
  SOCKET s = started() ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
  if (s == INVALID_SOCKET) return kNoSocket;
  makeNonBlocking(s);
  setNoDelay(s);
  sockaddr_in sa = socketAddress(address, port);
  if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && !wouldBlock()) {
    closesocket(s);
    return kNoSocket;
  }
  return int(s);
}

bool ConnectSucceeded(int socket) {
  int err = 0;
  int length = sizeof err;
  return getsockopt(socketOf(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &length) == 0 &&
         err == 0;
}

long Receive(int socket, char* buffer, size_t length) {
  int n = recv(socketOf(socket), buffer, int(length), 0);
  if (n >= 0) return n;
  return wouldBlock() ? kWouldBlock : kFailed;
}

long WriteSome(int fd, const uint8_t* bytes, size_t length) {
  int n = send(socketOf(fd), reinterpret_cast<const char*>(bytes), int(length), 0);
  if (n >= 0) return n;
  return wouldBlock() ? kWouldBlock : kFailed;
}

bool SendLine(int socket, const char* line) {
  int length = int(strlen(line));
  return send(socketOf(socket), line, length, 0) == length;
}

bool PeerHasClosed(int socket) {
  WSAPOLLFD p{socketOf(socket), POLLRDNORM, 0};
  return WSAPoll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR));
}

void Close(int socket) { closesocket(socketOf(socket)); }

}  // namespace comm::net
