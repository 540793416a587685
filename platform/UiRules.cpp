#include "platform/UiRules.h"

#include <algorithm>

#include "platform/IntegerText.h"

int ClampOnScreen(int pos, int extent, int screenExtent) {
  return std::max(std::min(pos, screenExtent - extent), 0);
}

bool SizeFieldKeyPasses(wchar_t ch) { return ch < 32 || (ch >= L'0' && ch <= L'9'); }

int32_t SizeFieldValue(const std::string& text, int32_t fallback) {
  return ParseIntegerOr(text, fallback);
}

std::string SizeFieldText(const std::string& text, int32_t fallback, int32_t lowerBound) {
  return std::to_string(std::max(SizeFieldValue(text, fallback), lowerBound));
}

std::string PathWithExtension(const std::string& path, const std::string& extension) {
  const auto slash = path.find_last_of("\\/:");
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + extension;
  return path.substr(0, dot) + extension;
}

std::string ProfileFileName(const std::string& programPath) {
  const auto slash = programPath.find_last_of("\\/:");
  return PathWithExtension(slash == std::string::npos ? programPath : programPath.substr(slash + 1), ".Ini");
}

int TopAfterUnfold(int top, int newHeight, int screenHeight) {
  return std::min(top, screenHeight - newHeight);
}

std::string CounterText(uint32_t value) { return std::to_string(value); }

bool TickSchedule::Tick() {
  if (++TickCount != kTicksPerSlowTick) return false;
  TickCount = 0;
  return true;
}

bool TickSchedule::AdvanceAutoHide() {
  if (HideCountdown <= 0) return false;
  return --HideCountdown == 0;
}
