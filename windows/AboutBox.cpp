#include "windows/AboutBox.h"

namespace {
FormDef Def() {
  FormDef f;
  f.className = L"TAboutBoxFm";
  f.caption = "Software by...";
  f.clientWidth = 417;
  f.clientHeight = 298;
  f.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  f.exStyle = WS_EX_DLGMODALFRAME;
  f.left = 100;
  f.top = 100;
  f.fonts = {{"MS Sans Serif", 11, false}};
  return f;
}
}  // namespace

TAboutBoxFm::TAboutBoxFm() : TForm(Def(), {}) {}
