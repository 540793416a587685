#include "windows/ShowText.h"

#include "windows/PlaceholderForm.h"

TTextFm::TTextFm() : TForm(PlaceholderFormDef(L"TTextFm", "Betrachter", 400, 300), {}) {}
