// The process's own handles on Linux: there are none (see handles.h).
#include "winapi/handles.h"

uint32_t waHostModule() { return 0; }

// The classic platform's number for its standard arrow.
uint32_t waHostArrowCursor() { return 32512; }

// A Linux file carries no icon resources.
uint32_t waHostFileIcon(uint32_t, const char*, uint16_t*) { return 0; }

uint32_t waHostModuleIcon(uint32_t, int32_t) { return 0; }
