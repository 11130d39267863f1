// Profile cases run by both the Linux unit test (tests/unit/profile_test.cpp), which checks
// the answers given here, and the probe (tests/windows/profile_probe.cpp), which reports the
// answers of Windows under Wine and of the Linux platform so that the windows tests can
// compare them. Plain data: the probe is built by MinGW as well.
#pragma once

#include <string>
#include <vector>

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
    {"0xfF", 9, 255}, // hexadecimal digits in either case
    {"0o78", 9, 7},   // a digit past the base ends the number
    {"0b102", 9, 2},
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

// WritePrivateProfileStringW calls and the file they leave, byte for byte.
struct Edit {
    const char* section;
    const char* key;
    const char* value;
};
struct WriteCase {
    const char* name;
    const char* before; // nullptr: no file
    std::vector<Edit> edits;
    const char* after;                 // nullptr: still no file
    const char* windowsOnly = nullptr; // as in ReadCase
};

inline const WriteCase kWriteCases[] = {
    {"first run creates the section and keys in order",
     nullptr,
     {{"VelmoraPlayer", "Version", "1.0"},
      {"VelmoraPlayer", "List", "0"},
      {"VelmoraPlayer", "Title", ""}},
     "[VelmoraPlayer]\r\nVersion=1.0\r\nList=0\r\nTitle=\r\n"},
    {"existing key keeps its stored name, comments and order",
     "; settings\r\n[VelmoraPlayer]\r\nLast=1\r\n; note\r\nList=3\r\n\r\n[Other]\r\nx=y\r\n",
     {{"velmoraplayer", "LAST", "25"}},
     "; settings\r\n[VelmoraPlayer]\r\nLast=25\r\n; note\r\nList=3\r\n\r\n[Other]\r\nx=y\r\n",
     "Wine drops blank lines"},
    {"new key after the last non-blank line of its section",
     "[VelmoraPlayer]\r\nLast=1\r\n; note\r\n\r\n\r\n[Other]\r\nx=y\r\n",
     {{"VelmoraPlayer", "Top", "1"}},
     "[VelmoraPlayer]\r\nLast=1\r\n; note\r\nTop=1\r\n\r\n\r\n[Other]\r\nx=y\r\n",
     "Wine drops blank lines"},
    {"new section at the end",
     "[Other]\r\nx=y\r\n\r\n",
     {{"VelmoraPlayer", "Once", "1"}},
     "[Other]\r\nx=y\r\n\r\n[VelmoraPlayer]\r\nOnce=1\r\n",
     "Wine drops blank lines"},
    {"leading blanks of a value are dropped, trailing ones kept",
     nullptr,
     {{"S", "A", "  padded  "}},
     "[S]\r\nA=padded  \r\n"},
    {"last line without a line break", "[S]\r\nA=1", {{"S", "B", "2"}}, "[S]\r\nA=1\r\nB=2\r\n"},
    {"untouched lines keep their own line breaks",
     "[S]\nA=1\nB=2\rC=3\n",
     {{"S", "B", "9"}},
     "[S]\nA=1\nB=9\r\nC=3\n",
     "Wine ends every line with CR LF"},
    {"a value with a line break is written verbatim",
     "[VelmoraPlayer]\r\nList=1\r\n",
     {{"VelmoraPlayer", "List", "12\nabc"}},
     "[VelmoraPlayer]\r\nList=12\nabc\r\n"},
    {"names are written trimmed",
     "[S]\r\n",
     {{" S ", " Key\t", "v"}},
     "[S]\r\nKey=v\r\n",
     "Wine trims only the spaces"},
    {"a leading line break leaves no stray line",
     "[S]\r\nA=1\r\n",
     {{"S", "A", "\r\n \tx"}, {"S", "B", "\ny"}},
     "[S]\r\nA=x\r\nB=y\r\n"},
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

// The bytes of a UTF-16 file: little- or big-endian, with its byte-order mark when bom.
inline std::string Utf16Bytes(const std::u16string& text, bool bom, bool bigEndian = false) {
    std::string bytes = !bom ? std::string() : bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(bigEndian ? c >> 8 : c & 0xFF));
        bytes.push_back(static_cast<char>(bigEndian ? c & 0xFF : c >> 8));
    }
    return bytes;
}

} // namespace velmora::test
