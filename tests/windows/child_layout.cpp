// The program's child-window table as the desktop tests read it, one control a line: its
// text, the middle of its place in the client area (x, y), then its top, tab-separated.
#include <windows.h>

#include <stdio.h>

#include "TestText.h"
#include "ui/MainWindow.h"

int main() {
    for (int i = 0; i < ChildWindowCount; ++i) {
        const ChildWindow& child = ChildWindows[i];
        printf("%s\t%d\t%d\t%d\n", velmora::test::Utf8(child.text).c_str(),
               child.x + child.width / 2, child.y + child.height / 2, child.y);
    }
    return 0;
}
