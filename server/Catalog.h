// The media folder (episode files) and the downloads folder.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>
#include <time.h>

namespace velmora::site {

// "video/mp4", "video/webm" or "application/octet-stream" by the file name's extension.
const char* MediaContentType(const std::string& name);

// Episode number -> its file names inside the media folder, in the order an episode page
// offers them: MP4 first (the Windows player's browser control plays nothing else and takes
// the first source it can play), then WebM; within one type the zero-padded name first.
using MediaFiles = std::map<long, std::vector<std::string>>;

// Reads the media folder, again whenever its modification time changes, so episodes
// dropped into a running site's folder show up without a restart. The time is looked at
// no more often than every kCheckEvery, not for every request. A read that fails keeps the
// catalogue read before and is tried again after kCheckEvery.
class MediaCatalog {
  public:
    static constexpr std::chrono::milliseconds kCheckEvery{100};

    explicit MediaCatalog(std::string dir);
    std::shared_ptr<const MediaFiles> Files() const;
    // Reads the folder again on the next call, whatever its time says.
    void Rescan();
    const std::string& Dir() const { return dir_; }

  private:
    std::string dir_;
    mutable std::mutex mutex_;
    mutable std::chrono::steady_clock::time_point nextCheck_{};
    mutable timespec mtime_{};
    mutable bool scanned_ = false;
    mutable bool failing_ = false;
    mutable std::shared_ptr<const MediaFiles> files_;
};

// True when the folder's catalogue holds the file name as an episode file.
bool IsCatalogued(const MediaFiles& files, const std::string& name);

// True when the file name is an MP4 file.
bool IsMp4(const std::string& name);

struct DownloadEntry {
    std::string name;
    uint64_t size = 0;
    std::string sha256; // lower-case hex; empty when the file could not be read
};

// The downloads folder's regular, non-hidden files (no symbolic links): Windows programs
// (.exe, the installer) first, then by name. Looked at no more often than every kCheckEvery,
// on a request; a file is hashed when it is new or its size, time or inode changed, so a
// page costs no hashing and a package replaced in place shows its new SHA-256. A folder
// that cannot be read lists nothing.
class DownloadCatalog {
  public:
    static constexpr std::chrono::milliseconds kCheckEvery = MediaCatalog::kCheckEvery;

    explicit DownloadCatalog(std::string dir);
    std::shared_ptr<const std::vector<DownloadEntry>> Files() const;
    // Looks at the folder again on the next call; the hashes of unchanged files are kept.
    void Rescan();
    const std::string& Dir() const { return dir_; }

  private:
    struct Known {
        uint64_t size;
        timespec mtime;
        ino_t inode;
        std::string sha256;
    };
    std::string dir_;
    mutable std::mutex mutex_;
    mutable std::chrono::steady_clock::time_point nextCheck_{};
    mutable std::map<std::string, Known> known_;
    mutable std::shared_ptr<const std::vector<DownloadEntry>> files_;
};

// A file name a client may ask for inside one folder: one path segment, not hidden.
bool IsPlainFileName(const std::string& name);

} // namespace velmora::site
