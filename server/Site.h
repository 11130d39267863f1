// What the site answers to one request, apart from the HTTP machinery.
#pragma once

#include "Catalog.h"
#include "Message.h"
#include "Options.h"

#include <memory>
#include <string>

namespace velmora::site {

class Site {
  public:
    explicit Site(Options options);
    // The site again with new options (SIGHUP): the media catalogue carries over, so a folder
    // that cannot be read at that moment keeps the episodes found before; it is read anew.
    // So do the downloads' hashes.
    Site(Options options, const Site& previous);

    Response Handle(const Request& request) const;

    // --episodes, else the highest episode number in the media folder, else the demo count.
    long EpisodeCount() const;
    // For the start-up log: which of the site's episodes have files but no MP4, so the
    // Windows player cannot play them ("episodes 3-5, 9 have no MP4 file: ..."); empty when
    // there are none or no media folder.
    std::string EpisodesWithoutMp4() const;

  private:
    Response Player(const Request& request) const;
    Response Text(const std::string& bytes) const;
    std::shared_ptr<const MediaFiles> Media() const;

    Options options_;
    std::string textContentType_;
    std::string noticeBytes_;  // in the plain-text character set
    std::string versionBytes_; // likewise
    std::shared_ptr<MediaCatalog> media_;
    std::shared_ptr<DownloadCatalog> downloads_;
};

} // namespace velmora::site
