// Program-wide facts the windows show.
#pragma once
#include <string>

struct TApplication {
  std::string Title;
};

extern TApplication Application;
