// store/delivery.h -- local delivery of complete "[=]" spool files.
#pragma once
#include <stdint.h>

int32_t DeliverLocalMails();
