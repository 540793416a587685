#include "platform/ModalWindows.h"

#include "platform/Application.h"

namespace {

std::vector<HWND>& ModalForms() {
  static std::vector<HWND> forms;
  return forms;
}

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

DisabledWindows::DisabledWindows(HWND except) {
  EnabledCtx ctx{except, &disabled_};
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabled, reinterpret_cast<LPARAM>(&ctx));
  for (HWND h : disabled_) EnableWindow(h, FALSE);
}

DisabledWindows::~DisabledWindows() {
  for (HWND h : disabled_)
    if (IsWindow(h)) EnableWindow(h, TRUE);
}

ModalScope::ModalScope(HWND form) {
  ModalForms().push_back(form);
  others_.emplace(form);
}

ModalScope::~ModalScope() {
  others_.reset();
  ModalForms().pop_back();
}

HWND DialogOwner() {
  for (auto it = ModalForms().rbegin(); it != ModalForms().rend(); ++it)
    if (IsWindow(*it)) return *it;
  return Application.MainWindow;
}
