#include "PlayerRun.h"

#include "ScopedLocale.h"

#include "TempDir.h"
#include "TestText.h"
#include "ui/MainWindow.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

namespace velmora::test {
namespace {

using platform::Backend;
using platform::HeadlessBackend;
using platform::Window;

// Passes everything to the headless backend and notes each window as user32 completes its
// record: the only moment the initial text of a control the program rewrites is visible.
class RecordingBackend final : public Backend {
  public:
    RecordingBackend(HeadlessBackend& inner, std::vector<CreatedWindow>& created)
        : inner_(inner), created_(created) {}

    void Create(Window& window) override {
        CreatedWindow record;
        record.handle = window.handle;
        record.parent = window.parent;
        record.className = window.windowClass ? Utf8(window.windowClass->name) : "";
        record.text = Utf8(window.text);
        record.style = window.style;
        record.exStyle = window.exStyle;
        record.x = window.x;
        record.y = window.y;
        record.width = window.width;
        record.height = window.height;
        record.id = window.id;
        created_.push_back(record);
        inner_.Create(window);
    }
    void Destroy(Window& window) override { inner_.Destroy(window); }
    void Show(Window& window, bool visible) override { inner_.Show(window, visible); }
    void TextChanged(Window& window) override { inner_.TextChanged(window); }
    void EnabledChanged(Window& window) override { inner_.EnabledChanged(window); }
    void TopMostChanged(Window& window) override { inner_.TopMostChanged(window); }
    void ListReset(Window& list) override { inner_.ListReset(list); }
    void ListAdd(Window& list, const std::string& row) override { inner_.ListAdd(list, row); }
    void ListSelectionChanged(Window& list) override { inner_.ListSelectionChanged(list); }
    void RedrawChanged(Window& window) override { inner_.RedrawChanged(window); }
    void Invalidate(Window& window, const RECT* area) override { inner_.Invalidate(window, area); }
    void CheckChanged(Window& button) override { inner_.CheckChanged(button); }
    bool CanHostBrowser() override { return inner_.CanHostBrowser(); }
    void Navigate(Window& host, const std::string& url) override { inner_.Navigate(host, url); }
    int ShowMessageBox(const platform::MessageBoxRequest& request) override {
        return inner_.ShowMessageBox(request);
    }
    bool OpenInBrowser(HWND owner, const std::string& url) override {
        return inner_.OpenInBrowser(owner, url);
    }
    bool WaitForInput() override { return inner_.WaitForInput(); }

  private:
    HeadlessBackend& inner_;
    std::vector<CreatedWindow>& created_;
};

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i]))
            return false;
    return true;
}

const char* const kSection = "VelmoraPlayer";

} // namespace

SiteAddressLock::SiteAddressLock(const std::string& host, int port) {
    const char* base = getenv("TMPDIR");
    std::string path = std::string(base && *base ? base : "/tmp") + "/velmora-site-" + host + "-" +
                       std::to_string(port) + ".lock";
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0)
        throw std::runtime_error("cannot open " + path);
    while (flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR)
            throw std::runtime_error("cannot lock " + path);
    }
}

SiteAddressLock::~SiteAddressLock() {
    if (fd_ >= 0)
        close(fd_); // releases the lock
}

HINSTANCE PlayerInstance() {
    static int marker;
    return reinterpret_cast<HINSTANCE>(&marker);
}

int PlayerRun::Run() {
    ScopedLocale locale(this->locale);
    platform::HeadlessSession session;
    HeadlessBackend& backend = session.backend();
    RecordingBackend recorder(backend, created);
    platform::SetBackend(&recorder);

    backend.browserAvailable = browserAvailable;
    if (onMessageBox)
        backend.onMessageBox = onMessageBox;
    size_t next = 0;
    backend.onIdle = [&]() {
        if (next >= steps.size())
            return false;
        ++stepsRun;
        steps[next++](backend);
        return true;
    };

    exitCode = WinMain(PlayerInstance(), nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);

    // The process would end here and take the browser reference with it; a test process
    // runs the program again, so give it back.
    if (pWebBrowser) {
        pWebBrowser->Release();
        pWebBrowser = nullptr;
    }
    messageBoxes = backend.messageBoxes;
    navigations = backend.navigations;
    openedInBrowser = backend.openedInBrowser;
    openedInBrowserOwners = backend.openedInBrowserOwners;
    invalidations = backend.invalidations;
    topMostChanges = backend.topMostChanges;
    listRowsAdded = backend.listRowsAdded;
    backend.onIdle = nullptr;
    backend.onMessageBox = nullptr;
    platform::SetBackend(&backend); // the session uninstalls its own backend
    return exitCode;
}

std::string WindowText(HWND window) {
    std::vector<WCHAR> text(4096, 0);
    GetWindowTextW(window, text.data(), (int)text.size());
    return Utf8(text.data());
}

std::vector<std::string> ListRows(HWND list) {
    std::vector<std::string> rows;
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, (WPARAM)i, 0);
        std::vector<WCHAR> row(length > 0 ? length + 1 : 1, 0);
        SendMessageW(list, LB_GETTEXT, (WPARAM)i, (LPARAM)row.data());
        rows.push_back(Utf8(row.data()));
    }
    return rows;
}

int ListSelection(HWND list) {
    return (int)SendMessageW(list, LB_GETCURSEL, 0, 0);
}

std::vector<IniLine> ReadIni(const std::string& path) {
    std::istringstream file(ReadFileBytes(path));
    std::vector<IniLine> lines;
    std::string section;
    for (std::string line; std::getline(file, line);) {
        std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == ';')
            continue;
        if (trimmed[0] == '[') {
            size_t end = trimmed.find(']');
            section = trimmed.substr(1, end == std::string::npos ? std::string::npos : end - 1);
            continue;
        }
        size_t equals = trimmed.find('=');
        IniLine entry;
        entry.section = section;
        entry.key = Trim(trimmed.substr(0, equals));
        entry.value = equals == std::string::npos ? "" : Trim(trimmed.substr(equals + 1));
        lines.push_back(entry);
    }
    return lines;
}

std::vector<std::string> IniKeys(const std::string& path) {
    std::vector<std::string> keys;
    for (const IniLine& line : ReadIni(path))
        if (SameName(line.section, kSection))
            keys.push_back(line.key);
    return keys;
}

std::optional<std::string> IniValue(const std::string& path, const std::string& key) {
    for (const IniLine& line : ReadIni(path))
        if (SameName(line.section, kSection) && SameName(line.key, key))
            return line.value;
    return std::nullopt;
}

void WriteIni(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string bytes = std::string("[") + kSection + "]\r\n";
    for (const auto& [key, value] : entries)
        bytes += key + "=" + value + "\r\n";
    WriteFileBytes(path, bytes);
}

} // namespace velmora::test
