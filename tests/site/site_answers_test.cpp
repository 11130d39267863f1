// What each address of the content site answers: status, content type and body.
#include "Pages.h"
#include "SharedSiteTest.h"
#include "SiteHttp.h"
#include "SiteProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>

#include <memory>

namespace velmora::test {
namespace {

const char kHtml[] = "text/html; charset=utf-8";
const char kText[] = "text/plain; charset=gbk"; // the default: what Chinese players read
const char kIeEdgeMeta[] = "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">";

// The Windows player's browser control renders a page without this in IE7 mode (no video,
// no modern CSS). It restarts parsing at the meta tag, so only other meta tags may precede
// it in <head>; pages are never cached, so a fixed page reaches every player at once.
void ExpectNewestIeModeUncached(const HttpReply& reply) {
    EXPECT_EQ(reply.Header("x-ua-compatible"), "IE=edge");
    EXPECT_EQ(reply.Header("cache-control"), "no-cache");
    const std::string& html = reply.body;
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    size_t meta = html.find(kIeEdgeMeta);
    size_t at = html.find("<head>");
    ASSERT_NE(meta, std::string::npos) << html;
    ASSERT_LT(at, meta) << html;
    for (at += 6; at < meta; at = html.find('>', at) + 1) {
        at = html.find_first_not_of(" \r\n\t", at);
        ASSERT_EQ(html.compare(at, 6, "<meta "), 0) << "before the meta tag: " << html.substr(at);
    }
}

class SiteAnswers : public SharedSiteTest {
  protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<TempDir>(false);
        WriteFileBytes(folder_->File("VelmoraPlayer-2.5.exe"), "MZ player");
        site_ = std::make_unique<SiteProcess>(
            std::vector<std::string>{"--episodes", "12", "--notice", "新番<b>&预告", "--version",
                                     "2.5", "--downloads", folder_->path()});
    }
};

TEST_F(SiteAnswers, EachAddressAnswersWithItsPage) {
    const std::string p = "video/player/?flv=";
    // The text answers, in the site's charset.
    for (const auto& [target, body] : std::vector<std::pair<std::string, std::string>>{
             {p + "list", "12"},
             {p + "next", "\xD0\xC2\xB7\xAC<b>&\xD4\xA4\xB8\xE6"},
             {p + "update", "2.5"}}) {
        SCOPED_TRACE("/" + target);
        HttpReply reply = Fetch(site_->Root() + target);
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.Header("content-type"), kText);
        EXPECT_EQ(reply.body, body);
    }
    // The pages: each holds every text of its row, and none of those marked "!".
    struct Page {
        std::string target;
        long status;
        std::vector<std::string> texts;
    };
    const std::string start = "href=\"?flv=12\""; // the start page: the last episode's link
    std::vector<Page> pages = {
        {p + "index",
         200,
         {"<meta charset=\"utf-8\">", "Tessavo", "新番&lt;b&gt;&amp;预告", "href=\"?flv=1\"",
          "href=\"?flv=12\"", "!<b>&", "!?flv=13\"", "!?flv=0\""}},
        {"video/player/", 200, {start}},
        {p + "1",
         200,
         {"第1集", "即将上线", "href=\"?flv=2\">下一集", "!<video", "!href=\"?flv=0\""}},
        {p + "7", 200, {"第7集", "?flv=6\">上一集", "?flv=8\">下一集", "!<video"}},
        {p + "12", 200, {"第12集", "?flv=11\">上一集", "!?flv=13\""}},
        {p + "download",
         200,
         {"href=\"../../downloads/VelmoraPlayer-2.5.exe\"", ">VelmoraPlayer-2.5.exe</a>"}},
        {"", 200, {"Tessavo", "?flv=index\"", "?flv=download\""}},
        {p + "0", 404, {"404"}},
        {p + "13", 404, {"404"}},
        {"video/player/?flv", 200, {start}},
        {"video/player/?fl%00v=list", 200, {start}},
        {"video/player/?page=list", 200, {start}},
    };
    // Not found: the site's 404 page. A decoded NUL is part of the value, never its end.
    for (const char* flv : {"99999999999", "01", "-1", "+1", "1x", "abc", "", "LIST", "list%00x",
                            "list%00", "next%00", "1%00", "%00"})
        pages.push_back({p + flv, 404, {}});
    for (const char* target : {"video/player/%00?flv=list", "%00", "nothing", "video/",
                               "video/player/list", "VIDEO/player/?flv=list", "media/001.mp4"})
        pages.push_back({target, 404, {}});
    for (const Page& page : pages) {
        SCOPED_TRACE("/" + page.target);
        HttpReply reply = Fetch(site_->Root() + page.target);
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.status, page.status);
        EXPECT_EQ(reply.Header("content-type"), kHtml);
        ExpectNewestIeModeUncached(reply);
        for (const std::string& text : page.texts) {
            if (text[0] == '!')
                EXPECT_EQ(reply.body.find(text.substr(1)), std::string::npos)
                    << "unexpected: " << text;
            else
                EXPECT_NE(reply.body.find(text), std::string::npos) << "missing: " << text;
        }
    }
}

TEST_F(SiteAnswers, PlayerFolderWithoutSlashRedirectsKeepingTheQuery) {
    HttpReply reply = Fetch(site_->Root() + "video/player?flv=list");
    ASSERT_TRUE(reply.ok) << reply.error;
    EXPECT_EQ(reply.status, 301);
    EXPECT_EQ(reply.Header("location"), "player/?flv=list");
}

TEST_F(SiteAnswers, HeadSendsTheHeadersOfGetWithoutBody) {
    HttpReply get = Fetch(site_->Root() + "video/player/?flv=next");
    HttpRequest head;
    head.method = "HEAD";
    HttpReply reply = Fetch(site_->Root() + "video/player/?flv=next", head);
    ASSERT_TRUE(reply.ok) << reply.error;
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.Header("content-length"), std::to_string(get.body.size()));
    EXPECT_EQ(reply.body, "");
}

TEST_F(SiteAnswers, OtherMethodsAreRefusedWith405) {
    for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS"}) {
        SCOPED_TRACE(method);
        HttpRequest request;
        request.method = method;
        request.body = std::string(method) == "POST" ? "a=1" : "";
        HttpReply reply = Fetch(site_->Root() + "video/player/?flv=list", request);
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.status, 405);
        EXPECT_EQ(reply.Header("allow"), "GET, HEAD");
        ExpectNewestIeModeUncached(reply);
    }
}

// The count: --episodes wins; else the highest episode number in the media folder; else
// the demo.
TEST(SiteCount, ComesFromOptionsOrMediaFolder) {
    TempDir media(false);
    for (const char* name : {"001.mp4", "002.webm", "3.mp4", "003.webm", "0010.MP4"}) {
        WriteFileBytes(media.File(name), "x");
    }
    // Not episodes: wrong extension, number 0, not a number, hidden, a folder, a number
    // above the most episodes a site may have.
    for (const char* name :
         {"004.txt", "000.mp4", "abc.mp4", ".005.mp4", "6.mp4.part", "1000001.mp4"}) {
        WriteFileBytes(media.File(name), "x");
    }
    ASSERT_EQ(mkdir(media.File("007.mp4").c_str(), 0755), 0);
    TempDir empty(false);

    struct Case {
        std::vector<std::string> options;
        std::string count;
    } cases[] = {
        {{"--episodes", "220"}, "220"},     {{"--episodes", "0"}, "0"},
        {{"--episodes", "12000"}, "12000"}, {{}, "24"},
        {{"--media", media.path()}, "10"},  {{"--media", media.path(), "--episodes", "5"}, "5"},
        {{"--media", empty.path()}, "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        SiteProcess site(c.options);
        HttpReply reply = Fetch(site.Root() + "video/player/?flv=list");
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body, c.count);
    }
}

// The player lists at most 9999 rows; the start page links no more, however many there are.
TEST(SiteCount, TheStartPageStaysBoundedWithAMillionEpisodes) {
    SiteProcess site({"--episodes", "1000000"});
    for (int i = 0; i < 2; ++i) {
        HttpReply page = Fetch(site.Root() + "video/player/?flv=index");
        ASSERT_EQ(page.status, 200);
        EXPECT_LT(page.body.size(), 1000000u);
        EXPECT_NE(page.body.find("href=\"?flv=9999\""), std::string::npos);
        EXPECT_EQ(page.body.find("href=\"?flv=10000\""), std::string::npos);
    }
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=1000000").status, 200);
}

TEST(SiteCount, MediaFilesAddedWhileRunningAreCounted) {
    TempDir media(false);
    WriteFileBytes(media.File("001.mp4"), "x");
    SiteProcess site({"--media", media.path()});
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=list").body, "1");
    WriteFileBytes(media.File("002.mp4"), "x");
    EXPECT_EQ(FetchUntil(site.Root() + "video/player/?flv=list", "2"), "2");
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=2").status, 200);
}

// Numbers missing from the media folder do not hide the episodes after them.
TEST(SiteCount, GapsInTheMediaNumberingGetPlaceholders) {
    TempDir media(false);
    for (const char* name : {"001.mp4", "002.mp4", "5.mp4"}) {
        WriteFileBytes(media.File(name), "x");
    }
    SiteProcess site({"--media", media.path()});
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=list").body, "5");
    struct Case {
        std::string flv;
        long status;
        std::string source; // empty: no video on the page
    } cases[] = {
        {"2", 200, "../../media/002.mp4"}, {"3", 200, ""}, {"4", 200, ""},
        {"5", 200, "../../media/5.mp4"},   {"6", 404, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flv);
        HttpReply page = Fetch(site.Root() + "video/player/?flv=" + c.flv);
        ASSERT_TRUE(page.ok) << page.error;
        EXPECT_EQ(page.status, c.status);
        if (c.status != 200) {
            continue;
        }
        if (c.source.empty()) {
            EXPECT_EQ(page.body.find("<video"), std::string::npos);
            EXPECT_NE(page.body.find("即将上线"), std::string::npos);
        } else {
            EXPECT_NE(page.body.find("src=\"" + c.source + "\""), std::string::npos);
        }
    }
    HttpReply start = Fetch(site.Root() + "video/player/?flv=index");
    EXPECT_NE(start.body.find("href=\"?flv=5\""), std::string::npos);
    EXPECT_EQ(start.body.find("href=\"?flv=6\""), std::string::npos);
}

// A relative reference resolved against an absolute path, as a browser does it (enough for
// the site's references: "?q", "name", "../x", "./").
std::string Resolve(const std::string& base, const std::string& ref) {
    std::string path = base.substr(0, base.find('?'));
    if (ref[0] == '?') {
        return path + ref;
    }
    std::string dir = path.substr(0, path.rfind('/') + 1);
    std::string rest = ref;
    for (;;) {
        if (rest.rfind("./", 0) == 0) {
            rest.erase(0, 2);
        } else if (rest.rfind("../", 0) == 0) {
            rest.erase(0, 3);
            dir.erase(dir.rfind('/', dir.size() - 2) + 1);
        } else {
            return dir + rest;
        }
    }
}

// Every link, source and redirect is relative, so the site also works behind a reverse
// proxy that serves it under a path prefix: resolved there, each leads where it should.
TEST(SiteLinks, AreRelativeAndWorkUnderAPathPrefix) {
    TempDir root(false);
    SiteProcess site(
        SiteFolders(root, {{"media/002.mp4", "x"}, {"downloads/a.exe", "x"}}, {"--episodes", "3"}));
    const std::string player = "/prefix/video/player/?flv=";
    struct Case {
        std::string target;
        std::vector<std::string> links; // resolved under /prefix/, in page order
    } cases[] = {
        {"", {player + "index", player + "download"}},
        {"video/player/?flv=index", {player + "1", player + "2", player + "3"}},
        {"video/player/?flv=2",
         {"/prefix/media/002.mp4", player + "1", player + "index", player + "3"}},
        {"video/player/?flv=download", {"/prefix/downloads/a.exe", "/prefix/"}},
        {"media/009.mp4", {"/prefix/"}},
        {"a/b/c", {"/prefix/"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        HttpReply page = Fetch(site.Root() + c.target);
        std::vector<std::string> links;
        for (size_t at = 0; (at = page.body.find("=\"", at)) != std::string::npos; at += 2) {
            const std::string attribute = page.body.substr(at < 4 ? 0 : at - 4, 4);
            if (attribute != "href" && attribute != " src") {
                continue;
            }
            std::string ref = page.body.substr(at + 2, page.body.find('"', at + 2) - at - 2);
            if (ref == "#") {
                continue; // a link the page's script handles, going nowhere
            }
            EXPECT_NE(ref[0], '/') << ref;
            links.push_back(Resolve("/prefix/" + c.target, ref));
        }
        EXPECT_EQ(links, c.links);
    }
    HttpReply moved = Fetch(site.Root() + "video/player?flv=list");
    EXPECT_EQ(moved.status, 301);
    EXPECT_EQ(Resolve("/prefix/video/player?flv=list", moved.Header("location")), player + "list");
}

// Plain-text answers are sent in the chosen character set; pages stay UTF-8.
TEST(SiteCharset, PlainTextIsEncodedInTheChosenCharset) {
    struct Case {
        std::string charset;
        std::string notice;
        std::string bytes;
        std::string contentType;
    } cases[] = {
        {"gbk", "更新x", "\xB8\xFC\xD0\xC2x", "text/plain; charset=gbk"},
        {"GBK", "中文", "\xD6\xD0\xCE\xC4", "text/plain; charset=gbk"},
        {"utf-8", "更新x", "\xE6\x9B\xB4\xE6\x96\xB0x", "text/plain; charset=utf-8"},
        {"gbk", "plain", "plain", "text/plain; charset=gbk"},
        // A notice of several lines is refused at start (site_process_test).
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charset + " " + c.notice);
        SiteProcess site({"--charset", c.charset, "--notice", c.notice, "--version", "版本v"});
        HttpReply notice = Fetch(site.Root() + "video/player/?flv=next");
        EXPECT_EQ(notice.body, c.bytes);
        EXPECT_EQ(notice.Header("content-type"), c.contentType);
        HttpReply version = Fetch(site.Root() + "video/player/?flv=update");
        EXPECT_EQ(version.body, c.contentType.find("gbk") != std::string::npos
                                    ? "\xB0\xE6\xB1\xBEv"
                                    : "\xE7\x89\x88\xE6\x9C\xACv");
        HttpReply page = Fetch(site.Root() + "video/player/?flv=index");
        EXPECT_EQ(page.Header("content-type"), kHtml);
        EXPECT_NE(page.body.find(c.notice.substr(0, 3)), std::string::npos);
    }
}

TEST(SiteCharset, DefaultNoticeIsOneNonEmptyChineseLine) {
    SiteProcess site({});
    HttpReply reply = Fetch(site.Root() + "video/player/?flv=next");
    EXPECT_EQ(reply.status, 200);
    EXPECT_GT(reply.body.size(), 6u);
    EXPECT_EQ(reply.body.find_first_of("\r\n"), std::string::npos);
    EXPECT_NE(reply.body.find("Tessavo"), std::string::npos);
    EXPECT_EQ(Fetch(site.Root() + "video/player/?flv=update").body, VELMORA_VERSION);
}

// Episode pages offer every file of the episode, MP4 first: the Windows player's browser
// control plays only MP4 and takes the first source it can play.
TEST(SiteEpisodes, PagesPlayTheMediaFilesOrShowAPlaceholder) {
    TempDir media(false);
    WriteFileBytes(media.File("001.mp4"), "mp4 bytes");
    WriteFileBytes(media.File("2.webm"), "webm bytes");
    WriteFileBytes(media.File("004.webm"), "webm");
    WriteFileBytes(media.File("4.mp4"), "mp4 before webm");
    WriteFileBytes(media.File("005.webm"), "webm of 5");
    WriteFileBytes(media.File("005.mp4"), "mp4 of 5");
    SiteProcess site({"--media", media.path(), "--episodes", "6"});

    struct Case {
        int episode;
        std::vector<std::string> sources; // in page order; empty: placeholder
    } cases[] = {
        {1, {"001.mp4"}},
        {2, {"2.webm"}},
        {3, {}},
        {4, {"4.mp4", "004.webm"}},
        {5, {"005.mp4", "005.webm"}},
        {6, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.episode);
        HttpReply page = Fetch(site.Root() + "video/player/?flv=" + std::to_string(c.episode));
        ASSERT_EQ(page.status, 200);
        ExpectNewestIeModeUncached(page);
        if (c.sources.empty()) {
            EXPECT_EQ(page.body.find("<video"), std::string::npos);
            EXPECT_NE(page.body.find("即将上线"), std::string::npos);
            continue;
        }
        EXPECT_NE(page.body.find("<video controls autoplay"), std::string::npos);
        std::string expected;
        for (const std::string& name : c.sources) {
            std::string type =
                name.substr(name.find('.') + 1) == "mp4" ? "video/mp4" : "video/webm";
            expected += "<source src=\"../../media/" + name + "\" type=\"" + type + "\">\n";
            HttpReply file = Fetch(site.Root() + "media/" + name);
            EXPECT_EQ(file.status, 200) << name;
            EXPECT_EQ(file.Header("content-type"), type);
            EXPECT_EQ(file.Header("accept-ranges"), "bytes");
            EXPECT_EQ(file.body, ReadFileBytes(media.File(name)));
        }
        size_t first = page.body.find("<source");
        EXPECT_EQ(page.body.find(expected), first) << page.body;
        EXPECT_EQ(page.body.find("<source", first + expected.size()), std::string::npos);
    }
}

// An episode with a video resumes where the viewer left off, keeps the viewer's sound, takes
// keys and, unless it is the last, counts down to the next; the script finds the elements it
// uses before it.
TEST(SiteEpisodes, VideoPagesCarryResumeAndRunOn) {
    TempDir media(false);
    WriteFileBytes(media.File("001.mp4"), "x");
    WriteFileBytes(media.File("003.mp4"), "x");
    SiteProcess site({"--media", media.path()});
    const std::vector<std::string> resume = {
        "<video controls autoplay preload=\"auto\" id=\"video\">", "<span id=\"resume-at\">",
        "<a id=\"restart\" href=\"#\">从头播放</a>"};
    const std::vector<std::string> runOn = {
        "<p id=\"runon\"", "下一集将在 <span id=\"runon-left\">" +
                               std::to_string(site::kRunOnSeconds) +
                               "</span> 秒后播放 <a id=\"cancel\" href=\"#\">取消</a>"};
    struct Case {
        int episode;
        bool video;
        bool next;
    } cases[] = {{1, true, true}, {2, false, true}, {3, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.episode);
        const std::string page =
            Fetch(site.Root() + "video/player/?flv=" + std::to_string(c.episode)).body;
        const size_t script = page.find("<script>");
        EXPECT_EQ(script != std::string::npos, c.video);
        for (const std::string& text : std::vector<std::string>{
                 "'从 '", "' 继续播放'", "'velmora.position." + std::to_string(c.episode) + "'",
                 "'runon-left'", "'velmora.volume'", "'velmora.muted'", "'keydown'"}) {
            EXPECT_EQ(page.find(text, script) != std::string::npos, c.video) << text;
        }
        for (const std::string& text : resume) {
            EXPECT_EQ(page.find(text) < script, c.video) << text;
        }
        for (const std::string& text : runOn) {
            EXPECT_EQ(page.find(text) < script, c.video && c.next) << text;
        }
        const std::string next = std::to_string(c.episode + 1);
        EXPECT_EQ(page.find("<a id=\"next\" href=\"?flv=" + next + "\">下一集</a>") !=
                      std::string::npos,
                  c.next);
    }
}

// The Windows player's browser control is IE11: every inline script of the pages parses as ES5
// (acorn, from scripts/setup.sh) and calls nothing IE11 lacks.
TEST(SitePages, InlineScriptsAreEs5WithoutWhatIe11Lacks) {
    TempDir media(false);
    WriteFileBytes(media.File("001.mp4"), "x");
    SiteProcess site({"--media", media.path(), "--episodes", "2"});
    const char* const missingInIe11[] = {
        "fetch(",       "Promise",   "Object.assign", "Array.from", ".includes(",
        ".startsWith(", ".closest(", ".remove()",     "Symbol",     "URLSearchParams"};
    TempDir scripts(false);
    int count = 0;
    for (const char* target : {"", "video/player/", "video/player/?flv=1", "video/player/?flv=2",
                               "video/player/?flv=download", "nothing"}) {
        const std::string page = Fetch(site.Root() + target).body;
        for (size_t at = 0; (at = page.find("<script", at)) != std::string::npos;) {
            at = page.find('>', at) + 1;
            const std::string script = page.substr(at, page.find("</script>", at) - at);
            SCOPED_TRACE(std::string("/") + target + "\n" + script);
            const std::string file = scripts.File(std::to_string(++count) + ".js");
            WriteFileBytes(file, script);
            FILE* acorn = popen(("acorn --ecma5 --silent " + file + " 2>&1").c_str(), "r");
            ASSERT_NE(acorn, nullptr);
            std::string output;
            char buffer[256];
            for (size_t n; (n = fread(buffer, 1, sizeof buffer, acorn)) > 0;) {
                output.append(buffer, n);
            }
            const int status = pclose(acorn);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
            for (const char* name : missingInIe11) {
                EXPECT_EQ(script.find(name), std::string::npos) << name;
            }
        }
    }
    EXPECT_GT(count, 0);
}

} // namespace
} // namespace velmora::test
