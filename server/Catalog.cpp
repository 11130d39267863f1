#include "Catalog.h"

#include "Content.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace velmora::site {

namespace {

std::string LowerExtension(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        return {};
    }
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

template <typename F> void ForEachRegularFile(const std::string& dir, F&& visit) {
    DIR* d = opendir(dir.c_str());
    if (!d) {
        return;
    }
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (!IsPlainFileName(name)) {
            continue;
        }
        struct stat st;
        if (stat((dir + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        visit(name, st);
    }
    closedir(d);
}

// Lower comes first.
int Preference(const std::string& name) {
    int rank = IsMp4(name) ? 0 : 2;
    return rank + (name[0] == '0' || name.find('.') >= 3 ? 0 : 1);
}

} // namespace

std::optional<long> EpisodeNumberOfFile(const std::string& name) {
    size_t dot = name.find('.');
    if (dot == std::string::npos || dot == 0 || dot > 9 || name.find('.', dot + 1) != name.npos) {
        return std::nullopt;
    }
    std::string ext = LowerExtension(name);
    if (ext != "mp4" && ext != "webm") {
        return std::nullopt;
    }
    long number = 0;
    for (size_t i = 0; i < dot; ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return std::nullopt;
        }
        number = number * 10 + (name[i] - '0');
    }
    // Above the most episodes a site may have: not an episode, so one stray file cannot
    // make the start page list a billion placeholders.
    if (number < 1 || number > kMaxEpisodes) {
        return std::nullopt;
    }
    return number;
}

const char* MediaContentType(const std::string& name) {
    std::string ext = LowerExtension(name);
    if (ext == "mp4") {
        return "video/mp4";
    }
    if (ext == "webm") {
        return "video/webm";
    }
    return "application/octet-stream";
}

MediaFiles ScanMedia(const std::string& dir) {
    MediaFiles files;
    ForEachRegularFile(dir, [&](const std::string& name, const struct stat&) {
        if (std::optional<long> number = EpisodeNumberOfFile(name)) {
            files[*number].push_back(name);
        }
    });
    for (auto& [number, names] : files) {
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            int pa = Preference(a);
            int pb = Preference(b);
            return pa != pb ? pa < pb : a < b;
        });
    }
    return files;
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
    struct stat st;
    timespec now{};
    if (stat(dir_.c_str(), &st) == 0) {
        now = st.st_mtim;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (now.tv_sec != mtime_.tv_sec || now.tv_nsec != mtime_.tv_nsec || !files_) {
        mtime_ = now;
        files_ = std::make_shared<MediaFiles>(ScanMedia(dir_));
    }
    return files_;
}

std::vector<DownloadEntry> ListDownloads(const std::string& dir) {
    std::vector<DownloadEntry> entries;
    ForEachRegularFile(dir, [&](const std::string& name, const struct stat& st) {
        entries.push_back({name, static_cast<uint64_t>(st.st_size)});
    });
    std::sort(entries.begin(), entries.end(),
              [](const DownloadEntry& a, const DownloadEntry& b) { return a.name < b.name; });
    return entries;
}

bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

} // namespace velmora::site
