#include "Pages.h"

#include "Content.h"
#include "Text.h"

#include <algorithm>

namespace velmora::site {

namespace {

// The Windows player's browser control is IE9-11 (no flex gap; in IE7 mode, should a page
// ever land there, no flexbox either), so the layout uses floats, margins and padding, which
// WebKitGTK and every IE mode render alike. zoom:1 makes IE7 contain the floated tiles.
const char* const kStyle =
    "body{font-family:sans-serif;background:#14161c;color:#e8e8ee;margin:0;padding:16px}"
    "a{color:#7cc4ff}h1{font-size:22px;margin:0 0 12px}"
    ".notice{background:#2a2f3a;padding:8px 12px;border-radius:4px;margin-bottom:12px}"
    ".grid{zoom:1}.grid:after{content:\"\";display:block;clear:both}"
    ".grid a{float:left;display:block;width:64px;margin:0 6px 6px 0;padding:6px 0;"
    "text-align:center;background:#232733;border-radius:4px;text-decoration:none}"
    "video{width:100%;max-width:960px;background:#000}"
    ".placeholder{max-width:960px;padding:168px 0;line-height:24px;background:#232733;"
    "text-align:center;font-size:20px;border-radius:4px}"
    ".nav{margin-top:12px}.nav a,.nav span{margin-right:12px}.nav span{color:#666}"
    ".note{margin:8px 0 0;font-size:14px;color:#aab}";

// Resume, run-on, the viewer's sound and the keys on the episode page, after its video. ES5
// and only what IE11 has: the Windows player's browser control is IE11. Called with the
// episode's storage key.
const char* const kEpisodeScript = R"js(<script>
(function (key) {
    function byId(id) { return document.getElementById(id); }
    function show(id, shown) { byId(id).style.display = shown ? '' : 'none'; }
    function two(n) { return (n < 10 ? '0' : '') + n; }
    // Storage may be missing or throw (private mode, quota): playback never depends on it.
    function storage(use) { try { return use(window.localStorage); } catch (e) { return null; } }
    var video = byId('video'), runOn = byId('runon'), edge = 5, saved = null, timer;
    // The count the page states is where the run-on counts down from.
    var left, from = runOn ? parseInt(byId('runon-left').textContent, 10) : 0;
    var stored = parseInt(storage(function (s) { return s.getItem(key); }), 10);
    // A position at either end is no place to resume from, so it is not kept.
    function inside(at) { return at >= edge && at <= video.duration - edge; }
    function save() {
        if (saved === null) return; // before the metadata nothing is known
        var at = saved = Math.floor(video.currentTime);
        storage(function (s) { return inside(at) ? s.setItem(key, at) : s.removeItem(key); });
    }
    function start() {
        var h = Math.floor(stored / 3600), m = Math.floor(stored / 60) % 60;
        if (inside(stored)) {
            video.currentTime = stored; // should the seek throw, saved stays null: nothing lost
            byId('resume-at').textContent = '从 ' + (h ? h + ':' + two(m) : m) + ':' +
                two(stored % 60) + ' 继续播放';
            show('resume', true);
        }
        saved = Math.floor(video.currentTime);
    }
    function cancel() { clearTimeout(timer); if (runOn) show('runon', false); return false; }
    function countDown() {
        byId('runon-left').textContent = left;
        // The next page's own address, as its link has it: the player follows the navigation.
        timer = setTimeout(--left > 0 ? countDown : function () {
            location.href = byId('next').href;
        }, 1000);
    }
    // The viewer's volume and mute carry over to the next episode. What is read back is
    // checked first: any page of this site could have stored anything under these keys.
    var volume = storage(function (s) { return s.getItem('velmora.volume'); });
    var muted = storage(function (s) { return s.getItem('velmora.muted'); });
    if (/^(0(\.[0-9]{1,3})?|1)$/.test(volume)) video.volume = Number(volume);
    if (muted === 'true' || muted === 'false') video.muted = muted === 'true';
    video.addEventListener('volumechange', function () {
        storage(function (s) {
            s.setItem('velmora.volume', String(Math.round(video.volume * 100) / 100));
            s.setItem('velmora.muted', String(video.muted));
        });
    });
    video.addEventListener('timeupdate', function () {
        if (!video.seeking && Math.abs(video.currentTime - saved) >= 5) save();
    });
    video.addEventListener('pause', save);
    window.addEventListener('pagehide', save);
    video.addEventListener('play', cancel);
    video.addEventListener('seeking', cancel);
    video.addEventListener('ended', function () {
        storage(function (s) { s.removeItem(key); });
        if (!runOn) return;
        show('runon', true);
        left = from;
        countDown();
    });
    if (video.readyState > 0) start(); else video.addEventListener('loadedmetadata', start);
    byId('restart').onclick = function () {
        video.currentTime = 0; video.play(); show('resume', false); return false;
    };
    if (runOn) byId('cancel').onclick = cancel;
    function clamp(value, low, high) { return Math.max(low, Math.min(high, value)); }
    function seek(by) {
        var end = video.duration; // NaN before the metadata
        if (end > 0) video.currentTime = clamp(video.currentTime + by, 0, end);
    }
    // Rounded: steps of 0.1 would otherwise drift off the tenths.
    function louder(by) { video.volume = clamp(Math.round((video.volume + by) * 10) / 10, 0, 1); }
    // IE11 has only the ms-prefixed calls, WebKitGTK may have only the webkit ones.
    function fullscreen() {
        var d = document, v = video;
        var now = d.fullscreenElement || d.msFullscreenElement || d.webkitFullscreenElement;
        var leave = d.exitFullscreen || d.msExitFullscreen || d.webkitExitFullscreen;
        var enter = v.requestFullscreen || v.msRequestFullscreen || v.webkitRequestFullscreen;
        if (now && leave) leave.call(d); else if (!now && enter) enter.call(v);
    }
    function playPause() { if (video.paused || video.ended) video.play(); else video.pause(); }
    // By keyCode, which IE11 and WebKit agree on (their key names differ).
    var keys = {
        32: playPause, 75: playPause, 37: function () { seek(-5); }, 39: function () { seek(5); },
        38: function () { louder(0.1); }, 40: function () { louder(-0.1); },
        77: function () { video.muted = !video.muted; }, 70: fullscreen
    };
    document.addEventListener('keydown', function (e) {
        var focus = document.activeElement, handle = keys[e.keyCode];
        // A focused link, button or field keeps its keys (Space, arrows), and so do the
        // browser's shortcuts.
        if (!handle || e.defaultPrevented || e.ctrlKey || e.altKey || e.metaKey || e.shiftKey ||
            (focus && (/^(A|BUTTON|INPUT|SELECT|TEXTAREA)$/.test(focus.tagName) ||
                       focus.isContentEditable))) return;
        e.preventDefault();
        handle();
    });
}('velmora.position.)js";

std::string Page(const std::string& title, const std::string& body) {
    std::string html;
    html.reserve(body.size() + 1024);
    // IE takes the X-UA-Compatible tag only before anything but other meta tags in <head>.
    html += "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    html += HtmlEscape(title);
    html += "</title>\n<style>";
    html += kStyle;
    html += "</style>\n</head>\n<body>\n";
    html += body;
    html += "</body>\n</html>\n";
    return html;
}

std::string Link(const std::string& href, const std::string& text, const std::string& id = "") {
    return "<a " + (id.empty() ? "" : "id=\"" + id + "\" ") + "href=\"" + HtmlEscape(href) + "\">" +
           HtmlEscape(text) + "</a>";
}

std::string EpisodeName(long number) {
    return "第" + std::to_string(number) + "集";
}

std::string HumanSize(uint64_t bytes) {
    const char* units[] = {"B", "KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

// Addresses as seen from the player folder, where every page but the home page is; media
// and downloads are at "../../media/" and "../../downloads/" from there.
std::string PlayerAddress(const std::string& flv) {
    return "?flv=" + PercentEncode(flv);
}

} // namespace

std::string HomePage() {
    std::string series = kSeriesName;
    std::string body = "<h1>" + HtmlEscape(series) + "</h1>\n<p>在线观看《" + HtmlEscape(series) +
                       "》全部剧集。</p>\n<ul>\n<li>" +
                       Link("video/player/" + PlayerAddress("index"), "开始观看") + "</li>\n<li>" +
                       Link("video/player/" + PlayerAddress("download"), "下载播放器") +
                       "</li>\n</ul>\n";
    return Page(series, body);
}

std::string StartPage(const std::string& notice, long count) {
    std::string series = kSeriesName;
    std::string body = "<h1>" + HtmlEscape(series) + "</h1>\n<div class=\"notice\">" +
                       HtmlEscape(notice) + "</div>\n";
    if (count == 0) {
        body += "<p>暂无剧集，敬请期待。</p>\n";
    } else {
        const long listed = std::min(count, kMaxListedEpisodes);
        body += "<div class=\"grid\">\n";
        for (long n = 1; n <= listed; ++n) {
            body += Link(PlayerAddress(std::to_string(n)), EpisodeName(n));
            body += '\n';
        }
        body += "</div>\n";
        if (listed < count) {
            body += "<p>共 " + std::to_string(count) + " 集，此处列出前 " + std::to_string(listed) +
                    " 集。</p>\n";
        }
    }
    return Page(series + " - 剧集列表", body);
}

std::string EpisodePage(long number, long count, const std::vector<std::string>& mediaFiles) {
    std::string title = std::string(kSeriesName) + " " + EpisodeName(number);
    std::string body = "<h1>" + HtmlEscape(title) + "</h1>\n";
    if (!mediaFiles.empty()) {
        body += "<video controls autoplay preload=\"auto\" id=\"video\">\n";
        for (const std::string& file : mediaFiles) {
            body += "<source src=\"" + HtmlEscape("../../media/" + PercentEncode(file)) +
                    "\" type=\"" + MediaContentType(file) + "\">\n";
        }
        body += "您的浏览器不支持视频播放。\n</video>\n<p id=\"resume\" class=\"note\" "
                "style=\"display:none\"><span id=\"resume-at\"></span> <a id=\"restart\" "
                "href=\"#\">从头播放</a></p>\n";
        if (number < count) {
            body += "<p id=\"runon\" class=\"note\" style=\"display:none\">下一集将在 <span "
                    "id=\"runon-left\">" +
                    std::to_string(kRunOnSeconds) +
                    "</span> 秒后播放 <a id=\"cancel\" href=\"#\">取消</a></p>\n";
        }
        body += kEpisodeScript + std::to_string(number) + "'));\n</script>\n";
    } else {
        body += "<div class=\"placeholder\">" + HtmlEscape(EpisodeName(number)) +
                "：视频即将上线，敬请期待。</div>\n";
    }
    // Spaces between the links as well as margins: they stay apart even unstyled.
    body += "<div class=\"nav\">";
    body += number > 1 ? Link(PlayerAddress(std::to_string(number - 1)), "上一集")
                       : std::string("<span>上一集</span>");
    body += ' ';
    body += Link(PlayerAddress("index"), "剧集列表");
    body += ' ';
    body += number < count ? Link(PlayerAddress(std::to_string(number + 1)), "下一集", "next")
                           : std::string("<span>下一集</span>");
    body += "</div>\n";
    return Page(title, body);
}

std::string DownloadPage(const std::string& latestVersion,
                         const std::vector<DownloadEntry>& files) {
    std::string body = "<h1>" + HtmlEscape(std::string(kSeriesName) + " 播放器下载") + "</h1>\n";
    if (!latestVersion.empty()) {
        body += "<p>最新版本：" + HtmlEscape(latestVersion) + "</p>\n";
    }
    if (files.empty()) {
        body += "<p>暂无可下载的文件。</p>\n";
    } else {
        body += "<ul>\n";
        for (const DownloadEntry& file : files) {
            body += "<li><a href=\"" + HtmlEscape("../../downloads/" + PercentEncode(file.name)) +
                    "\" download>" + HtmlEscape(file.name) + "</a> (" + HumanSize(file.size) + ")";
            if (!file.sha256.empty()) {
                body += "<br><span class=\"note\">SHA-256: <code>" + file.sha256 + "</code></span>";
            }
            body += "</li>\n";
        }
        body += "</ul>\n";
    }
    body += "<p>" + Link("../../", "返回首页") + "</p>\n";
    return Page(std::string(kSeriesName) + " - 下载", body);
}

Response HtmlResponse(unsigned status, std::string html) {
    Response response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    // The header as well as the pages' meta tag: the Windows player's browser control would
    // otherwise render in IE7 mode, without <video>.
    response.headers.emplace_back("X-UA-Compatible", "IE=edge");
    // Players keep no stale page: a changed episode list or media file shows at once.
    response.headers.emplace_back("Cache-Control", "no-cache");
    response.body = std::move(html);
    return response;
}

Response ErrorResponse(unsigned status, const std::string& path) {
    // "../" once per folder below the root, so the link leads home whatever the prefix.
    std::string home;
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        home += "../";
    }
    const std::string homeLink = "<p>" + Link(home.empty() ? "./" : home, "返回首页") + "</p>\n";
    // Title and text by status; anything else is a page not found.
    const auto [title, text] =
        status == 403   ? std::pair("禁止访问", "没有权限访问此文件。")
        : status == 405 ? std::pair("不支持的请求方法", "只支持 GET 和 HEAD 请求。")
        : status == 503 ? std::pair("服务暂时不可用", "服务器暂时无法提供此文件，请稍后再试。")
                        : std::pair("页面不存在", "页面不存在。");
    const std::string code = std::to_string(status);
    return HtmlResponse(status, Page(code + " - " + title,
                                     "<h1>" + code + "</h1>\n<p>" + text + "</p>\n" + homeLink));
}

} // namespace velmora::site
