// The settings file: where it lives, its keys, and the first-run values.
#pragma once

#include <windows.h>

// Capacity, in wide characters including the terminator, of every text read from the
// settings file, every fetched text, every window title and every address.
#define TEXT_CAPACITY 1024

// Full path of Config.ini, built once at start from the working directory.
extern WCHAR IniPath[MAX_PATH];

extern const WCHAR SettingsSection[];
extern const WCHAR KeyTitle[];
extern const WCHAR KeyCopyRight[];
extern const WCHAR KeyLast[];
extern const WCHAR KeyList[];
extern const WCHAR KeyUpdate[];
extern const WCHAR KeyTop[];
extern const WCHAR KeyOnce[];
extern const WCHAR KeyVersion[];

// The running program's version: the end of every window title, and the Version it records.
extern const WCHAR ProgramVersion[];

// The status-bar text when none is configured, and the first-run value of CopyRight.
extern const WCHAR DefaultNotice[];

// Sets IniPath to "<working directory>\Config.ini", or ".\Config.ini" when that does not
// fit in MAX_PATH characters (the same file, named relative to the working directory).
void BuildIniPath();

// Reads a text key (default "") into a zero-filled buffer of TEXT_CAPACITY characters.
void ReadSettingText(LPCWSTR key, WCHAR* buffer);
// Reads an integer key, default 0.
UINT ReadSettingInt(LPCWSTR key);
void WriteSetting(LPCWSTR key, LPCWSTR value);

// Writes the eight first-run values, in their fixed order.
void WriteFirstRunDefaults();
// Writes ProgramVersion as Version when the file holds another one (an upgrade, or a
// downgrade): the update check compares the site's latest with what really runs.
void RecordProgramVersion();
