// Dispatch ids of the browser control's events (DWebBrowserEvents2) the player handles.
#pragma once

#define DISPID_BEFORENAVIGATE2 250
#define DISPID_NAVIGATECOMPLETE2 252
#define DISPID_FILEDOWNLOAD 270
#define DISPID_NAVIGATEERROR 271
#define DISPID_NEWWINDOW3 273
