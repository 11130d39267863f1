// Runs the whole program (WinMain) in-process on the headless window system, with a script
// of steps performed while its window is up, and reads back what a user or Config.ini sees.
#pragma once

#include <windows.h>

#include "backends/headless/HeadlessBackend.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::test {

using CreatedWindow = platform::HeadlessRecord::CreatedWindow;

// After Run, the record holds what the run left behind: windows, boxes, navigations, ...
class PlayerRun : public platform::HeadlessRecord {
  public:
    // One step runs each time the program's message queue runs dry, in order. A step may
    // check the window and queue input (platform::input::Click, ...); the input is handled
    // before the next step runs. After the last step the window is closed, as a user would.
    using Step = std::function<void(platform::HeadlessBackend&)>;
    std::vector<Step> steps;

    // Answers the message boxes; without it boxes are answered OK (or No).
    std::function<int(const platform::MessageBoxRequest&)> onMessageBox;
    // False: the browser host offers no IWebBrowser2.
    bool browserAvailable = true;
    // Addresses whose load fails, and how (HeadlessBackend::loadErrors); a step may change
    // the backend's copy (the site comes back).
    std::map<std::string, HRESULT> loadErrors;
    // The process locale during the run; it decides the ANSI code page of Config.ini.
    std::string locale = "zh_CN.UTF-8";

    // Runs WinMain in the current working directory. Returns its exit code.
    int Run();

    int exitCode = -1;
    int stepsRun = 0;
};

// The instance handle the runs hand to WinMain.
HINSTANCE PlayerInstance();

// The main window's title as the program formats it for this build's version: the start
// title, or the one with a stored Title.
std::string MainTitle(const std::string& title = "");

// Window contents, read through the Win32 API, as UTF-8.
std::string WindowText(HWND window);
std::vector<std::string> ListRows(HWND list);
int ListSelection(HWND list); // LB_ERR (-1) when nothing is selected

// Config.ini, read as bytes (GBK, the ANSI code page under the run's default locale) and
// given as UTF-8, independent of the platform's profile functions.
struct IniLine {
    std::string section; // the section the key belongs to
    std::string key;
    std::string value;
};
std::vector<IniLine> ReadIni(const std::string& path);
// The keys of section VelmoraPlayer, in file order.
std::vector<std::string> IniKeys(const std::string& path);
// The value of a key of section VelmoraPlayer, or nothing when the key is absent.
std::optional<std::string> IniValue(const std::string& path, const std::string& key);
// Writes a settings file with one section VelmoraPlayer holding these keys, in order.
void WriteIni(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& entries);

} // namespace velmora::test
