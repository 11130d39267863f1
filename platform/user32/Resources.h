// The linux build's resource table: what a Windows .rc puts into the executable.
#pragma once

#include <windows.h>

#include <stddef.h>

#include <string>

namespace velmora::platform {

// Registers the bytes of an .ico file under an integer resource id. Returns true so it can
// initialise a static in the file that embeds the icon.
bool RegisterIconResource(int id, const unsigned char* data, size_t size);

struct IconResource {
    const unsigned char* data = nullptr;
    size_t size = 0;
};

// The icon registered under id, or an empty one.
IconResource FindIconResource(int id);

// Registers the bytes of a page under a resource name, as the type HTML (RT_HTML) of a .rc.
bool RegisterHtmlResource(LPCWSTR name, const unsigned char* data, size_t size);

// The page registered under name (UTF-8; resource names are compared without regard to
// case), or nothing.
const std::string* FindHtmlResource(const std::string& name);

// The resource id behind an icon handle from LoadIconW, or 0.
int IconResourceId(HICON icon);

} // namespace velmora::platform
