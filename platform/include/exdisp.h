// The part of the web browser control's interface the player calls, and its events.
#pragma once

#include <windows.h>
#include <ocidl.h>

// On Windows IWebBrowser2 derives from IDispatch through IWebBrowserApp and IWebBrowser,
// whose methods come before Navigate; the player calls only Navigate.
struct IWebBrowser2 : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Navigate(BSTR url, VARIANT* flags, VARIANT* targetFrameName,
                                               VARIANT* postData, VARIANT* headers) = 0;

  protected:
    ~IWebBrowser2() = default;
};

extern const IID IID_IWebBrowser2;
// The browser control's event interface, offered through its connection point.
extern const IID DIID_DWebBrowserEvents2;
