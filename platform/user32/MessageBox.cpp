#include "user32/WindowStore.h"

using namespace velmora::platform;

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    MessageBoxRequest request;
    request.owner = FindWindowRecord(owner) ? owner : nullptr;
    request.text = ToUtf8(WideToU16(text));
    request.caption = caption ? ToUtf8(WideToU16(caption)) : std::string("Error");
    request.style = type;
    // An owned box is modal to its owner: the owner takes no input until it is answered.
    bool disabledOwner = request.owner && IsWindowEnabled(request.owner);
    if (disabledOwner)
        EnableWindow(request.owner, FALSE);
    int answer = CurrentBackend().ShowMessageBox(request);
    if (disabledOwner && IsWindow(request.owner))
        EnableWindow(request.owner, TRUE);
    return answer;
}
