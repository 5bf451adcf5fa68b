// commlib/instance.h -- more than one modem in one process.
//
// The product interface is platform/comm.h: five C calls that act on "the"
// modem. A process that plays several machines at once (tests, the demo's
// two-machine harness) creates further library instances here and selects
// one; the C calls then act on the selected instance. Each instance has its
// own handler, settings file, port and event queue, and its handler is always
// called with its own instance selected, so a handler that answers with
// pRS232IO answers on the right line.
//
// Without any of this the process has one default instance, selected from
// the start, reading "ruk_comm.ini" in the current folder.
#pragma once
#include <stdint.h>

#include "toolkit/export.h"

#define COMM_API VL_VISIBLE

struct CommInstance;

// A new instance: nothing open, no handler, settings file "ruk_comm.ini".
COMM_API CommInstance* commCreate();
// Closes the instance's port (no events) and frees it; the default instance
// becomes selected if this one was. The default instance cannot be destroyed.
COMM_API void commDestroy(CommInstance* instance);
// Selects the instance the C calls act on; nullptr selects the default one.
COMM_API void commSelect(CommInstance* instance);
COMM_API CommInstance* commSelected();
// The default instance (never nullptr).
COMM_API CommInstance* commDefault();

// The settings file read at every ruk_pbx_Open (default "ruk_comm.ini",
// relative to the current folder).
COMM_API void commSetSettingsFile(CommInstance* instance, const char* path);
// TCP port on which the open virtual modem takes incoming calls (useful with
// "listen = 127.0.0.1:0"); 0 when none is open. The port chosen for ":0" is
// kept and bound again by the next open, so the number stays dialable.
COMM_API int commListenPort(const CommInstance* instance);
// Why the last ruk_pbx_Open or ruk_pbx_Cmd was refused ("" when it was not).
COMM_API const char* commLastError(const CommInstance* instance);
// The modem's last result code: "OK", "ERROR", "RING", "CONNECT",
// "NO CARRIER", "BUSY", "NO ANSWER" ("" before the first).
COMM_API const char* commLastResult(const CommInstance* instance);
// Protocol bytes written to and received from the line since the instance
// was created or reset (modem commands and result codes not counted).
COMM_API void commLineCounters(const CommInstance* instance, uint64_t* sent, uint64_t* received);
// Closes the port without events, unregisters the handler, drops queued
// events and counters, and restores the default settings file name.
COMM_API void commReset(CommInstance* instance);
