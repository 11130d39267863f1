// Small text helpers shared by the pages and the plain-text answers.
#pragma once

#include <optional>
#include <string>

namespace velmora::site {

// Escapes the five characters that are special in HTML text and attribute values.
std::string HtmlEscape(const std::string& text);

// Percent-encodes everything except the unreserved characters, for one path segment.
std::string PercentEncode(const std::string& text);

bool IsValidUtf8(const std::string& text);

// Converts UTF-8 text into the named character set; nothing when a character has no
// encoding there or the character set is unknown.
std::optional<std::string> FromUtf8(const std::string& text, const std::string& charset);

} // namespace velmora::site
