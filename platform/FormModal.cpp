// Showing a form, its modal loop, and the keyboard's way through the forms.
#include "platform/Form.h"

#include "platform/Application.h"
#include "platform/FormPart.h"
#include "platform/MessageDlg.h"
#include "platform/ModalWindows.h"

using namespace form_detail;

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
  {
    ModalScope modal(hwnd_);
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

const FormPart* TForm::DefaultButton() const {
  const HWND focus = GetFocus();
  const FormPart* marked = nullptr;
  for (auto& c : controls_) {
    if (c->def->kind != CompKind::Button) continue;
    if (c->hwnd && c->hwnd == focus) return c.get();
    if (c->def->style & csDefault) marked = c.get();
  }
  return marked;
}

bool PreTranslateFormMessage(MSG& m) {
  if (m.message < WM_KEYFIRST || m.message > WM_KEYLAST) return false;
  HWND root = m.hwnd ? GetAncestor(m.hwnd, GA_ROOT) : nullptr;
  if (!root || !LiveForms().count(root)) return false;
  return IsDialogMessageW(root, &m) != FALSE;
}
