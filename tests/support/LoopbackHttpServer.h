// A scriptable HTTP server on a loopback address, for tests of the HTTP client and of the
// fetches: each request target gets a scripted reply (status, headers, a body sent in
// pieces with pauses, an early close, or no answer at all).
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velmora::test {

struct ScriptedReply {
    enum class Action {
        Respond,     // send the reply below
        Close,       // read the request, then close without a byte
        NeverAnswer, // read the request, then hold the connection open until the server stops
    };
    Action action = Action::Respond;
    int status = 200;
    std::string reason = "OK";
    std::vector<std::pair<std::string, std::string>> headers;
    // The body, sent piece by piece with pieceDelayMs between pieces (and before the first
    // piece when delayFirstPiece is set).
    std::vector<std::string> pieces;
    int pieceDelayMs = 0;
    bool delayFirstPiece = false;
    // Content-Length of the whole body unless false (then the close ends the body).
    bool sendContentLength = true;
    // Close the connection after this many body bytes; negative: send the whole body.
    long closeAfterBytes = -1;
    // Leave out "Connection: close", so the client expects to reuse the connection and
    // reads the whole body (even of a redirect) before going on.
    bool keepAlive = false;
    // Wait this long before sending anything.
    int answerDelayMs = 0;
    // Send the head one line at a time, this long apart.
    int headLineDelayMs = 0;

    static ScriptedReply Body(std::string body, int status = 200);
    static ScriptedReply Redirect(int status, std::string location);
    static ScriptedReply Pieces(std::vector<std::string> pieces, int delayMs);
};

struct RecordedRequest {
    std::string method;
    std::string target;
    // Header lines as received, in order, without their line breaks.
    std::vector<std::string> headerLines;
    // The value of the first header with this name (case-insensitive), or "".
    std::string Header(const std::string& name) const;
};

class LoopbackHttpServer {
  public:
    // Listens on host:port; port 0 picks a free port. Throws when it cannot listen.
    explicit LoopbackHttpServer(const std::string& host = "127.0.0.1", int port = 0);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    int port() const { return port_; }
    const std::string& host() const { return host_; }
    // "http://host:port" + target (target starts with '/').
    std::string Url(const std::string& target) const;

    // The reply for requests whose target (path and query) is exactly target.
    void Route(const std::string& target, ScriptedReply reply);
    // The reply for any other target (404 "not found" unless set).
    void SetFallback(ScriptedReply reply);

    std::vector<RecordedRequest> Requests() const;
    int ConnectionCount() const { return connections_.load(); }

  private:
    void AcceptLoop();
    void Serve(int client);
    bool SendAll(int client, const std::string& bytes);
    // Sleeps for ms unless the server stops first; answers whether it is still running.
    bool Pause(int ms);

    std::string host_;
    int port_ = 0;
    int listener_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};

    mutable std::mutex lock_;
    std::condition_variable stopped_;
    std::map<std::string, ScriptedReply> routes_;
    ScriptedReply fallback_;
    std::vector<RecordedRequest> requests_;
    std::vector<int> clients_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

} // namespace velmora::test
