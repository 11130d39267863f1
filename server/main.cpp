// velmora-site: the content site the player talks to.
#include "HttpServer.h"
#include "Options.h"
#include "Site.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

using namespace velmora::site;

int main(int argc, char** argv) {
    ParseResult parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.action == ParseResult::Help) {
        fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (parsed.action == ParseResult::Error) {
        fprintf(stderr, "velmora-site: %s\n", parsed.message.c_str());
        return 2;
    }
    const Options& options = parsed.options;

    // The server threads inherit this mask, so the signals only ever reach sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::string error;
    int listenFd = OpenListenSocket(options.listen, options.port, &error);
    if (listenFd < 0) {
        fprintf(stderr, "velmora-site: %s\n", error.c_str());
        return 1;
    }
    uint16_t port = BoundPort(listenFd);

    Site site(options);
    HttpServer server(site);
    if (!server.Start(listenFd, options.threads, &error)) {
        fprintf(stderr, "velmora-site: %s\n", error.c_str());
        return 1;
    }
    // stderr: stdout is the request log.
    std::string withoutMp4 = site.EpisodesWithoutMp4();
    if (!withoutMp4.empty()) {
        fprintf(stderr, "velmora-site: %s\n", withoutMp4.c_str());
    }
    printf("velmora-site: serving http://%s:%u/\n", options.listen.c_str(), port);
    fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    return 0;
}
