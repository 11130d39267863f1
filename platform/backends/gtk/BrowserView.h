// The web view behind a browser host ("AtlAxWin"). It behaves as the Windows browser
// control does for the site's pages: a video with sound starts without a click, HTML5
// fullscreen fills the screen and hands the fixed-size window back exactly as it was, and a
// video the system has no decoder for is reported on stderr instead of staying black.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>

#include "user32/Backend.h"

namespace velmora::platform {

// A framed web view, ready to be put in a top-level window's client area. Its web view is
// made once that window is on screen. It reports the page's navigations, new-window
// requests, committed documents and files to save for the host window (browser:: in
// user32/Backend.h) and drops those a sink cancels; it never saves a file itself.
GtkWidget* MakeBrowserView(HWND host);
// A paused or ended video in the page paints its frame again where a window covered it
// (WebKit leaves that area blank until the video plays).
void RepaintPausedVideos(GtkWidget* browser);
// Loads an address the control has already announced (BeforeNavigate2 fired for it), at
// once or as soon as the web view is made.
void LoadInBrowserView(GtkWidget* browser, const std::string& url);

} // namespace velmora::platform
