// Test program: the main loop run again after a quit that a modal form saw, as the server runs
// it again for a client that came during its end. The first run's modal form ends with the
// quit; in the second run a modal form must open again and end with its button.
#include <windows.h>

#include <cstdio>

#include "platform/Application.h"
#include "platform/Form.h"
#include "platform/MessageDlg.h"
#include "platform/MessagePump.h"

namespace {

TForm* g_form = nullptr;
int g_firstResult = -1;
int g_secondResult = -1;
bool g_secondShown = false;

FormDef Def() {
  return {L"TModalAgainFm", "Modal again", 120, 60, FormFrame::Dialog, 100, 100, {{"MS Sans Serif", 10}}};
}

std::vector<ComponentDef> Components() {
  return {Comp("OKBtn", CompKind::Button, 20, 20, 75, 25, "OK").Result(mrOk)};
}

void CALLBACK QuitNow(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  PostQuitMessage(0);
}

void CALLBACK ClickOk(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  g_secondShown = g_form->Visible();
  PostMessageW(g_form->Control("OKBtn"), BM_CLICK, 0, 0);
}

// First run: the form is open when the loop is asked to quit (the end after the last client).
void CALLBACK ShowFirst(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  SetTimer(nullptr, 0, 50, &QuitNow);
  g_firstResult = g_form->ShowModal();
}

// Second run: the form opens again and its button ends it.
void CALLBACK ShowSecond(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  SetTimer(nullptr, 0, 50, &ClickOk);
  g_secondResult = g_form->ShowModal();
  PostQuitMessage(0);
}

}  // namespace

int main() {
  TForm form(Def(), Components());
  form.Create();
  g_form = &form;
  const MainLoopHooks hooks;

  SetTimer(nullptr, 0, 10, &ShowFirst);
  RunMainLoop(hooks);
  std::printf("first run: modal result %d, terminated %d\n", g_firstResult, Application.Terminated ? 1 : 0);

  // As the program does before it runs the loop again.
  Application.Resume();
  SetTimer(nullptr, 0, 10, &ShowSecond);
  RunMainLoop(hooks);
  std::printf("second run: modal result %d, shown %d\n", g_secondResult, g_secondShown ? 1 : 0);

  g_form = nullptr;
  form.Destroy();
  const bool ok = g_firstResult == mrCancel && g_secondResult == mrOk && g_secondShown;
  std::printf("%s\n", ok ? "DONE" : "FAILED");
  return ok ? 0 : 1;
}
