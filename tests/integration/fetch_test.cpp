// The program's fetches against the content site on loopback: what reaches Config.ini.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <locale.h>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "LoopbackHttpServer.h"
#include "SiteProcess.h"
#include "TempDir.h"
#include "ScopedLocale.h"
#include "TestText.h"
#include "settings/Settings.h"
#include "site/Site.h"

namespace {

using namespace velmora::test;

const char* const kHost = VELMORA_TEST_SITE_HOST;
const int kPort = VELMORA_TEST_SITE_PORT;
const char* const kCountTarget = "/video/player/?flv=list";
const char* const kNoticeTarget = "/video/player/?flv=next";

class FetchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        lstrcpyW(IniPath, Wide(dir_.File("Config.ini")));
        FetchTimeoutMs = 10000;
    }
    void TearDown() override { FetchTimeoutMs = 10000; }

    std::string Text(LPCWSTR key) {
        WCHAR text[TEXT_CAPACITY];
        ReadSettingText(key, text);
        return Utf8(text);
    }

    // Key and section lines of Config.ini (each "[section]" or "key"), in file order.
    std::vector<std::string> Layout() {
        std::istringstream file(ReadFileBytes(dir_.File("Config.ini")));
        std::vector<std::string> layout;
        for (std::string line; std::getline(file, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty() && line[0] == '[')
                layout.push_back(line);
            else if (line.find('=') != std::string::npos)
                layout.push_back(line.substr(0, line.find('=')));
            else if (!line.empty())
                layout.push_back("stray: " + line);
        }
        return layout;
    }

    // A settings file as after a good fetch: first-run keys, a count and a notice.
    void StoreGoodValues() {
        WriteFirstRunDefaults();
        WriteSetting(KeyList, L"12");
        WriteSetting(KeyUpdate, L"last good notice");
    }

    // The site serves notice in charset: fetched, it reads as expected and is stored as Update.
    void ExpectNoticeFetched(const std::string& notice, const char* charset,
                             const std::string& expected) {
        StoreGoodValues();
        SiteProcess site({"--notice", notice, "--charset", charset}, kHost, kPort);
        WCHAR text[TEXT_CAPACITY];
        EXPECT_TRUE(FetchText(NoticeUrl, text));
        EXPECT_EQ(Utf8(text), expected);
        EXPECT_EQ(FetchNotice(), 1);
        EXPECT_EQ(Text(KeyUpdate), expected);
    }

    TempDir dir_{false};
};

TEST_F(FetchTest, CountFromTheSiteIsStoredAsItsFirstLine) {
    struct Case {
        const char* how;
        std::vector<std::string> pieces; // none: the real site with --episodes 220
    } cases[] = {
        {"real site", {}},
        {"line break after the count", {"220\n"}},
        {"CR LF and a would-be key", {"220\r\nOnce=0\r\n[Other]\r\nList=7"}},
        // Each piece comes in its own read: the whole body must still be read.
        {"arriving in pieces", {"2", "2", "0\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        StoreGoodValues();
        std::vector<std::string> before = Layout();
        {
            std::unique_ptr<SiteProcess> site;
            std::unique_ptr<LoopbackHttpServer> server;
            if (c.pieces.empty()) {
                site = std::make_unique<SiteProcess>(std::vector<std::string>{"--episodes", "220"},
                                                     kHost, kPort);
            } else {
                server = std::make_unique<LoopbackHttpServer>(kHost, kPort);
                server->Route(kCountTarget, ScriptedReply::Pieces(c.pieces, 100));
            }
            EXPECT_EQ(FetchEpisodeCount(), 1);
        }
        EXPECT_EQ(Text(KeyList), "220");
        EXPECT_EQ(ReadSettingInt(KeyList), 220u);
        EXPECT_EQ(ReadSettingInt(KeyOnce), 1u);
        EXPECT_EQ(Layout(), before) << "the file gained or lost lines";
    }
}

TEST_F(FetchTest, ChineseNoticeArrivesInTheSystemCodePage) {
    const std::string notice = "第220集已更新，欢迎观看《Tessavo》";
    // Code page 936 under either locale, whatever its character set.
    for (const char* name : {"zh_CN.GBK", "zh_CN.UTF-8"}) {
        SCOPED_TRACE(name);
        ScopedLocale locale(name);
        ExpectNoticeFetched(notice, "gbk", notice);
    }
}

TEST_F(FetchTest, FailedFetchesKeepTheLastGoodValues) {
    ScriptedReply silent;
    silent.action = ScriptedReply::Action::NeverAnswer;
    ScriptedReply hangsUpMidBody = ScriptedReply::Body("123456789");
    hangsUpMidBody.closeAfterBytes = 2;
    // A byte every 100 ms never trips the 300 ms receive time-out, but 40 of them take 4 s.
    ScriptedReply trickles = ScriptedReply::Pieces(std::vector<std::string>(40, "7"), 100);
    struct Case {
        const char* how;
        bool siteUp;
        ScriptedReply reply;
    } cases[] = {
        {"site down", false, {}},
        {"404 with a body", true, ScriptedReply::Body("<html>not here</html>", 404)},
        {"500 with a body", true, ScriptedReply::Body("<html>broken</html>", 500)},
        {"connection lost in the body", true, hangsUpMidBody},
        {"never answers", true, silent},
        {"sends a byte now and then", true, trickles},
    };
    FetchTimeoutMs = 300;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        StoreGoodValues();
        std::vector<std::string> before = Layout();
        std::unique_ptr<LoopbackHttpServer> server;
        if (c.siteUp) {
            server = std::make_unique<LoopbackHttpServer>(kHost, kPort);
            server->SetFallback(c.reply);
        }
        auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(FetchEpisodeCount(), 1);
        EXPECT_EQ(FetchNotice(), 1);
        auto elapsed = std::chrono::steady_clock::now() - started;
        EXPECT_LT(elapsed, std::chrono::seconds(3)) << "a fetch outlived its time-out";
        if (server) {
            EXPECT_EQ(server->Requests().size(), 2u);
        }
        server.reset();
        WCHAR text[TEXT_CAPACITY];
        text[0] = L'x';
        EXPECT_FALSE(FetchText(CountUrl, text)) << "nothing listens any more";
        EXPECT_EQ(text[0], 0);
        EXPECT_EQ(Text(KeyList), "12");
        EXPECT_EQ(Text(KeyUpdate), "last good notice");
        EXPECT_EQ(Layout(), before);
    }
}

// Every wait below is shorter than the receive time-out, so only a bound on the whole fetch
// stops it: a head sent a line a second, and redirects answered after a pause each.
TEST_F(FetchTest, SlowSiteCannotHoldAFetchPastItsTimeOut) {
    ScriptedReply trickle = ScriptedReply::Body("220");
    for (int i = 0; i < 8; ++i)
        trickle.headers.emplace_back("X-Wait", std::to_string(i));
    trickle.headLineDelayMs = 1000;
    std::vector<std::pair<std::string, ScriptedReply>> hops;
    for (int i = 0; i < 5; ++i) {
        std::string target = i == 0 ? kCountTarget : "/hop" + std::to_string(i);
        hops.emplace_back(target, ScriptedReply::Redirect(302, "/hop" + std::to_string(i + 1)));
        hops.back().second.answerDelayMs = 1200;
    }
    hops.emplace_back("/hop5", ScriptedReply::Body("220"));
    struct Case {
        const char* how;
        std::vector<std::pair<std::string, ScriptedReply>> routes;
    } cases[] = {
        {"head a line at a time", {{kCountTarget, trickle}}},
        {"slow redirects", hops},
    };
    FetchTimeoutMs = 2000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        LoopbackHttpServer server(kHost, kPort);
        for (const auto& [target, reply] : c.routes)
            server.Route(target, reply);
        auto started = std::chrono::steady_clock::now();
        WCHAR text[TEXT_CAPACITY];
        EXPECT_FALSE(FetchText(CountUrl, text));
        long long elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - started)
                                  .count();
        EXPECT_LT(elapsedMs, FetchTimeoutMs + 1500);
        EXPECT_EQ(text[0], 0);
    }
}

TEST_F(FetchTest, LongBodyIsCutOnACharacterBoundary) {
    const std::string han = "汉";
    std::string notice = "ab";
    while (notice.size() + han.size() <= 5000 + 1)
        notice += han;
    // In GBK "汉" is two bytes: 1021 bytes are left for them after "ab".
    std::string expected = "ab";
    for (size_t i = 0; i < 1021 / 2; ++i)
        expected += han;
    for (const char* name : {"zh_CN.UTF-8", "zh_CN.GBK"}) { // code page 936 either way
        SCOPED_TRACE(name);
        ScopedLocale locale(name);
        ExpectNoticeFetched(notice, "gbk", expected);
    }
}

TEST_F(FetchTest, MultiLineNoticeStoresOnlyItsFirstLine) {
    StoreGoodValues();
    std::vector<std::string> before = Layout();
    // velmora-site refuses such a notice; another server may still send one.
    LoopbackHttpServer server(kHost, kPort);
    server.Route(kNoticeTarget, ScriptedReply::Body("first line\n[Injected]\nList=99\nOnce=0"));
    EXPECT_EQ(FetchNotice(), 1);
    EXPECT_EQ(Text(KeyUpdate), "first line");
    EXPECT_EQ(Text(KeyList), "12");
    EXPECT_EQ(Layout(), before);
    ASSERT_FALSE(server.Requests().empty());
    EXPECT_EQ(server.Requests().back().target, kNoticeTarget);
}

} // namespace
