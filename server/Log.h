// The request log, on a non-blocking descriptor: a reader who stops reading (a full pipe)
// costs lines, never an answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace velmora::site {

// What one finished request leaves in the log.
struct LogEntry {
    std::string client; // address; after a trusted proxy's X-Forwarded-For, with --trust-proxy
    std::string method;
    std::string target; // path and query as sent
    unsigned status = 0;
    uint64_t bytes = 0;     // the answer's body size (nginx in front logs what was received)
    double seconds = 0;     // from the request line to the end of the answer
    std::string userAgent;  // empty when none was sent
    int64_t unixMillis = 0; // when the answer ended
};

// One line per request, each written with one write():
//
//     2024-05-03T20:00:01.250Z 127.0.0.1 GET /video/player/?flv=list 200 3 0.000 "ua"
//
// METHOD, TARGET and the client show bytes outside printable ASCII as %XX (METHOD '%'
// too, since a method is not percent-encoded); the User-Agent escapes '"' and '\' the
// same way. "METHOD TARGET STATUS BYTES" stays one contiguous run: tests read it.
class RequestLog {
  public:
    explicit RequestLog(std::string path) : path_(std::move(path)) {} // empty: stdout
    ~RequestLog();

    // Opens the file (append) or stdout; false with a one-line error.
    bool Open(std::string* error);
    // Never waits: a line (cut to PIPE_BUF) that does not fit into the pipe is dropped and
    // counted, and the count is logged with the next line that fits.
    void Write(const LogEntry& entry);
    // Reopens the file after a rotation; no-op for stdout.
    void Reopen();

  private:
    const std::string path_;
    int fd_ = -1;
    std::atomic<uint64_t> dropped_{0};
};

} // namespace velmora::site
