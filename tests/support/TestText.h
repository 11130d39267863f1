// Wide (UTF-16) text helpers for tests: compare wide text as UTF-8, build wide buffers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora::test {

// UTF-16 (zero-terminated) to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf8(const WCHAR* text);
std::string Utf8(const std::u16string& text);

// UTF-8 to UTF-16 without terminator.
std::u16string Utf16(const std::string& text);

// A zero-terminated wide copy of UTF-8 text, for passing to Win32 calls.
class Wide {
  public:
    explicit Wide(const std::string& utf8);
    operator const WCHAR*() const { return text_.data(); }
    const WCHAR* get() const { return text_.data(); }

  private:
    std::vector<WCHAR> text_;
};

} // namespace velmora::test
