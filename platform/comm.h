// platform/comm.h -- the communication library as the program calls it.
//
// The library drives a modem on a port: ruk_pbx_Open opens it (a handle, 0 when
// the port is not open), ruk_pbx_Cmd passes "AT..." commands (1 = accepted),
// pRS232IO(1, handle, bytes, length) writes one whole protocol message, and
// ruk_pbx_Close closes the port (0 = closed). Line changes and received bytes
// reach the one handler registered with ruk_pbx_Event, on the interface
// thread, one event at a time, from inside the event loop's pumps:
//   type 1 CTS, 2 DSR, 3 RNG, 4 CD  -- state 1 on, 0 off; a dial ends in one
//                                      CD event: 1 connected, or 0 (with no 1
//                                      before it) when the dial failed
//   type 5 bytes received           -- data and length; a zero byte follows the
//                                      data; a message of up to 512 bytes comes
//                                      in one event; a 4096-byte block may come
//                                      in several.
// Ports map to backends (serial device, virtual modem over TCP) through the
// library's settings file "ruk_comm.ini" in the current folder; without it port
// n is the serial device /dev/ttyS(n-1) (COMn on Windows).
//
// Calling convention, for the five calls and the handler alike: the
// platform's C convention (cdecl on 32-bit Windows, the caller removes the
// arguments), exported from ruk_comm.dll under the plain names
// ("ruk_pbx_Open", no decoration).
#pragma once
#include <stdint.h>
#include "toolkit/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t (*ruk_pbx_Handler)(int32_t type, int32_t state, const char* data, int32_t length);

#define RUK_EXPORT VL_VISIBLE
RUK_EXPORT int32_t ruk_pbx_Event(ruk_pbx_Handler handler, int32_t value);
RUK_EXPORT intptr_t ruk_pbx_Open(int32_t port, int32_t baud, int32_t dataBits, int32_t inSize, int32_t outSize);
RUK_EXPORT int32_t ruk_pbx_Close(void);
RUK_EXPORT int32_t ruk_pbx_Cmd(const char* command);
RUK_EXPORT int32_t pRS232IO(int32_t direction, intptr_t handle, const void* bytes, int32_t length);

#ifdef __cplusplus
}
#endif
