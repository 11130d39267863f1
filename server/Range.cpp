#include "Range.h"

#include "Text.h"

#include <algorithm>
#include <string_view>

namespace velmora::site {

namespace {

std::string_view Trim(std::string_view text) {
    const size_t begin = text.find_first_not_of(" \t");
    return begin == std::string_view::npos
               ? std::string_view()
               : text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

} // namespace

ByteRange ParseRange(const char* header, uint64_t size) {
    // Range units are case-insensitive: "BYTES=0-9" is a byte range too.
    std::string_view text = Trim(header ? header : "");
    if (AsciiLower(text.substr(0, 6)) != "bytes=") {
        return {};
    }
    text = Trim(text.substr(6));
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos || text.find(',') != std::string_view::npos) {
        return {};
    }
    // Zero padding is allowed: nothing forbids a client to send it.
    const std::optional<uint64_t> from = ParseDecimal(Trim(text.substr(0, dash)), UINT64_MAX, true);
    const std::string_view toText = Trim(text.substr(dash + 1));
    const std::optional<uint64_t> to = ParseDecimal(toText, UINT64_MAX, true);
    ByteRange range{ByteRange::Partial, 0, size == 0 ? 0 : size - 1};
    if (!from) { // "-n": the last n bytes
        if (!to || dash != 0) {
            return {};
        }
        range.first = *to >= size ? 0 : size - *to;
        range.kind = *to == 0 || size == 0 ? ByteRange::Unsatisfiable : ByteRange::Partial;
        return range;
    }
    if (!toText.empty() && (!to || *to < *from)) {
        return {};
    }
    range.first = *from;
    range.last = to ? std::min(*to, range.last) : range.last;
    range.kind = *from >= size ? ByteRange::Unsatisfiable : ByteRange::Partial;
    return range;
}

} // namespace velmora::site
