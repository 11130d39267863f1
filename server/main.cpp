// velmora-site: the content site the player talks to.
#include "HttpServer.h"
#include "Listen.h"
#include "Options.h"
#include "Site.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace velmora::site;

namespace {

// The exit code when the command line asks for no server (--help, --version, a mistake).
std::optional<int> ExitCodeWithoutServing(const ParseResult& parsed) {
    switch (parsed.action) {
    case ParseResult::Help:
        fputs(HelpText().c_str(), stdout);
        return 0;
    case ParseResult::Version:
        printf("velmora-site %s\n", kSiteVersion);
        return 0;
    case ParseResult::Error:
        fprintf(stderr, "velmora-site: %s\n", parsed.message.c_str());
        return 2;
    case ParseResult::Run:
        break;
    }
    for (const std::string& warning : parsed.warnings) {
        fprintf(stderr, "velmora-site: %s\n", warning.c_str());
    }
    return std::nullopt;
}

// The server threads inherit this mask, so the signals only ever reach sigwait.
sigset_t BlockSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return signals;
}

// Until SIGINT or SIGTERM. SIGHUP reads the notice and version files again (a bad file keeps
// what is served), the media folder anew (a failed read keeps the catalogue), and reopens the
// log file after a rotation.
void ServeUntilStopped(const sigset_t& signals, const Options& options,
                       std::shared_ptr<const Site> site, HttpServer& server, RequestLog& log) {
    for (;;) {
        int received = 0;
        sigwait(&signals, &received);
        if (received != SIGHUP) {
            return;
        }
        Options reloaded = options;
        std::string error;
        if (ReadTextFiles(reloaded, &error)) {
            site = std::make_shared<const Site>(reloaded, *site);
            server.ReplaceSite(site);
        } else {
            fprintf(stderr, "velmora-site: %s; still serving the previous text\n", error.c_str());
        }
        log.Reopen();
    }
}

} // namespace

int main(int argc, char** argv) {
    const ParseResult parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (const std::optional<int> exitCode = ExitCodeWithoutServing(parsed)) {
        return *exitCode;
    }
    const Options& options = parsed.options;
    const sigset_t signals = BlockSignals();

    // The port and the log are opened before dropping root: a log under /var/log stays
    // writable.
    std::string error;
    const int listenFd = OpenListenSocket(options.listen, options.port, &error);
    RequestLog log(options.logFile);
    auto site = std::make_shared<const Site>(options);
    HttpServer server(site, log);
    if (listenFd < 0 || !log.Open(&error) ||
        (!options.user.empty() && !DropPrivileges(options.user, &error)) ||
        !server.Start(listenFd, options, &error)) {
        fprintf(stderr, "velmora-site: %s\n", error.c_str());
        return 1;
    }
    // stderr: stdout may be the request log.
    const std::string withoutMp4 = site->EpisodesWithoutMp4();
    if (!withoutMp4.empty()) {
        fprintf(stderr, "velmora-site: %s\n", withoutMp4.c_str());
    }
    printf("velmora-site: serving http://%s:%u/\n", UrlHost(options.listen).c_str(), server.Port());
    fflush(stdout);
    ServeUntilStopped(signals, options, std::move(site), server, log);
    server.Shutdown(std::chrono::seconds(options.stopSeconds));
    return 0;
}
