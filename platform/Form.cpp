// The form's window: its class, its creation from the table, its end, and the messages it
// turns into the handlers named in the table.
#include "platform/Form.h"

#include "platform/Application.h"
#include "platform/Boundary.h"
#include "platform/FormPart.h"
#include "platform/MessageDlg.h"
#include "platform/Text.h"

using namespace form_detail;

BOOL WINAPI FreeImageList(HIMAGELIST h) { return ImageList_Destroy(h); }

HINSTANCE AppInstance() { return GetModuleHandleW(nullptr); }

std::set<HWND>& form_detail::LiveForms() {
  static std::set<HWND> forms;
  return forms;
}

void form_detail::ShowHandlerError(const std::string& text) { MessageDlg(text, MsgDlgType::Error, mbOK); }

std::vector<std::string> form_detail::SplitLines(const char* text) {
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

NameTag::NameTag(HWND hwnd, const std::string& name, std::wstring prop)
    : hwnd_(hwnd), prop_(std::move(prop)), atom_(GlobalAddAtomW(Utf8ToWide(name).c_str())) {
  if (atom_.get())
    SetPropW(hwnd_, prop_.c_str(), reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(atom_.get())));
}

NameTag::~NameTag() {
  if (atom_.get() && IsWindow(hwnd_)) RemovePropW(hwnd_, prop_.c_str());
}

namespace {

void EnsureCommonControls() {
  static bool done = false;
  if (done) return;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES |
                                           ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  done = true;
}

struct FrameStyle {
  DWORD style, exStyle;
};

FrameStyle StyleOf(FormFrame frame) {
  switch (frame) {
    case FormFrame::Main: return {WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0};
    case FormFrame::Dialog: return {WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME};
    case FormFrame::Sizable: return {WS_OVERLAPPEDWINDOW, 0};
  }
  return {WS_OVERLAPPEDWINDOW, 0};
}

}  // namespace

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

void TForm::RegisterClassOnce() const {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(AppInstance(), def_.className, &wc)) return;
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

void TForm::Create() {
  if (hwnd_) return;
  EnsureCommonControls();
  RegisterClassOnce();
  for (const FontDef& f : def_.fonts) fonts_.push_back(MakeFont(f));
  const FrameStyle frame = StyleOf(def_.frame);
  RECT r{0, 0, def_.clientWidth, def_.clientHeight};
  AdjustWindowRectEx(&r, frame.style, FALSE, frame.exStyle);
  SetLastError(0);  // not every failure sets one
  // Every form after the first is owned by the main window: no taskbar button of its own,
  // and never behind it.
  hwnd_ = CreateWindowExW(frame.exStyle | WS_EX_CONTROLPARENT, def_.className,
                          Utf8ToWide(def_.caption).c_str(), frame.style, def_.left, def_.top,
                          r.right - r.left, r.bottom - r.top, Application.MainWindow, nullptr,
                          AppInstance(), this);
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
    auto c = std::make_unique<FormPart>();
    c->def = &defs_[i];
    c->id = kFirstId + static_cast<UINT>(i);
    if (defs_[i].style & csDefault) c->id = IDOK;
    if (defs_[i].style & csCancel) c->id = IDCANCEL;
    controls_.push_back(std::move(c));
  }
  // Image lists and menus first: tool bars, items and memos refer to them by name.
  for (auto& c : controls_)
    if (c->def->kind == CompKind::ImageList || c->def->kind == CompKind::PopupMenu) CreateControl(*c);
  for (auto& c : controls_)
    if (c->def->kind != CompKind::ImageList && c->def->kind != CompKind::PopupMenu) CreateControl(*c);
  OrderControls();
  formTag_ = std::make_unique<NameTag>(hwnd_, "Form");
  Fire("FormCreate");
}

void TForm::Destroy() {
  if (!hwnd_ || destroyed_) return;
  destroyed_ = true;
  Fire("FormDestroy");
  for (auto& c : controls_)
    if (c->def->kind == CompKind::Timer) KillTimer(hwnd_, c->id);
  HWND h = hwnd_;
  LiveForms().erase(h);
  if (Application.MainWindow == h) {
    // Destroying an owner destroys what it owns: the other forms stay until their own
    // Destroy, which writes their place.
    for (HWND f : LiveForms())
      if (GetWindow(f, GW_OWNER) == h) SetWindowLongPtrW(f, GWLP_HWNDPARENT, 0);
    Application.MainWindow = nullptr;
  }
  // The names go before the windows that carry them.
  for (auto& c : controls_) c->tag.reset();
  formTag_.reset();
  DestroyWindow(h);
  hwnd_ = nullptr;
  controls_.clear();
  fonts_.clear();
}

FormPart* TForm::ByName(const std::string& name) {
  for (auto& c : controls_)
    if (name == c->def->name) return c.get();
  return nullptr;
}

const FormPart* TForm::ByName(const std::string& name) const {
  for (auto& c : controls_)
    if (name == c->def->name) return c.get();
  return nullptr;
}

FormPart* TForm::ById(UINT id) {
  for (auto& c : controls_)
    if (c->id == id) return c.get();
  return nullptr;
}

FormPart* TForm::ByHandle(HWND h) {
  for (auto& c : controls_)
    if (c->hwnd && c->hwnd == h) return c.get();
  return nullptr;
}

HWND TForm::Control(const std::string& name) const {
  const auto* c = ByName(name);
  return c ? c->hwnd : nullptr;
}

void TForm::SetCaption(const std::string& caption) {
  if (hwnd_) SetWindowTextW(hwnd_, Utf8ToWide(caption).c_str());
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

LRESULT TForm::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (HandleMessage(msg, wp, lp, result)) return result;
  switch (msg) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_TIMER:
      if (FormPart* c = ById(static_cast<UINT>(wp)))
        if (c->def->onEvent) Fire(c->def->onEvent);
      return 0;
    case WM_MOUSEMOVE:
      if (mouseMove_) mouseMove_(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
      return 0;
    case WM_SIZE:
      FitToClient();
      return 0;
    case DM_GETDEFID:
      // The buttons are owner-drawn, so the dialog manager cannot move the default itself.
      if (const FormPart* c = DefaultButton()) return MAKELRESULT(c->id, DC_HASDEFID);
      return 0;
    case WM_COMMAND:
      Command(LOWORD(wp), HIWORD(wp));
      return 0;
    case WM_NOTIFY:
      AnswerHint(*reinterpret_cast<NMHDR*>(lp));
      return 0;
    case WM_DRAWITEM:
      DrawItem(*reinterpret_cast<DRAWITEMSTRUCT*>(lp));
      return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      if (ControlColors(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp), result)) return result;
      return DefWindowProcW(hwnd_, msg, wp, lp);
    case WM_NCDESTROY:
      LiveForms().erase(hwnd_);
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      return DefWindowProcW(hwnd_, msg, wp, lp);
    default:
      return DefWindowProcW(hwnd_, msg, wp, lp);
  }
}

void TForm::Command(UINT id, UINT code) {
  FormPart* c = ById(id);
  if (!c) {
    // Esc with no cancel button: closes the forms that ask for it, like their close box.
    if (id == IDCANCEL && def_.escCloses && inModal_) modalResult_ = mrCancel;
    return;
  }
  const ComponentDef& d = *c->def;
  if (c->hwnd && !IsWindowEnabled(c->hwnd)) return;
  if (d.kind == CompKind::Edit) {
    if (code == EN_CHANGE && d.onEvent) Fire(d.onEvent);
  } else if (d.kind == CompKind::ComboList) {
    if (code == CBN_SELCHANGE && d.onEvent) Fire(d.onEvent);
  } else if (code == BN_CLICKED || d.kind == CompKind::ToolButton) {
    // Buttons and tool buttons, and labels and images that take clicks (STN_CLICKED).
    if (d.modalResult) modalResult_ = d.modalResult;
    if (d.onEvent) Fire(d.onEvent);
  }
}
