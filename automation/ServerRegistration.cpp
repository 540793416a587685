#include "automation/ServerRegistration.h"

#include "MVR_Server.h"

const wchar_t* const kProgId = L"MVR_Server.MVR_AutoServ";
const wchar_t* const kClassDescription = L"MVRqmz_trx Objekt";

namespace {

#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
constexpr const wchar_t* kPlatformKey = L"win64";
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
constexpr const wchar_t* kPlatformKey = L"win32";
#endif

std::wstring GuidText(REFGUID guid) {
  wchar_t buf[40] = {};
  StringFromGUID2(guid, buf, 40);
  return buf;
}

class RegKey {
 public:
  explicit RegKey(const std::wstring& path) {
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS)
      key_ = nullptr;
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  bool SetDefault(const std::wstring& value) {
    if (!key_) return false;
    return RegSetValueExW(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }

 private:
  HKEY key_ = nullptr;
};

bool WriteKey(const std::wstring& path, const std::wstring& value) {
  return RegKey(path).SetDefault(value);
}

// LocalServer32 must survive the command-line split at blanks.
std::wstring ServerPath(const std::wstring& exePath) {
  if (exePath.find(L' ') == std::wstring::npos) return exePath;
  wchar_t shortPath[MAX_PATH] = {};
  const DWORD n = GetShortPathNameW(exePath.c_str(), shortPath, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(shortPath, n) : exePath;
}

std::wstring TypeLibKey() { return L"TypeLib\\" + GuidText(LIBID_MVR_Server) + L"\\1.0"; }

}  // namespace

RegistrationResult RegisterServer(ITypeLib* typeLib, const std::wstring& exePath) {
  RegistrationResult r;
  r.TypeLib = RegisterTypeLib(typeLib, const_cast<OLECHAR*>(exePath.c_str()), nullptr);
  if (SUCCEEDED(r.TypeLib)) {
    // Wine's marshaler looks the library up under lcid 0 only.
    r.KeysWritten &= WriteKey(TypeLibKey() + L"\\0\\" + kPlatformKey, exePath);
  }
  const std::wstring clsid = GuidText(CLSID_MVR_AutoServ);
  const std::wstring classKey = L"CLSID\\" + clsid;
  r.KeysWritten &= WriteKey(classKey, kClassDescription);
  r.KeysWritten &= WriteKey(classKey + L"\\LocalServer32", ServerPath(exePath));
  r.KeysWritten &= WriteKey(classKey + L"\\ProgID", kProgId);
  r.KeysWritten &= WriteKey(classKey + L"\\Version", L"1.0");
  r.KeysWritten &= WriteKey(classKey + L"\\TypeLib", GuidText(LIBID_MVR_Server));
  r.KeysWritten &= WriteKey(kProgId, kClassDescription);
  r.KeysWritten &= WriteKey(std::wstring(kProgId) + L"\\Clsid", clsid);
  return r;
}

void UnregisterServer() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (TypeLibKey() + L"\\0").c_str());
  UnRegisterTypeLib(LIBID_MVR_Server, 1, 0, 0x0409, kSysKind);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(CLSID_MVR_AutoServ)).c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
  // UnRegisterTypeLib leaves the library's key when another lcid was under it.
  const std::wstring lib = L"TypeLib\\" + GuidText(LIBID_MVR_Server);
  RegDeleteKeyW(HKEY_CLASSES_ROOT, (lib + L"\\1.0").c_str());
  RegDeleteKeyW(HKEY_CLASSES_ROOT, lib.c_str());
}
