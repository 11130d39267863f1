#include "Range.h"

#include "Text.h"

#include <string_view>

namespace velmora::site {

namespace {

bool ParseNumber(std::string_view text, uint64_t* value) {
    // Zero padding is allowed: nothing forbids a client to send it.
    std::optional<uint64_t> number = ParseDecimal(text, UINT64_MAX, true);
    if (!number) {
        return false;
    }
    *value = *number;
    return true;
}

std::string_view Trim(std::string_view text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) {
        return {};
    }
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

} // namespace

ByteRange ParseRange(const char* header, uint64_t size) {
    ByteRange whole;
    if (!header) {
        return whole;
    }
    std::string_view rangeText = Trim(header);
    // Range units are case-insensitive: "BYTES=0-9" is a byte range too.
    if (AsciiLower(rangeText.substr(0, 6)) != "bytes=") {
        return whole;
    }
    rangeText = Trim(rangeText.substr(6));
    if (rangeText.find(',') != std::string_view::npos) {
        return whole;
    }
    size_t dash = rangeText.find('-');
    if (dash == std::string_view::npos) {
        return whole;
    }
    std::string_view from = Trim(rangeText.substr(0, dash));
    std::string_view to = Trim(rangeText.substr(dash + 1));

    ByteRange range;
    range.kind = ByteRange::Partial;
    if (from.empty()) {
        uint64_t suffix;
        if (!ParseNumber(to, &suffix)) {
            return whole;
        }
        if (suffix == 0 || size == 0) {
            range.kind = ByteRange::Unsatisfiable;
            return range;
        }
        range.first = suffix >= size ? 0 : size - suffix;
        range.last = size - 1;
        return range;
    }
    if (!ParseNumber(from, &range.first)) {
        return whole;
    }
    if (to.empty()) {
        range.last = size == 0 ? 0 : size - 1;
    } else if (!ParseNumber(to, &range.last) || range.last < range.first) {
        return whole;
    }
    if (range.first >= size) {
        range.kind = ByteRange::Unsatisfiable;
        return range;
    }
    if (range.last >= size) {
        range.last = size - 1;
    }
    return range;
}

} // namespace velmora::site
