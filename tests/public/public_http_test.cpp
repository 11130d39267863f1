// Requests that once got garbled, missing or wrong answers, sent through nginx with the
// shipped configuration (run-public-tests.sh validators starts it and the site copies):
// each gets one clean answer with the right status. PUBLIC_HOST and PUBLIC_PORT name
// nginx's plain-HTTP address.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/HostileRequests.h"
#include "tests/support/SiteHttp.h"

namespace {

using velmora::test::HostileRequest;
using velmora::test::RawConnection;
using velmora::test::WholeAnswer;

std::string Env(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

// Sends the request (each asks the server to close) and checks there is exactly one answer.
WholeAnswer Exchange(const std::string& request, bool head = false) {
    RawConnection connection(Env("PUBLIC_HOST"), atoi(Env("PUBLIC_PORT").c_str()));
    return connection.Exchange(request, head);
}

std::string Get(const std::string& target, const std::string& headers = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: tessavo.example\r\n" + headers +
           "Connection: close\r\n\r\n";
}

// An HTTP date a day before the given one: the file has changed since a client saw it.
std::string DayBefore(const std::string& httpDate) {
    tm parts{};
    if (!strptime(httpDate.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts))
        return "";
    time_t earlier = timegm(&parts) - 86400;
    char text[64];
    strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", gmtime_r(&earlier, &parts));
    return text;
}

TEST(PublicFace, HostileAndConditionalRequestsGetOneCleanAnswer) {
    ASSERT_FALSE(Env("PUBLIC_HOST").empty()) << "run through run-public-tests.sh validators";
    const std::string count = "/video/player/?flv=list";
    const std::string page = "/video/player/?flv=index";
    const std::string media = "/media/001.mp4";
    const std::string download = "/downloads/VelmoraPlayer-1.0-portable.zip";

    // The validators nginx gives the files, as a browser or download manager keeps them.
    std::map<std::string, std::pair<std::string, std::string>> validators;
    std::string mediaLength;
    for (const std::string& file : {media, download}) {
        WholeAnswer head = Exchange(
            "HEAD " + file + " HTTP/1.1\r\nHost: tessavo.example\r\nConnection: close\r\n\r\n",
            true);
        ASSERT_EQ(head.status, 200) << file << ": " << head.fault;
        validators[file] = {head.Header("etag"), head.Header("last-modified")};
        mediaLength = file == media ? head.Header("content-length") : mediaLength;
        ASSERT_FALSE(validators[file].first.empty()) << file;
        ASSERT_FALSE(DayBefore(validators[file].second).empty()) << file;
    }

    struct Case {
        const char* what;
        std::string request;
        int status;
        // A header the answer carries with this in its value; with "", one it must not carry.
        const char* header = nullptr;
        const char* holds = nullptr;
    };
    const char* const kept = "max-age=2592000, immutable"; // an episode file, for 30 days
    const Case cases[] = {
        {"the count", Get(count), 200},
        // Validators on the files nginx serves itself.
        {"If-None-Match", Get(media, "If-None-Match: " + validators[media].first + "\r\n"), 304,
         "cache-control", kept},
        {"If-Modified-Since", Get(media, "If-Modified-Since: " + validators[media].second + "\r\n"),
         304},
        {"If-Match, another ETag", Get(media, "If-Match: \"other\"\r\n"), 412},
        {"If-Match, the ETag, Range",
         Get(media, "If-Match: " + validators[media].first + "\r\nRange: bytes=0-99\r\n"), 206,
         "cache-control", kept},
        // nginx adds its headers before the range filter makes the 416: a cache kept it.
        {"a range past the end", Get(media, "Range: bytes=" + mediaLength + "-\r\n"), 416,
         "cache-control", ""},
        {"resuming a changed episode",
         Get(media, "If-Unmodified-Since: " + DayBefore(validators[media].second) +
                        "\r\nRange: bytes=100-199\r\n"),
         412},
        {"resuming an unchanged download",
         Get(download,
             "If-Unmodified-Since: " + validators[download].second + "\r\nRange: bytes=100-\r\n"),
         206},
        {"resuming a changed download",
         Get(download, "If-Unmodified-Since: " + DayBefore(validators[download].second) +
                           "\r\nRange: bytes=100-\r\n"),
         412},
        {"If-Match on a download, another ETag", Get(download, "If-Match: \"other\"\r\n"), 412},
        // Pages: compressed for clients that take it, so caches must keep both apart; they
        // have no Last-Modified, so If-Unmodified-Since is ignored (RFC 9110 section 13.1.4).
        {"a page, compressed", Get(page, "Accept-Encoding: gzip\r\n"), 200, "vary",
         "Accept-Encoding"},
        {"If-Unmodified-Since on a page",
         Get(page, "If-Unmodified-Since: " + validators[media].second + "\r\n"), 200},
    };
    for (const HostileRequest& c : velmora::test::HostileRequests("tessavo.example")) {
        if (c.nginx.empty()) {
            continue;
        }
        SCOPED_TRACE(c.what);
        WholeAnswer answer = Exchange(c.Bytes());
        EXPECT_EQ(answer.fault, "") << answer.raw.substr(0, 300);
        EXPECT_TRUE(velmora::test::StatusAllowed(c.nginx, answer.status))
            << "status " << answer.status << ", expected " << c.nginx << "\n"
            << answer.raw.substr(0, 300);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WholeAnswer answer = Exchange(c.request);
        EXPECT_EQ(answer.fault, "") << answer.raw.substr(0, 300);
        EXPECT_EQ(answer.status, c.status) << answer.raw.substr(0, 300);
        if (c.header) {
            const std::string value = answer.Header(c.header);
            EXPECT_TRUE(*c.holds ? value.find(c.holds) != std::string::npos
                                 : answer.headers.count(c.header) == 0)
                << c.header << ": '" << value << "', expected '" << c.holds << "'";
        }
    }
}

} // namespace
