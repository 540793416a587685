#include "platform/RegistryIniFile.h"

#include "platform/SettingsValue.h"

const char* const kSettingsKey = "SOFTWARE\\Brightloom\\MVR Server";

RegistryIniFile::RegistryIniFile(const std::string& key) {
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                      &root_, nullptr) != ERROR_SUCCESS)
    root_ = nullptr;
}

RegistryIniFile::~RegistryIniFile() {
  if (root_) RegCloseKey(root_);
}

int32_t RegistryIniFile::ReadInteger(const std::string& section, const std::string& ident,
                                     int32_t def) {
  // A value that can't be read as an integer gives the default, whatever the reason: one bad
  // value must not keep the others, or the port, from loading.
  if (!root_) return def;
  HKEY sub = nullptr;
  if (RegOpenKeyExA(root_, section.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) return def;
  BYTE data[64] = {};
  DWORD size = sizeof data;
  DWORD type = 0;
  const LONG rc = RegQueryValueExA(sub, ident.c_str(), nullptr, &type, data, &size);
  RegCloseKey(sub);
  if (rc != ERROR_SUCCESS) return def;  // missing, or far too long to be a number
  const auto value = StoredInteger(type, data, size);
  return value ? *value : def;
}

void RegistryIniFile::WriteInteger(const std::string& section, const std::string& ident,
                                   int32_t value) {
  HKEY sub = nullptr;
  if (!root_ || RegCreateKeyExA(root_, section.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &sub,
                                nullptr) != ERROR_SUCCESS)
    throw SettingsStoreError("Fehler beim Erstellen des Schlüssels " + section);
  const std::string text = std::to_string(value);
  const LONG rc = RegSetValueExA(sub, ident.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(sub);
  if (rc != ERROR_SUCCESS)
    throw SettingsStoreError("Fehler beim Schreiben des Werts " + ident);
}
