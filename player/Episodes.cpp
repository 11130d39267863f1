#include <windows.h>

#include "player/Player.h"
#include "settings/Settings.h"
#include "site/Site.h"
#include "ui/MainWindow.h"

int FillEpisodeList() {
    UINT count = ReadSettingInt(KeyList);
    UINT last = ReadSettingInt(KeyLast);

    WCHAR notice[TEXT_CAPACITY];
    ReadSettingText(KeyUpdate, notice);
    SetNoticeText(notice);

    SendMessageW(hEpisodeList, LB_RESETCONTENT, 0, 0);
    UINT rows = count < MAX_EPISODE_ROWS ? count : MAX_EPISODE_ROWS;
    // Thousands of rows: reserve once and repaint once, not after every row.
    SendMessageW(hEpisodeList, WM_SETREDRAW, FALSE, 0);
    SendMessageW(hEpisodeList, LB_INITSTORAGE, rows, rows * 16 * sizeof(WCHAR));
    for (UINT episode = 1; episode <= rows; ++episode) {
        WCHAR row[32];
        ZeroMemory(row, sizeof row);
        wsprintfW(row, L"Tessavo第%03d集", (int)episode);
        SendMessageW(hEpisodeList, LB_ADDSTRING, 0, (LPARAM)row);
    }
    SendMessageW(hEpisodeList, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hEpisodeList, NULL, TRUE);

    // Last 0 passes -1 and so selects nothing; a Last beyond the list is refused.
    SendMessageW(hEpisodeList, LB_SETCURSEL, (WPARAM)(INT_PTR)(int)(last - 1u), 0);
    return 1;
}

void ShowEpisodeTitle(int episode) {
    WCHAR title[TEXT_CAPACITY];
    ZeroMemory(title, sizeof title);
    if (lstrcmpW(TitleText, L"") == 0)
        wsprintfW(title, L"Tessavo第%d集 - VelmoraPlayer %s", episode, ProgramVersion);
    else
        wsprintfW(title, L"Tessavo第%d集 - %s - VelmoraPlayer %s", episode, TitleText,
                  ProgramVersion);
    SetWindowTextW(hMainWnd, title);
}

int OpenEpisode(int episode) {
    WCHAR address[TEXT_CAPACITY];
    ZeroMemory(address, sizeof address);
    wsprintfW(address, EpisodeUrlFormat, episode);
    // Without a browser there is nothing to navigate; the rest still happens.
    if (pWebBrowser) {
        BSTR url = SysAllocString(address);
        pWebBrowser->Navigate(url, NULL, NULL, NULL, NULL);
        SysFreeString(url);
    }

    ShowEpisodeTitle(episode);

    WCHAR last[16];
    ZeroMemory(last, sizeof last);
    wsprintfW(last, L"%d", episode);
    WriteSetting(KeyLast, last);
    return 1;
}

int FollowEpisode(int episode) {
    // Only a row of the list is an episode the player knows of.
    LRESULT rows = SendMessageW(hEpisodeList, LB_GETCOUNT, 0, 0);
    if (episode < 1 || rows == LB_ERR || episode > rows)
        return 0;
    ShowEpisodeTitle(episode);
    SendMessageW(hEpisodeList, LB_SETCURSEL, (WPARAM)(episode - 1), 0);
    // The page a double-click opened arrives with the episode already stored.
    if (ReadSettingInt(KeyLast) != (UINT)episode) {
        WCHAR last[16];
        ZeroMemory(last, sizeof last);
        wsprintfW(last, L"%d", episode);
        WriteSetting(KeyLast, last);
    }
    return 1;
}
