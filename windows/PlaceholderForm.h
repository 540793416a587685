// The auxiliary windows are empty forms with their caption until they get their contents.
#pragma once
#include "platform/Form.h"

inline FormDef PlaceholderFormDef(const wchar_t* className, const char* caption, int clientWidth,
                                  int clientHeight) {
  FormDef f;
  f.className = className;
  f.caption = caption;
  f.clientWidth = clientWidth;
  f.clientHeight = clientHeight;
  f.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  f.exStyle = WS_EX_DLGMODALFRAME;
  f.left = 100;
  f.top = 100;
  f.fonts = {{"MS Sans Serif", 11, false}};
  return f;
}
