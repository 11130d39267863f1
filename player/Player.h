// What the player does: the episode list and playback, start-up, and the commands.
#pragma once

#include <windows.h>

// The list never holds more rows than this, whatever count the site sends: a count in
// the billions would otherwise keep the window busy adding rows for hours.
#define MAX_EPISODE_ROWS 9999

int FillEpisodeList();
int OpenEpisode(int episode);
// Titles the window after the episode, as opening it does.
void ShowEpisodeTitle(int episode);
// The browser shows the episode, however it got there: title, selected row and Last follow
// it. An episode the list does not hold changes nothing. Returns whether it followed.
int FollowEpisode(int episode);
int InitPlayer();

int RefreshEpisodeList();
int CheckForUpdate();
int ToggleTopMost();
int VisitMainSite(HWND owner);
// Opens an address in the user's own browser.
void OpenInUsersBrowser(HWND owner, LPCWSTR address);
