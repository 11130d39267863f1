// MultiByteToWideChar for the ANSI code page (chosen from the locale's language and
// territory, as under Wine), the way back to it, and the UTF-8 conversions.
#include <windows.h>

#include <locale.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScopedLocale.h"
#include "TestText.h"
#include "platform/kernel32/Kernel32Internal.h"

using velmora::test::Utf16;
using velmora::test::Utf8;
namespace kernel32 = velmora::kernel32;

namespace {

std::u16string ToWide(const std::string& bytes, DWORD flags = 0, UINT codePage = CP_ACP) {
    int needed = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()),
                                     nullptr, 0);
    std::vector<WCHAR> out(static_cast<size_t>(needed) + 1, 0);
    int written = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()),
                                      out.data(), needed);
    EXPECT_EQ(written, needed);
    return std::u16string(out.begin(), out.begin() + written);
}

TEST(CodePage, AnsiCodePageFollowsLanguageAndTerritory) {
    const std::pair<UINT, std::vector<const char*>> localesOf[] = {
        {936, {"zh_CN.UTF-8", "zh_CN.GBK", "zh_SG"}},
        {950, {"zh_TW.UTF-8", "zh_HK.big5"}},
        {932, {"ja_JP.UTF-8"}},
        {949, {"ko_KR.eucKR"}},
        {1252, {"en_US.UTF-8", "de_DE@euro", "pt_BR", "C", "POSIX", "C.UTF-8", "hi_IN"}},
        {1251, {"ru_RU.KOI8-R", "uk_UA"}},
        {1250, {"pl_PL", "cs_CZ", "sr_RS@latin"}},
        {1253, {"el_GR"}},
        {1254, {"tr_TR"}},
        {1255, {"he_IL"}},
        {1256, {"ar_EG"}},
        {1257, {"lt_LT"}},
        {1258, {"vi_VN"}},
        {874, {"th_TH"}},
    };
    for (const auto& [codePage, locales] : localesOf)
        for (const char* locale : locales) {
            SCOPED_TRACE(locale);
            EXPECT_EQ(kernel32::AnsiCodePageOf(locale), codePage);
        }
}

TEST(CodePage, RoundTripsTextThroughTheAnsiCodePage) {
    struct Case {
        const char* locale;
        UINT codePage;
        const char* utf8;  // the text
        std::string bytes; // its form in the code page
    };
    const Case cases[] = {
        {"zh_CN.GBK", CP_ACP, "第七集", "\xB5\xDA\xC6\xDF\xBC\xAF"},
        {"zh_CN.GBK", CP_ACP, "Last=12", "Last=12"},
        {"zh_CN.UTF-8", CP_ACP, "第七集", "\xB5\xDA\xC6\xDF\xBC\xAF"}, // GBK, as on Windows
        {"zh_CN.UTF-8", 936, "第七集", "\xB5\xDA\xC6\xDF\xBC\xAF"},
        {"en_US.UTF-8", CP_ACP, "é", "\xE9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.utf8);
        USE_LOCALE(c.locale);
        EXPECT_EQ(kernel32::WideToAnsi(Utf16(c.utf8), nullptr), c.bytes);
        EXPECT_EQ(Utf8(ToWide(c.bytes, 0, c.codePage)), c.utf8);
    }
}

TEST(CodePage, LengthMinusOneCountsAndWritesTheTerminator) {
    USE_LOCALE("zh_CN.GBK");
    const char gbk[] = "\xB5\xDA"
                       "7";
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, -1, nullptr, 0), 3);
    WCHAR wide[8];
    memset(wide, 0xAB, sizeof wide);
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, -1, wide, 8), 3);
    EXPECT_EQ(wide[2], 0);
    EXPECT_EQ(Utf8(wide), "第7");
    // One short: fails, without writing past the buffer.
    memset(wide, 0xAB, sizeof wide);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, -1, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(wide[2], 0xABAB);
}

TEST(CodePage, CharactersTheCodePageLacksBecomeQuestionMarks) {
    struct Case {
        const char* locale;
        const char* utf8;
        std::string expected;
        bool substituted;
    };
    const Case cases[] = {
        {"zh_CN.GBK", "a한b", "a?b", true},
        {"zh_CN.GBK", "😀", "?", true}, // one mark for the whole surrogate pair
        {"zh_CN.GBK", "第", "\xB5\xDA", false},
        {"C", "第", "?", true},
        {"en_US.UTF-8", "é€", "\xE9\x80", false},
        {"C", "plain", "plain", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.utf8);
        USE_LOCALE(c.locale);
        bool lossy = !c.substituted;
        EXPECT_EQ(kernel32::WideToAnsi(Utf16(c.utf8), &lossy), c.expected);
        EXPECT_EQ(lossy, c.substituted);
    }
}

TEST(CodePage, InvalidOrCutSequences) {
    // The ANSI code page: fails only with MB_ERR_INVALID_CHARS, else '?'.
    struct Case {
        const char* locale;
        std::string bytes;
        const char* replaced;
    };
    const Case cases[] = {
        {"zh_CN.UTF-8", "x\xE9", "x?"}, // GBK lead byte alone
        {"zh_CN.GBK", "12\xB5", "12?"}, // lead byte without its trail byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        USE_LOCALE(c.locale);
        WCHAR out[16];
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, c.bytes.data(),
                                      static_cast<int>(c.bytes.size()), out, 16),
                  0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        EXPECT_EQ(Utf8(ToWide(c.bytes)), c.replaced);
    }
    // UTF-8: one U+FFFD per maximal ill-formed subpart, as Windows since Vista.
    const std::pair<std::string, const char*> utf8[] = {
        {"ab\xE7\xAC", "ab\xEF\xBF\xBD"}, // 第 cut after two bytes
        {"\xE7\xAC"
         "a",
         "\xEF\xBF\xBD"
         "a"},
        {"\xC0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                 // overlong
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},                 // surrogate
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // past U+10FFFF
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},                                 // a pair
    };
    for (const auto& [bytes, expected] : utf8) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(kernel32::WideToUtf8(kernel32::Utf8ToWide(bytes)), expected);
    }
    EXPECT_EQ(kernel32::WideToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(CodePage, AnsiFollowsTheLocaleOfEachCall) {
    const std::string bytes = "\xB5\xDA";
    {
        USE_LOCALE("zh_CN.GBK");
        EXPECT_EQ(Utf8(ToWide(bytes)), "第");
    }
    {
        USE_LOCALE("en_US.UTF-8");
        EXPECT_EQ(Utf8(ToWide(bytes)), "µÚ"); // code page 1252
    }
    USE_LOCALE("zh_CN.GBK");
    EXPECT_EQ(Utf8(ToWide(bytes)), "第");
}

TEST(CodePage, RejectsInvalidArguments) {
    WCHAR wide[4];
    const struct {
        const char* what;
        UINT codePage;
        const char* bytes;
        int length;
    } cases[] = {{"null source", CP_ACP, nullptr, -1},
                 {"empty source", CP_ACP, "a", 0},
                 {"a code page not the ANSI one", CP_UTF8, "a", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(c.codePage, 0, c.bytes, c.length, wide, 4), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
}

} // namespace
