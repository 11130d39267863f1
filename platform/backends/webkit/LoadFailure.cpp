// What the Linux control's NavigateError does not reproduce: WebKit fails no load for an HTTP
// error status (a 404 or 500 from the site shows the site's page, with no NavigateError, where
// Windows fires one with the HTTP status and still shows the page); it reports failures of the
// top-level frame only (none for a frame inside the page); a failure's code is the nearest
// INET_E_* Windows gives for the GError WebKit reports, and TargetFrameName is always empty.
#include "backends/webkit/LoadFailure.h"

#include <urlmon.h>

namespace velmora::platform {
namespace {

// The page may load nothing: no script, no image, no frame, no request of any kind.
const char kResourcePagePolicy[] = "default-src 'none'; style-src 'unsafe-inline'";

void OnResourceRequest(WebKitURISchemeRequest* request, gpointer data) {
    const auto& events = *static_cast<const BrowserEvents*>(data);
    const std::string* page = events.resourcePage(webkit_uri_scheme_request_get_uri(request));
    if (!page) {
        g_autoptr(GError) error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND,
                                                      "The program has no such resource");
        webkit_uri_scheme_request_finish_error(request, error);
        return;
    }
    // The resource table lives as long as the program: the stream reads it in place.
    g_autoptr(GInputStream) stream =
        g_memory_input_stream_new_from_data(page->data(), page->size(), nullptr);
    g_autoptr(WebKitURISchemeResponse) response =
        webkit_uri_scheme_response_new(stream, page->size());
    webkit_uri_scheme_response_set_content_type(response, "text/html");
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_append(headers, "Content-Security-Policy", kResourcePagePolicy);
    webkit_uri_scheme_response_set_http_headers(response, headers);
    webkit_uri_scheme_request_finish_with_response(request, response);
}

} // namespace

HRESULT StatusOfLoadFailure(const GError* error) {
    if (!error)
        return S_OK;
    // A code of -1 stands for every code of its domain; what no entry names is
    // INET_E_DOWNLOAD_FAILURE.
    static const struct {
        GQuark domain;
        int code;
        HRESULT status;
    } kStatuses[] = {
        {G_IO_ERROR, G_IO_ERROR_CANCELLED, S_OK},
        {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, INET_E_CANNOT_CONNECT},
        {G_IO_ERROR, G_IO_ERROR_HOST_UNREACHABLE, INET_E_CANNOT_CONNECT},
        {G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE, INET_E_CANNOT_CONNECT},
        {G_IO_ERROR, G_IO_ERROR_HOST_NOT_FOUND, INET_E_RESOURCE_NOT_FOUND},
        {G_IO_ERROR, G_IO_ERROR_NOT_FOUND, INET_E_RESOURCE_NOT_FOUND},
        {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, INET_E_CONNECTION_TIMEOUT},
        {G_RESOLVER_ERROR, -1, INET_E_RESOURCE_NOT_FOUND},
        {G_TLS_ERROR, -1, INET_E_INVALID_CERTIFICATE},
        {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED, S_OK},
        {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL, INET_E_UNKNOWN_PROTOCOL},
        {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST, INET_E_RESOURCE_NOT_FOUND},
        {WEBKIT_POLICY_ERROR, -1, S_OK},
        {WEBKIT_PLUGIN_ERROR, -1, S_OK},
    };
    for (const auto& known : kStatuses)
        if (error->domain == known.domain && (known.code == -1 || error->code == known.code))
            return known.status;
    return INET_E_DOWNLOAD_FAILURE;
}

void ServeResourcePages(WebKitWebContext* context, const BrowserEvents& events) {
    webkit_web_context_register_uri_scheme(context, "res", OnResourceRequest,
                                           const_cast<BrowserEvents*>(&events), nullptr);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
    webkit_security_manager_register_uri_scheme_as_local(security, "res");
    webkit_security_manager_register_uri_scheme_as_no_access(security, "res");
}

} // namespace velmora::platform
