#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>

#include "player/Player.h"
#include "resources/resource.h"
#include "site/Site.h"
#include "ui/BrowserEvents.h"
#include "ui/MainWindow.h"

namespace {

IConnectionPoint* EventSource;
DWORD EventCookie;
// The browser's COM identity: events of the top-level frame name the browser itself.
IUnknown* BrowserIdentity;

// An event's URL argument: a VARIANT* holding a BSTR. Null when it is anything else.
BSTR UrlOf(const VARIANT& argument) {
    if (argument.vt != (VT_BYREF | VT_VARIANT) || !argument.pvarVal ||
        argument.pvarVal->vt != VT_BSTR)
        return NULL;
    return argument.pvarVal->bstrVal;
}

bool IsTopLevelFrame(const VARIANT& frame) {
    if (frame.vt != VT_DISPATCH || !frame.pdispVal || !BrowserIdentity)
        return false;
    IUnknown* identity = NULL;
    if (FAILED(frame.pdispVal->QueryInterface(IID_IUnknown, (void**)&identity)) || !identity)
        return false;
    identity->Release();
    return identity == BrowserIdentity;
}

void CancelEvent(const VARIANT& cancel) {
    if (cancel.vt == (VT_BYREF | VT_BOOL) && cancel.pboolVal)
        *cancel.pboolVal = VARIANT_TRUE;
}

// A page sends the viewer to their own browser at most this often, so a script asking again
// and again opens one page there, not hundreds.
const DWORD HandOffIntervalMs = 3000;
BOOL HandedOff;
DWORD LastHandOff;
// The address the top-level frame is loading and has not shown yet: a FileDownload that
// follows names no address, and this is the one whose answer is a file.
BSTR PendingAddress;

void SetPendingAddress(BSTR url) {
    SysFreeString(PendingAddress);
    PendingAddress = url ? SysAllocString(url) : NULL;
}

// The one way out of the player for an address from a page: a web address, handed to the
// user's browser, and not more often than every few seconds. Anything else (a file, a share,
// a program's protocol) is dropped: the shell would open or run whatever it names.
void LeaveForUsersBrowser(LPCWSTR url) {
    if (!url || !IsWebAddress(url))
        return;
    DWORD now = GetTickCount();
    if (HandedOff && now - LastHandOff < HandOffIntervalMs)
        return;
    HandedOff = TRUE;
    LastHandOff = now;
    OpenInUsersBrowser(hMainWnd, url);
}

// The top-level address that could not be reached, while the program's own page stands in for
// it; its 重试 link loads it again. Only the program ever sets it: the page's link names no
// address, so nothing a page or the network chose is pasted into the page or followed.
BSTR FailedAddress;
// Set when the program navigates to its own page, until that navigation's BeforeNavigate2 (which
// the control may fire after Navigate returns): the one time the page's res: address is let in.
// A page cannot navigate there.
BOOL OwnPagePending;

void SetFailedAddress(BSTR url) {
    SysFreeString(FailedAddress);
    FailedAddress = url ? SysAllocString(url) : NULL;
}

void NavigateTo(LPCWSTR address) {
    if (!pWebBrowser)
        return;
    BSTR url = SysAllocString(address);
    pWebBrowser->Navigate(url, NULL, NULL, NULL, NULL);
    SysFreeString(url);
}

// "res://<the program's file>/<the page's name>". False when the file's name does not fit.
bool NetworkErrorPageAddress(WCHAR* address, int capacity) {
    WCHAR program[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH ||
        (int)length + lstrlenW(NETWORK_ERROR_PAGE) + 8 > capacity)
        return false;
    wsprintfW(address, L"res://%s/%s", program, NETWORK_ERROR_PAGE);
    return true;
}

// 重试 on the program's page: the address that failed loads again (and, if the site is back,
// the episode it shows is followed as any other).
void RetryFailedAddress() {
    if (!FailedAddress)
        return;
    BSTR address = FailedAddress;
    FailedAddress = NULL;
    NavigateTo(address);
    SysFreeString(address);
}

// The arguments arrive last first: rgvarg[0] is the event's last parameter. The embedded
// browser shows the site and the page's own addresses, in any frame; everything else is
// cancelled, and only the top-level frame's may leave for the user's browser (a frame loads
// without a click).
void OnBeforeNavigate2(DISPPARAMS* params) {
    if (params->cArgs != 7)
        return;
    BSTR url = UrlOf(params->rgvarg[5]);
    bool topLevel = IsTopLevelFrame(params->rgvarg[6]);
    if (url && lstrcmpW(url, NETWORK_ERROR_RETRY) == 0) {
        CancelEvent(params->rgvarg[0]);
        if (topLevel)
            RetryFailedAddress();
        return;
    }
    if (url && OwnPagePending && topLevel && IsProgramPage(url, NETWORK_ERROR_PAGE)) {
        OwnPagePending = FALSE;
        return;
    }
    if (url && IsPageOwnAddress(url))
        return;
    if (url && IsInsideSite(SiteRoot, url)) {
        if (topLevel)
            SetPendingAddress(url);
        return;
    }
    CancelEvent(params->rgvarg[0]);
    if (topLevel)
        LeaveForUsersBrowser(url);
}

void OnNavigateComplete2(DISPPARAMS* params) {
    if (params->cArgs != 2 || !IsTopLevelFrame(params->rgvarg[1]))
        return;
    SetPendingAddress(NULL);
    BSTR url = UrlOf(params->rgvarg[0]);
    // Any other page on screen ends the program's page: its 重试 does nothing from then on.
    if (url && !IsProgramPageAddress(url)) {
        SetFailedAddress(NULL);
        OwnPagePending = FALSE;
    }
    if (url)
        FollowEpisode(EpisodeOfUrl(SiteRoot, url));
}

// The site could not be reached for the top-level frame: the program's own page says so, in
// place of the engine's, with 重试. An answer the site did give (an HTTP status) is the site's
// page and stays; a frame's failure is the page's business.
void OnNavigateError(DISPPARAMS* params) {
    if (params->cArgs != 5 || !IsTopLevelFrame(params->rgvarg[4]))
        return;
    BSTR url = UrlOf(params->rgvarg[3]);
    const VARIANT& status = params->rgvarg[1];
    if (!url || !IsInsideSite(SiteRoot, url) || status.vt != (VT_BYREF | VT_VARIANT) ||
        !status.pvarVal || status.pvarVal->vt != VT_I4)
        return;
    HRESULT code = status.pvarVal->lVal;
    WCHAR page[MAX_PATH + 32];
    if (!FAILED(code) || HRESULT_FACILITY(code) != FACILITY_INTERNET ||
        !NetworkErrorPageAddress(page, MAX_PATH + 32))
        return;
    CancelEvent(params->rgvarg[0]);
    SetFailedAddress(url);
    SetPendingAddress(NULL);
    OwnPagePending = TRUE;
    NavigateTo(page);
}

// The embedded browser never opens a window of its own: the user's browser shows it.
void OnNewWindow3(DISPPARAMS* params) {
    if (params->cArgs != 5)
        return;
    CancelEvent(params->rgvarg[3]);
    const VARIANT& url = params->rgvarg[0];
    if (url.vt == VT_BSTR)
        LeaveForUsersBrowser(url.bstrVal);
}

// The embedded browser never saves a file: the site's download the viewer followed goes to
// the user's browser. (The control also fires this, with ActiveDocument true, for pages it
// shows itself.)
void OnFileDownload(DISPPARAMS* params) {
    if (params->cArgs != 2 || params->rgvarg[1].vt != VT_BOOL ||
        params->rgvarg[1].boolVal != VARIANT_FALSE)
        return;
    CancelEvent(params->rgvarg[0]);
    LeaveForUsersBrowser(PendingAddress);
    SetPendingAddress(NULL);
}

// One static sink for the one browser; it is never freed, so it counts no references.
struct BrowserEventSink : IDispatch {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, DIID_DWebBrowserEvents2)) {
            *object = this;
            return S_OK;
        }
        *object = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() { return 2; }
    ULONG STDMETHODCALLTYPE Release() { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params,
                                     VARIANT*, EXCEPINFO*, UINT*) {
        if (!params || (params->cArgs && !params->rgvarg))
            return E_INVALIDARG;
        switch (member) {
        case DISPID_BEFORENAVIGATE2:
            OnBeforeNavigate2(params);
            break;
        case DISPID_NAVIGATECOMPLETE2:
            OnNavigateComplete2(params);
            break;
        case DISPID_NEWWINDOW3:
            OnNewWindow3(params);
            break;
        case DISPID_FILEDOWNLOAD:
            OnFileDownload(params);
            break;
        case DISPID_NAVIGATEERROR:
            OnNavigateError(params);
            break;
        default:
            break;
        }
        return S_OK;
    }
};

BrowserEventSink Sink;

} // namespace

void ConnectBrowserEvents(IWebBrowser2* browser) {
    if (!browser || EventSource)
        return;
    IConnectionPointContainer* container = NULL;
    if (FAILED(browser->QueryInterface(IID_IConnectionPointContainer, (void**)&container)) ||
        !container)
        return;
    IConnectionPoint* source = NULL;
    HRESULT found = container->FindConnectionPoint(DIID_DWebBrowserEvents2, &source);
    container->Release();
    if (FAILED(found) || !source)
        return;
    IUnknown* identity = NULL;
    if (FAILED(browser->QueryInterface(IID_IUnknown, (void**)&identity)) || !identity ||
        FAILED(source->Advise(&Sink, &EventCookie))) {
        if (identity)
            identity->Release();
        source->Release();
        return;
    }
    EventSource = source;
    BrowserIdentity = identity;
    HandedOff = FALSE;
}

void DisconnectBrowserEvents() {
    if (!EventSource)
        return;
    EventSource->Unadvise(EventCookie);
    EventSource->Release();
    EventSource = NULL;
    BrowserIdentity->Release();
    BrowserIdentity = NULL;
    SetPendingAddress(NULL);
    SetFailedAddress(NULL);
    OwnPagePending = FALSE;
}
