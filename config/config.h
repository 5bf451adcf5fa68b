// config/config.h -- the machine's two configuration records.
//
// "VL.INI" holds the UnitRecord, "Velloran.INI" the SettingsRecord: 512 bytes
// each, scrambled as a whole on disk (vlData direction 1), unscrambled in
// memory for the whole run. Every field is a fixed slot of zero-terminated
// text; numbers and switches are decimal text. Bytes no field covers keep
// whatever the file held: the record is always written back whole.
//
//  UnitRecord                              SettingsRecord
//  off  width  field                       off  width  field
//    0   24    MachID                        0    4    Signal
//   24   24    Online MachID                 4    4    Port
//   48   32    Owner                         8    4    Aux. Port
//   80   24    ControlID                    12    8    Baud
//  104   16    Control Key                  20   16    Set CMD
//  120   18    (not used)                   36   48    Initialization CMD
//  138    6    account count                84   16    Dial
//  144    4    Redial                      100   16    Answer
//  148    4    Enable ECourier             116    4    Line Protocol ("0": plain only)
//  152    4    ECourier interval           120    4    Plain callers
//  156    4    Auto Aux. Port              124    8    Mail limit (MB)
//  160  352    (not used)                  132  380    (not used)
//
// Plain callers (read by AcceptsPlainCallers, link/secure.h): "0" refuses
// callers that do not prove a machine key; anything else, the zero bytes of
// files older than the field included, accepts them.
//
// Mail limit (read by MailLimitBlocks, store/linecost.h): the largest mail,
// in MB, that the writer and vlpost post; empty or 0 (older files) is the
// longest mail a receiver takes.
#pragma once
#include <stdint.h>

constexpr int32_t kRecordSize = 512;

struct FieldSlot {
  int32_t offset;
  int32_t width;
};

namespace UnitField {
constexpr FieldSlot MachID{0, 24};
constexpr FieldSlot OnlineMachID{24, 24};
constexpr FieldSlot Owner{48, 32};
constexpr FieldSlot ControlID{80, 24};
constexpr FieldSlot ControlKey{104, 16};
constexpr FieldSlot AccountCount{138, 6};
constexpr FieldSlot Redial{144, 4};
constexpr FieldSlot EnableECourier{148, 4};
constexpr FieldSlot ECourierInterval{152, 4};
constexpr FieldSlot AutoAuxPort{156, 4};
}  // namespace UnitField

namespace SettingsField {
constexpr FieldSlot Signal{0, 4};
constexpr FieldSlot Port{4, 4};
constexpr FieldSlot AuxPort{8, 4};
constexpr FieldSlot Baud{12, 8};
constexpr FieldSlot SetCmd{20, 16};
constexpr FieldSlot InitCmd{36, 48};
constexpr FieldSlot Dial{84, 16};
constexpr FieldSlot Answer{100, 16};
// Bytes older files leave zero, which readers of the original layout never
// look at: empty means the machine speaks the extended line protocol.
constexpr FieldSlot LineProtocol{116, 4};
constexpr FieldSlot PlainCallers{120, 4};
constexpr FieldSlot MailLimitMb{124, 8};
}  // namespace SettingsField

// A live record: 512 bytes, kept unscrambled.
struct ConfigRecord {
  char bytes[kRecordSize];
  // Never read from or written to a file: a slot left unterminated by a file
  // from elsewhere makes Text() run on, but it ends here, not past the record.
  char end = 0;
  // The field's text (zero-terminated inside its slot as long as writers keep
  // to width - 1 characters; SetText enforces it).
  char* Text(FieldSlot slot) { return bytes + slot.offset; }
  const char* Text(FieldSlot slot) const { return bytes + slot.offset; }
  // The field read as a number (pStrVal); empty or non-numeric text reads as
  // 0, and a slot filled to its last byte is read no further than the slot.
  int32_t Number(FieldSlot slot) const;
  // Clears the slot and stores at most width - 1 bytes of text.
  void SetText(FieldSlot slot, const char* text);
  // Clears the slot and stores the number as decimal text (pStr).
  void SetNumber(FieldSlot slot, int32_t value);
};

// The program folder, the three paths built from it, and the two live records.
struct ConfigState {
  char programFolder[256];
  char unitPath[256];      // program folder + "VL.INI"
  char settingsPath[256];  // program folder + "Velloran.INI"
  char spoolPath[256];     // program folder + "POST"
  ConfigRecord unit;
  ConfigRecord settings;
};

ConfigState& Config();
void ResetConfig();

// Reads 512 bytes from the start of path and unscrambles them; a shorter file
// leaves the rest of the record zero. Returns the number of bytes read.
int32_t ReadRecord(const char* path, ConfigRecord& record);
// The one way records are written: scramble in place, write 512 bytes at
// offset 1 (created if missing, never shortened), unscramble again.
void WriteRecord(const char* path, ConfigRecord& record);
