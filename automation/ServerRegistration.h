// The class registration under HKEY_CLASSES_ROOT and the type library's registration.
#pragma once
#include <windows.h>

#include <oaidl.h>

#include <string>

struct RegistrationResult {
  HRESULT TypeLib = S_OK;   // from registering the type library
  bool KeysWritten = true;  // every class key could be written
};

RegistrationResult RegisterServer(ITypeLib* typeLib, const std::wstring& exePath);
// Removes every key RegisterServer writes; missing keys are no error.
void UnregisterServer();

extern const wchar_t* const kProgId;        // "MVR_Server.MVR_AutoServ"
extern const wchar_t* const kClassDescription;  // "MVRqmz_trx Objekt"
