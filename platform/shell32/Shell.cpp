// ShellExecuteW for the one use the player has: open an address in the user's browser.
#include "user32/WindowStore.h"

#include <shellapi.h>

using namespace velmora::platform;

namespace {
// ShellExecuteW's result is a fake instance handle: above 32 on success, an error code
// otherwise.
HINSTANCE ShellResult(int code) {
    return reinterpret_cast<HINSTANCE>((INT_PTR)code);
}
} // namespace

HINSTANCE WINAPI ShellExecuteW(HWND owner, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters,
                               LPCWSTR directory, INT showCommand) {
    (void)parameters;
    (void)directory;
    (void)showCommand;
    std::string verb = operation ? WideToUtf8(operation) : "open";
    if (!file)
        return ShellResult(ERROR_FILE_NOT_FOUND);
    // Every address goes to the backend, as Windows would try to open whatever it names: the
    // headless backend records it, the desktop one opens web addresses only.
    std::string address = WideToUtf8(file);
    if (verb != "open")
        return ShellResult(SE_ERR_NOASSOC);
    return CurrentBackend().OpenInBrowser(FindWindowRecord(owner) ? owner : nullptr, address)
               ? ShellResult(42)
               : ShellResult(SE_ERR_NOASSOC);
}
