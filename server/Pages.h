// The site's HTML pages. Every page is UTF-8 and declares it; every text put into a page
// is escaped.
#pragma once

#include "Catalog.h"

#include <string>
#include <vector>

namespace velmora::site {

// Root-relative addresses, so the pages work under any host name and port.
std::string PlayerAddress(const std::string& flv);
std::string MediaAddress(const std::string& fileName);
std::string DownloadAddress(const std::string& fileName);

std::string HomePage();
std::string StartPage(const std::string& notice, long count);
// One <source> per media file, in the given order; with no files yet the page says so.
std::string EpisodePage(long number, long count, const std::vector<std::string>& mediaFiles);
std::string DownloadPage(const std::vector<DownloadEntry>& files);
std::string NotFoundPage();
std::string MethodNotAllowedPage();

} // namespace velmora::site
