// Command-line options of velmora-site.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora::site {

struct Options {
    std::string listen = "127.0.0.1";
    int port = 8848;          // 0 lets the system pick a free port
    std::string mediaDir;     // empty: no media, every episode gets its placeholder page
    std::string downloadsDir; // empty: the download page lists nothing
    std::optional<long> episodes;
    std::string notice;                    // UTF-8, one line
    std::string version = VELMORA_VERSION; // the latest player version (--latest-version)
    std::string noticeFile;      // when given, the notice comes from there (and on SIGHUP)
    std::string versionFile;     // likewise for the latest version
    std::string charset = "gbk"; // of the plain-text answers: "gbk" or "utf-8"
    unsigned threads = 0;        // server threads; 0: one per CPU, at most 8
    std::string logFile;         // empty: the request log goes to stdout
    // Proxies whose X-Forwarded-For is logged and whose connections are not limited per
    // address (canonical text, as the log shows addresses); empty: nobody's.
    std::vector<std::string> trustedProxies;
    unsigned perAddress = 256;    // connections from one address; 0: no limit
    unsigned timeoutSeconds = 60; // a connection silent this long is closed
    unsigned stopSeconds = 10;    // on SIGTERM, the time transfers in flight may take
    std::string user;             // switch to this user after binding
};

// The site's own version, for --version.
extern const char* const kSiteVersion;

struct ParseResult {
    enum Action { Run, Help, Version, Error } action = Run;
    Options options;
    std::string message;               // one line, for Error
    std::vector<std::string> warnings; // one line each, for stderr
};

// One command-line option; the parser, --help and the tests all read the table of them.
struct OptionEntry {
    enum Takes {
        Nothing,   // a value after '=' makes it unknown
        Value,     // the next argument, whatever it is, or what follows '='
        MaybeValue // what follows '=', or the next argument unless that is an option
    };
    const char* name;
    const char* argument; // as --help names it; null: none shown
    Takes takes;
    const char* help; // a '\n' continues it in the column below
    // Stores the value (null when a MaybeValue was not given) into the result; a one-line
    // message when it is refused.
    std::string (*set)(const char* name, const std::string* value, ParseResult& result);
};

// The options in the order --help lists them.
const std::vector<OptionEntry>& OptionTable();

ParseResult ParseOptions(const std::vector<std::string>& args);
// Reads --notice-file and --latest-version-file into options (at start and on SIGHUP);
// false with a one-line error, leaving options as they were, when either is unreadable,
// more than one line, not UTF-8 or not expressible in the charset.
bool ReadTextFiles(Options& options, std::string* error);
std::string HelpText();

} // namespace velmora::site
