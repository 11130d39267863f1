// A video the system has no decoder for is reported on stderr instead of staying black: which
// files, and the Debian package whose GStreamer plugins would decode them.
#pragma once

#include <webkit2/webkit2.h>

namespace velmora::platform {

// Every page shown by a web view with this content manager reports its media elements that
// cannot play.
void ReportMediaFailures(WebKitUserContentManager* content);

} // namespace velmora::platform
