// What a process keeps for its threads: the last error, with errno's nearest Win32 code
// for it, and the current directory; the program's own file, and the modules beside it.
#include "Kernel32Internal.h"

#include <dlfcn.h>
#include <errno.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

using namespace velmora::kernel32;

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// The program's own file (/proc/self/exe) as a Linux path; empty, with errno set, when it
// cannot be read.
std::string ProgramPath() {
    std::error_code error;
    std::string path = std::filesystem::read_symlink("/proc/self/exe", error);
    errno = error.value();
    return path;
}

} // namespace

namespace velmora::kernel32 {

DWORD ErrorFromErrno(int error) {
    static const std::pair<int, DWORD> kErrors[] = {
        {0, ERROR_SUCCESS},
        {ENOENT, ERROR_FILE_NOT_FOUND},
        {ENOTDIR, kErrorPathNotFound},
        {EACCES, ERROR_ACCESS_DENIED},
        {EPERM, ERROR_ACCESS_DENIED},
        {EROFS, ERROR_ACCESS_DENIED},
        {EISDIR, ERROR_ACCESS_DENIED},
        {ENOSPC, kErrorDiskFull},
        {EFBIG, kErrorDiskFull},
        {EDQUOT, kErrorDiskFull},
        {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
        {ENAMETOOLONG, kErrorInvalidName},
        {EINVAL, ERROR_INVALID_PARAMETER},
    };
    for (const auto& [errnoValue, win32] : kErrors)
        if (errnoValue == error)
            return win32;
    return kErrorWriteFault;
}

void* ModuleEntryBesideProgram(const char* module, const char* entry, std::string& why) {
    const std::string program = ProgramPath();
    if (program.empty()) {
        why = std::string(module) + ": the program's own path is unknown";
        return nullptr;
    }
    const std::string path = program.substr(0, program.rfind('/') + 1) + module;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* function = library ? dlsym(library, entry) : nullptr;
    if (!function)
        why = library ? path + ": it is not the program's module" : std::string(dlerror());
    return function;
}

} // namespace velmora::kernel32

DWORD WINAPI GetLastError(void) {
    return lastError;
}

void WINAPI SetLastError(DWORD code) {
    lastError = code;
}

DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    std::error_code error;
    const std::string path = std::filesystem::current_path(error);
    if (error)
        return Fail<DWORD>(ErrorFromErrno(error.value()));
    // In a form the file functions turn back into the same name.
    std::u16string wide = NativeNameToWide(path);
    DWORD length = static_cast<DWORD>(wide.size());
    if (!buffer || size <= length)
        return length + 1; // the room needed, terminator included; buffer left alone
    return static_cast<DWORD>(CopyCut(wide, buffer, size));
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    std::string path = module ? "" : ProgramPath();
    if (path.empty())
        return Fail<DWORD>(module ? ERROR_INVALID_PARAMETER : ErrorFromErrno(errno));
    std::u16string wide = NativeNameToWide(path);
    if (!buffer || size == 0)
        return Fail<DWORD>(ERROR_INSUFFICIENT_BUFFER);
    DWORD copied = static_cast<DWORD>(CopyCut(wide, buffer, size));
    if (wide.size() >= size)
        return Fail(ERROR_INSUFFICIENT_BUFFER, size);
    SetLastError(ERROR_SUCCESS);
    return copied;
}
