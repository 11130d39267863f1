#include <windows.h>
#include <commctrl.h>
#include <exdisp.h>
#include <urlmon.h>

#include "player/Player.h"
#include "settings/Settings.h"
#include "site/Site.h"
#include "ui/AtlHost.h"
#include "ui/BrowserEvents.h"
#include "ui/ControlIds.h"
#include "ui/MainWindow.h"

HWND hBrowserHost;
IWebBrowser2* pWebBrowser;
HWND hEpisodeList;
HWND hGetListButton;
HWND hSiteButton;
HWND hUpdateButton;
HWND hTopMostBox;
HWND hNoticeLabel;
HWND hStatusBar;

namespace {

const int NoticeLabelLeft = 10;
const int NoticeLabelTop = 547;
const int NoticeLabelWidth = 450;
const int NoticeLabelHeight = 25;

// "Tessavo " and the site's root, made before the label is.
WCHAR SiteLabel[TEXT_CAPACITY];

} // namespace

// Tab moves through the controls with WS_TABSTOP in the table's order: the list, the
// commands, then the page.
const ChildWindow ChildWindows[] = {
    {L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY,
     WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE, 642, 0, 120, 500, IDC_EPISODES, &hEpisodeList},
    {L"Button", L"获取播放列表", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 645, 510, 114, 25,
     IDC_GETLIST, &hGetListButton},
    {L"Button", L"访问主站", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 645, 540, 114, 25, IDC_SITE,
     &hSiteButton},
    {L"Button", L"检测更新", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 520, 540, 114, 25, IDC_UPDATE,
     &hUpdateButton},
    {L"Button", L"置顶", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 460, 540, 50, 25,
     IDC_TOPMOST, &hTopMostBox},
    // The host loads its window text: the start page shows without any further call.
    {L"AtlAxWin", StartPageUrl, WS_CHILD | WS_VISIBLE | WS_TABSTOP, WS_EX_CLIENTEDGE, 0, 0, 640,
     535, 0, &hBrowserHost},
    {L"Static", SiteLabel, WS_CHILD | WS_VISIBLE, 0, NoticeLabelLeft, NoticeLabelTop,
     NoticeLabelWidth, NoticeLabelHeight, 0, &hNoticeLabel},
};
const int ChildWindowCount = sizeof ChildWindows / sizeof ChildWindows[0];

namespace {

// The browser control's security restrictions that Windows leaves off for programs hosting
// it, while the browser itself has them on. The site's pages are content from others: no
// zone elevation, no ActiveX install, downloads or pop-ups the viewer did not ask for, no
// mk: or telnet: addresses, no script from files on this machine. The information bar stays
// off: it would offer the viewer to let through what these block.
const INTERNETFEATURELIST BrowserFeatures[] = {
    FEATURE_OBJECT_CACHING,
    FEATURE_ZONE_ELEVATION,
    FEATURE_MIME_HANDLING,
    FEATURE_MIME_SNIFFING,
    FEATURE_WINDOW_RESTRICTIONS,
    FEATURE_WEBOC_POPUPMANAGEMENT,
    FEATURE_BEHAVIORS,
    FEATURE_DISABLE_MK_PROTOCOL,
    FEATURE_LOCALMACHINE_LOCKDOWN,
    FEATURE_RESTRICT_ACTIVEXINSTALL,
    FEATURE_VALIDATE_NAVIGATE_URL,
    FEATURE_RESTRICT_FILEDOWNLOAD,
    FEATURE_ADDON_MANAGEMENT,
    FEATURE_PROTOCOL_LOCKDOWN,
    FEATURE_SAFE_BINDTOOBJECT,
    FEATURE_UNC_SAVEDFILECHECK,
    FEATURE_SSLUX,
    FEATURE_DISABLE_TELNET_PROTOCOL,
};

LRESULT OnCreate(HWND window, const CREATESTRUCTW* create) {
    // For the whole process, and before the host makes the control, which reads them once.
    for (size_t i = 0; i < sizeof BrowserFeatures / sizeof BrowserFeatures[0]; ++i)
        CoInternetSetFeatureEnabled(BrowserFeatures[i], SET_FEATURE_ON_PROCESS, TRUE);
    AtlAxWinInit();

    wsprintfW(SiteLabel, L"Tessavo %s", SiteRoot);
    for (int i = 0; i < ChildWindowCount; ++i) {
        const ChildWindow& child = ChildWindows[i];
        *child.handle = CreateWindowExW(child.exStyle, child.className, child.text, child.style,
                                        child.x, child.y, child.width, child.height, window,
                                        (HMENU)(INT_PTR)child.id, create->hInstance, NULL);
    }

    pWebBrowser = NULL;
    IUnknown* control = NULL;
    if (SUCCEEDED(AtlAxGetControl(hBrowserHost, &control)) && control)
        control->QueryInterface(IID_IWebBrowser2, (void**)&pWebBrowser);
    if (control)
        control->Release();
    ConnectBrowserEvents(pWebBrowser);

    hStatusBar = CreateStatusWindowW(WS_CHILD | WS_VISIBLE, CopyRightText, window, IDC_STATUSBAR);

    InitPlayer();

    if (ReadSettingInt(KeyTop) == 1) {
        SendMessageW(hTopMostBox, BM_SETCHECK, BST_CHECKED, 0);
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    return 0;
}

// A double-click on the list, or Enter on it.
void OpenSelectedEpisode() {
    // On an empty list, or with nothing selected, there is no episode to open.
    LRESULT selection = SendMessageW(hEpisodeList, LB_GETCURSEL, 0, 0);
    if (selection != LB_ERR)
        OpenEpisode((int)selection + 1);
}

void OnCommand(HWND window, int id, int notification) {
    switch (id) {
    case IDC_EPISODES:
        if (notification == LBN_DBLCLK)
            OpenSelectedEpisode();
        break;
    case IDOK:
        // Enter where the control with the focus does not take it (the message loop's dialog
        // keys): on the list it plays the selected episode.
        if (GetFocus() == hEpisodeList)
            OpenSelectedEpisode();
        break;
    case IDC_GETLIST:
        RefreshEpisodeList();
        break;
    case IDC_UPDATE:
        CheckForUpdate();
        break;
    case IDC_TOPMOST:
        ToggleTopMost();
        break;
    case IDC_SITE:
        VisitMainSite(window);
        break;
    default:
        break;
    }
}

// The controls draw in the stock GUI font on a transparent background.
void PrepareControlColours(HDC dc) {
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
}

} // namespace

void SetNoticeText(LPCWSTR text) {
    SetWindowTextW(hNoticeLabel, text);
    // The label paints with a hollow brush, so its old text would stay under the new one
    // unless the window behind it is repainted first.
    RECT area;
    SetRect(&area, NoticeLabelLeft, NoticeLabelTop, NoticeLabelLeft + NoticeLabelWidth,
            NoticeLabelTop + NoticeLabelHeight);
    InvalidateRect(GetParent(hNoticeLabel), &area, TRUE);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window, (const CREATESTRUCTW*)lParam);
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
        PrepareControlColours((HDC)wParam);
        return 0;
    case WM_CTLCOLORSTATIC:
        PrepareControlColours((HDC)wParam);
        return (LRESULT)GetStockObject(NULL_BRUSH);
    case WM_DESTROY:
        DisconnectBrowserEvents();
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
