// commlib/ini_reader.h -- the small INI reader behind "ruk_comm.ini".
//
// One line at a time: blanks around names and values are dropped; a line
// starting with ";" or "#" is a comment, and so is the rest of a line from a
// ";" that follows a blank; "[name]" opens a section; "name = value" (or
// "name: value") is a setting; an indented line after a setting continues
// it, reported as the same name again; a UTF-8 byte-order mark at the start
// is skipped. Any other line is an error.
#pragma once
#include <stdio.h>

#include <string>

namespace comm {

// Receives each setting with its line number; false marks the line bad.
using IniHandler = bool (*)(void* user, const std::string& section, const std::string& name,
                            const std::string& value, int line);

// Reads the stream to its end and gives every setting to the handler.
// Returns 0, or the number of the first bad line.
int ReadIni(FILE* stream, IniHandler handler, void* user);

}  // namespace comm
