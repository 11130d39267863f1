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

#include "tests/site/SiteHttp.h"

namespace {

using velmora::test::RawConnection;

std::string Env(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

struct Answer {
    std::string raw;
    int status = 0;
    std::multimap<std::string, std::string> headers; // names in lower case
    std::string body;
    std::string fault; // empty when the answer is one well-formed HTTP/1.1 response
};

std::string HeaderOf(const Answer& answer, const std::string& name) {
    auto found = answer.headers.find(name);
    return found == answer.headers.end() ? "" : found->second;
}

// Whether raw holds a response head and the body its Content-Length announces.
bool Whole(const std::string& raw, bool head) {
    size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return false;
    std::string lower = raw.substr(0, headEnd);
    for (char& c : lower)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    size_t at = lower.find("\r\ncontent-length:");
    size_t length =
        head || at == std::string::npos ? 0 : strtoul(lower.c_str() + at + 17, NULL, 10);
    return raw.size() >= headEnd + 4 + length;
}

// Sends the request and reads until the server closes (every request asks it to), then
// checks there is exactly one response: a status line, headers, and a body of exactly the
// announced length, nothing after it.
Answer Exchange(const std::string& request, bool head = false) {
    Answer answer;
    RawConnection connection(Env("PUBLIC_HOST"), atoi(Env("PUBLIC_PORT").c_str()));
    if (!connection.Connected() || !connection.Send(request)) {
        answer.fault = "cannot send";
        return answer;
    }
    // Until the server closes; once a whole response is in, only briefly: a doubled answer
    // follows at once, while nginx may linger on a connection whose body it refused.
    for (std::string part;
         !(part = connection.ReadSome(65536, Whole(answer.raw, head) ? 300 : 5000)).empty();)
        answer.raw += part;
    const std::string& raw = answer.raw;
    size_t headEnd = raw.find("\r\n\r\n");
    if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || headEnd == std::string::npos) {
        answer.fault = "no response head in '" + raw.substr(0, 200) + "'";
        return answer;
    }
    answer.status = atoi(raw.c_str() + 9);
    for (size_t at = raw.find("\r\n"); at < headEnd; at = raw.find("\r\n", at + 2)) {
        size_t end = raw.find("\r\n", at + 2);
        std::string line = raw.substr(at + 2, end - at - 2);
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) {
            answer.fault = "malformed header line '" + line + "'";
            return answer;
        }
        std::string name = line.substr(0, colon);
        for (char& c : name)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        answer.headers.emplace(name, line.substr(line.find_first_not_of(' ', colon + 1)));
    }
    answer.body = raw.substr(headEnd + 4);
    const bool bodiless = head || answer.status == 304 || answer.status == 204;
    // A compressed page is sent in chunks: it ends with the last, empty one.
    const bool chunked = HeaderOf(answer, "transfer-encoding") == "chunked";
    auto lengths = answer.headers.equal_range("content-length");
    size_t count = answer.headers.count("content-length");
    const std::string& body = answer.body;
    if (answer.status == 304 && count != 0)
        answer.fault = "a 304 with Content-Length";
    else if (count > 1 || (chunked && count != 0))
        answer.fault = "Content-Length twice, or with chunks";
    else if (bodiless && !answer.body.empty())
        answer.fault = "a body after a bodiless answer";
    else if (chunked && (body.size() < 5 || body.compare(body.size() - 5, 5, "0\r\n\r\n") != 0))
        answer.fault = "chunks without the last one";
    else if (!bodiless && !chunked && count == 0)
        answer.fault = "no Content-Length";
    else if (!bodiless && !chunked && std::to_string(answer.body.size()) != lengths.first->second)
        answer.fault =
            "body of " + std::to_string(answer.body.size()) + " bytes, announced " +
            lengths.first->second +
            (answer.body.find("HTTP/1.") != std::string::npos ? " (a second response)" : "");
    return answer;
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
        Answer head = Exchange(
            "HEAD " + file + " HTTP/1.1\r\nHost: tessavo.example\r\nConnection: close\r\n\r\n",
            true);
        ASSERT_EQ(head.status, 200) << file << ": " << head.fault;
        validators[file] = {HeaderOf(head, "etag"), HeaderOf(head, "last-modified")};
        mediaLength = file == media ? HeaderOf(head, "content-length") : mediaLength;
        ASSERT_FALSE(validators[file].first.empty()) << file;
        ASSERT_FALSE(DayBefore(validators[file].second).empty()) << file;
    }
    const std::string cookie79(7900, 'c'), cookie8k(8192, 'c');

    struct Case {
        const char* what;
        std::string request;
        int status;
        int orStatus = 0; // another right answer
        // A header the answer carries with this in its value; with "", one it must not carry.
        const char* header = nullptr;
        const char* holds = nullptr;
    };
    const char* const kept = "max-age=2592000, immutable"; // an episode file, for 30 days
    const Case cases[] = {
        {"the count", Get(count), 200},
        // libmicrohttpd's own refusals came out with the status line and headers twice.
        {"Content-Length: abc", Get(count, "Content-Length: abc\r\n"), 400},
        {"a huge Content-Length on a GET", Get(count, "Content-Length: 99999999999\r\n"), 413},
        {"an 8 KB cookie", Get(count, "Cookie: a=" + cookie8k + "\r\n"), 400},
        // Heads of about 16 KB got the connection closed with no answer.
        {"a 7.9 KB cookie", Get(count, "Cookie: a=" + cookie79 + "\r\n"), 200},
        {"a 16.2 KB head (reaches the site)",
         Get(count, "Cookie: a=" + cookie79 + "\r\nX-Note: " + cookie79 +
                        "\r\nX-More: " + std::string(400, 'm') + "\r\n"),
         431, 200},
        {"a 16 KB address", Get(count + "&pad=" + std::string(16000, 'p')), 414},
        // Malformed framing and a doubled Host are refused, not guessed at.
        {"Content-Length : 5", Get(count, "Content-Length : 5\r\n") + "hello", 400},
        {"two Host headers", Get(count, "Host: other.example\r\n"), 400},
        // Validators on the files nginx serves itself.
        {"If-None-Match", Get(media, "If-None-Match: " + validators[media].first + "\r\n"), 304,
         0, "cache-control", kept},
        {"If-Modified-Since", Get(media, "If-Modified-Since: " + validators[media].second + "\r\n"),
         304},
        {"If-Match, another ETag", Get(media, "If-Match: \"other\"\r\n"), 412},
        {"If-Match, the ETag, Range",
         Get(media, "If-Match: " + validators[media].first + "\r\nRange: bytes=0-99\r\n"), 206,
         0, "cache-control", kept},
        // nginx adds its headers before the range filter makes the 416: a cache kept it.
        {"a range past the end", Get(media, "Range: bytes=" + mediaLength + "-\r\n"), 416, 0,
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
        {"a page, compressed", Get(page, "Accept-Encoding: gzip\r\n"), 200, 0, "vary",
         "Accept-Encoding"},
        {"If-Unmodified-Since on a page",
         Get(page, "If-Unmodified-Since: " + validators[media].second + "\r\n"), 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Answer answer = Exchange(c.request);
        EXPECT_EQ(answer.fault, "") << answer.raw.substr(0, 300);
        EXPECT_TRUE(answer.status == c.status || (c.orStatus && answer.status == c.orStatus))
            << "status " << answer.status << ", expected " << c.status << "\n"
            << answer.raw.substr(0, 300);
        if (c.header) {
            const std::string value = HeaderOf(answer, c.header);
            EXPECT_TRUE(*c.holds ? value.find(c.holds) != std::string::npos
                                 : answer.headers.count(c.header) == 0)
                << c.header << ": '" << value << "', expected '" << c.holds << "'";
        }
    }
}

} // namespace
