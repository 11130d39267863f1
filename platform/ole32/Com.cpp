// COM as far as the player uses it. Nothing needs initialising: the one COM object, the
// browser control, is made by the ATL host itself.
#include <windows.h>

#include "kernel32/Strings.h"

#include <stdlib.h>

#include <ocidl.h>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IConnectionPoint = {
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IConnectionPointContainer = {
    0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

HRESULT WINAPI CoInitialize(LPVOID) {
    return S_OK;
}

void WINAPI CoUninitialize(void) {}

// A BSTR is preceded by its length in bytes, as on Windows, so SysStringLen works.
BSTR WINAPI SysAllocString(LPCOLESTR text) {
    if (!text)
        return nullptr;
    UINT bytes = (UINT)(velmora::kernel32::WideLength(text) * sizeof(OLECHAR));
    UINT* block = static_cast<UINT*>(malloc(sizeof bytes + bytes + sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    *block = bytes;
    memcpy(block + 1, text, bytes + sizeof(OLECHAR));
    return reinterpret_cast<BSTR>(block + 1);
}

void WINAPI SysFreeString(BSTR text) {
    if (text)
        free(reinterpret_cast<UINT*>(text) - 1);
}

UINT WINAPI SysStringLen(BSTR text) {
    return text ? reinterpret_cast<UINT*>(text)[-1] / sizeof(OLECHAR) : 0;
}
