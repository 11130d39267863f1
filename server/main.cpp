// velmora-site: the content site the player talks to.
#include "HttpServer.h"
#include "Listen.h"
#include "Options.h"
#include "Site.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace velmora::site;

int main(int argc, char** argv) {
    ParseResult parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.action == ParseResult::Help) {
        fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (parsed.action == ParseResult::Version) {
        printf("velmora-site %s\n", kSiteVersion);
        return 0;
    }
    if (parsed.action == ParseResult::Error) {
        fprintf(stderr, "velmora-site: %s\n", parsed.message.c_str());
        return 2;
    }
    for (const std::string& warning : parsed.warnings) {
        fprintf(stderr, "velmora-site: %s\n", warning.c_str());
    }
    const Options& options = parsed.options;

    // The server threads inherit this mask, so the signals only ever reach sigwait below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

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
    std::string withoutMp4 = site->EpisodesWithoutMp4();
    if (!withoutMp4.empty()) {
        fprintf(stderr, "velmora-site: %s\n", withoutMp4.c_str());
    }
    printf("velmora-site: serving http://%s:%u/\n", UrlHost(options.listen).c_str(), server.Port());
    fflush(stdout);

    for (;;) {
        int received = 0;
        sigwait(&signals, &received);
        if (received != SIGHUP) {
            break;
        }
        // The notice and version files again (a bad file keeps what is served), the media
        // folder read anew (a failed read keeps the catalogue), and the log file anew after a
        // rotation.
        Options reloaded = options;
        if (ReadTextFiles(reloaded, &error)) {
            site = std::make_shared<const Site>(reloaded, *site);
            server.ReplaceSite(site);
        } else {
            fprintf(stderr, "velmora-site: %s; still serving the previous text\n", error.c_str());
        }
        log.Reopen();
    }
    server.Shutdown(std::chrono::seconds(options.stopSeconds));
    return 0;
}
