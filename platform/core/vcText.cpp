#include "platform/core/vcText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace {
template <class T>
std::string integer(T v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string special(double v) {
  if (std::isnan(v)) return "nan";
  return v < 0 ? "-inf" : "inf";
}
}  // namespace

std::string vfStr(bool v) { return v ? "true" : "false"; }
std::string vfStr(int v) { return integer(v); }
std::string vfStr(long v) { return integer(v); }
std::string vfStr(long long v) { return integer(v); }
std::string vfStr(unsigned v) { return integer(v); }
std::string vfStr(unsigned long v) { return integer(v); }
std::string vfStr(unsigned long long v) { return integer(v); }

std::string vfStr(double v) {
  if (!std::isfinite(v)) return special(v);
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string vfBoundStr(double v) {
  std::string s = vfStr(v);
  const std::size_t e = s.find("e+");
  if (e == std::string::npos) return s;
  std::size_t digits = e + 2;
  while (digits + 1 < s.size() && s[digits] == '0') ++digits;
  return s.substr(0, e + 1) + s.substr(digits);
}

std::string vfStr(float v) {
  if (!std::isfinite(v)) return special(v);
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string vfDbl(double v, int digits, bool scientific) {
  if (!std::isfinite(v)) return special(v);
  if (digits < 0) digits = 0;
  if (digits > 30) digits = 30;
  // Fixed notation of 1e308 with 30 decimals needs about 340 characters.
  char buf[400];
  const auto r =
      std::to_chars(buf, buf + sizeof buf, v,
                    scientific ? std::chars_format::scientific : std::chars_format::fixed, digits);
  if (r.ec != std::errc()) return vfStr(v);
  return std::string(buf, r.ptr);
}
