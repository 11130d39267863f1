#include "Listen.h"

#include <grp.h>
#include <netdb.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace velmora::site {

int OpenListenSocket(const std::string& address, int port, std::string* error) {
    const std::string where = "cannot listen on " + UrlHost(address) + ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        *error = where + ": not an IP address";
        return -1;
    }
    // Non-blocking: every pool thread watches this socket and only one wins each accept.
    int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int on = 1;
    int off = 0;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        // "::" serves IPv4 clients as well, whatever the system's default.
        (found->ai_family == AF_INET6 &&
         setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0) ||
        bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 4096) != 0) {
        *error = where + ": " + strerror(errno);
        if (fd >= 0) {
            close(fd);
        }
        fd = -1;
    }
    freeaddrinfo(found);
    return fd;
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
    if (geteuid() == found->pw_uid) {
        return true; // already that user: nothing to drop
    }
    if (geteuid() != 0) {
        *error = prefix + "only root can switch users";
        return false;
    }
    if (initgroups(found->pw_name, found->pw_gid) != 0 || setgid(found->pw_gid) != 0 ||
        setuid(found->pw_uid) != 0) {
        *error = prefix + strerror(errno);
        return false;
    }
    return true;
}

} // namespace velmora::site
