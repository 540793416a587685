// One owner for every handle the windows use: GDI objects, icons, menus, image lists, global
// atoms, a window's device context and an object selected into one.
#pragma once
#include <windows.h>
#include <commctrl.h>

template <typename H, BOOL(WINAPI* Free)(H)>
class Owned {
 public:
  Owned() = default;
  explicit Owned(H h) : h_(h) {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& o) noexcept : h_(o.h_) { o.h_ = H{}; }
  Owned& operator=(Owned&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = o.h_;
      o.h_ = H{};
    }
    return *this;
  }
  void reset(H h = H{}) {
    if (h_) Free(h_);
    h_ = h;
  }
  H get() const { return h_; }

 private:
  H h_{};
};

inline BOOL WINAPI FreeGdiObject(HGDIOBJ h) { return DeleteObject(h); }
inline BOOL WINAPI FreeFont(HFONT h) { return FreeGdiObject(h); }
inline BOOL WINAPI FreeBrush(HBRUSH h) { return FreeGdiObject(h); }
inline BOOL WINAPI FreeBitmap(HBITMAP h) { return FreeGdiObject(h); }
inline BOOL WINAPI FreeMenu(HMENU h) { return DestroyMenu(h); }
inline BOOL WINAPI FreeAtom(ATOM a) { return GlobalDeleteAtom(a) == 0; }
BOOL WINAPI FreeImageList(HIMAGELIST h);

using OwnedFont = Owned<HFONT, FreeFont>;
using OwnedBrush = Owned<HBRUSH, FreeBrush>;
using OwnedBitmap = Owned<HBITMAP, FreeBitmap>;
using OwnedIcon = Owned<HICON, DestroyIcon>;
using OwnedMenu = Owned<HMENU, FreeMenu>;
using OwnedImageList = Owned<HIMAGELIST, FreeImageList>;
using OwnedAtom = Owned<ATOM, FreeAtom>;

// A window's device context (the screen's for nullptr), released with its owner.
class WindowDC {
 public:
  explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDC() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// An object selected into a device context for a scope: the one it replaced comes back.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(dc ? SelectObject(dc, object) : nullptr) {}
  ~SelectedObject() {
    if (old_) SelectObject(dc_, old_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};
