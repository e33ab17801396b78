#include "tools/cli/vcCliText.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace {

std::string hex(unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02X", c);
  return buf;
}

// Length of the well-formed UTF-8 sequence starting at s[i], or 0.
std::size_t utf8Length(const std::string& s, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  const std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  const unsigned char d = static_cast<unsigned char>(s[i + 1]);
  if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) ||
      (c == 0xF4 && d >= 0x90))
    return 0;  // overlong forms, surrogates, past U+10FFFF
  return n;
}

}  // namespace

std::string vfPrintable(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const std::size_t n = utf8Length(s, i);
      if (n) {
        // C1 controls (U+0080 to U+009F) act on terminals too.
        if (c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0)
          out += hex(c) + hex(static_cast<unsigned char>(s[i + 1]));
        else
          out.append(s, i, n);
        i += n;
      } else {
        out += hex(c);
        ++i;
      }
      continue;
    }
    if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\r')
      out += "\\r";
    else if (c < 0x20 || c == 0x7F)
      out += hex(c);
    else
      out += char(c);
    ++i;
  }
  return out;
}

std::string vfErrorText(const std::exception& e) {
  if (*e.what()) return e.what();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), std::free);
  return std::string(status == 0 && name ? name.get() : typeid(e).name()) +
         " (the library gave no reason)";
}
