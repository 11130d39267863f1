#include "StaticFiles.h"

#include "Catalog.h"
#include "Pages.h"
#include "Range.h"
#include "Text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace velmora::site {

FileBody::~FileBody() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

namespace {

// filename* carries the real name; filename an ASCII stand-in for older clients.
std::string Attachment(const std::string& name) {
    std::string ascii;
    for (unsigned char c : name) {
        ascii += (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') ? static_cast<char>(c) : '_';
    }
    return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + PercentEncode(name);
}

// Only the IMF-fixdate form; the obsolete forms count as no date, which is always safe
// (no condition holds, the whole file is sent).
bool ParseHttpDate(const char* text, time_t* when) {
    tm t{};
    const char* end = strptime(text, "%a, %d %b %Y %H:%M:%S GMT", &t);
    *when = timegm(&t);
    return end && !*end && HttpDate(*when) == text;
}

// nginx's form: modification time and size in hex, so copies of the site behind one load
// balancer give the same tag for the same file.
std::string EntityTag(const struct stat& st) {
    char tag[48];
    return std::string(
        tag, static_cast<size_t>(snprintf(tag, sizeof tag, "\"%llx-%llx\"",
                                          static_cast<unsigned long long>(st.st_mtim.tv_sec),
                                          static_cast<unsigned long long>(st.st_size))));
}

// If-Match or If-None-Match: "*" or a list of tags, compared weakly (a W/ prefix is
// ignored) or strongly (a weak tag matches nothing).
bool TagListHas(const std::string& list, const std::string& tag, bool weak) {
    size_t at = 0;
    while (at < list.size()) {
        at = list.find_first_not_of(" \t,", at);
        if (at == std::string::npos) {
            break;
        }
        if (list[at] == '*') {
            return true;
        }
        const bool weakTag = list.compare(at, 2, "W/") == 0;
        at += weakTag ? 2 : 0;
        size_t end = list[at] == '"' ? list.find('"', at + 1) : list.find(',', at);
        end = end == std::string::npos ? list.size() : end + (list[at] == '"' ? 1 : 0);
        if ((weak || !weakTag) && list.compare(at, end - at, tag) == 0) {
            return true;
        }
        at = end;
    }
    return false;
}

Response OpenFailure(int error, const std::string& path, const std::string& requestPath) {
    if (error == ENOENT || error == ENOTDIR) {
        return ErrorResponse(404, requestPath);
    }
    // ELOOP: a symbolic link, which the site never follows (it may lead out of the folder).
    const unsigned status = error == EACCES || error == EPERM ? 403 : error == ELOOP ? 404 : 503;
    fprintf(stderr, "velmora-site: cannot open %s: %s (answered %u)\n", path.c_str(),
            error == ELOOP ? "a symbolic link, not followed" : strerror(error), status);
    Response response = ErrorResponse(status, requestPath);
    if (status == 503) {
        // Descriptors run short or the disk failed: likely over in a moment.
        response.headers.emplace_back("Retry-After", "5");
    }
    return response;
}

// Opens path for reading without following a link; -1 with errno set when that fails, and
// ENOENT for anything but a regular file. O_NONBLOCK: opening a FIFO for reading would
// otherwise wait for a writer and hold this server thread for good; O_NOCTTY keeps a
// terminal device from becoming ours. Reads and sendfile of a regular file ignore the flag,
// so it stays (as nginx leaves it): two system calls fewer per answer.
int OpenRegularFile(const std::string& path, struct stat* st) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        return -1;
    }
    const int error = fstat(fd, st) != 0 ? errno : S_ISREG(st->st_mode) ? 0 : ENOENT;
    if (error != 0) {
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// The preconditions in RFC 9110 section 13.2.2's order: 412 or 304 when one decides the
// answer, else 0. If-Match compares strongly (a weak tag never matches); each date counts
// only without its tag-based sibling.
unsigned Precondition(const Request& request, const std::string& tag, time_t modified) {
    const char* match = request.Header("If-Match");
    const char* unmodifiedSince = request.Header("If-Unmodified-Since");
    const char* noneMatch = request.Header("If-None-Match");
    const char* modifiedSince = request.Header("If-Modified-Since");
    time_t since;
    if (match ? !TagListHas(match, tag, false)
              : unmodifiedSince && ParseHttpDate(unmodifiedSince, &since) && modified > since) {
        return 412;
    }
    if (noneMatch ? TagListHas(noneMatch, tag, true)
                  : modifiedSince && ParseHttpDate(modifiedSince, &since) && modified <= since) {
        return 304;
    }
    return 0;
}

// If-Range: a strong tag equal to ours, or exactly our Last-Modified date. Anything else
// means the client holds another version: it gets the whole file, never a piece of this one
// to splice into that.
ByteRange RequestedRange(const Request& request, const std::string& tag,
                         const std::string& lastModified, uint64_t size) {
    const char* ifRange = request.Header("If-Range");
    const bool sameVersion = !ifRange || ifRange == (ifRange[0] == '"' ? tag : lastModified);
    return ParseRange(sameVersion ? request.Header("Range") : nullptr, size);
}

Response PlainAnswer(unsigned status, const char* body) {
    Response response;
    response.status = status;
    response.contentType = "text/plain; charset=utf-8";
    response.body = body;
    return response;
}

} // namespace

Response ServeFile(const Request& request, const std::string& dir, const std::string& name,
                   const char* contentType, bool attachment) {
    // One plain path segment only: "..", hidden files and anything with a slash (also a
    // decoded %2F) never reach the file system. With one segment, O_NOFOLLOW is enough to
    // stay inside the folder: no link anywhere in the path can be followed.
    if (!IsPlainFileName(name)) {
        return ErrorResponse(404, request.path);
    }
    const std::string path = dir + "/" + name;
    struct stat st;
    const int fd = OpenRegularFile(path, &st);
    if (fd < 0) {
        return OpenFailure(errno, path, request.path);
    }
    FileBody guard(fd, 0, 0);
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const std::string tag = EntityTag(st);
    const std::string lastModified = HttpDate(st.st_mtim.tv_sec);
    const unsigned precondition = Precondition(request, tag, st.st_mtim.tv_sec);
    if (precondition == 412) {
        return PlainAnswer(412, "Precondition Failed: the file has changed\n");
    }
    Response response;
    response.headers.emplace_back("ETag", tag);
    response.headers.emplace_back("Last-Modified", lastModified);
    if (precondition == 304) {
        // With the file's whole size as its length, which RFC 9110 section 8.6 allows;
        // libmicrohttpd would otherwise say 0. The body is never sent.
        response.status = 304;
        response.file = FileBody(guard.Release(), 0, size);
        return response;
    }

    const ByteRange range = RequestedRange(request, tag, lastModified, size);
    if (range.kind == ByteRange::Unsatisfiable) {
        Response refused = PlainAnswer(416, "Requested range not satisfiable");
        refused.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        return refused;
    }
    response.contentType = contentType;
    response.headers.emplace_back("Accept-Ranges", "bytes");
    if (attachment) {
        response.headers.emplace_back("Content-Disposition", Attachment(name));
    }
    uint64_t first = 0;
    uint64_t length = size;
    if (range.kind == ByteRange::Partial) {
        first = range.first;
        length = range.last - range.first + 1;
        response.status = 206;
        response.headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first) +
                                                           "-" + std::to_string(range.last) + "/" +
                                                           std::to_string(size));
    }
    response.file = FileBody(guard.Release(), first, length);
    return response;
}

} // namespace velmora::site
