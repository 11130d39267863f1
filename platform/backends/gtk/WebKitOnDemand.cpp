// WebKitGTK is loaded when the first web view is made, not when the program starts: the
// library and the hundred-odd libraries it needs take longer to load than GTK takes to put
// the whole window on screen. The backend calls WebKit through the functions below, which
// have WebKit's own names and forward to the library, loaded on the first call.
//
// A WebKit function the backend starts to use goes in this list (the link fails until it
// does). Variadic functions cannot be forwarded: their callers use g_object_new instead.
#include <webkit2/webkit2.h>

#include "kernel32/OnDemand.h"

namespace {
const char kWebKitLibrary[] = "libwebkit2gtk-4.1.so.0";
// WebKit's HTTP library, for the headers of an answer (loaded with WebKit).
const char kSoupLibrary[] = "libsoup-3.0.so.0";
} // namespace

#define VELMORA_WEBKIT_FORWARD(result, name, parameters, arguments)                                \
    VELMORA_FORWARD_ON_DEMAND(kWebKitLibrary, result, name, parameters, arguments)

VELMORA_WEBKIT_FORWARD(GType, webkit_web_view_get_type, (void), ())
VELMORA_WEBKIT_FORWARD(GType, webkit_website_policies_get_type, (void), ())
VELMORA_WEBKIT_FORWARD(GType, webkit_navigation_policy_decision_get_type, (void), ())
VELMORA_WEBKIT_FORWARD(WebKitSettings*, webkit_settings_new, (void), ())
VELMORA_WEBKIT_FORWARD(void, webkit_settings_set_enable_media,
                       (WebKitSettings * settings, gboolean enabled), (settings, enabled))
VELMORA_WEBKIT_FORWARD(void, webkit_settings_set_media_playback_requires_user_gesture,
                       (WebKitSettings * settings, gboolean enabled), (settings, enabled))
VELMORA_WEBKIT_FORWARD(void, webkit_settings_set_enable_javascript,
                       (WebKitSettings * settings, gboolean enabled), (settings, enabled))
VELMORA_WEBKIT_FORWARD(void, webkit_settings_set_enable_fullscreen,
                       (WebKitSettings * settings, gboolean enabled), (settings, enabled))
VELMORA_WEBKIT_FORWARD(WebKitUserContentManager*, webkit_user_content_manager_new, (void), ())
VELMORA_WEBKIT_FORWARD(void, webkit_user_content_manager_add_script,
                       (WebKitUserContentManager * manager, WebKitUserScript* script),
                       (manager, script))
VELMORA_WEBKIT_FORWARD(gboolean, webkit_user_content_manager_register_script_message_handler,
                       (WebKitUserContentManager * manager, const gchar* name), (manager, name))
VELMORA_WEBKIT_FORWARD(WebKitUserScript*, webkit_user_script_new,
                       (const gchar* source, WebKitUserContentInjectedFrames frames,
                        WebKitUserScriptInjectionTime time, const gchar* const* allow,
                        const gchar* const* block),
                       (source, frames, time, allow, block))
VELMORA_WEBKIT_FORWARD(void, webkit_user_script_unref, (WebKitUserScript * script), (script))
VELMORA_WEBKIT_FORWARD(JSCValue*, webkit_javascript_result_get_js_value,
                       (WebKitJavascriptResult * result), (result))
VELMORA_WEBKIT_FORWARD(gboolean, jsc_value_is_string, (JSCValue * value), (value))
VELMORA_WEBKIT_FORWARD(char*, jsc_value_to_string, (JSCValue * value), (value))
VELMORA_WEBKIT_FORWARD(const gchar*, webkit_web_view_get_uri, (WebKitWebView * view), (view))
VELMORA_WEBKIT_FORWARD(void, webkit_web_view_load_uri, (WebKitWebView * view, const gchar* uri),
                       (view, uri))
VELMORA_WEBKIT_FORWARD(void, webkit_web_view_evaluate_javascript,
                       (WebKitWebView * view, const char* script, gssize length, const char* world,
                        const char* source, GCancellable* cancellable, GAsyncReadyCallback callback,
                        gpointer data),
                       (view, script, length, world, source, cancellable, callback, data))
VELMORA_WEBKIT_FORWARD(void, webkit_policy_decision_ignore, (WebKitPolicyDecision * decision),
                       (decision))
VELMORA_WEBKIT_FORWARD(WebKitNavigationAction*,
                       webkit_navigation_policy_decision_get_navigation_action,
                       (WebKitNavigationPolicyDecision * decision), (decision))
VELMORA_WEBKIT_FORWARD(WebKitURIRequest*, webkit_navigation_action_get_request,
                       (WebKitNavigationAction * action), (action))
VELMORA_WEBKIT_FORWARD(gboolean, webkit_navigation_action_is_redirect,
                       (WebKitNavigationAction * action), (action))
VELMORA_WEBKIT_FORWARD(WebKitNavigationType, webkit_navigation_action_get_navigation_type,
                       (WebKitNavigationAction * action), (action))
VELMORA_WEBKIT_FORWARD(const gchar*, webkit_uri_request_get_uri, (WebKitURIRequest * request),
                       (request))
VELMORA_WEBKIT_FORWARD(GType, webkit_web_context_get_type, (void), ())
VELMORA_WEBKIT_FORWARD(void, webkit_web_context_set_cache_model,
                       (WebKitWebContext * context, WebKitCacheModel model), (context, model))
VELMORA_WEBKIT_FORWARD(void, webkit_settings_set_hardware_acceleration_policy,
                       (WebKitSettings * settings, WebKitHardwareAccelerationPolicy policy),
                       (settings, policy))
VELMORA_WEBKIT_FORWARD(WebKitMemoryPressureSettings*, webkit_memory_pressure_settings_new, (void),
                       ())
VELMORA_WEBKIT_FORWARD(void, webkit_memory_pressure_settings_free,
                       (WebKitMemoryPressureSettings * settings), (settings))
VELMORA_WEBKIT_FORWARD(void, webkit_memory_pressure_settings_set_memory_limit,
                       (WebKitMemoryPressureSettings * settings, guint limit), (settings, limit))
VELMORA_WEBKIT_FORWARD(void, webkit_memory_pressure_settings_set_strict_threshold,
                       (WebKitMemoryPressureSettings * settings, gdouble value), (settings, value))
VELMORA_WEBKIT_FORWARD(void, webkit_memory_pressure_settings_set_poll_interval,
                       (WebKitMemoryPressureSettings * settings, gdouble value), (settings, value))
VELMORA_WEBKIT_FORWARD(gboolean, webkit_navigation_action_is_user_gesture,
                       (WebKitNavigationAction * action), (action))
VELMORA_WEBKIT_FORWARD(GType, webkit_response_policy_decision_get_type, (void), ())
VELMORA_WEBKIT_FORWARD(WebKitURIRequest*, webkit_response_policy_decision_get_request,
                       (WebKitResponsePolicyDecision * decision), (decision))
VELMORA_WEBKIT_FORWARD(WebKitURIResponse*, webkit_response_policy_decision_get_response,
                       (WebKitResponsePolicyDecision * decision), (decision))
VELMORA_WEBKIT_FORWARD(gboolean, webkit_response_policy_decision_is_mime_type_supported,
                       (WebKitResponsePolicyDecision * decision), (decision))
VELMORA_WEBKIT_FORWARD(gboolean, webkit_response_policy_decision_is_main_frame_main_resource,
                       (WebKitResponsePolicyDecision * decision), (decision))
VELMORA_WEBKIT_FORWARD(SoupMessageHeaders*, webkit_uri_response_get_http_headers,
                       (WebKitURIResponse * response), (response))
VELMORA_FORWARD_ON_DEMAND(kSoupLibrary, const char*, soup_message_headers_get_one,
                          (SoupMessageHeaders * headers, const char* name), (headers, name))
VELMORA_WEBKIT_FORWARD(void, webkit_download_cancel, (WebKitDownload * download), (download))
VELMORA_WEBKIT_FORWARD(WebKitWebView*, webkit_download_get_web_view, (WebKitDownload * download),
                       (download))
VELMORA_WEBKIT_FORWARD(WebKitURIRequest*, webkit_download_get_request, (WebKitDownload * download),
                       (download))
VELMORA_WEBKIT_FORWARD(void, webkit_web_context_set_sandbox_enabled,
                       (WebKitWebContext * context, gboolean enabled), (context, enabled))
