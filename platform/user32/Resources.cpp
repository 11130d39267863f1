#include "user32/Resources.h"

#include "kernel32/Strings.h"

#include <map>

namespace velmora::platform {
namespace {
// Icon and cursor handles carry their resource id in a range no pointer uses.
constexpr uintptr_t kIconHandleBase = 0x00100000;
constexpr uintptr_t kCursorHandleBase = 0x00200000;

std::map<int, IconResource>& IconTable() {
    static std::map<int, IconResource> table;
    return table;
}
// Keyed by the name in upper case, as Windows stores resource names.
std::map<std::string, std::string>& HtmlTable() {
    static std::map<std::string, std::string> table;
    return table;
}

std::string ResourceKey(std::string name) {
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return name;
}
} // namespace

bool RegisterHtmlResource(LPCWSTR name, const unsigned char* data, size_t size) {
    HtmlTable()[ResourceKey(velmora::kernel32::WideToUtf8(name))].assign((const char*)data, size);
    return true;
}

const std::string* FindHtmlResource(const std::string& name) {
    auto found = HtmlTable().find(ResourceKey(name));
    return found == HtmlTable().end() ? nullptr : &found->second;
}

bool RegisterIconResource(int id, const unsigned char* data, size_t size) {
    IconTable()[id] = IconResource{data, size};
    return true;
}

IconResource FindIconResource(int id) {
    auto found = IconTable().find(id);
    return found == IconTable().end() ? IconResource{} : found->second;
}

int IconResourceId(HICON icon) {
    uintptr_t value = reinterpret_cast<uintptr_t>(icon);
    if (value <= kIconHandleBase || value > kIconHandleBase + 0xFFFF)
        return 0;
    return (int)(value - kIconHandleBase);
}

} // namespace velmora::platform

using namespace velmora::platform;

HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name) {
    if (!IS_INTRESOURCE(name))
        return nullptr; // named resources are not used
    int id = (int)(ULONG_PTR)name;
    // Without an instance the system's own icons are meant; with one, the program's.
    if (instance && !FindIconResource(id).data)
        return nullptr;
    return reinterpret_cast<HICON>(kIconHandleBase + id);
}

HCURSOR WINAPI LoadCursorW(HINSTANCE instance, LPCWSTR name) {
    if (instance || !IS_INTRESOURCE(name))
        return nullptr; // only the system cursors exist
    return reinterpret_cast<HCURSOR>(kCursorHandleBase + (ULONG_PTR)name);
}
