// Window rules without the window system: screen clamping, the size fields' key filter and
// fallbacks, counter captions, the profile file's name and the main window's tick schedule.
#pragma once
#include <cstdint>
#include <string>

// The whole window on the screen, the top-left corner winning when it can't fit (the main
// window and the port dialog).
int ClampOnScreen(int pos, int extent, int screenExtent);

// Key filter of the size fields: control characters and decimal digits pass.
bool SizeFieldKeyPasses(wchar_t ch);

// The text a size field must show for its current text: the decimal value, or the fallback
// when it is no integer, raised to the lower bound.
std::string SizeFieldText(const std::string& text, int32_t fallback, int32_t lowerBound);

// The value a size field gives the port: the integer, or the fallback (no bound applied).
int32_t SizeFieldValue(const std::string& text, int32_t fallback);

// The profile file's name: the program file's name without its directory, extension ".Ini".
std::string ProfileFileName(const std::string& programPath);
// The path with its file's extension replaced, or added when it has none.
std::string PathWithExtension(const std::string& path, const std::string& extension);

// The top edge after unfolding to newHeight so that the bottom stays on the screen.
int TopAfterUnfold(int top, int newHeight, int screenHeight);

// Decimal counter captions, no separators or leading zeros.
std::string CounterText(uint32_t value);

// The main window's timer schedule: every tick polls, every 20th is a slow tick that shows
// the counters, advances auto-hide and checks the time-out.
class TickSchedule {
 public:
  static constexpr int32_t kTicksPerSlowTick = 20;
  static constexpr int32_t kHideAfterSlowTicks = 8;

  // True when this tick is a slow one.
  bool Tick();
  void ArmAutoHide() { HideCountdown = kHideAfterSlowTicks; }
  void StopAutoHide() { HideCountdown = 0; }
  // Advances the countdown at a slow tick; true when the window must hide now.
  bool AdvanceAutoHide();

  int32_t HideCountdown = 0;
  int32_t TickCount = 0;
};
