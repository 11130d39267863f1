// velmora-site as a process: options, start-up failures, the request log, signals, and
// staying responsive with many idle keep-alive connections open.
#include "HostileRequests.h"
#include "Options.h"
#include "SiteHttp.h"
#include "SiteProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <regex>
#include <thread>

namespace velmora::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char kListRequest[] = "GET /video/player/?flv=list HTTP/1.1\r\nHost: x\r\n\r\n";

// Episode 1 as a media file of `size` bytes that takes no disk space.
void WriteSparseEpisode(const TempDir& media, off_t size) {
    WriteFileBytes(media.File("001.mp4"), "");
    ASSERT_EQ(truncate(media.File("001.mp4").c_str(), size), 0);
}

bool Ipv6LoopbackWorks() {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    bool works = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return works;
}

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
        {{"--trust-proxy", "nginx"},
         "--trust-proxy needs IP addresses separated by commas, got 'nginx'"},
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
    for (const site::OptionEntry& option : site::OptionTable()) {
        EXPECT_NE(run.out.find(std::string(option.name) + " "), std::string::npos) << option.name;
    }
}

// Root starts the site (--user) and opens these before it drops root, in folders the site's
// user may write to: whatever is planted in their place is refused, never followed, waited
// on or written through.
TEST(SiteOptions, FilesInWhosePlaceALinkOrFifoIsPlantedAreRefused) {
    TempDir dir(false);
    const std::string secret = dir.File("secret");
    WriteFileBytes(secret, "one line of root's\n");
    ASSERT_EQ(symlink(secret.c_str(), dir.File("link").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0666), 0);
    struct Case {
        std::string option;
        std::string planted;
        int exitCode;
        std::string message;
    } cases[] = {
        {"--notice-file", "link", 2,
         "--notice-file cannot be read: %s: a symbolic link is not followed"},
        {"--latest-version-file", "fifo", 2,
         "--latest-version-file cannot be read: %s: not a regular file"},
        {"--log-file", "link", 1, "cannot open the log file %s: a symbolic link is not followed"},
        {"--log-file", "fifo", 1, "cannot open the log file %s: not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option + " " + c.planted);
        const std::string path = dir.File(c.planted);
        SiteRun run = RunSite({c.option, path, "--port", "0"});
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, c.exitCode);
        std::string message = c.message;
        message.replace(message.find("%s"), 2, path);
        EXPECT_EQ(run.err, "velmora-site: " + message + "\n");
    }
    EXPECT_EQ(ReadFileBytes(secret), "one line of root's\n");
}

// --version is the site's own version, as with any program; the player's latest version
// moved to --latest-version, and the old spelling still serves it, with a warning.
TEST(SiteOptions, VersionPrintsTheSitesOwnAndTheOldSpellingStillWorks) {
    SiteRun run = RunSite({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "velmora-site " VELMORA_VERSION "\n");
    SiteProcess old({"--version", "3.5"});
    EXPECT_EQ(Fetch(old.Root() + "video/player/?flv=update").body, "3.5");
    EXPECT_EQ(old.Stop(), 0);
    EXPECT_NE(old.ErrorOutput().find("--version TEXT is the old spelling of --latest-version"),
              std::string::npos)
        << old.ErrorOutput();
}

TEST(SiteStartup, ListensOnIpv6Loopback) {
    if (!Ipv6LoopbackWorks()) {
        GTEST_SKIP() << "this machine has no ::1";
    }
    SiteProcess site({"--episodes", "3"}, "::1");
    EXPECT_EQ(site.Root(), "http://[::1]:" + std::to_string(site.Port()) + "/");
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=list").body, "3");
    ASSERT_TRUE(site.WaitForRequest("/video/player/?flv=list", 2000));
    EXPECT_NE(site.FullRequestLog().at(0).find(" ::1 GET "), std::string::npos);
}

// The README runs the site as root for port 80; it must not go on serving as root.
TEST(SiteStartup, SwitchesToTheUserGivenAfterBinding) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can switch users";
    }
    SiteProcess site({"--user", "nobody"});
    std::string status = ReadFileBytes("/proc/" + std::to_string(site.Pid()) + "/status");
    EXPECT_NE(status.find("\nUid:\t65534\t65534\t65534\t65534\n"), std::string::npos) << status;
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=list").body, "24");
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

// SIGHUP after editing the notice and version files, or after moving the log away for
// rotation: the next answers carry the new texts and the next lines go to a new log file.
// A media folder that cannot be read just then keeps the episodes found before.
TEST(SiteSignals, SighupRereadsTheTextFilesAndReopensTheLogButKeepsTheCatalogue) {
    TempDir dir(false);
    const std::string notice = dir.File("notice.txt");
    const std::string version = dir.File("version.txt");
    const std::string log = dir.File("site.log");
    const std::string media = dir.File("media");
    WriteFileBytes(notice, "old notice\n");
    WriteFileBytes(version, "2.0\n");
    ASSERT_EQ(mkdir(media.c_str(), 0755), 0);
    WriteFileBytes(media + "/002.mp4", "x");
    SiteProcess site({"--notice-file", notice, "--latest-version-file", version, "--log-file", log,
                      "--media", media});
    const std::string next = site.Root() + "video/player/?flv=next";
    EXPECT_EQ(Fetch(next).body, "old notice");
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=list").body, "2");
    // A line is written once its answer has ended, which the client may see first: rotate only
    // when both are in the old file.
    auto logged = [&](const std::string& file, const std::string& text) {
        for (int i = 0; i < 100 && ReadFileBytes(file).find(text) == std::string::npos; ++i)
            std::this_thread::sleep_for(20ms);
        return ReadFileBytes(file).find(text) != std::string::npos;
    };
    ASSERT_TRUE(logged(log, " /video/player/?flv=next 200 ") &&
                logged(log, " /video/player/?flv=list 200 "));
    ASSERT_EQ(rename(media.c_str(), (media + ".away").c_str()), 0);

    WriteFileBytes(notice, "new notice\n");
    WriteFileBytes(version, "2.1\n");
    ASSERT_EQ(rename(log.c_str(), (log + ".1").c_str()), 0);
    ASSERT_EQ(kill(site.Pid(), SIGHUP), 0);
    // The signal is handled beside the requests: ask until the new text comes.
    bool reread = false;
    for (int i = 0; i < 100 && !reread; ++i) {
        reread = Fetch(next).body == "new notice" && access(log.c_str(), F_OK) == 0;
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(reread);
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=update").body, "2.1");
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=list").body, "2");
    Fetch(site.Root() + "after-rotation");
    EXPECT_EQ(site.Stop(), 0);
    EXPECT_NE(ReadFileBytes(log + ".1").find(" /video/player/?flv=next 200 "), std::string::npos);
    EXPECT_EQ(ReadFileBytes(log + ".1").find("/after-rotation"), std::string::npos);
    EXPECT_NE(ReadFileBytes(log).find(" GET /after-rotation 404 "), std::string::npos);
}

// A deploy stops the site with SIGTERM: a viewer's download in flight still ends whole,
// while new connections are refused at once (the next copy takes them).
TEST(SiteSignals, SigtermLetsATransferInFlightFinish) {
    TempDir media(false);
    const off_t size = 16 << 20;
    WriteSparseEpisode(media, size);
    SiteProcess site({"--media", media.path()}); // 10 s to finish
    RawConnection reader(site.Host(), site.Port(), "", 16384);
    ASSERT_TRUE(reader.Send("GET /media/001.mp4 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    std::string head = reader.ReadSome();
    ASSERT_EQ(head.rfind("HTTP/1.1 200", 0), 0u) << head;
    ASSERT_NE(head.find("\r\n\r\n"), std::string::npos);
    const size_t headerLength = head.find("\r\n\r\n") + 4;
    ASSERT_EQ(kill(site.Pid(), SIGTERM), 0);

    bool refused = false;
    for (int i = 0; i < 100 && !refused; ++i) {
        refused = !RawConnection(site.Host(), site.Port()).Connected();
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(refused);
    size_t received = head.size() - headerLength;
    for (std::string part; !(part = reader.ReadSome()).empty();) {
        received += part.size();
        std::this_thread::sleep_for(100us); // a slow reader
    }
    EXPECT_EQ(received, static_cast<size_t>(size));
    const auto stopping = Clock::now();
    EXPECT_EQ(site.Stop(), 0);
    EXPECT_LT(Clock::now() - stopping, 3s);
}

TEST(SiteLog, OneLinePerRequestWithMethodTargetStatusAndBytes) {
    SiteProcess site({"--episodes", "220"});
    HttpRequest head;
    head.method = "HEAD";
    HttpRequest post;
    post.method = "POST";
    post.body = "x=1";
    // A line is written when its answer has ended, which the client may see first (and a
    // refused POST ends only with its connection): each waits for its line.
    const auto fetch = [&](const std::string& target, const HttpRequest& request) {
        const size_t lines = site.RequestLog().size();
        HttpReply reply = Fetch(site.Root() + target, request);
        for (int i = 0; i < 100 && site.RequestLog().size() == lines; ++i) {
            std::this_thread::sleep_for(20ms);
        }
        return reply;
    };
    fetch("video/player/?flv=list", {});
    fetch("video/player/?flv=list", head);
    HttpReply missing = fetch("no%20such?a=b", {});
    HttpReply refused = fetch("", post);
    HttpReply episode = fetch("video/player/?flv=7", {});

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

// Operators read the log for who asked what, how big and how slow; answers libmicrohttpd
// makes itself (a header too large) are in it as well.
TEST(SiteLog, LinesCarryTimeClientDurationAndUserAgent) {
    const std::string time = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )";
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> headers;
        std::string line; // after the time
    } cases[] = {
        {{},
         {"User-Agent: VelmoraPlayer \"1.0\""},
         R"(127\.0\.0\.1 GET /video/player/\?flv=list 200 2 \d+\.\d{3} "VelmoraPlayer %221\.0%22")"},
        {{"--trust-proxy"},
         {"X-Forwarded-For: 203.0.113.7", "User-Agent: p"},
         R"(203\.0\.113\.7,127\.0\.0\.1 GET /video/player/\?flv=list 200 2 \d+\.\d{3} "p")"},
        {{"--trust-proxy=::1,127.0.0.1"},
         {"X-Forwarded-For: 203.0.113.7", "User-Agent: p"},
         R"(203\.0\.113\.7,127\.0\.0\.1 GET /video/player/\?flv=list 200 2 \d+\.\d{3} "p")"},
        {{"--trust-proxy", "127.0.0.2"}, // not the peer: its header is anyone's
         {"X-Forwarded-For: 203.0.113.7", "User-Agent: p"},
         R"(127\.0\.0\.1 GET /video/player/\?flv=list 200 2 \d+\.\d{3} "p")"},
        {{},
         {"X-Padding: " + std::string(64 * 1024, 'p')},
         R"(127\.0\.0\.1 \S+ /video/player/\?flv=list 431 \d+ \d+\.\d{3} "")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        SiteProcess site(c.options);
        HttpRequest request;
        request.headers = c.headers;
        Fetch(site.Root() + "video/player/?flv=list", request);
        ASSERT_TRUE(site.WaitForRequest("/video/player/?flv=list", 2000));
        std::vector<std::string> log = site.FullRequestLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_TRUE(std::regex_match(log[0], std::regex(time + c.line))) << log[0];
    }
}

// Nobody reads the site's stdout (a stuck log shipper): the pipe fills and the site must
// answer as before, leaving lines out rather than waiting.
TEST(SiteLog, AFullLogPipeDoesNotStopTheSite) {
    SiteProcess site({"--episodes", "3"}, "127.0.0.1", 0, /*readLog=*/false);
    RawConnection connection(site.Host(), site.Port());
    const std::string request =
        "GET /video/player/?flv=list&pad=" + std::string(300, 'p') + " HTTP/1.1\r\nHost: x\r\n\r\n";
    for (int i = 0; i < 1000; ++i) { // some 400 KiB of log lines
        ASSERT_TRUE(connection.Send(request)) << i;
        ASSERT_NE(connection.ReadResponse(2000).find("\r\n\r\n3"), std::string::npos) << i;
    }
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=list").body, "3");
    EXPECT_EQ(site.Stop(), 0); // and it still stops when told
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
        // A line is written at the answer's end, which the client may see first: wait for
        // it, so that the lines come in the order of the cases.
        for (int i = 0; i < 100 && site.RequestLog().size() < expected.size(); ++i) {
            std::this_thread::sleep_for(20ms);
        }
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
        EXPECT_NE(idle[i]->ReadResponse().find("\r\n\r\n" VELMORA_VERSION), std::string::npos) << i;
    }
}

// Nothing on the site takes a body: a large upload is refused before it is read, and the
// request forms proxies and old clients send are understood.
TEST(SiteConnections, RefusesBodiesAtOnceAndReadsEveryRequestForm) {
    const std::string origin = "/video/player/?flv=list";
    struct Case {
        std::string request;
        std::string status;
        std::string body; // "" when the connection must close after the answer
    } cases[] = {
        {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 209715200\r\n\r\n", "405", ""},
        {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 209715200\r\nExpect: 100-continue\r\n\r\n",
         "405", ""},
        {"GET http://x" + origin + " HTTP/1.1\r\nHost: x\r\n\r\n", "200", "24"},
        {"GET HTTP://X:80" + origin + " HTTP/1.1\r\nHost: x\r\n\r\n", "200", "24"},
        {"GET " + origin + " HTTP/1.1\r\n\r\n", "400", ""},
        {"GET " + origin + " HTTP/1.0\r\n\r\n", "200", "24"},
    };
    SiteProcess site({});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        RawConnection connection(site.Host(), site.Port());
        ASSERT_TRUE(connection.Send(c.request));
        std::string response = connection.ReadResponse(2000);
        if (response.size() < 12) {
            ADD_FAILURE() << "no answer";
            continue;
        }
        EXPECT_EQ(response.substr(9, 3), c.status) << response;
        if (c.body.empty()) {
            EXPECT_NE(response.find("\r\nConnection: close\r\n"), std::string::npos) << response;
            EXPECT_TRUE(connection.ClosedWithin(2000));
        } else {
            EXPECT_EQ(response.substr(response.find("\r\n\r\n") + 4), c.body);
        }
    }
}

// What nginx in front and the site must read alike: requests another parser would read
// otherwise are refused with 400 and the connection closed (nothing after them is taken as
// a request), and heads of every size get one whole answer, 431 or 414 when too large.
TEST(SiteConnections, EveryHeadGetsOneWholeAnswerAndAmbiguousOnesGet400) {
    SiteProcess site({});
    for (const HostileRequest& c : HostileRequests("x")) {
        if (c.site.empty()) {
            continue;
        }
        SCOPED_TRACE(c.what + " (" + std::to_string(c.head.size()) + " bytes)");
        RawConnection connection(site.Host(), site.Port());
        const WholeAnswer answer = connection.Exchange(c.Bytes(), false, 2000);
        // One answer, whole, and nothing after it.
        EXPECT_EQ(answer.fault, "") << answer.raw.substr(0, 600);
        EXPECT_TRUE(StatusAllowed(c.site, answer.status)) << answer.raw.substr(0, 600);
        EXPECT_EQ(answer.headers.count("content-length"), 1u) << answer.raw.substr(0, 600);
        // Every answer says when it was made (RFC 9110 section 6.6.1), refusals too.
        EXPECT_TRUE(std::regex_match(answer.Header("date"),
                                     std::regex("[A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} "
                                                "\\d{2}:\\d{2}:\\d{2} GMT")))
            << answer.raw.substr(0, 600);
    }
}

// Operators' --header-timeout is libmicrohttpd's time-out now: a connection that goes
// silent, in the middle of a request or between two, is closed after it.
TEST(SiteConnections, ASilentConnectionIsClosedAfterTheHeaderTimeout) {
    SiteProcess site({"--header-timeout", "1"});
    RawConnection idle(site.Host(), site.Port());
    RawConnection halfway(site.Host(), site.Port());
    ASSERT_TRUE(idle.Send(kListRequest));
    ASSERT_NE(idle.ReadResponse().find("\r\n\r\n24"), std::string::npos);
    ASSERT_TRUE(halfway.Send("GET / HTTP/1.1\r\n"));
    const auto start = Clock::now();
    EXPECT_TRUE(idle.ClosedWithin(3000));
    EXPECT_TRUE(halfway.ClosedWithin(3000));
    EXPECT_GE(Clock::now() - start, 500ms);
}

// The limit holds for every client, and only a trusted proxy, which carries many, is exempt.
TEST(SiteConnections, OneAddressGetsAtMostMaxPerAddressConnections) {
    SiteProcess site({"--max-per-address", "4", "--trust-proxy", "127.0.4.3"});
    std::vector<std::unique_ptr<RawConnection>> held;
    for (int i = 0; i < 4; ++i) {
        held.push_back(std::make_unique<RawConnection>(site.Host(), site.Port(), "127.0.4.1"));
        ASSERT_TRUE(held.back()->Send(kListRequest));
        ASSERT_NE(held.back()->ReadResponse().find("\r\n\r\n24"), std::string::npos) << i;
    }
    RawConnection fifth(site.Host(), site.Port(), "127.0.4.1");
    fifth.Send(kListRequest);
    EXPECT_TRUE(fifth.ClosedWithin(2000));
    RawConnection other(site.Host(), site.Port(), "127.0.4.2");
    ASSERT_TRUE(other.Send(kListRequest));
    EXPECT_NE(other.ReadResponse().find("\r\n\r\n24"), std::string::npos);
    for (int i = 0; i < 6; ++i) {
        held.push_back(std::make_unique<RawConnection>(site.Host(), site.Port(), "127.0.4.3"));
        ASSERT_TRUE(held.back()->Send(kListRequest));
        ASSERT_NE(held.back()->ReadResponse().find("\r\n\r\n24"), std::string::npos) << i;
    }
    // A closed connection frees its place.
    held.erase(held.begin());
    bool served = false;
    for (int i = 0; i < 100 && !served; ++i) {
        std::this_thread::sleep_for(20ms); // a refused attempt ends at once
        RawConnection retry(site.Host(), site.Port(), "127.0.4.1");
        served = retry.Send(kListRequest) &&
                 retry.ReadResponse().find("\r\n\r\n24") != std::string::npos;
    }
    EXPECT_TRUE(served);
}

} // namespace
} // namespace velmora::test
