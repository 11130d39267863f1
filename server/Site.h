// What the site answers to one request, apart from the HTTP machinery.
#pragma once

#include "Catalog.h"
#include "Options.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::site {

struct Request {
    std::string method;
    std::string path;               // percent-decoded, without the query; may hold a NUL
    std::optional<std::string> flv; // the decoded "flv" query value, if any (may hold NULs)
    std::string query;              // the raw query after '?', for redirects
    const char* range = nullptr;    // the Range header, if any
};

// An open file to send part of; closes the file unless Release() hands it on.
class FileBody {
  public:
    FileBody() = default;
    FileBody(int fd, uint64_t offset, uint64_t length)
        : fd_(fd), offset_(offset), length_(length) {}
    FileBody(FileBody&& other) noexcept { *this = std::move(other); }
    FileBody& operator=(FileBody&& other) noexcept;
    FileBody(const FileBody&) = delete;
    FileBody& operator=(const FileBody&) = delete;
    ~FileBody();

    bool Open() const { return fd_ >= 0; }
    int Release();
    uint64_t Offset() const { return offset_; }
    uint64_t Length() const { return length_; }

  private:
    int fd_ = -1;
    uint64_t offset_ = 0;
    uint64_t length_ = 0;
};

struct Response {
    unsigned status = 200;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body; // used when file is not open
    FileBody file;

    uint64_t BodyLength() const { return file.Open() ? file.Length() : body.size(); }
};

class Site {
  public:
    explicit Site(Options options);

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
    Response Html(unsigned status, std::string html) const;
    Response ServeFile(const Request& request, const std::string& dir, const std::string& name,
                       const char* contentType, bool attachment) const;
    std::shared_ptr<const MediaFiles> Media() const;

    Options options_;
    std::string textContentType_;
    std::string noticeBytes_;  // in the plain-text character set
    std::string versionBytes_; // likewise
    std::unique_ptr<MediaCatalog> media_;
};

} // namespace velmora::site
