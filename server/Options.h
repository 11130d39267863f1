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

struct ParseResult {
    enum Action { Run, Help, Error } action = Run;
    Options options;
    std::string message; // one line, for Error
};

ParseResult ParseOptions(const std::vector<std::string>& args);
std::string HelpText();

} // namespace velmora::site
