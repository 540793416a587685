// Placeholder until the window gets its contents: an empty form with its caption.
#pragma once
#include "platform/Form.h"

class TSysInfoFm : public TForm {
 public:
  TSysInfoFm();
  ~TSysInfoFm() override { Destroy(); }
};
