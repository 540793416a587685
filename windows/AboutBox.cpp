#include "windows/AboutBox.h"

#include "windows/PlaceholderForm.h"

TAboutBoxFm::TAboutBoxFm() : TForm(PlaceholderFormDef(L"TAboutBoxFm", "Software by...", 417, 298), {}) {}
