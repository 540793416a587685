// Decimal integer text as the settings store and the profile file keep it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

// Optional blanks, an optional sign, then decimal digits to the end; anything else, and
// values outside the signed 32-bit range, are no integer.
std::optional<int32_t> ParseInteger(const std::string& text);

inline int32_t ParseIntegerOr(const std::string& text, int32_t def) {
  auto v = ParseInteger(text);
  return v ? *v : def;
}
