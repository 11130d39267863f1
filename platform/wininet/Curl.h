// libcurl behind a module of its own (wininet/module/), linked against it and installed beside
// the program, which opens it on its first InternetOpenW: libcurl and the TLS, Kerberos, LDAP
// and SSH libraries it needs take longer to load at start-up than GTK takes to open the
// display, and most starts fetch nothing.
#pragma once

#include <curl/curl.h>

namespace velmora::wininet {

// The libcurl calls WinINet makes, by their names without the curl_ prefix.
struct CurlLibrary {
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_header) easy_header;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_free) free;
    decltype(&curl_multi_add_handle) multi_add_handle;
    decltype(&curl_multi_cleanup) multi_cleanup;
    decltype(&curl_multi_info_read) multi_info_read;
    decltype(&curl_multi_init) multi_init;
    decltype(&curl_multi_perform) multi_perform;
    decltype(&curl_multi_poll) multi_poll;
    decltype(&curl_multi_remove_handle) multi_remove_handle;
    decltype(&curl_multi_wakeup) multi_wakeup;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
    decltype(&curl_url) url;
    decltype(&curl_url_cleanup) url_cleanup;
    decltype(&curl_url_get) url_get;
    decltype(&curl_url_set) url_set;
};

// Opens the module once and initialises libcurl; null when it cannot be opened (a broken
// installation), which is said once on stderr.
const CurlLibrary* OpenCurl();

// The library once OpenCurl has succeeded: every handle WinINet holds was made after that.
const CurlLibrary& Curl();

} // namespace velmora::wininet

// The module's one entry: libcurl initialised, and its calls. Null when libcurl cannot start.
extern "C" const velmora::wininet::CurlLibrary* velmora_curl_library();
