// ShellExecuteW for the one use the player has: open an address in the user's browser.
#include "user32/WindowStore.h"

#include <shellapi.h>

using namespace velmora::platform;

HINSTANCE WINAPI ShellExecuteW(HWND owner, LPCWSTR operation, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
    // Every address goes to the backend, as Windows would try to open whatever it names: the
    // headless backend records it, the desktop one opens web addresses only.
    int result = SE_ERR_NOASSOC;
    if (!file)
        result = ERROR_FILE_NOT_FOUND;
    else if ((!operation || WideToUtf8(operation) == "open") &&
             CurrentBackend().OpenInBrowser(FindWindowRecord(owner) ? owner : nullptr,
                                            WideToUtf8(file)))
        result = 42;
    // The result is a fake instance handle: above 32 on success, an error code otherwise.
    return reinterpret_cast<HINSTANCE>((INT_PTR)result);
}
