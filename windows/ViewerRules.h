// The text viewer's rules without the window system: its settings section with defaults,
// hexadecimal values and ranges, the height for a text, unique names, and the about box's
// font fitting.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A profile value: "0x.." / "0X.." (more than two characters) is hexadecimal (up to eight
// digits, taken as a signed 32-bit value), otherwise decimal; missing or no number gives def.
int32_t ProfileValue(const std::optional<std::string>& text, int32_t def);

// Moves v into lo..hi; the upper limit is applied first, so hi < lo gives lo.
int32_t ClampRange(int32_t v, int32_t lo, int32_t hi);

constexpr int32_t kClWindow = -2147483643;  // the system's window background colour

struct ViewerSettings {
  int32_t Width = 640, Height = 150, Left = 10, Top = 10;
  int32_t State = 0;  // 0 normal, 1 minimised, 2 maximised
  std::string Font = "Courier";
  int32_t Size = 8;   // points
  int32_t Style = 0;  // 1 bold, 2 italic, 4 underline, 8 strike-out
  bool Wrap = true;
  int32_t FontColor = 0;
  int32_t BackColor = kClWindow;
};

// Reads the section through read(key) (nullopt = missing) with defaults and ranges; the
// position's ranges depend on the size just read.
ViewerSettings ReadViewerSettings(const std::function<std::optional<std::string>(const char*)>& read,
                                  int screenWidth, int screenHeight);

// The keys and values written back, in order; the bounds only in the normal window state.
std::vector<std::pair<std::string, std::string>> ViewerSettingsToWrite(const ViewerSettings& s);

// Height of a viewer showing n lines: 13 n + 46, at most the screen, at least 150.
int32_t ViewerHeight(int lines, int screenHeight);

// Lines of a text as a multi-line text box counts them: CR LF, CR and LF each end a line, a
// final empty line doesn't count.
int CountTextLines(const std::string& text);

// base while no window bears it, else base_1, base_2, ... (names compared without case).
std::string UniqueName(const std::string& base, const std::function<bool(const std::string&)>& taken);

// The largest size from size downwards whose width fits, but not below minSize.
int FittingFontSize(int size, int minSize, int maxWidth, const std::function<int(int)>& widthAt);

// A colour value of the settings as RGB: negative values name a system colour by its low
// byte (sysColor), others are 0x00BBGGRR.
uint32_t ColorValueToRgb(int32_t value, const std::function<uint32_t(int)>& sysColor);
