// The program's count fetch alone, as 获取播放列表 runs it: FetchEpisodeCount stores the
// first line of the site's count as List in Config.ini of the working directory. Prints the
// milliseconds it took, so a caller can tell a refused certificate from a hang.
#include <windows.h>

#include <locale.h>
#include <stdio.h>

#include <chrono>

#include "settings/Settings.h"
#include "site/Site.h"

int main() {
    // The ANSI code page follows the locale, as in the player.
    setlocale(LC_ALL, "");
    BuildIniPath();
    auto started = std::chrono::steady_clock::now();
    FetchEpisodeCount();
    auto took = std::chrono::steady_clock::now() - started;
    printf("%lld\n",
           (long long)std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
    return 0;
}
