// store/linecost.h -- what an attachment costs on the line, told before a
// mail is posted (the writer, vlpost): its packed size, and the time its
// blocks take at the machine's Baud setting (8N1: ten bits a byte, every
// block 4096 bytes on the line whatever it carries). A mail may not grow
// beyond the machine's Mail limit, by default the longest chain a receiver
// takes (kMaxMailBlocks).
#pragma once
#include <stdint.h>

// An attachment whose blocks take longer than this on the line is attached
// only when the user says so.
constexpr int64_t kAskAboveLineSeconds = 60;

// Blocks of a packed file of this size.
int32_t AttachmentBlocks(int64_t packedBytes);
// Seconds the blocks take on the line at baud; -1 for a rate of 0 or less.
int64_t LineSeconds(int64_t blocks, int32_t baud);
// "12.3 MB packed, about 1 h 5 min on the line at 57600 baud" (without the
// time when the rate is unknown), into out (cleared first).
void LineCostText(int64_t packedBytes, int32_t baud, char* out, int32_t capacity);
// The longest mail this machine posts, in blocks: its Mail limit setting,
// or the longest chain a receiver takes when that is empty or 0.
int64_t MailLimitBlocks();
// "the mail limit of 40 MB" or "the largest mail a receiver takes", into
// out (cleared first).
void MailLimitText(char* out, int32_t capacity);
