// The ATL control host: the "AtlAxWin" window class, whose window text names the address
// its web browser loads on creation, and the browser's IWebBrowser2 interface.
#include "user32/WindowStore.h"

#include <exdisp.h>

// The program declares these itself (the Windows SDK for MinGW has no ATL headers).
extern "C" BOOL WINAPI AtlAxWinInit(void);
extern "C" HRESULT WINAPI AtlAxGetControl(HWND host, IUnknown** control);

const IID IID_IWebBrowser2 = {
    0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

using namespace velmora::platform;

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
        if (!host)
            return E_FAIL;
        if (!url)
            return E_INVALIDARG;
        CurrentBackend().Navigate(*host, WideToUtf8(url));
        return S_OK;
    }

    void Detach() { host_ = nullptr; }

  private:
    ~WebBrowser() = default;
    HWND host_;
    ULONG references_ = 1; // the host's own reference
};

// The host's own state: its browser, made at WM_CREATE.
struct BrowserHost final : ControlState {
    WebBrowser* browser = nullptr;

    ~BrowserHost() override {
        if (browser) {
            browser->Detach();
            browser->Release();
        }
    }

    LRESULT Message(Window& window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != WM_CREATE)
            return DefWindowProcW(window.handle, message, wParam, lParam);
        browser = new WebBrowser(window.handle);
        if (!window.text.empty())
            CurrentBackend().Navigate(window, WideToUtf8(window.text));
        return 0;
    }
};

} // namespace

extern "C" BOOL WINAPI AtlAxWinInit(void) {
    // Calling it again is harmless, as with ATL: the class simply exists.
    RegisterBuiltInClass(L"AtlAxWin", ControlProc<BrowserHost>, ControlKind::Browser);
    return TRUE;
}

extern "C" HRESULT WINAPI AtlAxGetControl(HWND host, IUnknown** control) {
    if (!control)
        return E_POINTER;
    *control = nullptr;
    BrowserHost* state = StateOf<BrowserHost>(host);
    if (!state || !state->browser || !CurrentBackend().CanHostBrowser())
        return E_FAIL;
    state->browser->AddRef();
    *control = state->browser;
    return S_OK;
}
