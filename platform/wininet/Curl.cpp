#include "wininet/Curl.h"

#include <dlfcn.h>
#include <stdio.h>

namespace velmora::wininet {
namespace {

// The run-time name of libcurl 7 and 8 (the one the package depends on).
const char kLibrary[] = "libcurl.so.4";

template <class Function> bool Find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

const CurlLibrary* Load() {
    // Local: its symbols stay out of the lookups of everything loaded later.
    void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    static CurlLibrary curl;
    decltype(&curl_global_init) globalInit = nullptr;
    bool found = library && Find(library, "curl_global_init", globalInit) &&
                 Find(library, "curl_easy_cleanup", curl.easy_cleanup) &&
                 Find(library, "curl_easy_getinfo", curl.easy_getinfo) &&
                 Find(library, "curl_easy_header", curl.easy_header) &&
                 Find(library, "curl_easy_init", curl.easy_init) &&
                 Find(library, "curl_easy_setopt", curl.easy_setopt) &&
                 Find(library, "curl_free", curl.free) &&
                 Find(library, "curl_multi_add_handle", curl.multi_add_handle) &&
                 Find(library, "curl_multi_cleanup", curl.multi_cleanup) &&
                 Find(library, "curl_multi_info_read", curl.multi_info_read) &&
                 Find(library, "curl_multi_init", curl.multi_init) &&
                 Find(library, "curl_multi_perform", curl.multi_perform) &&
                 Find(library, "curl_multi_poll", curl.multi_poll) &&
                 Find(library, "curl_multi_remove_handle", curl.multi_remove_handle) &&
                 Find(library, "curl_multi_wakeup", curl.multi_wakeup) &&
                 Find(library, "curl_slist_append", curl.slist_append) &&
                 Find(library, "curl_slist_free_all", curl.slist_free_all) &&
                 Find(library, "curl_url", curl.url) &&
                 Find(library, "curl_url_cleanup", curl.url_cleanup) &&
                 Find(library, "curl_url_get", curl.url_get) &&
                 Find(library, "curl_url_set", curl.url_set);
    if (!found) {
        fprintf(stderr, "velmora-player: cannot load %s: %s\n", kLibrary,
                library ? "a function is missing (libcurl older than 7.85?)" : dlerror());
        return nullptr;
    }
    // Once for the process, before the first handle, as libcurl asks.
    return globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK ? &curl : nullptr;
}

} // namespace

const CurlLibrary* OpenCurl() {
    // A static's initialisation runs once, also when threads race to it.
    static const CurlLibrary* library = Load();
    return library;
}

const CurlLibrary& Curl() {
    return *OpenCurl();
}

} // namespace velmora::wininet
