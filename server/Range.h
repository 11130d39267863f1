// The single byte ranges media requests use ("bytes=a-b", "bytes=a-", "bytes=-n").
#pragma once

#include <cstdint>

namespace velmora::site {

struct ByteRange {
    enum Kind {
        Whole,        // no usable Range header: send the whole file with 200
        Partial,      // send [first, last] with 206
        Unsatisfiable // 416
    } kind = Whole;
    uint64_t first = 0;
    uint64_t last = 0; // inclusive
};

// header may be null. Headers that are malformed, name another unit or ask for several
// ranges are ignored (the whole file is sent), as HTTP allows.
ByteRange ParseRange(const char* header, uint64_t size);

} // namespace velmora::site
