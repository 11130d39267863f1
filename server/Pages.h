// The site's HTML pages. Every page is UTF-8 and declares it; every text put into a page
// is escaped.
#pragma once

#include "Catalog.h"
#include "Message.h"

#include <string>
#include <vector>

namespace velmora::site {

// Every link in the pages is relative to the page's own address ("?flv=3",
// "../../media/001.mp4"), so the site works unchanged under any host, port and path
// prefix, e.g. behind a reverse proxy at http://example.org/tessavo/.

// At "/".
std::string HomePage();
// At "/video/player/". Links the first kMaxListedEpisodes episodes, as many as the player
// lists.
std::string StartPage(const std::string& notice, long count);
// Seconds an ended episode's page counts down before it runs on to the next.
constexpr long kRunOnSeconds = 5;

// At "/video/player/". One <source> per media file, in the given order; with no files yet
// the page says so.
std::string EpisodePage(long number, long count, const std::vector<std::string>& mediaFiles);
// At "/video/player/". Names the latest version (when there is one) and lists the files in
// the given order, each with its size and SHA-256.
std::string DownloadPage(const std::string& latestVersion, const std::vector<DownloadEntry>& files);

// An HTML answer with the headers every page carries.
Response HtmlResponse(unsigned status, std::string html);
// The page of an error status (403, 404, 405, 503) for a request of path, whose home link
// is relative to it.
Response ErrorResponse(unsigned status, const std::string& path);

} // namespace velmora::site
