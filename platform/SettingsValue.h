// A stored settings value read as an integer, whatever type it was given in the registry
// editor: text as decimal, a DWORD or QWORD as its number. Portable, so host tests run it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

// The registry's type numbers this reader knows.
enum : uint32_t {
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegDword = 4,
  kRegQword = 11,
};

// No value when the data is no integer in the signed 32-bit range or of another type.
std::optional<int32_t> StoredInteger(uint32_t type, const uint8_t* data, size_t size);
