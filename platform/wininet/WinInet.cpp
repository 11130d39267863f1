// WinINet over libcurl's multi interface: synchronous requests whose bodies stream through a
// bounded buffer, so a read returns what has arrived and a large body is never held whole.
// As in WinINet, InternetCloseHandle from another thread cancels a call blocked on the handle
// (or on a request of a closed session); the handle's memory lives until that call returns.
#include <windows.h>
#include <wininet.h>

#include <curl/curl.h>

#include "kernel32/Strings.h"

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Codes WinINet uses that the program's header does not name.
#ifndef INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY
#define INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY 4
#endif
#ifndef INTERNET_FLAG_NO_AUTO_REDIRECT
#define INTERNET_FLAG_NO_AUTO_REDIRECT 0x00200000
#endif
#ifndef ERROR_INTERNET_INVALID_OPTION
#define ERROR_INTERNET_INVALID_OPTION 12009
#endif
#ifndef ERROR_INTERNET_BAD_OPTION_LENGTH
#define ERROR_INTERNET_BAD_OPTION_LENGTH 12010
#endif
#ifndef ERROR_HTTP_INVALID_SERVER_RESPONSE
#define ERROR_HTTP_INVALID_SERVER_RESPONSE 12152
#endif
#ifndef ERROR_HTTP_REDIRECT_FAILED
#define ERROR_HTTP_REDIRECT_FAILED 12156
#endif
#ifndef ERROR_INTERNET_SECURE_FAILURE
#define ERROR_INTERNET_SECURE_FAILURE 12175
#endif
#ifndef HTTP_QUERY_MODIFIER_FLAGS_MASK
#define HTTP_QUERY_MODIFIER_FLAGS_MASK 0xF8000000
#endif

namespace {

using Clock = std::chrono::steady_clock;

// 0 and 0xFFFFFFFF both mean "no time-out", as in WinINet.
constexpr DWORD NoTimeout = 0xFFFFFFFF;
// WinINet's defaults.
constexpr DWORD DefaultConnectTimeoutMs = 60000;
constexpr DWORD DefaultReceiveTimeoutMs = 30000;
constexpr long MaxRedirects = 10;
// Body bytes held ahead of the reader before the transfer is paused.
constexpr size_t BufferLimit = 64 * 1024;

enum class Kind { Session, Request };

struct Timeouts {
    DWORD connectMs = DefaultConnectTimeoutMs;
    DWORD receiveMs = DefaultReceiveTimeoutMs;
    DWORD sendMs = DefaultReceiveTimeoutMs;
};

struct Handle {
    explicit Handle(Kind k) : kind(k) {}
    virtual ~Handle() = default;
    Kind kind;
    Timeouts timeouts;
    // Set by InternetCloseHandle, perhaps while another thread's call still uses the handle.
    std::atomic<bool> closed{false};
};

struct Request;

struct Session : Handle {
    Session() : Handle(Kind::Session) {}
    std::string agent;
    DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string proxy;
    std::string bypass;
    // Requests made through it, open or still being opened (guarded by registryLock).
    std::vector<std::weak_ptr<Request>> requests;
};

struct Request : Handle {
    Request() : Handle(Kind::Request) {}
    ~Request() override;

    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    bool followRedirects = true;

    // Body bytes received and not yet read: body[bodyStart..).
    std::string body;
    size_t bodyStart = 0;
    bool paused = false;

    // Progress of the response being received.
    bool connected = false;
    std::string location;
    long redirectsTaken = 0;
    bool headersDone = false;
    DWORD status = 0;

    bool finished = false;
    CURLcode result = CURLE_OK;
    bool timedOut = false;
    Clock::time_point lastActivity = Clock::now();

    size_t Available() const { return body.size() - bodyStart; }
};

Request::~Request() {
    if (multi && easy)
        curl_multi_remove_handle(multi, easy);
    if (easy)
        curl_easy_cleanup(easy);
    if (multi)
        curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
}

// Every open handle, so a stale or foreign pointer is refused instead of followed. A call
// holds its own reference while it runs, so closing the handle never frees it under the call.
std::mutex registryLock;
std::map<Handle*, std::shared_ptr<Handle>> registry;
Timeouts globalTimeouts;

std::shared_ptr<Handle> Lookup(HINTERNET handle) {
    std::lock_guard<std::mutex> lock(registryLock);
    auto found = registry.find(static_cast<Handle*>(handle));
    return found == registry.end() ? nullptr : found->second;
}

void Register(const std::shared_ptr<Handle>& handle) {
    std::lock_guard<std::mutex> lock(registryLock);
    registry[handle.get()] = handle;
}

// The handle as the given kind; otherwise sets the WinINet error and answers null.
template <class T> std::shared_ptr<T> Expect(HINTERNET handle, Kind kind) {
    std::shared_ptr<Handle> found = handle ? Lookup(handle) : nullptr;
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (found->kind != kind) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(found);
}

// UTF-16 to UTF-8 for libcurl; length < 0 means up to the terminator. Unpaired surrogates
// become U+FFFD, as the code-page conversion makes them.
std::string Utf8(LPCWSTR text, long length = -1) {
    std::u16string wide = velmora::kernel32::WideString(text);
    if (length >= 0 && static_cast<size_t>(length) < wide.size())
        wide.resize(static_cast<size_t>(length));
    return velmora::kernel32::WideToUtf8(wide);
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t n = 0;
    for (; prefix[n]; ++n) {
        if (n >= text.size())
            return false;
        char a = text[n];
        char b = prefix[n];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r' ||
                           text[end - 1] == '\n'))
        --end;
    return text.substr(begin, end - begin);
}

DWORD ErrorFor(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_URL_MALFORMAT:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_TOO_MANY_REDIRECTS:
        return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_WEIRD_SERVER_REPLY:
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_PARTIAL_FILE:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return ERROR_INTERNET_SECURE_FAILURE;
    case CURLE_ABORTED_BY_CALLBACK: // only ever set when the handle was closed
        return ERROR_INTERNET_OPERATION_CANCELLED;
    default:
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

long CurlTimeout(DWORD ms) {
    return ms == 0 || ms == NoTimeout ? 0 : static_cast<long>(ms);
}

// Marks the end of a complete response head: the final one unless it is an interim 1xx, a
// proxy's answer, or a redirect that libcurl is about to follow.
void EndOfHead(Request* request) {
    long code = 0;
    curl_easy_getinfo(request->easy, CURLINFO_RESPONSE_CODE, &code);
    if (code < 200) {
        // 0: a proxy's CONNECT answer; 1xx: interim.
    } else if (request->followRedirects && code >= 300 && code < 400 &&
               !request->location.empty() && request->redirectsTaken < MaxRedirects) {
        // The receive time-out keeps running through the redirect's own body and the next
        // hop: a redirect whose body never comes must not wait for ever.
        ++request->redirectsTaken;
    } else {
        request->headersDone = true;
        request->status = static_cast<DWORD>(code);
    }
    request->location.clear();
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Request* request = static_cast<Request*>(user);
    const size_t total = size * count;
    std::string line(data, total);
    request->lastActivity = Clock::now();
    if (line == "\r\n" || line == "\n")
        EndOfHead(request);
    else if (StartsWithNoCase(line, "location:"))
        request->location = Trim(line.substr(9));
    return total;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Request* request = static_cast<Request*>(user);
    const size_t total = size * count;
    if (request->Available() >= BufferLimit) {
        // libcurl keeps this piece and hands it over again once unpaused.
        request->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (!request->headersDone) {
        long code = 0;
        curl_easy_getinfo(request->easy, CURLINFO_RESPONSE_CODE, &code);
        request->headersDone = true;
        request->status = static_cast<DWORD>(code);
    }
    if (request->bodyStart > 0 && request->bodyStart >= request->body.size() / 2) {
        request->body.erase(0, request->bodyStart);
        request->bodyStart = 0;
    }
    request->body.append(data, total);
    request->lastActivity = Clock::now();
    return total;
}

// Called once the connection (for each hop) stands and the request is about to go out:
// from here on the receive time-out applies.
int OnConnected(void* user, char*, char*, int, int) {
    Request* request = static_cast<Request*>(user);
    request->connected = true;
    request->lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

void CollectResult(Request* request) {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(request->multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == request->easy) {
            request->finished = true;
            request->result = message->data.result;
        }
    }
}

// Stops the transfer as failed with code.
void Abandon(Request* request, CURLcode code) {
    curl_multi_remove_handle(request->multi, request->easy);
    request->finished = true;
    request->result = code;
    request->timedOut = code == CURLE_OPERATION_TIMEDOUT;
}

// Runs the transfer until done() holds or the transfer ends. Fails the transfer when nothing
// arrives for the receive time-out once connected (the connect time-out is libcurl's).
template <class Done> void Drive(Request* request, Done done) {
    if (!request->finished && !done())
        request->lastActivity = Clock::now();
    while (!request->finished && !done()) {
        if (request->closed) {
            Abandon(request, CURLE_ABORTED_BY_CALLBACK);
            return;
        }
        int running = 0;
        if (curl_multi_perform(request->multi, &running) != CURLM_OK) {
            Abandon(request, CURLE_RECV_ERROR);
            return;
        }
        CollectResult(request);
        if (request->finished || done())
            return;
        int waitMs = 1000;
        const DWORD limit = request->timeouts.receiveMs;
        if (request->connected && limit != 0 && limit != NoTimeout) {
            auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                              request->lastActivity)
                            .count();
            if (idle >= static_cast<long long>(limit)) {
                Abandon(request, CURLE_OPERATION_TIMEDOUT);
                return;
            }
            waitMs =
                static_cast<int>(std::min<long long>(waitMs, static_cast<long long>(limit) - idle));
        }
        curl_multi_poll(request->multi, nullptr, 0, waitMs, nullptr);
    }
}

// libcurl's proxy list separator is ','; WinINet's are ';' and blanks. "<local>" has no
// libcurl counterpart and is dropped.
std::string BypassList(const std::string& winInet) {
    std::string out;
    std::string item;
    auto flush = [&] {
        if (!item.empty() && item != "<local>")
            out += (out.empty() ? "" : ",") + item;
        item.clear();
    };
    for (char c : winInet) {
        if (c == ';' || c == ' ' || c == '\t' || c == ',')
            flush();
        else
            item += c;
    }
    flush();
    return out;
}

// Windows' preconfigured proxy never takes loopback; the environment's no_proxy still counts.
std::string PreconfigBypass() {
    std::string bypass = "localhost,127.0.0.0/8,::1";
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const char* value = getenv(name);
        if (value && *value)
            return std::string(value) == "*" ? "*" : std::string(value) + "," + bypass;
    }
    return bypass;
}

bool SetUp(Request* request, const Session* session, const std::string& url,
           const std::string& headerText) {
    CURL* easy = request->easy;
    bool ok = curl_easy_setopt(easy, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, request->followRedirects ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, CurlTimeout(request->timeouts.connectMs));
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, request);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, request);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, request);
    // WinINet sends its agent only when one was given.
    curl_easy_setopt(easy, CURLOPT_USERAGENT,
                     session->agent.empty() ? nullptr : session->agent.c_str());

    // PRECONFIG takes the proxy from the environment, as libcurl does by itself.
    if (session->accessType == INTERNET_OPEN_TYPE_PRECONFIG) {
        curl_easy_setopt(easy, CURLOPT_NOPROXY, PreconfigBypass().c_str());
    } else if (session->accessType == INTERNET_OPEN_TYPE_DIRECT) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    } else if (session->accessType == INTERNET_OPEN_TYPE_PROXY) {
        curl_easy_setopt(easy, CURLOPT_PROXY, session->proxy.c_str());
        std::string bypass = BypassList(session->bypass);
        curl_easy_setopt(easy, CURLOPT_NOPROXY, bypass.c_str());
    }

    size_t start = 0;
    while (start < headerText.size()) {
        size_t end = headerText.find('\n', start);
        if (end == std::string::npos)
            end = headerText.size();
        std::string line = Trim(headerText.substr(start, end - start));
        start = end + 1;
        if (line.empty())
            continue;
        curl_slist* grown = curl_slist_append(request->headers, line.c_str());
        if (!grown)
            return false;
        request->headers = grown;
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request->headers);
    return ok;
}

// Under registryLock: marks the handle closed, takes it out of the registry into released
// (freed once the lock is let go), and wakes a call blocked on it.
void Close(const std::shared_ptr<Handle>& handle, std::vector<std::shared_ptr<Handle>>* released) {
    released->push_back(handle);
    registry.erase(handle.get());
    handle->closed = true;
    if (handle->kind == Kind::Request)
        curl_multi_wakeup(static_cast<Request*>(handle.get())->multi);
}

void InitCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

HINTERNET WINAPI InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass,
                               DWORD /*flags*/) {
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
        accessType != INTERNET_OPEN_TYPE_PROXY &&
        accessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (accessType == INTERNET_OPEN_TYPE_PROXY && (!proxy || !*proxy)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    InitCurl();
    auto session = std::make_shared<Session>();
    session->agent = Utf8(agent);
    session->accessType = accessType == INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY
                              ? INTERNET_OPEN_TYPE_PRECONFIG
                              : accessType;
    if (accessType == INTERNET_OPEN_TYPE_PROXY) {
        session->proxy = Utf8(proxy);
        session->bypass = Utf8(proxyBypass);
    }
    {
        std::lock_guard<std::mutex> lock(registryLock);
        session->timeouts = globalTimeouts;
    }
    Register(session);
    return session.get();
}

HINTERNET WINAPI InternetOpenUrlW(HINTERNET sessionHandle, LPCWSTR url, LPCWSTR headers,
                                  DWORD headersLength, DWORD flags, DWORD_PTR /*context*/) {
    std::shared_ptr<Session> session = Expect<Session>(sessionHandle, Kind::Session);
    if (!session)
        return nullptr;
    if (!url || !*url) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return nullptr;
    }
    std::string address = Utf8(url);
    if (!StartsWithNoCase(address, "http://") && !StartsWithNoCase(address, "https://")) {
        SetLastError(address.find("://") == std::string::npos ? ERROR_INTERNET_INVALID_URL
                                                              : ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return nullptr;
    }
    // A length of -1 means the headers are zero-terminated.
    std::string headerText =
        Utf8(headers, headersLength == 0xFFFFFFFF ? -1 : static_cast<long>(headersLength));

    auto owner = std::make_shared<Request>();
    Request* request = owner.get();
    {
        std::lock_guard<std::mutex> lock(registryLock);
        request->timeouts = session->timeouts;
    }
    request->followRedirects = (flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
    request->multi = curl_multi_init();
    request->easy = curl_easy_init();
    if (!request->multi || !request->easy || !SetUp(request, session.get(), address, headerText) ||
        curl_multi_add_handle(request->multi, request->easy) != CURLM_OK) {
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
        return nullptr;
    }
    {
        // From here on, closing the session cancels this request too.
        std::lock_guard<std::mutex> lock(registryLock);
        auto& list = session->requests;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [](const std::weak_ptr<Request>& r) { return r.expired(); }),
                   list.end());
        list.push_back(owner);
        if (session->closed)
            request->closed = true;
    }

    Drive(request, [request] { return request->headersDone; });
    if (!request->headersDone && (!request->finished || request->result != CURLE_OK)) {
        SetLastError(ErrorFor(request->result));
        return nullptr;
    }
    if (!request->headersDone) {
        long code = 0;
        curl_easy_getinfo(request->easy, CURLINFO_RESPONSE_CODE, &code);
        request->headersDone = true;
        request->status = static_cast<DWORD>(code);
    }
    std::lock_guard<std::mutex> lock(registryLock);
    if (request->closed) {
        SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
        return nullptr;
    }
    registry[request] = owner;
    return request;
}

BOOL WINAPI InternetReadFile(HINTERNET handle, LPVOID buffer, DWORD bytesToRead,
                             LPDWORD bytesRead) {
    std::shared_ptr<Request> owner = Expect<Request>(handle, Kind::Request);
    Request* request = owner.get();
    if (!request)
        return FALSE;
    if (!bytesRead || (!buffer && bytesToRead > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *bytesRead = 0;
    if (bytesToRead == 0)
        return TRUE;

    if (request->Available() == 0 && !request->finished) {
        if (request->paused) {
            request->paused = false;
            curl_easy_pause(request->easy, CURLPAUSE_CONT);
        }
        Drive(request, [request] { return request->Available() > 0; });
    }
    if (request->closed) {
        SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
        return FALSE;
    }

    if (request->Available() > 0) {
        DWORD count = static_cast<DWORD>(
            std::min<size_t>(request->Available(), static_cast<size_t>(bytesToRead)));
        memcpy(buffer, request->body.data() + request->bodyStart, count);
        request->bodyStart += count;
        *bytesRead = count;
        if (request->paused && request->Available() < BufferLimit / 2) {
            request->paused = false;
            curl_easy_pause(request->easy, CURLPAUSE_CONT);
        }
        return TRUE;
    }
    if (request->result != CURLE_OK) {
        SetLastError(ErrorFor(request->result));
        return FALSE;
    }
    return TRUE; // the end of the body
}

BOOL WINAPI InternetCloseHandle(HINTERNET handle) {
    // Declared first so the handles are freed after the lock is let go.
    std::vector<std::shared_ptr<Handle>> released;
    std::lock_guard<std::mutex> lock(registryLock);
    auto found = registry.find(static_cast<Handle*>(handle));
    if (!handle || found == registry.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Handle> closing = found->second;
    Close(closing, &released);
    if (closing->kind == Kind::Session) {
        // Closing a session closes the requests made through it, open or being opened.
        for (const std::weak_ptr<Request>& weak : static_cast<Session*>(closing.get())->requests) {
            if (std::shared_ptr<Request> request = weak.lock())
                Close(request, &released);
        }
        static_cast<Session*>(closing.get())->requests.clear();
    }
    return TRUE;
}

BOOL WINAPI InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    Timeouts* timeouts = &globalTimeouts;
    std::shared_ptr<Handle> found;
    if (handle) {
        found = Lookup(handle);
        if (!found) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        timeouts = &found->timeouts;
    }
    if (option != INTERNET_OPTION_CONNECT_TIMEOUT && option != INTERNET_OPTION_RECEIVE_TIMEOUT &&
        option != INTERNET_OPTION_SEND_TIMEOUT) {
        SetLastError(ERROR_INTERNET_INVALID_OPTION);
        return FALSE;
    }
    if (!buffer || length < sizeof(DWORD)) {
        SetLastError(ERROR_INTERNET_BAD_OPTION_LENGTH);
        return FALSE;
    }
    DWORD value;
    memcpy(&value, buffer, sizeof value);
    std::lock_guard<std::mutex> lock(registryLock);
    if (option == INTERNET_OPTION_CONNECT_TIMEOUT)
        timeouts->connectMs = value;
    else if (option == INTERNET_OPTION_RECEIVE_TIMEOUT)
        timeouts->receiveMs = value;
    else
        timeouts->sendMs = value;
    return TRUE;
}

BOOL WINAPI HttpQueryInfoW(HINTERNET handle, DWORD infoLevel, LPVOID buffer, LPDWORD length,
                           LPDWORD index) {
    std::shared_ptr<Request> request = Expect<Request>(handle, Kind::Request);
    if (!request)
        return FALSE;
    if (!length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD modifiers = infoLevel & HTTP_QUERY_MODIFIER_FLAGS_MASK;
    if ((infoLevel & ~HTTP_QUERY_MODIFIER_FLAGS_MASK) != HTTP_QUERY_STATUS_CODE ||
        (modifiers & ~static_cast<DWORD>(HTTP_QUERY_FLAG_NUMBER)) != 0 || (index && *index)) {
        SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return FALSE;
    }
    if (modifiers & HTTP_QUERY_FLAG_NUMBER) {
        if (!buffer || *length < sizeof(DWORD)) {
            *length = sizeof(DWORD);
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        memcpy(buffer, &request->status, sizeof(DWORD));
        *length = sizeof(DWORD);
    } else {
        std::string digits = std::to_string(request->status);
        const DWORD needed = static_cast<DWORD>((digits.size() + 1) * sizeof(WCHAR));
        if (!buffer || *length < needed) {
            *length = needed;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        WCHAR* text = static_cast<WCHAR*>(buffer);
        for (size_t i = 0; i < digits.size(); ++i)
            text[i] = static_cast<WCHAR>(digits[i]);
        text[digits.size()] = 0;
        *length = needed - sizeof(WCHAR);
    }
    if (index)
        ++*index;
    return TRUE;
}
