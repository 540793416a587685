#include "windows/ShowText.h"

namespace {
FormDef Def() {
  FormDef f;
  f.className = L"TTextFm";
  f.caption = "Betrachter";
  f.clientWidth = 400;
  f.clientHeight = 300;
  f.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  f.exStyle = WS_EX_DLGMODALFRAME;
  f.left = 100;
  f.top = 100;
  f.fonts = {{"MS Sans Serif", 11, false}};
  return f;
}
}  // namespace

TTextFm::TTextFm() : TForm(Def(), {}) {}
