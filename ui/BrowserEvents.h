// The embedded browser's navigation events (DWebBrowserEvents2): the player follows the
// episode on screen, keeps other sites and new windows out of the embedded browser, and shows
// a page of its own, with 重试, when the site cannot be reached.
#pragma once

#include <windows.h>
#include <exdisp.h>

// Listens to the browser's events until DisconnectBrowserEvents. Without a browser, or when
// it offers no events, nothing happens and the player works without them.
void ConnectBrowserEvents(IWebBrowser2* browser);
void DisconnectBrowserEvents();
