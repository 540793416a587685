// The look of a form: fonts, colours, the frames of bevels and panels, the owner-drawn
// buttons, and the places and sizes of the form and its controls.
#include "platform/Form.h"

#include "platform/FormPart.h"
#include "platform/Text.h"

using namespace form_detail;

OwnedFont MakeFont(const FontDef& f) {
  return OwnedFont(CreateFontW(-f.height, 0, 0, 0, (f.style & fsBold) ? FW_BOLD : FW_NORMAL,
                               (f.style & fsItalic) != 0, (f.style & fsUnderline) != 0,
                               (f.style & fsStrikeOut) != 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                               Utf8ToWide(f.face).c_str()));
}

int PointsToPixels(int points) {
  WindowDC screen(nullptr);
  const int dpi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
  return MulDiv(points, dpi, 72);
}

int TextWidth(HWND window, HFONT font, const std::wstring& text) {
  WindowDC dc(window);
  if (!dc.get()) return 0;
  SelectedObject selected(dc.get(), font);
  SIZE ext{};
  GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &ext);
  return static_cast<int>(ext.cx);
}

HFONT TForm::FontOf(int index) const {
  if (fonts_.empty()) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  if (index < 0 || static_cast<size_t>(index) >= fonts_.size()) return fonts_[0].get();
  return fonts_[index].get();
}

void TForm::SetFont(int index, const FontDef& font) {
  if (index < 0 || static_cast<size_t>(index) >= fonts_.size()) return;
  OwnedFont made = MakeFont(font);
  if (!made.get()) return;
  fonts_[index] = std::move(made);
  for (auto& c : controls_)
    if (c->hwnd && (c->def->font == index || (index == 0 && c->def->font < 0)))
      SendMessageW(c->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[index].get()), TRUE);
}

void TForm::SetColors(const std::string& name, COLORREF text, COLORREF back) {
  FormPart* c = ByName(name);
  if (!c) return;
  c->colored = true;
  c->text = text;
  c->back = back;
  c->backBrush.reset(CreateSolidBrush(back));
  if (c->hwnd) InvalidateRect(c->hwnd, nullptr, TRUE);
}

bool TForm::ControlColors(HDC dc, HWND control, LRESULT& brush) {
  const FormPart* c = ByHandle(control);
  if (!c || !c->colored || !c->backBrush.get()) return false;
  SetTextColor(dc, c->text);
  SetBkColor(dc, c->back);
  brush = reinterpret_cast<LRESULT>(c->backBrush.get());
  return true;
}

void TForm::FitToClient() {
  RECT rc{};
  GetClientRect(hwnd_, &rc);
  for (auto& c : controls_)
    if ((c->def->style & csClient) && c->hwnd) MoveWindow(c->hwnd, 0, 0, rc.right, rc.bottom, TRUE);
}

namespace {

void FillLine(HDC dc, int left, int top, int right, int bottom, COLORREF color) {
  const RECT r{left, top, right, bottom};
  SetBkColor(dc, color);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

// Lines of one pixel around r, `width` times inward: top and left in one colour, bottom and
// right in the other.
void Frame3D(HDC dc, RECT r, COLORREF topLeft, COLORREF bottomRight, int width) {
  for (int i = 0; i < width && r.right > r.left && r.bottom > r.top; ++i) {
    FillLine(dc, r.left, r.top, r.right - 1, r.top + 1, topLeft);
    FillLine(dc, r.left, r.top, r.left + 1, r.bottom - 1, topLeft);
    FillLine(dc, r.right - 1, r.top, r.right, r.bottom, bottomRight);
    FillLine(dc, r.left, r.bottom - 1, r.right, r.bottom, bottomRight);
    InflateRect(&r, -1, -1);
  }
}

void DrawBevel(HDC dc, RECT r, const ComponentDef& d) {
  const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
  if (d.kind == CompKind::Panel) {
    Frame3D(dc, r, light, shadow, d.extra);
    InflateRect(&r, -(d.extra + d.border), -(d.extra + d.border));
    Frame3D(dc, r, shadow, light, d.extra);
    return;
  }
  // Raised: lit from the top left; a frame is a double line, the inner one the other way.
  const bool raised = (d.style & csRaised) != 0;
  const COLORREF topLeft = raised ? light : shadow;
  const COLORREF bottomRight = raised ? shadow : light;
  Frame3D(dc, r, topLeft, bottomRight, 1);
  if (d.style & csBox) return;
  InflateRect(&r, -1, -1);
  Frame3D(dc, r, bottomRight, topLeft, 1);
}

}  // namespace

void TForm::DrawItem(const DRAWITEMSTRUCT& dis) {
  const FormPart* c = ById(dis.CtlID);
  if (!c) return;
  if (dis.CtlType == ODT_STATIC) {
    const COLORREF bk = GetBkColor(dis.hDC);
    DrawBevel(dis.hDC, dis.rcItem, *c->def);
    SetBkColor(dis.hDC, bk);
    return;
  }
  DrawButton(*c, dis);
}

void TForm::DrawButton(const FormPart& c, const DRAWITEMSTRUCT& dis) {
  const ComponentDef& d = *c.def;
  if (dis.itemAction == ODA_FOCUS && d.kind == CompKind::Button) {
    // The default frame follows the focus: the other buttons draw theirs anew.
    for (auto& other : controls_)
      if (other.get() != &c && other->def->kind == CompKind::Button && other->hwnd)
        InvalidateRect(other->hwnd, nullptr, FALSE);
  }
  HDC dc = dis.hDC;
  RECT r = dis.rcItem;
  const bool pushed = (dis.itemState & ODS_SELECTED) != 0;
  const bool disabled = (dis.itemState & ODS_DISABLED) != 0;
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  if (d.kind == CompKind::SpeedButton) {
    if (pushed) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
  } else {
    if (&c == DefaultButton()) {
      FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      InflateRect(&r, -1, -1);
    }
    DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
  }
  const int shift = pushed ? 1 : 0;
  int textLeft = r.left + 4;
  if (HICON icon = c.picture.get()) {
    int x = d.kind == CompKind::SpeedButton ? (r.left + r.right - 16) / 2 : r.left + 6;
    const int y = (r.top + r.bottom - 16) / 2;
    DrawState(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, x + shift, y + shift, 16, 16,
              DST_ICON | (disabled ? DSS_DISABLED : 0));
    textLeft = x + 16 + 4;
  }
  if (d.kind != CompKind::Button) return;
  std::wstring w(static_cast<size_t>(GetWindowTextLengthW(dis.hwndItem)) + 1, L'\0');
  w.resize(static_cast<size_t>(GetWindowTextW(dis.hwndItem, &w[0], static_cast<int>(w.size()))));
  RECT tr{textLeft + shift, r.top + shift, r.right - 4 + shift, r.bottom + shift};
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  {
    SelectedObject font(dc, FontOf(d.font));
    DrawTextW(dc, w.c_str(), -1, &tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  if (dis.itemState & ODS_FOCUS) {
    RECT fr = r;
    InflateRect(&fr, -4, -4);
    DrawFocusRect(dc, &fr);
  }
}

RECT TForm::Bounds() const {
  RECT r{};
  if (hwnd_) GetWindowRect(hwnd_, &r);
  return r;
}

void TForm::SetBounds(int left, int top, int width, int height) {
  if (hwnd_) SetWindowPos(hwnd_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetPosition(int left, int top) {
  if (hwnd_) SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetHeight(int height) {
  const RECT r = Bounds();
  if (hwnd_)
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::CentreOnScreen() {
  const RECT r = Bounds();
  SetPosition((GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2,
              (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2);
}
