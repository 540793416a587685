// The thin window layer: a form built from its table (platform/FormTable.h) whose handlers are
// bound by name, shown normally or modally. It does what every window needs: controls,
// commands, hints, popup menus, frames, fonts and colours. Components are real child
// controls; each one carries its name as the window property "MVRName" (a global atom) so
// that screen readers and test drivers in other processes can read it.
//
// The layer's files: Form.cpp (window class, creation, messages), FormControls.cpp (the
// components), FormPaint.cpp (fonts, frames, buttons, layout), FormMenus.cpp (popup menus
// and hints), FormModal.cpp (showing, the modal loop, keyboard navigation).
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/FormTable.h"
#include "platform/Owned.h"

class NameTag;
struct FormPart;

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
  void SetCaption(const std::string& caption);

  // Components (FormControls.cpp).
  std::string Text(const std::string& name) const;
  // Replaces the text only when it differs.
  void SetText(const std::string& name, const std::string& text);
  int ItemIndex(const std::string& name) const;
  void SetItemIndex(const std::string& name, int index);
  // A control, or a menu item (greyed when off).
  void SetEnabled(const std::string& name, bool on);
  void SetVisible(const std::string& name, bool on);
  HICON Picture(const std::string& name) const;
  // The bitmap a csBitmap image shows (owned by the caller); the image keeps its place.
  void SetBitmap(const std::string& name, HBITMAP bitmap);
  // Memo: word wrap (the control is made anew, text and selection kept), the selection,
  // and copying it to the clipboard.
  void SetWordWrap(const std::string& name, bool wrap);
  bool HasSelection(const std::string& name) const;
  void CopySelection(const std::string& name);
  // Grid: column widths, rows, cells.
  void SetColumns(const std::string& name, const std::vector<int>& widths);
  int RowCount(const std::string& name) const;
  void AddRows(const std::string& name, int count);
  void SetCell(const std::string& name, int row, int column, const std::string& text);

  // Look (FormPaint.cpp): fonts by their index in the table, colours of a control.
  HFONT FontOf(int index) const;
  // Makes the font at index anew; every control that uses it takes it.
  void SetFont(int index, const FontDef& font);
  void SetColors(const std::string& name, COLORREF text, COLORREF back);

  // Popup menus and hints (FormMenus.cpp).
  void PopupMenu(const std::string& menu, int x, int y);
  void SetChecked(const std::string& item, bool on);
  // Whether the component's hint (from the table) shows.
  void SetShowHint(const std::string& name, bool on);

  // Showing (FormModal.cpp).
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
  // Places the form in the middle of the primary screen.
  void CentreOnScreen();

 protected:
  // Message hook for the form's own window messages; true = handled.
  virtual bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  // What closing does after "FormClose": the main form ends the program.
  virtual void AfterClose() { Hide(); }
  void Fire(const std::string& handler);

 private:
  static LRESULT CALLBACK WndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK ControlProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                      DWORD_PTR ref);
  LRESULT ControlMessage(FormPart& c, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Dispatch(UINT msg, WPARAM wp, LPARAM lp);
  void Command(UINT id, UINT code);
  void AnswerHint(NMHDR& nm);
  void RegisterClassOnce() const;
  void CreateControl(FormPart& c);
  HWND CreateChild(const FormPart& c, DWORD exStyle, const wchar_t* cls, DWORD style);
  void CreateMenuPart(FormPart& c);
  HMENU ItemMenu(const FormPart& item) const;
  void AddHint(FormPart& c);
  void FinishControl(FormPart& c);
  void OrderControls();
  FormPart* ByName(const std::string& name);
  const FormPart* ByName(const std::string& name) const;
  FormPart* ById(UINT id);
  FormPart* ByHandle(HWND h);
  void DrawItem(const DRAWITEMSTRUCT& dis);
  void DrawButton(const FormPart& c, const DRAWITEMSTRUCT& dis);
  void FitToClient();
  bool ControlColors(HDC dc, HWND control, LRESULT& brush);
  // The button Enter presses: the focused push button, else the one marked csDefault.
  const FormPart* DefaultButton() const;

  FormDef def_;
  std::vector<ComponentDef> defs_;
  std::vector<std::unique_ptr<FormPart>> controls_;
  std::vector<OwnedFont> fonts_;
  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;  // destroyed with the form, which owns it
  std::unique_ptr<NameTag> formTag_;
  std::map<std::string, std::function<void()>> handlers_;
  std::map<std::string, std::function<void(wchar_t&)>> keyHandlers_;
  std::function<void(int, int)> mouseMove_;
  int modalResult_ = 0;
  bool inModal_ = false;
  bool destroyed_ = false;
};

HINSTANCE AppInstance();
// Loads an icon resource in size x size pixels; nullptr when it is missing.
HICON LoadIconOfSize(int id, int size);
// A font by face, character height in pixels and style bits.
OwnedFont MakeFont(const FontDef& font);
// Pixel height of a size in points on the screen.
int PointsToPixels(int points);
// Width of a text in a font, as the window's device context measures it.
int TextWidth(HWND window, HFONT font, const std::wstring& text);

// Keyboard navigation of the forms (Tab, Enter = default button, Esc = cancel button).
bool PreTranslateFormMessage(MSG& m);
