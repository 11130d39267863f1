// Connection points: how a COM object (the browser control) calls back its event sinks.
#pragma once

#include <oaidl.h>

#define CONNECT_E_NOCONNECTION ((HRESULT)0x80040200L)
#define CONNECT_E_CANNOTCONNECT ((HRESULT)0x80040202L)

struct IConnectionPointContainer;
struct IEnumConnections;      // not offered: EnumConnections answers E_NOTIMPL
struct IEnumConnectionPoints; // not offered: EnumConnectionPoints answers E_NOTIMPL

struct IConnectionPoint : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) = 0;

  protected:
    ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;

  protected:
    ~IConnectionPointContainer() = default;
};

extern const IID IID_IConnectionPoint;
extern const IID IID_IConnectionPointContainer;
