// Files the site sends: episode media with byte ranges, and downloads as attachments.
#include "SharedSiteTest.h"
#include "SiteHttp.h"
#include "SiteProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <set>

namespace velmora::test {
namespace {

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i % 251);
    }
    return bytes;
}

class SiteFiles : public SharedSiteTest {
  protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<TempDir>(false);
        const std::vector<std::string> options =
            SiteFolders(*folder_, {{"media/001.mp4", Pattern(1000)},
                                   {"media/002.webm", Pattern(10)},
                                   {"media/notes.txt", "not an episode"},
                                   {"downloads/VelmoraPlayer 2.5.exe", "MZ new player"},
                                   {"downloads/说明.txt", "readme"},
                                   {"downloads/.hidden", "hidden"},
                                   {"secret.txt", "TOP SECRET"}});
        ASSERT_EQ(mkdir(folder_->File("downloads/sub").c_str(), 0755), 0);
        WriteFileBytes(folder_->File("downloads/sub/inner.txt"), "inner");
        // Links out of the folders, as if to /etc/passwd: neither listed nor served.
        ASSERT_EQ(symlink("../secret.txt", folder_->File("media/003.mp4").c_str()), 0);
        ASSERT_EQ(symlink("../secret.txt", folder_->File("downloads/link.txt").c_str()), 0);
        site_ = std::make_unique<SiteProcess>(options);
    }
};

TEST_F(SiteFiles, MediaHonoursSingleByteRanges) {
    const std::string whole = Pattern(1000);
    struct Case {
        std::string range; // empty: no Range header
        long status;
        std::string contentRange;
        size_t first;
        size_t length;
    } cases[] = {
        {"", 200, "", 0, 1000},
        {"bytes=0-9", 206, "bytes 0-9/1000", 0, 10},
        {"bytes=10-10", 206, "bytes 10-10/1000", 10, 1},
        {"bytes=990-", 206, "bytes 990-999/1000", 990, 10},
        {"bytes=0-", 206, "bytes 0-999/1000", 0, 1000},
        {"bytes=-5", 206, "bytes 995-999/1000", 995, 5},
        {"bytes=-2000", 206, "bytes 0-999/1000", 0, 1000},
        {"bytes=500-5000", 206, "bytes 500-999/1000", 500, 500},
        {"bytes=999-999", 206, "bytes 999-999/1000", 999, 1},
        {"bytes=1000-", 416, "bytes */1000", 0, 0},
        {"bytes=1000-2000", 416, "bytes */1000", 0, 0},
        {"bytes=-0", 416, "bytes */1000", 0, 0},
        // Malformed, reversed, other units and several ranges: the whole file.
        {"bytes=5-2", 200, "", 0, 1000},
        {"bytes=0-1,5-6", 200, "", 0, 1000},
        {"items=0-1", 200, "", 0, 1000},
        {"bytes=x-y", 200, "", 0, 1000},
        {"bytes=-", 200, "", 0, 1000},
        // Range units are case-insensitive.
        {"BYTES=0-9", 206, "bytes 0-9/1000", 0, 10},
        {"Bytes=-5", 206, "bytes 995-999/1000", 995, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        HttpRequest request;
        if (!c.range.empty()) {
            request.headers.push_back("Range: " + c.range);
        }
        HttpReply reply = Fetch(site_->Root() + "media/001.mp4", request);
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.Header("content-range"), c.contentRange);
        EXPECT_EQ(reply.Header("accept-ranges"), c.status == 416 ? "" : "bytes");
        if (c.status != 416) {
            EXPECT_EQ(reply.Header("content-type"), "video/mp4");
            EXPECT_EQ(reply.Header("content-length"), std::to_string(c.length));
            EXPECT_EQ(reply.body, whole.substr(c.first, c.length));
        }
    }
}

// Validators as nginx gives them: a cached copy is confirmed with 304 (with no length but
// the file's), a range of a file that has changed since is never sent (If-Range that does
// not match gets it whole), and If-Match or If-Unmodified-Since that fail get 412 before
// anything else (RFC 9110 section 13.2.2), so a resumed download never splices two files.
TEST_F(SiteFiles, ValidatorsConfirmCachedCopiesAndGuardRanges) {
    HttpReply first = Fetch(site_->Root() + "media/001.mp4");
    ASSERT_TRUE(first.ok) << first.error;
    const std::string tag = first.Header("etag");
    const std::string date = first.Header("last-modified");
    ASSERT_FALSE(tag.empty());
    ASSERT_FALSE(date.empty());
    const std::string old = "Thu, 01 Jan 1970 00:00:00 GMT";
    struct Case {
        std::vector<std::string> headers;
        long status;
        size_t length; // of the body; for 304 the Content-Length
    } cases[] = {
        {{"If-None-Match: " + tag}, 304, 1000},
        {{"If-None-Match: \"x\", W/" + tag}, 304, 1000},
        {{"If-None-Match: *"}, 304, 1000},
        {{"If-None-Match: \"x\""}, 200, 1000},
        {{"If-Modified-Since: " + date}, 304, 1000},
        {{"If-Modified-Since: " + old}, 200, 1000},
        {{"If-None-Match: \"x\"", "If-Modified-Since: " + date}, 200, 1000},
        {{"Range: bytes=0-9", "If-Range: " + tag}, 206, 10},
        {{"Range: bytes=0-9", "If-Range: " + date}, 206, 10},
        {{"Range: bytes=0-9", "If-Range: \"x\""}, 200, 1000},
        {{"Range: bytes=0-9", "If-Range: " + old}, 200, 1000},
        {{"If-Match: " + tag}, 200, 1000},
        {{"If-Match: \"x\", " + tag}, 200, 1000},
        {{"If-Match: *"}, 200, 1000},
        {{"If-Match: \"x\""}, 412, 0},
        {{"If-Match: W/" + tag}, 412, 0},
        {{"If-Unmodified-Since: " + date}, 200, 1000},
        {{"If-Unmodified-Since: " + old}, 412, 0},
        {{"Range: bytes=10-", "If-Unmodified-Since: " + old}, 412, 0},
        {{"If-Match: " + tag, "If-Unmodified-Since: " + old}, 200, 1000},
        {{"If-Match: \"x\"", "If-None-Match: " + tag}, 412, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.headers));
        HttpRequest request;
        request.headers = c.headers;
        HttpReply reply = Fetch(site_->Root() + "media/001.mp4", request);
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.status, c.status);
        if (c.status == 304) {
            EXPECT_EQ(reply.Header("content-length"), std::to_string(c.length));
        } else if (c.status != 412) {
            EXPECT_EQ(reply.body.size(), c.length);
            EXPECT_EQ(reply.Header("etag"), tag);
        }
    }
}

TEST_F(SiteFiles, OnlyEpisodeFilesAreServedFromTheMediaFolder) {
    struct Case {
        std::string target;
        long status;
        std::string contentType;
    } cases[] = {
        {"media/002.webm", 200, "video/webm"},
        {"media/notes.txt", 404, "text/html; charset=utf-8"},
        {"media/003.mp4", 404, "text/html; charset=utf-8"},
        {"media/", 404, "text/html; charset=utf-8"},
        {"media/../secret.txt", 404, "text/html; charset=utf-8"},
        {"media/%2e%2e%2fsecret.txt", 404, "text/html; charset=utf-8"},
        {"media/002.webm%00.txt", 404, "text/html; charset=utf-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        HttpReply reply = Fetch(site_->Root() + c.target);
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.Header("content-type"), c.contentType);
        EXPECT_EQ(reply.body.find("SECRET"), std::string::npos);
    }
    EXPECT_EQ(Fetch(site_->Root() + "video/player/?flv=list").body, "2");
}

TEST_F(SiteFiles, DownloadPageLinksEveryPlainFile) {
    HttpReply page = Fetch(site_->Root() + "video/player/?flv=download");
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("href=\"../../downloads/VelmoraPlayer%202.5.exe\" download>"
                             "VelmoraPlayer 2.5.exe</a>"),
              std::string::npos);
    EXPECT_NE(page.body.find("href=\"../../downloads/%E8%AF%B4%E6%98%8E.txt\""), std::string::npos);
    EXPECT_EQ(page.body.find("hidden"), std::string::npos);
    EXPECT_EQ(page.body.find("sub"), std::string::npos);
    EXPECT_EQ(page.body.find("link.txt"), std::string::npos);
}

// What a viewer checks a download against: the latest version, the installer first, each
// file's size and SHA-256 (the standard "abc" and empty-input values), names escaped; a
// package replaced in place shows its new sum.
TEST(SiteDownloadPage, NamesTheLatestVersionAndListsInstallerFirstWithSizesAndSums) {
    TempDir dir(false);
    WriteFileBytes(dir.File("VelmoraPlayer-2.5-portable.zip"), "abc");
    WriteFileBytes(dir.File("VelmoraPlayer-2.5-setup.exe"), "");
    WriteFileBytes(dir.File("a<b>&.deb"), "abc");
    SiteProcess site({"--latest-version", "2.5", "--downloads", dir.path()});
    const std::string url = site.Root() + "video/player/?flv=download";
    const std::string page = Fetch(url).body;
    const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const std::string empty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    const size_t version = page.find("最新版本：2.5</p>");
    const size_t setup = page.find(">VelmoraPlayer-2.5-setup.exe</a> (0 B)<br>");
    const size_t zip = page.find(">VelmoraPlayer-2.5-portable.zip</a> (3 B)<br>");
    ASSERT_NE(version, std::string::npos) << page;
    ASSERT_NE(setup, std::string::npos) << page;
    ASSERT_NE(zip, std::string::npos) << page;
    EXPECT_LT(version, setup);
    EXPECT_LT(setup, zip);
    EXPECT_EQ(page.find(empty, setup), page.find("<code>", setup) + 6);
    EXPECT_EQ(page.find(abc, zip), page.find("<code>", zip) + 6);
    EXPECT_NE(page.find(">a&lt;b&gt;&amp;.deb</a>"), std::string::npos) << page;
    EXPECT_EQ(page.find("a<b>"), std::string::npos);

    WriteFileBytes(dir.File("VelmoraPlayer-2.5-portable.zip"), "abd");
    const std::string abd = "a52d159f262b2c6ddb724a61840befc36eb30c88877a4030b65cbe86298449c9";
    std::string again;
    for (int i = 0; i < 100 && again.find(abd) == std::string::npos; ++i) {
        poll(nullptr, 0, 20);
        again = Fetch(url).body;
    }
    EXPECT_NE(again.find(abd), std::string::npos) << again;
}

TEST_F(SiteFiles, DownloadsAreAttachmentsAndStayInsideTheirFolder) {
    struct Case {
        std::string target;
        long status;
        std::string body; // for 200
        std::string disposition;
    };
    std::vector<Case> cases = {
        {"downloads/VelmoraPlayer%202.5.exe", 200, "MZ new player",
         "attachment; filename=\"VelmoraPlayer 2.5.exe\"; "
         "filename*=UTF-8''VelmoraPlayer%202.5.exe"},
        {"downloads/%E8%AF%B4%E6%98%8E.txt", 200, "readme",
         "attachment; filename=\"______.txt\"; filename*=UTF-8''%E8%AF%B4%E6%98%8E.txt"},
    };
    for (const char* name :
         {"../secret.txt", "..%2fsecret.txt", "%2E%2E%2Fsecret.txt", "%2E%2E/secret.txt", "..",
          ".hidden", "sub", "sub/inner.txt", "", "missing.exe", "link.txt",
          "VelmoraPlayer%202.5.exe%00.txt", "VelmoraPlayer%202.5.exe%00"})
        cases.push_back({std::string("downloads/") + name, 404, "", ""});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        HttpReply reply = Fetch(site_->Root() + c.target);
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.Header("content-disposition"), c.disposition);
        if (c.status == 200) {
            EXPECT_EQ(reply.body, c.body);
            EXPECT_EQ(reply.Header("content-type"), "application/octet-stream");
        }
        EXPECT_EQ(reply.body.find("SECRET"), std::string::npos);
        EXPECT_EQ(reply.body.find("inner"), std::string::npos);
    }
}

// A FIFO opened for reading waits for a writer; the site must refuse it at once instead.
// One server thread, so a request stuck on it would also stop every later answer.
TEST(SiteSpecialFiles, FifosAreRefusedAtOnceAndTheSiteKeepsAnswering) {
    TempDir root(false);
    const std::vector<std::string> options =
        SiteFolders(root, {{"media/001.mp4", "mp4 bytes"}}, {"--threads", "1"});
    ASSERT_EQ(mkfifo(root.File("downloads/pipe").c_str(), 0644), 0);
    ASSERT_EQ(symlink("pipe", root.File("downloads/link-to-pipe").c_str()), 0);
    SiteProcess site(options);
    ASSERT_EQ(Fetch(site.Root() + "media/001.mp4").body, "mp4 bytes");
    // The episode file turns into a FIFO; with the folder's time put back the site still
    // takes 001.mp4 for an episode file and opens it.
    struct stat folder;
    ASSERT_EQ(stat(root.File("media").c_str(), &folder), 0);
    ASSERT_EQ(unlink(root.File("media/001.mp4").c_str()), 0);
    ASSERT_EQ(mkfifo(root.File("media/001.mp4").c_str(), 0644), 0);
    const timespec times[2] = {folder.st_atim, folder.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, root.File("media").c_str(), times, 0), 0);

    for (const char* target : {"downloads/pipe", "downloads/link-to-pipe", "media/001.mp4"}) {
        SCOPED_TRACE(target);
        HttpRequest quick;
        quick.timeoutMs = 2000;
        HttpReply reply = Fetch(site.Root() + target, quick);
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.status, 404);
        EXPECT_EQ(reply.Header("content-type"), "text/html; charset=utf-8");
        HttpReply list = Fetch(site.Root() + "video/player/?flv=list", quick);
        ASSERT_TRUE(list.ok) << list.error;
        EXPECT_EQ(list.body, "1");
    }
}

// Descriptors run out for a while: files answer 503 with Retry-After (not 404), the media
// folder cannot be read but the catalogue read before stays, and both are logged, the
// folder once; when descriptors are back the folder is read again.
TEST(SiteFaults, RunningOutOfDescriptorsKeepsTheCatalogueAndAnswers503) {
    TempDir root(false);
    SiteProcess site(SiteFolders(root, {{"media/001.mp4", "mp4"}, {"downloads/a.exe", "exe"}},
                                 {"--threads", "1"}));
    // One kept-alive connection, accepted before the limit drops: every later descriptor
    // the site asks for is over the limit.
    RawConnection connection(site.Host(), site.Port());
    auto get = [&](const std::string& target) {
        EXPECT_TRUE(connection.Send("GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n"));
        return connection.ReadResponse();
    };
    ASSERT_NE(get("/video/player/?flv=list").find("\r\n\r\n1"), std::string::npos);
    std::set<int> open;
    DIR* fds = opendir(("/proc/" + std::to_string(site.Pid()) + "/fd").c_str());
    ASSERT_NE(fds, nullptr);
    while (dirent* entry = readdir(fds)) {
        open.insert(atoi(entry->d_name));
    }
    closedir(fds);
    int lowestFree = 0;
    while (open.count(lowestFree)) {
        ++lowestFree;
    }
    rlimit old{};
    rlimit tight{static_cast<rlim_t>(lowestFree), 0};
    ASSERT_EQ(prlimit(site.Pid(), RLIMIT_NOFILE, nullptr, &old), 0);
    tight.rlim_max = old.rlim_max; // only the soft limit, so it can be raised again
    ASSERT_EQ(prlimit(site.Pid(), RLIMIT_NOFILE, &tight, nullptr), 0);

    WriteFileBytes(root.File("media/002.mp4"), "new");
    for (const char* target : {"/media/001.mp4", "/downloads/a.exe"}) {
        SCOPED_TRACE(target);
        std::string reply = get(target);
        EXPECT_EQ(reply.rfind("HTTP/1.1 503", 0), 0u) << reply;
        EXPECT_NE(reply.find("\r\nRetry-After: "), std::string::npos) << reply;
    }
    // Until the site has tried to read the folder (it looks only every so often).
    for (int i = 0; i < 100 && site.ErrorOutput().find("media folder") == std::string::npos; ++i) {
        EXPECT_NE(get("/video/player/?flv=list").find("\r\n\r\n1"), std::string::npos);
        poll(nullptr, 0, 20);
    }
    ASSERT_EQ(prlimit(site.Pid(), RLIMIT_NOFILE, &old, nullptr), 0);
    std::string list = get("/video/player/?flv=list");
    for (int i = 0; i < 100 && list.find("\r\n\r\n2") == std::string::npos; ++i) {
        poll(nullptr, 0, 20);
        list = get("/video/player/?flv=list");
    }
    EXPECT_NE(list.find("\r\n\r\n2"), std::string::npos) << list;
    EXPECT_NE(get("/media/001.mp4").find("\r\n\r\nmp4"), std::string::npos);

    site.Stop(); // every line it wrote has been read
    const std::string errors = site.ErrorOutput();
    for (const char* line : {"cannot open", "/media/001.mp4: Too many open files (answered 503)",
                             "/downloads/a.exe: Too many open files (answered 503)",
                             "cannot read the media folder", "reads again"}) {
        EXPECT_NE(errors.find(line), std::string::npos) << line << " in:\n" << errors;
    }
    EXPECT_EQ(errors.find("cannot read the media folder"),
              errors.rfind("cannot read the media folder"))
        << errors;
}

TEST(SiteDownloads, WithoutAFolderThePageSaysThereIsNothing) {
    SiteProcess site({});
    HttpReply page = Fetch(site.Root() + "video/player/?flv=download");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("暂无可下载的文件"), std::string::npos);
    EXPECT_EQ(Fetch(site.Root() + "downloads/x").status, 404);
}

} // namespace
} // namespace velmora::test
