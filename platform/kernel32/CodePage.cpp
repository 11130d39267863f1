// MultiByteToWideChar for the ANSI code page (the one code page the program converts), the
// platform's own UTF-8 conversions, and the conversion of file names.
// The ANSI code page follows the locale's language and territory as Wine chooses it (zh_CN -> 936,
// ...), not its character set, so that both builds under one locale read and write the same bytes;
// file names stay in the locale's character set. Both are looked up on every call because a process
// (and the tests) may switch locales. iconv does the work for every character set but UTF-8, which
// is decoded here so that invalid input is replaced exactly as Windows does.
#include "Kernel32Internal.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <string.h>
#include <strings.h>

#include <map>
#include <string>
#include <utility>

namespace velmora::kernel32 {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char* kHostUtf16 = "UTF-16BE";
#else
constexpr const char* kHostUtf16 = "UTF-16LE";
#endif

bool IsUtf8Codeset(const char* codeset) {
    return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0;
}

// The character set of file names: the locale's own.
const char* LocaleCodeset() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset && *codeset ? codeset : "ANSI_X3.4-1968";
}

struct CodePageName {
    UINT number;
    const char* iconvName;
};

// Wine's choice for the common languages: the default ANSI code page of Windows' locale for
// the language (and, for Chinese, the territory). Anything else, C and POSIX included, gets
// Wine's default, 1252.
CodePageName CodePageForLocale(const std::string& locale) {
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    std::string language = name.substr(0, name.find('_'));
    std::string territory = name.size() > language.size() ? name.substr(language.size() + 1) : "";
    bool latin = locale.find("@latin") != std::string::npos;
    struct Entry {
        const char* languages; // space-separated, each padded with spaces
        CodePageName page;
    };
    static const Entry table[] = {
        {" ja ", {932, "CP932"}},
        {" ko ", {949, "CP949"}},
        {" th ", {874, "CP874"}},
        {" cs hr hu pl ro sk sl sq bs ", {1250, "CP1250"}},
        {" be bg kk ky mk mn ru sr tg tt uk ", {1251, "CP1251"}},
        {" el ", {1253, "CP1253"}},
        {" az tr uz ", {1254, "CP1254"}},
        {" he ", {1255, "CP1255"}},
        {" ar fa ur ", {1256, "CP1256"}},
        {" et lt lv ", {1257, "CP1257"}},
        {" vi ", {1258, "CP1258"}},
    };
    if (language == "zh") {
        if (territory == "TW" || territory == "HK" || territory == "MO")
            return {950, "CP950"};
        return {936, "CP936"};
    }
    if (language == "sr" && latin)
        return {1250, "CP1250"};
    if (!language.empty()) {
        std::string padded = " " + language + " ";
        for (const Entry& entry : table)
            if (strstr(entry.languages, padded.c_str()))
                return entry.page;
    }
    return {1252, "CP1252"};
}

// The ANSI code page of the current LC_CTYPE, remembered per thread for the last locale seen.
const CodePageName& AnsiCodePage() {
    thread_local std::string lastLocale;
    thread_local CodePageName page{0, nullptr};
    const char* locale = setlocale(LC_CTYPE, nullptr);
    std::string current = locale ? locale : "C";
    if (!page.iconvName || current != lastLocale) {
        lastLocale = current;
        page = CodePageForLocale(current);
    }
    return page;
}

// One descriptor per (target, source) pair and thread: iconv descriptors carry state, and
// opening them is far slower than converting a short text.
struct ConverterCache {
    std::map<std::pair<std::string, std::string>, iconv_t> converters;
    ~ConverterCache() {
        for (auto& entry : converters)
            if (entry.second != reinterpret_cast<iconv_t>(-1))
                iconv_close(entry.second);
    }
};

iconv_t Converter(const char* to, const char* from) {
    thread_local ConverterCache cache;
    auto key = std::make_pair(std::string(to), std::string(from));
    auto found = cache.converters.find(key);
    if (found != cache.converters.end())
        return found->second;
    iconv_t cd = iconv_open(to, from);
    cache.converters.emplace(key, cd);
    return cd;
}

// UTF-8 with the replacement rule of the Unicode standard (one U+FFFD per maximal subpart
// of an ill-formed sequence), which is what Windows does since Vista.
void DecodeUtf8(const unsigned char* s, size_t n, std::u16string* out) {
    size_t i = 0;
    while (i < n) {
        unsigned char b = s[i];
        if (b < 0x80) {
            out->push_back(b);
            ++i;
            continue;
        }
        int extra;
        unsigned char low = 0x80, high = 0xBF;
        uint32_t c;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            c = b & 0x0F;
            if (b == 0xE0)
                low = 0xA0;
            else if (b == 0xED)
                high = 0x9F; // no encoded surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            c = b & 0x07;
            if (b == 0xF0)
                low = 0x90;
            else if (b == 0xF4)
                high = 0x8F;
        } else {
            out->push_back(kReplacement);
            ++i;
            continue;
        }
        size_t j = i + 1;
        int got = 0;
        while (got < extra && j < n) {
            unsigned char t = s[j];
            unsigned char lo = got == 0 ? low : 0x80, hi = got == 0 ? high : 0xBF;
            if (t < lo || t > hi)
                break;
            c = (c << 6) | (t & 0x3F);
            ++j;
            ++got;
        }
        if (got < extra) {
            out->push_back(kReplacement);
        } else if (c >= 0x10000) {
            c -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(c));
        }
        i = j;
    }
}

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
void EncodeUtf8(const char16_t* s, size_t n, std::string* out) {
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        if (c < 0x80) {
            out->push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (c >> 6)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (c >> 12)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (c >> 18)));
            out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
}

// Runs iconv over the whole input, appending what it gives to out. Where iconv meets a
// sequence it cannot convert, onBad(in, inLeft) steps past it and returns true, or returns
// false to stop there.
template <class Unit, class OnBad>
void ConvertAll(iconv_t cd, char* in, size_t inLeft, std::basic_string<Unit>* out, OnBad onBad) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    Unit chunk[1024 / sizeof(Unit)];
    for (;;) {
        char* outPtr = reinterpret_cast<char*>(chunk);
        size_t outLeft = sizeof chunk;
        size_t result = inLeft ? iconv(cd, &in, &inLeft, &outPtr, &outLeft)
                               : iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        int error = errno;
        out->append(chunk, static_cast<size_t>(reinterpret_cast<Unit*>(outPtr) - chunk));
        if (result != static_cast<size_t>(-1)) {
            if (inLeft == 0)
                break;
            continue;
        }
        if (error == E2BIG)
            continue;
        if (!onBad(in, inLeft))
            return;
    }
}

// Bytes in a character set to UTF-16. A byte that does not start a valid character (or a
// character cut off by the end of the input) becomes '?', like Windows' default Unicode
// character for the DBCS code pages. Stops early when strict.
void DecodeIn(const char* codeset, const char* s, size_t n, bool strict, std::u16string* out,
              bool* invalid) {
    iconv_t cd = Converter(kHostUtf16, codeset);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // A character set iconv does not know: read it as Latin-1 rather than fail.
        for (size_t i = 0; i < n; ++i)
            out->push_back(static_cast<unsigned char>(s[i]));
        return;
    }
    ConvertAll(cd, const_cast<char*>(s), n, out, [&](char*& in, size_t& inLeft) {
        *invalid = true;
        if (strict)
            return false;
        out->push_back(u'?');
        ++in;
        --inLeft;
        return true;
    });
}

// UTF-16 to a character set; characters it lacks become '?'.
void EncodeIn(const char* codeset, const char16_t* s, size_t n, std::string* out,
              bool* usedDefault) {
    if (IsUtf8Codeset(codeset)) {
        EncodeUtf8(s, n, out);
        return;
    }
    iconv_t cd = Converter(codeset, kHostUtf16);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (size_t i = 0; i < n; ++i) {
            if (s[i] < 0x100) {
                out->push_back(static_cast<char>(s[i]));
            } else {
                *usedDefault = true;
                out->push_back('?');
            }
        }
        return;
    }
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(s));
    ConvertAll(cd, in, n * sizeof(char16_t), out, [&](char*& at, size_t& left) {
        // Not representable (or an unpaired surrogate): one default character per
        // character, so a surrogate pair is skipped whole.
        *usedDefault = true;
        out->push_back('?');
        const char16_t* unit = reinterpret_cast<const char16_t*>(at);
        size_t skip = 1;
        if (left >= 4 && unit[0] >= 0xD800 && unit[0] <= 0xDBFF && unit[1] >= 0xDC00 &&
            unit[1] <= 0xDFFF)
            skip = 2;
        at += skip * sizeof(char16_t);
        left -= skip * sizeof(char16_t);
        return true;
    });
}

void DecodeAnsi(const char* s, size_t n, bool strict, std::u16string* out, bool* invalid) {
    DecodeIn(AnsiCodePage().iconvName, s, n, strict, out, invalid);
}

void EncodeAnsi(const char16_t* s, size_t n, std::string* out, bool* usedDefault) {
    EncodeIn(AnsiCodePage().iconvName, s, n, out, usedDefault);
}

// CP_ACP or the ANSI code page's own number: the platform knows one code page at a time.
bool IsAnsiCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == AnsiCodePage().number;
}

// A byte of a file name that names no character of the locale's character set: a lone
// surrogate, which no valid text holds, so the way back finds the same byte.
constexpr char16_t kEscapedByte = 0xDC00;
// A '\' of a file name is a character there, not a separator: Wine's private-use stand-in.
constexpr char16_t kNameBackslash = 0xF05C;

} // namespace

std::u16string AnsiToWide(const std::string& bytes) {
    std::u16string out;
    bool invalid = false;
    DecodeAnsi(bytes.data(), bytes.size(), false, &out, &invalid);
    return out;
}

std::string WideToAnsi(const std::u16string& text, bool* lossy) {
    std::string out;
    bool used = false;
    EncodeAnsi(text.data(), text.size(), &out, &used);
    if (lossy)
        *lossy = used;
    return out;
}

std::u16string Utf8ToWide(std::string_view bytes) {
    std::u16string out;
    DecodeUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &out);
    return out;
}

std::string WideToUtf8(std::u16string_view text) {
    std::string out;
    EncodeUtf8(text.data(), text.size(), &out);
    return out;
}

UINT AnsiCodePageOf(const std::string& locale) {
    return CodePageForLocale(locale).number;
}

std::u16string NativeNameToWide(const std::string& bytes) {
    std::u16string out;
    const char* codeset = LocaleCodeset();
    iconv_t cd = Converter(kHostUtf16, codeset);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (unsigned char c : bytes)
            out.push_back(c < 0x80 ? c : static_cast<char16_t>(kEscapedByte | c));
    } else {
        ConvertAll(cd, const_cast<char*>(bytes.data()), bytes.size(), &out,
                   [&](char*& in, size_t& inLeft) {
                       out.push_back(
                           static_cast<char16_t>(kEscapedByte | static_cast<unsigned char>(*in)));
                       ++in;
                       --inLeft;
                       return true;
                   });
    }
    // In the character sets a locale may use, U+005C only ever comes from a '\' byte.
    for (char16_t& c : out)
        if (c == u'\\')
            c = kNameBackslash;
    return out;
}

bool ToNativePath(const WCHAR* name, std::string* path) {
    path->clear();
    const char* codeset = LocaleCodeset();
    std::u16string run; // characters to convert together
    bool lossy = false;
    auto flush = [&]() {
        if (!run.empty())
            EncodeIn(codeset, run.data(), run.size(), path, &lossy);
        run.clear();
    };
    for (const WCHAR* p = name; p && *p; ++p) {
        char16_t c = static_cast<char16_t>(*p);
        if (c == u'\\' || c == kNameBackslash || (c >= 0xDC80 && c <= 0xDCFF)) {
            flush();
            path->push_back(c == u'\\'            ? '/'
                            : c == kNameBackslash ? '\\'
                                                  : static_cast<char>(c & 0xFF));
        } else {
            run.push_back(c);
        }
    }
    flush();
    return !path->empty() && !lossy;
}

} // namespace velmora::kernel32

using namespace velmora::kernel32;

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength,
                               LPWSTR target, int targetLength) {
    if (!source || sourceLength == 0 || targetLength < 0 || (targetLength > 0 && !target) ||
        static_cast<const void*>(source) == static_cast<const void*>(target) ||
        !IsAnsiCodePage(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    size_t length = sourceLength < 0 ? strlen(source) + 1 : static_cast<size_t>(sourceLength);
    std::u16string wide;
    bool invalid = false;
    DecodeAnsi(source, length, strict, &wide, &invalid);
    if (invalid && strict) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (targetLength == 0)
        return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(targetLength)) {
        memcpy(target, wide.data(), static_cast<size_t>(targetLength) * sizeof(WCHAR));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(target, wide.data(), wide.size() * sizeof(WCHAR));
    return static_cast<int>(wide.size());
}
