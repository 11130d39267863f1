// MessageBoxW and its modal loop.
#include "user32/WindowStore.h"

using namespace velmora::platform;

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    MessageBoxState box;
    box.request = {FindWindowRecord(owner) ? owner : nullptr, WideToUtf8(text),
                   caption ? WideToUtf8(caption) : std::string("Error"), type};
    // An owned box is modal to its owner: the owner takes no input until it is answered.
    bool disabledOwner = box.request.owner && IsWindowEnabled(box.request.owner);
    if (disabledOwner)
        EnableWindow(box.request.owner, FALSE);

    // The modal loop: the thread's other messages keep flowing, so an unowned box leaves
    // the main window working (and a second box may open under this one). A quit message
    // ends the box and stays queued for the loop outside.
    Backend& backend = CurrentBackend();
    backend.ShowMessageBox(box);
    while (!box.answer && DispatchQueuedMessages() && !box.answer && backend.WaitForInput()) {
    }
    backend.HideMessageBox(box);

    if (disabledOwner && IsWindow(box.request.owner))
        EnableWindow(box.request.owner, TRUE);
    if (box.answer)
        return box.answer;
    // Ended unanswered: a yes/no box has no cancel, so no (no other box the program shows
    // offers a choice).
    return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
}
