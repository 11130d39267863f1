#include "Site.h"

#include "Content.h"
#include "Pages.h"
#include "Range.h"
#include "Text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace velmora::site {

FileBody& FileBody::operator=(FileBody&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        offset_ = other.offset_;
        length_ = other.length_;
    }
    return *this;
}

FileBody::~FileBody() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

int FileBody::Release() {
    return std::exchange(fd_, -1);
}

namespace {

// Episode numbers in addresses are plain decimal without leading zeros, so each episode
// has exactly one address.
std::optional<long> ParseEpisodeNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 || text[0] == '0') {
        return std::nullopt;
    }
    long number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + (c - '0');
    }
    return number;
}

// An ASCII stand-in for the filename parameter; filename* carries the real name.
std::string AsciiFileName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        out += (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') ? static_cast<char>(c) : '_';
    }
    return out;
}

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
        media_ = std::make_unique<MediaCatalog>(options_.mediaDir);
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
    if (numbers.empty()) {
        return {};
    }
    return numbers.size() == 1 ? "episode " + NumberRuns(numbers) +
                                     " has no MP4 file: it will not play in the Windows player"
                               : "episodes " + NumberRuns(numbers) +
                                     " have no MP4 file: they will not play in the Windows player";
}

Response Site::Text(const std::string& bytes) const {
    Response response;
    response.contentType = textContentType_;
    response.headers.emplace_back("Cache-Control", "no-cache");
    response.body = bytes;
    return response;
}

Response Site::Html(unsigned status, std::string html) const {
    Response response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    // The header as well as the pages' meta tag: the Windows player's browser control would
    // otherwise render in IE7 mode, without <video>.
    response.headers.emplace_back("X-UA-Compatible", "IE=edge");
    // Players keep no stale page: a changed episode list or media file shows at once.
    response.headers.emplace_back("Cache-Control", "no-cache");
    response.body = std::move(html);
    return response;
}

Response Site::Handle(const Request& request) const {
    if (request.method != "GET" && request.method != "HEAD") {
        Response response = Html(405, MethodNotAllowedPage());
        response.headers.emplace_back("Allow", "GET, HEAD");
        return response;
    }
    const std::string& path = request.path;
    if (path == "/") {
        return Html(200, HomePage());
    }
    if (path == "/video/player/") {
        return Player(request);
    }
    if (path == "/video/player") {
        Response response = Html(301, "");
        response.headers.emplace_back(
            "Location", "/video/player/" + (request.query.empty() ? "" : "?" + request.query));
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
    return Html(404, NotFoundPage());
}

Response Site::Player(const Request& request) const {
    // The bare player folder is the start page too: the place a visitor trimming the
    // address would expect to land.
    const std::string flv = request.flv.value_or("index");
    // The value keeps its real length, so "list%00x" is not "list" and, like any value
    // holding a NUL, matches nothing below: a 404.
    if (flv == "index") {
        return Html(200, StartPage(options_.notice, EpisodeCount()));
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
        return Html(200, DownloadPage(options_.downloadsDir.empty()
                                          ? std::vector<DownloadEntry>{}
                                          : ListDownloads(options_.downloadsDir)));
    }
    std::optional<long> number = ParseEpisodeNumber(flv);
    long count = EpisodeCount();
    if (!number || *number > count) {
        return Html(404, NotFoundPage());
    }
    std::shared_ptr<const MediaFiles> files = Media();
    auto episode = files->find(*number);
    return Html(
        200, EpisodePage(*number, count,
                         episode == files->end() ? std::vector<std::string>{} : episode->second));
}

Response Site::ServeFile(const Request& request, const std::string& dir, const std::string& name,
                         const char* contentType, bool attachment) const {
    // One plain path segment only: "..", hidden files and anything with a slash (also a
    // decoded %2F) never reach the file system.
    if (!IsPlainFileName(name)) {
        return Html(404, NotFoundPage());
    }
    // O_NONBLOCK: opening a FIFO (or a symlink to one) for reading would otherwise wait
    // for a writer and hold this server thread for good; O_NOCTTY keeps a terminal device
    // from becoming ours. Only regular files are served, and
    // for those the flag changes nothing, but clear it anyway so the file is read normally.
    int fd = open((dir + "/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return Html(404, NotFoundPage());
    }
    FileBody guard(fd, 0, 0);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return Html(404, NotFoundPage());
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return Html(404, NotFoundPage());
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    ByteRange range = ParseRange(request.range, size);

    Response response;
    response.contentType = contentType;
    response.headers.emplace_back("Accept-Ranges", "bytes");
    if (attachment) {
        response.headers.emplace_back("Content-Disposition",
                                      "attachment; filename=\"" + AsciiFileName(name) +
                                          "\"; filename*=UTF-8''" + PercentEncode(name));
    }
    switch (range.kind) {
    case ByteRange::Unsatisfiable: {
        Response refused;
        refused.status = 416;
        refused.contentType = "text/plain; charset=utf-8";
        refused.body = "Requested range not satisfiable";
        refused.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        return refused;
    }
    case ByteRange::Partial:
        response.status = 206;
        response.headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first) +
                                                           "-" + std::to_string(range.last) + "/" +
                                                           std::to_string(size));
        response.file = FileBody(guard.Release(), range.first, range.last - range.first + 1);
        return response;
    case ByteRange::Whole:
        break;
    }
    response.file = FileBody(guard.Release(), 0, size);
    return response;
}

} // namespace velmora::site
