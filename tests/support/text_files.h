// Text helpers for tests that read what a tool wrote: a whole file, and counts of a marker.
#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vcTest {

// The file's bytes; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// How often `what` occurs in `s`, overlaps included.
inline std::size_t count(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (auto p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

}  // namespace vcTest
