// tests/common/temp_folder.h -- a new folder of the test's own under the
// system's temporary folder, on Linux and Windows alike.
#pragma once
#include <filesystem>
#include <random>
#include <string>

// A folder that did not exist before, named stem and a random number; an
// empty path when none could be made.
inline std::filesystem::path MakeTempFolder(const char* stem) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path folder = std::filesystem::temp_directory_path() / (std::string(stem) + std::to_string(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(folder, ec)) return folder;
  }
  return {};
}
