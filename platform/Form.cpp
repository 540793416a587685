#include "platform/Form.h"

#include <commctrl.h>

#include <set>

#include "platform/Application.h"
#include "platform/Boundary.h"
#include "platform/MessageDlg.h"
#include "platform/Text.h"

BOOL WINAPI FreeImageList(HIMAGELIST h) { return ImageList_Destroy(h); }

HINSTANCE AppInstance() { return GetModuleHandleW(nullptr); }

HICON LoadSmallIcon(int id) {
  if (id == 0) return nullptr;
  return static_cast<HICON>(
      LoadImageW(AppInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
}

namespace {

constexpr wchar_t kNameProp[] = L"MVRName";
constexpr UINT kFirstId = 100;

void ShowHandlerError(const std::string& text) { MessageDlg(text, MsgDlgType::Error, mbOK); }

std::set<HWND>& LiveForms() {
  static std::set<HWND> forms;
  return forms;
}

// The forms whose modal loops run now, innermost last.
std::vector<HWND>& ModalForms() {
  static std::vector<HWND> forms;
  return forms;
}

std::vector<std::string> SplitLines(const char* text) {
  std::vector<std::string> out;
  if (!text) return out;
  std::string cur;
  for (const char* p = text; *p; ++p) {
    if (*p == '\n') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += *p;
    }
  }
  out.push_back(cur);
  return out;
}

void EnsureCommonControls() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  done = true;
}

}  // namespace

NameTag::NameTag(HWND hwnd, const std::string& name)
    : hwnd_(hwnd), prop_(kNameProp), atom_(GlobalAddAtomW(Utf8ToWide(name).c_str())) {
  if (atom_) SetPropW(hwnd_, prop_, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(atom_)));
}

NameTag::~NameTag() {
  if (!atom_) return;
  if (IsWindow(hwnd_)) RemovePropW(hwnd_, prop_);
  GlobalDeleteAtom(atom_);
}

struct TForm::Comp {
  size_t index = 0;
  UINT id = 0;
  HWND hwnd = nullptr;
  std::unique_ptr<NameTag> tag;
  OwnedIcon picture;
  OwnedImageList images;
  HMENU menu = nullptr;  // owned by the form's menus_
  std::wstring hint;
  bool visible = true;
};

namespace {
struct EnabledCtx {
  HWND except;
  std::vector<HWND>* out;
};

BOOL CALLBACK CollectEnabled(HWND h, LPARAM lp) {
  auto* c = reinterpret_cast<EnabledCtx*>(lp);
  if (h != c->except && IsWindowVisible(h) && IsWindowEnabled(h)) c->out->push_back(h);
  return TRUE;
}
}  // namespace

HWND DialogOwner() {
  for (auto it = ModalForms().rbegin(); it != ModalForms().rend(); ++it)
    if (IsWindow(*it)) return *it;
  return Application.MainWindow;
}

DisabledWindows::DisabledWindows(HWND except) {
  EnabledCtx ctx{except, &disabled_};
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabled, reinterpret_cast<LPARAM>(&ctx));
  for (HWND h : disabled_) EnableWindow(h, FALSE);
}

DisabledWindows::~DisabledWindows() {
  for (HWND h : disabled_)
    if (IsWindow(h)) EnableWindow(h, TRUE);
}

TForm::TForm(FormDef def, std::vector<ComponentDef> components)
    : def_(std::move(def)), defs_(std::move(components)) {}

TForm::~TForm() { Destroy(); }

void TForm::Bind(const std::string& handler, std::function<void()> fn) {
  handlers_[handler] = std::move(fn);
}

void TForm::BindKey(const std::string& handler, std::function<void(wchar_t&)> fn) {
  keyHandlers_[handler] = std::move(fn);
}

void TForm::Fire(const std::string& handler) {
  auto it = handlers_.find(handler);
  if (it == handlers_.end() || !it->second) return;
  // A failing handler shows its error; whatever called it goes on.
  GuardWindowCall([&] {
    it->second();
    return 0;
  }, 0, &ShowHandlerError);
}

HFONT TForm::FontFor(int index) const {
  if (fonts_.empty()) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  if (index < 0 || static_cast<size_t>(index) >= fonts_.size()) return fonts_[0].get();
  return fonts_[index].get();
}

void TForm::Create() {
  if (hwnd_) return;
  EnsureCommonControls();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExW(AppInstance(), def_.className, &wc)) {
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &TForm::WndProc;
    wc.hInstance = AppInstance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = def_.className;
    wc.hIcon = LoadIconW(AppInstance(), MAKEINTRESOURCEW(1));
    RegisterClassExW(&wc);
  }
  for (const FontDef& f : def_.fonts)
    fonts_.emplace_back(CreateFontW(-f.height, 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                                    FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                                    Utf8ToWide(f.face).c_str()));
  RECT r{0, 0, def_.clientWidth, def_.clientHeight};
  AdjustWindowRectEx(&r, def_.style, FALSE, def_.exStyle);
  SetLastError(0);  // not every failure sets one
  // Every form after the first is owned by the main window: no taskbar button of its own,
  // and never behind it.
  hwnd_ = CreateWindowExW(def_.exStyle | WS_EX_CONTROLPARENT, def_.className,
                          Utf8ToWide(def_.caption).c_str(), def_.style & ~WS_VISIBLE, def_.left,
                          def_.top, r.right - r.left, r.bottom - r.top, Application.MainWindow,
                          nullptr, AppInstance(), this);
  if (!hwnd_) {
    // Without its window the program would run on invisibly for ever.
    const DWORD err = GetLastError();
    std::string text = "Das Fenster \"" + std::string(def_.caption) + "\" konnte nicht erstellt werden";
    if (err) text += ": " + SystemErrorText(err) + " (Fehler " + std::to_string(err) + ")";
    throw ProgramError(text, err ? HresultFromWin32(err) : kEUnexpected);
  }
  LiveForms().insert(hwnd_);
  if (!Application.MainWindow) Application.MainWindow = hwnd_;
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                             nullptr, AppInstance(), nullptr);
  for (size_t i = 0; i < defs_.size(); ++i) {
    auto c = std::make_unique<Comp>();
    c->index = i;
    c->id = kFirstId + static_cast<UINT>(i);
    if (defs_[i].style & csDefault) c->id = IDOK;
    if (defs_[i].style & csCancel) c->id = IDCANCEL;
    controls_.push_back(std::move(c));
  }
  // Image lists and menus first: tool bars and items refer to them by name.
  for (size_t i = 0; i < defs_.size(); ++i)
    if (defs_[i].kind == CompKind::ImageList || defs_[i].kind == CompKind::PopupMenu)
      CreateControl(i);
  for (size_t i = 0; i < defs_.size(); ++i)
    if (defs_[i].kind != CompKind::ImageList && defs_[i].kind != CompKind::PopupMenu)
      CreateControl(i);
  // Z-order is the tab order; frames go to the bottom so they never cover controls.
  HWND prev = HWND_TOP;
  for (const char* name : def_.tabOrder) {
    HWND h = Control(name);
    if (!h) continue;
    SetWindowPos(h, prev, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    prev = h;
  }
  for (auto& c : controls_)
    if (defs_[c->index].kind == CompKind::Bevel && c->hwnd)
      SetWindowPos(c->hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  formTag_ = std::make_unique<NameTag>(hwnd_, "Form");
  Fire("FormCreate");
}

void TForm::CreateControl(size_t i) {
  const ComponentDef& d = defs_[i];
  Comp& c = *controls_[i];
  const std::wstring caption = Utf8ToWide(d.caption ? d.caption : "");
  const DWORD vis = (d.style & csHidden) ? 0 : WS_VISIBLE;
  c.visible = vis != 0;
  const HMENU idAsMenu = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(c.id));
  auto child = [&](DWORD ex, const wchar_t* cls, const std::wstring& text, DWORD style) {
    return CreateWindowExW(ex, cls, text.c_str(), WS_CHILD | vis | style, d.left, d.top, d.width,
                           d.height, hwnd_, idAsMenu, AppInstance(), nullptr);
  };
  if (d.hint) c.hint = Utf8ToWide(d.hint);
  switch (d.kind) {
    case CompKind::Label:
      // SS_NOTIFY: the label takes the mouse itself, like a control and unlike free area.
      c.hwnd = child(0, L"STATIC", caption,
                     SS_NOPREFIX | SS_NOTIFY | ((d.style & csRight) ? SS_RIGHT : SS_LEFT));
      break;
    case CompKind::Bevel:
      c.hwnd = child(0, L"STATIC", L"", SS_ETCHEDFRAME);
      break;
    case CompKind::Image:
      c.picture.reset(LoadSmallIcon(d.picture));
      c.hwnd = child(0, L"STATIC", L"", SS_ICON | SS_REALSIZECONTROL | SS_NOTIFY);
      if (c.hwnd && c.picture.get())
        SendMessageW(c.hwnd, STM_SETICON, reinterpret_cast<WPARAM>(c.picture.get()), 0);
      if (c.hwnd) SetWindowPos(c.hwnd, nullptr, d.left, d.top, d.width, d.height, SWP_NOZORDER);
      break;
    case CompKind::ComboList: {
      c.hwnd = child(0, L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST);
      if (!c.hwnd) break;
      SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(d.font)), FALSE);
      for (const std::string& row : SplitLines(d.caption))
        SendMessageW(c.hwnd, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(Utf8ToWide(row).c_str()));
      const int rows = d.extra > 0 ? d.extra : 8;
      const int itemH = static_cast<int>(SendMessageW(c.hwnd, CB_GETITEMHEIGHT, 0, 0));
      SetWindowPos(c.hwnd, nullptr, 0, 0, d.width, d.height + rows * itemH + 2,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      break;
    }
    case CompKind::Edit:
      c.hwnd = child(WS_EX_CLIENTEDGE, L"EDIT", caption, WS_TABSTOP | ES_AUTOHSCROLL);
      if (!c.hwnd) break;
      if (d.extra > 0) SendMessageW(c.hwnd, EM_LIMITTEXT, d.extra, 0);
      SetWindowSubclass(c.hwnd, &TForm::EditProc, 1, reinterpret_cast<DWORD_PTR>(this));
      break;
    case CompKind::Button:
      c.picture.reset(LoadSmallIcon(d.picture));
      c.hwnd = child(0, L"BUTTON", caption, WS_TABSTOP | BS_OWNERDRAW);
      break;
    case CompKind::SpeedButton:
      c.picture.reset(LoadSmallIcon(d.picture));
      c.hwnd = child(0, L"BUTTON", caption, BS_OWNERDRAW);
      break;
    case CompKind::ToolBar: {
      c.hwnd = child(0, TOOLBARCLASSNAMEW, L"",
                     TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NORESIZE |
                         CCS_NOPARENTALIGN);
      if (!c.hwnd) break;
      SendMessageW(c.hwnd, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
      SendMessageW(c.hwnd, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 16));
      if (d.ref)
        if (Comp* il = ByName(d.ref))
          SendMessageW(c.hwnd, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(il->images.get()));
      SendMessageW(c.hwnd, TB_SETBUTTONSIZE, 0, MAKELPARAM(d.extra ? d.extra : 23, d.height - 4));
      break;
    }
    case CompKind::ToolButton: {
      Comp* bar = d.ref ? ByName(d.ref) : nullptr;
      if (!bar || !bar->hwnd) break;
      TBBUTTON b{};
      b.iBitmap = d.extra;
      b.idCommand = static_cast<int>(c.id);
      b.fsState = TBSTATE_ENABLED;
      b.fsStyle = BTNS_BUTTON;
      b.iString = -1;
      SendMessageW(bar->hwnd, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&b));
      // Button k of the bar is named by the bar's property "MVRItem<k>".
      const int k = static_cast<int>(SendMessageW(bar->hwnd, TB_BUTTONCOUNT, 0, 0)) - 1;
      const std::wstring prop = L"MVRItem" + std::to_wstring(k);
      const ATOM a = GlobalAddAtomW(Utf8ToWide(d.name).c_str());
      if (a) SetPropW(bar->hwnd, prop.c_str(), reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(a)));
      return;
    }
    case CompKind::ImageList: {
      auto ids = SplitLines(d.caption);
      c.images.reset(ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, static_cast<int>(ids.size()), 0));
      for (const std::string& s : ids) {
        OwnedIcon icon(LoadSmallIcon(atoi(s.c_str())));
        if (icon.get()) ImageList_AddIcon(c.images.get(), icon.get());
      }
      return;
    }
    case CompKind::Timer:
      SetTimer(hwnd_, c.id, static_cast<UINT>(d.extra), nullptr);
      return;
    case CompKind::PopupMenu:
      menus_.emplace_back(CreatePopupMenu());
      c.menu = menus_.back().get();
      return;
    case CompKind::MenuItem: {
      Comp* m = d.ref ? ByName(d.ref) : nullptr;
      if (!m || !m->menu) return;
      if (caption == L"-")
        AppendMenuW(m->menu, MF_SEPARATOR, 0, nullptr);
      else
        AppendMenuW(m->menu, MF_STRING, c.id, caption.c_str());
      return;
    }
  }
  if (!c.hwnd) return;
  if (d.kind != CompKind::ComboList)
    SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(d.font)), FALSE);
  if (d.kind == CompKind::Label && !(d.style & csRight)) {
    // Left-aligned labels grow to their text, as the toolkit's auto-sized labels do.
    HDC dc = GetDC(c.hwnd);
    HGDIOBJ old = SelectObject(dc, FontFor(d.font));
    SIZE ext{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &ext);
    SelectObject(dc, old);
    ReleaseDC(c.hwnd, dc);
    if (ext.cx > d.width)
      SetWindowPos(c.hwnd, nullptr, 0, 0, ext.cx, d.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  c.tag = std::make_unique<NameTag>(c.hwnd, d.name);
  if (!c.hint.empty() && tooltip_) {
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = hwnd_;
    ti.uId = reinterpret_cast<UINT_PTR>(c.hwnd);
    ti.lpszText = const_cast<wchar_t*>(c.hint.c_str());
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
}

void TForm::Destroy() {
  if (!hwnd_ || destroyed_) return;
  destroyed_ = true;
  Fire("FormDestroy");
  for (auto& c : controls_) {
    const ComponentDef& d = defs_[c->index];
    if (d.kind == CompKind::Timer) KillTimer(hwnd_, c->id);
    if (d.kind == CompKind::ToolBar && c->hwnd) {
      const int n = static_cast<int>(SendMessageW(c->hwnd, TB_BUTTONCOUNT, 0, 0));
      for (int k = 0; k < n; ++k) {
        const std::wstring prop = L"MVRItem" + std::to_wstring(k);
        const ATOM a = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(RemovePropW(c->hwnd, prop.c_str())));
        if (a) GlobalDeleteAtom(a);
      }
    }
    c->tag.reset();
  }
  formTag_.reset();
  HWND h = hwnd_;
  LiveForms().erase(h);
  if (Application.MainWindow == h) {
    // Destroying an owner destroys what it owns: the other forms stay until their own
    // Destroy, which writes their place.
    for (HWND f : LiveForms())
      if (GetWindow(f, GW_OWNER) == h) SetWindowLongPtrW(f, GWLP_HWNDPARENT, 0);
    Application.MainWindow = nullptr;
  }
  DestroyWindow(h);
  hwnd_ = nullptr;
  controls_.clear();
  menus_.clear();
  fonts_.clear();
}

TForm::Comp* TForm::ByName(const std::string& name) {
  for (auto& c : controls_)
    if (name == defs_[c->index].name) return c.get();
  return nullptr;
}

const TForm::Comp* TForm::ByName(const std::string& name) const {
  for (auto& c : controls_)
    if (name == defs_[c->index].name) return c.get();
  return nullptr;
}

TForm::Comp* TForm::ById(UINT id) {
  for (auto& c : controls_)
    if (c->id == id) return c.get();
  return nullptr;
}

HWND TForm::Control(const std::string& name) const {
  const auto* c = ByName(name);
  return c ? c->hwnd : nullptr;
}

std::string TForm::Text(const std::string& name) const {
  HWND h = Control(name);
  if (!h) return {};
  std::wstring w(static_cast<size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
  w.resize(static_cast<size_t>(GetWindowTextW(h, &w[0], static_cast<int>(w.size()))));
  return WideToUtf8(w);
}

void TForm::SetText(const std::string& name, const std::string& text) {
  HWND h = Control(name);
  if (!h || Text(name) == text) return;
  const std::wstring w = Utf8ToWide(text);
  SetWindowTextW(h, w.c_str());
  if (defs_[ByName(name)->index].kind == CompKind::Edit)
    SendMessageW(h, EM_SETSEL, w.size(), static_cast<LPARAM>(w.size()));
}

int TForm::ItemIndex(const std::string& name) const {
  HWND h = Control(name);
  return h ? static_cast<int>(SendMessageW(h, CB_GETCURSEL, 0, 0)) : -1;
}

void TForm::SetItemIndex(const std::string& name, int index) {
  if (HWND h = Control(name)) SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void TForm::SetEnabled(const std::string& name, bool on) {
  if (HWND h = Control(name)) EnableWindow(h, on ? TRUE : FALSE);
}

void TForm::SetVisible(const std::string& name, bool on) {
  if (HWND h = Control(name)) ShowWindow(h, on ? SW_SHOWNA : SW_HIDE);
}

HICON TForm::Picture(const std::string& name) const {
  const auto* c = ByName(name);
  return c ? c->picture.get() : nullptr;
}

void TForm::Show() {
  if (!hwnd_) return;
  const bool wasVisible = Visible();
  if (!wasVisible) Fire("FormShow");
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  if (!wasVisible && def_.focus)
    if (HWND f = Control(def_.focus)) SetFocus(f);
}

void TForm::Hide() {
  if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
}

bool TForm::Visible() const { return hwnd_ && IsWindowVisible(hwnd_); }

int TForm::ShowModal() {
  if (!hwnd_ || inModal_ || Application.Terminated) return mrCancel;
  inModal_ = true;
  modalResult_ = mrNone;
  ModalForms().push_back(hwnd_);
  {
    DisabledWindows others(hwnd_);
    Show();
    MSG m;
    while (modalResult_ == mrNone) {
      const BOOL r = GetMessageW(&m, nullptr, 0, 0);
      if (r == 0) {
        // The outer loop must see the quit request too.
        Application.Terminated = true;
        PostQuitMessage(static_cast<int>(m.wParam));
        modalResult_ = mrCancel;
        break;
      }
      if (r < 0) {
        modalResult_ = mrCancel;
        break;
      }
      if (!PreTranslateFormMessage(m)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
    }
  }
  ModalForms().pop_back();
  Hide();
  inModal_ = false;
  return modalResult_;
}

void TForm::Close() {
  if (!hwnd_) return;
  Fire("FormClose");
  if (inModal_) {
    if (modalResult_ == mrNone) modalResult_ = mrCancel;
    return;
  }
  AfterClose();
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
  if (hwnd_)
    SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetHeight(int height) {
  const RECT r = Bounds();
  if (hwnd_)
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::PopupMenu(const std::string& menu, int x, int y) {
  Comp* m = ByName(menu);
  if (!m || !m->menu || !hwnd_) return;
  // Without the foreground the menu would not close when the user clicks elsewhere.
  SetForegroundWindow(hwnd_);
  const UINT cmd = static_cast<UINT>(
      TrackPopupMenu(m->menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, hwnd_, nullptr));
  PostMessageW(hwnd_, WM_NULL, 0, 0);
  if (cmd == 0) return;
  if (Comp* item = ById(cmd))
    if (defs_[item->index].onEvent) Fire(defs_[item->index].onEvent);
}

bool TForm::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT CALLBACK TForm::WndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  // No C++ exception may unwind into the system's code.
  return GuardWindowCall([&]() -> LRESULT {
    if (msg == WM_NCCREATE) {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
      SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      static_cast<TForm*>(cs->lpCreateParams)->hwnd_ = h;
    }
    auto* self = reinterpret_cast<TForm*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (!self || self->hwnd_ != h) return DefWindowProcW(h, msg, wp, lp);
    return self->Dispatch(msg, wp, lp);
  }, LRESULT(0), &ShowHandlerError);
}

LRESULT CALLBACK TForm::EditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref) {
  return GuardWindowCall([&] { return EditMessage(h, msg, wp, lp, id, ref); }, LRESULT(0),
                         &ShowHandlerError);
}

LRESULT TForm::EditMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  if (msg == WM_CHAR) {
    auto* self = reinterpret_cast<TForm*>(ref);
    const auto id = static_cast<UINT>(GetDlgCtrlID(h));
    if (Comp* c = self->ById(id)) {
      const ComponentDef& d = self->defs_[c->index];
      if (d.onKey) {
        auto it = self->keyHandlers_.find(d.onKey);
        if (it != self->keyHandlers_.end()) {
          wchar_t key = static_cast<wchar_t>(wp);
          it->second(key);
          if (key == 0) return 0;  // swallowed
          wp = key;
        }
      }
    }
  } else if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(h, &TForm::EditProc, 1);
  }
  return DefSubclassProc(h, msg, wp, lp);
}

LRESULT TForm::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (HandleMessage(msg, wp, lp, result)) return result;
  switch (msg) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_TIMER:
      if (Comp* c = ById(static_cast<UINT>(wp)))
        if (defs_[c->index].onEvent) Fire(defs_[c->index].onEvent);
      return 0;
    case WM_MOUSEMOVE:
      if (mouseMove_) mouseMove_(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
      return 0;
    case DM_GETDEFID:
      // The buttons are owner-drawn, so the dialog manager cannot move the default itself.
      if (const Comp* c = DefaultButton()) return MAKELRESULT(c->id, DC_HASDEFID);
      return 0;
    case WM_COMMAND: {
      const UINT id = LOWORD(wp);
      const UINT code = HIWORD(wp);
      Comp* c = ById(id);
      if (!c) return 0;
      const ComponentDef& d = defs_[c->index];
      if (c->hwnd && !IsWindowEnabled(c->hwnd)) return 0;
      if (d.kind == CompKind::Edit) {
        if (code == EN_CHANGE && d.onEvent) Fire(d.onEvent);
      } else if (d.kind == CompKind::ComboList) {
        if (code == CBN_SELCHANGE && d.onEvent) Fire(d.onEvent);
      } else if (code == BN_CLICKED || d.kind == CompKind::ToolButton) {
        if (d.modalResult) modalResult_ = d.modalResult;
        if (d.onEvent) Fire(d.onEvent);
      }
      return 0;
    }
    case WM_NOTIFY: {
      auto* nm = reinterpret_cast<NMHDR*>(lp);
      if (nm->code == TTN_GETDISPINFOW) {
        auto* di = reinterpret_cast<NMTTDISPINFOW*>(lp);
        if (Comp* c = ById(static_cast<UINT>(nm->idFrom))) {
          if (c->hint.empty() && defs_[c->index].hint) c->hint = Utf8ToWide(defs_[c->index].hint);
          if (!c->hint.empty()) di->lpszText = const_cast<wchar_t*>(c->hint.c_str());
        }
      }
      return 0;
    }
    case WM_DRAWITEM:
      DrawButton(*reinterpret_cast<DRAWITEMSTRUCT*>(lp));
      return TRUE;
    case WM_NCDESTROY:
      LiveForms().erase(hwnd_);
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      return DefWindowProcW(hwnd_, msg, wp, lp);
    default:
      return DefWindowProcW(hwnd_, msg, wp, lp);
  }
}

const TForm::Comp* TForm::DefaultButton() const {
  const HWND focus = GetFocus();
  const Comp* marked = nullptr;
  for (auto& c : controls_) {
    if (defs_[c->index].kind != CompKind::Button) continue;
    if (c->hwnd && c->hwnd == focus) return c.get();
    if (defs_[c->index].style & csDefault) marked = c.get();
  }
  return marked;
}

void TForm::DrawButton(const DRAWITEMSTRUCT& dis) {
  Comp* c = ById(dis.CtlID);
  if (!c) return;
  const ComponentDef& d = defs_[c->index];
  if (dis.itemAction == ODA_FOCUS && d.kind == CompKind::Button) {
    // The default frame follows the focus: the other buttons draw theirs anew.
    for (auto& other : controls_)
      if (other.get() != c && defs_[other->index].kind == CompKind::Button && other->hwnd)
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
    if (c == DefaultButton()) {
      FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      InflateRect(&r, -1, -1);
    }
    DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
  }
  const int shift = pushed ? 1 : 0;
  int textLeft = r.left + 4;
  if (HICON icon = c->picture.get()) {
    int x = d.kind == CompKind::SpeedButton ? (r.left + r.right - 16) / 2 : r.left + 6;
    const int y = (r.top + r.bottom - 16) / 2;
    DrawState(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, x + shift, y + shift, 16,
              16, DST_ICON | (disabled ? DSS_DISABLED : 0));
    textLeft = x + 16 + 4;
  }
  if (d.kind == CompKind::Button) {
    std::wstring w(static_cast<size_t>(GetWindowTextLengthW(dis.hwndItem)) + 1, L'\0');
    w.resize(static_cast<size_t>(GetWindowTextW(dis.hwndItem, &w[0], static_cast<int>(w.size()))));
    RECT tr{textLeft + shift, r.top + shift, r.right - 4 + shift, r.bottom + shift};
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    HGDIOBJ old = SelectObject(dc, FontFor(d.font));
    DrawTextW(dc, w.c_str(), -1, &tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
    if (dis.itemState & ODS_FOCUS) {
      RECT fr = r;
      InflateRect(&fr, -4, -4);
      DrawFocusRect(dc, &fr);
    }
  }
}

bool PreTranslateFormMessage(MSG& m) {
  if (m.message < WM_KEYFIRST || m.message > WM_KEYLAST) return false;
  HWND root = m.hwnd ? GetAncestor(m.hwnd, GA_ROOT) : nullptr;
  if (!root || !LiveForms().count(root)) return false;
  return IsDialogMessageW(root, &m) != FALSE;
}
