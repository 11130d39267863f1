// Requests another HTTP parser could read otherwise than the site, and heads large enough to
// reach its limits, with the statuses each may get: from the site alone (the site tests) and
// from nginx with the shipped configuration in front of it (the public tests). Whatever the
// status, the answer must be one whole response and nothing after it.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace velmora::test {

struct HostileRequest {
    std::string what;
    std::string head;  // request line and headers; "Connection: close" and the blank line follow
    std::string after; // sent after the head
    std::string site;  // the statuses allowed, blank-separated; "" when not sent there
    std::string nginx;

    std::string Bytes() const { return head + "Connection: close\r\n\r\n" + after; }
};

// Whether status is one of the blank-separated statuses.
inline bool StatusAllowed(const std::string& statuses, int status) {
    std::istringstream words(statuses);
    for (std::string word; words >> word;) {
        if (word == std::to_string(status)) {
            return true;
        }
    }
    return false;
}

// host: the value of the Host header.
inline std::vector<HostileRequest> HostileRequests(const std::string& host) {
    const std::string target = "/video/player/?flv=list";
    const std::string list = "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    const std::string smuggled = "GET /smuggled HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    const std::string cookie79(7900, 'c');
    std::vector<HostileRequest> requests = {
        // Framing two parsers could read apart is refused, not guessed at; libmicrohttpd's
        // own refusals once came out with the status line and headers twice.
        {"Content-Length : 36", list + "Content-Length : 36\r\n", smuggled, "400", "400"},
        {"two Host headers", list + "Host: other.example\r\n", "", "400", "400"},
        {"Transfer-Encoding and Content-Length",
         list + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n", "0\r\n\r\n", "400", ""},
        {"Content-Length twice", list + "Content-Length: 5\r\nContent-Length: 6\r\n", "hello",
         "400", ""},
        {"Content-Length: abc", list + "Content-Length: abc\r\n", "", "", "400"},
        {"a huge Content-Length on a GET", list + "Content-Length: 99999999999\r\n", "", "", "413"},
        // Heads of about 16 KB once got the connection closed with no answer.
        {"an 8 KB cookie", list + "Cookie: a=" + std::string(8192, 'c') + "\r\n", "", "200", "400"},
        {"a 7.9 KB cookie", list + "Cookie: a=" + cookie79 + "\r\n", "", "", "200"},
        {"a 16.2 KB head (reaches the site)",
         list + "Cookie: a=" + cookie79 + "\r\nX-Note: " + cookie79 +
             "\r\nX-More: " + std::string(400, 'm') + "\r\n",
         "", "", "431 200"},
        {"a 16 KB address",
         "GET " + target + "&pad=" + std::string(16 * 1024, 'p') + " HTTP/1.1\r\nHost: " + host +
             "\r\n",
         "", "414", "414"},
    };
    // Around the size of a site connection's memory for the head.
    for (size_t size = 15900; size <= 16500; size += 40) {
        requests.push_back({"X-Padding of " + std::to_string(size) + " bytes",
                            list + "X-Padding: " + std::string(size, 'p') + "\r\n", "", "200 431",
                            ""});
    }
    return requests;
}

} // namespace velmora::test
