#include "wininet/Curl.h"

#include <stdio.h>

#include <string>

#include "kernel32/Kernel32Internal.h"

namespace velmora::wininet {

const CurlLibrary* OpenCurl() {
    // A static's initialisation runs once, also when threads race to it.
    static const CurlLibrary* library = [] {
        std::string why;
        void* entry = velmora::kernel32::ModuleEntryBesideProgram(VELMORA_CURL_MODULE,
                                                                  "velmora_curl_library", why);
        const CurlLibrary* calls =
            entry ? reinterpret_cast<decltype(&velmora_curl_library)>(entry)() : nullptr;
        if (!calls)
            fprintf(stderr, "velmora-player: cannot load libcurl: %s\n",
                    entry ? "it did not start" : why.c_str());
        return calls;
    }();
    return library;
}

const CurlLibrary& Curl() {
    return *OpenCurl();
}

} // namespace velmora::wininet
