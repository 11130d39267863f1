#include "HttpServer.h"

#include "Text.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <microhttpd.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace velmora::site {

namespace {

using Clock = std::chrono::steady_clock;

// Each connection's memory for a request's head and its answer's header, which
// libmicrohttpd clears for every request. It keeps the head there, parses cookies into a
// copy there and builds the answer's header in what is left; when that does not fit it
// closes the connection without a word. So a head may take half of it (as nginx, 8 KB a
// line), and one that could leave too little of the rest is refused before that.
constexpr size_t kMemory = 32 * 1024;
constexpr size_t kMostHead = kMemory / 2;
constexpr size_t kMostTarget = 8 * 1024;
constexpr size_t kFieldCost = 64;        // libmicrohttpd's record of one field
constexpr size_t kAnswerRoom = 2 * 1024; // our answers' headers take less
constexpr size_t kMostFields = kMemory - kMostHead - kAnswerRoom; // records and cookie copy

// What the server reads from a request's fields, in one walk over them.
struct Head {
    const char* userAgent = nullptr;
    const char* forwardedFor = nullptr;
    const char* contentLength = nullptr;
    bool transferEncoding = false;
    bool malformed = false; // a blank in a name, or two different Content-Lengths
    unsigned hosts = 0;
    size_t fieldBytes = 0; // what the fields take of the connection's memory besides the head

    static MHD_Result Read(void* cls, MHD_ValueKind kind, const char* name, const char* value) {
        auto* head = static_cast<Head*>(cls);
        head->fieldBytes += kFieldCost;
        if (kind != MHD_HEADER_KIND) {
            return MHD_YES;
        }
        const auto is = [name](const char* known) { return strcasecmp(name, known) == 0; };
        if (strpbrk(name, " \t")) {
            // libmicrohttpd keeps a blank before the colon in the name ("Content-Length "),
            // so another parser would read a different request (RFC 9112 section 5.1).
            head->malformed = true;
        } else if (is(MHD_HTTP_HEADER_HOST)) {
            ++head->hosts;
        } else if (is(MHD_HTTP_HEADER_CONTENT_LENGTH)) {
            head->malformed |= head->contentLength && strcmp(head->contentLength, value) != 0;
            head->contentLength = value;
        } else if (is(MHD_HTTP_HEADER_TRANSFER_ENCODING)) {
            head->transferEncoding = true;
        } else if (is(MHD_HTTP_HEADER_COOKIE)) {
            head->fieldBytes += strlen(value) + 1; // libmicrohttpd's copy
        } else if (is(MHD_HTTP_HEADER_USER_AGENT) && !head->userAgent) {
            head->userAgent = value;
        } else if (is("X-Forwarded-For") && !head->forwardedFor) {
            head->forwardedFor = value;
        }
        return MHD_YES;
    }
};

// One request, from its request line to the end of its answer.
struct RequestState {
    Clock::time_point start = Clock::now();
    LogEntry entry; // entry.target: path and query as sent, still encoded
    bool headRead = false;
    bool answered = false; // by us (else libmicrohttpd answered, or nobody)
    bool bad = false;      // answered 400
    Head head;
};

std::string AddressText(const sockaddr* address) {
    char text[NI_MAXHOST] = "-";
    if (address) {
        getnameinfo(address,
                    address->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6),
                    text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    }
    // An IPv4 client of a "::" socket shows as such.
    return strncmp(text, "::ffff:", 7) == 0 && strchr(text, '.') ? text + 7 : text;
}

// "http://host:port/path?q" (absolute form, which a client talking to a proxy sends) to
// "/path?q"; any other target is left as it is.
void StripAbsoluteForm(std::string& target) {
    const size_t scheme = target.find("://");
    const std::string name = AsciiLower(target.substr(0, scheme));
    if (scheme != std::string::npos && target[0] != '/' && (name == "http" || name == "https")) {
        const size_t path = target.find_first_of("/?", scheme + 3);
        target = path == std::string::npos ? "/" : target.substr(path);
        target.insert(0, target[0] == '?' ? "/" : "");
    }
}

// The answer to a head too large, written on the socket itself (nothing else of this
// request is queued there) since libmicrohttpd may have no room left to build one. The
// socket is shut for writing after it, so nothing libmicrohttpd makes of the request later
// can follow it; the connection closes. It carries a Date as every answer does.
void RefuseOnSocket(MHD_Connection* connection, unsigned status) {
    const MHD_ConnectionInfo* fd =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    char answer[160];
    const int length =
        snprintf(answer, sizeof answer,
                 "HTTP/1.1 %u %s\r\nDate: %s\r\nConnection: close\r\nContent-Length: 0\r\n\r\n",
                 status, MHD_get_reason_phrase_for(status), HttpDate(time(nullptr)).c_str());
    if (fd && send(fd->connect_fd, answer, static_cast<size_t>(length),
                   MSG_NOSIGNAL | MSG_DONTWAIT) >= 0) {
        shutdown(fd->connect_fd, SHUT_WR);
    }
}

// The log's view of a request once its head is read. Anyone can send X-Forwarded-For: only a
// trusted proxy's is believed, and logged before the proxy.
void NoteInLog(LogEntry& entry, const Head& head, const char* method, bool fromTrustedProxy) {
    entry.method = method;
    entry.userAgent = head.userAgent ? head.userAgent : "";
    if (head.forwardedFor && *head.forwardedFor && fromTrustedProxy) {
        std::string chain;
        std::copy_if(head.forwardedFor, head.forwardedFor + strlen(head.forwardedFor),
                     std::back_inserter(chain), [](char c) { return c != ' ' && c != '\t'; });
        entry.client = chain + "," + entry.client;
    }
}

enum class Verdict {
    Wait,      // a plain GET or HEAD: answered at the (empty) end of the request
    AnswerNow, // answered before any body is read, and the connection closed
    Closed     // refused on the socket
};

// The checks on a request's head, made once it is read.
Verdict CheckHead(MHD_Connection* connection, RequestState& state, const char* method,
                  const char* version) {
    const Head& head = state.head;
    const MHD_ConnectionInfo* size =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
    const size_t headBytes = size ? size->header_size : 0;
    if (headBytes > kMostHead || head.fieldBytes > kMostFields) {
        state.answered = true;
        state.entry.status = 431;
        RefuseOnSocket(connection, state.entry.status);
        return Verdict::Closed;
    }
    // Nothing here takes a request body: one that comes with a body, or a method that is
    // refused anyway, is answered before the body is read (so no "100 Continue" either) and
    // the connection closed. Answering a plain GET on the first call would close it too: it
    // waits for the (empty) end of the request.
    const bool body =
        head.transferEncoding || (head.contentLength && strcmp(head.contentLength, "0") != 0);
    const bool safe = strcmp(method, "GET") == 0 || strcmp(method, "HEAD") == 0;
    // Two Hosts, a blank before a colon, both body framings or two lengths: a proxy in front
    // may read the request otherwise (RFC 9112 sections 3.2, 5.1, 6.3). An HTTP/1.1 request
    // needs a Host, which libmicrohttpd lets pass.
    state.bad = head.malformed || head.hosts > 1 ||
                (head.hosts == 0 && strcmp(version, MHD_HTTP_VERSION_1_1) == 0) ||
                (head.transferEncoding && head.contentLength);
    return !body && safe && !state.bad ? Verdict::Wait : Verdict::AnswerNow;
}

// The request as the site sees it; target is the path and query as sent.
Request ToRequest(MHD_Connection* connection, const char* url, const char* method,
                  const std::string& target) {
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
    const size_t question = target.find('?');
    if (question != std::string::npos) {
        request.query = target.substr(question + 1);
    }
    // libmicrohttpd hands over the decoded path as a C string, so a %00 would cut it
    // short ("/downloads/a.txt%00.jpg" would send a.txt). Keep a NUL in it instead: no
    // address holds one, so such a path is not found.
    if (std::string_view(target).substr(0, question).find("%00") != std::string::npos) {
        request.path += '\0';
    }
    request.header = [connection](const char* name) {
        return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    };
    return request;
}

Response BadRequest() {
    Response answer;
    answer.status = 400;
    answer.contentType = "text/plain; charset=utf-8";
    answer.body = "Bad Request\n";
    return answer;
}

MHD_Result QueueAnswer(MHD_Connection* connection, Response& answer, bool closeAfter) {
    MHD_Response* response = nullptr;
    const uint64_t length = answer.file.Length();
    if (answer.file.Open() && length > 0) {
        const uint64_t offset = answer.file.Offset();
        const int fd = answer.file.Release();
        if (!(response = MHD_create_response_from_fd_at_offset64(length, fd, offset))) {
            close(fd);
        }
    } else {
        response = MHD_create_response_from_buffer(answer.body.size(), answer.body.data(),
                                                   MHD_RESPMEM_MUST_COPY);
    }
    if (!response) {
        return MHD_NO;
    }
    if (!answer.contentType.empty()) {
        answer.headers.emplace_back(MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType);
    }
    if (closeAfter) {
        answer.headers.emplace_back(MHD_HTTP_HEADER_CONNECTION, "close");
    }
    for (const auto& [name, value] : answer.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    const MHD_Result result = MHD_queue_response(connection, answer.status, response);
    MHD_destroy_response(response);
    return result;
}

} // namespace

struct HttpServer::Glue {
    // --max-per-address, counted here rather than by libmicrohttpd, which cannot leave the
    // trusted proxies out: a connection is counted when accepted, and uncounted when closed.
    static MHD_Result Accept(void* cls, const sockaddr* address, socklen_t) {
        auto* server = static_cast<HttpServer*>(cls);
        const std::string client = AddressText(address);
        if (server->perAddress_ == 0 || server->Trusted(client)) {
            return MHD_YES;
        }
        std::lock_guard<std::mutex> lock(server->countsMutex_);
        unsigned& open = server->connections_[client];
        if (open >= server->perAddress_) {
            return MHD_NO;
        }
        ++open;
        return MHD_YES;
    }

    static void OnConnection(void* cls, MHD_Connection* connection, void**,
                             MHD_ConnectionNotificationCode code) {
        auto* server = static_cast<HttpServer*>(cls);
        const MHD_ConnectionInfo* address =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        const std::string client = AddressText(address ? address->client_addr : nullptr);
        if (code != MHD_CONNECTION_NOTIFY_CLOSED || server->perAddress_ == 0 ||
            server->Trusted(client)) {
            return;
        }
        std::lock_guard<std::mutex> lock(server->countsMutex_);
        auto open = server->connections_.find(client);
        if (open != server->connections_.end() && --open->second == 0) {
            server->connections_.erase(open);
        }
    }

    static void* OnUri(void* cls, const char* uri, MHD_Connection* connection) {
        ++static_cast<HttpServer*>(cls)->inFlight_;
        auto* state = new RequestState;
        state->entry.method = "-"; // until the head is read
        state->entry.target = uri ? uri : "";
        StripAbsoluteForm(state->entry.target);
        const MHD_ConnectionInfo* address =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        state->entry.client = AddressText(address ? address->client_addr : nullptr);
        // libmicrohttpd records each query argument in the connection's memory next, and
        // loses track of the request when they do not fit.
        const std::string& target = state->entry.target;
        if (target.size() > kMostTarget ||
            (std::count(target.begin(), target.end(), '&') + 1) * kFieldCost > kMostFields) {
            state->answered = true;
            state->entry.status = 414;
            RefuseOnSocket(connection, 414);
        }
        return state;
    }

    static void OnCompleted(void* cls, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode) {
        auto* server = static_cast<HttpServer*>(cls);
        auto* state = static_cast<RequestState*>(*context);
        *context = nullptr;
        if (!state) {
            return;
        }
        LogEntry& entry = state->entry;
        if (!state->answered) {
            // An answer libmicrohttpd made itself (400, 413, 431), or none (status 0).
            const MHD_ConnectionInfo* status =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS);
            entry.status = status ? status->http_status : 0;
        }
        entry.seconds = std::chrono::duration<double>(Clock::now() - state->start).count();
        entry.unixMillis = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
        server->log_.Write(entry);
        delete state;
        --server->inFlight_;
    }

    static MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char* version, const char*,
                             size_t* uploadSize, void** context) {
        auto* server = static_cast<HttpServer*>(cls);
        auto* state = static_cast<RequestState*>(*context);
        if (!state || *uploadSize != 0 || (state->answered && !state->headRead)) {
            // Nothing here reads a body: a request with one was answered on the first call.
            *uploadSize = 0;
            return state && !state->answered ? MHD_YES : MHD_NO;
        }
        bool closeAfter = false;
        if (!state->headRead) {
            state->headRead = true;
            MHD_get_connection_values(connection,
                                      static_cast<MHD_ValueKind>(MHD_HEADER_KIND | MHD_COOKIE_KIND |
                                                                 MHD_GET_ARGUMENT_KIND),
                                      &Head::Read, &state->head);
            NoteInLog(state->entry, state->head, method, server->Trusted(state->entry.client));
            const Verdict verdict = CheckHead(connection, *state, method, version);
            if (verdict != Verdict::AnswerNow) {
                return verdict == Verdict::Wait ? MHD_YES : MHD_NO;
            }
            closeAfter = true;
        }
        state->answered = true;
        const Request request = ToRequest(connection, url, method, state->entry.target);
        Response answer = state->bad ? BadRequest() : server->CurrentSite()->Handle(request);
        state->entry.status = answer.status;
        state->entry.bytes =
            request.method == "HEAD" || answer.status == 304 ? 0 : answer.BodyLength();
        return QueueAnswer(connection, answer, closeAfter);
    }
};

unsigned HttpServer::Port() const {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

void HttpServer::ReplaceSite(std::shared_ptr<const Site> site) {
    std::lock_guard<std::mutex> lock(siteMutex_);
    site_ = std::move(site);
}

std::shared_ptr<const Site> HttpServer::CurrentSite() {
    std::lock_guard<std::mutex> lock(siteMutex_);
    return site_;
}

bool HttpServer::Trusted(const std::string& address) const {
    return std::find(trustedProxies_.begin(), trustedProxies_.end(), address) !=
           trustedProxies_.end();
}

bool HttpServer::Start(int listenFd, const Options& options, std::string* error) {
    trustedProxies_ = options.trustedProxies;
    perAddress_ = options.perAddress;
    const unsigned threads =
        options.threads ? options.threads : std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO | MHD_USE_ITC |
            (bound.ss_family == AF_INET6 ? MHD_USE_IPv6 : 0),
        0, &Glue::Accept, this, &Glue::Answer, this, MHD_OPTION_LISTEN_SOCKET, listenFd,
        MHD_OPTION_URI_LOG_CALLBACK, &Glue::OnUri, this, MHD_OPTION_NOTIFY_COMPLETED,
        &Glue::OnCompleted, this, MHD_OPTION_CONNECTION_TIMEOUT, options.timeoutSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kMemory, MHD_OPTION_NOTIFY_CONNECTION,
        &Glue::OnConnection, this, MHD_OPTION_THREAD_POOL_SIZE, threads, MHD_OPTION_END);
    if (!daemon_) {
        close(listenFd);
        *error = "cannot start the HTTP server";
    }
    return daemon_ != nullptr;
}

void HttpServer::Shutdown(std::chrono::milliseconds deadline) {
    if (!daemon_) {
        return;
    }
    const int listenFd = MHD_quiesce_daemon(daemon_);
    if (listenFd >= 0) {
        close(listenFd);
    }
    const auto until = Clock::now() + deadline;
    while (inFlight_.load() > 0 && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

} // namespace velmora::site
