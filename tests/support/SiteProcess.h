// The real velmora-site binary, started for one test and stopped when the object goes.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {

class SiteProcess {
  public:
    // Starts the site binary (VELMORA_SITE_BINARY, or the file VELMORA_TEST_SITE_BINARY in
    // the environment names, to try the tests on another build) with the options plus --listen
    // host --port port (port 0: the site takes any free port, see Port()) and waits until it
    // serves. With readLog false, stdout is left unread after the serving line: a pipe that
    // fills up. Throws std::runtime_error, with the site's error output, when it is not
    // serving after 5 s.
    explicit SiteProcess(const std::vector<std::string>& options,
                         const std::string& host = "127.0.0.1", int port = 0, bool readLog = true);
    // Stops the site (SIGTERM, then SIGKILL if it lingers) and reaps it.
    ~SiteProcess();
    SiteProcess(const SiteProcess&) = delete;
    SiteProcess& operator=(const SiteProcess&) = delete;

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    // "http://host:port/" ("http://[::1]:port/")
    std::string Root() const;
    pid_t Pid() const { return pid_; }

    // The request-log lines so far as "METHOD TARGET STATUS BYTES" ("GET
    // /video/player/?flv=list 200 3"), oldest first: time, client, duration and User-Agent
    // left out.
    std::vector<std::string> RequestLog() const;
    // The whole lines, as the site wrote them.
    std::vector<std::string> FullRequestLog() const;
    // The path-and-query part of every logged request, oldest first.
    std::vector<std::string> RequestedTargets() const;
    // True once a request for pathAndQuery (any method) is in the log.
    bool WaitForRequest(const std::string& pathAndQuery, int timeoutMs) const;
    // Everything the site wrote to stderr so far.
    std::string ErrorOutput() const;

    // SIGTERM and wait (at most 5 s, then SIGKILL). Returns the exit code, or 128 + signal
    // when it was killed. Later calls return the same value.
    int Stop();

  private:
    void ReadOutput(int outFd, int errFd);

    std::string host_;
    int port_ = 0;
    pid_t pid_ = -1;
    int exitCode_ = -1;
    int unreadOut_ = -1; // stdout when nobody reads it
    std::thread reader_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_; // stdout, one entry per line
    std::string errors_;
    bool outputClosed_ = false;
};

// How a run of the site that ends by itself went (bad options, --help, port in use).
struct SiteRun {
    int exitCode = -1; // 128 + signal when it had to be killed
    std::string out;
    std::string err;
    bool timedOut = false;
};

// Runs the site binary (see SiteProcess) with the arguments as given and waits for it to exit
// (killing it after timeoutMs).
SiteRun RunSite(const std::vector<std::string>& args, int timeoutMs = 5000);

} // namespace velmora::test
