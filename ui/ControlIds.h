// Identifiers of the main window's controls.
#pragma once

#define IDC_EPISODES 1001
#define IDC_GETLIST 1002
#define IDC_UPDATE 1003
#define IDC_STATUSBAR 1004
#define IDC_TOPMOST 1005
#define IDC_SITE 1006
