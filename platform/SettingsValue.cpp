#include "platform/SettingsValue.h"

#include <string>

#include "platform/IntegerText.h"

std::optional<int32_t> StoredInteger(uint32_t type, const uint8_t* data, size_t size) {
  switch (type) {
    case kRegSz:
    case kRegExpandSz: {
      // The stored text need not end with its terminator.
      size_t n = 0;
      while (n < size && data[n] != 0) ++n;
      return ParseInteger(std::string(reinterpret_cast<const char*>(data), n));
    }
    case kRegDword: {
      if (size != 4) return std::nullopt;
      const uint32_t v = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                         uint32_t(data[3]) << 24;
      return static_cast<int32_t>(v);  // as regedit shows it in hex: 0xFFFFFFFF is -1
    }
    case kRegQword: {
      if (size != 8) return std::nullopt;
      uint64_t v = 0;
      for (int i = 7; i >= 0; --i) v = v << 8 | data[i];
      const auto s = static_cast<int64_t>(v);
      if (s < INT32_MIN || s > INT32_MAX) return std::nullopt;
      return static_cast<int32_t>(s);
    }
    default:
      return std::nullopt;
  }
}
