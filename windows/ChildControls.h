// Child controls the window layer's component table doesn't offer (centred labels, panels,
// pictures, a multi-line text box, a list grid), made by the windows themselves. Each one
// carries its component name like the table's controls, for screen readers and test drivers.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "platform/Form.h"

class ChildControl {
 public:
  ChildControl() = default;
  ~ChildControl() { Reset(); }
  ChildControl(const ChildControl&) = delete;
  ChildControl& operator=(const ChildControl&) = delete;

  // Creates the control on parent at x/y with the size w/h (client pixels); text is UTF-8.
  HWND Create(HWND parent, const char* name, const wchar_t* cls, DWORD style, DWORD exStyle, int x,
              int y, int w, int h, UINT id, const std::string& text = "");
  // Destroys the control (its name first).
  void Reset();
  HWND Handle() const { return hwnd_; }
  void SetFont(HFONT font) const;

 private:
  HWND hwnd_ = nullptr;
  std::unique_ptr<NameTag> tag_;
};

// A font by face, character height in pixels and style bits (1 bold, 2 italic, 4 underline,
// 8 strike-out).
OwnedFont MakeFont(const std::string& face, int heightPx, int style);
// Pixel height of a size in points on the screen.
int PointsToPixels(int points);

inline BOOL WINAPI FreeBrush(HBRUSH h) { return DeleteObject(h); }
using OwnedBrush = Owned<HBRUSH, FreeBrush>;

// Places the window in the middle of the primary screen.
void CentreOnScreen(HWND window);

// Text in the system's ANSI code page from UTF-8 (for the profile file and the log file).
std::string Utf8ToAnsi(const std::string& text);
// The program file's full path (UTF-8).
std::string ProgramPath();
