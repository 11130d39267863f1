// The listening socket and dropping root, apart from the libmicrohttpd glue.
#pragma once

#include <string>

namespace velmora::site {

// Opens a listening TCP socket on an IPv4 or IPv6 address ("::" takes IPv4 clients too);
// on failure returns -1 and sets error to one line ("cannot listen on 127.0.0.1:8848:
// Address already in use").
int OpenListenSocket(const std::string& address, int port, std::string* error);

// "127.0.0.1" or "[::1]": the address as it goes into a URL.
std::string UrlHost(const std::string& address);

// Switches to the user's uid, gid and groups; false with a one-line error when the user
// is unknown or the switch fails (never half done: the uid goes last).
bool DropPrivileges(const std::string& user, std::string* error);

} // namespace velmora::site
