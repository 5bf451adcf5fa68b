// toolkit/text.h -- integers, text and memory.
//
// The system's own runtime: every other module does its arithmetic, string
// handling and memory work through these operations, so their exact results
// (the rounding of pDivide, 1-based positions, no terminators written by the
// copying operations, the private static result buffers of pChr, pHex, pStr
// and pIsChrValid) are part of the contract.
//
// Conventions: text is zero-terminated single-byte text in code page 1252;
// positions are 1-based; yes/no results are 1 and 0. Operations that fold case
// do so in place (ASCII only) and change the caller's text: pass writable
// buffers to pGetW and pIsStrEqual, never string literals.
#pragma once
#include <stdint.h>
#include "toolkit/export.h"

VL_OP int32_t pAdd(int32_t a, int32_t b);
VL_OP int32_t pSubtract(int32_t a, int32_t b);
VL_OP int32_t pMultiply(int32_t a, int32_t b);
VL_OP int32_t pDivide(int32_t a, int32_t b);
VL_OP int32_t pMask(int32_t value, int32_t mask);
VL_OP int32_t pRange(int32_t value, int32_t low, int32_t high);
VL_OP int32_t pSetDW(int32_t value);
VL_OP int32_t pSetW2DW(int32_t value);
VL_OP int32_t pGetW(char* selector, int32_t value);

VL_OP char* pChr(int32_t code);
VL_OP int32_t pAsc(const char* s);
VL_OP int32_t pHexVal(const char* s);
VL_OP char* pHex(int32_t value);
VL_OP char* pStr(int32_t value);
VL_OP int32_t pStrVal(const char* s);

VL_OP int32_t pClrMem(void* dest, int32_t count);
VL_OP int32_t pCopyMem(const void* src, void* dest, int32_t count);
VL_OP int32_t pFillMem(void* dest, int32_t count, int32_t value);
// op 1: allocate value zero-filled bytes, returns the address (0 on failure);
// op 0 with value != 0: free the block at address value, returns 0 when freed.
VL_OP intptr_t pMemory(int32_t op, intptr_t value);

VL_OP int32_t pCmp(const char* a, const char* b);
VL_OP int32_t pLen(const char* s);
VL_OP char* pMid(const char* src, char* dest, int32_t start, int32_t count);
VL_OP char* pLeft(const char* src, char* dest, int32_t n);
VL_OP char* pRight(const char* src, char* dest, int32_t n);
VL_OP int32_t pInstrL2R(int32_t start, const char* s, const char* pattern);
VL_OP int32_t pInstrR2L(int32_t start, const char* s, const char* pattern);
VL_OP char* pXStr(int32_t direction, const char* s, char* dest, const char* separator, int32_t keep);
VL_OP int32_t pIsChrValid(const char* s, const char* alphabet);
VL_OP int32_t pIsStrEqual(char* a, char* b);
VL_OP int32_t pIsStrNull(const char* s);
VL_OP char* pBuildStr(const char* s, char* dest);
VL_OP char* pBuildPath(const char* folder, const char* name, char* dest);
VL_OP int32_t pChar2OEM(int32_t direction, char* ansi, char* oem, int32_t length);
VL_OP int32_t pPentium(void);

// Raises every byte "A".."Z" by 32, stops at the terminator, returns text.
// Every typed id, key and name is folded with it before it is compared or stored.
VL_EXPORT char* LowerCaseInPlace(char* text);
