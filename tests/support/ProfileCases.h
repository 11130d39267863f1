// Profile cases run by both the Linux unit test (tests/unit/profile_test.cpp), which checks
// the answers given here, and the probe (tests/windows/profile_probe.cpp), which reports the
// answers of Windows under Wine and of the Linux platform so that the windows tests can
// compare them. Plain data: the probe is built by MinGW as well.
#pragma once

#include <string>

namespace velmora::test {

// GetPrivateProfileIntW of a key whose line is "key=value" (value nullptr: no such key).
struct IntegerCase {
    const char* value;
    int fallback;
    unsigned expected;
};

// Read in code page 936: a value may hold GBK bytes.
inline constexpr IntegerCase kIntegerCases[] = {
    {"12", 0, 12},
    {"12abc", 0, 12},
    {"abc", 9, 0},
    {nullptr, 0, 0},
    {nullptr, 9, 9},
    {nullptr, -1, 0xFFFFFFFFu},
    {"-1", 0, 0xFFFFFFFFu},
    {"-42", 0, 0xFFFFFFD6u},
    {"+1", 0, 1},
    {"-", 9, 0},
    {"4294967295", 0, 4294967295u},
    {"2147483648", 0, 2147483648u},
    {"4294967296", 9, 0},
    {"4294967297", 0, 1},
    {"-4294967296", 0, 0},
    {"-4294967297", 9, 0xFFFFFFFFu},
    {"99999999999", 0, static_cast<unsigned>(99999999999ULL)},
    {"42A94967297", 9, 42},
    {"0x10", 9, 16}, // a 0x, 0o or 0b prefix picks the base, as Windows reads numbers
    {"0o17", 9, 15},
    {"0b101", 9, 5},
    {"0x", 0, 0},
    {"0X10", 9, 0}, // only lower-case prefixes count
    {"0B101", 0, 0},
    {"0O17", 0, 0},
    {"\"7\"", 0, 7},
    {"  42  ", 0, 42},
    {"1 000", 0, 1},
    {"3.9", 0, 3},
    {"\xA3\xB1\xA3\xB2", 9, 0}, // full-width digits
};

// GetPrivateProfileStringW of one key into 1024 characters; the texts are UTF-8, the file's
// bytes are read in code page 936.
struct ReadCase {
    const char* name;
    const char* file;
    const char* section;
    const char* key;
    const char* fallback; // nullptr: NULL
    const char* expected;
    // Where Wine answers otherwise than Windows: the probe holds the Linux answer against
    // the recorded Windows one (profile_windows_answers.txt) instead of Wine's.
    const char* windowsOnly = nullptr;
};

inline constexpr ReadCase kReadCases[] = {
    {"exact", "[VelmoraPlayer]\r\nTitle=abc\r\n", "VelmoraPlayer", "Title", "", "abc"},
    {"names ignore case", "[VelmoraPlayer]\r\nTitle=abc\r\n", "velmoraPLAYER", "TITLE", "", "abc"},
    {"blanks trimmed", "  [ S ]  \r\n \t Key \t=  \t value  x \t\r\n", "S", "Key", "", "value  x"},
    {"double quotes", "[S]\r\nKey=  \"  spaced  \"  \r\n", "S", "Key", "", "  spaced  "},
    {"single quotes", "[S]\r\nKey='x'\r\n", "S", "Key", "", "x"},
    {"unmatched quotes kept", "[S]\r\nKey=\"x'\r\n", "S", "Key", "", "\"x'"},
    {"lone quote kept", "[S]\r\nKey=\"\r\n", "S", "Key", "", "\""},
    {"one pair only", "[S]\r\nKey=\"\"x\"\"\r\n", "S", "Key", "", "\"x\""},
    {"empty value is not absent", "[S]\r\nKey=\r\n", "S", "Key", "dflt", ""},
    {"first '=' splits", "[S]\r\nKey=a=b\r\n", "S", "Key", "", "a=b"},
    {"absent key", "[S]\r\nOther=1\r\n", "S", "Key", "dflt", "dflt"},
    {"absent section", "[T]\r\nKey=1\r\n", "S", "Key", "dflt", "dflt"},
    {"key of another section", "[T]\r\nKey=1\r\n[S]\r\nX=2\r\n", "S", "Key", "d", "d"},
    {"null default", "[S]\r\n", "S", "Key", nullptr, ""},
    {"default loses trailing blanks", "[S]\r\n", "S", "Key", "dflt \t ", "dflt",
     "Wine drops only the spaces"},
    {"LF and CR line ends", "[S]\nA=1\rB=2\nC=3", "S", "B", "", "2"},
    {"comment is no key", "[S]\r\n;Key=no\r\nKey=yes\r\n", "S", "Key", "", "yes"},
    {"first duplicate wins", "[S]\r\nKey=one\r\nKey=two\r\n", "S", "Key", "", "one"},
    {"line without '=' reads the default", "[S]\r\nKey\r\n", "S", "Key", "d", "d"},
    {"lines before any section", "Key=top\r\n[S]\r\n", "S", "Key", "d", "d"},
    {"empty key name finds a nameless line", "[S]\r\n=v\r\n", "S", "", "d", "v"},
    {"a comment line is found by its full name", "[S]\r\n;Key=no\r\n", "S", ";Key", "", "no"},
    {"'[' without ']' opens no section", "[S]\r\n[Open\r\nB=2\r\n", "S", "B", "d", "2"},
    {"chinese in the code page", "[S]\r\n\xC3\xFB=\xD6\xB5\r\n", "S", "名", "", "值"},
};

// UTF-8 text of the characters the cases use (one to three bytes) as UTF-16.
inline std::u16string Utf16Of(const char* text) {
    std::u16string wide;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p;) {
        const int more = *p >= 0xE0 ? 2 : *p >= 0xC0 ? 1 : 0;
        char16_t c = static_cast<char16_t>(*p++ & (more == 2 ? 0x0F : more == 1 ? 0x1F : 0x7F));
        for (int i = 0; i < more && *p; ++i)
            c = static_cast<char16_t>(c << 6 | (*p++ & 0x3F));
        wide.push_back(c);
    }
    return wide;
}

} // namespace velmora::test
