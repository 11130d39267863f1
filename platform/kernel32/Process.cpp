// Thread error state, lstr* and the current directory.
#include "Kernel32Internal.h"

#include <errno.h>
#include <unistd.h>

#include <vector>

using namespace velmora::kernel32;

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError(void) {
    return lastError;
}

void WINAPI SetLastError(DWORD code) {
    lastError = code;
}

int WINAPI lstrlenW(LPCWSTR text) {
    return static_cast<int>(WideLength(text));
}

// Ordinal comparison. Windows compares linguistically, but the program only ever tests
// for equality, where both agree; NULL sorts before every string, as on Windows.
int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b) {
    if (!a || !b)
        return a ? 1 : b ? -1 : 0;
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    if (*a == *b)
        return 0;
    return static_cast<uint16_t>(*a) < static_cast<uint16_t>(*b) ? -1 : 1;
}

LPWSTR WINAPI lstrcpyW(LPWSTR target, LPCWSTR source) {
    // Windows catches the access fault of a null pointer and returns NULL.
    if (!target || !source)
        return nullptr;
    LPWSTR out = target;
    while ((*out++ = *source++) != 0) {
    }
    return target;
}

DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    std::vector<char> path(4096);
    while (!getcwd(path.data(), path.size())) {
        if (errno != ERANGE) {
            SetLastError(ErrorFromErrno(errno));
            return 0;
        }
        path.resize(path.size() * 2);
    }
    // In a form the file functions turn back into the same name.
    std::u16string wide = NativeNameToWide(path.data());
    DWORD length = static_cast<DWORD>(wide.size());
    if (!buffer || size <= length)
        return length + 1; // the room needed, terminator included; buffer left alone
    return static_cast<DWORD>(CopyCut(wide, buffer, size));
}
