// libcurl behind a module of its own (wininet/module/), linked against it and installed beside
// the program, which opens it on its first InternetOpenW: libcurl and the TLS, Kerberos, LDAP
// and SSH libraries it needs take longer to load at start-up than GTK takes to open the
// display, and most starts fetch nothing.
#pragma once

#include <curl/curl.h>

namespace velmora::wininet {

// The libcurl calls WinINet makes, by their names without the curl_ prefix: one list gives the
// table's members and the module's entries, so the two cannot fall out of step.
#define VELMORA_CURL_CALLS(CALL)                                                                   \
    CALL(easy_cleanup)                                                                             \
    CALL(easy_getinfo)                                                                             \
    CALL(easy_header)                                                                              \
    CALL(easy_init)                                                                                \
    CALL(easy_setopt)                                                                              \
    CALL(free)                                                                                     \
    CALL(multi_add_handle)                                                                         \
    CALL(multi_cleanup)                                                                            \
    CALL(multi_info_read)                                                                          \
    CALL(multi_init)                                                                               \
    CALL(multi_perform)                                                                            \
    CALL(multi_poll)                                                                               \
    CALL(multi_remove_handle)                                                                      \
    CALL(multi_wakeup)                                                                             \
    CALL(slist_append)                                                                             \
    CALL(slist_free_all)                                                                           \
    CALL(url)                                                                                      \
    CALL(url_cleanup)                                                                              \
    CALL(url_get)                                                                                  \
    CALL(url_set)

struct CurlLibrary {
#define VELMORA_CURL_MEMBER(name) decltype(&curl_##name) name;
    VELMORA_CURL_CALLS(VELMORA_CURL_MEMBER)
};

// Opens the module once and initialises libcurl; null when it cannot be opened (a broken
// installation), which is said once on stderr.
const CurlLibrary* OpenCurl();

// The library once OpenCurl has succeeded: every handle WinINet holds was made after that.
const CurlLibrary& Curl();

} // namespace velmora::wininet

// The module's one entry: libcurl initialised, and its calls. Null when libcurl cannot start.
extern "C" const velmora::wininet::CurlLibrary* velmora_curl_library();
