#include "platform/MessageDlg.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "platform/ModalWindows.h"
#include "platform/Text.h"

namespace {

struct ButtonLabel {
  int id;
  const wchar_t* text;
};

// The system box names its buttons in the system's language; a CBT hook renames them the
// moment the box is activated, before it runs its own loop.
struct RenameHook {
  HHOOK hook = nullptr;
  std::vector<ButtonLabel> labels;
};

thread_local RenameHook* g_pending = nullptr;

LRESULT CALLBACK CbtProc(int code, WPARAM wp, LPARAM lp) {
  RenameHook* st = g_pending;
  if (code == HCBT_ACTIVATE && st && st->hook) {
    HWND box = reinterpret_cast<HWND>(wp);
    wchar_t cls[16] = {};
    GetClassNameW(box, cls, 16);
    if (std::wcscmp(cls, L"#32770") == 0) {
      for (const ButtonLabel& l : st->labels) SetDlgItemTextW(box, l.id, l.text);
      // Unhooked at once: boxes opened later from inside this one install their own.
      UnhookWindowsHookEx(st->hook);
      st->hook = nullptr;
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

int MessageDlg(const std::string& text, MsgDlgType type, unsigned buttons, unsigned defaultButton,
               const std::string& caption) {
  // Owned by the program's window: no taskbar button of its own, never behind it; brought
  // to the front also when that window is hidden in the notification area.
  const HWND owner = DialogOwner();
  UINT flags = MB_SETFOREGROUND | (owner ? MB_APPLMODAL : MB_TASKMODAL);
  switch (type) {
    case MsgDlgType::Warning: flags |= MB_ICONWARNING; break;
    case MsgDlgType::Error: flags |= MB_ICONERROR; break;
    case MsgDlgType::Information: flags |= MB_ICONINFORMATION; break;
    case MsgDlgType::Confirmation: flags |= MB_ICONQUESTION; break;
  }
  RenameHook rename;
  std::vector<unsigned> order;  // the buttons as shown, for the default button
  const bool abortOnly = buttons == mbAbort;
  if (abortOnly) {
    // A single abort button: the OK slot renamed.
    rename.labels.push_back({IDOK, L"&Abbrechen"});
    order = {mbAbort};
  } else if ((buttons & mbYes) && (buttons & mbNo)) {
    rename.labels.push_back({IDYES, L"&Ja"});
    rename.labels.push_back({IDNO, L"&Nein"});
    order = {mbYes, mbNo};
    if (buttons & mbCancel) {
      flags |= MB_YESNOCANCEL;
      rename.labels.push_back({IDCANCEL, L"&Abbrechen"});
      order.push_back(mbCancel);
    } else {
      flags |= MB_YESNO;
    }
  } else if ((buttons & mbOK) && (buttons & mbCancel)) {
    flags |= MB_OKCANCEL;
    rename.labels.push_back({IDOK, L"OK"});
    rename.labels.push_back({IDCANCEL, L"&Abbrechen"});
    order = {mbOK, mbCancel};
  } else {
    rename.labels.push_back({IDOK, L"OK"});
    order = {mbOK};
  }
  for (size_t i = 1; i < order.size(); ++i)
    if (order[i] == defaultButton) flags |= (i == 1 ? MB_DEFBUTTON2 : MB_DEFBUTTON3);

  const char* kCaptions[] = {"Warnung", "Fehler", "Information", "Bestätigen"};
  const std::wstring title = Utf8ToWide(caption.empty() ? kCaptions[static_cast<int>(type)] : caption);
  const std::wstring body = Utf8ToWide(text);

  RenameHook* outer = g_pending;
  rename.hook = SetWindowsHookExW(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
  g_pending = &rename;
  int r = 0;
  {
    // Task-modal with an owner too: the system disables only the owner.
    DisabledWindows others(owner);
    r = MessageBoxW(owner, body.c_str(), title.c_str(), flags);
  }
  if (rename.hook) UnhookWindowsHookEx(rename.hook);
  g_pending = outer;

  switch (r) {
    case IDYES: return mrYes;
    case IDNO: return mrNo;
    case IDCANCEL: return mrCancel;
    case IDABORT: return mrAbort;
    default: return abortOnly ? mrAbort : mrOk;
  }
}
