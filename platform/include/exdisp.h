// The part of the web browser control's interface the player calls.
#pragma once

#include <windows.h>

struct IWebBrowser2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Navigate(BSTR url, VARIANT* flags, VARIANT* targetFrameName,
                                               VARIANT* postData, VARIANT* headers) = 0;

  protected:
    ~IWebBrowser2() = default;
};

extern const IID IID_IWebBrowser2;
