// link/routes.h -- relaying through a hub: mail for a machine this one cannot
// dial goes to a machine that can (a hub), which keeps it as outgoing mail and
// sends it on with the same journals and checks as any mail.
//
// Principles of operation
//
// ROUTES.TXT, in the program folder beside the communication library's
// settings file and its phone book: one route a line, "#" starts a comment.
//
//   0403   0402      mail for 0403 goes through 0402
//   05*    0402      mail for every machine whose id begins with 05
//   *      0402      mail for any machine without a route of its own
//   0401   0401      a route to the machine itself: dialled directly
//
// An exact id wins over the patterns, the longest pattern over shorter ones;
// a destination without a route is dialled itself, as without the file.
//
// The same file makes a machine a hub. It takes mail that is not for itself
// only in the extended protocol, only for a destination its routes cover,
// and only from a caller that proved its key in the call (KNOWN.TXT) or that
// one of its lines names exactly as a destination (the machines it serves;
// "0401 0401" above). HUBS.TXT, one machine id a line, names the hubs whose
// relayed mail this machine takes: mail whose sender is of another machine
// than the one calling. Both files are read whole or not at all, and refused
// (nothing relayed, nothing taken from a hub) when others than their owner
// may write them, as KNOWN.TXT is.
//
// RelayField, at TransferAnnounce +480 (the last 32 of the extended offer's
// spare bytes, inside the scrambled record; written only into an announce
// that carries the offer, and only for mail that goes through a hub or comes
// from one)
//   +0   2  magic   "R>"
//   +2   1  hops    hubs the mail has passed so far (0 as it leaves its origin)
//   +3   1  zero
//   +4  24  origin  the machine of the mail's sender, as the header names it
//   +28  4  zero
//
// A hub files the mail as outgoing ("[@]") and keeps its hops + 1 in a relay
// note beside it ("[^]": "VLR^" and one byte). It refuses a mail that has
// passed kRelayHopLimit hubs or whose origin is the hub itself, so a mail
// sent round in a circle of routes stops after at most that many hops and
// goes back to its sender as a report from the machine where it stopped.
// A relayed mail kept without its note counts as at the limit: it may still
// reach its destination, but passes no further hub.
#pragma once
#include <stdint.h>

#include "store/format.h"

constexpr const char* kRoutesName = "ROUTES.TXT";
constexpr const char* kHubsName = "HUBS.TXT";
constexpr const char* kRelayNoteSuffix = "[^]";
constexpr int32_t kRelayHopLimit = 4;
constexpr int32_t kRouteLimit = 256;            // lines of a route file
constexpr int32_t kRouteFileLimit = 65536;      // bytes of a route file

constexpr int32_t kRelayFieldOffset = 480;
constexpr char kRelayMagic[2] = {'R', '>'};
constexpr int32_t kRelayHopsAt = 2;
constexpr int32_t kRelayOriginAt = 4;

// One line: a pattern (a machine id, or a prefix followed by "*") and the
// machine to dial for it (empty in HUBS.TXT).
struct Route {
  char pattern[kMachineSlotSize];
  char next[kMachineSlotSize];
};

struct RouteTable {
  int32_t count;
  Route routes[kRouteLimit];
};

enum RouteLoad : int32_t { kRoutesNone = 0, kRoutesRead = 1, kRoutesRefused = -1 };

struct RouteProblem {
  int32_t line;        // 1-based; 0 for the file as a whole
  const char* reason;
};

// Reads the lines of a route file (columns 2) or of HUBS.TXT (columns 1).
// False (table empty, problem filled) when any line is not sound.
bool ParseRouteLines(const char* text, int32_t length, int32_t columns, RouteTable& table, RouteProblem& problem);
// The file fileName of the program folder into table: kRoutesNone when there
// is none, kRoutesRefused (table empty, shown on the status line) when it is
// damaged or others than its owner may write it.
int32_t LoadRouteFile(const char* fileName, int32_t columns, RouteTable& table);
// The route for a destination machine id; null when it has none.
const Route* FindRoute(const RouteTable& table, const char* destination);

struct RelayField {
  int32_t hops;
  char origin[kMachineSlotSize];
};
void WriteRelayField(TransferAnnounce& announce, int32_t hops, const char* origin);
// False when the announce carries no relay field or a malformed one.
bool ReadRelayField(const TransferAnnounce& announce, RelayField& field);

// --- the sending role ---

// How one mail leaves: the machine to dial, and what its announce says of
// the relay.
struct RelayPlan {
  char via[kMachineSlotSize];     // the machine dialled: a route's hub, or the destination
  int32_t routed;                 // via is a hub
  int32_t relayed;                // the mail came through this machine from another origin
  int32_t hops;
  char origin[kMachineSlotSize];
};
// Plans the mail of spoolPath (first header unscrambled) for destination.
void PlanRelay(const char* spoolPath, const MailHeader& first, const char* destination, RelayPlan& plan);
// A mail that goes through a hub or comes from one needs the extended protocol.
bool RelayNeedsFrames(const RelayPlan& plan);
// Puts the relay field into the (unscrambled) announce when the plan needs
// it. False when it needs frames and this machine speaks only plain.
bool AddRelayField(TransferAnnounce& announce, const RelayPlan& plan);
// Relay notes whose mail is gone (sent, returned, never completed) go.
void RemoveOrphanRelayNotes();

// --- the receiving role ---

// The announce is for another machine than this one.
bool IsForRelay(const TransferAnnounce& announce);
// This machine relays mail for machineId (extended, and its routes cover it).
bool MayRelayTo(const char* machineId);
// Takes a mail announced for relay: writes its relay note beside spoolPath
// and returns null (also for mail that is no mail for relay), or returns why
// it is refused.
const char* TakeMailToRelay(const TransferAnnounce& announce, bool authenticated, const char* spoolPath);
// A mail whose sender is of senderMachine, brought by caller, is relayed
// mail this machine takes: in a framed call, named origin, hops within the
// limit, caller named in HUBS.TXT.
bool RelayedByNamedHub(const TransferAnnounce& announce, const char* senderMachine, const char* caller);
