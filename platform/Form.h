// The thin window layer: a form built from a table of named components whose handlers are
// bound by name, shown normally or modally. Components are real child controls; each one
// carries its name as the window property "MVRName" (a global atom) so that screen readers
// and test drivers in other processes can read it.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

enum class CompKind {
  Label,      // STATIC
  Bevel,      // STATIC, etched frame
  ComboList,  // COMBOBOX, drop-down list; caption = rows separated by '\n', extra = rows shown
  Edit,       // EDIT, one line; extra = maximum length
  Button,     // BUTTON with an optional picture drawn before the caption
  SpeedButton,  // small flat picture button
  Image,      // STATIC showing an icon
  ToolBar,    // ToolbarWindow32; ref = the image list
  ToolButton,  // button of the tool bar named in ref; extra = image index
  ImageList,  // caption = icon resource ids separated by '\n'
  Timer,      // extra = interval in ms
  PopupMenu,
  MenuItem,   // item of the popup menu named in ref; caption "-" is a separator
};

enum CompStyle : unsigned {
  csRight = 1u << 0,    // right-aligned text
  csHidden = 1u << 1,   // created invisible
  csDefault = 1u << 2,  // the default button (Enter)
  csCancel = 1u << 3,   // the cancel button (Esc)
  csFlat = 1u << 4,
};

struct FontDef {
  const char* face;
  int height;  // character height in pixels
  bool bold;
};

struct ComponentDef {
  const char* name;
  CompKind kind;
  int left, top, width, height;
  const char* caption;  // UTF-8
  int font = -1;        // index into the form's fonts; -1 = the form's font
  unsigned style = 0;
  int extra = 0;
  const char* hint = nullptr;
  const char* ref = nullptr;
  const char* onEvent = nullptr;  // Click / Change / Timer handler name
  const char* onKey = nullptr;    // key press handler name (edits)
  int picture = 0;                // icon resource id
  int modalResult = 0;            // set on the form when the button is clicked
};

struct FormDef {
  const wchar_t* className;
  const char* caption;  // UTF-8
  int clientWidth, clientHeight;
  DWORD style, exStyle;
  int left, top;
  std::vector<FontDef> fonts;  // fonts[0] is the form's font
  std::vector<const char*> tabOrder;
  const char* focus = nullptr;  // control focused when shown
};

// Owns one GDI object, icon or similar handle.
template <typename H, BOOL(WINAPI* Free)(H)>
class Owned {
 public:
  Owned() = default;
  explicit Owned(H h) : h_(h) {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
  Owned& operator=(Owned&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = o.h_;
      o.h_ = nullptr;
    }
    return *this;
  }
  void reset(H h = nullptr) {
    if (h_) Free(h_);
    h_ = h;
  }
  H get() const { return h_; }

 private:
  H h_ = nullptr;
};

inline BOOL WINAPI FreeFont(HFONT h) { return DeleteObject(h); }
inline BOOL WINAPI FreeMenu(HMENU h) { return DestroyMenu(h); }
BOOL WINAPI FreeImageList(HIMAGELIST h);
using OwnedFont = Owned<HFONT, FreeFont>;
using OwnedIcon = Owned<HICON, DestroyIcon>;
using OwnedMenu = Owned<HMENU, FreeMenu>;
using OwnedImageList = Owned<HIMAGELIST, FreeImageList>;

// Name tag of a control: a global atom held as the window property "MVRName".
class NameTag {
 public:
  NameTag(HWND hwnd, const std::string& name);
  ~NameTag();
  NameTag(const NameTag&) = delete;
  NameTag& operator=(const NameTag&) = delete;

 private:
  HWND hwnd_;
  const wchar_t* prop_;
  ATOM atom_;
  std::wstring propName_;
};

class TForm {
 public:
  TForm(FormDef def, std::vector<ComponentDef> components);
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  // Creates the window and its controls, then runs "FormCreate".
  void Create();
  // Runs "FormDestroy" and destroys the window (safe to repeat).
  void Destroy();

  void Bind(const std::string& handler, std::function<void()> fn);
  void BindKey(const std::string& handler, std::function<void(wchar_t&)> fn);
  void BindMouseMove(std::function<void(int, int)> fn) { mouseMove_ = std::move(fn); }

  HWND Handle() const { return hwnd_; }
  HWND Control(const std::string& name) const;
  bool Exists() const { return hwnd_ != nullptr; }

  std::string Text(const std::string& name) const;
  // Replaces the text only when it differs.
  void SetText(const std::string& name, const std::string& text);
  int ItemIndex(const std::string& name) const;
  void SetItemIndex(const std::string& name, int index);
  void SetEnabled(const std::string& name, bool on);
  void SetVisible(const std::string& name, bool on);
  HICON Picture(const std::string& name) const;

  void Show();
  void Hide();
  bool Visible() const;
  // Runs a nested message loop until ModalResult is set; a WM_QUIT ends it too and is
  // posted again for the outer loop. Re-entry on the same form returns mrCancel at once.
  int ShowModal();
  void SetModalResult(int r) { modalResult_ = r; }
  // Asks the form to close: "FormClose" runs, then CloseQuery decides what happens.
  void Close();

  RECT Bounds() const;  // outer rectangle in screen pixels
  void SetBounds(int left, int top, int width, int height);
  void SetPosition(int left, int top);
  void SetHeight(int height);

  void PopupMenu(const std::string& menu, int x, int y);

 protected:
  // Message hook for the form's own window messages; true = handled.
  virtual bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  // What closing does after "FormClose": the main form ends the program.
  virtual void AfterClose() { Hide(); }
  void Fire(const std::string& handler);

 private:
  struct Comp;
  static LRESULT CALLBACK WndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK EditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                   DWORD_PTR ref);
  static LRESULT EditMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref);
  LRESULT Dispatch(UINT msg, WPARAM wp, LPARAM lp);
  void CreateControl(size_t index);
  Comp* ByName(const std::string& name);
  const Comp* ByName(const std::string& name) const;
  Comp* ById(UINT id);
  void DrawButton(const DRAWITEMSTRUCT& dis);
  // The button Enter presses: the focused push button, else the one marked csDefault.
  const Comp* DefaultButton() const;
  HFONT FontFor(int index) const;

  FormDef def_;
  std::vector<ComponentDef> defs_;
  std::vector<std::unique_ptr<Comp>> controls_;
  std::vector<OwnedFont> fonts_;
  std::vector<OwnedMenu> menus_;
  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;
  std::unique_ptr<NameTag> formTag_;
  std::map<std::string, std::function<void()>> handlers_;
  std::map<std::string, std::function<void(wchar_t&)>> keyHandlers_;
  std::function<void(int, int)> mouseMove_;
  int modalResult_ = 0;
  bool inModal_ = false;
  bool destroyed_ = false;
};

// Disables the thread's other enabled top-level windows for a modal loop and enables them
// again when it ends.
class DisabledWindows {
 public:
  explicit DisabledWindows(HWND except);
  ~DisabledWindows();
  DisabledWindows(const DisabledWindows&) = delete;
  DisabledWindows& operator=(const DisabledWindows&) = delete;

 private:
  std::vector<HWND> disabled_;
};

// The owner of a new dialog or message box: the innermost modal form, else the main window.
HWND DialogOwner();

HINSTANCE AppInstance();
// Loads a 16x16 icon resource; nullptr when it is missing.
HICON LoadSmallIcon(int id);

// Keyboard navigation of the forms (Tab, Enter = default button, Esc = cancel button).
bool PreTranslateFormMessage(MSG& m);
