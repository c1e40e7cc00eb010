// What the web build's C++ library (libc++ 13) lacks of C++20 and C++17 and Kelp uses:
// std::bit_cast and floating-point std::to_chars. The web build includes this before
// every source; the native build never sees it.
#pragma once

#if defined(__EMSCRIPTEN__) && defined(__cplusplus)
#include <bit>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif

namespace std {
namespace kelp_compat {

inline to_chars_result copyOut(char* first, char* last, const char* text, int length) {
  if (length < 0 || length > last - first) return {last, errc::value_too_large};
  std::memcpy(first, text, static_cast<size_t>(length));
  return {first + length, errc()};
}

inline to_chars_result printed(char* first, char* last, const char* format, int precision, double value) {
  char buffer[400];
  const int length = std::snprintf(buffer, sizeof buffer, format, precision, value);
  return copyOut(first, last, buffer, length);
}

// The fewest significant digits that read back as `value`, as "%.*e" writes them.
inline std::string shortestScientific(double value) {
  char buffer[64];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(buffer, sizeof buffer, "%.*e", digits - 1, value);
    if (std::strtod(buffer, nullptr) == value) break;
  }
  return buffer;
}

// The shortest digits laid out without an exponent.
inline std::string shortestFixed(double value) {
  std::string sci = shortestScientific(value);
  std::string sign;
  if (sci[0] == '-') {
    sign = "-";
    sci.erase(0, 1);
  }
  const size_t e = sci.find('e');
  const int exponent = std::atoi(sci.c_str() + e + 1);
  std::string digits;
  for (size_t i = 0; i < e; ++i)
    if (sci[i] != '.') digits += sci[i];
  const int point = exponent + 1;  // digits before the decimal point
  std::string out;
  if (point <= 0) {
    out = "0." + std::string(static_cast<size_t>(-point), '0') + digits;
  } else if (static_cast<size_t>(point) >= digits.size()) {
    out = digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
  } else {
    out = digits.substr(0, static_cast<size_t>(point)) + "." + digits.substr(static_cast<size_t>(point));
  }
  return sign + out;
}

inline bool special(char* first, char* last, double value, to_chars_result& result) {
  if (value == value && value - value == 0) return false;
  const char* text = value != value ? (std::signbit(value) ? "-nan" : "nan") : value < 0 ? "-inf" : "inf";
  result = copyOut(first, last, text, static_cast<int>(std::strlen(text)));
  return true;
}

}  // namespace kelp_compat

inline to_chars_result to_chars(char* first, char* last, double value, chars_format format, int precision) {
  to_chars_result result;
  if (kelp_compat::special(first, last, value, result)) return result;
  return kelp_compat::printed(first, last, format == chars_format::fixed ? "%.*f" : "%.*e", precision, value);
}

inline to_chars_result to_chars(char* first, char* last, double value, chars_format format) {
  to_chars_result result;
  if (kelp_compat::special(first, last, value, result)) return result;
  std::string text;
  if (format == chars_format::fixed) {
    text = kelp_compat::shortestFixed(value);
  } else {
    text = kelp_compat::shortestScientific(value);
    // Without a format the shorter layout wins, the one without an exponent on a tie.
    if (format != chars_format::scientific) {
      std::string fixed = kelp_compat::shortestFixed(value);
      if (fixed.size() <= text.size()) text = fixed;
    }
  }
  return kelp_compat::copyOut(first, last, text.data(), static_cast<int>(text.size()));
}

inline to_chars_result to_chars(char* first, char* last, double value) {
  return to_chars(first, last, value, chars_format::general);
}

// Reads what the native from_chars reads: an optional minus, digits with a point, an
// exponent, "inf" or "nan"; no spaces, no plus and no hexadecimal, which strtod would take.
inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format format = chars_format::general) {
  (void)format;
  const char* p = first;
  if (p != last && *p == '-') ++p;
  if (p == last || !(*p == '.' || (*p >= '0' && *p <= '9') || *p == 'i' || *p == 'I' || *p == 'n' || *p == 'N'))
    return {first, errc::invalid_argument};
  if (last - p > 1 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    value = 0;  // as the native call: the zero before the "x"
    return {p + 1, errc()};
  }
  std::string copy(first, last);
  char* end = nullptr;
  errno = 0;
  const double read = std::strtod(copy.c_str(), &end);
  if (end == copy.c_str()) return {first, errc::invalid_argument};
  const char* stop = first + (end - copy.c_str());
  if (errno == ERANGE && (read == HUGE_VAL || read == -HUGE_VAL)) return {stop, errc::result_out_of_range};
  value = read;
  return {stop, errc()};
}

}  // namespace std
#endif
