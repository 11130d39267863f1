// Wide text as every DLL of the platform handles it: one conversion each way between UTF-16
// and UTF-8, one copy into a caller's buffer, one trim and one case-insensitive comparison.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

namespace velmora::kernel32 {

// Length of a zero-terminated UTF-16 string (NULL counts as empty).
size_t WideLength(const WCHAR* text);

// A zero-terminated UTF-16 string as a string (NULL counts as empty).
std::u16string WideString(const WCHAR* text);

// UTF-8 <-> UTF-16 with the replacement rules of CP_UTF8: an ill-formed sequence or an
// unpaired surrogate becomes U+FFFD.
std::u16string Utf8ToWide(std::string_view bytes);
std::string WideToUtf8(std::u16string_view text);
inline std::string WideToUtf8(const WCHAR* text) {
    return WideToUtf8(WideString(text));
}

// Copies at most capacity - 1 characters of text and a terminator, as Win32 functions fill a
// caller's buffer: the text is cut to fit. Returns the characters copied. capacity >= 1.
size_t CopyCut(std::u16string_view text, WCHAR* buffer, size_t capacity);

// Without the blanks (spaces and tabs) around it; a view into text (std::string,
// std::u16string or a view of either).
template <class Text> auto Trim(const Text& whole) {
    std::basic_string_view<typename Text::value_type> text(whole);
    const typename Text::value_type blanks[] = {' ', '\t', 0};
    text.remove_prefix(std::min(text.find_first_not_of(blanks), text.size()));
    return text.substr(0, text.find_last_not_of(blanks) + 1); // npos + 1 is 0: all blank
}

// Equal without regard to case, as Windows compares the names of window classes, profile
// sections and keys (simple case folding for the scripts that have case).
bool EqualNoCase(std::u16string_view a, std::u16string_view b);

} // namespace velmora::kernel32
