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
    std::string notice; // UTF-8
    std::string version = "1.0";
    std::string charset = "gbk"; // of the plain-text answers: "gbk" or "utf-8"
    unsigned threads = 0;          // epoll threads; 0: one per CPU
};

// The series every page is about.
extern const char* const kSeriesName;
// The notice served when none is given.
extern const char* const kDefaultNotice;
// Episodes of the built-in demo, when neither --episodes nor --media is given.
constexpr long kDemoEpisodes = 24;
constexpr long kMaxEpisodes = 1000000;

struct ParseResult {
    enum Action { Run, Help, Error } action = Run;
    Options options;
    std::string message; // one line, for Error
};

ParseResult ParseOptions(const std::vector<std::string>& args);
std::string HelpText();

} // namespace velmora::site
