// The program's fetch alone, for the Windows build under Wine: "fetch_probe ADDRESS
// TIMEOUT_MS" runs FetchText once and prints "TRUE <text>" or "FALSE", then the
// milliseconds the fetch took.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "settings/Settings.h"
#include "site/Site.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: fetch_probe ADDRESS TIMEOUT_MS\n");
        return 2;
    }
    WCHAR address[1024];
    if (!MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, address, 1024))
        return 2;
    FetchTimeoutMs = (DWORD)strtoul(argv[2], NULL, 10);
    WCHAR text[TEXT_CAPACITY];
    DWORD started = GetTickCount();
    BOOL ok = FetchText(address, text);
    DWORD elapsed = GetTickCount() - started;
    char utf8[TEXT_CAPACITY * 3];
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, (int)sizeof utf8, NULL, NULL);
    printf("%s %s\n%lu\n", ok ? "TRUE" : "FALSE", utf8, (unsigned long)elapsed);
    return 0;
}
