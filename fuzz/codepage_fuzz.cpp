// Any bytes through the code-page conversions, in UTF-8 and GBK: size queries agree with
// what is written, too-small buffers fail without writing past their end.
#include <windows.h>

#include <locale.h>
#include <stdlib.h>

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static const char* locales[] = {"C.UTF-8", "zh_CN.GBK"};
    setlocale(LC_ALL, locales[data[0] & 1]);
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    int length = static_cast<int>(size - 1);
    const UINT pages[] = {CP_UTF8, CP_ACP};
    for (UINT page : pages) {
        for (DWORD flags : {DWORD(0), DWORD(MB_ERR_INVALID_CHARS)}) {
            int needed = MultiByteToWideChar(page, flags, bytes, length, nullptr, 0);
            if (needed < 0)
                abort();
            std::vector<WCHAR> wide(needed + 8, 0x7777);
            int written = MultiByteToWideChar(page, flags, bytes, length, wide.data(), needed);
            if (written != needed || wide[needed] != 0x7777)
                abort();
            if (needed > 1) {
                std::vector<WCHAR> small(needed + 8, 0x7777);
                if (MultiByteToWideChar(page, flags, bytes, length, small.data(), needed - 1) != 0)
                    abort(); // too small must fail
                if (small[needed - 1] != 0x7777)
                    abort();
            }
            if (needed == 0)
                continue;
            int back =
                WideCharToMultiByte(page, 0, wide.data(), written, nullptr, 0, nullptr, nullptr);
            std::vector<char> narrow(back + 8, '#');
            if (WideCharToMultiByte(page, 0, wide.data(), written, narrow.data(), back, nullptr,
                                    nullptr) != back ||
                narrow[back] != '#')
                abort();
        }
    }
    return 0;
}
