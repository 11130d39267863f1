// Helpers shared by the kernel32 sources (and wininet and user32): the ANSI code page, paths
// and error codes.
#pragma once

#include <windows.h>

#include "kernel32/Strings.h"

#include <string>

namespace velmora::kernel32 {

// Error codes the platform sets that the public header does not name.
constexpr DWORD kErrorPathNotFound = 3;
constexpr DWORD kErrorWriteFault = 29;
constexpr DWORD kErrorDiskFull = 112;
constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kErrorSharingViolation = 32;

// A profile file longer than this is far beyond any real one: it is not read, and never
// rewritten.
constexpr size_t kMostProfileBytes = 1 << 20;
// How long a profile call waits for another process's lock on the file's folder (Profile.cpp
// says what then happens).
constexpr int kProfileLockWaitMs = 1000;

// Whole-string conversions between UTF-16 and the ANSI code page (see AnsiCodePageOf). Bytes
// it cannot decode become '?'; characters it cannot encode become '?' and set *lossy.
std::u16string AnsiToWide(const std::string& bytes);
std::string WideToAnsi(const std::u16string& text, bool* lossy);

// The ANSI code page Wine chooses for a locale name ("zh_CN.UTF-8" -> 936): by language and
// territory, whatever the character set; 1252 for C, POSIX and languages it does not know.
UINT AnsiCodePageOf(const std::string& locale);

// The function named entry of the module file beside the program (a module of the program's
// own: WebKit's, libcurl's), opened with its symbols kept to itself; callers keep what it
// returns. It is looked for there only, never where the working directory or the environment,
// which others' files and pages can reach, would point. Null, with why it failed and the path
// tried, when it cannot.
void* ModuleEntryBesideProgram(const char* module, const char* entry, std::string& why);

// A Linux file name (in the locale's character set) as UTF-16 that ToNativePath turns back
// into the same bytes: a byte that is no character becomes U+DC80..U+DCFF and a '\' in the
// name becomes U+F05C, so the program's own '\' separators stay separators.
std::u16string NativeNameToWide(const std::string& bytes);

// A Win32 file name as a Linux path in the locale's character set: '\' is a separator,
// U+F05C a '\' of a name and U+DC80..U+DCFF the bytes NativeNameToWide escaped. Returns false
// when the name cannot be represented in the locale's character set.
bool ToNativePath(const WCHAR* name, std::string* path);

// Maps errno to the nearest Win32 error code.
DWORD ErrorFromErrno(int error);

// Sets the thread's last error and answers failed: how a call reports its failure (FALSE,
// 0, a null handle, ...).
template <class T = BOOL> T Fail(DWORD error, T failed = T()) {
    SetLastError(error);
    return failed;
}

} // namespace velmora::kernel32
