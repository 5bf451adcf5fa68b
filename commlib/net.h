// commlib/net.h -- the TCP sockets of the virtual modem (private to the
// communication library): net_posix.cpp (BSD sockets), net_win32.cpp
// (Winsock), chosen by CMake. Every socket is non-blocking; a socket is an
// int, as the event loop watches it (winapi/loop.h).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

namespace comm::net {

constexpr int kNoSocket = -1;
// Results of Receive and WriteSome besides a byte count.
constexpr long kWouldBlock = -1;  // nothing can move now
constexpr long kFailed = -2;      // the connection is broken

// A listening socket on address:port (host byte order); with orAnyPort a
// port that cannot be bound gives way to any free one. kNoSocket and a
// message naming 'what' when it cannot listen.
int Listen(uint32_t address, uint16_t port, bool orAnyPort, const std::string& what, uint16_t& bound,
           std::string& error);
// A waiting incoming connection, or kNoSocket when none waits.
int Accept(int listener);
// A connection under way (small messages leave at once: no delay); the
// socket turns writable once it is decided. kNoSocket when it cannot start.
int ConnectStart(uint32_t address, uint16_t port);
bool ConnectSucceeded(int socket);
// Bytes received (> 0), 0 when the peer has closed, kWouldBlock or kFailed.
long Receive(int socket, char* buffer, size_t length);
// Bytes written, kWouldBlock or kFailed; never raises a signal. On POSIX any
// descriptor (a serial device) is written as well.
long WriteSome(int fd, const uint8_t* bytes, size_t length);
// A short line in one piece; false when it did not leave whole.
bool SendLine(int socket, const char* line);
// The peer has closed or the connection broke (its last bytes may still wait).
bool PeerHasClosed(int socket);
void Close(int socket);

}  // namespace comm::net
