// toolkit/codepage.h -- one byte from code page 1252 to 437 or back, as the
// host converts it (private to the toolkit): codepage_posix.cpp (iconv),
// codepage_win32.cpp (the platform's code page tables).
#pragma once

namespace codepage {

// The byte in the other code page; '?' when it has no single byte for it.
unsigned char ToOem(unsigned char ansi);
unsigned char ToAnsi(unsigned char oem);

}  // namespace codepage
