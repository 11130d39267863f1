#include "Listen.h"

#include <arpa/inet.h>
#include <grp.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace velmora::site {

int OpenListenSocket(const std::string& address, int port, std::string* error) {
    std::string where = UrlHost(address) + ":" + std::to_string(port);
    sockaddr_storage storage{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        length = sizeof *v6;
    } else {
        *error = "cannot listen on " + where + ": not an IP address";
        return -1;
    }
    // Non-blocking: every pool thread watches this socket and only one wins each accept.
    int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = "cannot listen on " + where + ": " + strerror(errno);
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (storage.ss_family == AF_INET6) {
        // "::" serves IPv4 clients as well, whatever the system's default; "::1" is IPv6 only
        // anyway.
        int off = 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(fd, 4096) != 0) {
        *error = "cannot listen on " + where + ": " + strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t BoundPort(int fd) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return 0;
    }
    return ntohs(storage.ss_family == AF_INET6
                     ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

std::string UrlHost(const std::string& address) {
    return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

unsigned ConnectionBudget() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 500;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    constexpr rlim_t kMost = 1u << 20;
    rlim_t descriptors = limit.rlim_cur == RLIM_INFINITY ? kMost : std::min(limit.rlim_cur, kMost);
    // The server's own descriptors: 3 standard ones, listening socket, an epoll and a wake-up
    // descriptor per thread, the log file, a folder being scanned and a file being opened.
    rlim_t reserve = std::clamp<rlim_t>(descriptors / 8, 24, 64);
    if (descriptors <= reserve + 2) {
        return 1;
    }
    return static_cast<unsigned>((descriptors - reserve) / 2);
}

namespace {

// The socket's TCP counters; false where the kernel is too old to have them (Linux 4.19).
bool ReadTcpInfo(int fd, tcp_info* info) {
    *info = tcp_info{};
    socklen_t length = sizeof *info;
    return getsockopt(fd, IPPROTO_TCP, TCP_INFO, info, &length) == 0 &&
           length >= offsetof(tcp_info, tcpi_bytes_retrans) + sizeof info->tcpi_bytes_retrans;
}

uint64_t BytesReceived(int fd) {
    tcp_info info;
    return ReadTcpInfo(fd, &info) ? info.tcpi_bytes_received : 0;
}

} // namespace

uint64_t BytesWritten(int fd) {
    tcp_info info;
    // Sent once (retransmissions left out) plus written but not sent yet.
    return ReadTcpInfo(fd, &info)
               ? info.tcpi_bytes_sent - info.tcpi_bytes_retrans + info.tcpi_notsent_bytes
               : 0;
}

bool DropPrivileges(const std::string& user, std::string* error) {
    const std::string prefix = "cannot switch to user " + user + ": ";
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    int lookup = getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (!found) {
        *error = prefix + (lookup ? strerror(lookup) : "no such user");
        return false;
    }
    if (geteuid() != 0) {
        if (geteuid() == found->pw_uid) {
            return true; // already that user: nothing to drop
        }
        *error = prefix + "only root can switch users";
        return false;
    }
    if (initgroups(found->pw_name, found->pw_gid) != 0 || setgid(found->pw_gid) != 0 ||
        setuid(found->pw_uid) != 0) {
        *error = prefix + strerror(errno);
        return false;
    }
    // setuid from root must be irreversible; a kernel that let it back would be a surprise.
    if (setuid(0) == 0) {
        *error = prefix + "root could be regained";
        return false;
    }
    return true;
}

struct HeaderDeadline::Connection {
    int fd = -1;
    bool waiting = true;   // for a request's headers
    uint64_t baseline = 0; // bytes received when the wait began
    bool needsBaseline = false;
    bool started = false; // a byte of the request has come
    std::chrono::steady_clock::time_point since;
    bool cut = false;
};

HeaderDeadline::HeaderDeadline(std::chrono::milliseconds limit) : limit_(limit) {
    watcher_ = std::thread(&HeaderDeadline::Watch, this);
}

HeaderDeadline::~HeaderDeadline() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    watcher_.join();
    for (Connection* connection : connections_) {
        delete connection;
    }
}

HeaderDeadline::Connection* HeaderDeadline::Opened(int fd) {
    auto* connection = new Connection;
    connection->fd = fd;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.insert(connection);
    return connection;
}

void HeaderDeadline::HeadersDone(Connection* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    connection->waiting = false;
}

void HeaderDeadline::AnswerDone(Connection* connection) {
    // The watcher reads the byte count on its next tick, not this thread for every answer.
    std::lock_guard<std::mutex> lock(mutex_);
    connection->waiting = true;
    connection->started = false;
    connection->needsBaseline = true;
}

void HeaderDeadline::Closed(Connection* connection) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.erase(connection);
    }
    delete connection;
}

void HeaderDeadline::Watch() {
    // A quarter of the deadline, at most 250 ms: late by that much at worst.
    const auto period =
        std::min<std::chrono::milliseconds>(limit_ / 4, std::chrono::milliseconds(250));
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, period, [&] { return stopping_; })) {
        const auto now = std::chrono::steady_clock::now();
        for (Connection* connection : connections_) {
            if (!connection->waiting || connection->cut) {
                continue;
            }
            if (connection->needsBaseline) {
                connection->baseline = BytesReceived(connection->fd);
                connection->needsBaseline = false;
            } else if (!connection->started) {
                // An idle keep-alive connection is libmicrohttpd's time-out's business;
                // the clock starts with the request's first byte.
                if (BytesReceived(connection->fd) > connection->baseline) {
                    connection->started = true;
                    connection->since = now;
                }
            } else if (now - connection->since > limit_) {
                // Under the lock, so the descriptor is still this connection's: Closed()
                // runs before libmicrohttpd closes it.
                shutdown(connection->fd, SHUT_RDWR);
                connection->cut = true;
            }
        }
    }
}

} // namespace velmora::site
