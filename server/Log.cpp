#include "Log.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace velmora::site {

namespace {

// Bytes outside printable ASCII become %XX; so do '%' unless the text is percent-encoded
// already, and blanks unless quoted, where the quote and the backslash are escaped instead.
void AppendEscaped(std::string& line, std::string_view text, bool encoded, bool quoted) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c > 0x20 || (quoted && c == 0x20)) && c < 0x7F && (c != '%' || encoded) &&
            !(quoted && (c == '"' || c == '\\'))) {
            line += ch;
        } else {
            char escaped[4];
            line.append(escaped,
                        static_cast<size_t>(snprintf(escaped, sizeof escaped, "%%%02X", c)));
        }
    }
}

// A descriptor of its own for the log, so that O_NONBLOCK does not reach whoever shares
// stdout (a terminal, the shell's pipe): /proc opens the pipe or terminal anew. A socket
// cannot be opened that way; a copy of it is set non-blocking instead.
int OpenStdout() {
    int fd = open("/proc/self/fd/1", O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (fd = fcntl(1, F_DUPFD_CLOEXEC, 3)) >= 0) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return fd;
}

void AppendLogLine(std::string& line, const LogEntry& entry) {
    const time_t second = static_cast<time_t>(entry.unixMillis / 1000);
    tm utc{};
    gmtime_r(&second, &utc);
    char text[64];
    line.append(text, strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc));
    line.append(text, static_cast<size_t>(snprintf(text, sizeof text, ".%03dZ ",
                                                   static_cast<int>(entry.unixMillis % 1000))));
    AppendEscaped(line, entry.client.empty() ? "-" : entry.client, false, false);
    line += ' ';
    AppendEscaped(line, entry.method, false, false);
    line += ' ';
    AppendEscaped(line, entry.target, true, false);
    line.append(text,
                static_cast<size_t>(snprintf(text, sizeof text, " %u %llu %.3f \"", entry.status,
                                             static_cast<unsigned long long>(entry.bytes),
                                             std::max(entry.seconds, 0.0))));
    AppendEscaped(line, entry.userAgent, false, true);
    line += "\"\n";
}

} // namespace

RequestLog::~RequestLog() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

// The log file is opened as root when the site starts as root (--user), in a folder the site
// may write to: a link in its place is not followed, and only a regular file is appended to.
int OpenLogFile(const std::string& path) {
    int fd =
        open(path.c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    struct stat info;
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(fd);
        fd = -1;
        errno = EINVAL;
    } else if (fd < 0 && errno == ENXIO) {
        errno = EINVAL; // a FIFO nobody reads, which O_NONBLOCK kept from blocking
    }
    return fd;
}

bool RequestLog::Open(std::string* error) {
    int fd = path_.empty() ? OpenStdout() : OpenLogFile(path_);
    if (fd < 0) {
        *error = (path_.empty() ? "cannot open stdout for the log"
                                : "cannot open the log file " + path_) +
                 (errno == ELOOP    ? ": a symbolic link is not followed"
                  : errno == EINVAL ? ": not a regular file"
                                    : ": " + std::string(strerror(errno)));
        return false;
    }
    if (fd_ < 0) {
        fd_ = fd;
    } else {
        // In place: a server thread writing just now gets the old file or the new one.
        dup3(fd, fd_, O_CLOEXEC);
        close(fd);
    }
    return true;
}

void RequestLog::Write(const LogEntry& entry) {
    thread_local std::string line;
    line.clear();
    AppendLogLine(line, entry);
    // Up to PIPE_BUF a write into a pipe is whole or nothing, and lines never interleave.
    if (line.size() > PIPE_BUF) {
        line.resize(PIPE_BUF - 1);
        line += '\n';
    }
    if (write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        ++dropped_;
    } else if (dropped_.load(std::memory_order_relaxed) != 0) {
        const uint64_t dropped = dropped_.exchange(0);
        line = "velmora-site: " + std::to_string(dropped) +
               " request log lines dropped: the log is not keeping up\n";
        if (write(fd_, line.data(), line.size()) < 0) {
            dropped_ += dropped;
        }
    }
}

void RequestLog::Reopen() {
    std::string error;
    if (!path_.empty() && !Open(&error)) {
        fprintf(stderr, "velmora-site: %s\n", error.c_str());
    }
}

} // namespace velmora::site
