#include "Log.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
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

// Bytes `keep` refuses become %XX; the rest is copied a run at a time.
template <typename Keep> void AppendEscaped(std::string& line, std::string_view text, Keep keep) {
    static const char kHex[] = "0123456789ABCDEF";
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!keep(c)) {
            line.append(text.data() + run, i - run);
            const char escaped[3] = {'%', kHex[c >> 4], kHex[c & 15]};
            line.append(escaped, 3);
            run = i + 1;
        }
    }
    line.append(text.data() + run, text.size() - run);
}

// Printable ASCII without blanks; '%' too, when the text is not percent-encoded already.
// Inside quotes blanks are fine; the quote and backslash are escaped like the rest.
const auto Plain = [](unsigned char c) { return c > 0x20 && c < 0x7F && c != '%'; };
const auto PlainOrPercent = [](unsigned char c) { return c > 0x20 && c < 0x7F; };
const auto Quotable = [](unsigned char c) {
    return c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '%';
};

template <typename Number> void AppendNumber(std::string& line, Number number) {
    char digits[24];
    line.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
}

// "007" for 7: the three decimals of a time in milliseconds.
void AppendThreeDigits(std::string& line, unsigned value) {
    const char digits[3] = {static_cast<char>('0' + value / 100 % 10),
                            static_cast<char>('0' + value / 10 % 10),
                            static_cast<char>('0' + value % 10)};
    line.append(digits, 3);
}

// "2024-05-03T20:00:01.250Z": the part up to the second is formatted once per second and
// thread, not per line.
void AppendTime(std::string& line, int64_t unixMillis) {
    struct Second {
        int64_t number = -1;
        char text[24];
        size_t length = 0;
    };
    thread_local Second cached;
    const int64_t second = unixMillis / 1000;
    if (second != cached.number) {
        const time_t when = static_cast<time_t>(second);
        tm utc{};
        gmtime_r(&when, &utc);
        cached.length = strftime(cached.text, sizeof cached.text, "%Y-%m-%dT%H:%M:%S.", &utc);
        cached.number = second;
    }
    line.append(cached.text, cached.length);
    AppendThreeDigits(line, static_cast<unsigned>(unixMillis % 1000));
    line += 'Z';
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

void AppendLogLine(std::string& line, const LogEntry& entry) {
    line.reserve(line.size() + 64 + entry.client.size() + entry.method.size() +
                 entry.target.size() + entry.userAgent.size());
    AppendTime(line, entry.unixMillis);
    line += ' ';
    AppendEscaped(line, entry.client.empty() ? "-" : entry.client, Plain);
    line += ' ';
    AppendEscaped(line, entry.method, Plain);
    line += ' ';
    AppendEscaped(line, entry.target, PlainOrPercent);
    line += ' ';
    AppendNumber(line, entry.status);
    line += ' ';
    AppendNumber(line, entry.bytes);
    line += ' ';
    // Seconds with three decimals, from whole milliseconds (to_chars of a double costs a
    // fifth of the line).
    const auto millis = static_cast<uint64_t>(std::max(entry.seconds, 0.0) * 1000 + 0.5);
    AppendNumber(line, millis / 1000);
    line += '.';
    AppendThreeDigits(line, static_cast<unsigned>(millis % 1000));
    line += " \"";
    AppendEscaped(line, entry.userAgent, Quotable);
    line += "\"\n";
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

void RequestLog::Write(const LogEntry& entry) {
    // Formatted outside the lock, into a buffer each thread keeps.
    thread_local std::string line;
    line.clear();
    AppendLogLine(line, entry);
    bool batchFull = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queuedLines_ >= capacity_) {
            ++dropped_;
            return;
        }
        queue_ += line;
        batchFull = ++queuedLines_ >= kBatchLines;
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
    std::string batch;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, kFlushDelay,
                       [&] { return stopping_ || reopen_ || queuedLines_ >= kBatchLines; });
        const bool reopen = std::exchange(reopen_, false);
        // Everything queued goes out in one write, outside the lock; the two buffers take
        // turns, so neither is allocated again.
        batch.swap(queue_);
        queue_.clear();
        queuedLines_ = 0;
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
