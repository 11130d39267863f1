// wsprintfW: the Windows formatter, not the C library's. Its conversions are
// %[-][#][0][width][.precision][h|l|I64]type with type c C d i u x X s S; it knows no
// floating point, and it never writes more than 1024 characters including the terminator.
#include "Kernel32Internal.h"

#include <algorithm>

#include <stdarg.h>

using namespace velmora::kernel32;

namespace {

constexpr int kMaxOutput = 1024;

class Output {
  public:
    explicit Output(LPWSTR buffer) : buffer_(buffer) {}
    void Put(char16_t c) {
        if (length_ < kMaxOutput - 1)
            buffer_[length_++] = static_cast<WCHAR>(c);
    }
    void Repeat(char16_t c, int count) {
        for (int i = 0; i < count && !Full(); ++i)
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

enum Flags { kLeft = 1, kZero = 2, kPrefix = 4 };
enum class Size { Default, Short, Long, Int64 };

void PutText(Output& out, const std::u16string& text, int flags, int width, int precision) {
    int length = static_cast<int>(text.size());
    if (precision >= 0 && precision < length)
        length = precision;
    if (!(flags & kLeft))
        out.Repeat(u' ', width - length);
    for (int i = 0; i < length; ++i)
        out.Put(text[static_cast<size_t>(i)]);
    if (flags & kLeft)
        out.Repeat(u' ', width - length);
}

void PutNumber(Output& out, uint64_t magnitude, bool negative, int base, bool upper, int flags,
               int width, int precision) {
    char16_t digits[32];
    int count = 0;
    const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[count++] = static_cast<char16_t>(alphabet[magnitude % static_cast<unsigned>(base)]);
        magnitude /= static_cast<unsigned>(base);
    } while (magnitude);
    std::u16string prefix;
    if (negative)
        prefix = u"-";
    else if ((flags & kPrefix) && base == 16)
        prefix = upper ? u"0X" : u"0x";
    int zeros = precision > count ? precision - count : 0;
    int length = static_cast<int>(prefix.size()) + zeros + count;
    if ((flags & kZero) && !(flags & kLeft) && precision < 0 && width > length) {
        zeros += width - length;
        length = width;
    }
    if (!(flags & kLeft))
        out.Repeat(u' ', width - length);
    for (char16_t c : prefix)
        out.Put(c);
    out.Repeat(u'0', zeros);
    while (count)
        out.Put(digits[--count]);
    if (flags & kLeft)
        out.Repeat(u' ', width - length);
}

int Format(LPWSTR buffer, LPCWSTR format, va_list args) {
    Output out(buffer);
    const WCHAR* p = format;
    while (p && *p && !out.Full()) {
        if (*p != u'%') {
            out.Put(static_cast<char16_t>(*p++));
            continue;
        }
        ++p;
        if (*p == u'%') {
            out.Put(u'%');
            ++p;
            continue;
        }
        int flags = 0;
        for (;; ++p) {
            if (*p == u'-')
                flags |= kLeft;
            else if (*p == u'#')
                flags |= kPrefix;
            else if (*p == u'0')
                flags |= kZero;
            else
                break;
        }
        // Nothing wider than the whole output can show: clamping keeps the arithmetic
        // below from overflowing on a width like %99999999999d.
        int width = 0;
        while (*p >= u'0' && *p <= u'9')
            width = std::min(width * 10 + (*p++ - u'0'), kMaxOutput);
        int precision = -1;
        if (*p == u'.') {
            ++p;
            precision = 0;
            while (*p >= u'0' && *p <= u'9')
                precision = std::min(precision * 10 + (*p++ - u'0'), kMaxOutput);
        }
        Size size = Size::Default;
        if (*p == u'h') {
            size = Size::Short;
            ++p;
        } else if (*p == u'l') {
            size = Size::Long;
            ++p;
        } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
            size = Size::Int64;
            p += 3;
        }
        if (!*p)
            break;
        // 'l' means 32 bits, as on Windows, whatever long is here.
        switch (*p) {
        case u'c':
        case u'C': {
            bool narrow = size == Size::Short || (*p == u'C' && size != Size::Long);
            int value = va_arg(args, int);
            std::u16string text;
            if (narrow)
                text = AnsiToWide(std::string(1, static_cast<char>(value)));
            else
                text.push_back(static_cast<char16_t>(value));
            PutText(out, text, flags, width, -1);
            break;
        }
        case u's':
        case u'S': {
            bool narrow = size == Size::Short || (*p == u'S' && size != Size::Long);
            std::u16string text;
            if (narrow) {
                const char* value = va_arg(args, const char*);
                text = value ? AnsiToWide(value) : u"(null)";
            } else {
                const WCHAR* value = va_arg(args, const WCHAR*);
                if (value)
                    text.assign(reinterpret_cast<const char16_t*>(value), WideLength(value));
                else
                    text = u"(null)";
            }
            PutText(out, text, flags, width, precision);
            break;
        }
        case u'd':
        case u'i': {
            int64_t value = size == Size::Int64 ? va_arg(args, int64_t)
                                                : static_cast<int64_t>(va_arg(args, int32_t));
            if (size == Size::Short)
                value = static_cast<int16_t>(value);
            uint64_t magnitude =
                value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
            PutNumber(out, magnitude, value < 0, 10, false, flags, width, precision);
            break;
        }
        case u'u':
        case u'x':
        case u'X': {
            uint64_t value = size == Size::Int64 ? va_arg(args, uint64_t)
                                                 : static_cast<uint64_t>(va_arg(args, uint32_t));
            if (size == Size::Short)
                value = static_cast<uint16_t>(value);
            PutNumber(out, value, false, *p == u'u' ? 10 : 16, *p == u'X', flags, width, precision);
            break;
        }
        default:
            // Windows drops the broken conversion and prints the unknown letter.
            out.Put(static_cast<char16_t>(*p));
            break;
        }
        ++p;
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
