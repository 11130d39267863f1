// WinINet over libcurl's multi interface: synchronous requests in a preconfigured session,
// with a read returning what has arrived. As in WinINet, InternetCloseHandle from another
// thread cancels a call blocked on the handle (or on a request of a closed session); the
// handle's memory lives until that call returns.
#include <windows.h>
#include <wininet.h>

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kernel32/Kernel32Internal.h"
#include "wininet/Curl.h"

using namespace velmora::kernel32;
using velmora::wininet::Curl;

namespace {

using Clock = std::chrono::steady_clock;

// 0 and 0xFFFFFFFF both mean "no time-out", as in WinINet.
constexpr DWORD NoTimeout = 0xFFFFFFFF;

struct Handle {
    virtual ~Handle() = default;
    // WinINet's defaults; a request takes its session's.
    std::atomic<DWORD> connectMs{60000};
    std::atomic<DWORD> receiveMs{30000};
    // Set by InternetCloseHandle, perhaps while another thread's call still uses the handle.
    std::atomic<bool> closed{false};
};

struct Request;

struct Session : Handle {
    std::string agent;
    // Requests made through it, open or still being opened (guarded by registryLock).
    std::vector<std::weak_ptr<Request>> requests;
};

// A read drives the transfer only once everything received has been read, and a drive stops
// after the curl_multi_perform that brought body bytes (libcurl 7.88 reads at most 100 times
// 16 KB in one): the body never piles up, however long it is.
struct Request : Handle {
    ~Request() override {
        // Each of these takes a null handle as nothing to do.
        Curl().multi_remove_handle(multi, easy);
        Curl().easy_cleanup(easy);
        Curl().multi_cleanup(multi);
        Curl().slist_free_all(headers);
    }

    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;

    // Body bytes received: body[bodyStart..) are not read yet.
    std::string body;
    size_t bodyStart = 0;

    bool connected = false;
    bool headersDone = false;
    DWORD status = 0;

    bool finished = false;
    CURLcode result = CURLE_OK;
    Clock::time_point lastActivity = Clock::now();

    size_t Available() const { return body.size() - bodyStart; }
};

// Every open handle, so a stale or foreign pointer is refused instead of followed. A call
// holds its own reference while it runs, so closing the handle never frees it under the call.
std::mutex registryLock;
std::map<Handle*, std::shared_ptr<Handle>> registry;

// The handle as the given kind; otherwise sets the WinINet error and answers null.
template <class T> std::shared_ptr<T> Expect(HINTERNET handle) {
    std::unique_lock<std::mutex> lock(registryLock);
    auto at = registry.find(static_cast<Handle*>(handle));
    std::shared_ptr<Handle> found = at == registry.end() ? nullptr : at->second;
    lock.unlock();
    if (!found)
        return Fail<std::nullptr_t>(ERROR_INVALID_HANDLE);
    std::shared_ptr<T> typed = std::dynamic_pointer_cast<T>(found);
    if (!typed)
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return typed;
}

DWORD ErrorFor(CURLcode code) {
    static const std::pair<CURLcode, DWORD> errors[] = {
        {CURLE_COULDNT_CONNECT, ERROR_INTERNET_CANNOT_CONNECT},
        {CURLE_COULDNT_RESOLVE_HOST, ERROR_INTERNET_NAME_NOT_RESOLVED},
        {CURLE_COULDNT_RESOLVE_PROXY, ERROR_INTERNET_NAME_NOT_RESOLVED},
        {CURLE_OPERATION_TIMEDOUT, ERROR_INTERNET_TIMEOUT},
        {CURLE_URL_MALFORMAT, ERROR_INTERNET_INVALID_URL},
        {CURLE_UNSUPPORTED_PROTOCOL, ERROR_INTERNET_UNRECOGNIZED_SCHEME},
        {CURLE_TOO_MANY_REDIRECTS, ERROR_HTTP_REDIRECT_FAILED},
        {CURLE_PARTIAL_FILE, ERROR_INTERNET_CONNECTION_ABORTED},
        {CURLE_GOT_NOTHING, ERROR_INTERNET_CONNECTION_RESET},
        {CURLE_SEND_ERROR, ERROR_INTERNET_CONNECTION_RESET},
        {CURLE_RECV_ERROR, ERROR_INTERNET_CONNECTION_RESET},
        // Only ever set when the handle was closed.
        {CURLE_ABORTED_BY_CALLBACK, ERROR_INTERNET_OPERATION_CANCELLED},
    };
    for (const auto& [curl, winInet] : errors)
        if (curl == code)
            return winInet;
    return ERROR_INTERNET_INTERNAL_ERROR;
}

// At the end of each response head: it is the final one unless it is interim (1xx) or a
// redirect that libcurl follows (a 3xx with a Location).
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Request* request = static_cast<Request*>(user);
    const size_t total = size * count;
    request->lastActivity = Clock::now();
    if (std::string_view(data, total) != "\r\n" && std::string_view(data, total) != "\n")
        return total;
    long code = 0;
    Curl().easy_getinfo(request->easy, CURLINFO_RESPONSE_CODE, &code);
    curl_header* location = nullptr;
    const bool hop =
        code >= 300 && code < 400 &&
        Curl().easy_header(request->easy, "Location", 0, CURLH_HEADER, -1, &location) == CURLHE_OK;
    if (code >= 200 && !hop) {
        request->headersDone = true;
        request->status = static_cast<DWORD>(code);
    }
    return total;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Request* request = static_cast<Request*>(user);
    request->body.append(data, size * count);
    request->lastActivity = Clock::now();
    return size * count;
}

// Called once the connection (for each hop) stands and the request is about to go out:
// from here on the receive time-out applies.
int OnConnected(void* user, char*, char*, int, int) {
    Request* request = static_cast<Request*>(user);
    request->connected = true;
    request->lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

// Stops the transfer as failed with code.
void Abandon(Request* request, CURLcode code) {
    Curl().multi_remove_handle(request->multi, request->easy);
    request->finished = true;
    request->result = code;
}

// Runs the transfer until done() holds or the transfer ends. Fails the transfer when nothing
// arrives for the receive time-out once connected (the connect time-out is libcurl's).
template <class Done> void Drive(Request* request, Done done) {
    request->lastActivity = Clock::now();
    while (!request->finished && !done()) {
        if (request->closed)
            return Abandon(request, CURLE_ABORTED_BY_CALLBACK);
        int running = 0;
        if (Curl().multi_perform(request->multi, &running) != CURLM_OK)
            return Abandon(request, CURLE_RECV_ERROR);
        int queued = 0;
        while (CURLMsg* message = Curl().multi_info_read(request->multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                request->finished = true;
                request->result = message->data.result;
            }
        }
        if (request->finished || done())
            return;
        auto wait = std::chrono::milliseconds(1000);
        const DWORD limit = request->receiveMs;
        if (request->connected && limit != 0 && limit != NoTimeout) {
            const auto left =
                request->lastActivity + std::chrono::milliseconds(limit) - Clock::now();
            if (left <= Clock::duration::zero())
                return Abandon(request, CURLE_OPERATION_TIMEDOUT);
            wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(left));
        }
        Curl().multi_poll(request->multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
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

// Why url is no http or https address, or 0 when it is one. A scheme is never guessed:
// libcurl would take "host/path" for http.
DWORD AddressError(const std::string& url) {
    CURLU* parsed = Curl().url();
    char* scheme = nullptr;
    const bool valid =
        parsed &&
        Curl().url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        Curl().url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK;
    const bool web = valid && (strcmp(scheme, "http") == 0 || strcmp(scheme, "https") == 0);
    Curl().free(scheme);
    Curl().url_cleanup(parsed);
    return web ? 0 : valid ? ERROR_INTERNET_UNRECOGNIZED_SCHEME : ERROR_INTERNET_INVALID_URL;
}

bool SetUp(Request* request, const Session& session, const std::string& url,
           std::string_view headerText) {
    CURL* easy = request->easy;
    // WinINet refuses a redirect from https to http (unless asked not to with a flag the
    // program never passes): a secure address never ends on an insecure one.
    const bool secure = url.size() >= 6 && strncasecmp(url.c_str(), "https:", 6) == 0;
    const long connectMs = request->connectMs == NoTimeout ? 0L : (long)request->connectMs;
    // What keeps a fetch safe. A libcurl that refuses one of them (too old for the
    // protocol lists, or built without TLS) fails the fetch rather than weakening it.
    const bool safe = Curl().easy_setopt(easy, CURLOPT_URL, url.c_str()) == CURLE_OK &&
                      Curl().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
                      Curl().easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR,
                                         secure ? "https" : "http,https") == CURLE_OK &&
                      Curl().easy_setopt(easy, CURLOPT_MAXREDIRS, 10L) == CURLE_OK &&
                      Curl().easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connectMs) == CURLE_OK &&
                      Curl().easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
                      Curl().easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
                      // the receive time-out starts once connected (Drive)
                      Curl().easy_setopt(easy, CURLOPT_PREREQFUNCTION, OnConnected) == CURLE_OK &&
                      Curl().easy_setopt(easy, CURLOPT_PREREQDATA, request) == CURLE_OK;
    if (!safe)
        return false;
    Curl().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    Curl().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    Curl().easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    Curl().easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    Curl().easy_setopt(easy, CURLOPT_HEADERDATA, request);
    Curl().easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    Curl().easy_setopt(easy, CURLOPT_WRITEDATA, request);
    // WinINet sends its agent only when one was given.
    Curl().easy_setopt(easy, CURLOPT_USERAGENT,
                       session.agent.empty() ? nullptr : session.agent.c_str());
    // The proxy comes from the environment, as libcurl takes it by itself.
    Curl().easy_setopt(easy, CURLOPT_NOPROXY, PreconfigBypass().c_str());

    while (!headerText.empty()) {
        const size_t end = std::min(headerText.find_first_of("\r\n"), headerText.size());
        std::string line(Trim(headerText.substr(0, end)));
        headerText.remove_prefix(std::min(end + 1, headerText.size()));
        if (line.empty())
            continue;
        curl_slist* grown = Curl().slist_append(request->headers, line.c_str());
        if (!grown)
            return false;
        request->headers = grown;
    }
    return Curl().easy_setopt(easy, CURLOPT_HTTPHEADER, request->headers) == CURLE_OK;
}

// From here on, closing the session cancels the request too.
void Enlist(Session& session, const std::shared_ptr<Request>& request) {
    std::lock_guard<std::mutex> lock(registryLock);
    auto& list = session.requests;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](const std::weak_ptr<Request>& r) { return r.expired(); }),
               list.end());
    list.push_back(request);
    if (session.closed)
        request->closed = true;
}

// Under registryLock: marks the handle closed, takes it out of the registry into released
// (freed once the lock is let go), and wakes a call blocked on it.
void Close(const std::shared_ptr<Handle>& handle, std::vector<std::shared_ptr<Handle>>* released) {
    released->push_back(handle);
    registry.erase(handle.get());
    handle->closed = true;
    if (auto* request = dynamic_cast<Request*>(handle.get()))
        Curl().multi_wakeup(request->multi);
}

} // namespace

HINTERNET WINAPI InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR /*proxy*/,
                               LPCWSTR /*proxyBypass*/, DWORD /*flags*/) {
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG)
        return Fail<std::nullptr_t>(ERROR_INVALID_PARAMETER);
    if (!velmora::wininet::OpenCurl())
        return Fail<std::nullptr_t>(ERROR_INTERNET_INTERNAL_ERROR);
    auto session = std::make_shared<Session>();
    session->agent = WideToUtf8(agent);
    std::lock_guard<std::mutex> lock(registryLock);
    registry[session.get()] = session;
    return session.get();
}

HINTERNET WINAPI InternetOpenUrlW(HINTERNET sessionHandle, LPCWSTR url, LPCWSTR headers,
                                  DWORD headersLength, DWORD /*flags*/, DWORD_PTR /*context*/) {
    std::shared_ptr<Session> session = Expect<Session>(sessionHandle);
    if (!session)
        return nullptr;
    std::string address = WideToUtf8(url);
    if (DWORD error = AddressError(address))
        return Fail<std::nullptr_t>(error);
    // The length counts characters; -1 means up to the terminator.
    const std::u16string headerText = WideString(headers).substr(0, headersLength);

    auto owner = std::make_shared<Request>();
    Request* request = owner.get();
    request->connectMs = session->connectMs.load();
    request->receiveMs = session->receiveMs.load();
    request->multi = Curl().multi_init();
    request->easy = Curl().easy_init();
    if (!request->multi || !request->easy ||
        !SetUp(request, *session, address, WideToUtf8(headerText)) ||
        Curl().multi_add_handle(request->multi, request->easy) != CURLM_OK)
        return Fail<std::nullptr_t>(ERROR_INTERNET_INTERNAL_ERROR);
    Enlist(*session, owner);

    Drive(request, [request] { return request->headersDone; });
    if (!request->headersDone) {
        if (!request->finished || request->result != CURLE_OK)
            return Fail<std::nullptr_t>(ErrorFor(request->result));
        long code = 0;
        Curl().easy_getinfo(request->easy, CURLINFO_RESPONSE_CODE, &code);
        request->status = static_cast<DWORD>(code);
    }
    std::lock_guard<std::mutex> lock(registryLock);
    if (request->closed)
        return Fail<std::nullptr_t>(ERROR_INTERNET_OPERATION_CANCELLED);
    registry[request] = owner;
    return request;
}

BOOL WINAPI InternetReadFile(HINTERNET handle, LPVOID buffer, DWORD bytesToRead,
                             LPDWORD bytesRead) {
    std::shared_ptr<Request> owner = Expect<Request>(handle);
    Request* request = owner.get();
    if (!request)
        return FALSE;
    if (!bytesRead || (!buffer && bytesToRead > 0))
        return Fail(ERROR_INVALID_PARAMETER);
    *bytesRead = 0;
    if (bytesToRead == 0)
        return TRUE;

    if (request->Available() == 0 && !request->finished) {
        request->body.clear();
        request->bodyStart = 0;
        Drive(request, [request] { return request->Available() > 0; });
    }
    if (request->closed)
        return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    if (request->Available() > 0) {
        const DWORD count = static_cast<DWORD>(std::min<size_t>(request->Available(), bytesToRead));
        memcpy(buffer, request->body.data() + request->bodyStart, count);
        request->bodyStart += count;
        *bytesRead = count;
        return TRUE;
    }
    if (request->result != CURLE_OK)
        return Fail(ErrorFor(request->result));
    return TRUE; // the end of the body
}

BOOL WINAPI InternetCloseHandle(HINTERNET handle) {
    // Declared first so the handles are freed after the lock is let go.
    std::vector<std::shared_ptr<Handle>> released;
    std::lock_guard<std::mutex> lock(registryLock);
    auto found = registry.find(static_cast<Handle*>(handle));
    if (found == registry.end())
        return Fail(ERROR_INVALID_HANDLE);
    std::shared_ptr<Handle> closing = found->second;
    Close(closing, &released);
    if (auto* session = dynamic_cast<Session*>(closing.get())) {
        // Closing a session closes the requests made through it, open or being opened.
        for (const std::weak_ptr<Request>& weak : session->requests)
            if (std::shared_ptr<Request> request = weak.lock())
                Close(request, &released);
        session->requests.clear();
    }
    return TRUE;
}

BOOL WINAPI InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    std::shared_ptr<Handle> found = Expect<Handle>(handle);
    if (!found)
        return FALSE;
    if ((option != INTERNET_OPTION_CONNECT_TIMEOUT && option != INTERNET_OPTION_RECEIVE_TIMEOUT) ||
        !buffer || length < sizeof(DWORD))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD value;
    memcpy(&value, buffer, sizeof value);
    (option == INTERNET_OPTION_CONNECT_TIMEOUT ? found->connectMs : found->receiveMs) = value;
    return TRUE;
}

BOOL WINAPI HttpQueryInfoW(HINTERNET handle, DWORD infoLevel, LPVOID buffer, LPDWORD length,
                           LPDWORD /*index*/) {
    std::shared_ptr<Request> request = Expect<Request>(handle);
    if (!request)
        return FALSE;
    if (infoLevel != (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER))
        return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    if (!buffer || !length || *length < sizeof(DWORD))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(buffer, &request->status, sizeof(DWORD));
    *length = sizeof(DWORD);
    return TRUE;
}
