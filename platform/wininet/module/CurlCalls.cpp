// The libcurl module: the program reaches libcurl only through this table.
#include "wininet/Curl.h"

extern "C" __attribute__((visibility("default"))) const velmora::wininet::CurlLibrary*
velmora_curl_library() {
    static const velmora::wininet::CurlLibrary calls = {
        curl_easy_cleanup,
        curl_easy_getinfo,
        curl_easy_header,
        curl_easy_init,
        curl_easy_setopt,
        curl_free,
        curl_multi_add_handle,
        curl_multi_cleanup,
        curl_multi_info_read,
        curl_multi_init,
        curl_multi_perform,
        curl_multi_poll,
        curl_multi_remove_handle,
        curl_multi_wakeup,
        curl_slist_append,
        curl_slist_free_all,
        curl_url,
        curl_url_cleanup,
        curl_url_get,
        curl_url_set,
    };
    // Once for the process, before the first handle, as libcurl asks.
    static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return started ? &calls : nullptr;
}
