#include "Catalog.h"

#include "Content.h"
#include "Text.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <utility>

namespace velmora::site {

namespace {

std::string LowerExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : AsciiLower(name.substr(dot + 1));
}

// Visits the folder's regular files. Symbolic links are not followed, so no listing offers
// a file outside the folder (the file serving refuses them likewise). False, with errno
// set, when the folder could not be read: a partial listing is no listing.
template <typename F> bool ForEachRegularFile(const std::string& dir, F&& visit) {
    DIR* d = opendir(dir.c_str());
    if (!d) {
        return false;
    }
    errno = 0;
    while (dirent* entry = readdir(d)) {
        struct stat st;
        if (IsPlainFileName(entry->d_name) &&
            fstatat(dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode)) {
            visit(std::string(entry->d_name), st);
        }
        errno = 0;
    }
    const int error = errno;
    closedir(d);
    errno = error;
    return error == 0;
}

// The episode number a media file stands for: "001.mp4", "12.webm" (any zero padding,
// extension in any case) give 1 and 12; anything else gives nothing, numbers above the most
// episodes a site may have too, so one stray file cannot make the start page list a billion
// placeholders.
std::optional<long> EpisodeNumberOfFile(const std::string& name) {
    const size_t dot = name.find('.');
    const std::string ext = LowerExtension(name);
    if (dot == std::string::npos || dot == 0 || dot > 9 || name.find('.', dot + 1) != name.npos ||
        (ext != "mp4" && ext != "webm")) {
        return std::nullopt;
    }
    std::optional<uint64_t> number = ParseDecimal(std::string_view(name).substr(0, dot),
                                                  static_cast<uint64_t>(kMaxEpisodes), true);
    return number && *number >= 1 ? std::optional<long>(static_cast<long>(*number)) : std::nullopt;
}

// A folder's episode files, ordered as MediaFiles says: MP4 before WebM, then the
// zero-padded name ("001.mp4" before "1.mp4"); nothing (errno set) when it cannot be read.
std::optional<MediaFiles> ScanMedia(const std::string& dir) {
    MediaFiles files;
    if (!ForEachRegularFile(dir, [&](const std::string& name, const struct stat&) {
            if (std::optional<long> number = EpisodeNumberOfFile(name)) {
                files[*number].push_back(name);
            }
        })) {
        return std::nullopt;
    }
    const auto key = [](const std::string& name) {
        return std::make_tuple(!IsMp4(name), name[0] != '0' && name.find('.') < 3, name);
    };
    for (auto& [number, names] : files) {
        std::sort(names.begin(), names.end(),
                  [&](const std::string& a, const std::string& b) { return key(a) < key(b); });
    }
    return files;
}

} // namespace

const char* MediaContentType(const std::string& name) {
    const std::string ext = LowerExtension(name);
    return ext == "mp4" ? "video/mp4" : ext == "webm" ? "video/webm" : "application/octet-stream";
}

bool IsCatalogued(const MediaFiles& files, const std::string& name) {
    std::optional<long> number = EpisodeNumberOfFile(name);
    auto it = number ? files.find(*number) : files.end();
    return it != files.end() &&
           std::find(it->second.begin(), it->second.end(), name) != it->second.end();
}

bool IsMp4(const std::string& name) {
    return LowerExtension(name) == "mp4";
}

MediaCatalog::MediaCatalog(std::string dir)
    : dir_(std::move(dir)), files_(std::make_shared<MediaFiles>()) {}

std::shared_ptr<const MediaFiles> MediaCatalog::Files() const {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (now < nextCheck_) {
        return files_;
    }
    nextCheck_ = now + kCheckEvery;
    struct stat st;
    const bool found = stat(dir_.c_str(), &st) == 0;
    if (found && scanned_ && st.st_mtim.tv_sec == mtime_.tv_sec &&
        st.st_mtim.tv_nsec == mtime_.tv_nsec) {
        return files_;
    }
    std::optional<MediaFiles> files = found ? ScanMedia(dir_) : std::nullopt;
    const int error = errno;
    // A failed read (descriptors short for a moment, the folder away) keeps what was found
    // before rather than telling every player there are no episodes, and is tried again on
    // the next check. Logged when it starts failing and when it reads again.
    if (!files) {
        if (!std::exchange(failing_, true)) {
            fprintf(stderr,
                    "velmora-site: cannot read the media folder %s: %s; keeping the %zu "
                    "episodes found before\n",
                    dir_.c_str(), strerror(error), files_->size());
        }
        return files_;
    }
    if (std::exchange(failing_, false)) {
        fprintf(stderr, "velmora-site: the media folder %s reads again\n", dir_.c_str());
    }
    mtime_ = st.st_mtim;
    scanned_ = true;
    files_ = std::make_shared<const MediaFiles>(std::move(*files));
    return files_;
}

void MediaCatalog::Rescan() {
    std::lock_guard<std::mutex> lock(mutex_);
    scanned_ = false;
    nextCheck_ = {};
}

// The SHA-256 of a regular file in the folder, as lower-case hex (OpenSSL's libcrypto);
// empty when it cannot be read whole.
static std::string FileSha256(int dirFd, const std::string& name) {
    // Non-blocking and no links followed: a FIFO or link swapped in after the folder was
    // read neither hangs the site nor leads out of the folder.
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    struct stat st;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && context &&
              EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    std::vector<char> buffer(ok ? 1 << 16 : 0);
    while (ok) {
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got == 0) {
            break;
        }
        ok = (got > 0 || errno == EINTR) &&
             (got <= 0 || EVP_DigestUpdate(context.get(), buffer.data(), got) == 1);
    }
    close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        return {};
    }
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += "0123456789abcdef"[digest[i] >> 4];
        hex += "0123456789abcdef"[digest[i] & 15];
    }
    return hex;
}

DownloadCatalog::DownloadCatalog(std::string dir)
    : dir_(std::move(dir)), files_(std::make_shared<std::vector<DownloadEntry>>()) {}

std::shared_ptr<const std::vector<DownloadEntry>> DownloadCatalog::Files() const {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    if (now < nextCheck_) {
        return files_;
    }
    nextCheck_ = now + kCheckEvery;
    std::map<std::string, struct stat> found;
    if (!ForEachRegularFile(dir_, [&](const std::string& name, const struct stat& st) {
            found.emplace(name, st);
        })) {
        found.clear();
    }
    const int dirFd = found.empty() ? -1 : open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::map<std::string, Known> known;
    auto entries = std::make_shared<std::vector<DownloadEntry>>();
    for (const auto& [name, st] : found) {
        auto it = known_.find(name);
        const bool same = it != known_.end() && !it->second.sha256.empty() &&
                          it->second.size == static_cast<uint64_t>(st.st_size) &&
                          it->second.inode == st.st_ino &&
                          it->second.mtime.tv_sec == st.st_mtim.tv_sec &&
                          it->second.mtime.tv_nsec == st.st_mtim.tv_nsec;
        Known& entry = known[name] =
            same ? it->second
                 : Known{static_cast<uint64_t>(st.st_size), st.st_mtim, st.st_ino,
                         dirFd < 0 ? std::string() : FileSha256(dirFd, name)};
        entries->push_back({name, entry.size, entry.sha256});
    }
    if (dirFd >= 0) {
        close(dirFd);
    }
    const auto key = [](const DownloadEntry& e) {
        return std::make_pair(LowerExtension(e.name) != "exe", e.name);
    };
    std::sort(entries->begin(), entries->end(),
              [&](const DownloadEntry& a, const DownloadEntry& b) { return key(a) < key(b); });
    known_ = std::move(known);
    files_ = std::move(entries);
    return files_;
}

void DownloadCatalog::Rescan() {
    std::lock_guard<std::mutex> lock(mutex_);
    nextCheck_ = {};
}

bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

} // namespace velmora::site
