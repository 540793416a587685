// The settings store on the registry: HKCU\SOFTWARE\Brightloom\MVR Server, sections as
// subkeys, integers written as REG_SZ decimal text; a DWORD or QWORD someone stored by hand
// reads as its number. Opened, used and freed at once by each user.
#pragma once
#include <windows.h>

#include <string>

#include "platform/SettingsStore.h"

extern const char* const kSettingsKey;  // "SOFTWARE\Brightloom\MVR Server"

class RegistryIniFile : public SettingsStore {
 public:
  // Opens (creating if needed) the key below HKEY_CURRENT_USER.
  explicit RegistryIniFile(const std::string& key = kSettingsKey);
  ~RegistryIniFile() override;
  RegistryIniFile(const RegistryIniFile&) = delete;
  RegistryIniFile& operator=(const RegistryIniFile&) = delete;

  int32_t ReadInteger(const std::string& section, const std::string& ident, int32_t def) override;
  void WriteInteger(const std::string& section, const std::string& ident, int32_t value) override;

 private:
  HKEY root_ = nullptr;
};
