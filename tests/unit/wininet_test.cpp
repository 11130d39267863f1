// The Linux WinINet against a scripted loopback server: what WinINet callers rely on.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackHttpServer.h"
#include "TestText.h"

namespace {

using namespace velmora::test;

const WCHAR kHeaders[] = L"Accept: */*\r\n\r\n";

// /silent never answers; /stalls answers "late" after stallMs.
void RouteSilentAndStalling(LoopbackHttpServer& server, int stallMs) {
    ScriptedReply silent;
    silent.action = ScriptedReply::Action::NeverAnswer;
    server.Route("/silent", silent);
    ScriptedReply stalls = ScriptedReply::Pieces({"late"}, stallMs);
    stalls.delayFirstPiece = true;
    server.Route("/stalls", stalls);
}

// Proxy settings of the environment would send loopback requests elsewhere; each test
// states the proxy environment it needs.
class WinInetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            if (const char* value = getenv(name))
                saved_.emplace_back(name, value);
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (const char* name : {"http_proxy", "no_proxy"})
            unsetenv(name);
        for (const auto& [name, value] : saved_)
            setenv(name.c_str(), value.c_str(), 1);
    }

  private:
    std::vector<std::pair<std::string, std::string>> saved_;
};

// One request, read to its end the way a WinINet caller does.
struct Outcome {
    bool opened = false;
    DWORD openError = 0;
    DWORD status = 0;
    std::string body;
    std::vector<DWORD> reads; // bytes delivered by each non-empty read
    bool endedWithZeroRead = false;
    DWORD readError = 0;
    bool readAskedTooMuch = false;
    long long elapsedMs = 0;
};

Outcome Fetch(const std::string& url, DWORD receiveTimeoutMs = 0, DWORD readSize = 4096) {
    Outcome outcome;
    auto started = std::chrono::steady_clock::now();
    HINTERNET session =
        InternetOpenW(L"Velmora", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    EXPECT_NE(session, nullptr);
    if (receiveTimeoutMs) {
        EXPECT_TRUE(InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeoutMs,
                                       sizeof receiveTimeoutMs));
    }
    HINTERNET request = InternetOpenUrlW(session, Wide(url), kHeaders, lstrlenW(kHeaders),
                                         INTERNET_FLAG_NO_CACHE_WRITE, 0);
    outcome.opened = request != nullptr;
    if (!request) {
        outcome.openError = GetLastError();
    } else {
        DWORD size = sizeof outcome.status;
        EXPECT_TRUE(HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                   &outcome.status, &size, nullptr));
        EXPECT_EQ(size, sizeof(DWORD));
        std::vector<char> buffer(readSize + 16, '#');
        for (;;) {
            DWORD got = 12345;
            if (!InternetReadFile(request, buffer.data(), readSize, &got)) {
                outcome.readError = GetLastError();
                break;
            }
            if (got == 0) {
                outcome.endedWithZeroRead = true;
                break;
            }
            if (got > readSize || buffer[readSize] != '#')
                outcome.readAskedTooMuch = true;
            outcome.reads.push_back(got);
            outcome.body.append(buffer.data(), got);
        }
        EXPECT_TRUE(InternetCloseHandle(request));
    }
    EXPECT_TRUE(InternetCloseHandle(session));
    outcome.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
    return outcome;
}

TEST_F(WinInetTest, RepliesAsWinInetCallersSeeThem) {
    LoopbackHttpServer server;
    server.Route("/count", ScriptedReply::Body("220"));
    server.Route("/missing", ScriptedReply::Body("no such page", 404));
    server.Route("/broken", ScriptedReply::Body("server error", 500));
    server.Route("/empty", ScriptedReply::Body(""));
    server.Route("/final", ScriptedReply::Body("final body"));
    server.Route("/moved301", ScriptedReply::Redirect(301, "/final"));
    server.Route("/moved302", ScriptedReply::Redirect(302, server.Url("/final")));
    server.Route("/moved307", ScriptedReply::Redirect(307, "/moved302"));
    ScriptedReply unsized = ScriptedReply::Pieces({"until ", "close"}, 50);
    unsized.sendContentLength = false;
    server.Route("/unsized", unsized);
    ScriptedReply early = ScriptedReply::Body("0123456789");
    early.closeAfterBytes = 4;
    server.Route("/early", early);
    ScriptedReply refused;
    refused.action = ScriptedReply::Action::Close;
    server.Route("/hangup", refused);

    struct Case {
        const char* target;
        DWORD status;
        const char* body;
        bool readFails;
    } cases[] = {
        {"/count", 200, "220", false},
        // An error status is a reply, not a failure of the request.
        {"/missing", 404, "no such page", false},
        {"/broken", 500, "server error", false},
        {"/empty", 200, "", false},
        {"/moved301", 200, "final body", false},
        {"/moved302", 200, "final body", false},
        {"/moved307", 200, "final body", false},
        {"/unsized", 200, "until close", false},
        // The connection closed before the announced length: the part that came, then a
        // failed read.
        {"/early", 200, "0123", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        Outcome outcome = Fetch(server.Url(c.target));
        ASSERT_TRUE(outcome.opened) << outcome.openError;
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.body, c.body);
        EXPECT_EQ(outcome.endedWithZeroRead, !c.readFails);
        EXPECT_EQ(outcome.readError != 0, c.readFails);
        EXPECT_FALSE(outcome.readAskedTooMuch);
    }

    Outcome hangup = Fetch(server.Url("/hangup"));
    EXPECT_FALSE(hangup.opened);
    EXPECT_EQ(hangup.openError, (DWORD)ERROR_INTERNET_CONNECTION_RESET);
}

TEST_F(WinInetTest, ReadsDeliverTheBodyAsItArrivesAndNeverMoreThanAsked) {
    LoopbackHttpServer server;
    server.Route("/slow", ScriptedReply::Pieces({"first ", "second ", "third"}, 150));
    std::string large;
    for (int i = 0; large.size() < 1000000; ++i)
        large += "line " + std::to_string(i) + "\n";
    server.Route("/large", ScriptedReply::Body(large));

    struct Case {
        const char* target;
        DWORD readSize;
        std::string body;
        size_t minReads;
    } cases[] = {
        // Three pieces apart in time: a read returns what has come, so at least three reads.
        {"/slow", 1024, "first second third", 3},
        // Reads smaller than a piece split it.
        {"/slow", 4, "first second third", 5},
        // Far more than the client buffers ahead of the reader.
        {"/large", 7000, large, large.size() / 7000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.target) + " by " + std::to_string(c.readSize));
        Outcome outcome = Fetch(server.Url(c.target), 0, c.readSize);
        ASSERT_TRUE(outcome.opened) << outcome.openError;
        EXPECT_TRUE(outcome.body == c.body) << outcome.body.size() << " bytes";
        EXPECT_GE(outcome.reads.size(), c.minReads);
        EXPECT_FALSE(outcome.readAskedTooMuch);
        EXPECT_TRUE(outcome.endedWithZeroRead);
    }
    // The slow body really came in separate reads, in the order sent.
    Outcome slow = Fetch(server.Url("/slow"), 0, 1024);
    ASSERT_GE(slow.reads.size(), 3u);
    EXPECT_EQ(slow.reads[0], 6u);
}

// The peak resident memory of the process since the last reset, in bytes.
void ResetPeakMemory() {
    FILE* file = fopen("/proc/self/clear_refs", "w");
    ASSERT_NE(file, nullptr);
    fputs("5", file);
    fclose(file);
}
long long PeakMemory() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 7, "VmHWM:\t") == 0)
            return std::stoll(line.substr(7)) * 1024;
    return -1;
}

// A site announcing 1 GB and sending it as fast as the client takes it: neither the player's
// way (the first kilobyte, then close) nor a reader going on takes more than a few MB.
TEST_F(WinInetTest, AHugeBodyNeverPilesUpInMemory) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    std::thread site([listener] {
        static const char chunk[65536] = {};
        const char head[] = "HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\n";
        for (int client; (client = accept(listener, nullptr, nullptr)) >= 0; close(client)) {
            char request[4096];
            recv(client, request, sizeof request, 0);
            send(client, head, sizeof head - 1, MSG_NOSIGNAL);
            for (long sent = 0; sent < (1L << 30);) {
                ssize_t n = send(client, chunk, sizeof chunk, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
            }
        }
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";

    for (size_t wanted : {1023u, 64u << 20}) {
        SCOPED_TRACE(wanted);
        ResetPeakMemory();
        const long long before = PeakMemory();
        HINTERNET session =
            InternetOpenW(L"Velmora", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        HINTERNET request = InternetOpenUrlW(session, Wide(url), kHeaders, lstrlenW(kHeaders),
                                             INTERNET_FLAG_NO_CACHE_WRITE, 0);
        std::vector<char> buffer(65536);
        size_t total = 0;
        DWORD got = 1;
        while (request && total < wanted && got > 0 &&
               InternetReadFile(request, buffer.data(),
                                (DWORD)std::min(buffer.size(), wanted - total), &got))
            total += got;
        EXPECT_EQ(total, wanted) << GetLastError();
        InternetCloseHandle(session);
        EXPECT_LT(PeakMemory() - before, 16 << 20);
    }
    shutdown(listener, SHUT_RDWR);
    site.join();
    close(listener);
}

TEST_F(WinInetTest, ReceiveTimeOutAbandonsASilentSite) {
    LoopbackHttpServer server;
    RouteSilentAndStalling(server, 3000);
    ScriptedReply slowButSteady = ScriptedReply::Pieces({"a", "b", "c", "d"}, 150);
    server.Route("/steady", slowButSteady);
    // A redirect whose own body stops half-way: the hop is never followed.
    ScriptedReply stalledRedirect = ScriptedReply::Redirect(302, "/steady");
    stalledRedirect.pieces = {"moved", "...here"};
    stalledRedirect.pieceDelayMs = 3000;
    stalledRedirect.keepAlive = true;
    server.Route("/stalled-redirect", stalledRedirect);

    // No answer at all, or a redirect whose body stalls: the request itself fails. Head in
    // time, body stalls: the read fails.
    for (const auto& [target, opens] :
         {std::pair{"/silent", false}, {"/stalled-redirect", false}, {"/stalls", true}}) {
        SCOPED_TRACE(target);
        Outcome outcome = Fetch(server.Url(target), 300);
        EXPECT_EQ(outcome.opened, opens);
        EXPECT_EQ(opens ? outcome.readError : outcome.openError, (DWORD)ERROR_INTERNET_TIMEOUT);
        EXPECT_GE(outcome.elapsedMs, 250);
        EXPECT_LT(outcome.elapsedMs, 2500);
    }

    // The time-out bounds each wait, not the whole body.
    Outcome steady = Fetch(server.Url("/steady"), 300);
    ASSERT_TRUE(steady.opened);
    EXPECT_EQ(steady.body, "abcd");
    EXPECT_TRUE(steady.endedWithZeroRead);
}

TEST_F(WinInetTest, RequestFailuresGiveWinInetErrors) {
    int closedPort;
    {
        LoopbackHttpServer gone;
        closedPort = gone.port();
    }
    struct Case {
        std::string url;
        DWORD error;
    } cases[] = {
        {"http://127.0.0.1:" + std::to_string(closedPort) + "/", ERROR_INTERNET_CANNOT_CONNECT},
        {"gopher://127.0.0.1/", ERROR_INTERNET_UNRECOGNIZED_SCHEME},
        {"not an address", ERROR_INTERNET_INVALID_URL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        Outcome outcome = Fetch(c.url);
        EXPECT_FALSE(outcome.opened);
        EXPECT_EQ(outcome.openError, c.error);
    }
}

TEST_F(WinInetTest, AgentAndHeadersArriveAsSent) {
    LoopbackHttpServer server;
    server.Route("/", ScriptedReply::Body("ok"));
    const WCHAR headers[] = L"Accept: */*\r\nX-Probe: one\r\nX-Cut: two\r\n\r\n";
    struct Case {
        LPCWSTR agent;
        DWORD headersLength;
        const char* userAgent;
        const char* probe;
        const char* cut;
    } cases[] = {
        {L"Velmora", (DWORD)lstrlenW(headers), "Velmora", "one", "two"},
        // -1: up to the terminator.
        {L"Velmora", 0xFFFFFFFF, "Velmora", "one", "two"},
        // The length counts characters: the headers stop after the probe line.
        {L"Velmora", 26, "Velmora", "one", ""},
        {nullptr, (DWORD)lstrlenW(headers), "", "one", "two"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.userAgent);
        size_t before = server.Requests().size();
        HINTERNET session =
            InternetOpenW(c.agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        HINTERNET request = InternetOpenUrlW(session, Wide(server.Url("/")), headers,
                                             c.headersLength, INTERNET_FLAG_NO_CACHE_WRITE, 0);
        ASSERT_NE(request, nullptr) << GetLastError();
        InternetCloseHandle(session);
        auto requests = server.Requests();
        ASSERT_EQ(requests.size(), before + 1);
        const auto& seen = requests.back();
        EXPECT_EQ(seen.method, "GET");
        EXPECT_EQ(seen.target, "/");
        EXPECT_EQ(seen.Header("User-Agent"), c.userAgent);
        EXPECT_EQ(seen.Header("Accept"), "*/*");
        EXPECT_EQ(seen.Header("X-Probe"), c.probe);
        EXPECT_EQ(seen.Header("X-Cut"), c.cut);
        int accepts = 0;
        for (const std::string& line : seen.headerLines)
            accepts += line.compare(0, 7, "Accept:") == 0;
        EXPECT_EQ(accepts, 1) << "the given Accept replaces the library's own";
    }
}

// The call fails and says why in the last error.
#define EXPECT_FAILS_WITH(call, error)                                                             \
    do {                                                                                           \
        SetLastError(0);                                                                           \
        EXPECT_FALSE(call) << #call;                                                               \
        EXPECT_EQ(GetLastError(), (DWORD)(error)) << #call;                                        \
    } while (0)

TEST_F(WinInetTest, HandlesAreCheckedAndClosingASessionClosesItsRequests) {
    LoopbackHttpServer server;
    server.Route("/", ScriptedReply::Body("ok"));
    HINTERNET session =
        InternetOpenW(L"Velmora", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(session, nullptr);
    HINTERNET request = InternetOpenUrlW(session, Wide(server.Url("/")), kHeaders,
                                         lstrlenW(kHeaders), INTERNET_FLAG_NO_CACHE_WRITE, 0);
    ASSERT_NE(request, nullptr);
    int notAHandle = 0;
    char buffer[16];
    DWORD got = 0, status = 0, size = sizeof status, ms = 1000;
    EXPECT_FAILS_WITH(InternetReadFile(nullptr, buffer, sizeof buffer, &got), ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(InternetReadFile(&notAHandle, buffer, sizeof buffer, &got),
                      ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(InternetReadFile(session, buffer, sizeof buffer, &got),
                      ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    EXPECT_FAILS_WITH(HttpQueryInfoW(session, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                     &status, &size, nullptr),
                      ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    EXPECT_FAILS_WITH(InternetOpenUrlW(request, Wide(server.Url("/")), kHeaders, 15, 0, 0),
                      ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    EXPECT_FAILS_WITH(
        InternetSetOptionW(&notAHandle, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms),
        ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(InternetCloseHandle(&notAHandle), ERROR_INVALID_HANDLE);

    EXPECT_TRUE(InternetCloseHandle(session));
    EXPECT_FAILS_WITH(InternetReadFile(request, buffer, sizeof buffer, &got), ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(InternetCloseHandle(request), ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(InternetCloseHandle(session), ERROR_INVALID_HANDLE);
}

// Windows' preconfigured proxy never takes loopback: a proxy in the environment must not cut
// the player off a local site, while other addresses still go through it.
TEST_F(WinInetTest, PreconfigProxyTakesAllButLoopback) {
    LoopbackHttpServer origin;
    origin.Route("/page", ScriptedReply::Body("from origin"));
    LoopbackHttpServer otherLoopback("127.0.0.2");
    otherLoopback.Route("/page", ScriptedReply::Body("from origin"));
    LoopbackHttpServer proxy;
    proxy.SetFallback(ScriptedReply::Body("from proxy"));
    std::string deadProxy;
    {
        LoopbackHttpServer gone;
        deadProxy = gone.Url("");
    }
    const std::string localhost = "http://localhost:" + std::to_string(origin.port()) + "/page";

    struct Case {
        std::string proxy;
        std::string url;
        const char* body;
    } cases[] = {
        {deadProxy, origin.Url("/page"), "from origin"},
        {deadProxy, localhost, "from origin"},
        {deadProxy, otherLoopback.Url("/page"), "from origin"},
        {proxy.Url(""), origin.Url("/page"), "from origin"},
        {proxy.Url(""), "http://example.invalid/page", "from proxy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url + " through " + c.proxy);
        setenv("http_proxy", c.proxy.c_str(), 1);
        Outcome outcome = Fetch(c.url);
        ASSERT_TRUE(outcome.opened) << outcome.openError;
        EXPECT_EQ(outcome.body, c.body);
    }
    // Only the other address reached the proxy, asked for in full.
    auto asked = proxy.Requests();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].target, "http://example.invalid/page");
}

// A blocked call ends as soon as another thread closes its handle (or the session), however
// long its time-outs, and the closed handles are gone.
TEST_F(WinInetTest, ClosingFromAnotherThreadCancelsABlockedCall) {
    LoopbackHttpServer server;
    RouteSilentAndStalling(server, 60000);

    struct Case {
        const char* how;
        bool blockedInRead;
        bool closeSession;
    } cases[] = {
        {"open, session closed", false, true},
        {"read, request closed", true, false},
        {"read, session closed", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        HINTERNET session =
            InternetOpenW(L"Velmora", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        ASSERT_NE(session, nullptr);
        DWORD receiveMs = 5000;
        InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
        HINTERNET request = nullptr;
        if (c.blockedInRead) {
            request = InternetOpenUrlW(session, Wide(server.Url("/stalls")), kHeaders,
                                       lstrlenW(kHeaders), INTERNET_FLAG_NO_CACHE_WRITE, 0);
            ASSERT_NE(request, nullptr) << GetLastError();
        }
        HINTERNET closed = c.closeSession ? session : request;
        BOOL closedOk = FALSE;
        auto started = std::chrono::steady_clock::now();
        std::thread closer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            closedOk = InternetCloseHandle(closed);
        });
        char buffer[16];
        DWORD got = 0;
        BOOL ok = c.blockedInRead ? InternetReadFile(request, buffer, sizeof buffer, &got)
                                  : InternetOpenUrlW(session, Wide(server.Url("/silent")), kHeaders,
                                                     lstrlenW(kHeaders), 0, 0) != nullptr;
        DWORD error = GetLastError();
        long long elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - started)
                                  .count();
        closer.join();
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, (DWORD)ERROR_INTERNET_OPERATION_CANCELLED);
        EXPECT_LT(elapsedMs, 2500);
        EXPECT_TRUE(closedOk);
        // The closed handle, and a request closed with its session, are no longer handles.
        if (request) {
            EXPECT_FALSE(InternetReadFile(request, buffer, sizeof buffer, &got));
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
        }
        EXPECT_EQ(InternetCloseHandle(request), FALSE) << "closed once already";
        EXPECT_EQ(InternetCloseHandle(session), !c.closeSession);
    }
}

} // namespace
