// wsprintfW: Windows' own formatter, not the C library's, with the conversions the program
// formats: %[0][width] followed by d, i or s, and %%. Like Windows it writes at most 1024
// characters with the terminator and prints the letter of a conversion it does not know.
#include <windows.h>

#include "kernel32/Strings.h"

#include <algorithm>

#include <stdarg.h>

using velmora::kernel32::WideString;

namespace {

constexpr int kMaxOutput = 1024;

// The text written so far, which never grows past kMaxOutput - 1 characters.
struct Output {
    LPWSTR buffer;
    int length = 0;

    bool Full() const { return length >= kMaxOutput - 1; }
    void Put(char16_t c, int count = 1) {
        for (; count > 0 && !Full(); --count)
            buffer[length++] = static_cast<WCHAR>(c);
    }
};

void PutNumber(Output& out, int value, bool zeroPad, int width) {
    // Negated in unsigned arithmetic so that INT_MIN has a magnitude too.
    std::string digits = std::to_string(value < 0 ? 0u - static_cast<unsigned>(value)
                                                  : static_cast<unsigned>(value));
    int padding = width - static_cast<int>(digits.size()) - (value < 0 ? 1 : 0);
    out.Put(u' ', zeroPad ? 0 : padding);
    if (value < 0)
        out.Put(u'-');
    out.Put(u'0', zeroPad ? padding : 0);
    for (char digit : digits)
        out.Put(static_cast<char16_t>(digit));
}

} // namespace

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    if (!buffer)
        return 0;
    va_list args;
    va_start(args, format);
    Output out{buffer};
    for (const WCHAR* p = format; p && *p && !out.Full(); ++p) {
        if (*p != u'%') {
            out.Put(static_cast<char16_t>(*p));
            continue;
        }
        ++p;
        bool zeroPad = *p == u'0';
        if (zeroPad)
            ++p;
        // Nothing wider than the whole output can show: the cap keeps the sum from overflowing.
        int width = 0;
        while (*p >= u'0' && *p <= u'9')
            width = std::min(width * 10 + (*p++ - u'0'), kMaxOutput);
        if (!*p)
            break;
        if (*p == u'd' || *p == u'i') {
            PutNumber(out, va_arg(args, int), zeroPad, width);
        } else if (*p == u's') {
            const WCHAR* value = va_arg(args, const WCHAR*);
            std::u16string text = value ? WideString(value) : u"(null)";
            out.Put(u' ', width - static_cast<int>(text.size()));
            for (char16_t c : text)
                out.Put(c);
        } else { // '%' itself, or a conversion it does not know: the letter is printed
            out.Put(static_cast<char16_t>(*p));
        }
    }
    va_end(args);
    buffer[out.length] = 0;
    return out.length;
}
