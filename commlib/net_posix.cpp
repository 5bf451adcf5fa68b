// The virtual modem's sockets on a POSIX host (see net.h).
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "commlib/net.h"

namespace comm::net {
namespace {

sockaddr_in socketAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(address);
  sa.sin_port = htons(port);
  return sa;
}

void setNoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int bindTo(int fd, uint32_t address, uint16_t port) {
  sockaddr_in sa = socketAddress(address, port);
  return bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

}  // namespace

int Listen(uint32_t address, uint16_t port, bool orAnyPort, const std::string& what, uint16_t& bound,
           std::string& error) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("no socket: ") + strerror(errno);
    return kNoSocket;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  int rc = bindTo(fd, address, port);
  if (rc != 0 && orAnyPort && port != 0) rc = bindTo(fd, address, 0);
  if (rc != 0 || listen(fd, 8) != 0) {
    error = "cannot listen on " + what + ": " + strerror(errno);
    close(fd);
    return kNoSocket;
  }
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  bound = ntohs(sa.sin_port);
  return fd;
}

int Accept(int listener) {
  int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) setNoDelay(fd);
  return fd < 0 ? kNoSocket : fd;
}

int ConnectStart(uint32_t address, uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoSocket;
  setNoDelay(fd);
  sockaddr_in sa = socketAddress(address, port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
    close(fd);
    return kNoSocket;
  }
  return fd;
}

bool ConnectSucceeded(int socket) {
  int err = 0;
  socklen_t length = sizeof err;
  return getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &length) == 0 && err == 0;
}

long Receive(int socket, char* buffer, size_t length) {
  for (;;) {
    ssize_t n = recv(socket, buffer, length, MSG_DONTWAIT);
    if (n >= 0) return long(n);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : kFailed;
  }
}

long WriteSome(int fd, const uint8_t* bytes, size_t length) {
  // Sockets must not raise SIGPIPE when the peer has gone; other descriptors
  // (serial devices) have no such signal.
  for (;;) {
    ssize_t n = send(fd, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, bytes, length);
    if (n >= 0) return long(n);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : kFailed;
  }
}

bool SendLine(int socket, const char* line) {
  size_t length = strlen(line);
  return send(socket, line, length, MSG_NOSIGNAL | MSG_DONTWAIT) == ssize_t(length);
}

bool PeerHasClosed(int socket) {
  pollfd p{socket, POLLIN | POLLRDHUP, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

void Close(int socket) { close(socket); }

}  // namespace comm::net
