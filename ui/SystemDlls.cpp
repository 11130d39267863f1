// Windows builds only: the DLLs the program needs beyond Windows' known DLLs (wininet,
// urlmon, atl) load from the system folder, never from the program's own folder, where
// anyone who can write beside a portable copy could plant one of the same name.
//
// They are delay-loaded (import libraries made with dlltool --output-delaylib, see
// CMakeLists.txt), and the delay-load helper asks the hook below before it loads one. The
// static imports left are known DLLs, which Windows always takes from System32, and
// comctl32, which the manifest binds to the side-by-side Common Controls 6: that binding
// comes before any folder search, and loading it here by its System32 path would give the
// old version 5 instead.
#include <windows.h>
#include <delayimp.h>

namespace {

FARPROC WINAPI LoadFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary)
        return NULL;
    WCHAR path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    HMODULE module = NULL;
    if (length > 0 && length < MAX_PATH - 1) {
        path[length++] = L'\\';
        int name =
            MultiByteToWideChar(CP_ACP, 0, info->szDll, -1, path + length, MAX_PATH - (int)length);
        // The altered search path makes the DLL's own imports resolve from its folder too.
        if (name > 0)
            module = LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    // Answering NULL would let the helper search for the name itself, program folder first;
    // fail as the helper fails on a missing DLL instead.
    if (!module) {
        ULONG_PTR argument = (ULONG_PTR)info;
        RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1, &argument);
    }
    return (FARPROC)module;
}

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);

// DLLs that the system DLLs load by name later (the browser control's own) are searched in
// System32 only as well. Windows 7 has the call only with KB2533623, so it is looked up.
struct SystemFolderSearch {
    SystemFolderSearch() {
        SetDefaultDllDirectoriesFunction setDefaultDllDirectories =
            (SetDefaultDllDirectoriesFunction)(void*)GetProcAddress(
                GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
        if (setDefaultDllDirectories)
            setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
} systemFolderSearch;

} // namespace

// Declared extern "C" by delayimp.h; this definition replaces the runtime's empty one.
PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemFolder;
