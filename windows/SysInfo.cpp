#include "windows/SysInfo.h"

namespace {
FormDef Def() {
  FormDef f;
  f.className = L"TSysInfoFm";
  f.caption = "Systeminformationen";
  f.clientWidth = 472;
  f.clientHeight = 291;
  f.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  f.exStyle = WS_EX_DLGMODALFRAME;
  f.left = 100;
  f.top = 100;
  f.fonts = {{"MS Sans Serif", 11, false}};
  return f;
}
}  // namespace

TSysInfoFm::TSysInfoFm() : TForm(Def(), {}) {}
