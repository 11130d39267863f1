#include "Options.h"

#include "Content.h"
#include "Text.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

namespace velmora::site {

const char* const kSiteVersion = VELMORA_SITE_VERSION;

namespace {

// A plain decimal option value (no sign, blanks or leading zeros), at most max.
bool ParseNumber(const std::string& text, long max, long* value) {
    std::optional<uint64_t> number = ParseDecimal(text, static_cast<uint64_t>(max));
    if (number) {
        *value = static_cast<long>(*number);
    }
    return number.has_value();
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
           "notice, latest version, download page and home page.\n"
           "\n"
           "  --listen ADDR      IPv4 or IPv6 address to listen on (default 127.0.0.1;\n"
           "                     :: takes IPv4 clients too)\n"
           "  --port N           TCP port, 0 for any free port (default 8848)\n"
           "  --media DIR        folder of episode files named by number (001.mp4, 2.webm)\n"
           "  --downloads DIR    folder whose files the download page offers\n"
           "  --episodes N       episode count (default: the highest episode number in\n"
           "                     the media folder, missing ones in between get a\n"
           "                     placeholder page; 24 when no media folder is given)\n"
           "  --notice TEXT      the one-line notice (UTF-8)\n"
           "  --notice-file PATH read the notice from this file, again on SIGHUP\n"
           "  --latest-version TEXT  the latest player version (default 1.0)\n"
           "  --latest-version-file PATH  read it from this file, again on SIGHUP\n"
           "  --charset NAME     character set of the plain-text answers: gbk or utf-8\n"
           "                     (default gbk: the players read them in the system's ANSI\n"
           "                     code page, which is GBK on Chinese Windows and, on Linux,\n"
           "                     under a Chinese locale whatever its character set)\n"
           "  --threads N        epoll threads serving requests (default: one per CPU,\n"
           "                     at most 8)\n"
           "  --log-file PATH    append the request log there instead of stdout; SIGHUP\n"
           "                     reopens it\n"
           "  --trust-proxy      behind a reverse proxy: log the X-Forwarded-For chain\n"
           "                     before the client address, no per-address limit\n"
           "  --max-per-address N  open connections from one client address (default 256,\n"
           "                     0: no limit)\n"
           "  --header-timeout S seconds a request's headers may take (default 10)\n"
           "  --stop-timeout S   on SIGTERM or SIGINT, seconds the transfers in flight may\n"
           "                     take to finish (default 10)\n"
           "  --user NAME        switch to this user after opening the port (needs root)\n"
           "  --version          print the site's own version and exit\n"
           "  --help             show this text and exit\n"
           "\n"
           "Options also take the form --name=value. Each request is logged as one line\n"
           "when its answer has ended:\n"
           "  TIME CLIENT METHOD PATH?QUERY STATUS BYTES SECONDS \"USER-AGENT\"\n"
           "TIME in UTC, BYTES the body bytes sent, STATUS 0 when no answer was sent; bytes\n"
           "outside printable ASCII show as %XX. Answers to what was not a request show\n"
           "METHOD and PATH?QUERY as -.\n";
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

bool ReadTextFile(const std::string& label, const std::string& path, const std::string& charset,
                  std::string* text, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        *error = label + " cannot be read: " + path;
        return false;
    }
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        *error = label + " cannot be read: " + path;
        return false;
    }
    // One final line break is how editors end a file, not a second line.
    if (content.size() >= 1 && content.back() == '\n') {
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
    if (!options.noticeFile.empty() &&
        !ReadTextFile("--notice-file", options.noticeFile, options.charset, &notice, error)) {
        return false;
    }
    if (!options.versionFile.empty() && !ReadTextFile("--latest-version-file", options.versionFile,
                                                      options.charset, &version, error)) {
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
    bool perAddressGiven = false;
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
        if (name == "--trust-proxy") {
            if (inlineValue) {
                return Fail("--trust-proxy takes no value");
            }
            options.trustProxy = true;
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
        static const char* const known[] = {"--listen",
                                            "--port",
                                            "--media",
                                            "--downloads",
                                            "--episodes",
                                            "--notice",
                                            "--notice-file",
                                            "--latest-version",
                                            "--latest-version-file",
                                            "--charset",
                                            "--threads",
                                            "--log-file",
                                            "--max-per-address",
                                            "--header-timeout",
                                            "--stop-timeout",
                                            "--user"};
        if (std::find_if(std::begin(known), std::end(known),
                         [&](const char* k) { return name == k; }) == std::end(known)) {
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

        if (name == "--listen") {
            in_addr v4;
            in6_addr v6;
            if (inet_pton(AF_INET, value.c_str(), &v4) != 1 &&
                inet_pton(AF_INET6, value.c_str(), &v6) != 1) {
                return Fail("--listen needs an IP address such as 127.0.0.1 or ::1, got '" + value +
                            "'");
            }
            options.listen = value;
        } else if (name == "--port") {
            long port;
            if (!ParseNumber(value, 65535, &port)) {
                return Fail("--port needs a number from 0 to 65535, got '" + value + "'");
            }
            options.port = static_cast<int>(port);
        } else if (name == "--media" || name == "--downloads") {
            if (!IsDirectory(value)) {
                return Fail(name + " needs an existing folder, got '" + value + "'");
            }
            (name == "--media" ? options.mediaDir : options.downloadsDir) = value;
        } else if (name == "--episodes") {
            long count;
            if (!ParseNumber(value, kMaxEpisodes, &count)) {
                return Fail("--episodes needs a number from 0 to " + std::to_string(kMaxEpisodes) +
                            ", got '" + value + "'");
            }
            options.episodes = count;
        } else if (name == "--notice" || name == "--latest-version") {
            if (!IsValidUtf8(value)) {
                return Fail(name + " must be UTF-8 text");
            }
            (name == "--notice" ? options.notice : options.version) = value;
        } else if (name == "--notice-file" || name == "--latest-version-file" ||
                   name == "--log-file" || name == "--user") {
            if (value.empty()) {
                return Fail("option " + name + " needs a value");
            }
            (name == "--notice-file"           ? options.noticeFile
             : name == "--latest-version-file" ? options.versionFile
             : name == "--log-file"            ? options.logFile
                                               : options.user) = value;
        } else if (name == "--charset") {
            std::string charset = AsciiLower(value);
            if (charset == "utf8") {
                charset = "utf-8";
            }
            if (charset != "utf-8" && charset != "gbk") {
                return Fail("--charset must be utf-8 or gbk, got '" + value + "'");
            }
            options.charset = charset;
        } else if (name == "--threads") {
            long threads;
            if (!ParseNumber(value, 64, &threads) || threads < 1) {
                return Fail("--threads needs a number from 1 to 64, got '" + value + "'");
            }
            options.threads = static_cast<unsigned>(threads);
        } else if (name == "--max-per-address" || name == "--header-timeout" ||
                   name == "--stop-timeout") {
            long number;
            bool zeroAllowed = name == "--max-per-address";
            if (!ParseNumber(value, 1000000, &number) || (number == 0 && !zeroAllowed)) {
                return Fail(name + " needs a number from " + (zeroAllowed ? "0" : "1") +
                            " to 1000000, got '" + value + "'");
            }
            if (name == "--max-per-address") {
                options.perAddress = static_cast<unsigned>(number);
                perAddressGiven = true;
            } else {
                (name == "--header-timeout" ? options.headerSeconds : options.stopSeconds) =
                    static_cast<unsigned>(number);
            }
        }
    }
    // Behind a proxy every connection comes from the proxy's address.
    if (options.trustProxy && !perAddressGiven) {
        options.perAddress = 0;
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
