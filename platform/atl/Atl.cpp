// The ATL control host: the "AtlAxWin" window class, whose window text names the address
// its web browser loads, and the browser's IWebBrowser2 interface.
#include "user32/WindowStore.h"

#include <exdisp.h>

#include <map>

// The program declares these itself (the Windows SDK for MinGW has no ATL headers).
extern "C" BOOL WINAPI AtlAxWinInit(void);
extern "C" HRESULT WINAPI AtlAxGetControl(HWND host, IUnknown** control);

const IID IID_IWebBrowser2 = {
    0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

namespace velmora::platform {
namespace {

// The browser control inside one host window. It outlives the host while references to
// it remain, and then refuses to navigate.
class WebBrowser final : public IWebBrowser2 {
  public:
    explicit WebBrowser(HWND host) : host_(host) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWebBrowser2)) {
            *object = static_cast<IWebBrowser2*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Navigate(BSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override {
        Window* host = FindWindowRecord(host_);
        if (!host || host->kind != ControlKind::Browser)
            return E_FAIL;
        if (!url)
            return E_INVALIDARG;
        host->address = WideToUtf8(url);
        CurrentBackend().Navigate(*host, host->address);
        return S_OK;
    }

    void Detach() { host_ = nullptr; }

  private:
    ~WebBrowser() = default;
    HWND host_;
    ULONG references_ = 1; // the host's own reference
};

std::map<HWND, WebBrowser*>& Browsers() {
    static std::map<HWND, WebBrowser*> browsers;
    return browsers;
}

LRESULT CALLBACK HostProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        Window* host = FindWindowRecord(handle);
        if (!host)
            return -1;
        Browsers()[handle] = new WebBrowser(handle);
        if (!host->text.empty()) {
            host->address = WideToUtf8(host->text);
            CurrentBackend().Navigate(*host, host->address);
        }
        return 0;
    }
    case WM_DESTROY: {
        auto found = Browsers().find(handle);
        if (found != Browsers().end()) {
            found->second->Detach();
            found->second->Release();
            Browsers().erase(found);
        }
        return 0;
    }
    default:
        return DefWindowProcW(handle, message, wParam, lParam);
    }
}

} // namespace
} // namespace velmora::platform

using namespace velmora::platform;

extern "C" BOOL WINAPI AtlAxWinInit(void) {
    // Calling it again is harmless, as with ATL: the class simply exists.
    if (!ClassRegistered(u"AtlAxWin"))
        RegisterBuiltInClass(u"AtlAxWin", HostProc, ControlKind::Browser);
    return TRUE;
}

extern "C" HRESULT WINAPI AtlAxGetControl(HWND host, IUnknown** control) {
    if (!control)
        return E_POINTER;
    *control = nullptr;
    auto found = Browsers().find(host);
    if (found == Browsers().end() || !CurrentBackend().CanHostBrowser())
        return E_FAIL;
    found->second->AddRef();
    *control = found->second;
    return S_OK;
}
