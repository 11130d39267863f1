// The browser control's feature controls. WebKit in the GTK host already keeps to what they
// ask of Windows' control: it has no security zones to elevate between, no ActiveX, add-ons,
// binary behaviours or mk:/telnet: handlers, it fails a page whose certificate is bad, the
// host refuses downloads, and new windows and pop-ups go through the program's new-window
// handling. So every request succeeds.
#include <urlmon.h>

HRESULT WINAPI CoInternetSetFeatureEnabled(INTERNETFEATURELIST, DWORD, BOOL) {
    return S_OK;
}
