// The HTTP side of the site: libmicrohttpd in epoll mode with a small thread pool, so
// hundreds of idle keep-alive connections cost a file descriptor each and no thread.
#pragma once

#include "Site.h"

#include <cstdint>
#include <string>

struct MHD_Daemon;

namespace velmora::site {

// Opens a listening TCP socket; on failure returns -1 and sets error to a one-line
// explanation ("cannot listen on 127.0.0.1:8848: Address already in use").
int OpenListenSocket(const std::string& address, int port, std::string* error);

// The port a listening socket is bound to (useful after asking for port 0).
uint16_t BoundPort(int fd);

class HttpServer {
  public:
    explicit HttpServer(const Site& site) : site_(site) {}
    ~HttpServer() { Stop(); }
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Serves on listenFd, which the server then owns. threads 0 picks one per CPU.
    bool Start(int listenFd, unsigned threads, std::string* error);
    void Stop();

  private:
    const Site& site_;
    MHD_Daemon* daemon_ = nullptr;
};

} // namespace velmora::site
