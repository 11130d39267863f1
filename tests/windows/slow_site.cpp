// A site whose every wait stays under a fetch's receive time-out, for the Windows build's
// fetch deadline: "slow_site HOST PORT" serves until SIGTERM.
//   /quick        "220" at once
//   /trickle      a head sent a line a second (8 lines), then "220"
//   /hop0         redirects through /hop1../hop4, each answered after 1.2 s, to "220"
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "LoopbackHttpServer.h"

using velmora::test::LoopbackHttpServer;
using velmora::test::ScriptedReply;

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: slow_site HOST PORT\n");
        return 2;
    }
    // Blocked before the server's threads start, so only sigwait below takes them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    LoopbackHttpServer server(argv[1], atoi(argv[2]));
    server.Route("/quick", ScriptedReply::Body("220"));
    ScriptedReply trickle = ScriptedReply::Body("220");
    for (int i = 0; i < 8; ++i)
        trickle.headers.emplace_back("X-Wait", std::to_string(i));
    trickle.headLineDelayMs = 1000;
    server.Route("/trickle", trickle);
    for (int i = 0; i < 5; ++i) {
        ScriptedReply hop = ScriptedReply::Redirect(302, "/hop" + std::to_string(i + 1));
        hop.answerDelayMs = 1200;
        server.Route("/hop" + std::to_string(i), hop);
    }
    server.Route("/hop5", ScriptedReply::Body("220"));
    printf("serving %s\n", server.Url("/").c_str());
    fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
