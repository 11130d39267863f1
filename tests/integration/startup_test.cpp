// Start-up of the whole program: the window class, the main window and its children, the
// start title and status bar, the settings path, and the end of the run.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "PlayerRun.h"
#include "SiteProcess.h"
#include "TempDir.h"
#include "TestText.h"
#include "settings/Settings.h"
#include "ui/ControlIds.h"
#include "ui/MainWindow.h"

namespace {

using namespace velmora::platform;
using namespace velmora::test;

const std::string kRoot = std::string("http://") + VELMORA_TEST_SITE_HOST + ":" +
                          std::to_string(VELMORA_TEST_SITE_PORT) + "/";
const std::string kStartTitle = velmora::test::MainTitle();
// The title with a stored Title, up to where the Title goes.
const std::string kBeforeTitleText =
    Utf8(StartTitleWithText).substr(0, Utf8(StartTitleWithText).find("%s"));

class StartupTest : public ::testing::Test {
  protected:
    std::string Ini() const { return dir_.File("Config.ini"); }

    TempDir dir_;
    SiteProcess site_{{"--episodes", "220"}, VELMORA_TEST_SITE_HOST, VELMORA_TEST_SITE_PORT};
};

TEST_F(StartupTest, StartTitleAndStatusBarComeFromTitleAndCopyRight) {
    const std::string notice = Utf8(DefaultNotice);
    const std::string longTitle(1500, 't'), longCopyRight(1500, 'c');
    struct Case {
        const char* how;
        bool file;                           // false: no Config.ini
        const char *titleKey, *copyRightKey; // nullptr: no such key
        std::string title;
        std::string statusBar;
        std::string copyRightAfter; // the stored value once the run is over
    } cases[] = {
        {"no settings file", false, nullptr, nullptr, kStartTitle, notice, notice},
        {"Title abc", true, "abc", "c", velmora::test::MainTitle("abc"), "c", "c"},
        {"CopyRight empty", true, "", "", kStartTitle, notice, ""},
        // Texts are read into 1024-character buffers and the title is formatted into one.
        {"long Title and CopyRight", true, longTitle.c_str(), longCopyRight.c_str(),
         kBeforeTitleText + std::string(1023 - velmora::test::Utf16(kBeforeTitleText).size(), 't'),
         std::string(1023, 'c'), longCopyRight},
        {"CopyRight in Chinese", true, nullptr, "问题请找站长", kStartTitle, "问题请找站长",
         "问题请找站长"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        std::filesystem::remove(Ini());
        std::vector<std::pair<std::string, std::string>> file = {
            {"Once", "1"}, {"List", "3"}, {"Last", "1"}};
        if (c.titleKey)
            file.emplace_back("Title", c.titleKey);
        if (c.copyRightKey)
            file.emplace_back("CopyRight", c.copyRightKey);
        if (c.file)
            WriteIni(Ini(), file);
        PlayerRun run;
        std::string title, statusBar;
        bool visible = false;
        run.steps = {[&](HeadlessBackend& backend) {
            EXPECT_TRUE(backend.navigations.size() <= 1) << "an episode was opened";
            visible = IsWindowVisible(hMainWnd);
            title = WindowText(hMainWnd);
            statusBar = WindowText(hStatusBar);
        }};
        EXPECT_EQ(run.Run(), 0);
        EXPECT_EQ(run.stepsRun, 1);
        EXPECT_TRUE(visible);
        EXPECT_EQ(title, c.title);
        EXPECT_EQ(statusBar, c.statusBar);
        EXPECT_EQ(IniValue(Ini(), "CopyRight"), c.copyRightAfter);
    }
}

TEST_F(StartupTest, ClosingTheWindowEndsWinMainWithZero) {
    WriteIni(Ini(), {{"Once", "1"}, {"List", "3"}, {"Last", "1"}});
    PlayerRun run;
    HWND closed = nullptr;
    bool stepAfterClose = false;
    run.steps = {[&](HeadlessBackend&) {
                     closed = hMainWnd;
                     velmora::platform::input::Close(hMainWnd);
                 },
                 [&](HeadlessBackend&) { stepAfterClose = true; }};
    EXPECT_EQ(run.Run(), 0);
    EXPECT_NE(closed, nullptr);
    EXPECT_FALSE(stepAfterClose) << "the message loop went on after the window closed";
    EXPECT_EQ(run.stepsRun, 1);
}

// Makes the working directory a path of exactly length characters below the temporary one.
std::string EnterDirectoryOfLength(const std::string& base, size_t length) {
    std::string path = base;
    while (path.size() < length) {
        size_t left = length - path.size() - 1; // one for the separator
        size_t segment = left > 100 ? 100 : left;
        // Never leave a single character to fill: it would need an empty name.
        if (left > 100 && left - segment < 2)
            segment = left - 2;
        path += "/" + std::string(segment, 'd');
        std::filesystem::create_directory(path);
    }
    std::filesystem::current_path(path);
    return path;
}

TEST_F(StartupTest, SettingsPathFollowsTheWorkingDirectoryOrFallsBackToRelative) {
    struct Case {
        size_t directoryLength;
        bool relative; // whether IniPath must be the relative name
    } cases[] = {
        {248, false}, // 248 + "\Config.ini" = 259 characters: fits with the terminator
        {249, true},
        {300, true},  // longer than the buffer GetCurrentDirectoryW is given
        {1000, true}, // far beyond 260
    };
    ASSERT_LT(dir_.path().size() + 3, 248u) << "TMPDIR too long for this test";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directoryLength);
        std::string directory = EnterDirectoryOfLength(dir_.path(), c.directoryLength);
        ASSERT_EQ(directory.size(), c.directoryLength);
        PlayerRun run;
        std::string title;
        run.steps = {[&](HeadlessBackend&) { title = WindowText(hMainWnd); }};
        EXPECT_EQ(run.Run(), 0);
        std::string expected = c.relative ? ".\\Config.ini" : directory + "\\Config.ini";
        EXPECT_EQ(Utf8(IniPath), expected);
        EXPECT_EQ(title, kStartTitle);
        // The first start wrote its file in the working directory either way.
        std::string file = directory + "/Config.ini";
        EXPECT_EQ(IniKeys(file), (std::vector<std::string>{"Version", "List", "Last", "Top", "Once",
                                                           "Title", "Update", "CopyRight"}));
        EXPECT_EQ(IniValue(file, "List"), "220");
        EXPECT_FALSE(std::filesystem::exists(dir_.File("Config.ini")));
        std::filesystem::current_path(dir_.path());
    }
}

TEST_F(StartupTest, MainWindowHasAFixedSizeAndTheStartTitle) {
    WriteIni(Ini(), {{"Once", "1"}, {"List", "3"}, {"Last", "1"}, {"Top", "0"}});
    PlayerRun run;
    bool checked = false;
    run.steps = {[&](HeadlessBackend&) {
        const Window* window = FindWindowRecord(hMainWnd);
        ASSERT_NE(window, nullptr);
        ASSERT_NE(window->windowClass, nullptr);
        checked = true;
        // The installer finds a running player by its class.
        EXPECT_EQ(Utf8(window->windowClass->name), "VelmoraPlayer");
        EXPECT_EQ(window->windowClass->style, (UINT)CS_DBLCLKS);
        EXPECT_EQ(window->windowClass->procedure, &MainWndProc);
        EXPECT_EQ(window->windowClass->instance, velmora::test::PlayerInstance());
        EXPECT_EQ(window->windowClass->cursor, LoadCursorW(nullptr, IDC_ARROW));
        EXPECT_EQ(window->windowClass->background, (HBRUSH)(COLOR_SCROLLBAR + 1));
        EXPECT_EQ(window->parent, nullptr);
        // A caption and the system menu: no sizing border, no minimise or maximise box.
        EXPECT_EQ(window->style & ~(DWORD)WS_VISIBLE, (DWORD)(WS_CAPTION | WS_SYSMENU));
        EXPECT_TRUE(IsWindowVisible(hMainWnd));
        EXPECT_EQ(window->exStyle, 0u);
        EXPECT_FALSE(window->topMost());
        EXPECT_EQ(window->width, MainWindowWidth);
        EXPECT_EQ(window->height, MainWindowHeight);
    }};
    EXPECT_EQ(run.Run(), 0);
    EXPECT_TRUE(checked);
    ASSERT_FALSE(run.created.empty());
    EXPECT_EQ(run.created[0].className, "VelmoraPlayer");
    EXPECT_EQ(run.created[0].text, kStartTitle);
}

// The children as a user meets them: in the table's order and places, each visible, inside
// the client area and covering no other, with the texts the user reads, the list with a
// scroll bar and double-clicks, 置顶 a check box that ticks itself, the status bar last.
TEST_F(StartupTest, ChildWindowsAreCreatedInOrderWithTheirPlacesAndTexts) {
    // No file: the first start, so the status bar shows the built-in notice.
    const std::string texts[] = {"",
                                 "获取播放列表",
                                 "访问主站",
                                 "检测更新",
                                 "置顶",
                                 kRoot + "video/player/?flv=index",
                                 "Tessavo " + kRoot,
                                 Utf8(DefaultNotice)};
    PlayerRun run;
    std::vector<HWND> handles;
    std::vector<bool> visible;
    RECT client{};
    run.steps = {[&](HeadlessBackend&) {
        for (int i = 0; i < ChildWindowCount; ++i)
            handles.push_back(*ChildWindows[i].handle);
        handles.push_back(hStatusBar);
        for (HWND handle : handles)
            visible.push_back(IsWindowVisible(handle));
        GetClientRect(hMainWnd, &client);
    }};
    EXPECT_EQ(run.Run(), 0);
    ASSERT_FALSE(run.created.empty());
    HWND mainWindow = run.created[0].handle;
    EXPECT_EQ(run.created[0].parent, nullptr);
    std::vector<velmora::test::CreatedWindow> children;
    for (const auto& window : run.created)
        if (window.parent)
            children.push_back(window);
    ASSERT_EQ(children.size(), std::size(texts));
    ASSERT_EQ(ChildWindowCount + 1, (int)children.size())
        << "the table holds all but the status bar";
    for (size_t i = 0; i < children.size(); ++i) {
        const auto& got = children[i];
        SCOPED_TRACE(got.className + " " + texts[i]);
        EXPECT_EQ(got.handle, handles[i]) << "created out of order or kept in the wrong handle";
        EXPECT_TRUE(visible[i]);
        EXPECT_EQ(got.parent, mainWindow);
        EXPECT_EQ(got.text, texts[i]);
        EXPECT_EQ(got.style & (WS_CHILD | WS_VISIBLE), (DWORD)(WS_CHILD | WS_VISIBLE));
        if (i == children.size() - 1) {
            EXPECT_EQ(got.className, "msctls_statusbar32");
            EXPECT_EQ(got.id, IDC_STATUSBAR);
            break; // the status bar places itself
        }
        // Each place is the table's, wherever that puts it, as long as the control lies in
        // the client area and covers no other: the tests that click read it there too.
        const ChildWindow& place = ChildWindows[i];
        EXPECT_EQ(got.className, Utf8(place.className));
        EXPECT_EQ(got.style, place.style);
        EXPECT_EQ(got.exStyle, place.exStyle);
        EXPECT_EQ(got.id, place.id);
        EXPECT_EQ(got.x, place.x);
        EXPECT_EQ(got.y, place.y);
        EXPECT_EQ(got.width, place.width);
        EXPECT_EQ(got.height, place.height);
        EXPECT_TRUE(got.x >= 0 && got.y >= 0 && got.width > 0 && got.height > 0 &&
                    got.x + got.width <= client.right && got.y + got.height <= client.bottom)
            << "outside the client area " << client.right << "x" << client.bottom;
        for (size_t other = 0; other < i; ++other) {
            const auto& earlier = children[other];
            bool apart = got.x >= earlier.x + earlier.width || earlier.x >= got.x + got.width ||
                         got.y >= earlier.y + earlier.height || earlier.y >= got.y + got.height;
            EXPECT_TRUE(apart) << "covers " << earlier.className << " " << earlier.text;
        }
    }
    // The page and the list sit in sunken frames; the list scrolls and reports double-clicks.
    EXPECT_TRUE(children[5].exStyle & WS_EX_CLIENTEDGE);
    EXPECT_EQ(children[0].className, "LISTBOX");
    EXPECT_TRUE(children[0].exStyle & WS_EX_CLIENTEDGE);
    EXPECT_EQ(children[0].style & (WS_VSCROLL | LBS_NOTIFY), (DWORD)(WS_VSCROLL | LBS_NOTIFY));
    EXPECT_EQ(children[0].id, IDC_EPISODES);
    EXPECT_EQ(children[4].style & BS_TYPEMASK, (DWORD)BS_AUTOCHECKBOX);
    // The host loads its own text: the start page, and nothing else at start.
    EXPECT_EQ(run.navigations, std::vector<std::string>{kRoot + "video/player/?flv=index"});
}

} // namespace
