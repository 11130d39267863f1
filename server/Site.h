// What the site answers to one request, apart from the HTTP machinery.
#pragma once

#include "Catalog.h"
#include "Message.h"
#include "Options.h"

#include <memory>
#include <mutex>
#include <string>

namespace velmora::site {

class Site {
  public:
    explicit Site(Options options);
    // The site again with new options (SIGHUP): the media catalogue carries over, so a folder
    // that cannot be read at that moment keeps the episodes found before; it is read anew.
    Site(Options options, const Site& previous);

    Response Handle(const Request& request) const;

    // --episodes, else the highest episode number in the media folder, else the demo count.
    long EpisodeCount() const;
    const Options& Settings() const { return options_; }
    // For the start-up log: which of the site's episodes have files but no MP4, so the
    // Windows player cannot play them ("episodes 3-5, 9 have no MP4 file: ..."); empty when
    // there are none or no media folder.
    std::string EpisodesWithoutMp4() const;

  private:
    Response Player(const Request& request) const;
    Response Text(const std::string& bytes) const;
    std::shared_ptr<const std::string> StartPageHtml(long count) const;
    std::shared_ptr<const MediaFiles> Media() const;

    Options options_;
    std::string textContentType_;
    std::string noticeBytes_;  // in the plain-text character set
    std::string versionBytes_; // likewise
    std::shared_ptr<MediaCatalog> media_;

    // The start page, rendered once per change of what it shows, not per request: with
    // thousands of episodes it is the largest answer the site makes.
    mutable std::mutex startPageMutex_;
    mutable long startPageCount_ = -1;
    mutable std::string startPageNotice_;
    mutable std::shared_ptr<const std::string> startPage_;
};

} // namespace velmora::site
