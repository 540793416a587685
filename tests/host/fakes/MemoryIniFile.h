// The settings store in memory: sections and value names ignore case, as in the registry.
#pragma once
#include <algorithm>
#include <cctype>
#include <map>
#include <string>

#include "platform/IntegerText.h"
#include "platform/SettingsStore.h"

class MemoryIniFile : public SettingsStore {
 public:
  std::map<std::string, std::map<std::string, std::string>> sections;  // lower-cased keys
  std::map<std::string, std::string> writtenNames;  // lower-cased -> name as last written
  std::string failOn;  // a value name whose access raises the store's error

  static std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
  }
  void Set(const std::string& section, const std::string& ident, const std::string& text) {
    sections[Lower(section)][Lower(ident)] = text;
  }
  const std::string* Get(const std::string& section, const std::string& ident) const {
    auto s = sections.find(Lower(section));
    if (s == sections.end()) return nullptr;
    auto v = s->second.find(Lower(ident));
    return v == s->second.end() ? nullptr : &v->second;
  }
  int32_t ReadInteger(const std::string& section, const std::string& ident, int32_t def) override {
    if (Lower(ident) == Lower(failOn)) throw SettingsStoreError("read " + ident);
    const std::string* text = Get(section, ident);
    return text ? ParseIntegerOr(*text, def) : def;
  }
  void WriteInteger(const std::string& section, const std::string& ident, int32_t value) override {
    if (Lower(ident) == Lower(failOn)) throw SettingsStoreError("write " + ident);
    Set(section, ident, std::to_string(value));
    writtenNames[Lower(ident)] = ident;
  }
};
