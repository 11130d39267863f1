// MultiByteToWideChar / WideCharToMultiByte: CP_UTF8 and CP_ACP (chosen from the locale's
// language and territory, as under Wine).
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
using velmora::test::Wide;

namespace {

std::u16string ToWide(UINT codePage, const std::string& bytes, DWORD flags = 0) {
    int needed = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()),
                                     nullptr, 0);
    std::vector<WCHAR> out(static_cast<size_t>(needed) + 1, 0);
    int written = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()),
                                      out.data(), needed);
    EXPECT_EQ(written, needed);
    return std::u16string(out.begin(), out.begin() + written);
}

std::string ToBytes(UINT codePage, const std::u16string& text, BOOL* usedDefault = nullptr) {
    const WCHAR* source = reinterpret_cast<const WCHAR*>(text.data());
    int needed = WideCharToMultiByte(codePage, 0, source, static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, usedDefault);
    std::string out(static_cast<size_t>(needed), '\0');
    int written = WideCharToMultiByte(codePage, 0, source, static_cast<int>(text.size()),
                                      out.data(), needed, nullptr, usedDefault);
    EXPECT_EQ(written, needed);
    return out;
}

struct RoundTrip {
    const char* locale;
    UINT codePage;
    const char* utf8;  // the text
    std::string bytes; // its form in the code page
};

TEST(CodePage, AnsiCodePageFollowsLanguageAndTerritory) {
    struct Case {
        const char* locale;
        UINT codePage;
    };
    const Case names[] = {
        {"zh_CN.UTF-8", 936},
        {"zh_CN.GBK", 936},
        {"zh_SG", 936},
        {"zh_TW.UTF-8", 950},
        {"zh_HK.big5", 950},
        {"ja_JP.UTF-8", 932},
        {"ko_KR.eucKR", 949},
        {"en_US.UTF-8", 1252},
        {"de_DE@euro", 1252},
        {"pt_BR", 1252},
        {"ru_RU.KOI8-R", 1251},
        {"uk_UA", 1251},
        {"pl_PL", 1250},
        {"cs_CZ", 1250},
        {"sr_RS@latin", 1250},
        {"el_GR", 1253},
        {"tr_TR", 1254},
        {"he_IL", 1255},
        {"ar_EG", 1256},
        {"lt_LT", 1257},
        {"vi_VN", 1258},
        {"th_TH", 874},
        {"C", 1252},
        {"POSIX", 1252},
        {"C.UTF-8", 1252},
        {"hi_IN", 1252},
    };
    for (const Case& c : names) {
        SCOPED_TRACE(c.locale);
        EXPECT_EQ(velmora::kernel32::AnsiCodePageOf(c.locale), c.codePage);
    }
    // And GetACP under the locales this machine has.
    const Case generated[] = {
        {"zh_CN.UTF-8", 936}, {"zh_CN.GBK", 936}, {"en_US.UTF-8", 1252}, {"C", 1252}};
    for (const Case& c : generated) {
        SCOPED_TRACE(c.locale);
        USE_LOCALE(c.locale);
        EXPECT_EQ(GetACP(), c.codePage);
    }
}

TEST(CodePage, RoundTripsTextThroughUtf8AndTheAnsiCodePage) {
    const RoundTrip cases[] = {
        {"C.UTF-8", CP_UTF8, "Tessavo", "Tessavo"},
        {"C.UTF-8", CP_UTF8, "第007集",
         "\xE7\xAC\xAC"
         "007\xE9\x9B\x86"},
        {"C.UTF-8", CP_UTF8, "😀", "\xF0\x9F\x98\x80"},
        {"zh_CN.GBK", CP_UTF8, "第七集", "\xE7\xAC\xAC\xE4\xB8\x83\xE9\x9B\x86"},
        {"zh_CN.GBK", CP_ACP, "第七集", "\xB5\xDA\xC6\xDF\xBC\xAF"},
        {"zh_CN.GBK", CP_ACP, "Last=12", "Last=12"},
        {"zh_CN.UTF-8", CP_ACP, "第七集", "\xB5\xDA\xC6\xDF\xBC\xAF"}, // GBK, as on Windows
        {"zh_CN.UTF-8", 936, "第七集", "\xB5\xDA\xC6\xDF\xBC\xAF"},
        {"en_US.UTF-8", CP_ACP, "é", "\xE9"},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.utf8);
        USE_LOCALE(c.locale);
        EXPECT_EQ(ToBytes(c.codePage, Utf16(c.utf8)), c.bytes);
        EXPECT_EQ(Utf8(ToWide(c.codePage, c.bytes)), c.utf8);
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

    Wide text("第7");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr), 4);
    char bytes[8];
    memset(bytes, 'x', sizeof bytes);
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, 8, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(bytes, 4), std::string("\xB5\xDA"
                                                 "7",
                                                 4));
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 5);
}

TEST(CodePage, TooSmallTargetFailsWithInsufficientBuffer) {
    USE_LOCALE("zh_CN.GBK");
    struct Case {
        UINT codePage;
        const char* utf8;
        int room; // one less than needed, terminator included
    };
    const Case cases[] = {{CP_UTF8, "abc", 3}, {CP_UTF8, "第", 3}, {CP_ACP, "第七", 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        Wide text(c.utf8);
        char bytes[16];
        SetLastError(0);
        EXPECT_EQ(WideCharToMultiByte(c.codePage, 0, text, -1, bytes, c.room, nullptr, nullptr), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(WideCharToMultiByte(c.codePage, 0, text, -1, bytes, c.room + 1, nullptr, nullptr),
                  c.room + 1);
    }
    WCHAR wide[2];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
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
        BOOL used = 2;
        EXPECT_EQ(ToBytes(CP_ACP, Utf16(c.utf8), &used), c.expected);
        EXPECT_EQ(used, c.substituted ? TRUE : FALSE);
    }
    USE_LOCALE("zh_CN.GBK");
    Wide hangul("한");
    char out[4];
    BOOL used = FALSE;
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, hangul, 1, out, 4, "*", &used), 1);
    EXPECT_EQ(out[0], '*');
    EXPECT_TRUE(used);
}

TEST(CodePage, InvalidOrCutSequencesFailOnlyWithErrInvalidChars) {
    struct Case {
        const char* locale;
        UINT codePage;
        std::string bytes;
        const char* replaced; // result without MB_ERR_INVALID_CHARS
    };
    const Case cases[] = {
        {"C.UTF-8", CP_UTF8, "ab\xE7\xAC", "ab\xEF\xBF\xBD"}, // 第 cut after two bytes
        {"C.UTF-8", CP_UTF8,
         "\xE7\xAC"
         "a",
         "\xEF\xBF\xBD"
         "a"},
        {"C.UTF-8", CP_UTF8, "\xC0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},                 // overlong
        {"C.UTF-8", CP_UTF8, "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // surrogate
        {"C.UTF-8", CP_UTF8, "\xF4\x90\x80\x80",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}, // past U+10FFFF
        {"zh_CN.UTF-8", CP_ACP, "x\xE9", "x?"},               // GBK lead byte alone
        {"zh_CN.GBK", CP_ACP, "12\xB5", "12?"},               // lead byte without its trail byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        USE_LOCALE(c.locale);
        WCHAR out[16];
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(c.codePage, MB_ERR_INVALID_CHARS, c.bytes.data(),
                                      static_cast<int>(c.bytes.size()), out, 16),
                  0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        EXPECT_EQ(Utf8(ToWide(c.codePage, c.bytes)), c.replaced);
    }
}

TEST(CodePage, AnsiFollowsTheLocaleOfEachCall) {
    const std::string bytes = "\xB5\xDA";
    {
        USE_LOCALE("zh_CN.GBK");
        EXPECT_EQ(Utf8(ToWide(CP_ACP, bytes)), "第");
    }
    {
        USE_LOCALE("en_US.UTF-8");
        EXPECT_EQ(Utf8(ToWide(CP_ACP, bytes)), "µÚ"); // code page 1252
    }
    USE_LOCALE("zh_CN.GBK");
    EXPECT_EQ(Utf8(ToWide(CP_ACP, bytes)), "第");
}

TEST(CodePage, RejectsInvalidArguments) {
    WCHAR wide[4];
    char bytes[4];
    BOOL used;
    Wide text("a");
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, 4, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

} // namespace

// A default character is one character: for an ASCII one, no byte after it is read
// (AddressSanitizer catches the read past this single char).
TEST(CodePage, SingleByteDefaultCharacterIsReadAlone) {
    USE_LOCALE("en_US.UTF-8");
    const char* locales[] = {"C", "zh_CN.GBK"};
    for (const char* name : locales) {
        SCOPED_TRACE(name);
        velmora::test::ScopedLocale locale(name);
        const WCHAR text[] = {0x4E00, 0};
        char star = '*';
        char out[8] = {};
        BOOL used = FALSE;
        int written = WideCharToMultiByte(CP_ACP, 0, text, 1, out, 8, &star, &used);
        if (std::string(name) == "C") {
            EXPECT_EQ(written, 1);
            EXPECT_EQ(out[0], '*');
            EXPECT_TRUE(used);
        } else {
            EXPECT_EQ(written, 2) << "GBK holds the character";
            EXPECT_FALSE(used);
        }
    }
}
