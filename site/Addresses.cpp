// The address table. Compiled into each executable with its own VELMORA_SITE_ROOT, so a
// test build talks to the site it starts itself.
#include "site/Site.h"

#ifndef VELMORA_SITE_ROOT
#error "VELMORA_SITE_ROOT must name the content site's root address, ending with '/'"
#endif

#define VELMORA_SITE_ADDRESS(suffix) L"" VELMORA_SITE_ROOT suffix

const WCHAR SiteRoot[] = VELMORA_SITE_ADDRESS("");
const WCHAR StartPageUrl[] = VELMORA_SITE_ADDRESS("video/player/?flv=index");
const WCHAR EpisodeUrlFormat[] = VELMORA_SITE_ADDRESS("video/player/?flv=%d");
const WCHAR CountUrl[] = VELMORA_SITE_ADDRESS("video/player/?flv=list");
const WCHAR NoticeUrl[] = VELMORA_SITE_ADDRESS("video/player/?flv=next");
const WCHAR LatestVersionUrl[] = VELMORA_SITE_ADDRESS("video/player/?flv=update");
const WCHAR DownloadPageUrl[] = VELMORA_SITE_ADDRESS("video/player/?flv=download");
