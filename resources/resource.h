// Resource identifiers, shared by the program and the resource script.
#pragma once

#define IDI_APP 20001

// The page the browser shows when the site cannot be reached (RT_HTML, NetworkError.htm):
// a named resource, as the browser's res: addresses name it.
#define NETWORK_ERROR_PAGE L"NETERROR.HTM"
// Where the page's 重试 link points: an address of the program's own, which the player takes
// for "load the address that failed" and never loads.
#define NETWORK_ERROR_RETRY L"about:velmora-retry"
