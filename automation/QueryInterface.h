// QueryInterface for an object that hands out itself as the interfaces it lists.
#pragma once
#include <unknwn.h>

#include <initializer_list>

struct InterfaceEntry {
  const IID* iid;
  IUnknown* as;  // the object as that interface
};

// The entry for riid with a reference taken; E_NOINTERFACE (and nullptr) for any other.
inline HRESULT QueryInterfaceOf(REFIID riid, void** ppv, std::initializer_list<InterfaceEntry> entries) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (const InterfaceEntry& e : entries) {
    if (riid != *e.iid) continue;
    e.as->AddRef();
    *ppv = e.as;
    return S_OK;
  }
  return E_NOINTERFACE;
}
