#include "settings/Settings.h"

WCHAR IniPath[MAX_PATH];

const WCHAR SettingsSection[] = L"VelmoraPlayer";
const WCHAR KeyTitle[] = L"Title";
const WCHAR KeyCopyRight[] = L"CopyRight";
const WCHAR KeyLast[] = L"Last";
const WCHAR KeyList[] = L"List";
const WCHAR KeyUpdate[] = L"Update";
const WCHAR KeyTop[] = L"Top";
const WCHAR KeyOnce[] = L"Once";
const WCHAR KeyVersion[] = L"Version";

const WCHAR ProgramVersion[] = L"" VELMORA_VERSION;

const WCHAR DefaultNotice[] = L"《Tessavo》全集在线播放  问题报告: support@tessavo.example  官网: "
                              L"http://www.tessavo.example/";

void BuildIniPath() {
    static const WCHAR fileName[] = L"\\Config.ini";
    WCHAR directory[MAX_PATH];
    ZeroMemory(directory, sizeof directory);
    ZeroMemory(IniPath, sizeof IniPath);
    DWORD length = GetCurrentDirectoryW(MAX_PATH, directory);
    // A directory that does not fit (the call then answers the size it needs) or leaves no
    // room for the file name would give a cut path: use the relative name instead.
    const int fileNameLength = (int)(sizeof fileName / sizeof fileName[0]) - 1;
    if (length == 0 || length >= MAX_PATH || (int)length + fileNameLength >= MAX_PATH) {
        lstrcpyW(IniPath, L".\\Config.ini");
        return;
    }
    wsprintfW(IniPath, L"%s\\Config.ini", directory);
}

void ReadSettingText(LPCWSTR key, WCHAR* buffer) {
    ZeroMemory(buffer, TEXT_CAPACITY * sizeof(WCHAR));
    GetPrivateProfileStringW(SettingsSection, key, L"", buffer, TEXT_CAPACITY, IniPath);
}

UINT ReadSettingInt(LPCWSTR key) {
    return GetPrivateProfileIntW(SettingsSection, key, 0, IniPath);
}

void WriteSetting(LPCWSTR key, LPCWSTR value) {
    WritePrivateProfileStringW(SettingsSection, key, value, IniPath);
}

void WriteFirstRunDefaults() {
    WriteSetting(KeyVersion, ProgramVersion);
    WriteSetting(KeyList, L"0");
    WriteSetting(KeyLast, L"1");
    WriteSetting(KeyTop, L"1");
    WriteSetting(KeyOnce, L"1");
    WriteSetting(KeyTitle, L"");
    WriteSetting(KeyUpdate, L"");
    WriteSetting(KeyCopyRight, DefaultNotice);
}

void RecordProgramVersion() {
    WCHAR stored[TEXT_CAPACITY];
    ReadSettingText(KeyVersion, stored);
    if (lstrcmpW(stored, ProgramVersion) != 0)
        WriteSetting(KeyVersion, ProgramVersion);
}
