// wsprintfW, the lstr* helpers and GetCurrentDirectoryW.
#include <windows.h>

#include <limits.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>
#include <string>
#include <vector>

#include "TempDir.h"
#include "TestText.h"

using velmora::test::TempDir;
using velmora::test::Utf8;
using velmora::test::Wide;

namespace {

// wsprintfW's text, checked against the count it returns.
template <class... Args> std::string Formatted(const WCHAR* format, Args... args) {
    std::vector<WCHAR> buffer(1100, L'z');
    int written = wsprintfW(buffer.data(), format, args...);
    EXPECT_EQ(written, lstrlenW(buffer.data())) << Utf8(format);
    return Utf8(buffer.data());
}

TEST(Wsprintf, FormatsTheConversionsTheProgramUses) {
    EXPECT_EQ(Formatted(L"Tessavo第%03d集", 7), "Tessavo第007集");
    EXPECT_EQ(Formatted(L"Tessavo第%03d集", 120), "Tessavo第120集");
    EXPECT_EQ(Formatted(L"Tessavo第%03d集", 1000), "Tessavo第1000集");
    EXPECT_EQ(Formatted(L"Tessavo第%d集 - %s - VelmoraPlayer 1.0", 12, L"春季特辑"),
              "Tessavo第12集 - 春季特辑 - VelmoraPlayer 1.0");
    EXPECT_EQ(Formatted(L"%s\\Config.ini", L"/tmp/x"), "/tmp/x\\Config.ini");
    EXPECT_EQ(Formatted(L"%d", -42), "-42");
    EXPECT_EQ(Formatted(L"%d", INT_MIN), "-2147483648");
    EXPECT_EQ(Formatted(L"%d", 0), "0");
    EXPECT_EQ(Formatted(L"100%% %d%%", 5), "100% 5%");
    EXPECT_EQ(Formatted(L"[%5d|%05d|%03d|%4s]", 42, -42, -7, L"ab"), "[   42|-0042|-07|  ab]");
    EXPECT_EQ(Formatted(L"<%s>", (const WCHAR*)nullptr), "<(null)>");
    EXPECT_EQ(Formatted(L""), "");
}

TEST(Wsprintf, WritesAtMost1024CharactersWithTheTerminator) {
    std::vector<WCHAR> longText(2000, L'a');
    longText.push_back(0);
    const std::pair<const WCHAR*, const char*> formats[] = {{L"%s", ""}, {L"ab%s!", "ab"}};
    for (const auto& f : formats) {
        SCOPED_TRACE(f.second);
        std::vector<WCHAR> buffer(1100, L'z');
        EXPECT_EQ(wsprintfW(buffer.data(), f.first, longText.data()), 1023);
        EXPECT_EQ(buffer[1023], 0);
        EXPECT_EQ(buffer[1024], L'z'); // nothing beyond the cap is touched
        EXPECT_EQ(lstrlenW(buffer.data()), 1023);
        EXPECT_EQ(Utf8(buffer.data()),
                  std::string(f.second) + std::string(1023 - strlen(f.second), 'a'));
    }
    std::vector<WCHAR> exact(1023, L'b');
    exact.push_back(0);
    EXPECT_EQ(Formatted(L"%s", exact.data()), std::string(1023, 'b'));
}

// Widths beyond the cap: no arithmetic overflow (UBSan aborts the test
// otherwise) and the output still stops at 1023 characters.
TEST(Wsprintf, HugeWidthsStopAtTheCap) {
    const struct {
        const WCHAR* format;
        const char* what;
        int value;
    } cases[] = {
        {L"%99999999999d", "width past int", 5},
        {L"%2000000000d", "width of two billion", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<WCHAR> buffer(1100, L'z');
        EXPECT_EQ(wsprintfW(buffer.data(), c.format, c.value), 1023);
        EXPECT_EQ(buffer[1023], 0);
        EXPECT_EQ(buffer[1024], L'z');
    }
}

TEST(Lstr, LengthCompareAndCopy) {
    EXPECT_EQ(lstrlenW(nullptr), 0);
    EXPECT_EQ(lstrlenW(L""), 0);
    EXPECT_EQ(lstrlenW(L"第七集"), 3);

    struct Compare {
        const WCHAR* a;
        const WCHAR* b;
        int sign;
    };
    const Compare cases[] = {
        {L"1.0", L"1.0", 0}, {L"1.0", L"1.1", -1}, {L"1.10", L"1.1", 1},  {L"", L"a", -1},
        {nullptr, L"", -1},  {L"", nullptr, 1},    {nullptr, nullptr, 0}, {L"\xFFFF", L"a", 1},
    };
    for (const Compare& c : cases) {
        int result = lstrcmpW(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign) << Utf8(c.a) << " vs " << Utf8(c.b);
    }

    WCHAR target[8];
    EXPECT_EQ(lstrcpyW(target, L"第7集"), target);
    EXPECT_EQ(Utf8(target), "第7集");
    EXPECT_EQ(lstrcpyW(target, nullptr), nullptr);
}

TEST(CurrentDirectory, ReportsTheWorkingDirectoryOrTheRoomItNeeds) {
    TempDir dir;
    std::string cwd = dir.path();
    const DWORD length = static_cast<DWORD>(cwd.size()); // ASCII temp path

    EXPECT_EQ(GetCurrentDirectoryW(0, nullptr), length + 1);
    std::vector<WCHAR> small(length, L'z');
    EXPECT_EQ(GetCurrentDirectoryW(length, small.data()), length + 1);
    for (WCHAR c : small)
        ASSERT_EQ(c, L'z') << "a too small buffer must be left alone";

    std::vector<WCHAR> exact(length + 1, L'z');
    EXPECT_EQ(GetCurrentDirectoryW(length + 1, exact.data()), length);
    EXPECT_EQ(Utf8(exact.data()), cwd);

    WCHAR path[MAX_PATH] = {};
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, path), length);
    EXPECT_EQ(Utf8(path), cwd);
}

TEST(LastError, IsPerThread) {
    SetLastError(1234);
    DWORD seen = 0;
    std::thread other([&seen] {
        SetLastError(7);
        seen = GetLastError();
    });
    other.join();
    EXPECT_EQ(seen, 7u);
    EXPECT_EQ(GetLastError(), 1234u);
}

} // namespace
