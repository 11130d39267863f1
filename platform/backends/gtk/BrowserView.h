// The web view behind a browser host ("AtlAxWin"). It behaves as the Windows browser
// control does for the site's pages: a video with sound starts without a click, HTML5
// fullscreen fills the screen and hands the fixed-size window back exactly as it was, and a
// video the system has no decoder for is reported on stderr instead of staying black.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace velmora::platform {

// A framed web view, ready to be put in a top-level window's client area.
GtkWidget* MakeBrowserView();
WebKitWebView* WebViewOfBrowser(GtkWidget* browser);

} // namespace velmora::platform
