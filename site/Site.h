// The content site: its addresses and the one text fetch.
#pragma once

#include <windows.h>

// Root address of the content site, ending with '/'; every other address is built on it.
extern const WCHAR SiteRoot[];

extern const WCHAR StartPageUrl[];
// Formatted with wsprintfW and the episode number.
extern const WCHAR EpisodeUrlFormat[];
extern const WCHAR CountUrl[];
extern const WCHAR NoticeUrl[];
extern const WCHAR LatestVersionUrl[];
extern const WCHAR DownloadPageUrl[];

// The longest a fetch may take, in milliseconds: connection, headers, redirects and body
// together, however slowly the site answers.
extern DWORD FetchTimeoutMs;

// Fetches the body at address (at most 1023 bytes, in the ANSI code page) into text, a
// zero-filled buffer of TEXT_CAPACITY wide characters. Returns whether the fetch succeeded;
// on failure text is empty.
BOOL FetchText(LPCWSTR address, WCHAR* text);

// Fetch the episode count / the notice and store the first line as List / Update.
int FetchEpisodeCount();
int FetchNotice();

// Whether url is the site's: the same scheme, host and port as root (compared without
// regard to case) and a path that starts with root's path.
BOOL IsInsideSite(LPCWSTR root, LPCWSTR url);
// Whether url is a page's own doing rather than another site: a script link
// ("javascript:...", which the Windows control reports as a navigation) or "about:blank".
BOOL IsPageOwnAddress(LPCWSTR url);
// Whether url is one of the program's own pages: a "res:" address of its file, which no page
// may navigate to.
BOOL IsProgramPageAddress(LPCWSTR url);
// Whether url is the program's page name ("res://<its file>/<name>", the file however the
// browser spells it; without regard to case).
BOOL IsProgramPage(LPCWSTR url, LPCWSTR name);
// Whether url is a web address ("http://" or "https://", in any case): the only kind the
// player ever hands to the user's browser, which would open a file, a share or a program
// for any other.
BOOL IsWebAddress(LPCWSTR url);
// The episode an address shows: exactly root + "video/player/?flv=" + decimal digits,
// optionally followed by a #fragment. 0 for any other address.
int EpisodeOfUrl(LPCWSTR root, LPCWSTR url);
