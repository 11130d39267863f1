#include <windows.h>
#include <commctrl.h>

#include "resources/resource.h"
#include "settings/Settings.h"
#include "ui/AtlHost.h"
#include "ui/MainWindow.h"

HWND hMainWnd;
WCHAR TitleText[TEXT_CAPACITY];
WCHAR CopyRightText[TEXT_CAPACITY];

const WCHAR MainWindowClassName[] = L"VelmoraPlayer";

const WCHAR StartTitle[] = L"Tessavo全集在线播放器 - VelmoraPlayer %s";
const WCHAR StartTitleWithText[] = L"Tessavo全集在线播放器 - %s - VelmoraPlayer %s";
const int MainWindowWidth = 770;
const int MainWindowHeight = 615;

namespace {

// A key for the page goes to the browser control first, as ATL's hosts give it: the page
// keeps Tab, Enter, the arrows and Space for its own links and player while it uses them.
bool PageTakesKey(MSG* message) {
    if (message->message < WM_KEYFIRST || message->message > WM_KEYLAST || !hBrowserHost ||
        (message->hwnd != hBrowserHost && !IsChild(hBrowserHost, message->hwnd)))
        return false;
    return SendMessageW(hBrowserHost, WM_FORWARDMSG, 0, (LPARAM)message) != FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    WNDCLASSEXW windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_SCROLLBAR + 1);
    windowClass.lpszClassName = MainWindowClassName;
    if (!RegisterClassExW(&windowClass))
        return 0;

    BuildIniPath();

    ReadSettingText(KeyTitle, TitleText);
    ReadSettingText(KeyCopyRight, CopyRightText);
    if (lstrcmpW(CopyRightText, L"") == 0)
        lstrcpyW(CopyRightText, DefaultNotice);

    WCHAR title[TEXT_CAPACITY];
    ZeroMemory(title, sizeof title);
    if (lstrcmpW(TitleText, L"") == 0)
        wsprintfW(title, StartTitle, ProgramVersion);
    else
        wsprintfW(title, StartTitleWithText, TitleText, ProgramVersion);

    hMainWnd = CreateWindowExW(0, MainWindowClassName, title, WS_CAPTION | WS_SYSMENU,
                               CW_USEDEFAULT, CW_USEDEFAULT, MainWindowWidth, MainWindowHeight,
                               NULL, NULL, instance, NULL);
    // Without a window there is nothing whose closing could end the loop below.
    if (!hMainWnd)
        return 1;
    ShowWindow(hMainWnd, showCommand);

    CoInitialize(NULL);
    InitCommonControls();

    MSG message;
    ZeroMemory(&message, sizeof message);
    // GetMessageW answers -1 on an error; looping on it would spin for ever.
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        // Keys work as in a dialog: Tab and Shift+Tab move between the controls and the
        // page, Enter goes to the window as IDOK, Space presses the focused button.
        if (PageTakesKey(&message) || IsDialogMessageW(hMainWnd, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    CoUninitialize();
    return (int)message.wParam;
}
