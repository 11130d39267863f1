#include "SiteProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <stdexcept>

#ifndef VELMORA_SITE_BINARY
#error "VELMORA_SITE_BINARY must name the velmora-site executable"
#endif

namespace velmora::test {

namespace {

using Clock = std::chrono::steady_clock;

const char kServingPrefix[] = "velmora-site: serving http://";

struct Child {
    pid_t pid = -1;
    int outFd = -1;
    int errFd = -1;
};

Child Spawn(const std::vector<std::string>& args) {
    const char* other = getenv("VELMORA_TEST_SITE_BINARY");
    std::vector<std::string> all{other && *other ? other : VELMORA_SITE_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    // Close-on-exec from the start, so a site started by another thread never inherits
    // these pipe ends (it would keep them open and our reader would wait forever).
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("SiteProcess: pipe failed");
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        throw std::runtime_error("SiteProcess: pipe failed");
    }
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        prctl(PR_SET_PDEATHSIG, SIGKILL); // a crashed test leaves no site behind
        if (getppid() != parent) {
            _exit(127);
        }
        int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) {
            dup2(devNull, 0);
        }
        dup2(out[1], 1);
        dup2(err[1], 2);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        throw std::runtime_error("SiteProcess: fork failed");
    }
    return {pid, out[0], err[0]};
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

// Waits for the child to end; kills it when it has not ended after timeoutMs.
int Reap(pid_t pid, int timeoutMs, bool* killed = nullptr) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return ExitCodeOf(status);
        }
        if (r < 0 && errno != EINTR) {
            return -1;
        }
        if (Clock::now() >= deadline) {
            break;
        }
        usleep(5000);
    }
    if (killed) {
        *killed = true;
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return ExitCodeOf(status);
}

bool IsServingLine(const std::string& line) {
    return line.rfind(kServingPrefix, 0) == 0;
}

// The site's own notes in the log ("velmora-site: 3 request log lines dropped ...").
bool IsRequestLine(const std::string& line) {
    return line.rfind("velmora-site: ", 0) != 0;
}

// Reads both pipes until both reach end of file or the deadline passes; calls onOut for
// stdout bytes and onErr for stderr bytes. Returns false on time-out.
template <typename Out, typename Err>
bool Drain(int outFd, int errFd, Clock::time_point deadline, Out&& onOut, Err&& onErr) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int open = (outFd >= 0) + (errFd >= 0);
    while (open > 0) {
        int waitMs = -1;
        if (deadline != Clock::time_point::max()) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return false;
            }
            waitMs = static_cast<int>(left.count());
        }
        int ready = poll(fds, 2, waitMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                std::string bytes(buffer, static_cast<size_t>(n));
                if (i == 0) {
                    onOut(bytes);
                } else {
                    onErr(bytes);
                }
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

} // namespace

SiteProcess::SiteProcess(const std::vector<std::string>& options, const std::string& host, int port,
                         bool readLog)
    : host_(host) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"--listen", host, "--port", std::to_string(port)});
    Child child = Spawn(args);
    pid_ = child.pid;
    if (!readLog) {
        // Up to the serving line only, byte by byte so that nothing after it is taken out.
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        std::string line;
        for (;;) {
            pollfd p{child.outFd, POLLIN, 0};
            char c = 0;
            if (Clock::now() >= deadline || poll(&p, 1, 100) < 0 ||
                (p.revents && read(child.outFd, &c, 1) != 1)) {
                break;
            }
            if (c == '\n' && IsServingLine(line)) {
                lines_.push_back(line);
                break;
            }
            if (c == '\n') {
                line.clear();
            } else if (c) {
                line += c;
            }
        }
        unreadOut_ = child.outFd;
        child.outFd = -1;
    }
    reader_ = std::thread(&SiteProcess::ReadOutput, this, child.outFd, child.errFd);

    std::string serving;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] {
            for (const std::string& line : lines_) {
                if (IsServingLine(line)) {
                    serving = line;
                    return true;
                }
            }
            return outputClosed_;
        });
    }
    if (serving.empty()) {
        int code = Stop();
        throw std::runtime_error("velmora-site did not start serving on " + host + ":" +
                                 std::to_string(port) + " within 5 s (exit code " +
                                 std::to_string(code) + "): " + ErrorOutput());
    }
    // "velmora-site: serving http://ADDR:PORT/"
    size_t colon = serving.rfind(':');
    port_ = std::stoi(serving.substr(colon + 1));
}

SiteProcess::~SiteProcess() {
    Stop();
}

std::string SiteProcess::Root() const {
    std::string host = host_.find(':') == std::string::npos ? host_ : "[" + host_ + "]";
    return "http://" + host + ":" + std::to_string(port_) + "/";
}

void SiteProcess::ReadOutput(int outFd, int errFd) {
    std::string partial;
    Drain(
        outFd, errFd, Clock::time_point::max(),
        [&](const std::string& bytes) {
            partial += bytes;
            std::lock_guard<std::mutex> lock(mutex_);
            size_t end;
            while ((end = partial.find('\n')) != std::string::npos) {
                lines_.push_back(partial.substr(0, end));
                partial.erase(0, end + 1);
            }
            changed_.notify_all();
        },
        [&](const std::string& bytes) {
            std::lock_guard<std::mutex> lock(mutex_);
            errors_ += bytes;
        });
    if (outFd >= 0) {
        close(outFd);
    }
    close(errFd);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!partial.empty()) {
        lines_.push_back(partial);
    }
    outputClosed_ = true;
    changed_.notify_all();
}

std::vector<std::string> SiteProcess::FullRequestLog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> log;
    for (const std::string& line : lines_) {
        if (IsRequestLine(line)) {
            log.push_back(line);
        }
    }
    return log;
}

namespace {

// Fields [first, first + count) of a line of blank-separated fields.
std::string Fields(const std::string& line, size_t first, size_t count) {
    size_t begin = 0;
    for (size_t i = 0; i < first && begin != std::string::npos; ++i) {
        begin = line.find(' ', begin);
        begin = begin == std::string::npos ? begin : begin + 1;
    }
    if (begin == std::string::npos) {
        return {};
    }
    size_t end = begin;
    for (size_t i = 0; i < count && end != std::string::npos; ++i) {
        end = line.find(' ', end + (i ? 1 : 0));
    }
    return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// "TIME CLIENT METHOD TARGET STATUS BYTES SECONDS "UA"": the four fields in the middle.
std::string CoreOf(const std::string& line) {
    return Fields(line, 2, 4);
}

std::string TargetOf(const std::string& line) {
    return Fields(line, 3, 1);
}

} // namespace

std::vector<std::string> SiteProcess::RequestLog() const {
    std::vector<std::string> log;
    for (const std::string& line : FullRequestLog()) {
        log.push_back(CoreOf(line));
    }
    return log;
}

std::vector<std::string> SiteProcess::RequestedTargets() const {
    std::vector<std::string> targets;
    for (const std::string& line : FullRequestLog()) {
        targets.push_back(TargetOf(line));
    }
    return targets;
}

bool SiteProcess::WaitForRequest(const std::string& pathAndQuery, int timeoutMs) const {
    auto logged = [&] {
        for (const std::string& line : lines_) {
            if (IsRequestLine(line) && TargetOf(line) == pathAndQuery) {
                return true;
            }
        }
        return false;
    };
    std::unique_lock<std::mutex> lock(mutex_);
    // A site that has gone will log nothing more: stop waiting then.
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return logged() || outputClosed_; });
    return logged();
}

std::string SiteProcess::ErrorOutput() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
}

int SiteProcess::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        exitCode_ = Reap(pid_, 5000);
        pid_ = -1;
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    if (unreadOut_ >= 0) {
        close(unreadOut_);
        unreadOut_ = -1;
    }
    return exitCode_;
}

SiteRun RunSite(const std::vector<std::string>& args, int timeoutMs) {
    SiteRun run;
    Child child = Spawn(args);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool drained = Drain(
        child.outFd, child.errFd, deadline, [&](const std::string& bytes) { run.out += bytes; },
        [&](const std::string& bytes) { run.err += bytes; });
    run.timedOut = !drained;
    int left = static_cast<int>(std::max<long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
    bool killed = false;
    run.exitCode = Reap(child.pid, left, &killed);
    run.timedOut = run.timedOut || killed;
    close(child.outFd);
    close(child.errFd);
    return run;
}

} // namespace velmora::test
