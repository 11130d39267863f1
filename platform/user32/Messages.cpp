// The thread's message queue and the default window procedure.
#include "user32/WindowStore.h"

#include <deque>
#include <optional>
#include <stdio.h>

namespace velmora::platform {
namespace {

struct Posted {
    MSG message;
    bool input;    // from the user: dropped if its window takes no input when retrieved
    bool keyboard; // a key for the top-level window in hwnd: for its focus when retrieved
};

// As on Windows, a key goes to the window that has the focus when the key is taken from
// the queue: a Tab handled before the next key has moved it.
HWND KeyTarget(HWND topLevel) {
    HWND focus = GetFocus();
    return focus && (focus == topLevel || IsChild(topLevel, focus)) ? focus : topLevel;
}

struct Queue {
    std::deque<Posted> posted;
    std::optional<int> quit; // PostQuitMessage's code, until its WM_QUIT is retrieved
};

Queue& TheQueue() {
    static Queue queue;
    return queue;
}

// As on Windows, input for a window that is disabled, or sits in one (a window under a
// modal box), never reaches it: checked when the message is retrieved, so input queued
// before a box opened is dropped too.
bool Reachable(const Posted& entry) {
    if (!entry.input)
        return true;
    Window* window = FindWindowRecord(entry.message.hwnd);
    for (; window && window->enabled(); window = FindWindowRecord(window->parent))
        if (!window->parent)
            return true;
    return false;
}

// Every caller takes the messages in order, of any window and range: there are no filters.
bool TakePosted(MSG* out, bool remove) {
    auto& posted = TheQueue().posted;
    while (!posted.empty() && !Reachable(posted.front()))
        posted.pop_front();
    if (posted.empty())
        return false;
    *out = posted.front().message;
    if (posted.front().keyboard)
        out->hwnd = KeyTarget(out->hwnd);
    if (remove) {
        posted.pop_front();
        NoteKeyRetrieved(*out);
    }
    return true;
}

// Input for a window that is gone is dropped at once.
void Enqueue(HWND handle, UINT message, WPARAM wParam, LPARAM lParam, bool input,
             bool keyboard = false, DWORD time = 0) {
    if (!input || FindWindowRecord(handle))
        TheQueue().posted.push_back({{handle, message, wParam, lParam, time, {}}, input, keyboard});
}

bool TakeQuit(MSG* out, bool remove) {
    std::optional<int>& quit = TheQueue().quit;
    if (!quit)
        return false;
    *out = MSG{nullptr, WM_QUIT, (WPARAM)*quit, 0, 0, {}};
    if (remove)
        quit.reset();
    return true;
}

} // namespace

void ResetQueue() {
    TheQueue() = Queue{};
}

bool DispatchQueuedMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage((int)message.wParam);
            return false;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

namespace input {
void Click(HWND button) {
    Enqueue(button, kInputClick, 0, 0, true);
}
void ListSelect(HWND list, int row) {
    Enqueue(list, kInputListSelect, (WPARAM)row, 0, true);
}
void ListDoubleClick(HWND list, int row) {
    Enqueue(list, kInputListActivate, (WPARAM)row, 0, true);
}
void Close(HWND window) {
    Enqueue(window, WM_SYSCOMMAND, SC_CLOSE, 0, true);
}
void Key(HWND topLevel, UINT key, bool down, DWORD time) {
    // One press, no repeat; a release also says the key was down before.
    LPARAM flags = down ? 1 : (LPARAM)0xC0000001u;
    Enqueue(topLevel, down ? WM_KEYDOWN : WM_KEYUP, key, flags, true, true, time);
}
void Focus(HWND window) {
    Enqueue(window, kInputFocus, 0, 0, true);
}
} // namespace input

} // namespace velmora::platform

using namespace velmora::platform;

LRESULT WINAPI SendMessageW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = FindWindowRecord(handle);
    if (!window)
        return Fail<LRESULT>(ERROR_INVALID_WINDOW_HANDLE);
    return window->windowClass->procedure(handle, message, wParam, lParam);
}

BOOL WINAPI PostMessageW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (handle && !FindWindowRecord(handle))
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    Enqueue(handle, message, wParam, lParam, false);
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    TheQueue().quit = exitCode;
}

BOOL WINAPI PeekMessageW(LPMSG message, HWND, UINT, UINT, UINT flags) {
    if (!message)
        return FALSE;
    bool remove = (flags & PM_REMOVE) != 0;
    return TakePosted(message, remove) || TakeQuit(message, remove);
}

BOOL WINAPI GetMessageW(LPMSG message, HWND, UINT, UINT) {
    if (!message)
        return -1;
    while (!PeekMessageW(message, nullptr, 0, 0, PM_REMOVE)) {
        if (!CurrentBackend().WaitForInput()) {
            // Nothing can arrive any more and nobody asked to quit: end the loop rather
            // than wait for ever, with a code that tells it did not end normally.
            fputs("velmora platform: no more input and no quit message; ending the loop\n", stderr);
            *message = MSG{nullptr, WM_QUIT, (WPARAM)-1, 0, 0, {}};
            return FALSE;
        }
    }
    return message->message != WM_QUIT;
}

BOOL WINAPI TranslateMessage(const MSG*) {
    return FALSE; // no keyboard messages to translate
}

LRESULT WINAPI DispatchMessageW(const MSG* message) {
    if (!message || !message->hwnd)
        return 0;
    return SendMessageW(message->hwnd, message->message, message->wParam, message->lParam);
}

LRESULT WINAPI DefWindowProcW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = FindWindowRecord(handle);
    if (!window)
        return 0;
    switch (message) {
    case WM_NCCREATE:
        return TRUE;
    case WM_SETTEXT:
        window->text = WideString(reinterpret_cast<LPCWSTR>(lParam));
        CurrentBackend().TextChanged(*window);
        return TRUE;
    case WM_GETTEXT:
        return lParam && wParam ? (LRESULT)CopyCut(window->text, (WCHAR*)lParam, wParam) : 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            SendMessageW(handle, WM_CLOSE, 0, 0);
        return 0;
    case WM_CLOSE:
        DestroyWindow(handle);
        return 0;
    case kInputFocus:
        SetFocus(handle);
        return 0;
    default:
        return 0;
    }
}
