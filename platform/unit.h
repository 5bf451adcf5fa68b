// platform/unit.h -- the unit library as the program calls it.
//
// vlData scrambles (direction 1) or unscrambles (-1) a buffer in place; the
// length never changes and -1 exactly undoes 1 for the same length. A name is
// made by scrambling a text of n characters in a zero-filled 256-byte buffer
// with length 2n: the 2n resulting characters are a safe file name (one letter
// case, digits; no separator, wildcard, bracket, blank or dot), the same text
// always gives the same name and different texts give different names.
//
// vlOptimize(1, path, console, 2024) makes a compressed copy of the file and
// returns its path (0 or an empty path when nothing could be made); the caller
// reads and deletes it. vlOptimize(-1, path, ...) decompresses the file in
// place; malformed or absurdly expanding input is refused and the file kept.
// Both advance progress bar 'barId' of 'console'.
//
// Calling convention: the platform's C convention (cdecl on 32-bit Windows,
// the caller removes the arguments), exported from vlUnit.dll under the plain
// names, as the communication library's calls are.
#pragma once
#include <stdint.h>
#include "toolkit/export.h"
#include "winapi/types.h"

#ifdef __cplusplus
extern "C" {
#endif

VL_VISIBLE void vlData(int32_t direction, void* buffer, int32_t length);
VL_VISIBLE const char* vlOptimize(int32_t direction, const char* path, HWND console, int32_t barId);

#ifdef __cplusplus
}
#endif
