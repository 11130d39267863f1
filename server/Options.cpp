#include "Options.h"

#include "Content.h"
#include "Text.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace velmora::site {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A plain decimal number without sign, blanks or leading zeros beyond "0" itself.
bool ParseDecimal(const std::string& text, long max, long* value) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + (c - '0');
    }
    if (result > max) {
        return false;
    }
    *value = result;
    return true;
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
           "  --listen ADDR      IPv4 address to listen on (default 127.0.0.1)\n"
           "  --port N           TCP port, 0 for any free port (default 8848)\n"
           "  --media DIR        folder of episode files named by number (001.mp4, 2.webm)\n"
           "  --downloads DIR    folder whose files the download page offers\n"
           "  --episodes N       episode count (default: the highest episode number in\n"
           "                     the media folder, missing ones in between get a\n"
           "                     placeholder page; 24 when no media folder is given)\n"
           "  --notice TEXT      the one-line notice (UTF-8)\n"
           "  --version TEXT     the latest player version (default 1.0)\n"
           "  --charset NAME     character set of the plain-text answers: gbk or utf-8\n"
           "                     (default gbk: the players read them in the system's ANSI\n"
           "                     code page, which is GBK on Chinese Windows and, on Linux,\n"
           "                     under a Chinese locale whatever its character set)\n"
           "  --threads N        epoll threads serving requests (default: one per CPU)\n"
           "  --help             show this text and exit\n"
           "\n"
           "Options also take the form --name=value. Each request is logged to stdout as\n"
           "one line: METHOD PATH?QUERY STATUS BYTES, where METHOD and PATH?QUERY show\n"
           "bytes outside printable ASCII as %XX.\n";
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
        static const char* const known[] = {"--listen",    "--port",     "--media",
                                            "--downloads", "--episodes", "--notice",
                                            "--version",   "--charset",  "--threads"};
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
            in_addr address;
            if (inet_pton(AF_INET, value.c_str(), &address) != 1) {
                return Fail("--listen needs an IPv4 address such as 127.0.0.1, got '" + value +
                            "'");
            }
            options.listen = value;
        } else if (name == "--port") {
            long port;
            if (!ParseDecimal(value, 65535, &port)) {
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
            if (!ParseDecimal(value, kMaxEpisodes, &count)) {
                return Fail("--episodes needs a number from 0 to " + std::to_string(kMaxEpisodes) +
                            ", got '" + value + "'");
            }
            options.episodes = count;
        } else if (name == "--notice" || name == "--version") {
            if (!IsValidUtf8(value)) {
                return Fail(name + " must be UTF-8 text");
            }
            (name == "--notice" ? options.notice : options.version) = value;
        } else if (name == "--charset") {
            std::string charset = Lower(value);
            if (charset == "utf8") {
                charset = "utf-8";
            }
            if (charset != "utf-8" && charset != "gbk") {
                return Fail("--charset must be utf-8 or gbk, got '" + value + "'");
            }
            options.charset = charset;
        } else if (name == "--threads") {
            long threads;
            if (!ParseDecimal(value, 64, &threads) || threads < 1) {
                return Fail("--threads needs a number from 1 to 64, got '" + value + "'");
            }
            options.threads = static_cast<unsigned>(threads);
        }
    }
    // The plain-text answers are sent in the chosen character set, so what they say must
    // be expressible there; finding out now beats serving '?' to every player.
    for (const auto& [label, text] :
         {std::pair<const char*, const std::string*>{"--notice", &options.notice},
          {"--version", &options.version}}) {
        if (!FromUtf8(*text, options.charset)) {
            return Fail(std::string(label) + " text cannot be encoded in " + options.charset);
        }
    }
    return result;
}

} // namespace velmora::site
