#include "Text.h"

#include <iconv.h>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace velmora::site {

std::string HttpDate(time_t when) {
    tm t{};
    gmtime_r(&when, &t);
    char text[40];
    return std::string(text, strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &t));
}

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const char* entity = c == '&'    ? "&amp;"
                             : c == '<'  ? "&lt;"
                             : c == '>'  ? "&gt;"
                             : c == '"'  ? "&quot;"
                             : c == '\'' ? "&#39;"
                                         : nullptr;
        if (entity) {
            out += entity;
        } else {
            out += c;
        }
    }
    return out;
}

std::string PercentEncode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (isalnum(c) || (c && strchr("-._~", c))) {
            out += static_cast<char>(c);
        } else {
            char escaped[4];
            out.append(escaped,
                       static_cast<size_t>(snprintf(escaped, sizeof escaped, "%%%02X", c)));
        }
    }
    return out;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::optional<uint64_t> ParseDecimal(std::string_view text, uint64_t max, bool leadingZeros) {
    if (text.empty() || (!leadingZeros && text.size() > 1 && text[0] == '0')) {
        return std::nullopt;
    }
    // value * 10 + digit <= max, without a division per digit.
    const uint64_t tenth = max / 10;
    const uint64_t lastDigit = max % 10;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > tenth || (value == tenth && digit > lastDigit)) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

bool IsValidUtf8(const std::string& text) {
    // iconv refuses what is not UTF-8: bad sequences, overlong forms and surrogates.
    return FromUtf8(text, "UTF-8").has_value();
}

std::optional<std::string> FromUtf8(const std::string& text, const std::string& charset) {
    iconv_t cd = iconv_open(charset.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    // Neither UTF-8 nor GBK has shift states, so nothing is left to flush at the end.
    std::string out(text.size() * 2, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outAt = out.data();
    size_t outLeft = out.size();
    const bool ok = iconv(cd, &in, &inLeft, &outAt, &outLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return ok ? std::optional<std::string>(out) : std::nullopt;
}

} // namespace velmora::site
