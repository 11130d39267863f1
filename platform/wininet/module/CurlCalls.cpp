// The libcurl module: the program reaches libcurl only through this table.
#include "wininet/Curl.h"

extern "C" __attribute__((visibility("default"))) const velmora::wininet::CurlLibrary*
velmora_curl_library() {
#define VELMORA_CURL_ENTRY(name) curl_##name,
    static const velmora::wininet::CurlLibrary calls = {VELMORA_CURL_CALLS(VELMORA_CURL_ENTRY)};
    // Once for the process, before the first handle, as libcurl asks.
    static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return started ? &calls : nullptr;
}
