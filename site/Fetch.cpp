#include "site/Site.h"

#include <windows.h>
#include <wininet.h>

#include <stdlib.h>

#include "settings/Settings.h"

// The longest a whole fetch may take, so that a site which accepts the connection and then
// never answers, or sends a byte now and then, cannot hold the window.
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

// One fetch, shared by the caller and the thread that runs it.
struct Fetch {
    WCHAR address[1024];
    HINTERNET session;
    char bytes[BodyCapacity + 1];
    DWORD length;
    BOOL succeeded;
    // Running until one side claims it: the thread when it has finished (the caller then
    // takes the result), or the caller when the deadline has passed (the thread then frees
    // the fetch).
    LONG volatile state;
};
enum { Running, Finished, Abandoned };

// Runs on its own thread and calls WinINet only: windows, settings and message boxes stay on
// the UI thread.
static DWORD WINAPI RunFetch(LPVOID parameter) {
    Fetch* fetch = (Fetch*)parameter;
    static const WCHAR headers[] = L"Accept: */*\r\n\r\n";
    HINTERNET request = InternetOpenUrlW(fetch->session, fetch->address, headers, lstrlenW(headers),
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

    // One read returns only what has arrived so far, so a body arriving in pieces takes
    // several. Read until the end of the body or until the buffer is full, or until the
    // caller has given up (its handles are closed then).
    while (succeeded && fetch->length < BodyCapacity &&
           InterlockedCompareExchange(&fetch->state, Running, Running) == Running) {
        DWORD got = 0;
        if (!InternetReadFile(request, fetch->bytes + fetch->length, BodyCapacity - fetch->length,
                              &got))
            succeeded = FALSE;
        else if (got == 0)
            break;
        else
            fetch->length += got;
    }
    fetch->succeeded = succeeded;

    if (InterlockedCompareExchange(&fetch->state, Finished, Running) == Running) {
        if (request)
            InternetCloseHandle(request);
        InternetCloseHandle(fetch->session);
    } else {
        // The caller closed the session, and the request with it, and is gone.
        free(fetch);
    }
    return 0;
}

// WinINet's time-outs bound each wait, not the fetch: a site that sends a header line now and
// then, or answers each redirect slowly, never lets them expire. So the fetch runs on a thread
// of its own, and the caller waits for it until the deadline. Then it closes the session,
// which on Windows cancels the call the thread is blocked in; where it does not (Wine), the
// thread ends when the call does, without the window waiting for it.
BOOL FetchText(LPCWSTR address, WCHAR* text) {
    ZeroMemory(text, TEXT_CAPACITY * sizeof(WCHAR));
    Fetch* fetch = (Fetch*)calloc(1, sizeof(Fetch));
    if (!fetch)
        return FALSE;
    if (lstrlenW(address) >= (int)(sizeof fetch->address / sizeof(WCHAR))) {
        free(fetch);
        return FALSE;
    }
    lstrcpyW(fetch->address, address);
    HINTERNET session = InternetOpenW(L"Velmora", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    if (!session) {
        free(fetch);
        return FALSE;
    }
    fetch->session = session;
    // A thread left behind still ends once a site falls silent.
    DWORD timeout = FetchTimeoutMs;
    InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);

    HANDLE thread = CreateThread(NULL, 0, RunFetch, fetch, 0, NULL);
    if (!thread) {
        InternetCloseHandle(session);
        free(fetch);
        return FALSE;
    }
    if (WaitForSingleObject(thread, FetchTimeoutMs) == WAIT_TIMEOUT &&
        InterlockedCompareExchange(&fetch->state, Abandoned, Running) == Running) {
        InternetCloseHandle(session);
        CloseHandle(thread);
        return FALSE;
    }
    // Finished, or finishing: it only closes its handles now.
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    BOOL succeeded = fetch->succeeded;
    if (succeeded) {
        if (fetch->length == BodyCapacity)
            DropCutCharacter(fetch->bytes, fetch->length);
        MultiByteToWideChar(CP_ACP, 0, fetch->bytes, -1, text, TEXT_CAPACITY);
    }
    free(fetch);
    return succeeded;
}

// Stores the first line of the text at address as key. A failed fetch stores nothing, so
// the last good value (and the list made from it) stays through a network fault; and only
// the first line, so a reply can never add lines, keys or sections to Config.ini.
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
