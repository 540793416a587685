#include "automation/ServerRegistration.h"

#include "MVR_Server.h"

#include <vector>

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

// The registry view a key is written in: the process's own, or the 64-bit one.
constexpr REGSAM kOwnView = 0;
constexpr REGSAM k64BitView = KEY_WOW64_64KEY;

// The proxies RegisterTypeLib names for the interfaces of a type library.
constexpr const wchar_t* kPSOAInterface = L"{00020424-0000-0000-C000-000000000046}";
constexpr const wchar_t* kPSDispatch = L"{00020420-0000-0000-C000-000000000046}";

struct InterfaceEntry {
  const IID* Iid;
  const wchar_t* Name;
  const wchar_t* ProxyStub;  // dual interfaces by the type library, dispinterfaces by IDispatch
};
const InterfaceEntry kInterfaces[] = {
    {&IID_IMVRqmz_trx, L"IMVRqmz_trx", kPSOAInterface},
    {&DIID_IMVRqmz_trxEvents, L"IMVRqmz_trxEvents", kPSDispatch},
};

std::wstring GuidText(REFGUID guid) {
  wchar_t buf[40] = {};
  StringFromGUID2(guid, buf, 40);
  return buf;
}

// One key under HKEY_CLASSES_ROOT in one registry view.
class RegKey {
 public:
  // Creates the key (and the keys above it) for writing.
  static RegKey Create(REGSAM view, const std::wstring& path) {
    RegKey k;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &k.key_,
                        nullptr) != ERROR_SUCCESS)
      k.key_ = nullptr;
    return k;
  }
  // Opens an existing key for reading.
  static RegKey Open(REGSAM view, const std::wstring& path) {
    RegKey k;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, &k.key_) != ERROR_SUCCESS)
      k.key_ = nullptr;
    return k;
  }
  RegKey(RegKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey& operator=(RegKey&&) = delete;
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }

  bool SetValue(const wchar_t* name, const std::wstring& value) {
    if (!key_) return false;
    return RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  bool SetDefault(const std::wstring& value) { return SetValue(nullptr, value); }
  bool GetDefault(std::wstring* value) const {
    wchar_t data[MAX_PATH + 1] = {};
    DWORD type = 0, size = sizeof data - sizeof(wchar_t);
    if (!key_ || RegQueryValueExW(key_, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
                     ERROR_SUCCESS || type != REG_SZ)
      return false;
    *value = data;
    return true;
  }
  std::vector<std::wstring> SubkeyNames() const {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0; key_; ++i) {
      DWORD length = 256;
      if (RegEnumKeyExW(key_, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    return names;
  }

 private:
  RegKey() = default;
  HKEY key_ = nullptr;
};

bool WriteKey(REGSAM view, const std::wstring& path, const std::wstring& value) {
  return RegKey::Create(view, path).SetDefault(value);
}

// Deletes the key with everything below it, each key by its full path and view: keys opened
// relative to a handle need not stay in its view. A missing key is no error.
void DeleteTree(REGSAM view, const std::wstring& path) {
  for (const std::wstring& name : RegKey::Open(view, path).SubkeyNames()) DeleteTree(view, path + L"\\" + name);
  RegDeleteKeyExW(HKEY_CLASSES_ROOT, path.c_str(), view, 0);
}

// Deletes the key when nothing is below it.
void DeleteIfEmpty(REGSAM view, const std::wstring& path) {
  RegDeleteKeyExW(HKEY_CLASSES_ROOT, path.c_str(), view, 0);
}

// A 32-bit process on 64-bit Windows writes in the 32-bit view; 64-bit clients read the
// 64-bit one, which keeps CLSID and Interface apart.
bool OnWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// LocalServer32 must survive the command-line split at blanks.
std::wstring ServerPath(const std::wstring& exePath) {
  if (exePath.find(L' ') == std::wstring::npos) return exePath;
  wchar_t shortPath[MAX_PATH] = {};
  const DWORD n = GetShortPathNameW(exePath.c_str(), shortPath, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(shortPath, n) : exePath;
}

std::wstring LibraryKey() { return L"TypeLib\\" + GuidText(LIBID_MVR_Server); }
std::wstring TypeLibKey() { return LibraryKey() + L"\\1.0"; }
std::wstring ClassKey() { return L"CLSID\\" + GuidText(CLSID_MVR_AutoServ); }

bool WriteClassKeys(REGSAM view, const std::wstring& exePath) {
  const std::wstring classKey = ClassKey();
  bool ok = WriteKey(view, classKey, kClassDescription);
  ok &= WriteKey(view, classKey + L"\\LocalServer32", ServerPath(exePath));
  ok &= WriteKey(view, classKey + L"\\ProgID", kProgId);
  ok &= WriteKey(view, classKey + L"\\Version", L"1.0");
  ok &= WriteKey(view, classKey + L"\\TypeLib", GuidText(LIBID_MVR_Server));
  ok &= WriteKey(view, kProgId, kClassDescription);
  ok &= WriteKey(view, std::wstring(kProgId) + L"\\Clsid", GuidText(CLSID_MVR_AutoServ));
  return ok;
}

// What RegisterTypeLib writes in the process's own view, written in the 64-bit view: the
// library for 64-bit as well as 32-bit clients, and the interfaces it marshals. The library's
// name, flags and help folder are copied as RegisterTypeLib wrote them, so that a key both
// views share keeps its values.
bool WriteTypeLibKeys64(const std::wstring& exePath) {
  const std::wstring lib = TypeLibKey();
  bool ok = true;
  for (const wchar_t* sub : {L"", L"\\FLAGS", L"\\HELPDIR"}) {
    std::wstring value;
    ok &= RegKey::Open(kOwnView, lib + sub).GetDefault(&value) && WriteKey(k64BitView, lib + sub, value);
  }
  for (const wchar_t* lcid : {L"\\409\\", L"\\0\\"})
    for (const wchar_t* platform : {L"win32", L"win64"}) ok &= WriteKey(k64BitView, lib + lcid + platform, exePath);
  for (const InterfaceEntry& i : kInterfaces) {
    const std::wstring key = L"Interface\\" + GuidText(*i.Iid);
    ok &= WriteKey(k64BitView, key, i.Name);
    ok &= WriteKey(k64BitView, key + L"\\ProxyStubClsid", i.ProxyStub);
    ok &= WriteKey(k64BitView, key + L"\\ProxyStubClsid32", i.ProxyStub);
    RegKey typeLibRef = RegKey::Create(k64BitView, key + L"\\TypeLib");
    ok &= typeLibRef.SetDefault(GuidText(LIBID_MVR_Server));
    ok &= typeLibRef.SetValue(L"Version", L"1.0");
  }
  return ok;
}

}  // namespace

RegistrationResult RegisterServer(ITypeLib* typeLib, const std::wstring& exePath) {
  RegistrationResult r;
  r.TypeLib = RegisterTypeLib(typeLib, const_cast<OLECHAR*>(exePath.c_str()), nullptr);
  if (SUCCEEDED(r.TypeLib)) {
    // Wine's marshaler looks the library up under lcid 0 only.
    r.KeysWritten &= WriteKey(kOwnView, TypeLibKey() + L"\\0\\" + kPlatformKey, exePath);
  }
  r.KeysWritten &= WriteClassKeys(kOwnView, exePath);
  if (OnWow64()) {
    r.KeysWritten &= WriteClassKeys(k64BitView, exePath);
    if (SUCCEEDED(r.TypeLib)) r.KeysWritten &= WriteTypeLibKeys64(exePath);
  }
  return r;
}

void UnregisterServer() {
  DeleteTree(kOwnView, TypeLibKey() + L"\\0");
  UnRegisterTypeLib(LIBID_MVR_Server, 1, 0, 0x0409, kSysKind);
  DeleteTree(kOwnView, ClassKey());
  DeleteTree(kOwnView, kProgId);
  // UnRegisterTypeLib leaves the library's key when another lcid was under it.
  DeleteIfEmpty(kOwnView, TypeLibKey());
  DeleteIfEmpty(kOwnView, LibraryKey());
  // After the own view: where both views share the library's key, UnRegisterTypeLib still
  // needs it to find the interfaces.
  if (OnWow64()) {
    DeleteTree(k64BitView, ClassKey());
    DeleteTree(k64BitView, kProgId);
    for (const InterfaceEntry& i : kInterfaces) DeleteTree(k64BitView, L"Interface\\" + GuidText(*i.Iid));
    DeleteTree(k64BitView, TypeLibKey());
    DeleteIfEmpty(k64BitView, LibraryKey());
  }
}
