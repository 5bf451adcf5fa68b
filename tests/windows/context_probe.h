// What the entry puts into the WindowContext, in plain numbers, for the test
// that compares it with the system's own handles (context_test.cpp). The two
// sides are separate files because the program's handle types and the
// system's carry the same names.
#pragma once
#include <stdint.h>

struct ContextProbe {
  uint32_t instance;
  const char* commandLine;
  uint32_t cursor;
  uint32_t icon;
  uint16_t iconIndex;
  bool dialogFound;   // a dialog made with the instance found its template
  bool pictureFound;  // and its picture, bitmap 110
};

// Fills the WindowContext as the entry does, in the current folder.
ContextProbe ProbeWindowContext();
// The program's icon 100 as 32-bit RGBA rows, top first; its side in *size.
const uint8_t* ProgramIconPixels(int32_t* size);
