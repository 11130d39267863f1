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
#include <unordered_map>
#include <vector>

struct MHD_Daemon;

namespace velmora::site {

class HttpServer {
  public:
    HttpServer(std::shared_ptr<const Site> site, RequestLog& log)
        : site_(std::move(site)), log_(log) {}
    ~HttpServer() { Shutdown(std::chrono::milliseconds(0)); }

    // Serves on listenFd, which the server then owns, with the options' threads, time-out,
    // per-address limit (for every client but the trusted proxies) and proxy trust.
    bool Start(int listenFd, const Options& options, std::string* error);
    // Stops accepting at once and lets the requests in flight finish until the deadline.
    void Shutdown(std::chrono::milliseconds deadline);
    // The port served (the system's pick for port 0).
    unsigned Port() const;
    // Answers later requests from this site (SIGHUP); requests being answered keep theirs.
    void ReplaceSite(std::shared_ptr<const Site> site);

    // For libmicrohttpd's callbacks.
    struct Glue;

  private:
    std::shared_ptr<const Site> CurrentSite();
    bool Trusted(const std::string& address) const;

    std::mutex siteMutex_;
    std::shared_ptr<const Site> site_;
    RequestLog& log_;
    std::vector<std::string> trustedProxies_;
    unsigned perAddress_ = 0; // 0: no limit
    std::mutex countsMutex_;
    std::unordered_map<std::string, unsigned> connections_; // open ones, by client address
    std::atomic<int> inFlight_{0};
    MHD_Daemon* daemon_ = nullptr;
};

} // namespace velmora::site
