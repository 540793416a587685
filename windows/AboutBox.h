// Placeholder until the window gets its contents: an empty form with its caption.
#pragma once
#include "platform/Form.h"

class TAboutBoxFm : public TForm {
 public:
  TAboutBoxFm();
  ~TAboutBoxFm() override { Destroy(); }
};
