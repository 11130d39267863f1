#include "PlayerRun.h"

#include "ScopedLocale.h"

#include "TempDir.h"
#include "TestText.h"
#include "ui/MainWindow.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include <locale.h>
#include <sstream>

namespace velmora::test {
namespace {

using platform::HeadlessBackend;

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

// Config.ini is in code page 936 (GBK), the ANSI code page of the runs' Chinese locale; the
// tests speak UTF-8. Bytes that do not convert are kept as they are.
std::string Convert(const std::string& text, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return text;
    std::string out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size(), outLeft = out.size();
    char* at = out.data();
    size_t result = iconv(cd, &in, &inLeft, &at, &outLeft);
    iconv_close(cd);
    if (result == static_cast<size_t>(-1))
        return text;
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

HINSTANCE PlayerInstance() {
    static int marker;
    return reinterpret_cast<HINSTANCE>(&marker);
}

int PlayerRun::Run() {
    ScopedLocale locale(this->locale);
    HeadlessBackend backend;

    backend.browserAvailable = browserAvailable;
    backend.loadErrors = loadErrors;
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
    static_cast<platform::HeadlessRecord&>(*this) = std::move(backend);
    backend.onIdle = nullptr;
    backend.onMessageBox = nullptr;
    return exitCode;
}

std::string MainTitle(const std::string& title) {
    std::vector<WCHAR> text(2 * TEXT_CAPACITY + 64, 0);
    if (title.empty())
        wsprintfW(text.data(), StartTitle, Wide(VELMORA_VERSION).get());
    else
        wsprintfW(text.data(), StartTitleWithText, Wide(title).get(), Wide(VELMORA_VERSION).get());
    return Utf8(text.data());
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
        entry.value = equals == std::string::npos
                          ? ""
                          : Convert(Trim(trimmed.substr(equals + 1)), "UTF-8", "CP936");
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
        bytes += key + "=" + Convert(value, "CP936", "UTF-8") + "\r\n";
    WriteFileBytes(path, bytes);
}

} // namespace velmora::test
