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
#include <type_traits>

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

namespace {

std::string NeedsValue(const char* name) {
    return std::string("option ") + name + " needs a value";
}

// Only the notice and the latest version may be empty.
template <std::string Options::*Field, bool MayBeEmpty = false>
std::string SetText(const char* name, const std::string* value, ParseResult& result) {
    if (value->empty() && !MayBeEmpty) {
        return NeedsValue(name);
    }
    result.options.*Field = *value;
    return {};
}

template <auto Field, long Least, long Most>
std::string SetNumber(const char* name, const std::string* value, ParseResult& result) {
    const std::optional<uint64_t> parsed = ParseDecimal(*value, static_cast<uint64_t>(Most));
    if (!parsed || static_cast<long>(*parsed) < Least) {
        return std::string(name) + " needs a number from " + std::to_string(Least) + " to " +
               std::to_string(Most) + ", got '" + *value + "'";
    }
    auto& field = result.options.*Field;
    field = static_cast<std::remove_reference_t<decltype(field)>>(static_cast<long>(*parsed));
    return {};
}

std::string SetListen(const char* name, const std::string* value, ParseResult& result) {
    in_addr v4;
    in6_addr v6;
    if (inet_pton(AF_INET, value->c_str(), &v4) != 1 &&
        inet_pton(AF_INET6, value->c_str(), &v6) != 1) {
        return std::string(name) + " needs an IP address such as 127.0.0.1 or ::1, got '" + *value +
               "'";
    }
    result.options.listen = *value;
    return {};
}

template <std::string Options::*Field>
std::string SetFolder(const char* name, const std::string* value, ParseResult& result) {
    struct stat st;
    if (stat(value->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return std::string(name) + " needs an existing folder, got '" + *value + "'";
    }
    result.options.*Field = *value;
    return {};
}

std::string SetCharset(const char* name, const std::string* value, ParseResult& result) {
    if (value->empty()) {
        return NeedsValue(name);
    }
    const std::string charset = AsciiLower(*value) == "utf8" ? "utf-8" : AsciiLower(*value);
    if (charset != "utf-8" && charset != "gbk") {
        return std::string(name) + " must be utf-8 or gbk, got '" + *value + "'";
    }
    result.options.charset = charset;
    return {};
}

// Bare, it trusts a proxy on this machine.
std::string SetTrustedProxies(const char* name, const std::string* value, ParseResult& result) {
    const std::string list = value ? *value : "127.0.0.1,::1";
    if (!ParseAddresses(list, &result.options.trustedProxies)) {
        return std::string(name) + " needs IP addresses separated by commas, got '" + list + "'";
    }
    return {};
}

// Alone it prints the site's version; followed by a value it is the old spelling of
// --latest-version.
std::string SetVersion(const char*, const std::string* value, ParseResult& result) {
    if (!value) {
        result.action = ParseResult::Version;
        return {};
    }
    result.warnings.push_back("--version TEXT is the old spelling of --latest-version TEXT; "
                              "--version alone prints the site's version");
    result.options.version = *value;
    return {};
}

std::string SetHelp(const char*, const std::string*, ParseResult& result) {
    result.action = ParseResult::Help;
    return {};
}

// Where --help's descriptions start; a longer name and argument get two blanks instead.
constexpr size_t kHelpColumn = 21;

} // namespace

const std::vector<OptionEntry>& OptionTable() {
    using O = Options;
    constexpr auto Value = OptionEntry::Value;
    static const std::vector<OptionEntry> table = {
        {"--listen", "ADDR", Value, "IPv4 or IPv6 address (default 127.0.0.1; :: takes IPv4 too)",
         SetListen},
        {"--port", "N", Value, "TCP port, 0 for any free port (default 8848)",
         SetNumber<&O::port, 0, 65535>},
        {"--media", "DIR", Value, "folder of episode files named by number (001.mp4, 2.webm)",
         SetFolder<&O::mediaDir>},
        {"--downloads", "DIR", Value, "folder whose files the download page offers",
         SetFolder<&O::downloadsDir>},
        {"--episodes", "N", Value, "episode count (default: the highest in --media, else 24)",
         SetNumber<&O::episodes, 0, kMaxEpisodes>},
        {"--notice", "TEXT", Value, "the one-line notice (UTF-8)", SetText<&O::notice, true>},
        {"--notice-file", "PATH", Value, "read the notice from this file, again on SIGHUP",
         SetText<&O::noticeFile>},
        {"--latest-version", "TEXT", Value,
         "the latest player version (default " VELMORA_VERSION ")", SetText<&O::version, true>},
        {"--latest-version-file", "PATH", Value, "read it from this file, again on SIGHUP",
         SetText<&O::versionFile>},
        {"--charset", "NAME", Value, "of the plain-text answers: gbk (default) or utf-8",
         SetCharset},
        {"--threads", "N", Value, "server threads (default: one per CPU, at most 8)",
         SetNumber<&O::threads, 1, 64>},
        {"--log-file", "PATH", Value, "append the request log here, not to stdout (SIGHUP reopens)",
         SetText<&O::logFile>},
        {"--trust-proxy", "[ADDR,...]", OptionEntry::MaybeValue,
         "proxies (default 127.0.0.1,::1) whose X-Forwarded-For\n"
         "is logged before them and who have no per-address limit",
         SetTrustedProxies},
        {"--max-per-address", "N", Value, "open connections from one address (default 256, 0: any)",
         SetNumber<&O::perAddress, 0, 1000000>},
        {"--header-timeout", "S", Value, "seconds a silent connection stays open (default 60)",
         SetNumber<&O::timeoutSeconds, 1, 1000000>},
        {"--stop-timeout", "S", Value, "seconds transfers in flight get on SIGTERM (default 10)",
         SetNumber<&O::stopSeconds, 1, 1000000>},
        {"--user", "NAME", Value, "switch to this user after opening the port (needs root)",
         SetText<&O::user>},
        {"--version", nullptr, OptionEntry::MaybeValue, "print the site's own version and exit",
         SetVersion},
        {"--help", nullptr, OptionEntry::Nothing, "show this text and exit", SetHelp},
    };
    return table;
}

std::string HelpText() {
    std::string text =
        "Usage: velmora-site [options]\n"
        "Serves the Tessavo content site: start page, episode pages, episode count,\n"
        "notice, latest version, download page and home page. On its own it is for\n"
        "loopback or a trusted network; on the internet, put nginx in front.\n\n";
    for (const OptionEntry& option : OptionTable()) {
        std::string line = std::string("  ") + option.name;
        line += option.argument ? std::string(" ") + option.argument : "";
        line += line.size() < kHelpColumn ? std::string(kHelpColumn - line.size(), ' ') : "  ";
        for (const char* c = option.help; *c; ++c) {
            line += *c == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, *c);
        }
        text += line + "\n";
    }
    return text + "\n"
                  "Options also take the form --name=value. Each request is logged as one line:\n"
                  "  TIME CLIENT METHOD PATH?QUERY STATUS BYTES SECONDS \"USER-AGENT\"\n"
                  "TIME in UTC, BYTES the answer's body size, STATUS 0 when no answer was sent;\n"
                  "bytes outside printable ASCII show as %XX.\n";
}

ParseResult ParseOptions(const std::vector<std::string>& args) {
    ParseResult result;
    result.options.notice = kDefaultNotice;
    for (size_t i = 0; i < args.size() && result.action == ParseResult::Run; ++i) {
        std::string name = args[i] == "-h" ? "--help" : args[i];
        if (name.rfind("--", 0) != 0) {
            return Fail("unexpected argument '" + name + "' (try --help)");
        }
        std::optional<std::string> value;
        if (const size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.erase(equals);
        }
        const auto& table = OptionTable();
        const auto entry = std::find_if(table.begin(), table.end(),
                                        [&](const OptionEntry& o) { return name == o.name; });
        if (entry == table.end() || (entry->takes == OptionEntry::Nothing && value)) {
            return Fail("unknown option '" + name + "' (try --help)");
        }
        // A value may follow as the next argument; an optional one only when that is no option.
        if (!value && entry->takes != OptionEntry::Nothing && i + 1 < args.size() &&
            (entry->takes == OptionEntry::Value || args[i + 1].rfind("--", 0) != 0)) {
            value = args[++i];
        }
        if (!value && entry->takes == OptionEntry::Value) {
            return Fail(NeedsValue(entry->name));
        }
        const std::string error = entry->set(entry->name, value ? &*value : nullptr, result);
        if (!error.empty()) {
            return Fail(error);
        }
    }
    std::string error;
    if (result.action == ParseResult::Run &&
        (!CheckText("--notice", result.options.notice, result.options.charset, &error) ||
         !CheckText("--latest-version", result.options.version, result.options.charset, &error) ||
         !ReadTextFiles(result.options, &error))) {
        return Fail(error);
    }
    return result;
}

} // namespace velmora::site
