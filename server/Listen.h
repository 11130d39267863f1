// Socket and limit policy, apart from the libmicrohttpd glue: the listening socket, how
// many connections the descriptor table allows, the header deadline, dropping root.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <condition_variable>

namespace velmora::site {

// Opens a listening TCP socket on an IPv4 or IPv6 address ("::" takes IPv4 clients too);
// on failure returns -1 and sets error to one line ("cannot listen on 127.0.0.1:8848:
// Address already in use").
int OpenListenSocket(const std::string& address, int port, std::string* error);

// The port a listening socket is bound to (useful after asking for port 0).
uint16_t BoundPort(int fd);

// "127.0.0.1" or "[::1]": the address as it goes into a URL.
std::string UrlHost(const std::string& address);

// How many connections may be open at once. Raises the soft descriptor limit to the hard
// one first. A connection streaming a file holds two descriptors (its socket and the
// file), and the server keeps a few of its own (listening socket, epoll, log, folder
// scans), so: (limit - reserve) / 2.
unsigned ConnectionBudget();

// The bytes written into a connected TCP socket so far, whether sent already or still queued
// in the kernel (0 when the socket cannot tell).
uint64_t BytesWritten(int fd);

// Switches to the user's uid, gid and groups; false with a one-line error when the user
// is unknown or the switch fails (never half done: the uid goes last).
bool DropPrivileges(const std::string& user, std::string* error);

// The time a request's headers may take, counted from its first byte: libmicrohttpd's
// time-out counts only silence, so a client sending a byte now and then would hold a
// connection for ever. A watcher thread looks at each connection waiting for headers
// and shuts down the socket of one that is past the deadline; libmicrohttpd then sees the
// connection end and cleans it up itself.
class HeaderDeadline {
  public:
    struct Connection;

    explicit HeaderDeadline(std::chrono::milliseconds limit);
    ~HeaderDeadline();
    HeaderDeadline(const HeaderDeadline&) = delete;
    HeaderDeadline& operator=(const HeaderDeadline&) = delete;

    Connection* Opened(int fd);
    void HeadersDone(Connection* connection); // a request's headers are all in
    void AnswerDone(Connection* connection);  // the connection waits for the next request
    void Closed(Connection* connection);      // before the socket is closed

  private:
    void Watch();

    const std::chrono::milliseconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unordered_set<Connection*> connections_;
    bool stopping_ = false;
    std::thread watcher_;
};

} // namespace velmora::site
