// A small HTTP client for the site and public tests: libcurl for ordinary requests, raw
// sockets where the test needs to hold or reuse connections itself, and a strict reader of
// one whole answer.
#pragma once

#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace velmora::test {

inline std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

struct HttpReply {
    bool ok = false; // the exchange happened (any status)
    std::string error;
    long status = 0;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    std::string Header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

struct HttpRequest {
    std::string method = "GET";
    std::vector<std::string> headers; // "Name: value"
    std::string body;
    long timeoutMs = 10000; // the whole exchange
};

inline HttpReply Fetch(const std::string& url, const HttpRequest& request = {}) {
    HttpReply reply;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, request.timeoutMs);
    if (request.method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (request.method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    if (!request.body.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
    }
    // "/../" goes out as written: the site must refuse it, not curl fold it.
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    curl_slist* headers = nullptr;
    for (const std::string& header : request.headers) {
        headers = curl_slist_append(headers, header.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* user) {
            static_cast<std::string*>(user)->append(data, size * count);
            return size * count;
        });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(
        curl, CURLOPT_HEADERFUNCTION, +[](char* data, size_t size, size_t count, void* user) {
            std::string line(data, size * count);
            size_t colon = line.find(':');
            if (colon != std::string::npos) {
                std::string name = Lower(line.substr(0, colon));
                size_t begin = line.find_first_not_of(" \t", colon + 1);
                size_t end = line.find_last_not_of(" \t\r\n");
                (*static_cast<std::map<std::string, std::string>*>(user))[name] =
                    begin == std::string::npos || end < begin ? ""
                                                              : line.substr(begin, end - begin + 1);
            }
            return size * count;
        });
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
    CURLcode code = curl_easy_perform(curl);
    reply.ok = code == CURLE_OK;
    if (!reply.ok) {
        reply.error = curl_easy_strerror(code);
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
}

// Asks until the body is `expected` or timeoutMs has passed (the site looks at its media
// folder only every so often); returns the last body.
inline std::string FetchUntil(const std::string& url, const std::string& expected,
                              int timeoutMs = 2000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string body = Fetch(url).body;
    while (body != expected && std::chrono::steady_clock::now() < deadline) {
        poll(nullptr, 0, 20);
        body = Fetch(url).body;
    }
    return body;
}

// What a server sent on a connection it closed, read as one HTTP/1.1 response.
struct WholeAnswer {
    std::string raw;
    int status = 0;
    std::multimap<std::string, std::string> headers; // names in lower case
    std::string body;
    std::string fault; // empty when raw is one well-formed response and nothing else

    std::string Header(const std::string& name) const {
        auto found = headers.find(name);
        return found == headers.end() ? "" : found->second;
    }
};

// Whether raw holds a response head and the body its Content-Length announces.
inline bool HoldsWholeAnswer(const std::string& raw, bool head) {
    size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
        return false;
    }
    std::string lower = Lower(raw.substr(0, headEnd));
    size_t at = lower.find("\r\ncontent-length:");
    size_t length =
        head || at == std::string::npos ? 0 : strtoul(lower.c_str() + at + 17, NULL, 10);
    return raw.size() >= headEnd + 4 + length;
}

// Checks raw is exactly one response: a status line, headers, and a body of exactly the
// announced length (or whole chunks), nothing after it. head: raw answers a HEAD.
inline WholeAnswer ReadWholeAnswer(const std::string& raw, bool head = false) {
    WholeAnswer answer;
    answer.raw = raw;
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
        answer.headers.emplace(Lower(line.substr(0, colon)),
                               line.substr(line.find_first_not_of(' ', colon + 1)));
    }
    answer.body = raw.substr(headEnd + 4);
    const bool bodiless = head || answer.status == 304 || answer.status == 204;
    // A compressed page is sent in chunks: it ends with the last, empty one.
    const bool chunked = answer.Header("transfer-encoding") == "chunked";
    const size_t count = answer.headers.count("content-length");
    const std::string length = answer.Header("content-length");
    const std::string& body = answer.body;
    if (answer.status == 304 && count != 0) {
        answer.fault = "a 304 with Content-Length";
    } else if (count > 1 || (chunked && count != 0)) {
        answer.fault = "Content-Length twice, or with chunks";
    } else if (bodiless && !body.empty()) {
        answer.fault = "a body after a bodiless answer";
    } else if (chunked && (body.size() < 5 || body.compare(body.size() - 5, 5, "0\r\n\r\n") != 0)) {
        answer.fault = "chunks without the last one";
    } else if (!bodiless && !chunked && count == 0) {
        answer.fault = "no Content-Length";
    } else if (!bodiless && !chunked && std::to_string(body.size()) != length) {
        answer.fault = "body of " + std::to_string(body.size()) + " bytes, announced " + length +
                       (body.find("HTTP/1.") != std::string::npos ? " (a second response)" : "");
    }
    return answer;
}

// A plain TCP connection for tests that need to control the connection itself.
class RawConnection {
  public:
    // source: the loopback address to connect from ("" any); receiveBuffer, when not 0,
    // keeps the window small so that a client that stops reading holds the server back.
    RawConnection(const std::string& host, int port, const std::string& source = "",
                  int receiveBuffer = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        if (!source.empty()) {
            sockaddr_in from{};
            from.sin_family = AF_INET;
            inet_pton(AF_INET, source.c_str(), &from.sin_addr);
            bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from);
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~RawConnection() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool Connected() const { return fd_ >= 0; }

    bool Send(const std::string& bytes) {
        return fd_ >= 0 && send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                               static_cast<ssize_t>(bytes.size());
    }

    // Reads one response with a Content-Length body; empty on time-out or close.
    std::string ReadResponse(int timeoutMs = 5000) {
        std::string data;
        for (;;) {
            size_t headerEnd = data.find("\r\n\r\n");
            if (headerEnd != std::string::npos) {
                size_t length = 0;
                std::string lower = Lower(data.substr(0, headerEnd));
                size_t at = lower.find("\r\ncontent-length:");
                if (at != std::string::npos) {
                    length = std::stoul(lower.substr(at + 17));
                }
                if (data.size() >= headerEnd + 4 + length) {
                    return data.substr(0, headerEnd + 4 + length);
                }
            }
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) {
                return {};
            }
            char buffer[4096];
            ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return {};
            }
            data.append(buffer, static_cast<size_t>(n));
        }
    }

    // Sends request and reads what comes until the server closes, as one whole answer. Once
    // a whole response is in it waits only briefly: a doubled answer follows at once, while
    // nginx may linger on a connection whose body it refused.
    WholeAnswer Exchange(const std::string& request, bool head = false, int timeoutMs = 5000) {
        if (!Send(request)) {
            WholeAnswer answer;
            answer.fault = "cannot send";
            return answer;
        }
        std::string raw;
        for (std::string part;
             !(part = ReadSome(65536, HoldsWholeAnswer(raw, head) ? 300 : timeoutMs)).empty();) {
            raw += part;
        }
        return ReadWholeAnswer(raw, head);
    }

    // What arrives within timeoutMs, at most `most` bytes; empty on time-out or close.
    std::string ReadSome(size_t most = 65536, int timeoutMs = 5000) {
        pollfd p{fd_, POLLIN, 0};
        if (fd_ < 0 || poll(&p, 1, timeoutMs) <= 0) {
            return {};
        }
        std::string data(most, '\0');
        ssize_t n = recv(fd_, data.data(), most, 0);
        data.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return data;
    }

    // True when the server closes the connection within timeoutMs (what it sends before
    // is read and dropped).
    bool ClosedWithin(int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (fd_ >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buffer[4096];
            if (recv(fd_, buffer, sizeof buffer, 0) <= 0) {
                return true;
            }
        }
        return false;
    }

  private:
    int fd_ = -1;
};

} // namespace velmora::test
