// The IUnknown and IDispatch plumbing of a test client's event sink: it answers the event
// interface and lives on the stack of its test, so the count only records. A client derives
// and writes its own Invoke.
#pragma once
#include <windows.h>

#include <oaidl.h>

#include "MVR_Server.h"

class EventSinkBase : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != DIID_IMVRqmz_trxEvents)
      return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  ULONG refs() const { return refs_; }

 protected:
  EventSinkBase() = default;
  ~EventSinkBase() = default;

 private:
  ULONG refs_ = 1;
};
