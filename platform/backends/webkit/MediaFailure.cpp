#include "backends/webkit/MediaFailure.h"

#include <stdio.h>

#include <string>

namespace velmora::platform {
namespace {

const char kMediaMessageChannel[] = "velmoraMedia";

// Runs in every page. A media element that ends up with nothing it can play (every
// <source> refused, or a decode error) sends one message: a line "known|unknown TAB TYPE
// TAB ADDRESS" per address it tried, telling whether the browser has a decoder for the type.
const char kMediaFailureScript[] = R"js(
(function () {
    var reported = [];
    function line(media, type, address) {
        return (media.canPlayType(type) ? 'known' : 'unknown') + '\t' + type + '\t' + address;
    }
    function report(media) {
        if (reported.indexOf(media) >= 0)
            return;
        reported.push(media);
        var lines = [];
        var sources = media.getElementsByTagName('source');
        for (var i = 0; i < sources.length; ++i)
            lines.push(line(media, sources[i].type || '', sources[i].src));
        if (lines.length === 0 && media.src)
            lines.push(line(media, '', media.src));
        window.webkit.messageHandlers.velmoraMedia.postMessage(lines.join('\n'));
    }
    document.addEventListener('error', function (event) {
        var target = event.target;
        var media = target instanceof HTMLSourceElement ? target.parentElement : target;
        if (!(media instanceof HTMLMediaElement))
            return;
        setTimeout(function () {
            if (media.error || media.networkState === HTMLMediaElement.NETWORK_NO_SOURCE)
                report(media);
        }, 0);
    }, true);
})();
)js";

std::string MediaTypeOfAddress(const std::string& address) {
    // The path in lower case: up to a query or fragment (npos, -1: all of it).
    g_autofree char* path = g_ascii_strdown(address.c_str(), (gssize)address.find_first_of("?#"));
    if (g_str_has_suffix(path, ".mp4") || g_str_has_suffix(path, ".m4v"))
        return "video/mp4";
    if (g_str_has_suffix(path, ".webm"))
        return "video/webm";
    return {};
}

// The Debian package whose GStreamer plugins decode a media type the site serves; the
// build names them, as the player's package recommends them.
std::string DecoderPackageFor(const std::string& mediaType) {
    std::string base = mediaType.substr(0, mediaType.find(';'));
    if (base == "video/mp4" || base == "audio/mp4")
        return VELMORA_MP4_DECODER_PACKAGE;
    if (base == "video/webm" || base == "audio/webm")
        return VELMORA_WEBM_DECODER_PACKAGE;
    return {};
}

// One line on stderr per media element that cannot play: which files, and the package
// that would decode them when GStreamer has no decoder for their type.
void OnMediaFailure(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer) {
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!jsc_value_is_string(value))
        return;
    g_autofree char* text = jsc_value_to_string(value);
    g_auto(GStrv) lines = g_strsplit(text, "\n", -1);
    std::string files, packages;
    for (char** line = lines; *line; ++line) {
        g_auto(GStrv) fields = g_strsplit(*line, "\t", 3);
        if (g_strv_length(fields) == 3) {
            std::string type = *fields[1] ? fields[1] : MediaTypeOfAddress(fields[2]);
            files += (files.empty() ? "" : ", ") + std::string(fields[2]);
            bool decoderMissing = g_strcmp0(fields[0], "unknown") == 0;
            std::string package = DecoderPackageFor(type);
            if (decoderMissing && !package.empty() && packages.find(package) == std::string::npos)
                packages += (packages.empty() ? "" : " ") + package;
        }
    }
    if (!packages.empty())
        fprintf(stderr,
                "velmora-player: cannot play %s: GStreamer has no decoder for it; install the "
                "Debian package %s\n",
                files.c_str(), packages.c_str());
    else
        fprintf(stderr, "velmora-player: cannot play %s: the video could not be decoded\n",
                files.c_str());
}

} // namespace

void ReportMediaFailures(WebKitUserContentManager* content) {
    g_autoptr(WebKitUserScript) script =
        webkit_user_script_new(kMediaFailureScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    g_signal_connect(content,
                     (std::string("script-message-received::") + kMediaMessageChannel).c_str(),
                     G_CALLBACK(OnMediaFailure), nullptr);
    webkit_user_content_manager_register_script_message_handler(content, kMediaMessageChannel);
}

} // namespace velmora::platform
