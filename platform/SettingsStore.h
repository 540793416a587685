// The registry-backed settings store as the core sees it: sections hold integer values
// stored as decimal text. The Win32 build binds it to HKCU\SOFTWARE\Brightloom\MVR Server.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The default when the section or value is missing or can't be read as an integer.
  virtual int32_t ReadInteger(const std::string& section, const std::string& ident,
                              int32_t def) = 0;
  // Creates the section when missing; writes the decimal text.
  virtual void WriteInteger(const std::string& section, const std::string& ident,
                            int32_t value) = 0;
};

// Raised by a store that cannot create a section or write a value.
class SettingsStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
