// MultiByteToWideChar for the ANSI code page (the one code page the program converts), the
// platform's own UTF-8 conversions, and the conversion of file names, which stay in the
// locale's character set. Both are looked up on every call: a process (and the tests) may
// switch locales. iconv does the work for every character set but UTF-8, which is decoded here
// so that invalid input is replaced exactly as Windows does.
#include "Kernel32Internal.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>

namespace velmora::kernel32 {

UINT AnsiCodePageOf(const std::string& locale) {
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    std::string language = name.substr(0, name.find('_'));
    std::string territory = name.size() > language.size() ? name.substr(language.size() + 1) : "";
    // Each entry's languages are separated and surrounded by spaces.
    static const std::pair<const char*, UINT> table[] = {
        {" ja ", 932},
        {" ko ", 949},
        {" th ", 874},
        {" cs hr hu pl ro sk sl sq bs ", 1250},
        {" be bg kk ky mk mn ru sr tg tt uk ", 1251},
        {" el ", 1253},
        {" az tr uz ", 1254},
        {" he ", 1255},
        {" ar fa ur ", 1256},
        {" et lt lv ", 1257},
        {" vi ", 1258},
    };
    if (language == "zh")
        return territory == "TW" || territory == "HK" || territory == "MO" ? 950 : 936;
    if (language == "sr" && locale.find("@latin") != std::string::npos)
        return 1250;
    std::string padded = " " + language + " ";
    for (const auto& [languages, codePage] : table)
        if (!language.empty() && strstr(languages, padded.c_str()))
            return codePage;
    return 1252;
}

namespace {

constexpr char16_t kReplacement = 0xFFFD;
// What iconv_open answers for a character set it does not know.
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char* kHostUtf16 = "UTF-16BE";
#else
constexpr const char* kHostUtf16 = "UTF-16LE";
#endif

// The character set of file names: the locale's own.
const char* LocaleCodeset() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset && *codeset ? codeset : "ANSI_X3.4-1968";
}

// The ANSI code page of the current LC_CTYPE, remembered per thread for the last locale seen.
UINT AnsiCodePage() {
    thread_local std::string locale;
    thread_local UINT number = 0;
    const char* current = setlocale(LC_CTYPE, nullptr);
    if (number == 0 || locale != (current ? current : "C"))
        number = AnsiCodePageOf(locale = current ? current : "C");
    return number;
}

// Its name for iconv.
std::string AnsiCodeset() {
    return "CP" + std::to_string(AnsiCodePage());
}

// One descriptor per (target, source) pair and thread: iconv descriptors carry state, and
// opening them is far slower than converting a short text.
struct ConverterCache {
    std::map<std::pair<std::string, std::string>, iconv_t> converters;
    ~ConverterCache() {
        for (auto& entry : converters)
            if (entry.second != kNoConverter)
                iconv_close(entry.second);
    }
};

iconv_t Converter(const char* to, const char* from) {
    thread_local ConverterCache cache;
    auto [at, added] = cache.converters.try_emplace({to, from}, kNoConverter);
    if (added)
        at->second = iconv_open(to, from);
    return at->second;
}

// Runs iconv over the whole input, appending what it gives to out. Where iconv meets a
// sequence it cannot convert, onBad(at, left) answers how many bytes to step over (0: stop).
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
        if (result != static_cast<size_t>(-1) && inLeft == 0)
            break;
        if (result != static_cast<size_t>(-1) || error == E2BIG)
            continue;
        const size_t skip = onBad(in, inLeft);
        if (skip == 0)
            return;
        in += skip;
        inLeft -= skip;
    }
}

// Bytes in a character set to UTF-16; true when some were invalid. A byte that does not start
// a valid character (or a character cut off by the end of the input) becomes '?', like
// Windows' default Unicode character for the DBCS code pages. Stops early when strict.
bool DecodeIn(const char* codeset, const char* s, size_t n, bool strict, std::u16string* out) {
    iconv_t cd = Converter(kHostUtf16, codeset);
    if (cd == kNoConverter) {
        // A character set iconv does not know: read it as Latin-1 rather than fail.
        const auto* bytes = reinterpret_cast<const unsigned char*>(s);
        out->append(bytes, bytes + n);
        return false;
    }
    bool invalid = false;
    ConvertAll(cd, const_cast<char*>(s), n, out, [&](const char*, size_t) -> size_t {
        invalid = true;
        if (strict)
            return 0;
        out->push_back(u'?');
        return 1;
    });
    return invalid;
}

// UTF-16 to a character set; characters it lacks become '?' and make the answer true.
bool EncodeIn(const char* codeset, const char16_t* s, size_t n, std::string* out) {
    if (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0) {
        *out += WideToUtf8({s, n});
        return false;
    }
    bool usedDefault = false;
    iconv_t cd = Converter(codeset, kHostUtf16);
    if (cd == kNoConverter) {
        for (size_t i = 0; i < n; ++i) {
            usedDefault |= s[i] >= 0x100;
            out->push_back(s[i] < 0x100 ? static_cast<char>(s[i]) : '?');
        }
        return usedDefault;
    }
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(s));
    ConvertAll(cd, in, n * sizeof(char16_t), out, [&](const char* at, size_t left) -> size_t {
        // Not representable (or an unpaired surrogate): one default character per
        // character, so a surrogate pair is skipped whole.
        usedDefault = true;
        out->push_back('?');
        const char16_t* unit = reinterpret_cast<const char16_t*>(at);
        const bool pair = left >= 4 && unit[0] >= 0xD800 && unit[0] <= 0xDBFF &&
                          unit[1] >= 0xDC00 && unit[1] <= 0xDFFF;
        return (pair ? 2 : 1) * sizeof(char16_t);
    });
    return usedDefault;
}

// A byte of a file name that names no character of the locale's character set: a lone
// surrogate, which no valid text holds, so the way back finds the same byte.
constexpr char16_t kEscapedByte = 0xDC00;
// A '\' of a file name is a character there, not a separator: Wine's private-use stand-in.
constexpr char16_t kNameBackslash = 0xF05C;

} // namespace

std::u16string AnsiToWide(const std::string& bytes) {
    std::u16string out;
    DecodeIn(AnsiCodeset().c_str(), bytes.data(), bytes.size(), false, &out);
    return out;
}

std::string WideToAnsi(const std::u16string& text, bool* lossy) {
    std::string out;
    const bool used = EncodeIn(AnsiCodeset().c_str(), text.data(), text.size(), &out);
    if (lossy)
        *lossy = used;
    return out;
}

// UTF-8 with the replacement rule of the Unicode standard (one U+FFFD per maximal subpart
// of an ill-formed sequence), which is what Windows does since Vista.
std::u16string Utf8ToWide(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    std::u16string out;
    for (size_t i = 0; i < n;) {
        const unsigned char lead = s[i++];
        if (lead < 0x80) {
            out.push_back(lead);
            continue;
        }
        const int extra = lead < 0xC2 || lead > 0xF4 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        // The second byte's range excludes overlong forms, surrogates and values past U+10FFFF.
        const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        uint32_t c = lead & (0x3F >> extra);
        int got = 0;
        for (; got < extra && i < n && s[i] >= (got ? 0x80 : low) && s[i] <= (got ? 0xBF : high);
             ++got)
            c = c << 6 | (s[i++] & 0x3F);
        if (extra == 0 || got < extra)
            c = kReplacement;
        else if (c >= 0x10000)
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(c >= 0x10000 ? 0xDC00 + (c & 0x3FF) : c));
    }
    return out;
}

std::string WideToUtf8(std::u16string_view text) {
    static const unsigned char kLeadMark[] = {0x00, 0xC0, 0xE0, 0xF0};
    const char16_t* s = text.data();
    const size_t n = text.size();
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = kReplacement;
        const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        out.push_back(static_cast<char>(kLeadMark[extra] | c >> (6 * extra)));
        for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6)
            out.push_back(static_cast<char>(0x80 | ((c >> shift) & 0x3F)));
    }
    return out;
}

std::u16string NativeNameToWide(const std::string& bytes) {
    std::u16string out;
    const char* codeset = LocaleCodeset();
    iconv_t cd = Converter(kHostUtf16, codeset);
    if (cd == kNoConverter) {
        for (unsigned char c : bytes)
            out.push_back(c < 0x80 ? c : static_cast<char16_t>(kEscapedByte | c));
    } else {
        ConvertAll(cd, const_cast<char*>(bytes.data()), bytes.size(), &out,
                   [&](const char* at, size_t) -> size_t {
                       out.push_back(kEscapedByte | static_cast<unsigned char>(*at));
                       return 1;
                   });
    }
    // In the character sets a locale may use, U+005C only ever comes from a '\' byte.
    std::replace(out.begin(), out.end(), u'\\', kNameBackslash);
    return out;
}

bool ToNativePath(const WCHAR* name, std::string* path) {
    path->clear();
    const char* codeset = LocaleCodeset();
    std::u16string run; // characters to convert together
    bool lossy = false;
    auto flush = [&]() {
        lossy |= EncodeIn(codeset, run.data(), run.size(), path);
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
        // CP_ACP or its own number: the platform knows one code page at a time.
        (codePage != CP_ACP && codePage != AnsiCodePage()))
        return Fail(ERROR_INVALID_PARAMETER);
    bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    size_t length = sourceLength < 0 ? strlen(source) + 1 : static_cast<size_t>(sourceLength);
    std::u16string wide;
    if (DecodeIn(AnsiCodeset().c_str(), source, length, strict, &wide) && strict)
        return Fail(ERROR_NO_UNICODE_TRANSLATION);
    if (targetLength == 0)
        return static_cast<int>(wide.size());
    const size_t fits = std::min(wide.size(), static_cast<size_t>(targetLength));
    memcpy(target, wide.data(), fits * sizeof(WCHAR));
    return fits < wide.size() ? Fail(ERROR_INSUFFICIENT_BUFFER) : static_cast<int>(fits);
}
