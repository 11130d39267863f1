#include <windows.h>
#include <shellapi.h>

#include "player/Player.h"
#include "settings/Settings.h"
#include "site/Site.h"
#include "ui/MainWindow.h"

namespace {

bool IsBlank(WCHAR c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

// Removes surrounding spaces, tabs and line breaks in place: a version sent as "1.0\r\n"
// is the same version.
void TrimBlanks(WCHAR* text) {
    int length = lstrlenW(text);
    int start = 0;
    while (start < length && IsBlank(text[start]))
        ++start;
    while (length > start && IsBlank(text[length - 1]))
        --length;
    for (int i = start; i < length; ++i)
        text[i - start] = text[i];
    text[length - start] = 0;
}

} // namespace

int RefreshEpisodeList() {
    FetchEpisodeCount();
    FetchNotice();
    FillEpisodeList();
    return 1;
}

int CheckForUpdate() {
    WCHAR latest[TEXT_CAPACITY];
    ZeroMemory(latest, sizeof latest);
    BOOL fetched = FetchText(LatestVersionUrl, latest);

    WCHAR installed[TEXT_CAPACITY];
    ReadSettingText(KeyVersion, installed);

    // An unreachable site says nothing about versions: say so instead of offering an
    // upgrade (or claiming the player is up to date).
    if (!fetched) {
        MessageBoxW(NULL, L"检测更新失败，请检查网络连接!", L"提示",
                    MB_OK | MB_ICONINFORMATION | MB_TOPMOST);
        return 1;
    }
    TrimBlanks(latest);
    if (lstrcmpW(latest, installed) == 0) {
        MessageBoxW(NULL, L"当前是最新版本!", L"提示", MB_OK | MB_ICONINFORMATION | MB_TOPMOST);
        return 1;
    }
    if (MessageBoxW(hMainWnd, L"有新版本 是否升级?", L"提示",
                    MB_YESNO | MB_ICONINFORMATION | MB_TOPMOST) == IDYES)
        ShellExecuteW(hMainWnd, L"open", DownloadPageUrl, NULL, NULL, SW_SHOWNORMAL);
    return 1;
}

int ToggleTopMost() {
    // The stored choice alone decides the direction; the check mark is not read.
    if (ReadSettingInt(KeyTop) == 1) {
        WriteSetting(KeyTop, L"0");
        SetWindowPos(hMainWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    } else {
        WriteSetting(KeyTop, L"1");
        SetWindowPos(hMainWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    return 1;
}

void OpenInUsersBrowser(HWND owner, LPCWSTR address) {
    ShellExecuteW(owner, L"open", address, NULL, NULL, SW_SHOWNORMAL);
}

int VisitMainSite(HWND owner) {
    OpenInUsersBrowser(owner, SiteRoot);
    return 1;
}
