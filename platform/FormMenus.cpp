// The parts of a form that are no child windows (image lists, timers, popup menus and their
// items), the popup menus at work, and the hints.
#include "platform/Form.h"

#include "platform/FormPart.h"
#include "platform/Text.h"

using namespace form_detail;

void TForm::CreateMenuPart(FormPart& c) {
  const ComponentDef& d = *c.def;
  switch (d.kind) {
    case CompKind::ImageList: {
      const auto ids = SplitLines(d.caption);
      c.images.reset(ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, static_cast<int>(ids.size()), 0));
      for (const std::string& s : ids) {
        OwnedIcon icon(LoadIconOfSize(atoi(s.c_str()), 16));
        if (icon.get()) ImageList_AddIcon(c.images.get(), icon.get());
      }
      return;
    }
    case CompKind::Timer:
      SetTimer(hwnd_, c.id, static_cast<UINT>(d.extra), nullptr);
      return;
    case CompKind::PopupMenu:
      c.menu.reset(CreatePopupMenu());
      return;
    case CompKind::MenuItem: {
      const HMENU menu = ItemMenu(c);
      if (!menu) return;
      if (std::string(d.caption) == "-")
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      else
        AppendMenuW(menu, MF_STRING, c.id, Utf8ToWide(d.caption).c_str());
      return;
    }
    default:
      return;
  }
}

HMENU TForm::ItemMenu(const FormPart& item) const {
  const FormPart* m = item.def->ref ? ByName(item.def->ref) : nullptr;
  return m ? m->menu.get() : nullptr;
}

void TForm::PopupMenu(const std::string& menu, int x, int y) {
  FormPart* m = ByName(menu);
  if (!m || !m->menu.get() || !hwnd_) return;
  if (m->def->onEvent) Fire(m->def->onEvent);
  // Without the foreground the menu would not close when the user clicks elsewhere.
  SetForegroundWindow(hwnd_);
  const UINT cmd = static_cast<UINT>(
      TrackPopupMenu(m->menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, hwnd_, nullptr));
  PostMessageW(hwnd_, WM_NULL, 0, 0);
  if (cmd == 0) return;
  if (FormPart* item = ById(cmd))
    if (item->def->onEvent) Fire(item->def->onEvent);
}

void TForm::SetEnabled(const std::string& name, bool on) {
  const FormPart* c = ByName(name);
  if (!c) return;
  if (c->def->kind == CompKind::MenuItem) {
    if (HMENU menu = ItemMenu(*c)) EnableMenuItem(menu, c->id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
  } else if (c->hwnd) {
    EnableWindow(c->hwnd, on ? TRUE : FALSE);
  }
}

void TForm::SetChecked(const std::string& item, bool on) {
  const FormPart* c = ByName(item);
  if (!c || c->def->kind != CompKind::MenuItem) return;
  if (HMENU menu = ItemMenu(*c)) CheckMenuItem(menu, c->id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void TForm::AddHint(FormPart& c) {
  if (c.def->hint) c.hint = Utf8ToWide(c.def->hint);
  SetShowHint(c.def->name, true);
}

void TForm::SetShowHint(const std::string& name, bool on) {
  FormPart* c = ByName(name);
  if (!c || !c->hwnd || !tooltip_ || c->hint.empty() || c->hintShown == on) return;
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = hwnd_;
  ti.uId = reinterpret_cast<UINT_PTR>(c->hwnd);
  ti.lpszText = const_cast<wchar_t*>(c->hint.c_str());
  SendMessageW(tooltip_, on ? TTM_ADDTOOLW : TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  c->hintShown = on;
}

void TForm::AnswerHint(NMHDR& nm) {
  // The tool bar's own tooltips ask for their buttons' hints.
  if (nm.code != TTN_GETDISPINFOW) return;
  auto& di = reinterpret_cast<NMTTDISPINFOW&>(nm);
  FormPart* c = ById(static_cast<UINT>(nm.idFrom));
  if (!c) return;
  if (c->hint.empty() && c->def->hint) c->hint = Utf8ToWide(c->def->hint);
  if (!c->hint.empty()) di.lpszText = const_cast<wchar_t*>(c->hint.c_str());
}
