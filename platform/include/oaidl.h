// OLE Automation as far as the player uses it: IDispatch, and VARIANT and DISPPARAMS as an
// event sink receives them. Layouts and values follow the Windows SDK.
#pragma once

#include <windows.h>

typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef LONG DISPID;
typedef DWORD LCID;
typedef OLECHAR* LPOLESTR;

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

enum VARENUM {
    VT_EMPTY = 0,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_BYREF = 0x4000,
};

struct IDispatch;

struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        VARIANT_BOOL boolVal;
        BSTR bstrVal;
        IDispatch* pdispVal;
        VARIANT_BOOL* pboolVal;
        IDispatch** ppdispVal;
        struct tagVARIANT* pvarVal;
    };
};

typedef struct tagDISPPARAMS {
    VARIANT* rgvarg; // the arguments, last first
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
} DISPPARAMS;

typedef struct tagEXCEPINFO EXCEPINFO; // never filled in by the player
struct ITypeInfo;                      // the player offers no type information

#define DISPATCH_METHOD 0x1

struct IDispatch : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                    LCID locale, DISPID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID locale, WORD flags,
                                             DISPPARAMS* params, VARIANT* result,
                                             EXCEPINFO* exception, UINT* argumentError) = 0;

  protected:
    ~IDispatch() = default;
};
extern const IID IID_IDispatch;
