// velmora-site as a process: options, start-up failures, the request log, signals, and
// staying responsive with many idle keep-alive connections open.
#include "SiteHttp.h"
#include "SiteProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <memory>

namespace velmora::test {
namespace {

TEST(SiteOptions, BadOptionsExitWith2AndOneLineOnStderr) {
    struct Case {
        std::vector<std::string> args;
        std::string message; // the whole stderr line after "velmora-site: "
    } cases[] = {
        {{"--port", "x"}, "--port needs a number from 0 to 65535, got 'x'"},
        {{"--port", "70000"}, "--port needs a number from 0 to 65535, got '70000'"},
        {{"--port", "-1"}, "--port needs a number from 0 to 65535, got '-1'"},
        {{"--port"}, "option --port needs a value"},
        {{"--listen", "localhost"},
         "--listen needs an IP address such as 127.0.0.1 or ::1, got 'localhost'"},
        {{"--listen", "::1::2"},
         "--listen needs an IP address such as 127.0.0.1 or ::1, got '::1::2'"},
        {{"--notice", "one\ntwo"}, "--notice must be one line: the player keeps only the first"},
        {{"--latest-version", "2.0\r"},
         "--latest-version must be one line: the player keeps only the first"},
        {{"--header-timeout", "0"}, "--header-timeout needs a number from 1 to 1000000, got '0'"},
        {{"--user", "no-such-user-velmora", "--port", "0"},
         "cannot switch to user no-such-user-velmora: no such user"},
        {{"--episodes", "ten"}, "--episodes needs a number from 0 to 1000000, got 'ten'"},
        {{"--episodes", "-3"}, "--episodes needs a number from 0 to 1000000, got '-3'"},
        {{"--episodes=2000000"}, "--episodes needs a number from 0 to 1000000, got '2000000'"},
        {{"--charset", "latin1"}, "--charset must be utf-8 or gbk, got 'latin1'"},
        {{"--media", "/nonexistent/velmora"},
         "--media needs an existing folder, got '/nonexistent/velmora'"},
        {{"--downloads", "/proc/self/status"},
         "--downloads needs an existing folder, got '/proc/self/status'"},
        {{"--charset", "gbk", "--notice", "\xF0\x9F\x98\x80"},
         "--notice text cannot be encoded in gbk"},
        {{"--notice", "\xFF\xFE"}, "--notice must be UTF-8 text"},
        {{"--bogus"}, "unknown option '--bogus' (try --help)"},
        {{"stray"}, "unexpected argument 'stray' (try --help)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        SiteRun run = RunSite(c.args);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, c.message.rfind("cannot", 0) == 0 ? 1 : 2);
        EXPECT_EQ(run.err, "velmora-site: " + c.message + "\n");
        EXPECT_EQ(run.out, "");
    }
}

TEST(SiteOptions, HelpListsEveryOptionAndExits0) {
    SiteRun run = RunSite({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    for (const char* option :
         {"--listen", "--port", "--media", "--downloads", "--episodes", "--notice", "--notice-file",
          "--latest-version", "--latest-version-file", "--charset", "--threads", "--log-file",
          "--trust-proxy", "--max-per-address", "--header-timeout", "--stop-timeout", "--user",
          "--version", "--help"}) {
        EXPECT_NE(run.out.find(std::string(option) + " "), std::string::npos) << option;
    }
}

// --version is the site's own version, as with any program; the player's latest version
// moved to --latest-version, and the old spelling still serves it, with a warning.
TEST(SiteOptions, VersionPrintsTheSitesOwnAndTheOldSpellingStillWorks) {
    SiteRun run = RunSite({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "velmora-site 1.0\n");
    SiteProcess old({"--version", "3.5"});
    EXPECT_EQ(Fetch(old.Root() + "video/player/?flv=update").body, "3.5");
    EXPECT_EQ(old.Stop(), 0);
    EXPECT_NE(old.ErrorOutput().find("--version TEXT is the old spelling of --latest-version"),
              std::string::npos)
        << old.ErrorOutput();
}

TEST(SiteStartup, APortInUseIsReportedAndFails) {
    SiteProcess first({});
    SiteRun run = RunSite({"--port", std::to_string(first.Port())});
    EXPECT_FALSE(run.timedOut);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.err, "velmora-site: cannot listen on 127.0.0.1:" + std::to_string(first.Port()) +
                           ": Address already in use\n");
    // The first site is untouched.
    EXPECT_EQ(Fetch(first.Root() + "video/player/?flv=list").body, "24");
}

TEST(SiteStartup, SiteProcessReportsASiteThatCannotStart) {
    try {
        SiteProcess site({"--charset", "ebcdic"});
        FAIL() << "started anyway";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("--charset must be utf-8 or gbk"),
                  std::string::npos)
            << error.what();
    }
}

TEST(SiteStartup, ListensOnTheGivenLoopbackAddressAndPort) {
    SiteProcess site({"--episodes", "3"}, "127.0.0.2");
    EXPECT_EQ(site.Root(), "http://127.0.0.2:" + std::to_string(site.Port()) + "/");
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=list").body, "3");
    EXPECT_FALSE(Fetch("http://127.0.0.1:" + std::to_string(site.Port()) + "/").ok);
}

// Integration tests start one site after another on the same fixed address and port.
TEST(SiteStartup, RestartsOnTheSamePortRightAfterServingConnections) {
    SiteProcess first({"--episodes", "5"});
    const int port = first.Port();
    RawConnection open(first.Host(), port);
    ASSERT_TRUE(open.Send("GET /video/player/?flv=list HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_NE(open.ReadResponse().find("\r\n\r\n5"), std::string::npos);
    EXPECT_EQ(Fetch(first.Root() + "video/player/?flv=list").body, "5");
    EXPECT_EQ(first.Stop(), 0);

    SiteProcess second({"--episodes", "6"}, "127.0.0.1", port);
    EXPECT_EQ(second.Port(), port);
    EXPECT_EQ(Fetch(second.Root() + "video/player/?flv=list").body, "6");
}

// The Windows player plays only MP4; whoever runs the site learns at start, in one line
// however many there are, which episodes it cannot play there.
TEST(SiteStartup, NamesTheEpisodesWithoutMp4OnStderr) {
    std::vector<std::string> alternating; // odd episodes WebM only, even ones MP4
    for (int n = 1; n <= 30; ++n) {
        alternating.push_back(std::to_string(n) + (n % 2 ? ".webm" : ".mp4"));
    }
    struct Case {
        std::vector<std::string> files;
        std::vector<std::string> options;
        std::string logged;   // all of stderr
        std::string webmOnly; // an episode whose page must still offer its WebM file
    } cases[] = {
        {{"003.webm"},
         {},
         "velmora-site: episode 3 has no MP4 file: it will not play in the Windows player\n",
         "003.webm"},
        {{"001.mp4", "002.webm", "3.webm", "004.webm", "006.webm", "007.mp4", "007.webm"},
         {},
         "velmora-site: episodes 2-4, 6 have no MP4 file: they will not play in the Windows "
         "player\n",
         ""},
        {alternating,
         {},
         "velmora-site: episodes 1, 3, 5, 7, 9, 11, 13, 15 and 7 more have no MP4 file: they "
         "will not play in the Windows player\n",
         ""},
        {{"003.webm", "009.webm"},
         {"--episodes", "5"},
         "velmora-site: episode 3 has no MP4 file: it will not play in the Windows player\n",
         ""},
        {{"001.mp4", "002.mp4", "002.webm"}, {}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        TempDir media(false);
        for (const std::string& name : c.files) {
            WriteFileBytes(media.File(name), "x");
        }
        std::vector<std::string> options = {"--media", media.path()};
        options.insert(options.end(), c.options.begin(), c.options.end());
        SiteProcess site(options);
        if (!c.webmOnly.empty()) {
            HttpReply page =
                Fetch(site.Root() + "video/player/?flv=" + std::to_string(std::stol(c.webmOnly)));
            EXPECT_NE(page.body.find("<source src=\"../../media/" + c.webmOnly +
                                     "\" type=\"video/webm\">"),
                      std::string::npos)
                << page.body;
        }
        EXPECT_EQ(site.Stop(), 0);
        EXPECT_EQ(site.ErrorOutput(), c.logged);
    }
}

TEST(SiteSignals, StopsCleanlyOnSigintAndSigterm) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        SiteProcess site({});
        ASSERT_EQ(kill(site.Pid(), signal), 0);
        EXPECT_EQ(site.Stop(), 0);
        EXPECT_EQ(site.ErrorOutput(), "");
        EXPECT_FALSE(Fetch(site.Root()).ok);
    }
}

TEST(SiteLog, OneLinePerRequestWithMethodTargetStatusAndBytes) {
    SiteProcess site({"--episodes", "220"});
    HttpRequest head;
    head.method = "HEAD";
    HttpRequest post;
    post.method = "POST";
    post.body = "x=1";
    Fetch(site.Root() + "video/player/?flv=list");
    Fetch(site.Root() + "video/player/?flv=list", head);
    HttpReply missing = Fetch(site.Root() + "no%20such?a=b");
    HttpReply refused = Fetch(site.Root(), post);
    HttpReply episode = Fetch(site.Root() + "video/player/?flv=7");

    ASSERT_TRUE(site.WaitForRequest("/video/player/?flv=7", 2000));
    EXPECT_EQ(site.RequestLog(),
              (std::vector<std::string>{
                  "GET /video/player/?flv=list 200 3",
                  "HEAD /video/player/?flv=list 200 0",
                  "GET /no%20such?a=b 404 " + std::to_string(missing.body.size()),
                  "POST / 405 " + std::to_string(refused.body.size()),
                  "GET /video/player/?flv=7 200 " + std::to_string(episode.body.size()),
              }));
    EXPECT_EQ(site.RequestedTargets().front(), "/video/player/?flv=list");
    EXPECT_FALSE(site.WaitForRequest("/video/player/?flv=next", 100));
}

// Whatever bytes a client puts in the method, the log gets one line of printable ASCII
// for the request, so nobody can forge log lines or drive a terminal reading it.
TEST(SiteLog, MethodBytesAreEscapedSoEachRequestIsOneLine) {
    SiteProcess site({"--episodes", "3"});
    struct Case {
        std::string method;
        std::string logged;
    } cases[] = {
        {"GE\rT", "GE%0DT"},
        {"G\x1b[2JT", "G%1B[2JT"},
        {"G\xff\xfeT", "G%FF%FET"},
        {"G\x7fT", "G%7FT"},
        {"G\tT", "G%09T"},
        {"G%0DT", "G%250DT"}, // not mistaken for an escaped CR
        {"GET", "GET"},
    };
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        RawConnection connection(site.Host(), site.Port());
        ASSERT_TRUE(connection.Connected());
        ASSERT_TRUE(
            connection.Send(c.method + " /video/player/?flv=list HTTP/1.1\r\nHost: x\r\n\r\n"));
        std::string response = connection.ReadResponse();
        ASSERT_EQ(response.rfind("HTTP/1.1 ", 0), 0u) << response;
        size_t bodyAt = response.find("\r\n\r\n") + 4;
        expected.push_back(c.logged + " /video/player/?flv=list " + response.substr(9, 3) + " " +
                           std::to_string(response.size() - bodyAt));
    }
    // A last plain request marks the end: every line before it belongs to the cases.
    HttpReply done = Fetch(site.Root() + "done");
    expected.push_back("GET /done 404 " + std::to_string(done.body.size()));
    ASSERT_TRUE(site.WaitForRequest("/done", 2000));
    EXPECT_EQ(site.RequestLog(), expected);
}

TEST(SiteConnections, KeepAliveConnectionsServeRequestAfterRequest) {
    SiteProcess site({"--episodes", "220"});
    RawConnection connection(site.Host(), site.Port());
    ASSERT_TRUE(connection.Connected());
    for (const char* flv : {"list", "update", "list"}) {
        SCOPED_TRACE(flv);
        ASSERT_TRUE(connection.Send(std::string("GET /video/player/?flv=") + flv +
                                    " HTTP/1.1\r\nHost: x\r\n\r\n"));
        std::string response = connection.ReadResponse();
        EXPECT_EQ(response.rfind("HTTP/1.1 200", 0), 0u) << response;
        EXPECT_EQ(response.find("Connection: close"), std::string::npos);
    }
}

// Every installed player holds a connection; hundreds of idle ones must not starve the rest.
TEST(SiteConnections, AnswersWhileHundredsOfIdleConnectionsAreOpen) {
    // All from one address here, as from a NAT: no per-address limit.
    SiteProcess site({"--episodes", "220", "--max-per-address", "0"});
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 600; ++i) {
        idle.push_back(std::make_unique<RawConnection>(site.Host(), site.Port()));
        ASSERT_TRUE(idle.back()->Connected()) << i;
    }
    // Half of them have been used once and are now idle keep-alive connections.
    for (size_t i = 0; i < idle.size(); i += 2) {
        ASSERT_TRUE(idle[i]->Send("GET /video/player/?flv=list HTTP/1.1\r\nHost: x\r\n\r\n"));
        ASSERT_NE(idle[i]->ReadResponse().find("\r\n\r\n220"), std::string::npos) << i;
    }
    for (int i = 0; i < 20; ++i) {
        HttpReply reply = Fetch(site.Root() + "video/player/?flv=list");
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.body, "220");
    }
    // The oldest idle connections still work.
    for (size_t i : {size_t{0}, size_t{1}, idle.size() - 1}) {
        ASSERT_TRUE(idle[i]->Send("GET /video/player/?flv=update HTTP/1.1\r\nHost: x\r\n\r\n"));
        EXPECT_NE(idle[i]->ReadResponse().find("\r\n\r\n1.0"), std::string::npos) << i;
    }
}

} // namespace
} // namespace velmora::test
