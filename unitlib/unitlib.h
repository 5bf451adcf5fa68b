// unitlib/unitlib.h -- how the unit library works (the calls are in
// platform/unit.h; everything here is private to the library).
//
// Scrambling (vlData)
// -------------------
// Records are scrambled byte by byte: byte i becomes t_i(byte), where t_i is
// a bijection of the 256 byte values chosen by a key derived from i alone.
// Nothing depends on the buffer's length, so unscrambling the first m bytes of
// a scrambled record gives the first m bytes of the record -- a short file
// read into a cleared record unscrambles to its own bytes and zeros.
//
// Every t_i maps the 16 bytes of kHexSource (control codes that text never
// holds) onto the 16 lower-case hex digits, and the other 240 bytes onto the
// other 240 values; so zero, every printable character and every byte from
// 0x16 up scramble to something that is not a hex digit.
//
// Names. A buffer of length 2n whose first n bytes hold no zero and whose last
// n bytes are all zero is a name text: it becomes 2n lower-case hex digits,
// two per text byte (the hex of u_j(byte), u_j a keyed bijection of position
// j), so names are safe file names, equal texts give equal names and
// different texts different ones. Unscrambling recognises a name by its form
// exactly: even length, every byte a lower-case hex digit, and every decoded
// byte non-zero (a name text has no zero byte).
//
// Why records and names cannot be confused: the positional scramble of a
// buffer is all hex digits only when every byte of the buffer comes from
// kHexSource. A record always holds a zero, text or a digit; and a random
// buffer of length L has a chance of 16^-L of consisting only of those bytes
// (and less of then decoding as a name). That set -- even-length buffers made
// only of the bytes 0x01-0x08 and 0x0E-0x15 -- is the one place where
// unscrambling does not undo scrambling; the system never scrambles such a
// buffer. Every other buffer round-trips exactly, names included.
//
// Compression (vlOptimize)
// ------------------------
// Attachments are packed into an .xz stream (CRC-64 checked) with the x86
// branch filter before LZMA2 at preset 6, the dictionary no larger than the
// file needs. Measured on 10.5 MB of mixed text, executables and random bytes
// this is 1.4 % smaller than "xz -9e" and 3 % smaller than "zstd -19 --long",
// and decoding needs under 10 MiB (see bench/unitlib).
//
// The packed copy is made in a private folder of this process (mode 0700,
// under /tmp) under one fixed name: the attachment's own folder may be
// read-only or removable, a leftover there would litter the user's folder,
// and a private folder cannot be raced by another user. The caller reads the
// copy and deletes it; the folder goes at exit.
//
// Unpacking writes a temporary file beside the attachment and renames it over
// the attachment only when the whole stream decoded and checked, so a refusal
// leaves the file as it was. Refused: anything that is not one complete .xz
// stream (trailing bytes included), a stream needing more than kDecoderMemory,
// and output beyond what the stream itself declares. Every .xz stream ends
// with an index that lists each of its blocks with its packed and unpacked
// size; before a byte is decoded, the index is read from the end of the file,
// it must account for every byte of the file (the sum of the chunks the
// reader saved), and the unpacked size it declares must be at most kMaxOutput.
// Decoding then stops the moment the output passes that declared size, and
// the decoder itself checks the index against the blocks it decoded. So no
// stream unpacks into more than it declares, nor any into more than the
// largest attachment packing takes -- while an honest file of any ratio (a
// long log, a disk image of zeros) travels and unpacks.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace unitlib {

constexpr uint64_t kMaxOutput = 256ull << 20;    // largest attachment, packed or unpacked
constexpr uint64_t kMaxIndex = 1ull << 20;       // our streams' index is a few dozen bytes
constexpr uint64_t kDecoderMemory = 32ull << 20;  // our streams need under 10 MiB
constexpr uint32_t kPreset = 6;

}  // namespace unitlib
