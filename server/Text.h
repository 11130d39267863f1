// Small text helpers shared by the pages and the plain-text answers.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::site {

// Escapes the five characters that are special in HTML text and attribute values.
std::string HtmlEscape(const std::string& text);

// Percent-encodes everything except the unreserved characters, for one path segment.
std::string PercentEncode(const std::string& text);

// ASCII letters in lower case, every other byte as it is: for names and tokens of the
// protocol, never for text a person reads.
std::string AsciiLower(std::string_view text);

// A plain decimal number, digits only (no sign or blanks), at most max. A leading zero is
// refused unless leadingZeros (episode files are zero-padded, addresses and options not).
std::optional<uint64_t> ParseDecimal(std::string_view text, uint64_t max,
                                     bool leadingZeros = false);

bool IsValidUtf8(const std::string& text);

// RFC 9110's IMF-fixdate (the site never leaves the C locale).
std::string HttpDate(time_t when);

// Converts UTF-8 text into the named character set; nothing when a character has no
// encoding there or the character set is unknown.
std::optional<std::string> FromUtf8(const std::string& text, const std::string& charset);

} // namespace velmora::site
