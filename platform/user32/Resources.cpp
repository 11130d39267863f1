#include "user32/Resources.h"

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
} // namespace

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
