// The player follows its embedded browser: the control's DWebBrowserEvents2 arrive as on
// Windows, the episode a page shows retitles the window, selects its row and is
// remembered, and other sites and new windows go to the user's own browser.
#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "PlayerRun.h"
#include "TempDir.h"
#include "TestText.h"
#include "resources/resource.h"
#include "ui/MainWindow.h"
#include "user32/Resources.h"

#include <map>
#include <urlmon.h>

namespace {

using namespace velmora::platform;
using namespace velmora::test;

using Entries = std::vector<std::pair<std::string, std::string>>;
using Action = std::function<void(HeadlessBackend&)>;

const std::string kRoot = std::string("http://") + VELMORA_TEST_SITE_HOST + ":" +
                          std::to_string(VELMORA_TEST_SITE_PORT) + "/";
const std::string kStartPage = kRoot + "video/player/?flv=index";
const std::string kStartTitle = velmora::test::MainTitle();

std::string Episode(const std::string& number) {
    return kRoot + "video/player/?flv=" + number;
}

Action PageNavigates(const std::string& url) {
    return [url](HeadlessBackend& backend) { backend.PageNavigates(hBrowserHost, url); };
}

Action PageOpensWindow(const std::string& url) {
    return [url](HeadlessBackend& backend) { backend.PageOpensWindow(hBrowserHost, url); };
}

enum class Via { TopLevel, Frame, NewWindow };

Action PageAsks(Via via, const std::string& url) {
    return [via, url](HeadlessBackend& backend) {
        if (via == Via::NewWindow)
            backend.PageOpensWindow(hBrowserHost, url);
        else
            backend.PageNavigates(hBrowserHost, url,
                                  via == Via::Frame ? velmora::platform::browser::Frame::Inner
                                                    : velmora::platform::browser::Frame::Top);
    };
}

Action DoubleClick(int row) {
    return [row](HeadlessBackend&) { input::ListDoubleClick(hEpisodeList, row); };
}

IUnknown* Identity(IUnknown* object) {
    IUnknown* identity = nullptr;
    object->QueryInterface(IID_IUnknown, (void**)&identity);
    if (identity)
        identity->Release();
    return identity;
}

// An event as a sink advised after the program's sees it.
struct SeenEvent {
    DISPID id;
    std::string types; // each argument's VARTYPE, first parameter first; a URL's own type after
                       // a colon
    std::string url;
    bool fromBrowser = false; // its pDisp is the control itself
    bool cancelled = false;   // the program had set Cancel already
    bool operator==(const SeenEvent& other) const {
        return id == other.id && types == other.types && url == other.url &&
               fromBrowser == other.fromBrowser && cancelled == other.cancelled;
    }
};

void PrintTo(const SeenEvent& e, std::ostream* out) {
    *out << e.id << " [" << e.types << "] " << e.url << (e.fromBrowser ? " browser" : "")
         << (e.cancelled ? " cancelled" : "");
}

struct RecordingSink : IDispatch {
    std::vector<SeenEvent> events;
    // NavigateError's TargetFrameName and StatusCode: each one's own type, and the code.
    std::vector<std::string> errors;
    IUnknown* browser = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        if (id != DISPID_BEFORENAVIGATE2 && id != DISPID_NAVIGATECOMPLETE2 &&
            id != DISPID_NEWWINDOW3 && id != DISPID_NAVIGATEERROR)
            return S_OK;
        if (id == DISPID_NAVIGATEERROR) {
            const VARIANT& name = *params->rgvarg[2].pvarVal;
            const VARIANT& status = *params->rgvarg[1].pvarVal;
            errors.push_back(std::to_string(name.vt) + " " + std::to_string(status.vt) + " " +
                             std::to_string(status.lVal));
        }
        SeenEvent seen{id, "", "", false, false};
        for (UINT i = params->cArgs; i-- > 0;) {
            const VARIANT& argument = params->rgvarg[i];
            seen.types += (seen.types.empty() ? "" : " ") + std::to_string(argument.vt);
            if (argument.vt == VT_DISPATCH)
                seen.fromBrowser = argument.pdispVal && Identity(argument.pdispVal) == browser;
            if (argument.vt == (VT_BYREF | VT_BOOL))
                seen.cancelled = *argument.pboolVal == VARIANT_TRUE;
        }
        // The URL: the second argument of BeforeNavigate2, NavigateComplete2 and
        // NavigateError, NewWindow3's fifth.
        const VARIANT& url = params->rgvarg[id == DISPID_NEWWINDOW3 ? 0 : params->cArgs - 2];
        const VARIANT* text = url.vt == (VT_BYREF | VT_VARIANT) ? url.pvarVal : &url;
        seen.types += ":" + std::to_string(text->vt);
        if (text->vt == VT_BSTR)
            seen.url = Utf8(text->bstrVal);
        events.push_back(seen);
        return S_OK;
    }
};

// The program's page for an unreachable site, as the control names it, and where its 重试
// link points (read from the page).
std::string NetworkErrorPageAddress() {
    WCHAR program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return "res://" + Utf8(program) + "/" + Utf8(NETWORK_ERROR_PAGE);
}

std::string RetryLink() {
    const std::string* page = FindHtmlResource(Utf8(NETWORK_ERROR_PAGE));
    const std::string opening = "<a href=\"", closing = "\">重试</a>";
    size_t link = page ? page->find(opening) : std::string::npos;
    size_t start = link == std::string::npos ? link : link + opening.size();
    size_t end = page ? page->find('"', start) : start;
    bool isRetry = start < end && page->compare(end, closing.size(), closing) == 0;
    return isRetry ? page->substr(start, end - start) : "";
}

class BrowserEventsTest : public ::testing::Test {
  protected:
    std::string Ini() const { return dir_.File("Config.ini"); }
    TempDir dir_;
};

TEST_F(BrowserEventsTest, EventsArriveInWindowsOrderWithWindowsArgumentTypes) {
    WriteIni(Ini(), {{"Version", VELMORA_VERSION}, {"Once", "1"}, {"List", "220"}, {"Last", "1"}});
    RecordingSink sink;
    IConnectionPoint* source = nullptr;
    DWORD cookie = 0;
    HRESULT advised = E_FAIL, unadvised = E_FAIL;
    const std::string frame = kRoot + "frame.html";
    PlayerRun run;
    run.loadErrors = {{Episode("8"), INET_E_CANNOT_CONNECT}, {frame, INET_E_CONNECTION_TIMEOUT}};
    run.steps = {
        [&](HeadlessBackend&) {
            IConnectionPointContainer* container = nullptr;
            ASSERT_EQ(
                pWebBrowser->QueryInterface(IID_IConnectionPointContainer, (void**)&container),
                S_OK);
            ASSERT_EQ(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &source), S_OK);
            container->Release();
            sink.browser = Identity(pWebBrowser);
            advised = source->Advise(&sink, &cookie);
            input::ListDoubleClick(hEpisodeList, 3);
        },
        PageNavigates(Episode("5")),
        PageNavigates("http://127.0.0.2:8848/"),
        PageOpensWindow(Episode("6")),
        PageNavigates(Episode("8")),
        PageAsks(Via::Frame, frame),
        [&](HeadlessBackend& backend) {
            unadvised = source->Unadvise(cookie);
            source->Release();
            backend.PageNavigates(hBrowserHost, Episode("7"));
        },
    };
    EXPECT_EQ(run.Run(), 0);
    EXPECT_EQ(advised, S_OK);
    EXPECT_EQ(unadvised, S_OK);

    const std::string dispatch = std::to_string(VT_DISPATCH);
    const std::string byRefVariant = std::to_string(VT_BYREF | VT_VARIANT);
    const std::string byRefBool = std::to_string(VT_BYREF | VT_BOOL);
    const std::string bstr = std::to_string(VT_BSTR);
    // pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel.
    const std::string before = dispatch + " " + byRefVariant + " " + byRefVariant + " " +
                               byRefVariant + " " + byRefVariant + " " + byRefVariant + " " +
                               byRefBool + ":" + bstr;
    const std::string complete = dispatch + " " + byRefVariant + ":" + bstr;
    // ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl.
    const std::string newWindow = std::to_string(VT_BYREF | VT_DISPATCH) + " " + byRefBool + " " +
                                  std::to_string(VT_I4) + " " + bstr + " " + bstr + ":" + bstr;
    // pDisp, URL, TargetFrameName, StatusCode, Cancel. The program cancels the top-level
    // frame's and shows its own page meanwhile; a frame's is left alone.
    const std::string error = dispatch + " " + byRefVariant + " " + byRefVariant + " " +
                              byRefVariant + " " + byRefBool + ":" + bstr;
    const std::string page = NetworkErrorPageAddress();
    const std::vector<SeenEvent> expected = {
        {DISPID_BEFORENAVIGATE2, before, Episode("4"), true, false},
        {DISPID_NAVIGATECOMPLETE2, complete, Episode("4"), true, false},
        {DISPID_BEFORENAVIGATE2, before, Episode("5"), true, false},
        {DISPID_NAVIGATECOMPLETE2, complete, Episode("5"), true, false},
        {DISPID_BEFORENAVIGATE2, before, "http://127.0.0.2:8848/", true, true},
        {DISPID_NEWWINDOW3, newWindow, Episode("6"), false, true},
        {DISPID_BEFORENAVIGATE2, before, Episode("8"), true, false},
        {DISPID_BEFORENAVIGATE2, before, page, true, false},
        {DISPID_NAVIGATEERROR, error, Episode("8"), true, true},
        {DISPID_NAVIGATECOMPLETE2, complete, page, true, false},
        {DISPID_BEFORENAVIGATE2, before, frame, false, false},
        {DISPID_NAVIGATEERROR, error, frame, false, false},
    };
    EXPECT_EQ(sink.events, expected);
    const std::string types = std::to_string(VT_BSTR) + " " + std::to_string(VT_I4) + " ";
    EXPECT_EQ(sink.errors,
              (std::vector<std::string>{types + std::to_string(INET_E_CANNOT_CONNECT),
                                        types + std::to_string(INET_E_CONNECTION_TIMEOUT)}));
    EXPECT_EQ(run.navigations, (std::vector<std::string>{kStartPage, Episode("4"), Episode("5"),
                                                         Episode("8"), page, Episode("7")}));
    EXPECT_TRUE(run.errorPages.empty());
}

TEST_F(BrowserEventsTest, TheEpisodeThePageShowsIsTitledSelectedAndRemembered) {
    struct Case {
        const char* how;
        Entries file;
        std::vector<Action> actions;
        std::string title;
        int selection;
        std::string last;
        bool fileKept; // the file is not written at all
    } cases[] = {
        {"next twice after a double-click",
         {{"Version", VELMORA_VERSION}, {"Once", "1"}, {"List", "220"}, {"Last", "1"}},
         {DoubleClick(3), PageNavigates(Episode("5")), PageNavigates(Episode("6"))},
         "Tessavo第6集 - VelmoraPlayer " VELMORA_VERSION,
         5,
         "6",
         false},
        {"with a Title, leading zeros",
         {{"Version", VELMORA_VERSION},
          {"Once", "1"},
          {"List", "220"},
          {"Last", "1"},
          {"Title", "abc"}},
         {PageNavigates(Episode("007"))},
         "Tessavo第7集 - abc - VelmoraPlayer " VELMORA_VERSION,
         6,
         "7",
         false},
        {"the stored episode is not written again",
         {{"Version", VELMORA_VERSION}, {"Once", "1"}, {"List", "220"}, {"Last", "06"}},
         {PageNavigates(Episode("6#top"))},
         "Tessavo第6集 - VelmoraPlayer " VELMORA_VERSION,
         5,
         "06",
         true},
        {"the last row of a list cut at 9999 rows",
         {{"Version", VELMORA_VERSION}, {"Once", "1"}, {"List", "20000"}, {"Last", "1"}},
         {PageNavigates(Episode("9999"))},
         "Tessavo第9999集 - VelmoraPlayer " VELMORA_VERSION,
         9998,
         "9999",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        WriteIni(Ini(), c.file);
        const std::string fileBefore = ReadFileBytes(Ini());
        struct stat before {};
        stat(Ini().c_str(), &before);
        PlayerRun run;
        for (const Action& action : c.actions)
            run.steps.push_back(action);
        std::string title;
        int selection = -2;
        run.steps.push_back([&](HeadlessBackend&) {
            title = WindowText(hMainWnd);
            selection = ListSelection(hEpisodeList);
        });
        EXPECT_EQ(run.Run(), 0);
        EXPECT_EQ(title, c.title);
        EXPECT_EQ(selection, c.selection);
        EXPECT_EQ(velmora::test::IniValue(Ini(), "Last"), c.last);
        if (c.fileKept) {
            struct stat after {};
            stat(Ini().c_str(), &after);
            EXPECT_EQ(ReadFileBytes(Ini()), fileBefore);
            EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
        }
        EXPECT_TRUE(run.openedInBrowser.empty());
    }
}

TEST_F(BrowserEventsTest, OtherPagesAndEpisodesOutsideTheListChangeNothing) {
    struct Case {
        const char* how;
        std::string list;
        std::string url;
        bool browser;
    } cases[] = {
        {"start page", "220", kStartPage, true},
        {"download page", "220", kRoot + "video/player/?flv=download", true},
        {"site root", "220", kRoot, true},
        {"episode 0", "220", Episode("0"), true},
        {"not a number", "220", Episode("abc"), true},
        {"with another parameter", "220", Episode("6&x=1"), true},
        {"beyond the list", "220", Episode("221"), true},
        {"beyond the rows of a cut list", "20000", Episode("10000"), true},
        // Without the control's events (as under Wine) the page simply goes on.
        {"no browser events", "220", Episode("6"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        WriteIni(Ini(),
                 {{"Version", VELMORA_VERSION}, {"Once", "1"}, {"List", c.list}, {"Last", "4"}});
        const std::string fileBefore = ReadFileBytes(Ini());
        PlayerRun run;
        run.browserAvailable = c.browser;
        std::string title;
        int selection = -2;
        run.steps = {PageNavigates(c.url), [&](HeadlessBackend&) {
                         title = WindowText(hMainWnd);
                         selection = ListSelection(hEpisodeList);
                     }};
        EXPECT_EQ(run.Run(), 0);
        EXPECT_EQ(run.navigations, (std::vector<std::string>{kStartPage, c.url}));
        EXPECT_EQ(title, kStartTitle);
        EXPECT_EQ(selection, 3);
        EXPECT_EQ(ReadFileBytes(Ini()), fileBefore);
        EXPECT_TRUE(run.openedInBrowser.empty());
    }
}

TEST_F(BrowserEventsTest, OtherSitesAndNewWindowsOpenInTheUsersBrowser) {
    const std::string host = VELMORA_TEST_SITE_HOST;
    struct Case {
        const char* how;
        bool newWindow;
        std::string url;
    } cases[] = {
        {"another host", false, "http://127.0.0.2:8848/video/player/?flv=6"},
        {"another port", false, "http://" + host + ":8849/video/player/?flv=6"},
        {"another scheme", false, "https://" + host + ":8848/video/player/?flv=6"},
        {"new window of the site", true, Episode("6")},
        {"new window of another host", true, "http://127.0.0.2:8848/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        WriteIni(Ini(),
                 {{"Version", VELMORA_VERSION}, {"Once", "1"}, {"List", "220"}, {"Last", "4"}});
        const std::string fileBefore = ReadFileBytes(Ini());
        PlayerRun run;
        HWND mainWindow = nullptr;
        std::string title;
        run.steps = {[&](HeadlessBackend& backend) {
                         mainWindow = hMainWnd;
                         if (c.newWindow)
                             backend.PageOpensWindow(hBrowserHost, c.url);
                         else
                             backend.PageNavigates(hBrowserHost, c.url);
                     },
                     [&](HeadlessBackend&) { title = WindowText(hMainWnd); }};
        EXPECT_EQ(run.Run(), 0);
        EXPECT_EQ(run.openedInBrowser, std::vector<std::string>{c.url});
        EXPECT_EQ(run.openedInBrowserOwners, std::vector<HWND>{mainWindow});
        EXPECT_EQ(run.navigations, std::vector<std::string>{kStartPage});
        EXPECT_TRUE(run.newWindows.empty());
        EXPECT_EQ(title, kStartTitle);
        EXPECT_EQ(ReadFileBytes(Ini()), fileBefore);
    }
}

// A page is content, never a command: the shell would open a file, a share or a program's
// protocol, so only web addresses leave, only from the top-level frame or a new-window
// request (a frame loads without a click), once however often a page asks; nothing outside
// the site is shown in any frame.
TEST_F(BrowserEventsTest, OnlyWebAddressesLeaveAndOnlyFromTheTopLevelOrANewWindow) {
    using Urls = std::vector<std::string>;
    const Urls neverOpened = {"file:///C:/Windows/System32/calc.exe",
                              "FILE:///c:/x.exe",
                              "\\\\host\\share\\x.exe",
                              "//host/share/x.exe",
                              "ms-msdt:/id PCWDiagnostic",
                              "search-ms:query=x",
                              "vbscript:x",
                              "data:text/html,x",
                              "C:\\x.exe"};
    const std::string script = "javascript:void(0)";
    struct Case {
        Via via;
        Urls asked;
        Urls opened; // handed to the user's browser
        Urls shown;  // loaded in the embedded browser (frame or top level) or a new window
    };
    std::vector<Case> cases;
    for (Via via : {Via::TopLevel, Via::Frame, Via::NewWindow}) {
        cases.push_back({via, neverOpened, {}, {}});
        for (const char* web : {"http://other.example/", "HTTPS://OTHER.EXAMPLE/x"})
            cases.push_back({via, {web}, via == Via::Frame ? Urls{} : Urls{web}, {}});
        // The page's own script stays the page's; it never opens a window.
        cases.push_back({via, {script}, {}, via == Via::NewWindow ? Urls{} : Urls{script}});
    }
    Urls burst;
    for (int i = 0; i < 10; ++i)
        burst.push_back("http://other.example/" + std::to_string(i));
    cases.push_back({Via::TopLevel, burst, {burst[0]}, {}});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked.front() + " via " + std::to_string(int(c.via)));
        WriteIni(Ini(),
                 {{"Version", VELMORA_VERSION}, {"Once", "1"}, {"List", "220"}, {"Last", "4"}});
        PlayerRun run;
        for (const std::string& url : c.asked)
            run.steps.push_back(PageAsks(c.via, url));
        EXPECT_EQ(run.Run(), 0);
        EXPECT_EQ(run.openedInBrowser, c.opened);
        Urls shown(run.navigations.begin() + 1, run.navigations.end());
        shown.insert(shown.end(), run.frameNavigations.begin(), run.frameNavigations.end());
        shown.insert(shown.end(), run.newWindows.begin(), run.newWindows.end());
        EXPECT_EQ(shown, c.shown);
    }
}

// The embedded browser saves no file: the site's download the viewer followed opens in the
// user's browser, which asks where to save it.
TEST_F(BrowserEventsTest, ADownloadGoesToTheUsersBrowser) {
    WriteIni(Ini(), {{"Version", VELMORA_VERSION}, {"Once", "1"}, {"List", "220"}, {"Last", "4"}});
    const std::string package = kRoot + "downloads/VelmoraPlayer-setup.exe";
    PlayerRun run;
    run.steps = {[&](HeadlessBackend& backend) { backend.PageDownloads(hBrowserHost, package); }};
    EXPECT_EQ(run.Run(), 0);
    EXPECT_EQ(run.openedInBrowser, std::vector<std::string>{package});
    EXPECT_TRUE(run.downloads.empty());
}

// When the site cannot be reached the viewer sees the program's page, whose 重试 loads what
// failed, so once the site is back they are where they meant to be. The site's own answers (an
// HTTP error) and other failures show as they are. A page is content, never a command: it can
// neither show the program's page nor retry through it.
TEST_F(BrowserEventsTest, AnUnreachableSiteShowsTheProgramsPageAndRetryLoadsWhatFailed) {
    const std::string* page = FindHtmlResource(Utf8(NETWORK_ERROR_PAGE));
    ASSERT_TRUE(page);
    EXPECT_NE(page->find("无法连接到 Tessavo 网站"), std::string::npos);
    const Action retry = PageNavigates(RetryLink()),
                 siteBack = [](HeadlessBackend&backend) { backend.loadErrors.clear(); };
    const std::string own = NetworkErrorPageAddress(), engine = "the engine's page for ";
    using Urls = std::vector<std::string>;
    struct Case {
        const char* how;
        std::map<std::string, HRESULT> errors;
        std::vector<Action> actions;
        Urls shown;  // the program's page included, and the engine's after the address
        int episode; // the one titled and stored at the end; 0: the start title and Last 4
    } cases[] = {
        {"down at start",
         {{kStartPage, INET_E_CANNOT_CONNECT}},
         {siteBack, retry},
         {kStartPage, own, kStartPage},
         0},
        {"still down at the first 重试",
         {{kStartPage, INET_E_RESOURCE_NOT_FOUND}},
         {retry, siteBack, retry},
         {kStartPage, own, kStartPage, own, kStartPage},
         0},
        {"an episode",
         {{Episode("6"), INET_E_CONNECTION_TIMEOUT}},
         {DoubleClick(5), siteBack, retry},
         {kStartPage, Episode("6"), own, Episode("6")},
         6},
        {"HTTP 404", {{Episode("6"), 404}}, {DoubleClick(5), retry}, {kStartPage, Episode("6")}, 6},
        {"not the network's",
         {{kStartPage, E_FAIL}},
         {retry},
         {kStartPage, engine + kStartPage},
         0},
        {"the site links to 重试", {}, {retry}, {kStartPage}, 0},
        {"the site back, its page links to 重试",
         {{kStartPage, INET_E_CANNOT_CONNECT}},
         {siteBack, retry, retry},
         {kStartPage, own, kStartPage},
         0},
        {"a frame asks for 重试",
         {{kStartPage, INET_E_CANNOT_CONNECT}},
         {PageAsks(Via::Frame, RetryLink())},
         {kStartPage, own},
         0},
        {"a page asks for the program's page",
         {},
         {PageNavigates(own), PageAsks(Via::Frame, own), PageAsks(Via::NewWindow, own)},
         {kStartPage},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        WriteIni(Ini(),
                 {{"Version", VELMORA_VERSION}, {"Once", "1"}, {"List", "220"}, {"Last", "4"}});
        PlayerRun run;
        run.loadErrors = c.errors;
        std::string title;
        run.steps.assign(c.actions.begin(), c.actions.end());
        run.steps.push_back([&](HeadlessBackend&) { title = WindowText(hMainWnd); });
        EXPECT_EQ(run.Run(), 0);
        Urls shown = run.navigations;
        for (const std::string& url : run.errorPages)
            shown.push_back(engine + url);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(title, c.episode ? "Tessavo第" + std::to_string(c.episode) +
                                         "集 - VelmoraPlayer " VELMORA_VERSION
                                   : kStartTitle);
        EXPECT_EQ(velmora::test::IniValue(Ini(), "Last"),
                  std::to_string(c.episode ? c.episode : 4));
        EXPECT_TRUE(run.frameNavigations.empty() && run.newWindows.empty() &&
                    run.openedInBrowser.empty());
    }
}

} // namespace
