#include "HttpServer.h"

#include "Text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <microhttpd.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

namespace velmora::site {

namespace {

using Clock = std::chrono::steady_clock;

// The request headers the server itself looks at, found in one walk over the list rather
// than a lookup (a walk each) per header. The first of each name counts, as with
// MHD_lookup_connection_value; the values stay valid until the request ends.
struct KnownHeaders {
    const char* userAgent = nullptr;
    const char* forwardedFor = nullptr;
    const char* contentLength = nullptr;
    const char* transferEncoding = nullptr;
    const char* host = nullptr;
    const char* range = nullptr;
    const char* connection = nullptr;

    void Read(MHD_Connection* request) {
        *this = {};
        MHD_get_connection_values(request, MHD_HEADER_KIND, &KnownHeaders::Visit, this);
    }

  private:
    static MHD_Result Visit(void* cls, MHD_ValueKind, const char* name, const char* value) {
        struct Field {
            const char* name;
            size_t length;
            const char* KnownHeaders::*slot;
        };
#define VELMORA_FIELD(name, slot)                                                                  \
    { name, sizeof(name) - 1, &KnownHeaders::slot }
        static const Field fields[] = {
            VELMORA_FIELD(MHD_HTTP_HEADER_USER_AGENT, userAgent),
            VELMORA_FIELD("X-Forwarded-For", forwardedFor),
            VELMORA_FIELD(MHD_HTTP_HEADER_CONTENT_LENGTH, contentLength),
            VELMORA_FIELD(MHD_HTTP_HEADER_TRANSFER_ENCODING, transferEncoding),
            VELMORA_FIELD(MHD_HTTP_HEADER_HOST, host),
            VELMORA_FIELD(MHD_HTTP_HEADER_RANGE, range),
            VELMORA_FIELD(MHD_HTTP_HEADER_CONNECTION, connection),
        };
#undef VELMORA_FIELD
        auto* known = static_cast<KnownHeaders*>(cls);
        const size_t length = strlen(name);
        for (const Field& field : fields) {
            if (field.length == length && !(known->*field.slot) &&
                strcasecmp(name, field.name) == 0) {
                known->*field.slot = value;
                break;
            }
        }
        return MHD_YES;
    }
};

// What one request carries between libmicrohttpd's callbacks. entry.target is the request
// target as sent: path and query, still encoded.
struct RequestState {
    Clock::time_point start;
    bool headersSeen = false;
    bool answered = false;
    LogEntry entry;
    uint64_t bodyLength = 0; // of the answer queued, 0 for HEAD
    KnownHeaders headers;
    // For an answer that may be cut short: what the socket had taken before it, and the
    // size of its header, so that the body bytes really sent can be told at the end.
    int fd = -1;
    uint64_t writtenBefore = 0;
    uint64_t headerBytes = 0;
    bool own = false; // not its connection's: deleted when the request ends

    void Begin(const char* target, const std::string& client) {
        start = Clock::now();
        headersSeen = answered = false;
        entry.client = client;
        entry.method.clear();
        entry.target = target ? target : "";
        entry.status = 0;
        entry.bytes = 0;
        entry.userAgent.clear();
        bodyLength = 0;
        fd = -1;
    }
};

// One connection, from accept to close. A connection has one request at a time, so it
// keeps the request's state, and its strings' memory, from one request to the next.
struct ConnectionState {
    std::string client; // "127.0.0.1", "::1"
    int fd = -1;
    HeaderDeadline::Connection* deadline = nullptr;
    bool requestSeen = false; // libmicrohttpd parsed a request line on it
    RequestState request;
};

// Answers larger than this are counted at the socket (a system call before and, when cut
// short, after). Smaller ones nearly always go into the socket's buffer at once; one cut
// short anyway is logged with 0 bytes.
constexpr uint64_t kCountedBody = 16 * 1024;

ConnectionState* StateOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<ConnectionState*>(info->socket_context) : nullptr;
}

std::string AddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "-";
    if (address && address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    } else if (address && address->sa_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&v6)) { // an IPv4 client of a "::" socket
            inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text);
        } else {
            inet_ntop(AF_INET6, &v6, text, sizeof text);
        }
    }
    return text;
}

int64_t UnixMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// "http://host:port/path?q" (absolute form, which a client talking to a proxy sends) to
// "/path?q"; any other target is left as it is.
void StripAbsoluteForm(std::string& target) {
    size_t scheme = target.find("://");
    if (scheme == std::string::npos || target.empty() || target[0] == '/') {
        return;
    }
    std::string name = AsciiLower(std::string_view(target).substr(0, scheme));
    if (name != "http" && name != "https") {
        return;
    }
    size_t path = target.find_first_of("/?", scheme + 3);
    target = path == std::string::npos ? "/" : target.substr(path);
    if (target[0] == '?') {
        target.insert(0, "/");
    }
}

// The size of the header libmicrohttpd sends with an answer: status line, our headers, and
// its own Date, Content-Length and Connection lines. connection: the value of the last, or
// null when there is none.
uint64_t HeaderBytes(const Response& answer, uint64_t bodyLength, const char* connection) {
    const char* reason = MHD_get_reason_phrase_for(answer.status);
    uint64_t bytes = strlen("HTTP/1.1 200 \r\n") + strlen(reason) +
                     strlen("Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n") +
                     strlen("Content-Length: \r\n") + std::to_string(bodyLength).size() +
                     strlen("\r\n");
    if (!answer.contentType.empty()) {
        bytes += strlen("Content-Type: \r\n") + answer.contentType.size();
    }
    for (const auto& [name, value] : answer.headers) {
        bytes += name.size() + value.size() + strlen(": \r\n");
    }
    if (connection) {
        bytes += strlen("Connection: \r\n") + strlen(connection);
    }
    return bytes;
}

// What libmicrohttpd puts in the answer's Connection header, if anything: "close" when
// either side ends the connection after it, "Keep-Alive" to an HTTP/1.0 client keeping it.
const char* ConnectionValue(const char* asked, const char* version, bool refused) {
    const std::string tokens = AsciiLower(asked ? asked : "");
    if (refused || tokens.find("close") != std::string::npos) {
        return "close";
    }
    if (strcmp(version, MHD_HTTP_VERSION_1_1) == 0) {
        return nullptr;
    }
    return tokens.find("keep-alive") != std::string::npos ? "Keep-Alive" : "close";
}

// The small answers that are the same bytes request after request (the count, the notice,
// the version): each server thread keeps the last few as libmicrohttpd responses and
// queues them again, rather than building, copying and freeing one per request.
class ResponseCache {
  public:
    static bool Fits(const Response& answer) {
        return answer.status == 200 && !answer.file.Open() && answer.body.size() <= 1024;
    }

    ~ResponseCache() {
        for (Entry& entry : entries_) {
            if (entry.response) {
                MHD_destroy_response(entry.response);
            }
        }
    }

    MHD_Response* Find(const Response& answer) const {
        for (const Entry& entry : entries_) {
            if (entry.response && entry.body == answer.body &&
                entry.contentType == answer.contentType && entry.headers == answer.headers) {
                return entry.response;
            }
        }
        return nullptr;
    }

    // Keeps the response (and the reference to it the caller had) in place of the oldest.
    void Keep(const Response& answer, MHD_Response* response) {
        Entry& entry = entries_[next_];
        next_ = (next_ + 1) % kEntries;
        if (entry.response) {
            MHD_destroy_response(entry.response);
        }
        entry.contentType = answer.contentType;
        entry.headers = answer.headers;
        entry.body = answer.body;
        entry.response = response;
    }

  private:
    static constexpr size_t kEntries = 4;
    struct Entry {
        std::string contentType;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        MHD_Response* response = nullptr;
    };
    Entry entries_[kEntries];
    size_t next_ = 0;
};

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

} // namespace

struct HttpServer::Glue {
    static void OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code) {
        auto* server = static_cast<HttpServer*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* state = new ConnectionState;
            const MHD_ConnectionInfo* address =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            state->client = AddressText(address ? address->client_addr : nullptr);
            const MHD_ConnectionInfo* fd =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (fd) {
                state->fd = fd->connect_fd;
                state->deadline = server->headerDeadline_->Opened(fd->connect_fd);
            }
            *socketContext = state;
            return;
        }
        auto* state = static_cast<ConnectionState*>(*socketContext);
        if (!state) {
            return;
        }
        // An answer libmicrohttpd made itself to something that was not a request line.
        const MHD_ConnectionInfo* status =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS);
        if (!state->requestSeen && status && status->http_status != 0) {
            LogEntry entry;
            entry.client = state->client;
            entry.method = "-";
            entry.target = "-";
            entry.status = status->http_status;
            entry.unixMillis = UnixMillis();
            server->log_.Write(entry);
        }
        if (state->deadline) {
            server->headerDeadline_->Closed(state->deadline);
        }
        delete state;
        *socketContext = nullptr;
    }

    static void* OnUri(void* cls, const char* uri, MHD_Connection* connection) {
        auto* server = static_cast<HttpServer*>(cls);
        ++server->inFlight_;
        RequestState* state = nullptr;
        if (ConnectionState* owner = StateOf(connection)) {
            owner->requestSeen = true;
            state = &owner->request;
            state->Begin(uri, owner->client);
        } else {
            state = new RequestState;
            state->own = true;
            state->Begin(uri, "-");
        }
        StripAbsoluteForm(state->entry.target);
        return state;
    }

    static void OnCompleted(void* cls, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode code) {
        auto* server = static_cast<HttpServer*>(cls);
        auto* state = static_cast<RequestState*>(*context);
        *context = nullptr;
        if (!state) {
            return;
        }
        // libmicrohttpd reports the end of every answer here as soon as the socket has
        // taken its last byte (also on a kept-alive connection), or when it is cut short.
        LogEntry& entry = state->entry;
        if (state->answered) {
            // Cut short (the client went away, a time-out, shutdown): the body bytes the
            // socket took, as nginx counts them; the status stays the one sent.
            entry.bytes = state->bodyLength;
            if (code != MHD_REQUEST_TERMINATED_COMPLETED_OK) {
                const uint64_t written =
                    state->fd >= 0 ? BytesWritten(state->fd) - state->writtenBefore : 0;
                entry.bytes = written > state->headerBytes
                                  ? std::min(written - state->headerBytes, state->bodyLength)
                                  : 0;
            }
        } else {
            // An answer libmicrohttpd made itself (431, 400), or none (status 0).
            const MHD_ConnectionInfo* status =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS);
            entry.status = status ? status->http_status : 0;
            if (entry.method.empty()) {
                entry.method = "-";
            }
        }
        entry.seconds = std::chrono::duration<double>(Clock::now() - state->start).count();
        entry.unixMillis = UnixMillis();
        server->log_.Write(entry);
        if (ConnectionState* owner = StateOf(connection); owner && owner->deadline) {
            server->headerDeadline_->AnswerDone(owner->deadline);
        }
        if (state->own) {
            delete state;
        }
        --server->inFlight_;
    }

    static MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char* version, const char*,
                             size_t* uploadSize, void** context) {
        auto* server = static_cast<HttpServer*>(cls);
        auto* state = static_cast<RequestState*>(*context);
        if (!state) { // no URI callback ran; should not happen, but never crash on it
            ++server->inFlight_;
            state = new RequestState;
            state->own = true;
            state->Begin(url, "-");
            *context = state;
        }
        bool refuseNow = false;
        bool hostMissing = false;
        if (!state->headersSeen) {
            state->headersSeen = true;
            state->entry.method = method;
            const KnownHeaders& headers = state->headers;
            state->headers.Read(connection);
            state->entry.userAgent = headers.userAgent ? headers.userAgent : "";
            if (server->limits_.trustProxy) {
                const char* forwarded = headers.forwardedFor;
                if (forwarded && *forwarded) {
                    std::string chain;
                    for (const char* c = forwarded; *c; ++c) {
                        if (*c != ' ' && *c != '\t') {
                            chain += *c;
                        }
                    }
                    state->entry.client = chain + "," + state->entry.client;
                }
            }
            if (ConnectionState* owner = StateOf(connection); owner && owner->deadline) {
                server->headerDeadline_->HeadersDone(owner->deadline);
            }
            // Nothing here takes a request body: one that comes with a body, or a method
            // that is refused anyway, is answered before the body is read (so no
            // "100 Continue" either) and the connection closed.
            const char* length = headers.contentLength;
            bool body = headers.transferEncoding || (length && strcmp(length, "0") != 0);
            bool safe = strcmp(method, "GET") == 0 || strcmp(method, "HEAD") == 0;
            // HTTP/1.1 requires Host (RFC 9112 section 3.2); libmicrohttpd lets it pass.
            hostMissing = strcmp(version, MHD_HTTP_VERSION_1_1) == 0 && !headers.host;
            if (!body && safe && !hostMissing) {
                // Answering on the first call would make libmicrohttpd close the connection
                // after the answer; waiting for the (empty) end of the request keeps it
                // alive for the next one.
                return MHD_YES;
            }
            refuseNow = true;
        }
        if (!refuseNow && (*uploadSize != 0 || state->answered)) {
            *uploadSize = 0;
            return MHD_YES;
        }
        state->answered = true;

        Request request;
        request.method = method;
        request.path = url;
        StripAbsoluteForm(request.path);
        // With its length: a decoded %00 inside the value must not cut it short. A bare
        // "flv" without '=' has no value and counts as absent.
        const char* flv = nullptr;
        size_t flvLength = 0;
        if (MHD_lookup_connection_value_n(connection, MHD_GET_ARGUMENT_KIND, "flv", 3, &flv,
                                          &flvLength) == MHD_YES &&
            flv) {
            request.flv = std::string(flv, flvLength);
        }
        const std::string& target = state->entry.target;
        size_t question = target.find('?');
        if (question != std::string::npos) {
            request.query = target.substr(question + 1);
        }
        // libmicrohttpd hands over the decoded path as a C string, so a %00 would cut it
        // short ("/downloads/a.txt%00.jpg" would send a.txt). Keep a NUL in it instead: no
        // address holds one, so such a path is not found.
        if (std::string_view(target).substr(0, question).find("%00") != std::string::npos) {
            request.path += '\0';
        }
        request.range = state->headers.range;
        request.header = [connection](const char* name) {
            return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
        };

        Response answer;
        if (hostMissing) {
            answer.status = 400;
            answer.contentType = "text/plain; charset=utf-8";
            answer.body = "Bad Request: an HTTP/1.1 request needs a Host header\n";
        } else {
            answer = server->CurrentSite()->Handle(request);
        }
        state->bodyLength = request.method == "HEAD" ? 0 : answer.BodyLength();
        state->entry.status = answer.status;
        thread_local ResponseCache cache;
        const bool cacheable = !refuseNow && ResponseCache::Fits(answer);
        if (MHD_Response* kept = cacheable ? cache.Find(answer) : nullptr) {
            return MHD_queue_response(connection, answer.status, kept);
        }
        MHD_Response* response = MakeResponse(answer);
        if (!response) {
            return MHD_NO;
        }
        if (!answer.contentType.empty()) {
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                    answer.contentType.c_str());
        }
        for (const auto& [name, value] : answer.headers) {
            MHD_add_response_header(response, name.c_str(), value.c_str());
        }
        if (refuseNow) {
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
        }
        if (cacheable) {
            cache.Keep(answer, response);
            return MHD_queue_response(connection, answer.status, response);
        }
        // Logged when the answer has ended (OnCompleted).
        if (state->bodyLength > kCountedBody) {
            if (ConnectionState* owner = StateOf(connection); owner && owner->fd >= 0) {
                state->fd = owner->fd;
                state->writtenBefore = BytesWritten(owner->fd);
                state->headerBytes =
                    HeaderBytes(answer, state->bodyLength,
                                ConnectionValue(state->headers.connection, version, refuseNow));
            }
        }
        MHD_Result result = MHD_queue_response(connection, answer.status, response);
        MHD_destroy_response(response);
        return result;
    }
};

namespace {
std::atomic<uint64_t> nextSiteGeneration{1};
} // namespace

HttpServer::HttpServer(std::shared_ptr<const Site> site, RequestLog& log)
    : site_(std::move(site)), siteGeneration_(nextSiteGeneration++), log_(log) {}

void HttpServer::ReplaceSite(std::shared_ptr<const Site> site) {
    std::lock_guard<std::mutex> lock(siteMutex_);
    site_ = std::move(site);
    siteGeneration_.store(nextSiteGeneration++, std::memory_order_release);
}

const std::shared_ptr<const Site>& HttpServer::CurrentSite() {
    struct Held {
        uint64_t generation = 0;
        std::shared_ptr<const Site> site;
    };
    thread_local Held held;
    if (held.generation != siteGeneration_.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(siteMutex_);
        held.generation = siteGeneration_.load(std::memory_order_relaxed);
        held.site = site_;
    }
    return held.site;
}

bool HttpServer::Start(int listenFd, const ServerLimits& limits, std::string* error) {
    limits_ = limits;
    unsigned threads = limits.threads;
    if (threads == 0) {
        threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    }
    unsigned connections = limits.connections ? limits.connections : ConnectionBudget();
    headerDeadline_ = std::make_unique<HeaderDeadline>(limits.headerTimeout);
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    unsigned flags =
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO | MHD_USE_ITC | MHD_USE_ERROR_LOG;
    if (bound.ss_family == AF_INET6) {
        flags |= MHD_USE_IPv6;
    }
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, listenFd, nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&Glue::OnUri), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Glue::OnCompleted), this},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Glue::OnConnection), this},
        // Never more than the descriptors allow: past it, new connections wait in the
        // listen queue rather than failing to open the file they ask for.
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(connections), nullptr},
        // Idle keep-alive connections are fine, forgotten ones are not.
        {MHD_OPTION_CONNECTION_TIMEOUT, 120, nullptr},
        // Each connection's buffer for the request's headers and the answer's header.
        // libmicrohttpd clears all of it for every request, so its default 32 KB cost the
        // count address a tenth of its speed; 16 KB still takes some 15 KB of headers
        // (nginx takes 8 KB a line).
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 16 * 1024, nullptr},
    };
    if (limits.perAddress) {
        options.push_back({MHD_OPTION_PER_IP_CONNECTION_LIMIT,
                           static_cast<intptr_t>(limits.perAddress), nullptr});
    }
    if (threads > 1) {
        options.push_back({MHD_OPTION_THREAD_POOL_SIZE, static_cast<intptr_t>(threads), nullptr});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &Glue::Answer, this, MHD_OPTION_ARRAY,
                               options.data(), MHD_OPTION_END);
    if (!daemon_) {
        close(listenFd);
        headerDeadline_.reset();
        *error = "cannot start the HTTP server";
        return false;
    }
    return true;
}

void HttpServer::Shutdown(std::chrono::milliseconds deadline) {
    if (!daemon_) {
        return;
    }
    int listenFd = MHD_quiesce_daemon(daemon_);
    if (listenFd >= 0) {
        close(listenFd);
    }
    const auto until = Clock::now() + deadline;
    while (inFlight_.load() > 0 && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
}

void HttpServer::Stop() {
    if (daemon_) {
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }
    headerDeadline_.reset();
}

} // namespace velmora::site
