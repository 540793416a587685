#include "windows/VersionText.h"

#include <cstdio>

#include "platform/IntegerText.h"

std::string NextToken(std::string& text, char separator) {
  const auto pos = text.find(separator);
  if (pos == std::string::npos) {
    std::string all;
    all.swap(text);
    return all;
  }
  std::string front = text.substr(0, pos);
  text.erase(0, pos + 1);
  return front;
}

std::string VersionStringOf(const std::string& fileVersion) {
  std::string rest = fileVersion;
  const int major = ParseIntegerOr(NextToken(rest, '.'), 0);
  const int minor = ParseIntegerOr(NextToken(rest, '.'), 0);
  const int release = ParseIntegerOr(NextToken(rest, '.'), 0);
  char buf[64];
  if (release >= 1 && release <= 26)
    std::snprintf(buf, sizeof buf, "V%d.%d%c", major, minor, static_cast<char>('a' + release - 1));
  else
    std::snprintf(buf, sizeof buf, "V%d.%d.%d", major, minor, release);
  return buf;
}

std::string ProgramBaseName(const std::string& programPath) {
  const auto slash = programPath.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
  const auto dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

namespace {

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string FindVersionValue(const std::vector<uint8_t>& image, const std::string& key, int skip) {
  // The resource is UTF-16 text of size div 2 characters; an odd last byte is dropped.
  const size_t n = image.size() / 2;
  std::vector<uint16_t> text(n);
  for (size_t i = 0; i < n; ++i)
    text[i] = static_cast<uint16_t>(image[2 * i] | (image[2 * i + 1] << 8));
  if (key.empty() || key.size() > n || skip < 0) return {};
  size_t at = n;
  for (size_t i = 0; i + key.size() <= n && at == n; ++i) {
    size_t k = 0;
    while (k < key.size() && text[i + k] == static_cast<unsigned char>(key[k])) ++k;
    if (k == key.size()) at = i;
  }
  if (at == n) return {};
  size_t p = at + key.size() + static_cast<size_t>(skip);
  std::string value;
  for (; p < n && text[p] != 0; ++p) {
    uint32_t c = text[p];
    if (c >= 0xD800 && c < 0xDC00 && p + 1 < n && text[p + 1] >= 0xDC00 && text[p + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[p + 1] - 0xDC00);
      ++p;
    }
    AppendUtf8(value, c);
  }
  return value;
}
