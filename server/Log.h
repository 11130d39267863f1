// The request log: one line per request, written by a thread of its own so that a slow
// reader (a full pipe, a stalled disk) never holds up a server thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace velmora::site {

// What one finished request leaves in the log.
struct LogEntry {
    std::string client; // address, or the proxy's X-Forwarded-For with --trust-proxy
    std::string method;
    std::string target; // path and query as sent
    unsigned status = 0;
    uint64_t bytes = 0;     // body bytes actually sent
    double seconds = 0;     // from the request line to the end of the answer
    std::string userAgent;  // empty when none was sent
    int64_t unixMillis = 0; // when the answer ended
};

// Adds one line, with its newline, to the end of `line`:
//
//     2024-05-03T20:00:01.250Z 127.0.0.1 GET /video/player/?flv=list 200 3 0.000 "ua"
//
// METHOD, TARGET and the client show bytes outside printable ASCII as %XX (METHOD '%'
// too, since a method is not percent-encoded); the User-Agent escapes '"' and '\' the
// same way. "METHOD TARGET STATUS BYTES" stays one contiguous run: tests read it.
void AppendLogLine(std::string& line, const LogEntry& entry);

class RequestLog {
  public:
    // path empty: stdout. capacity: lines waiting before new ones are dropped.
    explicit RequestLog(std::string path, size_t capacity = 8192);
    ~RequestLog(); // writes what is queued, then stops the thread
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // Opens the file (append) and starts the writer; false with a one-line error.
    bool Start(std::string* error);
    // Never blocks on the output: queues the entry's line, or counts it dropped when full.
    void Write(const LogEntry& entry);
    // Reopens the file before the next write (after a rotation); no-op for stdout.
    void Reopen();
    uint64_t Dropped() const;

  private:
    void Run();
    bool OpenFile(std::string* error);

    const std::string path_;
    const size_t capacity_;
    int fd_ = 1;
    bool regularFile_ = false; // the writer's own: no poll before writing
    std::thread writer_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string queue_; // whole lines, each ending in a newline
    size_t queuedLines_ = 0;
    uint64_t dropped_ = 0;
    uint64_t droppedReported_ = 0;
    bool reopen_ = false;
    std::atomic<bool> stopping_{false};
};

} // namespace velmora::site
