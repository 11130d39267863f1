#include <windows.h>

#include "player/Player.h"
#include "settings/Settings.h"
#include "site/Site.h"

int InitPlayer() {
    // The later steps use the values as they were before the first-run writes.
    UINT list = ReadSettingInt(KeyList);
    UINT last = ReadSettingInt(KeyLast);
    UINT once = ReadSettingInt(KeyOnce);

    if (once == 0)
        WriteFirstRunDefaults();
    else
        RecordProgramVersion();
    if (last == 0)
        WriteSetting(KeyLast, L"1");
    if (list == 0) {
        MessageBoxW(NULL, L"第一次运行 自动获取播放列表!", L"提示",
                    MB_OK | MB_ICONINFORMATION | MB_TOPMOST);
        FetchEpisodeCount();
        FetchNotice();
    }
    FillEpisodeList();
    return 1;
}
