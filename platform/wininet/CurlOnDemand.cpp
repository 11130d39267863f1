// libcurl is loaded on the first WinINet call that needs it, not when the program starts:
// it and the two dozen libraries it needs (TLS, Kerberos, LDAP, SSH, ...) added about 10 ms
// before the window could show, for a fetch most starts never make. The functions below
// have libcurl's own names and forward to the library, loaded on the first call.
//
// A libcurl function WinINet starts to use goes in this list (the link fails until it does).
#define CURL_DISABLE_TYPECHECK // the checking macros would rename the definitions below
#include <curl/curl.h>

#include "kernel32/OnDemand.h"

#include <stdarg.h>

namespace {
const char kCurlLibrary[] = "libcurl.so.4";
}

#define VELMORA_CURL_REAL(name)                                                                    \
    reinterpret_cast<decltype(&::name)>(velmora::platform::OnDemandSymbol(kCurlLibrary, #name))
#define VELMORA_CURL_FORWARD(result, name, parameters, arguments)                                  \
    VELMORA_FORWARD_ON_DEMAND(kCurlLibrary, result, name, parameters, arguments)

VELMORA_CURL_FORWARD(CURLcode, curl_global_init, (long flags), (flags))
VELMORA_CURL_FORWARD(CURL*, curl_easy_init, (void), ())
VELMORA_CURL_FORWARD(void, curl_easy_cleanup, (CURL * easy), (easy))
VELMORA_CURL_FORWARD(CURLHcode, curl_easy_header,
                     (CURL * easy, const char* name, size_t index, unsigned int origin, int request,
                      struct curl_header** header),
                     (easy, name, index, origin, request, header))
VELMORA_CURL_FORWARD(void, curl_free, (void* p), (p))
VELMORA_CURL_FORWARD(CURLM*, curl_multi_init, (void), ())
VELMORA_CURL_FORWARD(CURLMcode, curl_multi_cleanup, (CURLM * multi), (multi))
VELMORA_CURL_FORWARD(CURLMcode, curl_multi_add_handle, (CURLM * multi, CURL* easy), (multi, easy))
VELMORA_CURL_FORWARD(CURLMcode, curl_multi_remove_handle, (CURLM * multi, CURL* easy),
                     (multi, easy))
VELMORA_CURL_FORWARD(CURLMcode, curl_multi_perform, (CURLM * multi, int* running), (multi, running))
VELMORA_CURL_FORWARD(CURLMsg*, curl_multi_info_read, (CURLM * multi, int* queued), (multi, queued))
VELMORA_CURL_FORWARD(CURLMcode, curl_multi_poll,
                     (CURLM * multi, struct curl_waitfd* extra, unsigned int count, int timeoutMs,
                      int* ready),
                     (multi, extra, count, timeoutMs, ready))
VELMORA_CURL_FORWARD(CURLMcode, curl_multi_wakeup, (CURLM * multi), (multi))
VELMORA_CURL_FORWARD(struct curl_slist*, curl_slist_append,
                     (struct curl_slist * list, const char* text), (list, text))
VELMORA_CURL_FORWARD(void, curl_slist_free_all, (struct curl_slist * list), (list))
VELMORA_CURL_FORWARD(CURLU*, curl_url, (void), ())
VELMORA_CURL_FORWARD(void, curl_url_cleanup, (CURLU * url), (url))
VELMORA_CURL_FORWARD(CURLUcode, curl_url_get,
                     (CURLU * url, CURLUPart part, char** text, unsigned int flags),
                     (url, part, text, flags))
VELMORA_CURL_FORWARD(CURLUcode, curl_url_set,
                     (CURLU * url, CURLUPart part, const char* text, unsigned int flags),
                     (url, part, text, flags))

// The option's number says the type of its one argument, as libcurl reads it.
extern "C" CURLcode curl_easy_setopt(CURL* easy, CURLoption option, ...) {
    static auto real = VELMORA_CURL_REAL(curl_easy_setopt);
    va_list arguments;
    va_start(arguments, option);
    CURLcode result;
    if (option < CURLOPTTYPE_OBJECTPOINT)
        result = real(easy, option, va_arg(arguments, long));
    else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB)
        result = real(easy, option, va_arg(arguments, curl_off_t));
    else // data and function pointers, blobs
        result = real(easy, option, va_arg(arguments, void*));
    va_end(arguments);
    return result;
}

// Every CURLINFO_ item is read through one pointer.
extern "C" CURLcode curl_easy_getinfo(CURL* easy, CURLINFO info, ...) {
    static auto real = VELMORA_CURL_REAL(curl_easy_getinfo);
    va_list arguments;
    va_start(arguments, info);
    CURLcode result = real(easy, info, va_arg(arguments, void*));
    va_end(arguments);
    return result;
}
