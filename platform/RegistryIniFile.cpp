#include "platform/RegistryIniFile.h"

#include "platform/IntegerText.h"

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
  if (!root_) return def;
  HKEY sub = nullptr;
  if (RegOpenKeyExA(root_, section.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) return def;
  char text[64] = {};
  DWORD size = sizeof text - 1;
  DWORD type = 0;
  const LONG rc = RegQueryValueExA(sub, ident.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(sub);
  if (rc == ERROR_FILE_NOT_FOUND) return def;
  if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)
    throw SettingsStoreError("Ungültiger Wert in der Registrierung: " + ident);
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw SettingsStoreError("Ungültiger Datentyp für '" + ident + "'");
  if (rc == ERROR_MORE_DATA) return def;  // far too long to be a number
  return ParseIntegerOr(std::string(text, strnlen(text, size)), def);
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
