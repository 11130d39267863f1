#include "Site.h"

#include "Content.h"
#include "Pages.h"
#include "StaticFiles.h"
#include "Text.h"

#include <algorithm>

namespace velmora::site {

namespace {

// "3", "3-7, 9", or for many "1, 3, 5, ... and 7 more": one line a person can read.
std::string NumberRuns(const std::vector<long>& numbers) {
    constexpr size_t kShownRuns = 8;
    std::string text;
    size_t runs = 0;
    for (size_t i = 0; i < numbers.size(); ++runs) {
        if (runs == kShownRuns) {
            text += " and " + std::to_string(numbers.size() - i) + " more";
            break;
        }
        size_t last = i;
        while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1) {
            ++last;
        }
        text += (runs ? ", " : "") + std::to_string(numbers[i]);
        if (last > i) {
            text += "-" + std::to_string(numbers[last]);
        }
        i = last + 1;
    }
    return text;
}

} // namespace

Site::Site(Options options) : options_(std::move(options)) {
    textContentType_ = "text/plain; charset=" + options_.charset;
    noticeBytes_ = FromUtf8(options_.notice, options_.charset).value_or("");
    versionBytes_ = FromUtf8(options_.version, options_.charset).value_or("");
    if (!options_.mediaDir.empty()) {
        media_ = std::make_shared<MediaCatalog>(options_.mediaDir);
    }
    if (!options_.downloadsDir.empty()) {
        downloads_ = std::make_shared<DownloadCatalog>(options_.downloadsDir);
    }
}

Site::Site(Options options, const Site& previous) : Site(std::move(options)) {
    if (media_ && previous.media_ && previous.media_->Dir() == media_->Dir()) {
        media_ = previous.media_;
        media_->Rescan();
    }
    if (downloads_ && previous.downloads_ && previous.downloads_->Dir() == downloads_->Dir()) {
        downloads_ = previous.downloads_;
        downloads_->Rescan();
    }
}

std::shared_ptr<const MediaFiles> Site::Media() const {
    static const auto none = std::make_shared<const MediaFiles>();
    return media_ ? media_->Files() : none;
}

long Site::EpisodeCount() const {
    if (options_.episodes) {
        return *options_.episodes;
    }
    if (media_) {
        // The highest episode number found, not the number of files: a missing episode in
        // between gets its placeholder page rather than hiding the ones after it.
        std::shared_ptr<const MediaFiles> files = media_->Files();
        return files->empty() ? 0 : files->rbegin()->first;
    }
    return kDemoEpisodes;
}

std::string Site::EpisodesWithoutMp4() const {
    if (!media_) {
        return {};
    }
    std::vector<long> numbers;
    const long count = EpisodeCount();
    for (const auto& [number, names] : *Media()) {
        if (number > count) {
            break;
        }
        if (std::none_of(names.begin(), names.end(), IsMp4)) {
            numbers.push_back(number);
        }
    }
    const bool one = numbers.size() == 1;
    return numbers.empty() ? std::string()
                           : (one ? "episode " : "episodes ") + NumberRuns(numbers) +
                                 (one ? " has no MP4 file: it" : " have no MP4 file: they") +
                                 " will not play in the Windows player";
}

Response Site::Text(const std::string& bytes) const {
    Response response;
    response.contentType = textContentType_;
    response.headers.emplace_back("Cache-Control", "no-cache");
    response.body = bytes;
    return response;
}

Response Site::Handle(const Request& request) const {
    if (request.method != "GET" && request.method != "HEAD") {
        Response response = ErrorResponse(405, request.path);
        response.headers.emplace_back("Allow", "GET, HEAD");
        return response;
    }
    const std::string& path = request.path;
    if (path == "/") {
        return HtmlResponse(200, HomePage());
    }
    if (path == "/video/player/") {
        return Player(request);
    }
    if (path == "/video/player") {
        Response response = HtmlResponse(301, "");
        // Relative, so it also leads to the right place under a reverse proxy's prefix.
        response.headers.emplace_back(
            "Location", "player/" + (request.query.empty() ? "" : "?" + request.query));
        return response;
    }
    static const std::string media = "/media/";
    if (path.compare(0, media.size(), media) == 0 && media_) {
        std::string name = path.substr(media.size());
        // Only the episode files are served from the media folder, nothing else in it.
        if (IsCatalogued(*Media(), name)) {
            return ServeFile(request, options_.mediaDir, name, MediaContentType(name), false);
        }
    }
    static const std::string downloads = "/downloads/";
    if (path.compare(0, downloads.size(), downloads) == 0 && !options_.downloadsDir.empty()) {
        return ServeFile(request, options_.downloadsDir, path.substr(downloads.size()),
                         "application/octet-stream", true);
    }
    return ErrorResponse(404, path);
}

Response Site::Player(const Request& request) const {
    // The bare player folder is the start page too: the place a visitor trimming the
    // address would expect to land.
    const std::string flv = request.flv.value_or("index");
    // The value keeps its real length, so "list%00x" is not "list" and, like any value
    // holding a NUL, matches nothing below: a 404.
    if (flv == "index") {
        return HtmlResponse(200, StartPage(options_.notice, EpisodeCount()));
    }
    if (flv == "list") {
        return Text(std::to_string(EpisodeCount()));
    }
    if (flv == "next") {
        return Text(noticeBytes_);
    }
    if (flv == "update") {
        return Text(versionBytes_);
    }
    if (flv == "download") {
        static const std::vector<DownloadEntry> none;
        return HtmlResponse(
            200, DownloadPage(options_.version, downloads_ ? *downloads_->Files() : none));
    }
    // Plain decimal without leading zeros, so each episode has exactly one address.
    const std::optional<uint64_t> number = ParseDecimal(flv, static_cast<uint64_t>(kMaxEpisodes));
    const long count = EpisodeCount();
    if (!number || *number < 1 || static_cast<long>(*number) > count) {
        return ErrorResponse(404, request.path);
    }
    std::shared_ptr<const MediaFiles> files = Media();
    auto episode = files->find(static_cast<long>(*number));
    return HtmlResponse(
        200, EpisodePage(static_cast<long>(*number), count,
                         episode == files->end() ? std::vector<std::string>{} : episode->second));
}

} // namespace velmora::site
