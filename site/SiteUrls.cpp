// Reading the addresses the embedded browser reports. The browser resolves relative links
// before it reports them, so every address here is absolute.
#include "site/Site.h"

namespace {

WCHAR Lower(WCHAR c) {
    return c >= L'A' && c <= L'Z' ? (WCHAR)(c - L'A' + L'a') : c;
}

// Whether text starts with ascii's count characters, compared without regard to case (a
// shorter text differs at its end).
bool SameWithoutCase(LPCWSTR text, LPCWSTR ascii, int count) {
    for (int i = 0; i < count; ++i)
        if (Lower(text[i]) != Lower(ascii[i]))
            return false;
    return true;
}

// Whether url starts with one of two prefixes, compared without regard to case.
BOOL StartsWithAny(LPCWSTR url, LPCWSTR first, LPCWSTR second) {
    return url && (SameWithoutCase(url, first, lstrlenW(first)) ||
                   SameWithoutCase(url, second, lstrlenW(second)));
}

// Length of "scheme://authority" (the origin) of an address; 0 when it has none.
int OriginLength(LPCWSTR url) {
    int i = 0;
    while (url[i] && url[i] != L':' && url[i] != L'/' && url[i] != L'?' && url[i] != L'#')
        ++i;
    if (i == 0 || url[i] != L':' || url[i + 1] != L'/' || url[i + 2] != L'/')
        return 0;
    i += 3;
    while (url[i] && url[i] != L'/' && url[i] != L'?' && url[i] != L'#')
        ++i;
    return i;
}

// Compares the origins case-insensitively (schemes and host names are) and what follows
// exactly (paths are case-sensitive). Returns how much of url the root covers, or -1.
int RootPrefixLength(LPCWSTR root, LPCWSTR url) {
    int origin = OriginLength(root);
    if (origin == 0 || OriginLength(url) != origin)
        return -1;
    for (int i = 0; i < origin; ++i)
        if (Lower(root[i]) != Lower(url[i]))
            return -1;
    int i = origin;
    while (root[i]) {
        if (root[i] != url[i])
            return -1;
        ++i;
    }
    return i;
}

} // namespace

BOOL IsPageOwnAddress(LPCWSTR url) {
    return StartsWithAny(url, L"javascript:", L"about:");
}

BOOL IsProgramPageAddress(LPCWSTR url) {
    return url && SameWithoutCase(url, L"res:", 4);
}

BOOL IsProgramPage(LPCWSTR url, LPCWSTR name) {
    int length = url ? lstrlenW(url) : 0, nameLength = lstrlenW(name);
    return IsProgramPageAddress(url) && length > nameLength + 1 &&
           url[length - nameLength - 1] == L'/' &&
           SameWithoutCase(url + length - nameLength, name, nameLength);
}

BOOL IsWebAddress(LPCWSTR url) {
    return StartsWithAny(url, L"http://", L"https://");
}

BOOL IsInsideSite(LPCWSTR root, LPCWSTR url) {
    return root && url && RootPrefixLength(root, url) >= 0;
}

int EpisodeOfUrl(LPCWSTR root, LPCWSTR url) {
    static const WCHAR episodePath[] = L"video/player/?flv=";
    int at = url ? RootPrefixLength(root, url) : -1;
    if (at < 0)
        return 0;
    for (int i = 0; episodePath[i]; ++i, ++at)
        if (url[at] != episodePath[i])
            return 0;
    // Leading zeros count ("007" is 7); more than nine digits is beyond any list. A
    // fragment is not part of the page; any other parameter makes it another page.
    int episode = 0;
    int digits = 0;
    for (; url[at] >= L'0' && url[at] <= L'9'; ++at) {
        episode = episode * 10 + (url[at] - L'0');
        if (episode > 0 && ++digits > 9)
            return 0;
    }
    if (url[at] != 0 && url[at] != L'#')
        return 0;
    return episode;
}
