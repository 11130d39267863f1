#include "HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <microhttpd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::site {

namespace {

// What one request carries between libmicrohttpd's callbacks.
struct RequestState {
    std::string target; // the request target as sent: path and query, still encoded
    bool headersSeen = false;
    bool answered = false;
};

// The request log. One line per request on stdout, flushed at once, written before the
// answer goes out so a client that has its answer can already find the line:
//
//     METHOD TARGET STATUS BYTES
//
// TARGET is the path and query exactly as requested and METHOD the method as sent, both
// with bytes outside printable ASCII as %XX (in METHOD '%' too, since a method is not
// percent-encoded), so a request is always one line of four fields whatever it carries;
// BYTES is the body length sent (0 for HEAD). Tests read this log: keep the format.
std::mutex logMutex;

void AppendEscaped(std::string& line, const std::string& text, bool escapePercent) {
    for (unsigned char c : text) {
        if (c > 0x20 && c < 0x7F && (c != '%' || !escapePercent)) {
            line += static_cast<char>(c);
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            line += hex;
        }
    }
}

void LogRequest(const char* method, const std::string& target, unsigned status, uint64_t bytes) {
    std::string line;
    AppendEscaped(line, method, true);
    line += ' ';
    AppendEscaped(line, target, false);
    line += ' ';
    line += std::to_string(status);
    line += ' ';
    line += std::to_string(bytes);
    line += '\n';
    std::lock_guard<std::mutex> lock(logMutex);
    fwrite(line.data(), 1, line.size(), stdout);
    fflush(stdout);
}

void* OnUri(void*, const char* uri, MHD_Connection*) {
    auto* state = new RequestState;
    state->target = uri ? uri : "";
    return state;
}

void OnCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
    delete static_cast<RequestState*>(*context);
    *context = nullptr;
}

MHD_Response* MakeResponse(Response& answer) {
    if (answer.file.Open() && answer.file.Length() > 0) {
        uint64_t offset = answer.file.Offset();
        uint64_t length = answer.file.Length();
        int fd = answer.file.Release();
        MHD_Response* response = MHD_create_response_from_fd_at_offset64(length, fd, offset);
        if (!response) {
            close(fd);
        }
        return response;
    }
    return MHD_create_response_from_buffer(answer.body.size(), answer.body.data(),
                                           MHD_RESPMEM_MUST_COPY);
}

MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t* uploadSize, void** context) {
    auto* state = static_cast<RequestState*>(*context);
    if (!state) { // no URI callback ran; should not happen, but never crash on it
        state = new RequestState;
        state->target = url;
        *context = state;
    }
    // Answering on the first call would make libmicrohttpd close the connection after the
    // answer; waiting for the (empty) end of the request keeps it alive for the next one.
    if (!state->headersSeen) {
        state->headersSeen = true;
        return MHD_YES;
    }
    if (*uploadSize != 0 || state->answered) {
        *uploadSize = 0; // a request body nobody asked for: drop it
        return MHD_YES;
    }
    state->answered = true;

    const Site& site = *static_cast<const Site*>(cls);
    Request request;
    request.method = method;
    request.path = url;
    // With its length: a decoded %00 inside the value must not cut it short. A bare "flv"
    // without '=' has no value and counts as absent.
    const char* flv = nullptr;
    size_t flvLength = 0;
    if (MHD_lookup_connection_value_n(connection, MHD_GET_ARGUMENT_KIND, "flv", 3, &flv,
                                      &flvLength) == MHD_YES &&
        flv) {
        request.flv = std::string(flv, flvLength);
    }
    size_t question = state->target.find('?');
    if (question != std::string::npos) {
        request.query = state->target.substr(question + 1);
    }
    // libmicrohttpd hands over the decoded path as a C string, so a %00 would cut it short
    // ("/downloads/a.txt%00.jpg" would send a.txt). Keep a NUL in it instead: no address
    // holds one, so such a path is not found.
    if (state->target.substr(0, question).find("%00") != std::string::npos) {
        request.path += '\0';
    }
    request.range = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE);

    Response answer = site.Handle(request);
    uint64_t bytes = request.method == "HEAD" ? 0 : answer.BodyLength();
    MHD_Response* response = MakeResponse(answer);
    if (!response) {
        return MHD_NO;
    }
    if (!answer.contentType.empty()) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    }
    for (const auto& [name, value] : answer.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    LogRequest(method, state->target, answer.status, bytes);
    MHD_Result result = MHD_queue_response(connection, answer.status, response);
    MHD_destroy_response(response);
    return result;
}

} // namespace

int OpenListenSocket(const std::string& address, int port, std::string* error) {
    std::string where = address + ":" + std::to_string(port);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        *error = "cannot listen on " + where + ": not an IPv4 address";
        return -1;
    }
    // Non-blocking: every pool thread watches this socket and only one wins each accept.
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = "cannot listen on " + where + ": " + strerror(errno);
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4096) != 0) {
        *error = "cannot listen on " + where + ": " + strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t BoundPort(int fd) {
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        return 0;
    }
    return ntohs(addr.sin_port);
}

bool HttpServer::Start(int listenFd, unsigned threads, std::string* error) {
    if (threads == 0) {
        threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    }
    // Every installed player keeps asking; let the descriptor limit, not a default cap,
    // decide how many connections may be open at once.
    rlimit limit{};
    unsigned connections = 1000;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        if (limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
            getrlimit(RLIMIT_NOFILE, &limit);
        }
        if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur > 128) {
            connections = static_cast<unsigned>(std::min<rlim_t>(limit.rlim_cur - 64, 1u << 20));
        } else if (limit.rlim_cur == RLIM_INFINITY) {
            connections = 1u << 20;
        }
    }
    unsigned flags =
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO | MHD_USE_ITC | MHD_USE_ERROR_LOG;
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, listenFd, nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&OnUri), nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&OnCompleted), nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(connections), nullptr},
        // Idle keep-alive connections are fine, forgotten ones are not.
        {MHD_OPTION_CONNECTION_TIMEOUT, 120, nullptr},
    };
    if (threads > 1) {
        options.push_back({MHD_OPTION_THREAD_POOL_SIZE, static_cast<intptr_t>(threads), nullptr});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &Answer, const_cast<Site*>(&site_),
                               MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (!daemon_) {
        close(listenFd);
        *error = "cannot start the HTTP server";
        return false;
    }
    return true;
}

void HttpServer::Stop() {
    if (daemon_) {
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }
}

} // namespace velmora::site
