// The profile functions against real files: reading rules, editing that keeps the rest of the
// file, encodings, Windows paths and writes that never leave a damaged file.
#include <windows.h>

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ProfileCases.h"
#include "ScopedLocale.h"
#include "platform/kernel32/Kernel32Internal.h"
#include "TempDir.h"
#include "TestText.h"

using velmora::test::ReadFileBytes;
using velmora::test::TempDir;
using velmora::test::Utf16;
using velmora::test::Utf8;
using velmora::test::Wide;
using velmora::test::WriteFileBytes;

namespace {

// The program's way of naming the file: the working directory, a backslash, the name.
std::string IniPath(const TempDir& dir) {
    return dir.path() + "\\Config.ini";
}

std::string Read(const std::string& path, const char* section, const char* key,
                 const char* fallback = "", DWORD size = 1024, DWORD* returned = nullptr) {
    std::vector<WCHAR> buffer(size + 1, L'z');
    Wide wideSection(section ? section : ""), wideKey(key ? key : "");
    Wide wideFallback(fallback ? fallback : "");
    DWORD result = GetPrivateProfileStringW(
        section ? wideSection.get() : nullptr, key ? wideKey.get() : nullptr,
        fallback ? wideFallback.get() : nullptr, buffer.data(), size, Wide(path));
    if (returned)
        *returned = result;
    EXPECT_EQ(buffer[size], L'z') << "wrote past the buffer";
    return Utf8(buffer.data());
}

BOOL Write(const std::string& path, const char* section, const char* key, const char* value) {
    Wide wideSection(section ? section : ""), wideKey(key ? key : ""),
        wideValue(value ? value : "");
    return WritePrivateProfileStringW(section ? wideSection.get() : nullptr,
                                      key ? wideKey.get() : nullptr,
                                      value ? wideValue.get() : nullptr, Wide(path));
}

UINT ReadInt(const std::string& path, const char* key, INT fallback = 0) {
    return GetPrivateProfileIntW(L"VelmoraPlayer", Wide(key), fallback, Wide(path));
}

TEST(Profile, ReadsValuesTheWayWindowsDoes) {
    USE_LOCALE("zh_CN.UTF-8"); // code page 936
    for (const velmora::test::ReadCase& c : velmora::test::kReadCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFileBytes(dir.File("Config.ini"), c.file);
        DWORD returned = 0;
        EXPECT_EQ(Read(IniPath(dir), c.section, c.key, c.fallback, 1024, &returned), c.expected);
        EXPECT_EQ(returned, Utf16(c.expected).size());
    }
}

TEST(Profile, CutsValuesToTheBuffer) {
    TempDir dir;
    std::string longValue(1500, 'x');
    WriteFileBytes(dir.File("Config.ini"), "[S]\r\nLong=" + longValue +
                                               "\r\nShort=abcdef\r\n"
                                               "Quoted=\"abcdef\"\r\n");
    struct Case {
        const char* key;
        const char* fallback;
        DWORD size;
        std::string expected;
    };
    const Case cases[] = {
        {"Long", "", 1024, std::string(1023, 'x')},
        {"Short", "", 4, "abc"},
        {"Short", "", 7, "abcdef"},
        {"Short", "", 1, ""},
        {"Quoted", "", 4, "abc"},
        {"Missing", "fallback", 5, "fall"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " in " + std::to_string(c.size));
        DWORD returned = 0;
        EXPECT_EQ(Read(IniPath(dir), "S", c.key, c.fallback, c.size, &returned), c.expected);
        EXPECT_EQ(returned, c.expected.size());
    }
    WCHAR untouched[2] = {L'q', 0};
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"Short", L"", untouched, 0, Wide(IniPath(dir))), 0u);
    EXPECT_EQ(untouched[0], L'q');
}

TEST(Profile, MissingFileReadsAsDefaults) {
    TempDir dir;
    DWORD returned = 99;
    EXPECT_EQ(Read(IniPath(dir), "VelmoraPlayer", "Title", "none", 1024, &returned), "none");
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(Read(IniPath(dir), "VelmoraPlayer", "Title", nullptr, 1024, &returned), "");
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(ReadInt(IniPath(dir), "List", 7), 7u);
    EXPECT_EQ(Read(dir.path() + "\\no\\such\\dir\\Config.ini", "S", "K", "d"), "d");
}

TEST(Profile, IntegerIsTheNumberAtTheStartOfTheValue) {
    USE_LOCALE("zh_CN.UTF-8"); // code page 936
    TempDir dir;
    for (const velmora::test::IntegerCase& c : velmora::test::kIntegerCases) {
        SCOPED_TRACE(c.value ? c.value : "(absent)");
        std::string file = "[VelmoraPlayer]\r\n";
        if (c.value)
            file += std::string("List=") + c.value + "\r\n";
        WriteFileBytes(dir.File("Config.ini"), file);
        EXPECT_EQ(ReadInt(IniPath(dir), "List", c.fallback), c.expected);
    }
}

TEST(Profile, WritesEditOnlyWhatTheyMust) {
    USE_LOCALE("C.UTF-8");
    for (const velmora::test::WriteCase& c : velmora::test::kWriteCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        if (c.before)
            WriteFileBytes(dir.File("Config.ini"), c.before);
        for (const velmora::test::Edit& e : c.edits)
            EXPECT_TRUE(Write(IniPath(dir), e.section, e.key, e.value));
        struct stat info;
        bool exists = stat(dir.File("Config.ini").c_str(), &info) == 0;
        ASSERT_EQ(exists, c.after != nullptr);
        if (c.after) {
            EXPECT_EQ(ReadFileBytes(dir.File("Config.ini")), c.after);
        }
    }
}

TEST(Profile, ValueWrittenWithALineBreakReadsBackAsItsFirstLine) {
    TempDir dir;
    ASSERT_TRUE(Write(IniPath(dir), "VelmoraPlayer", "List", "12\r\n[Evil]\r\nTop=1"));
    EXPECT_EQ(Read(IniPath(dir), "VelmoraPlayer", "List"), "12");
    EXPECT_EQ(ReadInt(IniPath(dir), "List"), 12u);
    EXPECT_EQ(ReadInt(IniPath(dir), "Top"), 0u);
    EXPECT_EQ(Read(IniPath(dir), "Evil", "Top"), "1");
}

TEST(Profile, ByteOrderMarksChooseTheEncoding) {
    // In a GBK locale, to show that a marked file does not depend on the locale.
    USE_LOCALE("zh_CN.GBK");
    TempDir dir;
    const std::u16string text = u"[VelmoraPlayer]\r\nUpdate=第七集上线\r\n";
    // Little- and big-endian UTF-16, each written back in its own order with its mark.
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "UTF-16BE" : "UTF-16LE");
        WriteFileBytes(dir.File("Config.ini"), velmora::test::Utf16Bytes(text, true, bigEndian));
        EXPECT_EQ(Read(IniPath(dir), "VelmoraPlayer", "Update"), "第七集上线");
        ASSERT_TRUE(Write(IniPath(dir), "VelmoraPlayer", "Title", "标题"));
        EXPECT_EQ(ReadFileBytes(dir.File("Config.ini")),
                  velmora::test::Utf16Bytes(text + u"Title=标题\r\n", true, bigEndian));
        EXPECT_EQ(Read(IniPath(dir), "VelmoraPlayer", "Title"), "标题");
    }

    WriteFileBytes(dir.File("Config.ini"), "\xEF\xBB\xBF[VelmoraPlayer]\r\nUpdate=第七集\r\n");
    EXPECT_EQ(Read(IniPath(dir), "VelmoraPlayer", "Update"), "第七集");
    ASSERT_TRUE(Write(IniPath(dir), "VelmoraPlayer", "Title", "한국"));
    EXPECT_EQ(ReadFileBytes(dir.File("Config.ini")),
              "\xEF\xBB\xBF[VelmoraPlayer]\r\nUpdate=第七集\r\nTitle=한국\r\n");
}

TEST(Profile, UnmarkedFilesUseTheAnsiCodePage) {
    {
        USE_LOCALE("zh_CN.GBK");
        TempDir dir;
        ASSERT_TRUE(Write(IniPath(dir), "VelmoraPlayer", "Update", "第七集"));
        ASSERT_TRUE(Write(IniPath(dir), "VelmoraPlayer", "Title", "a한b"));
        EXPECT_EQ(ReadFileBytes(dir.File("Config.ini")),
                  "[VelmoraPlayer]\r\nUpdate=\xB5\xDA\xC6\xDF\xBC\xAF\r\nTitle=a?b\r\n");
        EXPECT_EQ(Read(IniPath(dir), "VelmoraPlayer", "Update"), "第七集");
        EXPECT_EQ(Read(IniPath(dir), "VelmoraPlayer", "Title"), "a?b");
        // A GBK name as key: its trail byte 0x5C is not a path or line character.
        ASSERT_TRUE(Write(IniPath(dir), "VelmoraPlayer", "表", "1"));
        EXPECT_EQ(ReadInt(IniPath(dir), "表"), 1u);
    }
    {
        // A UTF-8 locale of China has the same code page: a Config.ini of Chinese Windows.
        // A UTF-8 line GBK cannot decode (its last byte is a lead byte alone) survives an
        // edit of another line.
        USE_LOCALE("zh_CN.UTF-8");
        TempDir dir;
        const std::string utf8Line = "Update=\xE7\xAC\xAC\xE4\xB8\x83\xE9\x9B\x86\r\n";
        WriteFileBytes(dir.File("Config.ini"), "[VelmoraPlayer]\r\n" + utf8Line);
        ASSERT_TRUE(Write(IniPath(dir), "VelmoraPlayer", "Title", "第七集"));
        EXPECT_EQ(ReadFileBytes(dir.File("Config.ini")),
                  "[VelmoraPlayer]\r\n" + utf8Line + "Title=\xB5\xDA\xC6\xDF\xBC\xAF\r\n");
        EXPECT_EQ(Read(IniPath(dir), "VelmoraPlayer", "Title"), "第七集");
    }
}

TEST(Profile, WindowsPathsNameLinuxFiles) {
    USE_LOCALE("zh_CN.GBK");
    TempDir dir;
    mkdir(dir.File("sub").c_str(), 0755);
    struct Case {
        std::string name;   // as the program passes it
        std::string native; // where the file must appear
    };
    const Case cases[] = {
        {dir.path() + "\\Config.ini", dir.File("Config.ini")},
        {".\\Local.ini", dir.File("Local.ini")},
        {dir.path() + "\\sub\\Deep.ini", dir.File("sub/Deep.ini")},
        {dir.path() + "\\配置.ini", dir.File("\xC5\xE4\xD6\xC3.ini")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.native);
        ASSERT_TRUE(Write(c.name, "VelmoraPlayer", "Last", "3"));
        EXPECT_EQ(ReadFileBytes(c.native), "[VelmoraPlayer]\r\nLast=3\r\n");
        EXPECT_EQ(ReadInt(c.name, "Last"), 3u);
    }
}

std::vector<std::string> Entries(const std::string& directory) {
    std::vector<std::string> names;
    DIR* d = opendir(directory.c_str());
    while (dirent* entry = d ? readdir(d) : nullptr)
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
            names.push_back(entry->d_name);
    if (d)
        closedir(d);
    return names;
}

TEST(Profile, FailedWriteLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string before = "[VelmoraPlayer]\r\nLast=4\r\nList=20\r\n";
    WriteFileBytes(dir.File("Config.ini"), before);

    // A file size limit makes the write fail part-way, as a full disk would.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    BOOL written = Write(IniPath(dir), "VelmoraPlayer", "Update", std::string(4000, 'n').c_str());
    DWORD error = GetLastError();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, savedHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(error, 112u); // ERROR_DISK_FULL
    EXPECT_EQ(ReadFileBytes(dir.File("Config.ini")), before);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"Config.ini"})
        << "the temporary file must be removed";

    // A directory that does not exist cannot hold the file.
    SetLastError(0);
    EXPECT_FALSE(Write(dir.path() + "\\missing\\Config.ini", "S", "K", "v"));
    EXPECT_EQ(GetLastError(), 3u); // ERROR_PATH_NOT_FOUND
}

TEST(Profile, RewriteKeepsTheFileMode) {
    TempDir dir;
    WriteFileBytes(dir.File("Config.ini"), "[S]\r\n");
    ASSERT_EQ(chmod(dir.File("Config.ini").c_str(), 0640), 0);
    ASSERT_TRUE(Write(IniPath(dir), "S", "K", "v"));
    struct stat info;
    ASSERT_EQ(stat(dir.File("Config.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(Profile, WorkingDirectoryNamesRoundTrip) {
    // The program's settings path: GetCurrentDirectoryW + "\\Config.ini".
    struct Case {
        const char* locale;
        std::string directory; // bytes of the directory's name
    };
    const Case cases[] = {
        {"zh_CN.UTF-8", "a\\b"},
        {"zh_CN.UTF-8", "x\xFFy\xE7\xAC"}, // bytes that are no UTF-8
        {"zh_CN.UTF-8", "第七集"},         // UTF-8 on disk while the code page is GBK
        {"zh_CN.GBK", "a\\b\xFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale + (" " + c.directory));
        USE_LOCALE(c.locale);
        TempDir dir;
        std::string native = dir.File(c.directory);
        ASSERT_EQ(mkdir(native.c_str(), 0755), 0);
        ASSERT_EQ(chdir(native.c_str()), 0);
        WCHAR current[MAX_PATH];
        DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
        ASSERT_GT(length, 0u);
        std::u16string ini(current, current + length);
        ini += u"\\Config.ini";
        const WCHAR* path = reinterpret_cast<const WCHAR*>(ini.c_str());
        EXPECT_TRUE(WritePrivateProfileStringW(L"VelmoraPlayer", L"List", L"12", path));
        EXPECT_EQ(ReadFileBytes(native + "/Config.ini"), "[VelmoraPlayer]\r\nList=12\r\n");
        EXPECT_EQ(GetPrivateProfileIntW(L"VelmoraPlayer", L"List", 0, path), 12u);
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
    }
}

struct FileIdentity {
    ino_t inode = 0;
    struct timespec modified = {};
    bool operator==(const FileIdentity& other) const {
        return inode == other.inode && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

FileIdentity Identity(const std::string& path) {
    struct stat info;
    FileIdentity identity;
    if (stat(path.c_str(), &info) == 0) {
        identity.inode = info.st_ino;
        identity.modified = info.st_mtim;
    }
    return identity;
}

TEST(Profile, WritesThatChangeNothingLeaveTheFileAlone) {
    TempDir dir;
    const std::string before = "[S]\nA=12\nB = x \n";
    WriteFileBytes(dir.File("Config.ini"), before);
    FileIdentity identity = Identity(dir.File("Config.ini"));
    const velmora::test::Edit edits[] = {{"S", "A", "12"}, {"s", "a", "  12"}, {"S", "B", "x"}};
    for (const velmora::test::Edit& e : edits)
        EXPECT_TRUE(Write(IniPath(dir), e.section, e.key, e.value));
    EXPECT_EQ(ReadFileBytes(dir.File("Config.ini")), before);
    EXPECT_TRUE(Identity(dir.File("Config.ini")) == identity) << "the file was rewritten";
}

TEST(Profile, ReadOnlyFileIsNeverReplaced) {
    TempDir dir;
    const std::string before = "[VelmoraPlayer]\r\nList=12\r\n";
    WriteFileBytes(dir.File("Config.ini"), before);
    ASSERT_EQ(chmod(dir.File("Config.ini").c_str(), 0444), 0);
    FileIdentity identity = Identity(dir.File("Config.ini"));
    SetLastError(0);
    EXPECT_FALSE(Write(IniPath(dir), "VelmoraPlayer", "List", "13"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(Write(IniPath(dir), "VelmoraPlayer", "List", "12")) << "nothing to change";
    EXPECT_EQ(ReadFileBytes(dir.File("Config.ini")), before);
    EXPECT_TRUE(Identity(dir.File("Config.ini")) == identity);
    EXPECT_EQ(ReadInt(IniPath(dir), "List"), 12u);
}

// Runs body in a child process and returns its exit status (0 when body returned true).
template <class Body> int InChild(Body body) {
    pid_t child = fork();
    if (child == 0)
        _exit(body() ? 0 : 1);
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

TEST(Profile, WritableFileInAReadOnlyDirectoryIsWrittenInPlace) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to prepare files for another user";
    // Root ignores directory modes: an unprivileged child makes the write, in a directory
    // of root's it may not create files in, on a file of its own.
    const uid_t nobody = 65534;
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    std::string locked = dir.File("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
    std::string file = locked + "/Config.ini";
    WriteFileBytes(file, "[VelmoraPlayer]\r\nList=12\r\nUpdate=a long notice that shrinks\r\n");
    ASSERT_EQ(chown(file.c_str(), nobody, nobody), 0);
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    std::string ini = locked + "\\Config.ini";
    int status = InChild([&] {
        if (setgid(nobody) != 0 || setuid(nobody) != 0)
            return false;
        return WritePrivateProfileStringW(L"VelmoraPlayer", L"List", L"13", Wide(ini)) &&
               WritePrivateProfileStringW(L"VelmoraPlayer", L"Update", L"short", Wide(ini));
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFileBytes(file), "[VelmoraPlayer]\r\nList=13\r\nUpdate=short\r\n");
    EXPECT_EQ(Entries(locked), std::vector<std::string>{"Config.ini"});
    chmod(locked.c_str(), 0755);
}

TEST(Profile, TwoProcessesNeverUndoEachOthersKeys) {
    TempDir dir;
    WriteFileBytes(dir.File("Config.ini"), "[VelmoraPlayer]\r\n");
    const int writes = 200;
    auto writer = [&](const char* key) {
        return [&, key] {
            // Each write must find this process's previous value still there.
            for (int i = 1; i <= writes; ++i)
                if (ReadInt(IniPath(dir), key) != static_cast<UINT>(i - 1) ||
                    !Write(IniPath(dir), "VelmoraPlayer", key, std::to_string(i).c_str()))
                    return false;
            return true;
        };
    };
    pid_t other = fork();
    if (other == 0)
        _exit(writer("First")() ? 0 : 1);
    bool ok = writer("Second")();
    int status = -1;
    waitpid(other, &status, 0);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadInt(IniPath(dir), "First"), static_cast<UINT>(writes));
    EXPECT_EQ(ReadInt(IniPath(dir), "Second"), static_cast<UINT>(writes));
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"Config.ini"});
}

// Each entry of a folder as name, type and, for a link its target, for a file its bytes; a
// FIFO or device is never opened.
std::vector<std::string> Snapshot(const std::string& directory) {
    std::vector<std::string> entries;
    for (const std::string& name : Entries(directory)) {
        std::string path = directory + "/" + name;
        struct stat info = {};
        lstat(path.c_str(), &info);
        std::string entry = name + " " + std::to_string(info.st_mode & S_IFMT) + " ";
        char target[256] = {};
        if (S_ISLNK(info.st_mode))
            entry += std::string(target, std::max<ssize_t>(readlink(path.c_str(), target, 255), 0));
        else if (S_ISREG(info.st_mode))
            entry += ReadFileBytes(path);
        entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// A child process that holds an exclusive flock on the folder until it is killed.
pid_t HoldFolderLock(const std::string& directory) {
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    pid_t child = fork();
    if (child == 0) {
        int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0 || flock(fd, LOCK_EX) != 0 || write(ready[1], "x", 1) != 1)
            _exit(1);
        for (;;)
            pause();
    }
    char byte = 0;
    close(ready[1]);
    bool locked = child > 0 && read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    return locked ? child : -1;
}

// What another user can put in Config.ini's place in a folder both write to. Nothing of it
// is followed, waited on for long or read: the defaults come back, nothing is written or
// created, and no call takes much longer than the lock's wait.
TEST(Profile, WhatIsInTheFilesPlaceIsNeverFollowedWaitedOnOrWritten) {
    const std::string settings = "[VelmoraPlayer]\r\nList=7\r\n";
    struct Case {
        const char* name;
        std::function<bool(const std::string& ini, const TempDir& dir)> plant;
        bool lockFolder = false;
    };
    const Case cases[] = {
        {"link to a file",
         [&](const std::string& ini, const TempDir& dir) {
             WriteFileBytes(dir.File("victim"), settings);
             return symlink("victim", ini.c_str()) == 0;
         }},
        {"dangling link",
         [](const std::string& ini, const TempDir&) {
             return symlink("created-through-the-link", ini.c_str()) == 0;
         }},
        {"FIFO",
         [](const std::string& ini, const TempDir&) { return mkfifo(ini.c_str(), 0666) == 0; }},
        {"/dev/zero", // the device itself where mknod is allowed, else a link to it
         [](const std::string& ini, const TempDir&) {
             return mknod(ini.c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0 ||
                    symlink("/dev/zero", ini.c_str()) == 0;
         }},
        {"a folder",
         [](const std::string& ini, const TempDir&) { return mkdir(ini.c_str(), 0755) == 0; }},
        {"an over-long file",
         [&](const std::string& ini, const TempDir&) {
             WriteFileBytes(ini, settings + ";" +
                                     std::string(velmora::kernel32::kMostProfileBytes, 'x'));
             return true;
         }},
        {"a lock held by another process",
         [&](const std::string& ini, const TempDir&) {
             WriteFileBytes(ini, settings);
             return true;
         },
         true},
    };
    using Clock = std::chrono::steady_clock;
    const auto most = std::chrono::milliseconds(velmora::kernel32::kProfileLockWaitMs * 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ASSERT_TRUE(c.plant(dir.File("Config.ini"), dir));
        pid_t holder = c.lockFolder ? HoldFolderLock(dir.path()) : 0;
        ASSERT_GE(holder, 0);
        std::vector<std::string> before = Snapshot(dir.path());

        auto start = Clock::now();
        EXPECT_EQ(Read(IniPath(dir), "VelmoraPlayer", "List", "d"), "d");
        EXPECT_LT(Clock::now() - start, most);
        start = Clock::now();
        EXPECT_FALSE(Write(IniPath(dir), "VelmoraPlayer", "List", "9"));
        EXPECT_LT(Clock::now() - start, most);
        EXPECT_EQ(Snapshot(dir.path()), before);

        if (holder > 0) {
            kill(holder, SIGKILL);
            waitpid(holder, nullptr, 0);
        }
    }
}

} // namespace
