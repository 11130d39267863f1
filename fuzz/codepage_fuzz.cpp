// Any bytes through the code-page conversions, in a UTF-8 and a GBK locale: size queries agree
// with what is written, too-small buffers fail without writing past their end, decoded text
// encodes again, and UTF-8 decoding gives text that survives the way back.
#include <windows.h>

#include "kernel32/Kernel32Internal.h"

#include <locale.h>
#include <stdlib.h>

#include <vector>

namespace kernel32 = velmora::kernel32;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static const char* locales[] = {"zh_CN.UTF-8", "zh_CN.GBK"};
    setlocale(LC_ALL, locales[data[0] & 1]);
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    int length = static_cast<int>(size - 1);
    for (DWORD flags : {DWORD(0), DWORD(MB_ERR_INVALID_CHARS)}) {
        int needed = MultiByteToWideChar(CP_ACP, flags, bytes, length, nullptr, 0);
        if (needed < 0)
            abort();
        std::vector<WCHAR> wide(needed + 8, 0x7777);
        int written = MultiByteToWideChar(CP_ACP, flags, bytes, length, wide.data(), needed);
        if (written != needed || wide[needed] != 0x7777)
            abort();
        if (needed > 1) {
            std::vector<WCHAR> small(needed + 8, 0x7777);
            if (MultiByteToWideChar(CP_ACP, flags, bytes, length, small.data(), needed - 1) != 0)
                abort(); // too small must fail
            if (small[needed - 1] != 0x7777)
                abort();
        }
        // Text decoded without a replacement has a form in the code page.
        bool lossy = false;
        kernel32::WideToAnsi(std::u16string(wide.begin(), wide.begin() + written), &lossy);
        if (flags && lossy)
            abort();
    }
    std::u16string fromUtf8 = kernel32::Utf8ToWide(std::string(bytes, size - 1));
    if (kernel32::Utf8ToWide(kernel32::WideToUtf8(fromUtf8)) != fromUtf8)
        abort(); // what UTF-8 decoding gives is well-formed and survives the way back
    return 0;
}
