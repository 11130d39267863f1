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

class Output {
  public:
    explicit Output(LPWSTR buffer) : buffer_(buffer) {}
    void Put(char16_t c) {
        if (!Full())
            buffer_[length_++] = static_cast<WCHAR>(c);
    }
    void Repeat(char16_t c, int count) {
        for (int i = 0; i < count; ++i)
            Put(c);
    }
    bool Full() const { return length_ >= kMaxOutput - 1; }
    int Finish() {
        buffer_[length_] = 0;
        return length_;
    }

  private:
    LPWSTR buffer_;
    int length_ = 0;
};

void PutNumber(Output& out, int value, bool zeroPad, int width) {
    char16_t digits[16];
    int count = 0;
    // Negated in unsigned arithmetic so that INT_MIN has a magnitude too.
    unsigned magnitude =
        value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    int length = count + (value < 0 ? 1 : 0);
    if (!zeroPad)
        out.Repeat(u' ', width - length);
    if (value < 0)
        out.Put(u'-');
    if (zeroPad)
        out.Repeat(u'0', width - length);
    while (count)
        out.Put(digits[--count]);
}

int Format(LPWSTR buffer, LPCWSTR format, va_list args) {
    Output out(buffer);
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
        switch (*p) {
        case u'd':
        case u'i':
            PutNumber(out, va_arg(args, int), zeroPad, width);
            break;
        case u's': {
            const WCHAR* value = va_arg(args, const WCHAR*);
            std::u16string text = value ? WideString(value) : u"(null)";
            out.Repeat(u' ', width - static_cast<int>(text.size()));
            for (char16_t c : text)
                out.Put(c);
            break;
        }
        default: // '%' itself, or a conversion it does not know: the letter is printed
            out.Put(static_cast<char16_t>(*p));
            break;
        }
    }
    return out.Finish();
}

} // namespace

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    if (!buffer)
        return 0;
    va_list args;
    va_start(args, format);
    int written = Format(buffer, format, args);
    va_end(args);
    return written;
}
