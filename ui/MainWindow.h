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

// Shows text in the notice label, clearing what it showed before.
void SetNoticeText(LPCWSTR text);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
