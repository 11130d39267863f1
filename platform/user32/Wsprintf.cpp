// wsprintfW: Windows' own formatter, not the C library's, with the conversions the program
// formats: %[0][width] followed by d, i or s, and %%. Like Windows it writes at most 1024
// characters with the terminator and prints the letter of a conversion it does not know.
#include <windows.h>

#include "kernel32/Strings.h"

#include <algorithm>
#include <string>

#include <stdarg.h>

using velmora::kernel32::WideString;

namespace {
constexpr size_t kMaxOutput = 1024;
}

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    if (!buffer)
        return 0;
    va_list args;
    va_start(args, format);
    std::u16string out;
    for (const WCHAR* p = format; p && *p && out.size() < kMaxOutput - 1; ++p) {
        if (*p != u'%') {
            out += static_cast<char16_t>(*p);
            continue;
        }
        ++p;
        bool zeroPad = *p == u'0';
        if (zeroPad)
            ++p;
        // Nothing wider than the whole output can show: the cap keeps the sum from overflowing.
        size_t width = 0;
        while (*p >= u'0' && *p <= u'9')
            width = std::min(width * 10 + (*p++ - u'0'), kMaxOutput);
        if (!*p)
            break;
        if (*p == u'd' || *p == u'i') {
            std::string number = std::to_string(va_arg(args, int));
            // The width counts the sign; zeros go after it.
            if (number.size() < width)
                number.insert(zeroPad && number[0] == '-' ? 1 : 0, width - number.size(),
                              zeroPad ? '0' : ' ');
            out.append(number.begin(), number.end());
        } else if (*p == u's') {
            const WCHAR* value = va_arg(args, const WCHAR*);
            std::u16string text = value ? WideString(value) : u"(null)";
            out.append(width > text.size() ? width - text.size() : 0, u' ').append(text);
        } else { // '%' itself, or a conversion it does not know: the letter is printed
            out += static_cast<char16_t>(*p);
        }
    }
    va_end(args);
    size_t length = std::min(out.size(), kMaxOutput - 1);
    std::copy_n(out.data(), length, buffer);
    buffer[length] = 0;
    return static_cast<int>(length);
}
