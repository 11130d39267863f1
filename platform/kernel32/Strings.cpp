#include "kernel32/Strings.h"

#include <algorithm>

namespace velmora::kernel32 {
namespace {

char16_t Fold(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7) ||
        (c >= 0x03B1 && c <= 0x03C9 && c != 0x03C2) || (c >= 0x0430 && c <= 0x044F) ||
        (c >= 0xFF41 && c <= 0xFF5A))
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x0450 && c <= 0x045F)
        return static_cast<char16_t>(c - 0x50);
    return c;
}

} // namespace

// Read as char16_t: the C library's wcslen expects 32-bit characters.
size_t WideLength(const WCHAR* text) {
    return text ? std::char_traits<char16_t>::length(reinterpret_cast<const char16_t*>(text)) : 0;
}

std::u16string WideString(const WCHAR* text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), WideLength(text));
}

size_t CopyCut(std::u16string_view text, WCHAR* buffer, size_t capacity) {
    size_t count = std::min(text.size(), capacity - 1);
    std::copy_n(text.begin(), count, buffer);
    buffer[count] = 0;
    return count;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

} // namespace velmora::kernel32

using namespace velmora::kernel32;

// The lstr* functions the program calls.
int WINAPI lstrlenW(LPCWSTR text) {
    return static_cast<int>(WideLength(text));
}

// Ordinal comparison. Windows compares linguistically, but the program only ever tests
// for equality, where both agree; NULL sorts before every string, as on Windows.
int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b) {
    if (!a || !b)
        return a ? 1 : b ? -1 : 0;
    const int order = WideString(a).compare(WideString(b)); // by unsigned code unit
    return (order > 0) - (order < 0);
}

LPWSTR WINAPI lstrcpyW(LPWSTR target, LPCWSTR source) {
    // Windows catches the access fault of a null pointer and returns NULL.
    if (!target || !source)
        return nullptr;
    std::copy_n(source, WideLength(source) + 1, target);
    return target;
}
