// Number and flag formatting for debug strings. Independent of the global C++ locale: always
// '.' as decimal point and no digit grouping.
#pragma once

#include <cstdio>
#include <string>

std::string vfStr(bool v);  // "true" / "false"
std::string vfStr(int v);
std::string vfStr(long v);
std::string vfStr(long long v);
std::string vfStr(unsigned v);
std::string vfStr(unsigned long v);
std::string vfStr(unsigned long long v);
// Shortest form that reads back to the same value ("0.1", "1e+20", "-3").
std::string vfStr(double v);
std::string vfStr(float v);
// A bound as messages write it: a large power of ten as "1e6", anything else as vfStr.
std::string vfBoundStr(double v);
// `digits` digits after the decimal point (clamped to 0..30), fixed notation, or scientific
// notation when `scientific` is set: vfDbl(2.5, 2, false) == "2.50", vfDbl(1234.5, 1, true)
// == "1.2e+03". NaN and infinities print as "nan", "inf" and "-inf".
std::string vfDbl(double v, int digits, bool scientific = false);

// printf-style formatting into a string; numbers follow the C library's locale, which stays
// "C" unless a program sets another.
template <class... Args>
std::string vfFormat(const char* fmt, Args... args) {
  std::string out(std::size_t(std::snprintf(nullptr, 0, fmt, args...)), '\0');
  std::snprintf(out.data(), out.size() + 1, fmt, args...);
  return out;
}
