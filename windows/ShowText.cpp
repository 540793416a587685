#include "windows/ShowText.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cctype>
#include <set>

#include "platform/Boundary.h"
#include "platform/MessageDlg.h"
#include "platform/Text.h"
#include "platform/UiRules.h"

namespace {

constexpr UINT kMemoId = 1000;
enum : UINT { kPopFont = 1101, kPopWrap, kPopColor, kPopCopy };

// Names of the viewers that exist now, in lower case.
std::set<std::string>& LiveNames() {
  static std::set<std::string> names;
  return names;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

FormDef TextForm() {
  FormDef f;
  f.className = L"TTextFm";
  f.caption = "Betrachter";
  f.clientWidth = 632;
  f.clientHeight = 123;
  f.style = WS_OVERLAPPEDWINDOW;
  f.exStyle = 0;
  f.left = 10;
  f.top = 10;
  f.fonts = {{"MS Sans Serif", 11, false}};
  return f;
}

// The text box wants CR LF; the callers' texts may end lines with CR or LF alone.
std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += "\r\n";
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

uint32_t ColorRgb(int32_t value) {
  return ColorValueToRgb(value, [](int index) { return static_cast<uint32_t>(GetSysColor(index)); });
}

}  // namespace

TTextFm::TTextFm() : TForm(TextForm(), {}) {
  Bind("FormCreate", [this] { FormCreate(); });
  Bind("FormDestroy", [this] { FormDestroy(); });
}

TTextFm::~TTextFm() { Destroy(); }

void TTextFm::FormCreate() {
  name_ = UniqueName("TextFm", [](const std::string& n) { return LiveNames().count(n) != 0; });
  LiveNames().insert(Lower(name_));
  const std::string file = ProfileFileName(ProgramPath());
  auto read = [&](const char* key) -> std::optional<std::string> {
    // A marker default tells a missing key from an empty one.
    char buf[2048] = {};
    GetPrivateProfileStringA(name_.c_str(), key, "\x01", buf, sizeof buf, file.c_str());
    if (buf[0] == '\x01' && buf[1] == 0) return std::nullopt;
    return AnsiToUtf8(buf);
  };
  s_ = ReadViewerSettings(read, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  SetBounds(s_.Left, s_.Top, s_.Width, s_.Height);
  menu_.reset(CreatePopupMenu());
  AppendMenuW(menu_.get(), MF_STRING, kPopFont, L"Font");
  AppendMenuW(menu_.get(), MF_STRING, kPopWrap, L"Wrap");
  AppendMenuW(menu_.get(), MF_STRING, kPopColor, L"Color");
  AppendMenuW(menu_.get(), MF_STRING, kPopCopy, L"Copy");
  MakeMemo();
}

void TTextFm::FormDestroy() {
  LiveNames().erase(Lower(name_));
  memo_.Reset();
  if (ShowingText) return;
  if (s_.State == 0) {
    const RECT r = Bounds();
    s_.Left = r.left;
    s_.Top = r.top;
    s_.Width = r.right - r.left;
    s_.Height = r.bottom - r.top;
  }
  const std::string file = ProfileFileName(ProgramPath());
  for (const auto& kv : ViewerSettingsToWrite(s_)) {
    if (!WritePrivateProfileStringA(name_.c_str(), kv.first.c_str(), Utf8ToAnsi(kv.second).c_str(),
                                    file.c_str())) {
      MessageDlg("nach " + file + " kann nicht geschrieben werden", MsgDlgType::Error, mbOK);
      return;
    }
  }
}

void TTextFm::MakeMemo() {
  std::wstring text;
  DWORD selStart = 0, selEnd = 0;
  if (HWND old = memo_.Handle()) {
    text.resize(static_cast<size_t>(GetWindowTextLengthW(old)) + 1);
    text.resize(static_cast<size_t>(GetWindowTextW(old, &text[0], static_cast<int>(text.size()))));
    SendMessageW(old, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
  }
  RECT rc{};
  GetClientRect(Handle(), &rc);
  DWORD style = WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_NOHIDESEL;
  if (!s_.Wrap) style |= WS_HSCROLL | ES_AUTOHSCROLL;
  HWND memo = memo_.Create(Handle(), "Memo", L"EDIT", style, WS_EX_CLIENTEDGE, 0, 0, rc.right, rc.bottom,
                           kMemoId);
  if (!memo) return;
  SendMessageW(memo, EM_SETLIMITTEXT, 0, 0);
  SetWindowSubclass(memo, &TTextFm::MemoProc, 1, reinterpret_cast<DWORD_PTR>(this));
  ApplyFont();
  ApplyColors();
  if (!text.empty()) SetWindowTextW(memo, text.c_str());
  SendMessageW(memo, EM_SETSEL, selStart, selEnd);
}

void TTextFm::ApplyFont() {
  font_ = MakeFont(s_.Font, PointsToPixels(s_.Size), s_.Style);
  memo_.SetFont(font_.get());
}

void TTextFm::ApplyColors() {
  back_.reset(CreateSolidBrush(ColorRgb(s_.BackColor)));
  if (memo_.Handle()) InvalidateRect(memo_.Handle(), nullptr, TRUE);
}

void TTextFm::FitMemo() {
  RECT rc{};
  GetClientRect(Handle(), &rc);
  if (memo_.Handle()) MoveWindow(memo_.Handle(), 0, 0, rc.right, rc.bottom, TRUE);
}

void TTextFm::ShowText(const std::string& caption, const std::string& text) {
  if (!Exists()) return;
  const std::wstring wide = Utf8ToWide(WithCrLf(text));
  SetWindowTextW(memo_.Handle(), wide.c_str());
  SetWindowTextW(Handle(), Utf8ToWide(caption).c_str());
  const int height = ViewerHeight(CountTextLines(text), GetSystemMetrics(SM_CYSCREEN));
  s_.State = 0;
  SetBounds(0, 0, 640, height);
  CentreOnScreen(Handle());
  s_.Font = "Courier";
  s_.Size = 8;
  s_.FontColor = 0;
  s_.BackColor = kClWindow;
  const bool remake = !s_.Wrap;
  s_.Wrap = true;
  if (remake) MakeMemo();
  ApplyFont();
  ApplyColors();
  ShowingText = true;
  ShowModal();
}

void TTextFm::PopMenuPopup() {
  CheckMenuItem(menu_.get(), kPopWrap, MF_BYCOMMAND | (s_.Wrap ? MF_CHECKED : MF_UNCHECKED));
  DWORD a = 0, b = 0;
  SendMessageW(memo_.Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  EnableMenuItem(menu_.get(), kPopCopy, MF_BYCOMMAND | (a != b ? MF_ENABLED : MF_GRAYED));
}

void TTextFm::ShowPopup(int x, int y) {
  PopMenuPopup();
  SetForegroundWindow(Handle());
  const UINT cmd = static_cast<UINT>(
      TrackPopupMenu(menu_.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, Handle(), nullptr));
  PostMessageW(Handle(), WM_NULL, 0, 0);
  switch (cmd) {
    case kPopFont: PopFontClick(); break;
    case kPopWrap: PopWrapClick(); break;
    case kPopColor: PopColorClick(); break;
    case kPopCopy: PopCopyClick(); break;
    default: break;
  }
}

void TTextFm::PopFontClick() {
  LOGFONTW lf{};
  GetObjectW(font_.get(), sizeof lf, &lf);
  CHOOSEFONTW cf{};
  cf.lStructSize = sizeof cf;
  cf.hwndOwner = Handle();
  cf.lpLogFont = &lf;
  cf.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS;
  cf.rgbColors = ColorRgb(s_.FontColor);
  if (!ChooseFontW(&cf)) return;
  s_.Font = WideToUtf8(lf.lfFaceName);
  s_.Size = ClampRange(cf.iPointSize / 10, 4, 72);
  s_.Style = (lf.lfWeight >= FW_BOLD ? 1 : 0) | (lf.lfItalic ? 2 : 0) | (lf.lfUnderline ? 4 : 0) |
             (lf.lfStrikeOut ? 8 : 0);
  s_.FontColor = static_cast<int32_t>(cf.rgbColors & 0xFFFFFF);
  ApplyFont();
  ApplyColors();
}

void TTextFm::PopWrapClick() {
  s_.Wrap = !s_.Wrap;
  MakeMemo();
}

void TTextFm::PopColorClick() {
  static COLORREF custom[16] = {};
  CHOOSECOLORW cc{};
  cc.lStructSize = sizeof cc;
  cc.hwndOwner = Handle();
  cc.rgbResult = ColorRgb(s_.BackColor);
  cc.lpCustColors = custom;
  cc.Flags = CC_RGBINIT;
  if (!ChooseColorW(&cc)) return;
  s_.BackColor = static_cast<int32_t>(cc.rgbResult & 0xFFFFFF);
  ApplyColors();
}

void TTextFm::PopCopyClick() {
  DWORD a = 0, b = 0;
  SendMessageW(memo_.Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  if (a != b) SendMessageW(memo_.Handle(), WM_COPY, 0, 0);
}

LRESULT CALLBACK TTextFm::MemoProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref) {
  // No C++ exception may unwind into the system's code.
  return GuardWindowCall([&] { return MemoMessage(h, msg, wp, lp, id, ref); }, LRESULT(0),
                         [](const std::string& text) { MessageDlg(text, MsgDlgType::Error, mbOK); });
}

LRESULT TTextFm::MemoMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  if (msg == WM_CONTEXTMENU) {
    auto* self = reinterpret_cast<TTextFm*>(ref);
    int x = static_cast<short>(LOWORD(lp));
    int y = static_cast<short>(HIWORD(lp));
    if (x == -1 && y == -1) {  // from the keyboard: at the text box's corner
      POINT p{4, 4};
      ClientToScreen(h, &p);
      x = p.x;
      y = p.y;
    }
    self->ShowPopup(x, y);
    return 0;
  }
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(h, &TTextFm::MemoProc, 1);
  return DefSubclassProc(h, msg, wp, lp);
}

bool TTextFm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_SIZE:
      FitMemo();
      return false;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      if (reinterpret_cast<HWND>(lp) != memo_.Handle() || !back_.get()) return false;
      SetTextColor(reinterpret_cast<HDC>(wp), ColorRgb(s_.FontColor));
      SetBkColor(reinterpret_cast<HDC>(wp), ColorRgb(s_.BackColor));
      result = reinterpret_cast<LRESULT>(back_.get());
      return true;
    case WM_COMMAND:
      if (LOWORD(wp) == IDCANCEL) {  // Esc closes the viewer
        SetModalResult(mrCancel);
        result = 0;
        return true;
      }
      return false;
    default:
      return false;
  }
}
