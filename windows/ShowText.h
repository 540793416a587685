// Placeholder until the window gets its contents: an empty form with its caption.
#pragma once
#include "platform/Form.h"

class TTextFm : public TForm {
 public:
  TTextFm();
  ~TTextFm() override { Destroy(); }
};
