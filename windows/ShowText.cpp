#include "windows/ShowText.h"

#include <commdlg.h>

#include <cctype>
#include <set>

#include "platform/MessageDlg.h"
#include "platform/ProgramFiles.h"
#include "platform/Text.h"
#include "platform/UiRules.h"

namespace {

constexpr int kMemoFont = 1;

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
  return {L"TTextFm", "Betrachter", 632, 123, FormFrame::Sizable, 10, 10,
          {{"MS Sans Serif", 11}, {"Courier", 13}}, {}, nullptr, true};
}

std::vector<ComponentDef> TextComponents() {
  using K = CompKind;
  return {
      Comp("Memo", K::Memo).Font(kMemoFont).Style(csClient).In("PopMenu"),
      Comp("PopMenu", K::PopupMenu).On("PopMenuPopup"),
      Comp("PopFont", K::MenuItem, 0, 0, 0, 0, "Font").In("PopMenu").On("PopFontClick"),
      Comp("PopWrap", K::MenuItem, 0, 0, 0, 0, "Wrap").In("PopMenu").On("PopWrapClick"),
      Comp("PopColor", K::MenuItem, 0, 0, 0, 0, "Color").In("PopMenu").On("PopColorClick"),
      Comp("PopCopy", K::MenuItem, 0, 0, 0, 0, "Copy").In("PopMenu").On("PopCopyClick"),
  };
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

TTextFm::TTextFm() : TForm(TextForm(), TextComponents()) {
  Bind("FormCreate", [this] { FormCreate(); });
  Bind("FormDestroy", [this] { FormDestroy(); });
  Bind("PopMenuPopup", [this] { PopMenuPopup(); });
  Bind("PopFontClick", [this] { PopFontClick(); });
  Bind("PopWrapClick", [this] { PopWrapClick(); });
  Bind("PopColorClick", [this] { PopColorClick(); });
  Bind("PopCopyClick", [this] { PopCopyClick(); });
}

TTextFm::~TTextFm() { Destroy(); }

void TTextFm::FormCreate() {
  name_ = UniqueName("TextFm", [](const std::string& n) { return LiveNames().count(n) != 0; });
  LiveNames().insert(Lower(name_));
  const std::string file = ProgramProfileFile();
  auto read = [&](const char* key) -> std::optional<std::string> {
    // A marker default tells a missing key from an empty one.
    char buf[2048] = {};
    GetPrivateProfileStringA(name_.c_str(), key, "\x01", buf, sizeof buf, file.c_str());
    if (buf[0] == '\x01' && buf[1] == 0) return std::nullopt;
    return AnsiToUtf8(buf);
  };
  s_ = ReadViewerSettings(read, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  SetBounds(s_.Left, s_.Top, s_.Width, s_.Height);
  SetWordWrap("Memo", s_.Wrap);
  ApplyFont();
  ApplyColors();
}

void TTextFm::FormDestroy() {
  LiveNames().erase(Lower(name_));
  if (ShowingText) return;
  if (s_.State == 0) {
    const RECT r = Bounds();
    s_.Left = r.left;
    s_.Top = r.top;
    s_.Width = r.right - r.left;
    s_.Height = r.bottom - r.top;
  }
  const std::string file = ProgramProfileFile();
  for (const auto& kv : ViewerSettingsToWrite(s_)) {
    if (!WritePrivateProfileStringA(name_.c_str(), kv.first.c_str(), Utf8ToAnsi(kv.second).c_str(),
                                    file.c_str())) {
      MessageDlg("nach " + AnsiToUtf8(file) + " kann nicht geschrieben werden", MsgDlgType::Error, mbOK);
      return;
    }
  }
}

void TTextFm::ApplyFont() { SetFont(kMemoFont, {s_.Font.c_str(), PointsToPixels(s_.Size), s_.Style}); }

void TTextFm::ApplyColors() { SetColors("Memo", ColorRgb(s_.FontColor), ColorRgb(s_.BackColor)); }

void TTextFm::ShowText(const std::string& caption, const std::string& text) {
  if (!Exists()) return;
  SetText("Memo", WithCrLf(text));
  SetCaption(caption);
  const int height = ViewerHeight(CountTextLines(text), GetSystemMetrics(SM_CYSCREEN));
  s_.State = 0;
  SetBounds(0, 0, 640, height);
  CentreOnScreen();
  s_.Font = "Courier";
  s_.Size = 8;
  s_.FontColor = 0;
  s_.BackColor = kClWindow;
  s_.Wrap = true;
  SetWordWrap("Memo", true);
  ApplyFont();
  ApplyColors();
  ShowingText = true;
  ShowModal();
}

void TTextFm::PopMenuPopup() {
  SetChecked("PopWrap", s_.Wrap);
  SetEnabled("PopCopy", HasSelection("Memo"));
}

void TTextFm::PopFontClick() {
  LOGFONTW lf{};
  GetObjectW(FontOf(kMemoFont), sizeof lf, &lf);
  CHOOSEFONTW cf{};
  cf.lStructSize = sizeof cf;
  cf.hwndOwner = Handle();
  cf.lpLogFont = &lf;
  cf.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS;
  cf.rgbColors = ColorRgb(s_.FontColor);
  if (!ChooseFontW(&cf)) return;
  s_.Font = WideToUtf8(lf.lfFaceName);
  s_.Size = ClampRange(cf.iPointSize / 10, 4, 72);
  s_.Style = (lf.lfWeight >= FW_BOLD ? fsBold : 0) | (lf.lfItalic ? fsItalic : 0) |
             (lf.lfUnderline ? fsUnderline : 0) | (lf.lfStrikeOut ? fsStrikeOut : 0);
  s_.FontColor = static_cast<int32_t>(cf.rgbColors & 0xFFFFFF);
  ApplyFont();
  ApplyColors();
}

void TTextFm::PopWrapClick() {
  s_.Wrap = !s_.Wrap;
  SetWordWrap("Memo", s_.Wrap);
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

void TTextFm::PopCopyClick() { CopySelection("Memo"); }
