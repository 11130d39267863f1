// The main window: its process-wide handles and its window procedure.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include "settings/Settings.h"

extern HWND hMainWnd;
// Title and CopyRight as read once at start.
extern WCHAR TitleText[TEXT_CAPACITY];
extern WCHAR CopyRightText[TEXT_CAPACITY];

extern HWND hBrowserHost;
extern IWebBrowser2* pWebBrowser;
extern HWND hEpisodeList;
extern HWND hGetListButton;
extern HWND hSiteButton;
extern HWND hUpdateButton;
extern HWND hTopMostBox;
extern HWND hNoticeLabel;
extern HWND hStatusBar;

extern const WCHAR MainWindowClassName[];
// The main window's title, formatted with the program's version (StartTitleWithText: the
// stored Title, then the version), and its size; the tests read them here.
extern const WCHAR StartTitle[];
extern const WCHAR StartTitleWithText[];
extern const int MainWindowWidth;
extern const int MainWindowHeight;

// A child of the main window: OnCreate makes the children in the table's order and keeps
// each one's handle where the entry says. The status bar is not in it: it places itself
// along the bottom.
struct ChildWindow {
    LPCWSTR className;
    LPCWSTR text;
    DWORD style;
    DWORD exStyle;
    int x, y, width, height; // in the main window's client area
    int id;
    HWND* handle;
};
extern const ChildWindow ChildWindows[];
extern const int ChildWindowCount;

// Shows text in the notice label, clearing what it showed before.
void SetNoticeText(LPCWSTR text);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
