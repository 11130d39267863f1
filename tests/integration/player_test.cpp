// What a user of the player relies on: the first start, later starts, the episode list and
// playback, and the four commands, each driven through the whole program against the
// content site on loopback.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string.h>
#include <thread>
#include <vector>

#include "LoopbackHttpServer.h"
#include "PlayerRun.h"
#include "SiteProcess.h"
#include "TempDir.h"
#include "TestText.h"
#include "settings/Settings.h"
#include "site/Site.h"
#include "ui/ControlIds.h"
#include "ui/MainWindow.h"

namespace {

using namespace velmora::platform;
using namespace velmora::test;

const char* const kHost = VELMORA_TEST_SITE_HOST;
const int kPort = VELMORA_TEST_SITE_PORT;
const std::string kRoot = std::string("http://") + kHost + ":" + std::to_string(kPort) + "/";
const std::string kStartTitle = velmora::test::MainTitle();
const std::string kCountTarget = "/video/player/?flv=list";
const std::string kNoticeTarget = "/video/player/?flv=next";
const std::string kVersionTarget = "/video/player/?flv=update";
const std::string kFirstRunText = "第一次运行 自动获取播放列表!";
const UINT kOkBox = 0x00040040;
const UINT kYesNoBox = 0x00040044;
const std::string kLongTitle(1500, 'T');

bool Pinned() {
    const auto* window = FindWindowRecord(hMainWnd);
    return window && window->topMost();
}

int CheckMark() {
    return (int)SendMessageW(hTopMostBox, BM_GETCHECK, 0, 0);
}

// What the site was asked for up to now, without the requests of our own that tell when the
// log has caught up. The site logs an answer once it is sent, from the thread that sent it,
// so a line can trail the next exchange's: two of ours, one after the other, give every
// earlier line the time to arrive.
std::vector<std::string> RequestsSoFar(const SiteProcess& site) {
    const std::string marker = "/video/player/?flv=index";
    auto markers = [&] {
        std::vector<std::string> targets = site.RequestedTargets();
        return std::count(targets.begin(), targets.end(), marker);
    };
    const auto wanted = markers() + 2;
    WCHAR text[TEXT_CAPACITY];
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(FetchText(StartPageUrl, text));
    for (int waited = 0; markers() < wanted && waited < 5000; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(markers(), wanted) << "the site did not log our own requests";
    std::vector<std::string> targets = site.RequestedTargets();
    targets.erase(std::remove(targets.begin(), targets.end(), marker), targets.end());
    return targets;
}

std::string Row(int episode) {
    char row[32];
    snprintf(row, sizeof row, "%03d", episode);
    return std::string("Tessavo第") + row + "集";
}

class PlayerTest : public ::testing::Test {
  protected:
    std::string Ini() const { return dir_.File("Config.ini"); }
    std::optional<std::string> Value(const char* key) const { return IniValue(Ini(), key); }
    // The eight first-run values, except the count and the notice, which a first start may
    // have fetched since; no other key.
    void ExpectFirstRunValues(const std::string& list, const std::string& update) const {
        EXPECT_EQ(IniKeys(Ini()).size(), 8u);
        EXPECT_EQ(Value("Version"), VELMORA_VERSION);
        EXPECT_EQ(Value("List"), list);
        EXPECT_EQ(Value("Last"), "1");
        EXPECT_EQ(Value("Top"), "1");
        EXPECT_EQ(Value("Once"), "1");
        EXPECT_EQ(Value("Title"), "");
        EXPECT_EQ(Value("Update"), update);
        EXPECT_EQ(Value("CopyRight"), Utf8(DefaultNotice));
    }

    TempDir dir_;
};

TEST_F(PlayerTest, FirstStartWritesDefaultsFetchesAndPinsTheWindow) {
    const std::string notice = "第220集已更新，欢迎观看《Tessavo》";
    SiteProcess site({"--episodes", "220", "--notice", notice, "--charset", "gbk"}, kHost, kPort);
    PlayerRun run;
    bool shownBeforeWindowAndFetch = false;
    run.onMessageBox = [&](const MessageBoxRequest&) {
        bool windowHidden = true;
        for (auto* window : velmora::platform::TopLevelWindows())
            windowHidden = windowHidden && !window->visible();
        shownBeforeWindowAndFetch = windowHidden && Value("Once") == "1" && Value("List") == "0" &&
                                    site.RequestedTargets().empty();
        return IDOK;
    };
    std::vector<std::string> rows;
    int selection = -2;
    bool pinned = false;
    int check = -1;
    std::string label;
    run.steps = {[&](HeadlessBackend&) {
        rows = ListRows(hEpisodeList);
        selection = ListSelection(hEpisodeList);
        pinned = Pinned();
        check = CheckMark();
        label = WindowText(hNoticeLabel);
    }};
    EXPECT_EQ(run.Run(), 0);

    ASSERT_EQ(run.messageBoxes.size(), 1u);
    EXPECT_EQ(run.messageBoxes[0].owner, nullptr);
    EXPECT_EQ(run.messageBoxes[0].text, kFirstRunText);
    EXPECT_EQ(run.messageBoxes[0].caption, "提示");
    EXPECT_EQ(run.messageBoxes[0].style, kOkBox);
    EXPECT_TRUE(shownBeforeWindowAndFetch)
        << "the box must come after the first-run writes, before the fetch and the window";

    EXPECT_EQ(IniKeys(Ini()), (std::vector<std::string>{"Version", "List", "Last", "Top", "Once",
                                                        "Title", "Update", "CopyRight"}));
    ExpectFirstRunValues("220", notice);
    EXPECT_EQ(RequestsSoFar(site), (std::vector<std::string>{kCountTarget, kNoticeTarget}));

    ASSERT_EQ(rows.size(), 220u);
    EXPECT_EQ(rows.front(), "Tessavo第001集");
    EXPECT_EQ(rows[6], "Tessavo第007集");
    EXPECT_EQ(rows.back(), "Tessavo第220集");
    EXPECT_EQ(selection, 0);
    EXPECT_EQ(label, notice);
    EXPECT_TRUE(pinned);
    EXPECT_EQ(check, BST_CHECKED);
}

TEST_F(PlayerTest, LaterStartsListFromTheFileWithoutFetching) {
    struct Case {
        const char* how;
        std::string list, last; // as stored
        size_t rows;
        int selection;
        std::string lastAfter;
    } cases[] = {
        {"Last 0 is repaired", "50", "0", 50, 0, "1"},
        {"second selected", "3", "2", 3, 1, "2"},
        {"Last beyond the list", "3", "5", 3, -1, "5"},
        // Hand-edited extremes: no row, and no arithmetic overflow on the way there.
        {"Last at the edge of int", "3", "2147483648", 3, -1, "2147483648"},
        {"negative Last", "3", "-2147483648", 3, -1, "-2147483648"},
        {"count with trailing text", "12abc", "12", 12, 11, "12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        SiteProcess site({"--episodes", "220"}, kHost, kPort);
        WriteIni(Ini(), {{"Once", "1"}, {"List", c.list}, {"Last", c.last}});
        PlayerRun run;
        std::vector<std::string> rows;
        int selection = -2;
        run.steps = {[&](HeadlessBackend&) {
            rows = ListRows(hEpisodeList);
            selection = ListSelection(hEpisodeList);
        }};
        EXPECT_EQ(run.Run(), 0);
        EXPECT_TRUE(run.messageBoxes.empty());
        EXPECT_TRUE(RequestsSoFar(site).empty());
        ASSERT_EQ(rows.size(), c.rows);
        for (size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(rows[i], Row((int)i + 1));
        EXPECT_EQ(selection, c.selection);
        EXPECT_EQ(Value("Last"), c.lastAfter);
        EXPECT_EQ(Value("List"), c.list) << "the stored count is not rewritten";
    }
}

// Version names the program that last started here: another version (an upgrade, a
// downgrade) has that one line rewritten, the same one leaves the file as it was.
TEST_F(PlayerTest, EveryStartRecordsTheRunningVersion) {
    for (const std::string stored : {"0.9", "99.0", "", VELMORA_VERSION}) {
        SCOPED_TRACE("stored " + stored);
        WriteIni(Ini(),
                 {{"Version", stored}, {"Once", "1"}, {"List", "3"}, {"Last", "2"}, {"Top", "0"}});
        std::string expected = ReadFileBytes(Ini());
        expected.replace(expected.find("Version=") + 8, stored.size(), VELMORA_VERSION);
        PlayerRun run;
        EXPECT_EQ(run.Run(), 0);
        EXPECT_EQ(ReadFileBytes(Ini()), expected);
    }
}

TEST_F(PlayerTest, ZeroCountShowsTheBoxAndFetchesOnEveryStartUntilACountIsStored) {
    WriteIni(Ini(), {{"Once", "1"}, {"List", "0"}, {"Last", "1"}, {"Update", "old"}});
    struct Case {
        bool siteUp;
        size_t boxes;
        std::string list;
        size_t rows;
    } starts[] = {
        {false, 1, "0", 0},    // nothing stored: the next start tries again
        {false, 1, "0", 0},    // and again
        {true, 1, "220", 220}, // the site answers
        {true, 0, "220", 220}, // a count is known: no box, no fetch
    };
    int number = 0;
    for (const Case& c : starts) {
        SCOPED_TRACE("start " + std::to_string(++number));
        std::unique_ptr<SiteProcess> site;
        if (c.siteUp)
            site = std::make_unique<SiteProcess>(std::vector<std::string>{"--episodes", "220"},
                                                 kHost, kPort);
        PlayerRun run;
        size_t rows = 0;
        run.steps = {[&](HeadlessBackend&) { rows = ListRows(hEpisodeList).size(); }};
        EXPECT_EQ(run.Run(), 0);
        EXPECT_EQ(run.messageBoxes.size(), c.boxes);
        for (const auto& box : run.messageBoxes)
            EXPECT_EQ(box.text, kFirstRunText);
        if (site) {
            EXPECT_EQ(RequestsSoFar(*site).size(), c.boxes * 2);
        }
        EXPECT_EQ(Value("List"), c.list);
        EXPECT_EQ(rows, c.rows);
    }
}

TEST_F(PlayerTest, OnceZeroOverwritesEveryKeyButThisRunKeepsTheOldTexts) {
    SiteProcess site({"--episodes", "220"}, kHost, kPort);
    WriteIni(Ini(), {{"Once", "0"},
                     {"List", "50"},
                     {"Last", "7"},
                     {"Top", "0"},
                     {"Title", "abc"},
                     {"CopyRight", "mine"},
                     {"Update", "old notice"},
                     {"Version", "0.9"}});
    PlayerRun run;
    std::string title, status, label;
    size_t rows = 99;
    bool pinned = false;
    run.steps = {[&](HeadlessBackend&) {
        title = WindowText(hMainWnd);
        status = WindowText(hStatusBar);
        label = WindowText(hNoticeLabel);
        rows = ListRows(hEpisodeList).size();
        pinned = Pinned();
    }};
    EXPECT_EQ(run.Run(), 0);
    EXPECT_TRUE(run.messageBoxes.empty()) << "the count read before the rewrite was 50";
    EXPECT_TRUE(RequestsSoFar(site).empty());
    ExpectFirstRunValues("0", "");
    EXPECT_EQ(rows, 0u);
    EXPECT_EQ(label, "");
    EXPECT_EQ(title, velmora::test::MainTitle("abc"));
    EXPECT_EQ(status, "mine");
    EXPECT_TRUE(pinned);
}

TEST_F(PlayerTest, ListNeverHoldsMoreThan9999Rows) {
    struct Case {
        const char* list;
        size_t rows;
    } cases[] = {
        {"4294967295", 9999}, {"-1", 9999}, {"100000", 9999}, {"10000", 9999}, {"9999", 9999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        WriteIni(Ini(), {{"Once", "1"}, {"List", c.list}, {"Last", "1"}});
        PlayerRun run;
        std::vector<std::string> rows;
        run.steps = {[&](HeadlessBackend&) { rows = ListRows(hEpisodeList); }};
        EXPECT_EQ(run.Run(), 0);
        ASSERT_EQ(rows.size(), c.rows);
        EXPECT_EQ(rows.back(), "Tessavo第9999集");
        EXPECT_EQ(rows[999], "Tessavo第1000集");
        EXPECT_EQ(run.listRowsAdded, (int)c.rows) << "rows were added beyond the bound";
    }
}

TEST_F(PlayerTest, DoubleClickPlaysTheEpisodeRetitlesAndRemembersIt) {
    struct Case {
        const char* title; // the Title key
        int row;
        bool browser;
        std::string windowTitle;
    } cases[] = {
        {"", 0, true, "Tessavo第1集 - VelmoraPlayer " VELMORA_VERSION},
        {"abc", 11, true, "Tessavo第12集 - abc - VelmoraPlayer " VELMORA_VERSION},
        {"", 219, true, "Tessavo第220集 - VelmoraPlayer " VELMORA_VERSION},
        {"", 4, false, "Tessavo第5集 - VelmoraPlayer " VELMORA_VERSION},
        // The title buffer holds 1023 characters: "Tessavo第12集 - " is 14 of them.
        {kLongTitle.c_str(), 11, true, "Tessavo第12集 - " + std::string(1023 - 14, 'T')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.row) + (c.browser ? "" : " without a browser") + " Title " +
                     std::to_string(strlen(c.title)));
        WriteIni(Ini(), {{"Once", "1"}, {"List", "220"}, {"Last", "1"}, {"Title", c.title}});
        PlayerRun run;
        run.browserAvailable = c.browser;
        std::string title;
        int selection = -2;
        bool hadBrowser = false;
        run.steps = {[&](HeadlessBackend&) {
                         hadBrowser = pWebBrowser != nullptr;
                         input::ListDoubleClick(hEpisodeList, c.row);
                     },
                     [&](HeadlessBackend&) {
                         title = WindowText(hMainWnd);
                         selection = ListSelection(hEpisodeList);
                     }};
        EXPECT_EQ(run.Run(), 0);
        EXPECT_EQ(hadBrowser, c.browser);
        std::vector<std::string> navigations = {kRoot + "video/player/?flv=index"};
        if (c.browser)
            navigations.push_back(kRoot + "video/player/?flv=" + std::to_string(c.row + 1));
        EXPECT_EQ(run.navigations, navigations);
        EXPECT_EQ(title, c.windowTitle);
        EXPECT_EQ(selection, c.row);
        EXPECT_EQ(Value("Last"), std::to_string(c.row + 1));
        EXPECT_TRUE(run.messageBoxes.empty());

        // The next start preselects the episode.
        PlayerRun next;
        next.steps = {[&](HeadlessBackend&) { selection = ListSelection(hEpisodeList); }};
        EXPECT_EQ(next.Run(), 0);
        EXPECT_EQ(selection, c.row);
    }
}

// A double-click with no row selected, and a single click, which only selects: neither
// opens an episode, retitles the window nor changes Config.ini.
TEST_F(PlayerTest, OnlyADoubleClickOnARowPlays) {
    struct Case {
        const char* how;
        const char* list;
        const char* last;
        bool doubleClick;
        int row; // where the click lands
        int selectedBefore, selectedAfter;
    } cases[] = {
        // The site is down: the list stays empty.
        {"double-click on an empty list", "0", "1", true, 0, LB_ERR, LB_ERR},
        {"double-click below the last row, none selected", "3", "5", true, 3, LB_ERR, LB_ERR},
        {"single click", "3", "1", false, 2, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        WriteIni(Ini(), {{"Once", "1"}, {"List", c.list}, {"Last", c.last}});
        std::string fileBefore;
        PlayerRun run;
        std::string title;
        int selection = -2;
        run.steps = {[&](HeadlessBackend&) {
                         fileBefore = ReadFileBytes(Ini());
                         ASSERT_EQ(ListSelection(hEpisodeList), c.selectedBefore);
                         if (c.doubleClick)
                             input::ListDoubleClick(hEpisodeList, c.row);
                         else
                             input::ListSelect(hEpisodeList, c.row);
                     },
                     [&](HeadlessBackend&) {
                         title = WindowText(hMainWnd);
                         selection = ListSelection(hEpisodeList);
                     }};
        EXPECT_EQ(run.Run(), 0);
        EXPECT_EQ(run.stepsRun, 2);
        EXPECT_EQ(selection, c.selectedAfter);
        EXPECT_EQ(title, kStartTitle);
        EXPECT_EQ(run.navigations.size(), 1u) << "only the start page";
        EXPECT_EQ(ReadFileBytes(Ini()), fileBefore) << "Last must not change";
    }
}

// A key pressed and let go in the main window, as the window system delivers it; Shift+Tab
// is VK_SHIFT | VK_TAB << 8.
void Press(UINT key) {
    if (key >> 8)
        input::Key(hMainWnd, key & 0xFF, true);
    input::Key(hMainWnd, key >> 8 ? key >> 8 : key, true);
    input::Key(hMainWnd, key >> 8 ? key >> 8 : key, false);
    if (key >> 8)
        input::Key(hMainWnd, key & 0xFF, false);
}

// What a user sees after some input on a list of 220 with Last given.
struct Outcome {
    std::vector<std::string> navigations;
    std::string title;
    std::optional<std::string> last;
};

TEST_F(PlayerTest, EnterOnTheListPlaysTheSelectedEpisodeAsADoubleClickDoes) {
    auto outcome = [&](const char* last, const std::function<void()>& input) {
        WriteIni(Ini(), {{"Once", "1"}, {"List", "220"}, {"Last", last}});
        PlayerRun run;
        Outcome seen;
        run.steps = {[&](HeadlessBackend&) { input(); },
                     [&](HeadlessBackend&) { seen.title = WindowText(hMainWnd); }};
        EXPECT_EQ(run.Run(), 0);
        seen.navigations = run.navigations;
        seen.last = Value("Last");
        return seen;
    };
    struct Case {
        const char* how;
        const char* last;
        int clickedRow; // -1: no click before the keys
        std::vector<UINT> keys;
        int doubleClickedRow; // the double-click that does the same; -1: none does anything
    } cases[] = {
        {"Tab to the preselected row, Enter", "3", -1, {VK_TAB, VK_RETURN}, 2},
        {"Down, Enter", "3", -1, {VK_TAB, VK_DOWN, VK_RETURN}, 3},
        {"clicked row, Enter", "1", 11, {VK_RETURN}, 11},
        {"End, Up, Enter", "1", -1, {VK_TAB, VK_END, VK_UP, VK_RETURN}, 218},
        {"nothing selected", "500", -1, {VK_TAB, VK_RETURN}, -1},
        {"on a button", "3", -1, {VK_TAB, VK_TAB, VK_RETURN}, -1},
        {"the window itself", "3", -1, {VK_RETURN}, -1},
    };
    const Outcome untouched = outcome("3", [] {});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        Outcome byKeys = outcome(c.last, [&] {
            if (c.clickedRow >= 0) {
                input::Focus(hEpisodeList);
                input::ListSelect(hEpisodeList, c.clickedRow);
            }
            for (UINT key : c.keys)
                Press(key);
        });
        Outcome expected = untouched;
        expected.last = c.last;
        if (c.doubleClickedRow >= 0) {
            expected =
                outcome(c.last, [&] { input::ListDoubleClick(hEpisodeList, c.doubleClickedRow); });
            EXPECT_EQ(expected.navigations.back(),
                      kRoot + "video/player/?flv=" + std::to_string(c.doubleClickedRow + 1));
        }
        EXPECT_EQ(byKeys.navigations, expected.navigations);
        EXPECT_EQ(byKeys.title, expected.title);
        EXPECT_EQ(byKeys.last, expected.last);
    }
}

// Tab goes round the controls in the table's order, the list first and the page last, and
// Shift+Tab goes back. A page that uses its keys keeps Tab for itself, and Enter on it opens
// nothing. Space presses the focused button: 置顶 flips the pin, 访问主站 opens the site.
TEST_F(PlayerTest, TabGoesRoundTheControlsAndSpacePressesTheFocusedOne) {
    for (bool pageTakesKeys : {false, true}) {
        SCOPED_TRACE(pageTakesKeys ? "page takes its keys" : "page leaves its keys");
        WriteIni(Ini(), {{"Once", "1"}, {"List", "3"}, {"Last", "1"}, {"Top", "0"}});
        PlayerRun run;
        std::vector<HWND> stops, seen, expected;
        std::vector<bool> pinned;
        auto then = [&](std::function<void()> input) {
            run.steps.push_back([input](HeadlessBackend&) { input(); });
            run.steps.push_back([&](HeadlessBackend&) {
                seen.push_back(GetFocus());
                pinned.push_back(Pinned());
            });
        };
        run.steps.push_back([&](HeadlessBackend& backend) {
            backend.pageTakesKeys = pageTakesKeys;
            for (int i = 0; i < ChildWindowCount; ++i)
                if (ChildWindows[i].style & WS_TABSTOP)
                    stops.push_back(*ChildWindows[i].handle);
        });
        for (int i = 0; i < ChildWindowCount + 1; ++i)
            then([] { Press(VK_TAB); });
        then([] { SetFocus(hEpisodeList); });
        for (int i = 0; i < ChildWindowCount; ++i)
            then([] { Press(VK_SHIFT | VK_TAB << 8); });
        then([] { SetFocus(hBrowserHost), Press(VK_RETURN); });
        then([] { SetFocus(hTopMostBox), Press(VK_SPACE); });
        then([] { SetFocus(hSiteButton), Press(VK_SPACE); });
        EXPECT_EQ(run.Run(), 0);
        ASSERT_GE(stops.size(), 3u);
        EXPECT_EQ(stops.front(), hEpisodeList);
        EXPECT_EQ(stops.back(), hBrowserHost);
        const size_t n = stops.size();
        for (size_t i = 0; i <= (size_t)ChildWindowCount; ++i)
            expected.push_back(pageTakesKeys && i >= n ? stops.back() : stops[i % n]);
        expected.push_back(hEpisodeList);
        for (size_t i = 0; i < (size_t)ChildWindowCount; ++i)
            expected.push_back(pageTakesKeys ? stops.back() : stops[(2 * n - 1 - i) % n]);
        expected.insert(expected.end(), {hBrowserHost, hTopMostBox, hSiteButton});
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(std::count(run.pageKeys.begin(), run.pageKeys.end(), (UINT)VK_RETURN), 1);
        EXPECT_EQ(run.navigations.size(), 1u) << "Enter on the page opened an episode";
        EXPECT_EQ(std::vector<bool>(pinned.end() - 3, pinned.end()),
                  (std::vector<bool>{false, true, true}));
        EXPECT_EQ(Value("Top"), "1");
        EXPECT_EQ(run.openedInBrowser, std::vector<std::string>{kRoot});
    }
}

TEST_F(PlayerTest, GetPlaylistStoresWhatTheSiteSaysOrKeepsTheLastGoodValues) {
    enum class Site { Up, Down, NotFound };
    struct Case {
        const char* how;
        Site site;
        std::string list;
        std::string update;
    } cases[] = {
        {"site up", Site::Up, "300", "新的一集"},
        {"site down", Site::Down, "40", "old notice"},
        {"site answers 404", Site::NotFound, "40", "old notice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        WriteIni(Ini(), {{"Once", "1"}, {"List", "50"}, {"Last", "2"}, {"Update", "old notice"}});
        std::unique_ptr<SiteProcess> site;
        std::unique_ptr<LoopbackHttpServer> server;
        if (c.site == Site::Up)
            site = std::make_unique<SiteProcess>(std::vector<std::string>{"--episodes", "300",
                                                                          "--notice", "新的一集",
                                                                          "--charset", "gbk"},
                                                 kHost, kPort);
        if (c.site == Site::NotFound) {
            server = std::make_unique<LoopbackHttpServer>(kHost, kPort);
            server->SetFallback(ScriptedReply::Body("<html>gone</html>", 404));
        }
        PlayerRun run;
        std::vector<std::string> rows;
        int selection = -2;
        std::string label;
        HWND mainWindow = nullptr;
        run.steps = {
            [&](HeadlessBackend&) {
                mainWindow = hMainWnd;
                // Edited by hand while the player runs: a rebuilt list shows it.
                WriteIni(Ini(),
                         {{"Once", "1"}, {"List", "40"}, {"Last", "2"}, {"Update", "old notice"}});
                input::Click(hGetListButton);
            },
            [&](HeadlessBackend&) {
                rows = ListRows(hEpisodeList);
                selection = ListSelection(hEpisodeList);
                label = WindowText(hNoticeLabel);
            }};
        EXPECT_EQ(run.Run(), 0);
        EXPECT_TRUE(run.messageBoxes.empty());
        EXPECT_EQ(Value("List"), c.list);
        EXPECT_EQ(Value("Update"), c.update);
        EXPECT_EQ(rows.size(), std::stoul(c.list));
        EXPECT_EQ(selection, 1);
        EXPECT_EQ(label, c.update);
        // The label paints on a hollow brush: the window behind it must be repainted, or
        // the new notice is drawn over the old one.
        const ChildWindow* place =
            std::find_if(ChildWindows, ChildWindows + ChildWindowCount,
                         [](const ChildWindow& child) { return child.handle == &hNoticeLabel; });
        ASSERT_NE(place, ChildWindows + ChildWindowCount);
        bool behindLabelRepainted = false;
        for (const auto& invalidation : run.invalidations)
            behindLabelRepainted |= invalidation.window == mainWindow && !invalidation.whole &&
                                    invalidation.area.left == place->x &&
                                    invalidation.area.top == place->y &&
                                    invalidation.area.right == place->x + place->width &&
                                    invalidation.area.bottom == place->y + place->height;
        EXPECT_TRUE(behindLabelRepainted);
        if (site) {
            EXPECT_EQ(RequestsSoFar(*site),
                      (std::vector<std::string>{kCountTarget, kNoticeTarget}));
        }
        if (server) {
            EXPECT_EQ(server->Requests().size(), 2u);
        }
    }
}

TEST_F(PlayerTest, UpdateCheckComparesVersionsAndOffersTheDownloadPage) {
    enum class Reply { Site, Scripted, Down };
    const std::string failed = "检测更新失败，请检查网络连接!";
    const std::string upToDate = "当前是最新版本!";
    const std::string newer = "有新版本 是否升级?";
    const std::string download = kRoot + "video/player/?flv=download";
    const std::string version = VELMORA_VERSION;
    struct Box {
        int answer;
        std::string text;
        bool owned; // by the main window
        UINT style;
    };
    const Box isUpToDate{IDOK, upToDate, false, kOkBox}, hasFailed{IDOK, failed, false, kOkBox},
        newerYes{IDYES, newer, true, kYesNoBox}, newerNo{IDNO, newer, true, kYesNoBox};
    struct Case {
        const char* how;
        Reply reply;
        std::string latest; // --version of the site, or the scripted body
        int status;         // of the scripted reply
        std::string stored; // Version before the start
        Box box;
        std::vector<std::string> opened;
    } cases[] = {
        {"same version", Reply::Site, version, 200, version, isUpToDate, {}},
        // The start records the running version, so an upgrade is never offered again.
        {"after an upgrade", Reply::Site, version, 200, "0.9", isUpToDate, {}},
        {"trailing line break", Reply::Scripted, version + "\r\n", 200, version, isUpToDate, {}},
        {"blanks around", Reply::Scripted, " \t" + version + " \n", 200, version, isUpToDate, {}},
        {"newer, yes", Reply::Site, "99.0", 200, version, newerYes, {download}},
        {"newer, no", Reply::Site, "99.0", 200, version, newerNo, {}},
        {"site down", Reply::Down, "", 0, version, hasFailed, {}},
        {"404", Reply::Scripted, version, 404, version, hasFailed, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        WriteIni(Ini(), {{"Once", "1"}, {"List", "3"}, {"Last", "1"}, {"Version", c.stored}});
        std::unique_ptr<SiteProcess> site;
        std::unique_ptr<LoopbackHttpServer> server;
        if (c.reply == Reply::Site)
            site = std::make_unique<SiteProcess>(
                std::vector<std::string>{"--latest-version", c.latest}, kHost, kPort);
        if (c.reply == Reply::Scripted) {
            server = std::make_unique<LoopbackHttpServer>(kHost, kPort);
            server->Route(kVersionTarget, ScriptedReply::Body(c.latest, c.status));
        }
        PlayerRun run;
        HWND mainWindow = nullptr;
        std::optional<bool> ownerEnabled;
        run.onMessageBox = [&](const MessageBoxRequest&) {
            ownerEnabled = IsWindowEnabled(hMainWnd) != FALSE;
            return c.box.answer;
        };
        run.steps = {[&](HeadlessBackend&) {
                         mainWindow = hMainWnd;
                         input::Click(hUpdateButton);
                     },
                     [&](HeadlessBackend&) {
                         EXPECT_TRUE(IsWindowEnabled(hMainWnd)) << "still disabled after the box";
                     }};
        EXPECT_EQ(run.Run(), 0);
        ASSERT_EQ(run.messageBoxes.size(), 1u);
        const MessageBoxRequest& box = run.messageBoxes[0];
        EXPECT_EQ(box.text, c.box.text);
        EXPECT_EQ(box.caption, "提示");
        EXPECT_EQ(box.style, c.box.style);
        EXPECT_EQ(box.owner, c.box.owned ? mainWindow : nullptr);
        EXPECT_EQ(ownerEnabled, !c.box.owned) << "an owned box disables the main window";
        EXPECT_EQ(run.openedInBrowser, c.opened);
        if (!c.opened.empty()) {
            EXPECT_EQ(run.openedInBrowserOwners, std::vector<HWND>{mainWindow});
        }
        EXPECT_EQ(Value("Version"), version) << "the check never writes Version";
        if (site) {
            EXPECT_EQ(RequestsSoFar(*site), std::vector<std::string>{kVersionTarget});
        }
        if (server) {
            EXPECT_EQ(server->Requests().size(), 1u);
        }
    }
}

TEST_F(PlayerTest, TopMostBoxFollowsTheStoredChoice) {
    struct State {
        const char* top;
        bool pinned;
        int check;
    };
    struct Case {
        const char* top;
        State atStart;
        std::vector<State> afterClicks;
    } cases[] = {
        {"1", {"1", true, BST_CHECKED}, {{"0", false, BST_UNCHECKED}, {"1", true, BST_CHECKED}}},
        {"7", {"7", false, BST_UNCHECKED}, {{"1", true, BST_CHECKED}}},
        {"0", {"0", false, BST_UNCHECKED}, {{"1", true, BST_CHECKED}, {"0", false, BST_UNCHECKED}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("Top=") + c.top);
        WriteIni(Ini(), {{"Once", "1"}, {"List", "3"}, {"Last", "1"}, {"Top", c.top}});
        PlayerRun run;
        struct Seen {
            std::string top;
            bool pinned;
            int check;
        };
        std::vector<Seen> seen;
        auto look = [&](HeadlessBackend&) {
            seen.push_back({Value("Top").value_or("absent"), Pinned(), CheckMark()});
        };
        run.steps.push_back(look);
        for (size_t i = 0; i < c.afterClicks.size(); ++i) {
            run.steps.push_back([](HeadlessBackend&) { input::Click(hTopMostBox); });
            run.steps.push_back(look);
        }
        EXPECT_EQ(run.Run(), 0);
        std::vector<State> expected = {c.atStart};
        expected.insert(expected.end(), c.afterClicks.begin(), c.afterClicks.end());
        ASSERT_EQ(seen.size(), expected.size());
        for (size_t i = 0; i < seen.size(); ++i) {
            SCOPED_TRACE("look " + std::to_string(i));
            EXPECT_EQ(seen[i].top, expected[i].top);
            EXPECT_EQ(seen[i].pinned, expected[i].pinned);
            EXPECT_EQ(seen[i].check, expected[i].check);
        }
        EXPECT_TRUE(run.messageBoxes.empty());
    }
}

TEST_F(PlayerTest, VisitMainSiteOpensTheSiteInTheUsersBrowser) {
    WriteIni(Ini(), {{"Once", "1"}, {"List", "3"}, {"Last", "1"}});
    PlayerRun run;
    HWND mainWindow = nullptr;
    run.steps = {[&](HeadlessBackend&) {
        mainWindow = hMainWnd;
        input::Click(hSiteButton);
    }};
    EXPECT_EQ(run.Run(), 0);
    EXPECT_EQ(run.openedInBrowser, std::vector<std::string>{kRoot});
    EXPECT_EQ(run.openedInBrowserOwners, std::vector<HWND>{mainWindow});
    EXPECT_TRUE(run.messageBoxes.empty());
    EXPECT_EQ(run.navigations.size(), 1u) << "the embedded browser stays on the start page";
}

TEST_F(PlayerTest, ClicksOnTheStatusBarAndTheLabelDoNothing) {
    // Each is delivered as the control's click and as the command a control with its id
    // would send.
    struct Target {
        const char* name;
        HWND* control;
        int id;
    } targets[] = {
        {"status bar", &hStatusBar, IDC_STATUSBAR},
        {"label", &hNoticeLabel, 0},
        {"unknown id", &hNoticeLabel, 1999},
    };
    for (const Target& t : targets) {
        SCOPED_TRACE(t.name);
        WriteIni(Ini(), {{"Version", VELMORA_VERSION},
                         {"Once", "1"},
                         {"List", "3"},
                         {"Last", "2"},
                         {"Top", "0"}});
        const std::string fileBefore = ReadFileBytes(Ini());
        PlayerRun run;
        std::string title, label, status;
        int selection = -2;
        bool pinned = true;
        LRESULT result = -1;
        run.steps = {[&](HeadlessBackend&) { input::Click(*t.control); },
                     [&](HeadlessBackend&) {
                         result = SendMessageW(hMainWnd, WM_COMMAND, MAKEWPARAM(t.id, BN_CLICKED),
                                               (LPARAM)*t.control);
                     },
                     [&](HeadlessBackend&) {
                         title = WindowText(hMainWnd);
                         label = WindowText(hNoticeLabel);
                         status = WindowText(hStatusBar);
                         selection = ListSelection(hEpisodeList);
                         pinned = Pinned();
                     }};
        EXPECT_EQ(run.Run(), 0);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(title, kStartTitle);
        EXPECT_EQ(label, "");
        EXPECT_EQ(status, Utf8(DefaultNotice));
        EXPECT_EQ(selection, 1);
        EXPECT_FALSE(pinned);
        EXPECT_TRUE(run.messageBoxes.empty());
        EXPECT_TRUE(run.openedInBrowser.empty());
        EXPECT_EQ(run.navigations.size(), 1u);
        EXPECT_EQ(ReadFileBytes(Ini()), fileBefore);
    }
}

} // namespace
