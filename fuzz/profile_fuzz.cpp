// Any bytes as Config.ini: every read stays inside its buffer and terminates it, integer
// reads never fail, and a write leaves a file that reads back the value written.
#include <windows.h>

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace {

std::string ScratchFile() {
    static std::string path = [] {
        char dir[] = "/tmp/velmora-profile-fuzz-XXXXXX";
        if (!mkdtemp(dir))
            abort();
        return std::string(dir) + "/Config.ini";
    }();
    return path;
}

void CheckRead(const WCHAR* section, const WCHAR* key, const WCHAR* file, DWORD size) {
    WCHAR buffer[80];
    for (WCHAR& c : buffer)
        c = 0x7777;
    DWORD length = GetPrivateProfileStringW(section, key, L"def", buffer, size, file);
    if (size > 0 && length >= size)
        abort(); // never reports more than fits
    for (DWORD i = size; i < 80; ++i)
        if (buffer[i] != 0x7777)
            abort(); // wrote past the buffer
    if (size > 0 && section && key && buffer[length] != 0)
        abort(); // a value is always terminated
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setlocale(LC_ALL, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = ScratchFile();
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        abort();
    fwrite(data, 1, size, f);
    fclose(f);

    // The scratch path is ASCII, each byte its own UTF-16 unit, whatever the code page.
    WCHAR file[512] = {};
    std::copy(path.begin(), path.end(), file);
    const WCHAR* sections[] = {L"VelmoraPlayer", L"", L"a", nullptr};
    const WCHAR* keys[] = {L"List", L"", L";x", nullptr};
    const DWORD sizes[] = {0, 1, 2, 3, 17, 64};
    for (const WCHAR* section : sections)
        for (const WCHAR* key : keys)
            for (DWORD bufferSize : sizes)
                CheckRead(section, key, file, bufferSize);
    GetPrivateProfileIntW(L"VelmoraPlayer", L"List", 0, file);

    if (WritePrivateProfileStringW(L"VelmoraPlayer", L"Last", L"42", file)) {
        if (GetPrivateProfileIntW(L"VelmoraPlayer", L"Last", 0, file) != 42) {
            // Only an earlier key of the same name in a section header that also reads as
            // VelmoraPlayer could shadow it; the write edits that one, so this must hold.
            abort();
        }
    }
    return 0;
}
