// The Linux user32 (with comctl32, ole32, atl and shell32) keeps the window behaviour Windows
// has: built-in controls, notifications, creation and destruction, the queue, z-order,
// message boxes.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "TestText.h"
#include "backends/headless/HeadlessBackend.h"

namespace {

using namespace velmora::platform;
using namespace velmora::test;

// Every message a window of the test class received, in order.
struct Received {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Received>* journal = nullptr;
// What the test class's WM_CREATE answers.
LRESULT createResult = 0;
// Set while WM_CREATE runs: what the window looked like from inside its own creation.
struct CreateView {
    bool isWindow = false;
    std::string text;
    int cx = 0, cy = 0;
    HWND parent = nullptr;
    void* param = nullptr;
};
std::optional<CreateView> createView;
// Set when a command arrives: the check state the sender had at that moment.
std::optional<LRESULT> checkAtNotify;
bool handleCloseItself = false;
// A window of the test class that calls DestroyWindow on itself when it hears WM_DESTROY.
bool destroySelfOnDestroy = false;
// Set: a button's command opens a message box owned by this window (or by none), as the
// update check does; its answers are kept in order of return.
std::optional<HWND> boxOnCommand;
std::vector<int> boxAnswers;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (journal)
        journal->push_back({window, message, wParam, lParam});
    switch (message) {
    case WM_CREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        WCHAR text[64] = {};
        GetWindowTextW(window, text, 64);
        createView = CreateView{
            IsWindow(window) != FALSE, Utf8(text), create->cx, create->cy, create->hwndParent,
            create->lpCreateParams};
        return createResult;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && lParam)
            checkAtNotify = SendMessageW((HWND)lParam, BM_GETCHECK, 0, 0);
        if (boxOnCommand)
            boxAnswers.push_back(MessageBoxW(*boxOnCommand, L"当前已是最新版本", L"提示", MB_OK));
        return 0;
    case WM_CLOSE:
        if (handleCloseItself)
            return 0;
        break;
    case WM_DESTROY:
        if (destroySelfOnDestroy) {
            EXPECT_TRUE(DestroyWindow(window)) << "a window already being destroyed";
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class User32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        journal = &received_;
        createResult = 0;
        createView.reset();
        checkAtNotify.reset();
        handleCloseItself = false;
        destroySelfOnDestroy = false;
        boxOnCommand.reset();
        boxAnswers.clear();
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = RecordingProc;
        windowClass.lpszClassName = L"User32Test";
        ASSERT_NE(RegisterClassExW(&windowClass), 0);
    }
    void TearDown() override { journal = nullptr; }

    HWND TopLevel(DWORD style = WS_CAPTION | WS_SYSMENU, int width = 770, int height = 615) {
        return CreateWindowExW(0, L"User32Test", L"main", style, CW_USEDEFAULT, CW_USEDEFAULT,
                               width, height, nullptr, nullptr, nullptr, nullptr);
    }
    HWND Child(HWND parent, LPCWSTR className, DWORD style, int id, LPCWSTR text = L"") {
        return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 100, 20,
                               parent, (HMENU)(INT_PTR)id, nullptr, nullptr);
    }
    // The WM_COMMAND messages the given window received, as (id, code, sender).
    std::vector<std::tuple<int, int, HWND>> Commands(HWND to) const {
        std::vector<std::tuple<int, int, HWND>> commands;
        for (const Received& r : received_)
            if (r.window == to && r.message == WM_COMMAND)
                commands.emplace_back(LOWORD(r.wParam), HIWORD(r.wParam), (HWND)r.lParam);
        return commands;
    }
    // Dispatches what input queued, as the message loop would.
    void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }

    HeadlessBackend backend_;
    std::vector<Received> received_;
};

std::string ItemText(HWND list, int row) {
    WCHAR text[64] = {};
    LRESULT length = SendMessageW(list, LB_GETTEXT, (WPARAM)row, (LPARAM)text);
    return length == LB_ERR ? "<LB_ERR>" : Utf8(text);
}

TEST_F(User32Test, ListBoxMessages) {
    HWND parent = TopLevel();
    HWND list = Child(parent, L"LISTBOX", WS_VSCROLL | LBS_NOTIFY, 1001);
    ASSERT_NE(list, nullptr);
    struct Step {
        const char* what;
        UINT message;
        WPARAM wParam;
        const char* text; // LB_ADDSTRING's row
        LRESULT result;
        LRESULT count;
        LRESULT selection;
    } steps[] = {
        {"empty list has no selection", LB_GETCURSEL, 0, nullptr, LB_ERR, 0, LB_ERR},
        {"select in an empty list", LB_SETCURSEL, 0, nullptr, LB_ERR, 0, LB_ERR},
        {"add", LB_ADDSTRING, 0, "Tessavo第002集", 0, 1, LB_ERR},
        {"add keeps order (unsorted)", LB_ADDSTRING, 0, "Tessavo第001集", 1, 2, LB_ERR},
        {"add a third", LB_ADDSTRING, 0, "c", 2, 3, LB_ERR},
        {"select the second", LB_SETCURSEL, 1, nullptr, 1, 3, 1},
        {"beyond the end clears", LB_SETCURSEL, 3, nullptr, LB_ERR, 3, LB_ERR},
        {"select the last", LB_SETCURSEL, 2, nullptr, 2, 3, 2},
        {"-1 clears", LB_SETCURSEL, (WPARAM)-1, nullptr, LB_ERR, 3, LB_ERR},
        {"select the first", LB_SETCURSEL, 0, nullptr, 0, 3, 0},
        {"far beyond clears", LB_SETCURSEL, 100000, nullptr, LB_ERR, 3, LB_ERR},
        {"select again", LB_SETCURSEL, 2, nullptr, 2, 3, 2},
        {"reset empties and clears", LB_RESETCONTENT, 0, nullptr, TRUE, 0, LB_ERR},
        {"add after reset", LB_ADDSTRING, 0, "x", 0, 1, LB_ERR},
    };
    std::vector<std::string> rows;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        std::optional<Wide> text;
        if (s.text)
            text.emplace(s.text);
        LRESULT result = SendMessageW(list, s.message, s.wParam, text ? (LPARAM)text->get() : 0);
        EXPECT_EQ(result, s.result);
        EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), s.count);
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), s.selection);
        if (s.message == LB_RESETCONTENT)
            rows.clear();
        if (s.text)
            rows.push_back(s.text);
        for (size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(ItemText(list, (int)i), rows[i]);
        EXPECT_EQ(ItemText(list, (int)rows.size()), "<LB_ERR>");
        EXPECT_EQ(ItemText(list, -1), "<LB_ERR>");
    }
    // LB_GETTEXT answers the length of the copied row, without the terminator.
    WCHAR row[8] = {};
    EXPECT_EQ(SendMessageW(list, LB_GETTEXT, 0, (LPARAM)row), 1);
    EXPECT_TRUE(Commands(parent).empty()) << "messages from the program notify nobody";
}

TEST_F(User32Test, ListBoxNotifiesItsParentOfUserInput) {
    struct Case {
        const char* what;
        DWORD style;
        int selectedBefore;
        bool doubleClick;
        int row;
        std::vector<int> codes;
        int selectedAfter;
    } cases[] = {
        {"click", LBS_NOTIFY, -1, false, 1, {LBN_SELCHANGE}, 1},
        {"click another row", LBS_NOTIFY, 0, false, 2, {LBN_SELCHANGE}, 2},
        {"double-click", LBS_NOTIFY, -1, true, 1, {LBN_SELCHANGE, LBN_DBLCLK}, 1},
        {"double-click the selected row", LBS_NOTIFY, 1, true, 1, {LBN_DBLCLK}, 1},
        {"click without LBS_NOTIFY", 0, -1, false, 1, {}, 1},
        {"double-click without LBS_NOTIFY", 0, -1, true, 1, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        received_.clear();
        HWND parent = TopLevel();
        HWND list = Child(parent, L"LISTBOX", c.style, 1001);
        for (const char* row : {"a", "b", "c"})
            SendMessageW(list, LB_ADDSTRING, 0, (LPARAM)Wide(row).get());
        SendMessageW(list, LB_SETCURSEL, (WPARAM)c.selectedBefore, 0);
        if (c.doubleClick)
            input::ListDoubleClick(list, c.row);
        else
            input::ListSelect(list, c.row);
        EXPECT_TRUE(Commands(parent).empty()) << "input is queued, not delivered at once";
        Pump();
        std::vector<std::tuple<int, int, HWND>> expected;
        for (int code : c.codes)
            expected.emplace_back(1001, code, list);
        EXPECT_EQ(Commands(parent), expected);
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), c.selectedAfter);
        DestroyWindow(parent);
    }
}

TEST_F(User32Test, ButtonsNotifyAndAutomaticCheckBoxesFlipFirst) {
    struct Case {
        const char* what;
        DWORD style;
        int checkBefore;
        LRESULT checkSeenByParent;
        LRESULT checkAfter;
    } cases[] = {
        {"push button", BS_PUSHBUTTON, BST_UNCHECKED, BST_UNCHECKED, BST_UNCHECKED},
        {"auto check box, unchecked", BS_AUTOCHECKBOX, BST_UNCHECKED, BST_CHECKED, BST_CHECKED},
        {"auto check box, checked", BS_AUTOCHECKBOX, BST_CHECKED, BST_UNCHECKED, BST_UNCHECKED},
        {"plain check box leaves its mark", BS_CHECKBOX, BST_UNCHECKED, BST_UNCHECKED,
         BST_UNCHECKED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        received_.clear();
        checkAtNotify.reset();
        HWND parent = TopLevel();
        HWND button = Child(parent, L"Button", c.style, 1005, L"置顶");
        EXPECT_EQ(SendMessageW(button, BM_GETCHECK, 0, 0), BST_UNCHECKED) << "a new button";
        SendMessageW(button, BM_SETCHECK, (WPARAM)c.checkBefore, 0);
        EXPECT_EQ(SendMessageW(button, BM_GETCHECK, 0, 0), c.checkBefore);
        EXPECT_TRUE(Commands(parent).empty()) << "BM_SETCHECK notifies nobody";
        input::Click(button);
        Pump();
        EXPECT_EQ(Commands(parent),
                  (std::vector<std::tuple<int, int, HWND>>{{1005, BN_CLICKED, button}}));
        EXPECT_EQ(checkAtNotify, c.checkSeenByParent);
        EXPECT_EQ(SendMessageW(button, BM_GETCHECK, 0, 0), c.checkAfter);
        DestroyWindow(parent);
    }
}

TEST_F(User32Test, CreationSendsWmCreateBeforeReturning) {
    int param = 0;
    HWND window = CreateWindowExW(0, L"User32Test", L"title", WS_CAPTION | WS_SYSMENU, 5, 6, 300,
                                  200, nullptr, nullptr, nullptr, &param);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(createView.has_value());
    EXPECT_TRUE(createView->isWindow);
    EXPECT_EQ(createView->text, "title");
    EXPECT_EQ(createView->cx, 300);
    EXPECT_EQ(createView->cy, 200);
    EXPECT_EQ(createView->parent, nullptr);
    EXPECT_EQ(createView->param, &param);
    std::vector<UINT> first;
    for (const Received& r : received_)
        if (r.window == window && first.size() < 2)
            first.push_back(r.message);
    EXPECT_EQ(first, (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));

    // WM_CREATE answering -1 refuses the window.
    createResult = -1;
    received_.clear();
    EXPECT_EQ(CreateWindowExW(0, L"User32Test", L"refused", WS_CAPTION, 0, 0, 10, 10, nullptr,
                              nullptr, nullptr, nullptr),
              nullptr);
    ASSERT_FALSE(received_.empty());
    EXPECT_FALSE(IsWindow(received_.front().window));
}

TEST_F(User32Test, CloseDestroysTheWindowParentFirst) {
    struct Case {
        const char* what;
        bool viaInput; // the close box rather than a WM_CLOSE sent by the program
        bool handledByProgram;
    } cases[] = {
        {"WM_CLOSE to DefWindowProcW", false, false},
        {"close box", true, false},
        {"program keeps the window", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HWND parent = TopLevel();
        HWND first = Child(parent, L"User32Test", 0, 1);
        HWND second = Child(parent, L"User32Test", 0, 2);
        HWND button = Child(parent, L"Button", 0, 3);
        received_.clear();
        handleCloseItself = c.handledByProgram;
        if (c.viaInput) {
            input::Close(parent);
            Pump();
        } else {
            SendMessageW(parent, WM_CLOSE, 0, 0);
        }
        std::vector<std::pair<UINT, HWND>> teardown;
        for (const Received& r : received_)
            if (r.message == WM_DESTROY || r.message == WM_NCDESTROY)
                teardown.emplace_back(r.message, r.window);
        if (c.handledByProgram) {
            EXPECT_TRUE(teardown.empty());
            EXPECT_TRUE(IsWindow(parent));
            EXPECT_TRUE(IsWindow(button));
            handleCloseItself = false;
            DestroyWindow(parent);
        } else {
            // Every WM_DESTROY, parents first, then every WM_NCDESTROY, children first.
            EXPECT_EQ(teardown, (std::vector<std::pair<UINT, HWND>>{{WM_DESTROY, parent},
                                                                    {WM_DESTROY, first},
                                                                    {WM_DESTROY, second},
                                                                    {WM_NCDESTROY, first},
                                                                    {WM_NCDESTROY, second},
                                                                    {WM_NCDESTROY, parent}}));
        }
        EXPECT_FALSE(IsWindow(parent));
        EXPECT_FALSE(IsWindow(first));
        EXPECT_FALSE(IsWindow(second));
        EXPECT_FALSE(IsWindow(button));
    }
}

TEST_F(User32Test, PostedMessagesComeInOrderAndQuitComesLast) {
    HWND window = TopLevel();
    ASSERT_TRUE(PostMessageW(window, WM_USER + 1, 1, 0));
    ASSERT_TRUE(PostMessageW(nullptr, WM_USER + 2, 2, 0)); // a thread message
    ASSERT_TRUE(PostMessageW(window, WM_USER + 3, 3, 0));
    PostQuitMessage(7);
    ASSERT_TRUE(PostMessageW(window, WM_USER + 4, 4, 0));
    EXPECT_FALSE(PostMessageW((HWND)0x7777, WM_USER, 0, 0)) << "not a window";

    struct Expected {
        BOOL result;
        HWND window;
        UINT message;
        WPARAM wParam;
    } expected[] = {
        {TRUE, window, WM_USER + 1, 1}, {TRUE, nullptr, WM_USER + 2, 2},
        {TRUE, window, WM_USER + 3, 3}, {TRUE, window, WM_USER + 4, 4},
        {FALSE, nullptr, WM_QUIT, 7},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.message);
        MSG message = {};
        EXPECT_EQ(GetMessageW(&message, nullptr, 0, 0), e.result);
        EXPECT_EQ(message.hwnd, e.window);
        EXPECT_EQ(message.message, e.message);
        EXPECT_EQ(message.wParam, e.wParam);
    }
    MSG left;
    EXPECT_FALSE(PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) << "the quit was taken once";
    // Posting delivers nothing until the loop dispatches.
    received_.clear();
    PostMessageW(window, WM_USER + 5, 0, 0);
    EXPECT_TRUE(received_.empty());
    Pump();
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0].message, (UINT)WM_USER + 5);
}

TEST_F(User32Test, SetWindowPosChangesTheTopMostStateOnly) {
    HWND window = TopLevel();
    HWND child = Child(window, L"Button", 0, 1);
    const auto* record = FindWindowRecord(window);
    ASSERT_NE(record, nullptr);
    const int x = record->x, y = record->y;
    struct Step {
        HWND insertAfter;
        bool topMost;
    } steps[] = {
        {HWND_TOPMOST, true}, {HWND_TOPMOST, true},    {HWND_NOTOPMOST, false},
        {HWND_TOPMOST, true}, {HWND_NOTOPMOST, false},
    };
    for (const Step& s : steps) {
        EXPECT_TRUE(SetWindowPos(window, s.insertAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
        EXPECT_EQ(record->topMost(), s.topMost);
        EXPECT_EQ((record->exStyle & WS_EX_TOPMOST) != 0, s.topMost);
        EXPECT_EQ(record->x, x);
        EXPECT_EQ(record->y, y);
        EXPECT_EQ(record->width, 770);
        EXPECT_EQ(record->height, 615);
    }
    ASSERT_EQ(backend_.topMostChanges.size(), std::size(steps));
    for (size_t i = 0; i < std::size(steps); ++i) {
        EXPECT_EQ(backend_.topMostChanges[i].window, window);
        EXPECT_EQ(backend_.topMostChanges[i].topMost, steps[i].topMost);
    }
    // Only top-level windows can be topmost.
    SetWindowPos(child, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_FALSE(FindWindowRecord(child)->topMost());
    EXPECT_FALSE(SetWindowPos((HWND)0x7777, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
}

TEST_F(User32Test, MessageBoxDisablesOnlyItsOwnerWhileShown) {
    struct Case {
        const char* what;
        bool owned;
        bool ownerDisabledBefore;
        UINT style;
        int answer;
        bool enabledDuring;
        bool enabledAfter;
    } cases[] = {
        {"owned", true, false, MB_YESNO | MB_ICONINFORMATION | MB_TOPMOST, IDYES, false, true},
        {"unowned", false, false, MB_OK | MB_ICONINFORMATION | MB_TOPMOST, IDOK, true, true},
        {"owner already disabled", true, true, MB_OK, IDOK, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HWND window = TopLevel();
        if (c.ownerDisabledBefore)
            EnableWindow(window, FALSE);
        std::optional<bool> enabledDuring;
        backend_.messageBoxes.clear();
        backend_.onMessageBox = [&](const MessageBoxRequest&) {
            enabledDuring = IsWindowEnabled(window) != FALSE;
            return c.answer;
        };
        EXPECT_EQ(MessageBoxW(c.owned ? window : nullptr, L"有新版本 是否升级?", L"提示", c.style),
                  c.answer);
        EXPECT_EQ(enabledDuring, c.enabledDuring);
        EXPECT_EQ(IsWindowEnabled(window) != FALSE, c.enabledAfter);
        ASSERT_EQ(backend_.messageBoxes.size(), 1u);
        EXPECT_EQ(backend_.messageBoxes[0].owner, c.owned ? window : nullptr);
        EXPECT_EQ(backend_.messageBoxes[0].text, "有新版本 是否升级?");
        EXPECT_EQ(backend_.messageBoxes[0].caption, "提示");
        EXPECT_EQ(backend_.messageBoxes[0].style, c.style);
        DestroyWindow(window);
    }
    // Without an answer from the test, yes/no boxes say no and the others OK.
    backend_.onMessageBox = nullptr;
    EXPECT_EQ(MessageBoxW(nullptr, L"q", L"c", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxW(nullptr, L"q", L"c", MB_OK), IDOK);
}

// An unowned box leaves the window working, so a second box can open under it. Answering
// the outer one first takes it off the screen at once; each call returns when its own box
// is answered, innermost first.
TEST_F(User32Test, NestedMessageBoxesLeaveTheScreenWhenAnswered) {
    HWND window = TopLevel();
    HWND button = Child(window, L"Button", 0, 7, L"检测更新");
    boxOnCommand = nullptr;
    backend_.onMessageBox = [](const MessageBoxRequest&) { return 0; }; // not answered yet
    std::vector<size_t> onScreen;
    int step = 0;
    backend_.onIdle = [&] {
        switch (step++) {
        case 0:
            input::Click(button);
            return true;
        case 1:
            onScreen.push_back(backend_.openBoxes.size());
            backend_.Answer(*backend_.openBoxes.front(), IDOK);
            onScreen.push_back(backend_.openBoxes.size());
            return true;
        case 2:
            backend_.Answer(*backend_.openBoxes.front(), IDOK);
            return true;
        default:
            return false;
        }
    };
    input::Click(button);
    Pump();
    EXPECT_EQ(onScreen, (std::vector<size_t>{2, 1}));
    EXPECT_TRUE(backend_.openBoxes.empty());
    EXPECT_EQ(boxAnswers, (std::vector<int>{IDOK, IDOK}));
    backend_.onIdle = nullptr;
    DestroyWindow(window);
}

// Windows checks whether a window takes input when the input is retrieved: a second click
// queued before the first one's owned box opened never reaches the disabled window.
TEST_F(User32Test, InputQueuedBeforeAnOwnedBoxOpensIsDropped) {
    HWND window = TopLevel();
    HWND button = Child(window, L"Button", 0, 7, L"检测更新");
    boxOnCommand = window;
    backend_.onMessageBox = [](const MessageBoxRequest&) { return 0; };
    backend_.onIdle = [&] {
        if (backend_.openBoxes.empty())
            return false;
        backend_.Answer(*backend_.openBoxes.back(), IDOK);
        return true;
    };
    input::Click(button);
    input::Click(button);
    Pump();
    EXPECT_EQ(Commands(window).size(), 1u);
    EXPECT_EQ(backend_.messageBoxes.size(), 1u);
    EXPECT_TRUE(IsWindowEnabled(window));
    backend_.onIdle = nullptr;
    DestroyWindow(window);
}

TEST_F(User32Test, ClientAreaExcludesCaptionAndFrame) {
    struct Case {
        const char* what;
        bool child;
        DWORD style;
        int width, height;
        LONG clientWidth, clientHeight;
    } cases[] = {
        // The classic metrics: a 3-pixel fixed frame and a 23-pixel caption (with its line).
        {"main window", false, WS_CAPTION | WS_SYSMENU, 770, 615, 764, 586},
        {"no caption", false, WS_POPUP, 200, 100, 200, 100},
        {"child", true, WS_CHILD, 120, 500, 120, 500},
    };
    HWND parent = TopLevel();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HWND window = CreateWindowExW(0, L"User32Test", L"", c.style, 0, 0, c.width, c.height,
                                      c.child ? parent : nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        RECT client = {-1, -1, -1, -1};
        ASSERT_TRUE(GetClientRect(window, &client));
        EXPECT_EQ(client.left, 0);
        EXPECT_EQ(client.top, 0);
        EXPECT_EQ(client.right, c.clientWidth);
        EXPECT_EQ(client.bottom, c.clientHeight);
    }
}

// "open" hands whatever it names to the backend, as Windows tries to open whatever it names:
// the headless record shows a test what the program would start on Windows.
TEST_F(User32Test, ShellExecuteOpensEveryAddressWithTheOpenVerb) {
    struct Case {
        const char* verb; // nullptr: the default verb
        const char* file;
        bool browserOpens;
        bool opened;
        bool succeeds;
    } cases[] = {
        {"open", "http://127.0.0.1:8848/", true, true, true},
        {"open", "https://127.0.0.1/video/player/?flv=download", true, true, true},
        {nullptr, "http://127.0.0.1/", true, true, true},
        {"edit", "http://127.0.0.1/", true, false, false},
        {"print", "http://127.0.0.1/", true, false, false},
        {"open", "C:\\Config.ini", true, true, true},
        {"open", "ftp://127.0.0.1/", true, true, true},
        {"open", "http://127.0.0.1/", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.verb ? c.verb : "(default)") + " " + c.file);
        backend_.openedInBrowser.clear();
        backend_.browserOpenSucceeds = c.browserOpens;
        std::optional<Wide> verb;
        if (c.verb)
            verb.emplace(c.verb);
        HINSTANCE result = ShellExecuteW(nullptr, verb ? verb->get() : nullptr, Wide(c.file),
                                         nullptr, nullptr, SW_SHOWNORMAL);
        EXPECT_EQ((INT_PTR)result > 32, c.succeeds) << (INT_PTR)result;
        EXPECT_EQ(backend_.openedInBrowser,
                  c.opened ? std::vector<std::string>{c.file} : std::vector<std::string>{});
    }
}

TEST_F(User32Test, BstrKnowsItsLength) {
    for (const char* text : {"", "a", "http://127.0.0.1:8848/video/player/?flv=12", "第12集"}) {
        SCOPED_TRACE(text);
        Wide wide(text);
        BSTR copy = SysAllocString(wide);
        ASSERT_NE(copy, nullptr);
        EXPECT_NE((const WCHAR*)copy, wide.get());
        EXPECT_EQ(SysStringLen(copy), (UINT)lstrlenW(wide));
        EXPECT_EQ(Utf8(copy), text);
        SysFreeString(copy);
    }
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST_F(User32Test, RegisteringAClassTwiceFails) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.style = CS_DBLCLKS;
    for (const char* name : {"User32Test", "USER32TEST", "user32test"}) {
        SCOPED_TRACE(name);
        Wide wide(name);
        windowClass.lpszClassName = wide;
        SetLastError(0);
        EXPECT_EQ(RegisterClassExW(&windowClass), 0);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_ALREADY_EXISTS);
    }
    windowClass.lpszClassName = L"VelmoraPlayer";
    EXPECT_NE(RegisterClassExW(&windowClass), 0);
    EXPECT_EQ(RegisterClassExW(&windowClass), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_ALREADY_EXISTS);
    windowClass.cbSize = 0;
    windowClass.lpszClassName = L"Other";
    EXPECT_EQ(RegisterClassExW(&windowClass), 0) << "cbSize is checked";
}

} // namespace

TEST_F(User32Test, DestroyWindowFromWithinWmDestroyIsHarmless) {
    struct Case {
        const char* what;
        bool destroyChild; // destroy the child alone rather than the whole tree
    } cases[] = {{"whole tree", false}, {"child alone", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HWND parent = TopLevel();
        HWND child = Child(parent, L"User32Test", 0, 1);
        HWND sibling = Child(parent, L"Button", 0, 2);
        destroySelfOnDestroy = true;
        EXPECT_TRUE(DestroyWindow(c.destroyChild ? child : parent));
        destroySelfOnDestroy = false;
        EXPECT_FALSE(IsWindow(child));
        EXPECT_EQ(IsWindow(parent) != FALSE, c.destroyChild);
        EXPECT_EQ(IsWindow(sibling) != FALSE, c.destroyChild);
        DestroyWindow(parent);
    }
}

TEST_F(User32Test, InputToADisabledWindowOrItsControlsIsDropped) {
    HWND parent = TopLevel();
    HWND button = Child(parent, L"Button", 0, 7, L"go");
    HWND box = Child(parent, L"Button", BS_AUTOCHECKBOX, 8, L"pin");
    HWND list = Child(parent, L"LISTBOX", LBS_NOTIFY, 9);
    SendMessageW(list, LB_ADDSTRING, 0, (LPARAM)L"one");
    struct Case {
        const char* what;
        bool parentEnabled;
        size_t commands;
    } cases[] = {{"enabled", true, 4}, {"owner disabled by a modal box", false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EnableWindow(parent, c.parentEnabled);
        received_.clear();
        SendMessageW(box, BM_SETCHECK, BST_UNCHECKED, 0);
        SendMessageW(list, LB_SETCURSEL, (WPARAM)-1, 0);
        input::Click(button);
        input::Click(box);
        input::ListDoubleClick(list, 0); // LBN_SELCHANGE, then LBN_DBLCLK
        input::Close(parent);
        handleCloseItself = true; // keep the window for the next case
        Pump();
        handleCloseItself = false;
        EXPECT_EQ(Commands(parent).size(), c.commands);
        EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0),
                  c.parentEnabled ? BST_CHECKED : BST_UNCHECKED);
        bool closeHeard = false;
        for (const Received& r : received_)
            closeHeard |= r.window == parent && r.message == WM_CLOSE;
        EXPECT_EQ(closeHeard, c.parentEnabled);
    }
    DestroyWindow(parent);
}
