// The components: each kind of the table made as a child control, and what the windows read
// and change on them.
#include "platform/Form.h"

#include "platform/Boundary.h"
#include "platform/FormPart.h"
#include "platform/Text.h"

using namespace form_detail;

HICON LoadIconOfSize(int id, int size) {
  if (id == 0) return nullptr;
  return static_cast<HICON>(
      LoadImageW(AppInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

namespace {

DWORD TextAlignment(unsigned style) {
  DWORD align = (style & csRight) ? SS_RIGHT : (style & csCenter) ? SS_CENTER : SS_LEFT;
  if (style & csMiddle) align |= SS_CENTERIMAGE;
  return align;
}

// Word wrap is a style a multi-line edit takes only when it is made.
DWORD MemoStyle(bool wrap) {
  const DWORD style = WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_NOHIDESEL;
  return wrap ? style : style | WS_HSCROLL | ES_AUTOHSCROLL;
}

}  // namespace

HWND TForm::CreateChild(const FormPart& c, DWORD exStyle, const wchar_t* cls, DWORD style) {
  const ComponentDef& d = *c.def;
  RECT r{d.left, d.top, d.left + d.width, d.top + d.height};
  if (d.style & csClient) GetClientRect(hwnd_, &r);
  const std::wstring text = d.kind == CompKind::ComboList ? L"" : Utf8ToWide(d.caption);
  const DWORD visible = (d.style & csHidden) ? 0 : WS_VISIBLE;
  return CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | visible | style, r.left, r.top,
                         r.right - r.left, r.bottom - r.top, hwnd_,
                         reinterpret_cast<HMENU>(static_cast<UINT_PTR>(c.id)), AppInstance(), nullptr);
}

void TForm::CreateControl(FormPart& c) {
  const ComponentDef& d = *c.def;
  switch (d.kind) {
    case CompKind::Label:
      // SS_NOTIFY: the label takes the mouse itself, like a control and unlike free area.
      c.hwnd = CreateChild(c, 0, L"STATIC", SS_NOPREFIX | SS_NOTIFY | TextAlignment(d.style));
      break;
    case CompKind::Panel:
    case CompKind::Bevel:
      c.hwnd = CreateChild(c, 0, L"STATIC", SS_OWNERDRAW);
      break;
    case CompKind::Image:
      if (d.style & csBitmap) {
        c.hwnd = CreateChild(c, 0, L"STATIC", SS_BITMAP | SS_CENTERIMAGE | SS_NOTIFY);
      } else {
        c.picture.reset(LoadIconOfSize(d.picture, d.extra ? d.extra : 16));
        c.hwnd = CreateChild(c, 0, L"STATIC", SS_ICON | SS_REALSIZECONTROL | SS_NOTIFY);
        if (c.hwnd && c.picture.get())
          SendMessageW(c.hwnd, STM_SETICON, reinterpret_cast<WPARAM>(c.picture.get()), 0);
      }
      // A picture sizes its control: the image keeps the place of the table.
      if (c.hwnd) SetWindowPos(c.hwnd, nullptr, d.left, d.top, d.width, d.height, SWP_NOZORDER);
      break;
    case CompKind::ComboList: {
      c.hwnd = CreateChild(c, 0, L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST);
      if (!c.hwnd) break;
      // The font first: the rows' height follows it.
      SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(d.font)), FALSE);
      for (const std::string& row : SplitLines(d.caption))
        SendMessageW(c.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(row).c_str()));
      const int rows = d.extra > 0 ? d.extra : 8;
      const int itemH = static_cast<int>(SendMessageW(c.hwnd, CB_GETITEMHEIGHT, 0, 0));
      SetWindowPos(c.hwnd, nullptr, 0, 0, d.width, d.height + rows * itemH + 2,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      break;
    }
    case CompKind::Edit:
      c.hwnd = CreateChild(c, WS_EX_CLIENTEDGE, L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL);
      if (!c.hwnd) break;
      if (d.extra > 0) SendMessageW(c.hwnd, EM_LIMITTEXT, d.extra, 0);
      SetWindowSubclass(c.hwnd, &TForm::ControlProc, 1, reinterpret_cast<DWORD_PTR>(this));
      break;
    case CompKind::Memo:
      c.hwnd = CreateChild(c, WS_EX_CLIENTEDGE, L"EDIT", MemoStyle(c.wrap));
      if (!c.hwnd) break;
      SendMessageW(c.hwnd, EM_SETLIMITTEXT, 0, 0);
      SetWindowSubclass(c.hwnd, &TForm::ControlProc, 1, reinterpret_cast<DWORD_PTR>(this));
      break;
    case CompKind::Grid:
      c.hwnd = CreateChild(c, 0, WC_LISTVIEWW,
                           WS_VSCROLL | WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL |
                               LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | LVS_SHAREIMAGELISTS);
      if (!c.hwnd) break;
      SendMessageW(c.hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
      // The rows' height follows the small image list's.
      c.images.reset(ImageList_Create(1, d.extra, ILC_COLOR, 1, 0));
      SendMessageW(c.hwnd, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(c.images.get()));
      break;
    case CompKind::Button:
      c.picture.reset(LoadIconOfSize(d.picture, 16));
      c.hwnd = CreateChild(c, 0, L"BUTTON", WS_TABSTOP | BS_OWNERDRAW);
      break;
    case CompKind::SpeedButton:
      c.picture.reset(LoadIconOfSize(d.picture, 16));
      c.hwnd = CreateChild(c, 0, L"BUTTON", BS_OWNERDRAW);
      break;
    case CompKind::ToolBar: {
      c.hwnd = CreateChild(c, 0, TOOLBARCLASSNAMEW,
                           TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN);
      if (!c.hwnd) break;
      SendMessageW(c.hwnd, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
      SendMessageW(c.hwnd, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 16));
      if (d.ref)
        if (FormPart* il = ByName(d.ref))
          SendMessageW(c.hwnd, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(il->images.get()));
      SendMessageW(c.hwnd, TB_SETBUTTONSIZE, 0, MAKELPARAM(d.extra ? d.extra : 23, d.height - 4));
      break;
    }
    case CompKind::ToolButton: {
      FormPart* bar = d.ref ? ByName(d.ref) : nullptr;
      if (!bar || !bar->hwnd) return;
      TBBUTTON b{};
      b.iBitmap = d.extra;
      b.idCommand = static_cast<int>(c.id);
      b.fsState = TBSTATE_ENABLED;
      b.fsStyle = BTNS_BUTTON;
      b.iString = -1;
      SendMessageW(bar->hwnd, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&b));
      // Button k of the bar is named by the bar's property "MVRItem<k>".
      const int k = static_cast<int>(SendMessageW(bar->hwnd, TB_BUTTONCOUNT, 0, 0)) - 1;
      c.tag = std::make_unique<NameTag>(bar->hwnd, d.name, L"MVRItem" + std::to_wstring(k));
      return;
    }
    case CompKind::ImageList:
    case CompKind::Timer:
    case CompKind::PopupMenu:
    case CompKind::MenuItem:
      CreateMenuPart(c);
      return;
  }
  FinishControl(c);
}

void TForm::FinishControl(FormPart& c) {
  const ComponentDef& d = *c.def;
  if (!c.hwnd) return;
  if (d.kind != CompKind::ComboList)
    SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(d.font)), FALSE);
  if (d.kind == CompKind::Label && !(d.style & (csRight | csCenter))) {
    // Left-aligned labels grow to their text, as the toolkit's auto-sized labels do.
    const int width = TextWidth(c.hwnd, FontOf(d.font), Utf8ToWide(d.caption));
    if (width > d.width)
      SetWindowPos(c.hwnd, nullptr, 0, 0, width, d.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  c.tag = std::make_unique<NameTag>(c.hwnd, d.name);
  AddHint(c);
}

void TForm::OrderControls() {
  // Z-order is the tab order.
  HWND prev = HWND_TOP;
  for (const char* name : def_.tabOrder) {
    HWND h = Control(name);
    if (!h) continue;
    SetWindowPos(h, prev, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    prev = h;
  }
  // Frames go to the bottom so they never cover controls; the first of them lowest.
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    const CompKind kind = (*it)->def->kind;
    if ((kind == CompKind::Bevel || kind == CompKind::Panel) && (*it)->hwnd)
      SetWindowPos((*it)->hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

LRESULT CALLBACK TForm::ControlProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  // No C++ exception may unwind into the system's code.
  return GuardWindowCall([&]() -> LRESULT {
    if (msg == WM_NCDESTROY) {
      RemoveWindowSubclass(h, &TForm::ControlProc, 1);
      return DefSubclassProc(h, msg, wp, lp);
    }
    auto* self = reinterpret_cast<TForm*>(ref);
    FormPart* c = self->ByHandle(h);
    return c ? self->ControlMessage(*c, msg, wp, lp) : DefSubclassProc(h, msg, wp, lp);
  }, LRESULT(0), &ShowHandlerError);
}

LRESULT TForm::ControlMessage(FormPart& c, UINT msg, WPARAM wp, LPARAM lp) {
  const ComponentDef& d = *c.def;
  if (msg == WM_CHAR && d.onKey) {
    auto it = keyHandlers_.find(d.onKey);
    if (it != keyHandlers_.end()) {
      wchar_t key = static_cast<wchar_t>(wp);
      it->second(key);
      if (key == 0) return 0;  // swallowed
      wp = key;
    }
  } else if (msg == WM_CONTEXTMENU && d.kind == CompKind::Memo && d.ref) {
    int x = static_cast<short>(LOWORD(lp));
    int y = static_cast<short>(HIWORD(lp));
    if (x == -1 && y == -1) {  // from the keyboard: at the text box's corner
      POINT p{4, 4};
      ClientToScreen(c.hwnd, &p);
      x = p.x;
      y = p.y;
    }
    PopupMenu(d.ref, x, y);
    return 0;
  }
  return DefSubclassProc(c.hwnd, msg, wp, lp);
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
  if (ByName(name)->def->kind == CompKind::Edit)
    SendMessageW(h, EM_SETSEL, w.size(), static_cast<LPARAM>(w.size()));
}

int TForm::ItemIndex(const std::string& name) const {
  HWND h = Control(name);
  return h ? static_cast<int>(SendMessageW(h, CB_GETCURSEL, 0, 0)) : -1;
}

void TForm::SetItemIndex(const std::string& name, int index) {
  if (HWND h = Control(name)) SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void TForm::SetVisible(const std::string& name, bool on) {
  if (HWND h = Control(name)) ShowWindow(h, on ? SW_SHOWNA : SW_HIDE);
}

HICON TForm::Picture(const std::string& name) const {
  const auto* c = ByName(name);
  return c ? c->picture.get() : nullptr;
}

void TForm::SetBitmap(const std::string& name, HBITMAP bitmap) {
  const FormPart* c = ByName(name);
  if (!c || !c->hwnd || !bitmap) return;
  SendMessageW(c->hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
  const ComponentDef& d = *c->def;
  SetWindowPos(c->hwnd, nullptr, d.left, d.top, d.width, d.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetWordWrap(const std::string& name, bool wrap) {
  FormPart* c = ByName(name);
  if (!c || c->def->kind != CompKind::Memo || !c->hwnd || c->wrap == wrap) return;
  HWND old = c->hwnd;
  const std::string text = Text(name);
  DWORD selStart = 0, selEnd = 0;
  SendMessageW(old, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
  HWND above = GetWindow(old, GW_HWNDPREV);
  c->tag.reset();
  DestroyWindow(old);
  c->hwnd = nullptr;
  c->hintShown = false;
  c->wrap = wrap;
  CreateControl(*c);
  if (!c->hwnd) return;
  SetWindowPos(c->hwnd, above ? above : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetWindowTextW(c->hwnd, Utf8ToWide(text).c_str());
  SendMessageW(c->hwnd, EM_SETSEL, selStart, selEnd);
}

bool TForm::HasSelection(const std::string& name) const {
  HWND h = Control(name);
  DWORD a = 0, b = 0;
  if (h) SendMessageW(h, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  return a != b;
}

void TForm::CopySelection(const std::string& name) {
  if (HasSelection(name)) SendMessageW(Control(name), WM_COPY, 0, 0);
}

void TForm::SetColumns(const std::string& name, const std::vector<int>& widths) {
  HWND h = Control(name);
  for (size_t i = 0; h && i < widths.size(); ++i) {
    LVCOLUMNW col{};
    col.mask = LVCF_WIDTH;
    col.cx = widths[i];
    SendMessageW(h, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
  }
}

int TForm::RowCount(const std::string& name) const {
  HWND h = Control(name);
  return h ? static_cast<int>(SendMessageW(h, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

void TForm::AddRows(const std::string& name, int count) {
  HWND h = Control(name);
  for (int i = 0; h && i < count; ++i) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = RowCount(name);
    item.pszText = const_cast<wchar_t*>(L"");
    SendMessageW(h, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

void TForm::SetCell(const std::string& name, int row, int column, const std::string& text) {
  HWND h = Control(name);
  if (!h) return;
  const std::wstring w = Utf8ToWide(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(w.c_str());
  SendMessageW(h, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}
