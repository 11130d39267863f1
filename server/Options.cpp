#include "Options.h"

#include "Content.h"
#include "Text.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <functional>
#include <iterator>

namespace velmora::site {

const char* const kSiteVersion = VELMORA_VERSION;

namespace {

// "a,b" into addresses in the text the log shows them in (inet_ntop's); false when one is
// no IP address.
bool ParseAddresses(const std::string& list, std::vector<std::string>* addresses) {
    size_t start = 0;
    for (;;) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string address = list.substr(start, comma - start);
        unsigned char binary[sizeof(in6_addr)];
        char text[INET6_ADDRSTRLEN];
        const int family = address.find(':') == std::string::npos ? AF_INET : AF_INET6;
        if (inet_pton(family, address.c_str(), binary) != 1 ||
            !inet_ntop(family, binary, text, sizeof text)) {
            return false;
        }
        addresses->push_back(text);
        if (comma == list.size()) {
            return true;
        }
        start = comma + 1;
    }
}

ParseResult Fail(std::string message) {
    ParseResult result;
    result.action = ParseResult::Error;
    result.message = std::move(message);
    return result;
}

} // namespace

std::string HelpText() {
    return "Usage: velmora-site [options]\n"
           "Serves the Tessavo content site: start page, episode pages, episode count,\n"
           "notice, latest version, download page and home page. On its own it is for\n"
           "loopback or a trusted network; on the internet, put nginx in front.\n"
           "\n"
           "  --listen ADDR      IPv4 or IPv6 address (default 127.0.0.1; :: takes IPv4 too)\n"
           "  --port N           TCP port, 0 for any free port (default 8848)\n"
           "  --media DIR        folder of episode files named by number (001.mp4, 2.webm)\n"
           "  --downloads DIR    folder whose files the download page offers\n"
           "  --episodes N       episode count (default: the highest in --media, else 24)\n"
           "  --notice TEXT      the one-line notice (UTF-8)\n"
           "  --notice-file PATH read the notice from this file, again on SIGHUP\n"
           "  --latest-version TEXT  the latest player version (default " VELMORA_VERSION ")\n"
           "  --latest-version-file PATH  read it from this file, again on SIGHUP\n"
           "  --charset NAME     of the plain-text answers: gbk (default) or utf-8\n"
           "  --threads N        server threads (default: one per CPU, at most 8)\n"
           "  --log-file PATH    append the request log here, not to stdout (SIGHUP reopens)\n"
           "  --trust-proxy [ADDR,...]  proxies (default 127.0.0.1,::1) whose X-Forwarded-For\n"
           "                     is logged before them and who have no per-address limit\n"
           "  --max-per-address N  open connections from one address (default 256, 0: any)\n"
           "  --header-timeout S seconds a silent connection stays open (default 60)\n"
           "  --stop-timeout S   seconds transfers in flight get on SIGTERM (default 10)\n"
           "  --user NAME        switch to this user after opening the port (needs root)\n"
           "  --version          print the site's own version and exit\n"
           "  --help             show this text and exit\n"
           "\n"
           "Options also take the form --name=value. Each request is logged as one line:\n"
           "  TIME CLIENT METHOD PATH?QUERY STATUS BYTES SECONDS \"USER-AGENT\"\n"
           "TIME in UTC, BYTES the answer's body size, STATUS 0 when no answer was sent;\n"
           "bytes outside printable ASCII show as %XX.\n";
}

namespace {

// What a notice or version text must be to be served: UTF-8, one line (the player keeps
// only the first), and expressible in the character set of the answers.
bool CheckText(const std::string& label, const std::string& text, const std::string& charset,
               std::string* error) {
    if (!IsValidUtf8(text)) {
        *error = label + " must be UTF-8 text";
        return false;
    }
    if (text.find_first_of("\r\n") != std::string::npos) {
        *error = label + " must be one line: the player keeps only the first";
        return false;
    }
    // The plain-text answers are sent in the chosen character set; finding out now beats
    // serving '?' to every player.
    if (!FromUtf8(text, charset)) {
        *error = label + " text cannot be encoded in " + charset;
        return false;
    }
    return true;
}

// Far above one line of notice or version.
constexpr size_t kMostTextFileBytes = 64 * 1024;

// The file is read as whoever starts the site, root too, from a folder others may write to:
// a link in its place is not followed, and only a regular file is read (a FIFO does not
// block the start).
bool ReadTextFile(const std::string& label, const std::string& path, const std::string& charset,
                  std::string* text, std::string* error) {
    std::string content;
    const std::string where = label + " cannot be read: " + path;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = where + (errno == ELOOP ? ": a symbolic link is not followed" : "");
        return false;
    }
    struct stat info {};
    std::string why = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? "" : ": not a regular file";
    for (char chunk[4096]; why.empty();) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got == 0) {
            break;
        }
        if (got < 0 || content.size() + static_cast<size_t>(got) > kMostTextFileBytes) {
            why = got < 0 ? ": " + std::string(strerror(errno))
                          : ": longer than " + std::to_string(kMostTextFileBytes) + " bytes";
        } else {
            content.append(chunk, static_cast<size_t>(got));
        }
    }
    close(fd);
    if (!why.empty()) {
        *error = where + why;
        return false;
    }
    // One final line break is how editors end a file, not a second line.
    if (!content.empty() && content.back() == '\n') {
        content.pop_back();
        if (!content.empty() && content.back() == '\r') {
            content.pop_back();
        }
    }
    if (!CheckText(label + " " + path, content, charset, error)) {
        return false;
    }
    *text = std::move(content);
    return true;
}

} // namespace

bool ReadTextFiles(Options& options, std::string* error) {
    std::string notice = options.notice;
    std::string version = options.version;
    if ((!options.noticeFile.empty() &&
         !ReadTextFile("--notice-file", options.noticeFile, options.charset, &notice, error)) ||
        (!options.versionFile.empty() && !ReadTextFile("--latest-version-file", options.versionFile,
                                                       options.charset, &version, error))) {
        return false;
    }
    options.notice = std::move(notice);
    options.version = std::move(version);
    return true;
}

ParseResult ParseOptions(const std::vector<std::string>& args) {
    ParseResult result;
    Options& options = result.options;
    options.notice = kDefaultNotice;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (name == "--help" || name == "-h") {
            result.action = ParseResult::Help;
            return result;
        }
        if (name.rfind("--", 0) != 0) {
            return Fail("unexpected argument '" + name + "' (try --help)");
        }
        size_t equals = name.find('=');
        if (equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name.erase(equals);
        }
        // Bare, it trusts a proxy on this machine; an argument that is no option is the
        // list of addresses.
        if (name == "--trust-proxy") {
            std::string list = "127.0.0.1,::1";
            if (inlineValue) {
                list = *inlineValue;
            } else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
                list = args[++i];
            }
            if (!ParseAddresses(list, &options.trustedProxies)) {
                return Fail("--trust-proxy needs IP addresses separated by commas, got '" + list +
                            "'");
            }
            continue;
        }
        // "--version" alone prints the site's version; followed by a value it is the old
        // spelling of --latest-version.
        if (name == "--version") {
            if (!inlineValue && (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0)) {
                result.action = ParseResult::Version;
                return result;
            }
            result.warnings.push_back(
                "--version TEXT is the old spelling of --latest-version TEXT; --version "
                "alone prints the site's version");
            name = "--latest-version";
        }
        // Numbers: their range and where they go.
        struct Number {
            const char* name;
            long least;
            long most;
            std::function<void(long)> set;
        };
        const auto unsignedInto = [](unsigned& field) {
            return [&field](long v) { field = static_cast<unsigned>(v); };
        };
        const Number numbers[] = {
            {"--port", 0, 65535, [&](long v) { options.port = static_cast<int>(v); }},
            {"--episodes", 0, kMaxEpisodes, [&](long v) { options.episodes = v; }},
            {"--threads", 1, 64, unsignedInto(options.threads)},
            {"--max-per-address", 0, 1000000,
             [&](long v) { options.perAddress = static_cast<unsigned>(v); }},
            {"--header-timeout", 1, 1000000, unsignedInto(options.timeoutSeconds)},
            {"--stop-timeout", 1, 1000000, unsignedInto(options.stopSeconds)},
        };
        const std::pair<const char*, std::string*> texts[] = {
            {"--listen", &options.listen},
            {"--media", &options.mediaDir},
            {"--downloads", &options.downloadsDir},
            {"--notice", &options.notice},
            {"--notice-file", &options.noticeFile},
            {"--latest-version", &options.version},
            {"--latest-version-file", &options.versionFile},
            {"--charset", &options.charset},
            {"--log-file", &options.logFile},
            {"--user", &options.user}};
        const Number* number = std::find_if(std::begin(numbers), std::end(numbers),
                                            [&](const Number& n) { return name == n.name; });
        const auto* text = std::find_if(std::begin(texts), std::end(texts),
                                        [&](const auto& t) { return name == t.first; });
        if (number == std::end(numbers) && text == std::end(texts)) {
            return Fail("unknown option '" + name + "' (try --help)");
        }
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return Fail("option " + name + " needs a value");
        }
        if (number != std::end(numbers)) {
            std::optional<uint64_t> parsed =
                ParseDecimal(value, static_cast<uint64_t>(number->most));
            if (!parsed || static_cast<long>(*parsed) < number->least) {
                return Fail(name + " needs a number from " + std::to_string(number->least) +
                            " to " + std::to_string(number->most) + ", got '" + value + "'");
            }
            number->set(static_cast<long>(*parsed));
            continue;
        }
        in_addr v4;
        in6_addr v6;
        if (name == "--listen" && inet_pton(AF_INET, value.c_str(), &v4) != 1 &&
            inet_pton(AF_INET6, value.c_str(), &v6) != 1) {
            return Fail("--listen needs an IP address such as 127.0.0.1 or ::1, got '" + value +
                        "'");
        }
        struct stat st;
        if ((name == "--media" || name == "--downloads") &&
            (stat(value.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
            return Fail(name + " needs an existing folder, got '" + value + "'");
        }
        if (value.empty() && name != "--notice" && name != "--latest-version") {
            return Fail("option " + name + " needs a value");
        }
        if (name == "--charset") {
            const std::string charset = AsciiLower(value) == "utf8" ? "utf-8" : AsciiLower(value);
            if (charset != "utf-8" && charset != "gbk") {
                return Fail("--charset must be utf-8 or gbk, got '" + value + "'");
            }
            value = charset;
        }
        *text->second = value;
    }
    std::string error;
    if (!CheckText("--notice", options.notice, options.charset, &error) ||
        !CheckText("--latest-version", options.version, options.charset, &error) ||
        !ReadTextFiles(options, &error)) {
        return Fail(error);
    }
    return result;
}

} // namespace velmora::site
