#include "windows/SysInfo.h"

#include "windows/PlaceholderForm.h"

TSysInfoFm::TSysInfoFm() : TForm(PlaceholderFormDef(L"TSysInfoFm", "Systeminformationen", 472, 291), {}) {}
