#include "child.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testsupport {

std::string make_temp_dir() {
  // A fresh name under the system's temporary folder, tried until one is free.
  static std::mt19937_64 names(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("quintolex-dir-" + std::to_string(names()));
    if (std::filesystem::create_directory(path)) return path.string();
  }
  throw std::runtime_error("no fresh temporary folder");
}

void remove_dir(const std::string& path) { std::filesystem::remove_all(path); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string visible(const std::string& bytes) {
  std::string shown;
  for (char ch : bytes) {
    switch (ch) {
      case '\r': shown += "\\r"; break;
      case '\n': shown += "\\n\n"; break;
      case '\f': shown += "\\f"; break;
      default: shown += ch;
    }
  }
  return shown;
}

}  // namespace testsupport
