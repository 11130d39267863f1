// Helpers shared by the kernel32 sources: UTF-16 strings, the ANSI code page and paths.
#pragma once

#include <windows.h>

#include <string>

namespace velmora::kernel32 {

// Error codes the platform sets that the public header does not name.
constexpr DWORD kErrorPathNotFound = 3;
constexpr DWORD kErrorWriteFault = 29;
constexpr DWORD kErrorDiskFull = 112;
constexpr DWORD kErrorInvalidName = 123;

// Length of a zero-terminated UTF-16 string (NULL counts as empty).
size_t WideLength(const WCHAR* text);

// Whole-string conversions between UTF-16 and the ANSI code page (the locale's character set).
// Bytes the locale cannot decode become U+FFFD (UTF-8) or '?'; characters it cannot encode
// become '?' and set *lossy.
std::u16string AnsiToWide(const std::string& bytes);
std::string WideToAnsi(const std::u16string& text, bool* lossy);

// UTF-8 <-> UTF-16 with the same replacement rules as CP_UTF8.
std::u16string Utf8ToWide(const std::string& bytes);
std::string WideToUtf8(const std::u16string& text);

// A Win32 file name as a Linux path in the locale's encoding: '\' is a separator. Returns
// false when the name cannot be represented in the locale's encoding.
bool ToNativePath(const WCHAR* name, std::string* path);

// Maps errno to the nearest Win32 error code.
DWORD ErrorFromErrno(int error);

} // namespace velmora::kernel32
