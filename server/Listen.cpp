#include "Listen.h"

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

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

} // namespace velmora::site
