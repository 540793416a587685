#include "windows/ViewerRules.h"

#include <algorithm>
#include <cctype>

#include "platform/IntegerText.h"

int32_t ProfileValue(const std::optional<std::string>& text, int32_t def) {
  if (!text) return def;
  const std::string& t = *text;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    if (t.size() > 10) return def;
    uint32_t v = 0;
    for (size_t i = 2; i < t.size(); ++i) {
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(t[i])));
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else return def;
      v = (v << 4) | static_cast<uint32_t>(d);
    }
    return static_cast<int32_t>(v);
  }
  return ParseIntegerOr(t, def);
}

int32_t ClampRange(int32_t v, int32_t lo, int32_t hi) { return std::max(std::min(v, hi), lo); }

ViewerSettings ReadViewerSettings(const std::function<std::optional<std::string>(const char*)>& read,
                                  int screenWidth, int screenHeight) {
  ViewerSettings s;
  auto num = [&](const char* key, int32_t def) { return ProfileValue(read(key), def); };
  s.Width = ClampRange(num("Width", s.Width), 0, screenWidth);
  s.Height = ClampRange(num("Height", s.Height), 0, screenHeight);
  s.Left = ClampRange(num("Left", s.Left), 0, screenWidth - s.Width);
  s.Top = ClampRange(num("Top", s.Top), 0, screenHeight - s.Height);
  s.State = ClampRange(num("State", s.State), 0, 2);
  if (auto font = read("Font"); font && !font->empty()) s.Font = *font;
  s.Size = ClampRange(num("Size", s.Size), 4, 72);
  s.Style = ClampRange(num("Style", s.Style), 0, 15);
  s.Wrap = num("Wrap", 1) != 0;
  s.FontColor = num("FontColor", s.FontColor);
  s.BackColor = num("BackColor", s.BackColor);
  return s;
}

std::vector<std::pair<std::string, std::string>> ViewerSettingsToWrite(const ViewerSettings& s) {
  std::vector<std::pair<std::string, std::string>> out;
  auto add = [&](const char* key, int32_t v) { out.emplace_back(key, std::to_string(v)); };
  add("State", s.State);
  if (s.State == 0) {
    add("Left", s.Left);
    add("Top", s.Top);
    add("Width", s.Width);
    add("Height", s.Height);
  }
  out.emplace_back("Wrap", s.Wrap ? "1" : "0");
  out.emplace_back("Font", s.Font);
  add("Size", s.Size);
  add("Style", s.Style);
  add("FontColor", s.FontColor);
  add("BackColor", s.BackColor);
  return out;
}

int32_t ViewerHeight(int lines, int screenHeight) {
  const int64_t h = 13 * static_cast<int64_t>(lines) + 46;
  return static_cast<int32_t>(std::max<int64_t>(std::min<int64_t>(h, screenHeight), 150));
}

int CountTextLines(const std::string& text) {
  int lines = 0;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      ++lines;
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) ++lines;
  return lines;
}

namespace {
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

std::string UniqueName(const std::string& base, const std::function<bool(const std::string&)>& taken) {
  if (!taken(Lower(base))) return base;
  for (int i = 1;; ++i) {
    std::string name = base + "_" + std::to_string(i);
    if (!taken(Lower(name))) return name;
  }
}

int FittingFontSize(int size, int minSize, int maxWidth, const std::function<int(int)>& widthAt) {
  while (size > minSize && widthAt(size) > maxWidth) --size;
  return size;
}

uint32_t ColorValueToRgb(int32_t value, const std::function<uint32_t(int)>& sysColor) {
  if (value < 0) return sysColor(value & 0xFF);
  return static_cast<uint32_t>(value) & 0xFFFFFFu;
}
