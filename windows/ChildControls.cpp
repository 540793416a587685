#include "windows/ChildControls.h"

#include "platform/Text.h"

HWND ChildControl::Create(HWND parent, const char* name, const wchar_t* cls, DWORD style, DWORD exStyle,
                          int x, int y, int w, int h, UINT id, const std::string& text) {
  Reset();
  hwnd_ = CreateWindowExW(exStyle, cls, Utf8ToWide(text).c_str(), WS_CHILD | style, x, y, w, h, parent,
                          reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), AppInstance(), nullptr);
  if (hwnd_) tag_ = std::make_unique<NameTag>(hwnd_, name);
  return hwnd_;
}

void ChildControl::Reset() {
  tag_.reset();
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

void ChildControl::SetFont(HFONT font) const {
  if (hwnd_) SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

OwnedFont MakeFont(const std::string& face, int heightPx, int style) {
  return OwnedFont(CreateFontW(-heightPx, 0, 0, 0, (style & 1) ? FW_BOLD : FW_NORMAL, (style & 2) != 0,
                               (style & 4) != 0, (style & 8) != 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                               Utf8ToWide(face).c_str()));
}

int PointsToPixels(int points) {
  HDC dc = GetDC(nullptr);
  const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  return MulDiv(points, dpi, 72);
}

void CentreOnScreen(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string Utf8ToAnsi(const std::string& text) {
  const std::wstring w = Utf8ToWide(text);
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::string ProgramPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return WideToUtf8(path);
}
