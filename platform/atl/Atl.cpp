// The ATL control host: the "AtlAxWin" window class, whose window text names the address its
// browser loads on creation, and the browser's IWebBrowser2 with its DWebBrowserEvents2
// connection point. The events fire as the Windows control fires them, each event's Cancel
// stopping what it announces: BeforeNavigate2 before Navigate's own navigations and the page's
// (links, scripts, redirects, frames; pDisp is the control for the top-level frame, another
// object for a frame inside), NavigateComplete2 when the top-level document is committed,
// NewWindow3 when the page asks for a window, FileDownload when the top-level answer is a file
// to save, NavigateError when a load fails (StatusCode: the INET_E_* code or HTTP status;
// cancelled, the control shows no error page of its own; what each backend reports is written
// where it is built). res://<program file>/<name> names one of the program's HTML resources.
// Not reproduced: the other events (NewWindow2, DocumentComplete, ...); NavigateComplete2 of
// frames; one object per frame (all share one); a window for an uncancelled NewWindow3 (dropped,
// and a browser handed back in ppDisp ignored); NewWindow3's flags (0) and BeforeNavigate2's
// TargetFrameName, PostData and Headers (VT_EMPTY); type information and late-bound calls
// (E_NOTIMPL); enumerating connection points and connections (E_NOTIMPL).
#include "user32/WindowStore.h"

#include <exdisp.h>
#include <exdispid.h>

#include <ctype.h>
#include <strings.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "user32/Resources.h"

// The program declares these itself (the Windows SDK for MinGW has no ATL headers).
extern "C" BOOL WINAPI AtlAxWinInit(void);
extern "C" HRESULT WINAPI AtlAxGetControl(HWND host, IUnknown** control);

const IID IID_IWebBrowser2 = {
    0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};
const IID DIID_DWebBrowserEvents2 = {
    0x34A715A0, 0x6587, 0x11D0, {0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D}};

using namespace velmora::platform;

namespace {

const LCID kUserDefaultLocale = 0x0400;

// QueryInterface's answer: found, with a reference of its own, or E_NOINTERFACE when null.
HRESULT Offer(IUnknown* found, void** object) {
    if (!object)
        return E_POINTER;
    *object = found;
    if (!found)
        return E_NOINTERFACE;
    found->AddRef();
    return S_OK;
}

// An object inside the control with an identity of its own, answering for IUnknown and iid,
// that counts its references in the control.
template <class Interface, const IID& iid> class Inner : public Interface {
  public:
    explicit Inner(IConnectionPointContainer& control) : control_(control) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        const bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid);
        return Offer(known ? this : nullptr, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return control_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return control_.Release(); }

  protected:
    IConnectionPointContainer& control_;
};

// The control's source of DWebBrowserEvents2.
class EventSource final : public Inner<IConnectionPoint, IID_IConnectionPoint> {
  public:
    using Inner::Inner;

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        if (!iid)
            return E_POINTER;
        *iid = DIID_DWebBrowserEvents2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** container) override {
        if (!container)
            return E_POINTER;
        control_.AddRef();
        *container = &control_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        if (!sink || !cookie)
            return E_POINTER;
        *cookie = 0;
        // The sink answers for the event interface itself or, as the control also accepts,
        // for plain IDispatch.
        IDispatch* dispatch = nullptr;
        if (FAILED(sink->QueryInterface(DIID_DWebBrowserEvents2, (void**)&dispatch)) || !dispatch) {
            dispatch = nullptr;
            if (FAILED(sink->QueryInterface(IID_IDispatch, (void**)&dispatch)) || !dispatch)
                return CONNECT_E_CANNOTCONNECT;
        }
        sinks_.push_back({++lastCookie_, dispatch});
        *cookie = lastCookie_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        auto at = std::find_if(sinks_.begin(), sinks_.end(),
                               [cookie](const auto& entry) { return entry.first == cookie; });
        if (at == sinks_.end())
            return CONNECT_E_NOCONNECTION;
        IDispatch* sink = at->second;
        sinks_.erase(at);
        sink->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override {
        if (connections)
            *connections = nullptr;
        return E_NOTIMPL;
    }

    // Calls every sink in the order they were advised. A sink may unadvise itself or
    // another one meanwhile; each is called with a reference of its own.
    void Fire(DISPID event, VARIANT* arguments, UINT count) {
        auto sinks = sinks_;
        for (const auto& entry : sinks)
            entry.second->AddRef();
        DISPPARAMS params{arguments, nullptr, count, 0};
        for (const auto& entry : sinks) {
            entry.second->Invoke(event, IID{}, kUserDefaultLocale, DISPATCH_METHOD, &params,
                                 nullptr, nullptr, nullptr);
            entry.second->Release();
        }
    }

    void ReleaseSinks() {
        for (const auto& entry : std::exchange(sinks_, {}))
            entry.second->Release();
    }

  private:
    std::vector<std::pair<DWORD, IDispatch*>> sinks_;
    DWORD lastCookie_ = 0;
};

VARIANT Argument(VARTYPE type) {
    VARIANT value;
    memset(&value, 0, sizeof value);
    value.vt = type;
    return value;
}

VARIANT Argument(BSTR text) {
    VARIANT value = Argument(VT_BSTR);
    value.bstrVal = text;
    return value;
}

VARIANT Argument(IDispatch* object) {
    VARIANT value = Argument(VT_DISPATCH);
    value.pdispVal = object;
    return value;
}

// An event's Cancel: the sink sets *cancel to VARIANT_TRUE to stop what the event announces.
VARIANT Argument(VARIANT_BOOL* cancel) {
    VARIANT value = Argument(VT_BYREF | VT_BOOL);
    value.pboolVal = cancel;
    return value;
}

VARIANT ByReference(VARIANT* value) {
    VARIANT reference = Argument(VT_BYREF | VT_VARIANT);
    reference.pvarVal = value;
    return reference;
}

// IDispatch with no type information and no late-bound calls: the control's objects answer
// early-bound calls only.
template <typename Interface> class EarlyBound : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
};

// The object that stands for the frames inside the page in their events' pDisp.
using FrameObject = Inner<EarlyBound<IDispatch>, IID_IDispatch>;

// A BSTR for the length of one event.
using EventText = std::unique_ptr<OLECHAR, void (*)(BSTR)>;

EventText Text(const std::string& utf8) {
    std::u16string wide = velmora::kernel32::Utf8ToWide(utf8);
    return EventText(SysAllocString(reinterpret_cast<LPCWSTR>(wide.c_str())), SysFreeString);
}

// The browser control inside one host window. It outlives the host while references to
// it remain, and then refuses to navigate.
class WebBrowser final : public EarlyBound<IWebBrowser2>, public IConnectionPointContainer {
  public:
    explicit WebBrowser(HWND host) : host_(host), events_(*this), frames_(*this) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        IUnknown* found = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, IID_IWebBrowser2))
            found = static_cast<IWebBrowser2*>(this);
        else if (IsEqualIID(riid, IID_IConnectionPointContainer))
            found = static_cast<IConnectionPointContainer*>(this);
        return Offer(found, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Navigate(BSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override {
        if (!FindWindowRecord(host_))
            return E_FAIL;
        if (!url)
            return E_INVALIDARG;
        Load(WideToUtf8(url));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override {
        if (points)
            *points = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        if (point && !IsEqualIID(iid, DIID_DWebBrowserEvents2)) {
            *point = nullptr;
            return CONNECT_E_NOCONNECTION;
        }
        return Offer(&events_, (void**)point);
    }

    // Loads an address in the host, unless a sink cancels it.
    void Load(const std::string& url) {
        Window* host = FindWindowRecord(host_);
        if (host && BeforeNavigate2(url, browser::Frame::Top))
            CurrentBackend().Navigate(*host, url);
    }

    // The pDisp an event names: the control for the top-level frame, the frame object for
    // the others.
    IDispatch* FrameDispatch(browser::Frame frame) {
        return frame == browser::Frame::Top ? static_cast<IDispatch*>(this)
                                            : static_cast<IDispatch*>(&frames_);
    }

    // Each event with a Cancel returns false when a sink cancelled.
    bool BeforeNavigate2(const std::string& url, browser::Frame frame) {
        EventText address = Text(url);
        VARIANT urlValue = Argument(address.get()), flags = Argument(VT_I4);
        VARIANT frameName = Argument(VT_EMPTY), postData = frameName, headers = frameName;
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANT arguments[] = {Argument(&cancel),
                               ByReference(&headers),
                               ByReference(&postData),
                               ByReference(&frameName),
                               ByReference(&flags),
                               ByReference(&urlValue),
                               Argument(FrameDispatch(frame))};
        return Fire(DISPID_BEFORENAVIGATE2, arguments, cancel);
    }

    void NavigateComplete2(const std::string& url) {
        EventText address = Text(url);
        VARIANT urlValue = Argument(address.get());
        VARIANT arguments[] = {ByReference(&urlValue),
                               Argument(FrameDispatch(browser::Frame::Top))};
        Fire(DISPID_NAVIGATECOMPLETE2, arguments);
    }

    bool NewWindow3(const std::string& url, const std::string& context) {
        EventText address = Text(url);
        EventText contextAddress = Text(context);
        IDispatch* newBrowser = nullptr;
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANT arguments[] = {Argument(address.get()), Argument(contextAddress.get()),
                               Argument(VT_I4), Argument(&cancel),
                               Argument(VT_BYREF | VT_DISPATCH)};
        arguments[4].ppdispVal = &newBrowser;
        Fire(DISPID_NEWWINDOW3, arguments);
        if (newBrowser)
            newBrowser->Release();
        return cancel == VARIANT_FALSE;
    }

    bool NavigateError(const std::string& url, browser::Frame frame, HRESULT status) {
        EventText address = Text(url);
        EventText noName = Text("");
        VARIANT urlValue = Argument(address.get());
        VARIANT frameName = Argument(noName.get());
        VARIANT statusCode = Argument(VT_I4);
        statusCode.lVal = status;
        VARIANT_BOOL cancel = VARIANT_FALSE;
        VARIANT arguments[] = {Argument(&cancel), ByReference(&statusCode), ByReference(&frameName),
                               ByReference(&urlValue), Argument(FrameDispatch(frame))};
        return Fire(DISPID_NAVIGATEERROR, arguments, cancel);
    }

    bool FileDownload() {
        VARIANT_BOOL cancel = VARIANT_FALSE;
        // ActiveDocument: VARIANT_FALSE (zero), a file rather than a document.
        VARIANT arguments[] = {Argument(&cancel), Argument(VT_BOOL)};
        return Fire(DISPID_FILEDOWNLOAD, arguments, cancel);
    }

    // The host is gone: no more navigations, and the sinks are let go.
    void Detach() {
        host_ = nullptr;
        events_.ReleaseSinks();
    }

  private:
    ~WebBrowser() { events_.ReleaseSinks(); }

    // Returns false when a sink set cancel.
    template <size_t N>
    bool Fire(DISPID event, VARIANT (&arguments)[N], const VARIANT_BOOL& cancel = VARIANT_FALSE) {
        AddRef(); // a sink may let go of the last reference while it runs
        events_.Fire(event, arguments, N);
        Release();
        return cancel == VARIANT_FALSE;
    }

    HWND host_;
    EventSource events_;
    FrameObject frames_;
    ULONG references_ = 1; // the host's own reference
};

// ATL's WM_FORWARDMSG: a message loop hands the host a message for it (lParam, a MSG*)
// before its own handling; TRUE when the control used it. The page takes its keys first.
const UINT kForwardMessage = 0x037F;

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
        if (message == kForwardMessage) {
            const MSG* key = reinterpret_cast<const MSG*>(lParam);
            return key && key->message >= WM_KEYFIRST && key->message <= WM_KEYLAST &&
                   CurrentBackend().ForwardKeyToPage(window, *key);
        }
        if (message != WM_CREATE)
            return DefWindowProcW(window.handle, message, wParam, lParam);
        browser = new WebBrowser(window.handle);
        if (!window.text.empty())
            browser->Load(WideToUtf8(window.text));
        return 0;
    }
};

// An address's %XX escapes decoded (an engine escapes spaces and other bytes of a path).
std::string Unescaped(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isxdigit((unsigned char)text[i + 1]) &&
            isxdigit((unsigned char)text[i + 2])) {
            plain += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

WebBrowser* BrowserOf(HWND host) {
    Window* window = FindWindowRecord(host);
    auto* state = window ? dynamic_cast<BrowserHost*>(window->state.get()) : nullptr;
    return state ? state->browser : nullptr;
}

} // namespace

namespace velmora::platform::browser {

bool BeforeNavigate(HWND host, const std::string& url, Frame frame) {
    WebBrowser* control = BrowserOf(host);
    return !control || control->BeforeNavigate2(url, frame);
}

void NavigateComplete(HWND host, const std::string& url) {
    if (WebBrowser* control = BrowserOf(host))
        control->NavigateComplete2(url);
}

bool NewWindow(HWND host, const std::string& url, const std::string& context) {
    WebBrowser* control = BrowserOf(host);
    return !control || control->NewWindow3(url, context);
}

bool FileDownload(HWND host) {
    WebBrowser* control = BrowserOf(host);
    return !control || control->FileDownload();
}

bool NavigateError(HWND host, const std::string& url, Frame frame, HRESULT status) {
    WebBrowser* control = BrowserOf(host);
    return !control || control->NavigateError(url, frame, status);
}

const std::string* ResourcePage(const std::string& url) {
    const std::string scheme = "res://";
    if (url.size() <= scheme.size() || strncasecmp(url.c_str(), scheme.c_str(), scheme.size()))
        return nullptr;
    std::string path =
        Unescaped(url.substr(scheme.size(), url.find_first_of("?#") - scheme.size()));
    size_t slash = path.rfind('/');
    WCHAR program[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (slash == std::string::npos || length == 0 || length >= MAX_PATH ||
        path.substr(0, slash) != WideToUtf8(program))
        return nullptr;
    return FindHtmlResource(path.substr(slash + 1));
}

} // namespace velmora::platform::browser

extern "C" BOOL WINAPI AtlAxWinInit(void) {
    // Calling it again is harmless, as with ATL: the class simply exists.
    RegisterBuiltInClass(L"AtlAxWin", ControlProc<BrowserHost>, ControlKind::Browser);
    return TRUE;
}

extern "C" HRESULT WINAPI AtlAxGetControl(HWND host, IUnknown** control) {
    if (!control)
        return E_POINTER;
    *control = nullptr;
    WebBrowser* browser = BrowserOf(host);
    if (!browser || !CurrentBackend().CanHostBrowser())
        return E_FAIL;
    browser->AddRef();
    *control = static_cast<IWebBrowser2*>(browser);
    return S_OK;
}
