#include "site/Site.h"

#include <windows.h>
#include <wininet.h>

#include "settings/Settings.h"

// Both time-outs of a fetch, and the longest a whole fetch may take. Without them a site
// that accepts the connection and never answers, or sends a byte now and then, froze the
// window for as long as it cared to.
DWORD FetchTimeoutMs = 10000;

// Bytes of body kept: the byte buffer is 1024 bytes and always ends in a terminator.
static const DWORD BodyCapacity = 1023;

// Whether bytes[0..length) convert without an invalid or incomplete character.
static BOOL IsWholeText(const char* bytes, DWORD length) {
    return length == 0 ||
           MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, (int)length, NULL, 0) > 0;
}

// A body cut at the buffer's end may end inside a multi-byte character: drop its leading
// bytes (at most 3) so the converted text ends on a whole character. If the text is still
// invalid after that, the fault lies elsewhere in the body and nothing is dropped.
static void DropCutCharacter(char* bytes, DWORD length) {
    if (IsWholeText(bytes, length))
        return;
    for (DWORD dropped = 1; dropped <= 3 && dropped < length; ++dropped) {
        if (IsWholeText(bytes, length - dropped)) {
            ZeroMemory(bytes + length - dropped, dropped);
            return;
        }
    }
}

BOOL FetchText(LPCWSTR address, WCHAR* text) {
    ZeroMemory(text, TEXT_CAPACITY * sizeof(WCHAR));
    const DWORD started = GetTickCount();

    HINTERNET session = InternetOpenW(L"Velmora", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    if (!session)
        return FALSE;
    DWORD timeout = FetchTimeoutMs;
    InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);

    static const WCHAR headers[] = L"Accept: */*\r\n\r\n";
    HINTERNET request = InternetOpenUrlW(session, address, headers, lstrlenW(headers),
                                         INTERNET_FLAG_NO_CACHE_WRITE, 0);
    BOOL succeeded = request != NULL;

    // An error page is not the answer asked for: storing its body would replace a good
    // count or notice with the site's error text.
    if (succeeded) {
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                            &size, NULL) ||
            status < 200 || status > 299)
            succeeded = FALSE;
    }

    // One read returns only what has arrived so far: a body arriving in pieces was cut
    // short. Read until the end of the body or until the buffer is full.
    char bytes[BodyCapacity + 1];
    ZeroMemory(bytes, sizeof bytes);
    DWORD length = 0;
    while (succeeded && length < BodyCapacity) {
        // The receive time-out bounds each wait; the time left bounds them all together.
        DWORD elapsed = GetTickCount() - started;
        if (elapsed >= FetchTimeoutMs) {
            succeeded = FALSE;
            break;
        }
        DWORD left = FetchTimeoutMs - elapsed;
        InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &left, sizeof left);
        DWORD got = 0;
        if (!InternetReadFile(request, bytes + length, BodyCapacity - length, &got))
            succeeded = FALSE;
        else if (got == 0)
            break;
        else
            length += got;
    }

    if (request)
        InternetCloseHandle(request);
    InternetCloseHandle(session);
    if (!succeeded)
        return FALSE;

    if (length == BodyCapacity)
        DropCutCharacter(bytes, length);
    MultiByteToWideChar(CP_ACP, 0, bytes, -1, text, TEXT_CAPACITY);
    return TRUE;
}

// Stores the first line of the text at address as key. A failed fetch stores nothing, so
// the last good value stays (storing the empty text emptied the list on every network
// fault); and only the first line, so a reply can never add lines, keys or sections to
// Config.ini.
static void StoreFirstLine(LPCWSTR address, LPCWSTR key) {
    WCHAR text[TEXT_CAPACITY];
    if (!FetchText(address, text))
        return;
    for (int i = 0; text[i]; ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            text[i] = 0;
            break;
        }
    }
    WriteSetting(key, text);
}

int FetchEpisodeCount() {
    StoreFirstLine(CountUrl, KeyList);
    return 1;
}

int FetchNotice() {
    StoreFirstLine(NoticeUrl, KeyUpdate);
    return 1;
}
