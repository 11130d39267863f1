// One request and its answer as the site sees them, apart from the HTTP machinery.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::site {

struct Request {
    std::string method;
    std::string path;               // percent-decoded, without the query; may hold a NUL
    std::optional<std::string> flv; // the decoded "flv" query value, if any (may hold NULs)
    std::string query;              // the raw query after '?', for redirects
    // Looks up any other request header by name (case-insensitive): null when absent.
    std::function<const char*(const char* name)> header;

    const char* Header(const char* name) const { return header ? header(name) : nullptr; }
};

// An open file to send part of; closes the file unless Release() hands it on.
class FileBody {
  public:
    FileBody() = default;
    FileBody(int fd, uint64_t offset, uint64_t length)
        : fd_(fd), offset_(offset), length_(length) {}
    FileBody(FileBody&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {
        offset_ = other.offset_;
        length_ = other.length_;
    }
    // Swapped: the one moved from closes what this held.
    FileBody& operator=(FileBody&& other) noexcept {
        std::swap(fd_, other.fd_);
        offset_ = other.offset_;
        length_ = other.length_;
        return *this;
    }
    ~FileBody();

    bool Open() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    uint64_t Offset() const { return offset_; }
    uint64_t Length() const { return length_; }

  private:
    int fd_ = -1;
    uint64_t offset_ = 0;
    uint64_t length_ = 0;
};

struct Response {
    unsigned status = 200;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body; // used when file is not open
    FileBody file;

    uint64_t BodyLength() const { return file.Open() ? file.Length() : body.size(); }
};

} // namespace velmora::site
