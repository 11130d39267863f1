#include "Log.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

namespace velmora::site {

namespace {

// Lines go to the writer in batches, as nginx's buffered access log does: waking the
// writer for every request cost the busiest address a quarter of its speed. A line waits
// at most kFlushDelay.
constexpr size_t kBatchLines = 256;
constexpr std::chrono::milliseconds kFlushDelay(50);

void AppendEscaped(std::string& line, const std::string& text, const char* alsoEscape) {
    for (unsigned char c : text) {
        if (c > 0x20 && c < 0x7F && !strchr(alsoEscape, c)) {
            line += static_cast<char>(c);
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            line += hex;
        }
    }
}

// Whole lines or nothing more: a write cut short by a signal or a full disk goes on from
// where it stopped, a failed one is given up (the log must not take the server down).
// Into a pipe or socket it goes a pipe buffer at a time once poll says there is room, so
// that a reader who stopped reading cannot keep the server from exiting: once stopping,
// what cannot be written within a second is dropped, and false returned.
bool WriteAll(int fd, const std::string& bytes, bool regularFile,
              const std::atomic<bool>& stopping) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point giveUpAt = Clock::time_point::max();
    size_t done = 0;
    while (done < bytes.size()) {
        size_t chunk = bytes.size() - done;
        if (!regularFile) {
            pollfd p{fd, POLLOUT, 0};
            int ready = poll(&p, 1, 100);
            if (ready < 0 && errno != EINTR) {
                return true;
            }
            if (ready <= 0) {
                if (stopping && giveUpAt == Clock::time_point::max()) {
                    giveUpAt = Clock::now() + std::chrono::seconds(1);
                } else if (Clock::now() >= giveUpAt) {
                    return false;
                }
                continue;
            }
            chunk = std::min<size_t>(chunk, PIPE_BUF);
        }
        ssize_t n = write(fd, bytes.data() + done, chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return true;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool IsRegularFile(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

std::string FormatLogLine(const LogEntry& entry) {
    char time[40];
    time_t seconds = static_cast<time_t>(entry.unixMillis / 1000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    size_t used = strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &utc);
    snprintf(time + used, sizeof time - used, ".%03dZ", static_cast<int>(entry.unixMillis % 1000));

    std::string line = time;
    line += ' ';
    AppendEscaped(line, entry.client.empty() ? "-" : entry.client, "%");
    line += ' ';
    AppendEscaped(line, entry.method, "%");
    line += ' ';
    AppendEscaped(line, entry.target, "");
    line += ' ' + std::to_string(entry.status) + ' ' + std::to_string(entry.bytes) + ' ';
    char duration[32];
    snprintf(duration, sizeof duration, "%.3f", entry.seconds);
    line += duration;
    line += " \"";
    // Blanks are fine inside the quotes; the quote and backslash are escaped like the rest.
    for (unsigned char c : entry.userAgent) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '%') {
            line += static_cast<char>(c);
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            line += hex;
        }
    }
    line += '"';
    return line;
}

RequestLog::RequestLog(std::string path, size_t capacity)
    : path_(std::move(path)), capacity_(capacity) {}

RequestLog::~RequestLog() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) {
        writer_.join();
    }
    if (fd_ > 2) {
        close(fd_);
    }
}

bool RequestLog::OpenFile(std::string* error) {
    if (path_.empty()) {
        fd_ = 1;
        regularFile_ = IsRegularFile(fd_);
        return true;
    }
    int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) {
            *error = "cannot open the log file " + path_ + ": " + strerror(errno);
        }
        return false;
    }
    if (fd_ > 2) {
        close(fd_);
    }
    fd_ = fd;
    regularFile_ = IsRegularFile(fd_);
    return true;
}

bool RequestLog::Start(std::string* error) {
    if (!OpenFile(error)) {
        return false;
    }
    writer_ = std::thread(&RequestLog::Run, this);
    return true;
}

void RequestLog::Write(std::string line) {
    bool batchFull = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.size() >= capacity_) {
            ++dropped_;
            return;
        }
        queue_.push_back(std::move(line));
        batchFull = queue_.size() >= kBatchLines;
    }
    if (batchFull) {
        wake_.notify_one();
    }
}

void RequestLog::Reopen() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reopen_ = true;
    }
    wake_.notify_one();
}

uint64_t RequestLog::Dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

void RequestLog::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, kFlushDelay,
                       [&] { return stopping_ || reopen_ || queue_.size() >= kBatchLines; });
        const bool reopen = std::exchange(reopen_, false);
        // Everything queued goes out in one write, outside the lock.
        std::string batch;
        while (!queue_.empty()) {
            batch += queue_.front();
            batch += '\n';
            queue_.pop_front();
        }
        if (dropped_ != droppedReported_) {
            batch += "velmora-site: " + std::to_string(dropped_ - droppedReported_) +
                     " request log lines dropped: the log is not keeping up\n";
            droppedReported_ = dropped_;
        }
        if (batch.empty() && !reopen && stopping_) {
            return;
        }
        lock.unlock();
        // Lines queued before a reopen belong to the file being rotated away.
        if (!batch.empty() && !WriteAll(fd_, batch, regularFile_, stopping_)) {
            return;
        }
        if (reopen) {
            std::string error;
            if (!OpenFile(&error)) {
                fprintf(stderr, "velmora-site: %s\n", error.c_str());
            }
        }
        lock.lock();
    }
}

} // namespace velmora::site
