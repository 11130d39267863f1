// Any Range header against any file size: a partial answer always lies inside the file.
#include "Range.h"

#include <stdlib.h>
#include <string.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8)
        return 0;
    uint64_t fileSize;
    memcpy(&fileSize, data, sizeof fileSize);
    fileSize %= 1ull << 40;
    std::string header(reinterpret_cast<const char*>(data + 8), size - 8);
    velmora::site::ByteRange range = velmora::site::ParseRange(header.c_str(), fileSize);
    if (range.kind == velmora::site::ByteRange::Partial &&
        (range.first > range.last || range.last >= fileSize))
        abort();
    if (range.kind == velmora::site::ByteRange::Unsatisfiable &&
        header.find('=') == std::string::npos)
        abort(); // only a real byte-range request can be refused
    return 0;
}
