// The profile (INI file) functions. Every call reads the file afresh, so hand edits and other
// processes are seen at once. A write edits the lines it must and replaces the file through a
// temporary file and a rename (in place where the folder forbids the temporary file), so a
// crash or a full disk never leaves half a file; a write that changes nothing does not touch
// the file, and a file without write bits is read-only, as with Windows' attribute.
//
// Another copy of the player may edit the same file: every read-modify-write holds an
// exclusive flock on the file's folder (which, unlike the file, survives the rename), every
// read a shared one. A lock held longer than kProfileLockWaitMs is given up on: the read gives
// the defaults, the write is skipped, and the window goes on.
//
// Others may write to the folder, so whatever is in the file's place is input from them: a
// link is never followed (not even to read), a FIFO never waited on, a device, folder or a
// file longer than kMostProfileBytes never read, nor anything written in its place.
//
// An untouched line of an 8-bit file is written back byte for byte (even when the current
// locale cannot decode it), with its own line break; new and changed lines end in CR LF.
#include "Kernel32Internal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

using namespace velmora::kernel32;

namespace {

enum Encoding { Ansi, Utf8, Utf16, Utf16Be };
// The byte-order mark that opens a file in each encoding.
const std::string_view kByteOrderMark[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};

struct Line {
    std::u16string text; // without its line break
    std::u16string eol;  // "\r\n", "\n", "\r" or "" (last line)
    std::string raw;     // the bytes read (8-bit files) while the line is untouched, else ""
};

struct IniFile {
    bool exists = false;
    struct stat info = {}; // of the file read, when it exists
    std::string bytes;     // as read
    Encoding encoding = Ansi;
    std::vector<Line> lines;
};

enum class Kind { Blank, Section, Key };

struct Parsed {
    Kind kind = Kind::Blank;
    std::u16string name;
    std::u16string value;
    bool hasValue = false; // a key line without '=' has a name only
};

const std::u16string kCrLf = u"\r\n";

// One process-wide lock: a write is a read-modify-write of the whole file.
std::mutex profileLock;

// The folder a file's path names ("." for a bare name).
std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The folder's flock (see the top of this file). A folder that cannot be opened (no read
// permission) or locked goes without: the write itself still works. A folder that is a link,
// or a lock not had in time, leaves Usable() false, with the error set.
class DirectoryLock {
  public:
    DirectoryLock(const std::string& path, int operation) {
        int fd = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ELOOP)
            usable_ = Fail(ERROR_ACCESS_DENIED);
        else if (fd < 0 || flock(fd, operation | LOCK_NB) == 0 || errno != EWOULDBLOCK)
            fd_ = fd;
        else
            Wait(fd, operation);
    }
    ~DirectoryLock() {
        if (fd_ >= 0)
            close(fd_); // releases the lock
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    bool Usable() const { return usable_; }
    int Fd() const { return fd_; }

  private:
    // Another process holds the lock. A blocking flock, in a thread of its own, gets it as
    // soon as it is free (polling could starve behind a busy writer); when it comes after
    // the caller gave up, that thread lets it go at once.
    void Wait(int fd, int operation) {
        enum { Waiting, Locked, Abandoned };
        auto state = std::make_shared<std::atomic<int>>(Waiting);
        std::packaged_task<void()> lock([state, fd, operation] {
            while (flock(fd, operation) != 0 && errno == EINTR) {
            }
            if (state->exchange(Locked) == Abandoned)
                close(fd);
        });
        std::future<void> done = lock.get_future();
        try {
            std::thread(std::move(lock)).detach();
        } catch (const std::system_error&) {
            close(fd);
            usable_ = Fail(kErrorSharingViolation);
            return;
        }
        if (done.wait_for(std::chrono::milliseconds(kProfileLockWaitMs)) ==
                std::future_status::ready ||
            state->exchange(Abandoned) == Locked)
            fd_ = fd;
        else
            usable_ = Fail(kErrorSharingViolation);
    }

    int fd_ = -1;
    bool usable_ = true;
};

// What Wine strips from the start of a written value: ASCII white space (line breaks
// included) and Ctrl-Z; the ideographic and no-break spaces stay.
bool IsLeadingSpace(char16_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == u' ' || c == 0x1A;
}

Parsed Classify(std::u16string_view text) {
    std::u16string_view line = Trim(text);
    if (line.empty())
        return Parsed();
    // As on Windows, a line that opens with '[' but never closes it is no section header,
    // and a ';' line is still found by its full name.
    size_t close = line[0] == u'[' ? line.rfind(u']') : std::u16string::npos;
    if (close != std::u16string::npos)
        return Parsed{Kind::Section, std::u16string(Trim(line.substr(1, close - 1))), {}, false};
    const size_t equals = line.find(u'=');
    const bool hasValue = equals != std::u16string::npos;
    return Parsed{Kind::Key, std::u16string(Trim(line.substr(0, equals))),
                  hasValue ? std::u16string(Trim(line.substr(equals + 1))) : u"", hasValue};
}

// ------------------------------------------------------------------ reading and writing bytes

// Why an open failed: a link in the file's place is refused.
DWORD OpenError() {
    return errno == ELOOP ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno);
}

// Reads the file whole; a missing file reads as empty. Whatever is in its place that is not
// a regular file of at most kMostProfileBytes cannot be read (false, ERROR_ACCESS_DENIED):
// O_NOFOLLOW refuses a link, O_NONBLOCK keeps a FIFO from blocking the open.
bool ReadBytes(const std::string& path, IniFile* file) {
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR || Fail(OpenError());
    DWORD error = 0;
    if (fstat(fd, &file->info) != 0)
        error = ErrorFromErrno(errno);
    else if (!S_ISREG(file->info.st_mode) || file->info.st_size > off_t(kMostProfileBytes))
        error = ERROR_ACCESS_DENIED;
    char chunk[65536];
    while (error == 0) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            error = ErrorFromErrno(errno);
        else if (got == 0)
            break;
        else if (file->bytes.size() + static_cast<size_t>(got) > kMostProfileBytes)
            error = ERROR_ACCESS_DENIED; // it grew while being read
        else
            file->bytes.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    file->exists = error == 0;
    return error == 0 || Fail(error);
}

std::string Encode(std::u16string_view text, Encoding encoding) {
    if (encoding == Utf8)
        return WideToUtf8(text);
    if (encoding == Ansi)
        return WideToAnsi(std::u16string(text), nullptr);
    const int high = encoding == Utf16Be ? 0 : 1; // where each unit's high byte goes
    std::string bytes(2 * text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i + high] = static_cast<char>(text[i] >> 8);
        bytes[2 * i + 1 - high] = static_cast<char>(text[i] & 0xFF);
    }
    return bytes;
}

// Calls each(line, its break) for every line of text; the break is CR LF, CR or LF, and ""
// after a last line that has none.
template <class Char, class Each> void ForEachLine(std::basic_string_view<Char> text, Each each) {
    const Char crLf[] = {'\r', '\n', 0};
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find_first_of(crLf, start), text.size());
        const size_t next =
            end == text.size() ? end : end + (text.compare(end, 2, crLf) == 0 ? 2 : 1);
        each(text.substr(start, end - start),
             std::u16string(text.begin() + end, text.begin() + next));
        start = next;
    }
}

bool Load(const std::string& path, IniFile* file) {
    if (!ReadBytes(path, file))
        return false;
    std::string_view bytes = file->bytes;
    for (Encoding encoding : {Utf8, Utf16, Utf16Be}) {
        if (bytes.substr(0, kByteOrderMark[encoding].size()) == kByteOrderMark[encoding]) {
            file->encoding = encoding;
            bytes.remove_prefix(kByteOrderMark[encoding].size());
            break;
        }
    }
    if (file->encoding == Utf16 || file->encoding == Utf16Be) {
        const int high = file->encoding == Utf16Be ? 0 : 1;
        std::u16string text;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i + high]) << 8 |
                                                 static_cast<unsigned char>(bytes[i + 1 - high])));
        ForEachLine<char16_t>(text, [file](std::u16string_view line, std::u16string_view eol) {
            file->lines.push_back(Line{std::u16string(line), std::u16string(eol), {}});
        });
        return true;
    }
    // CR and LF never occur inside a character of the supported 8-bit encodings, so the
    // bytes are split into lines before decoding.
    ForEachLine<char>(bytes, [file](std::string_view raw, std::u16string_view eol) {
        std::u16string text =
            file->encoding == Utf8 ? Utf8ToWide(raw) : AnsiToWide(std::string(raw));
        file->lines.push_back(Line{text, std::u16string(eol), std::string(raw)});
    });
    return true;
}

std::string Serialize(const IniFile& file) {
    std::string bytes(kByteOrderMark[file.encoding]);
    for (const Line& line : file.lines) {
        bytes += line.raw.empty() ? Encode(line.text, file.encoding) : line.raw;
        bytes += Encode(line.eol, file.encoding);
    }
    return bytes;
}

mode_t NewFileMode() {
    // umask can only be read by setting it; the profile lock serialises our own callers.
    mode_t mask = umask(022);
    umask(mask);
    return 0666 & ~mask;
}

bool WriteAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote == 0)
            errno = ENOSPC;
        if (wrote <= 0)
            return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// Closes fd after writing it: false, with errno saying why, when the writing (ok false) or
// the close failed.
bool CloseAfter(int fd, bool ok) {
    const int error = errno;
    const bool closed = close(fd) == 0;
    if (!ok)
        errno = error;
    return ok && closed;
}

// Rewrites an existing file where it is: the new bytes over the old, then the rest cut off.
// Room for a longer file is taken first, so a full disk fails before anything changes. Only
// the file that was read is written: never through a link, nor into whatever another
// process put in its place since.
bool SaveInPlace(const std::string& path, const std::string& bytes, const struct stat& read) {
    int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Fail(OpenError());
    struct stat info;
    if (fstat(fd, &info) != 0 || info.st_dev != read.st_dev || info.st_ino != read.st_ino) {
        close(fd);
        return Fail(ERROR_ACCESS_DENIED);
    }
    const off_t size = static_cast<off_t>(bytes.size());
    const int reserved =
        size > info.st_size ? posix_fallocate(fd, info.st_size, size - info.st_size) : 0;
    const bool roomy = reserved != ENOSPC && reserved != EFBIG && reserved != EDQUOT;
    if (!roomy)
        errno = reserved;
    const bool ok = roomy && lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, bytes) &&
                    ftruncate(fd, size) == 0 && fsync(fd) == 0;
    return CloseAfter(fd, ok) || Fail(ErrorFromErrno(errno));
}

// Replaces the file that was read with bytes, as the top of this file says; directoryFd is
// its folder's, or -1.
bool Save(const std::string& path, const std::string& bytes, const IniFile& file, int directoryFd) {
    // A hidden name beside the file (npos + 1 is 0: a bare name).
    std::string temporary = DirectoryOf(path) + "/." + path.substr(path.rfind('/') + 1) + ".XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0 && file.exists && (errno == EACCES || errno == EPERM || errno == EROFS))
        return SaveInPlace(path, bytes, file.info);
    if (fd < 0)
        return Fail(errno == ENOENT ? kErrorPathNotFound : ErrorFromErrno(errno));
    mode_t mode = file.exists ? (file.info.st_mode & 07777) : NewFileMode();
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
    if (!CloseAfter(fd, ok) || rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        return Fail(ErrorFromErrno(error));
    }
    if (directoryFd >= 0)
        fsync(directoryFd); // makes the rename itself durable
    return true;
}

// ------------------------------------------------------------------ sections and keys

constexpr size_t kNowhere = std::u16string::npos;

// Where a key is, or would go.
struct Place {
    size_t header = kNowhere; // the line of the first section of that name
    size_t end = 0;           // the next section's line, or the end of the file
    size_t key = kNowhere;    // the first line of that section holding the key
    Parsed parsed;            // the key's line
};

Place Locate(const IniFile& file, std::u16string_view section, std::u16string_view key) {
    Place place;
    place.end = file.lines.size();
    for (size_t i = 0; i < file.lines.size(); ++i) {
        Parsed parsed = Classify(file.lines[i].text);
        if (parsed.kind == Kind::Section && place.header != kNowhere) {
            place.end = i;
            break;
        }
        if (parsed.kind == Kind::Section && EqualNoCase(parsed.name, section)) {
            place.header = i;
        } else if (parsed.kind == Kind::Key && place.header != kNowhere && place.key == kNowhere &&
                   EqualNoCase(parsed.name, key)) {
            place.key = i;
            place.parsed = std::move(parsed);
        }
    }
    return place;
}

// ------------------------------------------------------------------ results

std::u16string StripQuotes(const std::u16string& value) {
    if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

// Sets the key in the section of file to text, adding either where missing. False when the
// key holds that value already.
bool PutValue(IniFile& file, const std::u16string& sectionName, const std::u16string& keyName,
              const std::u16string& text) {
    Place place = Locate(file, sectionName, keyName);
    if (place.key != kNowhere && place.parsed.hasValue && place.parsed.value == text)
        return false;
    if (place.key != kNowhere) {
        file.lines[place.key] = Line{place.parsed.name + u"=" + text, kCrLf, {}};
        return true;
    }
    // After the section's last line that is not blank, or a new section at the end.
    size_t at = place.header == kNowhere ? file.lines.size() : place.header + 1;
    for (size_t i = at; i < place.end; ++i)
        if (!Trim(file.lines[i].text).empty())
            at = i + 1;
    // The line the new ones follow may be the last one, without a line break.
    if (at > 0 && file.lines[at - 1].eol.empty())
        file.lines[at - 1].eol = kCrLf;
    auto added = file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(at),
                                   Line{keyName + u"=" + text, kCrLf, {}});
    if (place.header == kNowhere)
        file.lines.insert(added, Line{u"[" + sectionName + u"]", kCrLf, {}});
    return true;
}

} // namespace

DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue,
                                      LPWSTR buffer, DWORD size, LPCWSTR fileName) {
    if (!buffer || size == 0)
        return 0;
    // Windows drops trailing blanks of the default.
    std::u16string fallback = WideString(defaultValue);
    fallback.erase(fallback.find_last_not_of(u" \t") + 1); // npos + 1 is 0: all blank

    IniFile file;
    std::string path;
    if (fileName && ToNativePath(fileName, &path)) {
        std::lock_guard<std::mutex> lock(profileLock);
        DirectoryLock shared(path, LOCK_SH);
        if (!shared.Usable() || !Load(path, &file))
            file = IniFile();
    }
    // Listing sections or keys (a null name) is not supported: the default is the answer.
    Place place =
        section && key ? Locate(file, Trim(WideString(section)), Trim(WideString(key))) : Place();
    if (place.key != kNowhere && place.parsed.hasValue)
        return static_cast<DWORD>(CopyCut(StripQuotes(place.parsed.value), buffer, size));
    SetLastError(ERROR_FILE_NOT_FOUND);
    return static_cast<DWORD>(CopyCut(fallback, buffer, size));
}

UINT WINAPI GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue,
                                  LPCWSTR fileName) {
    WCHAR value[1024];
    if (GetPrivateProfileStringW(section, key, L"", value, 1024, fileName) == 0)
        return static_cast<UINT>(defaultValue);
    // The number at the start of the value, read as Windows reads it: an optional sign,
    // then decimal digits, or hexadecimal, octal or binary after 0x, 0o or 0b (only
    // lower-case prefixes count: "0X10" reads as 0); the arithmetic wraps at 32 bits.
    const WCHAR* p = value;
    while (*p && *p <= u' ')
        ++p;
    bool negative = *p == u'-';
    if (*p == u'-' || *p == u'+')
        ++p;
    const UINT base = p[0] != u'0'   ? 10
                      : p[1] == u'x' ? 16
                      : p[1] == u'o' ? 8
                      : p[1] == u'b' ? 2
                                     : 10;
    if (base != 10)
        p += 2;
    const std::u16string_view digits = std::u16string_view(u"0123456789abcdef").substr(0, base);
    auto lower = [](WCHAR c) {
        return static_cast<char16_t>(c >= u'A' && c <= u'F' ? c | 0x20 : c);
    };
    UINT result = 0;
    for (size_t digit; (digit = digits.find(lower(*p))) != digits.npos; ++p)
        result = result * base + static_cast<UINT>(digit);
    return negative ? 0u - result : result;
}

BOOL WINAPI WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value,
                                       LPCWSTR fileName) {
    // Deleting a section or key (a null key or value) and flushing (all null) are not
    // supported.
    std::string path;
    if (!section || !key || !value || !fileName)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!ToNativePath(fileName, &path))
        return Fail(kErrorInvalidName);
    std::lock_guard<std::mutex> lock(profileLock);
    DirectoryLock exclusive(path, LOCK_EX);
    IniFile file;
    if (!exclusive.Usable() || !Load(path, &file))
        return FALSE;

    // The value loses its leading white space, line breaks included, as under Wine, so a
    // value can never start a line of its own.
    std::u16string text = WideString(value);
    text.erase(0, std::find_if_not(text.begin(), text.end(), IsLeadingSpace) - text.begin());
    if (!PutValue(file, std::u16string(Trim(WideString(section))),
                  std::u16string(Trim(WideString(key))), text))
        return TRUE; // the same value: nothing to write
    std::string bytes = Serialize(file);
    if (file.exists && bytes == file.bytes)
        return TRUE;
    // A file without write bits is read-only, whoever runs the program (root included).
    if (file.exists && ((file.info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
                        access(path.c_str(), W_OK) != 0))
        return Fail(ERROR_ACCESS_DENIED);
    return Save(path, bytes, file, exclusive.Fd()) ? TRUE : FALSE;
}
