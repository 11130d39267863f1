#include "user32/WindowStore.h"

namespace velmora::platform {

std::u16string WideToU16(LPCWSTR text) {
    std::u16string out;
    for (; text && *text; ++text)
        out += static_cast<char16_t>(*text);
    return out;
}

size_t CopyToBuffer(const std::u16string& text, WCHAR* out, size_t capacity) {
    size_t count = text.size() < capacity - 1 ? text.size() : capacity - 1;
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<WCHAR>(text[i]);
    out[count] = 0;
    return count;
}

std::string ToUtf8(const std::u16string& text) {
    if (text.empty())
        return {};
    const WCHAR* wide = reinterpret_cast<const WCHAR*>(text.data());
    int needed =
        WideCharToMultiByte(CP_UTF8, 0, wide, (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(needed > 0 ? needed : 0, '\0');
    if (needed > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide, (int)text.size(), out.data(), needed, nullptr,
                            nullptr);
    return out;
}

std::u16string FromUtf8(const std::string& text) {
    if (text.empty())
        return {};
    int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::u16string out(needed > 0 ? needed : 0, u'\0');
    if (needed > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(),
                            reinterpret_cast<WCHAR*>(out.data()), needed);
    return out;
}

} // namespace velmora::platform
