// The HTTP side of the site: libmicrohttpd in epoll mode with a small thread pool, so
// hundreds of idle keep-alive connections cost a file descriptor each and no thread.
// Socket and limit policy live in Listen.h, the log writer in Log.h.
#pragma once

#include "Listen.h"
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
    unsigned threads = 0;     // 0: one per CPU, at most 8
    unsigned connections = 0; // 0: what the descriptor limit allows (ConnectionBudget)
    unsigned perAddress = 0;  // open connections from one client address; 0: no limit
    std::chrono::milliseconds headerTimeout{10000};
    bool trustProxy = false; // log the X-Forwarded-For chain with the client address
};

class HttpServer {
  public:
    HttpServer(std::shared_ptr<const Site> site, RequestLog& log);
    ~HttpServer() { Stop(); }
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Serves on listenFd, which the server then owns.
    bool Start(int listenFd, const ServerLimits& limits, std::string* error);
    // Stops accepting at once, lets the requests in flight finish until the deadline, then
    // stops.
    void Shutdown(std::chrono::milliseconds deadline);
    void Stop();
    // Answers later requests from this site (SIGHUP: new notice, version, catalogue);
    // requests being answered keep the one they started with.
    void ReplaceSite(std::shared_ptr<const Site> site);

    // For libmicrohttpd's callbacks.
    struct Glue;

  private:
    // The site for a server thread: its own copy of site_, taken again when the generation
    // (unique to each site given to any server) has changed, so answering costs no lock or
    // shared counter.
    const std::shared_ptr<const Site>& CurrentSite();

    std::mutex siteMutex_;
    std::shared_ptr<const Site> site_;
    std::atomic<uint64_t> siteGeneration_;
    RequestLog& log_;
    ServerLimits limits_;
    std::unique_ptr<HeaderDeadline> headerDeadline_;
    std::atomic<int> inFlight_{0};
    MHD_Daemon* daemon_ = nullptr;
};

} // namespace velmora::site
