// The INI reader (see ini_reader.h).
#include "commlib/ini_reader.h"

#include <string_view>

namespace comm {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Where a comment starts: a ";" at the start or after a blank.
std::string_view withoutComment(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == ';' && (i == 0 || isBlank(text[i - 1]))) return text.substr(0, i);
  return text;
}

bool readLine(FILE* stream, std::string& line) {
  line.clear();
  int c;
  while ((c = fgetc(stream)) != EOF) {
    line += char(c);
    if (c == '\n') break;
  }
  return !line.empty();
}

}  // namespace

int ReadIni(FILE* stream, IniHandler handler, void* user) {
  std::string section, previousName, raw;
  int lineNumber = 0, firstError = 0;
  auto bad = [&]() {
    if (firstError == 0) firstError = lineNumber;
  };
  while (readLine(stream, raw)) {
    ++lineNumber;
    std::string_view line(raw);
    if (lineNumber == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    const bool indented = !line.empty() && isBlank(line.front());
    line = trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (indented && !previousName.empty()) {
      if (!handler(user, section, previousName, std::string(trim(withoutComment(line))), lineNumber)) bad();
    } else if (line.front() == '[') {
      std::string_view rest = withoutComment(line.substr(1));
      size_t close = rest.find(']');
      if (close == std::string_view::npos) {
        bad();
        continue;
      }
      section = std::string(rest.substr(0, close));
      previousName.clear();
    } else {
      std::string_view setting = withoutComment(line);
      size_t cut = setting.find_first_of("=:");
      if (cut == std::string_view::npos) {
        bad();
        continue;
      }
      previousName = std::string(trim(setting.substr(0, cut)));
      if (!handler(user, section, previousName, std::string(trim(setting.substr(cut + 1))), lineNumber)) bad();
    }
  }
  return firstError;
}

}  // namespace comm
