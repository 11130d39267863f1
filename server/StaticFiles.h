// Files of the configured folders, sent as a static file server sends them: validators
// (Last-Modified, ETag), conditional requests, single byte ranges, and each failure to
// open a file answered by its cause.
#pragma once

#include "Message.h"

#include <string>

namespace velmora::site {

// Serves the file name inside dir. name must be one plain path segment (else 404); a
// symbolic link is never followed, so nothing outside dir is reached. A missing file is
// 404, one the site may not read 403, a shortage of descriptors or an I/O error 503 with
// Retry-After; all but a missing file are logged on stderr.
Response ServeFile(const Request& request, const std::string& dir, const std::string& name,
                   const char* contentType, bool attachment);

} // namespace velmora::site
