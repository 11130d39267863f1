// What the player does: the episode list and playback, start-up, and the commands.
#pragma once

#include <windows.h>

// The list never holds more rows than this, whatever count the site sends: a count in
// the billions would otherwise keep the window busy adding rows for hours.
#define MAX_EPISODE_ROWS 9999

int FillEpisodeList();
int OpenEpisode(int episode);
int InitPlayer();

int RefreshEpisodeList();
int CheckForUpdate();
int ToggleTopMost();
int VisitMainSite(HWND owner);
