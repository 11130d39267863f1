// The HTTP side of the site: libmicrohttpd in epoll mode with its own thread pool, on
// loopback or a trusted network (nginx in front takes the internet: TLS, slow clients,
// connection limits). Socket set-up lives in Listen.h, the log in Log.h.
#pragma once

#include "Log.h"
#include "Site.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

struct MHD_Daemon;

namespace velmora::site {

struct ServerLimits {
    unsigned threads = 0;        // 0: one per CPU, at most 8
    unsigned perAddress = 0;     // open connections from one client address; 0: no limit
    unsigned timeoutSeconds = 0; // a connection silent this long is closed; 0: never
    bool trustProxy = false;     // log the X-Forwarded-For chain with the client address
};

class HttpServer {
  public:
    HttpServer(std::shared_ptr<const Site> site, RequestLog& log)
        : site_(std::move(site)), log_(log) {}
    ~HttpServer() { Shutdown(std::chrono::milliseconds(0)); }
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Serves on listenFd, which the server then owns.
    bool Start(int listenFd, const ServerLimits& limits, std::string* error);
    // Stops accepting at once, lets the requests in flight finish until the deadline, then
    // stops.
    void Shutdown(std::chrono::milliseconds deadline);
    // Answers later requests from this site (SIGHUP); requests being answered keep theirs.
    void ReplaceSite(std::shared_ptr<const Site> site);

    // For libmicrohttpd's callbacks.
    struct Glue;

  private:
    std::shared_ptr<const Site> CurrentSite();

    std::mutex siteMutex_;
    std::shared_ptr<const Site> site_;
    RequestLog& log_;
    ServerLimits limits_;
    std::atomic<int> inFlight_{0};
    MHD_Daemon* daemon_ = nullptr;
};

} // namespace velmora::site
