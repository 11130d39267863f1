// The program's child-window table as the desktop tests read it, one control a line: its
// text, the middle of its place in the client area (x, y), its top, and "tab" when Tab stops
// on it, tab-separated.
// With "title VERSION": the main window's start title for that version, as the program
// formats it; with "notice": the built-in notice, the first run's CopyRight; with "client":
// the main window's client size ("W H"), as the platform frames the program's window size.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "TestText.h"
#include "backends/headless/HeadlessBackend.h"
#include "ui/MainWindow.h"

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "title") == 0) {
        WCHAR title[TEXT_CAPACITY];
        wsprintfW(title, StartTitle, velmora::test::Wide(argv[2]).get());
        printf("%s\n", velmora::test::Utf8(title).c_str());
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "notice") == 0) {
        printf("%s\n", velmora::test::Utf8(DefaultNotice).c_str());
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "client") == 0) {
        velmora::platform::HeadlessBackend backend;
        HWND window =
            CreateWindowExW(0, L"STATIC", L"", WS_CAPTION | WS_SYSMENU, 0, 0, MainWindowWidth,
                            MainWindowHeight, nullptr, nullptr, nullptr, nullptr);
        RECT client = {};
        if (!window || !GetClientRect(window, &client))
            return 1;
        printf("%ld %ld\n", (long)client.right, (long)client.bottom);
        return 0;
    }
    for (int i = 0; i < ChildWindowCount; ++i) {
        const ChildWindow& child = ChildWindows[i];
        printf("%s\t%d\t%d\t%d\t%s\n", velmora::test::Utf8(child.text).c_str(),
               child.x + child.width / 2, child.y + child.height / 2, child.y,
               (child.style & WS_TABSTOP) ? "tab" : "");
    }
    return 0;
}
