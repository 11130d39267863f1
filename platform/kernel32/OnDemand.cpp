#include "kernel32/OnDemand.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

namespace velmora::platform {

void* OnDemandSymbol(const char* library, const char* symbol) {
    // A library already loaded is only counted again; the forwarders look each symbol up once.
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        fprintf(stderr, "velmora-player: cannot load %s: %s\n", library, dlerror());
        abort();
    }
    // The library's own dependencies (JavaScriptCore for WebKit) are searched as well.
    void* address = dlsym(handle, symbol);
    if (!address) {
        fprintf(stderr, "velmora-player: %s has no %s\n", library, symbol);
        abort();
    }
    return address;
}

} // namespace velmora::platform
