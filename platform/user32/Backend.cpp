#include "user32/Backend.h"

#include <stdio.h>
#include <stdlib.h>

namespace velmora::platform {
namespace {
Backend* installed = nullptr;
}

void SetBackend(Backend* backend) {
    installed = backend;
}

bool HasBackend() {
    return installed != nullptr;
}

Backend& CurrentBackend() {
    if (!installed) {
        fputs("velmora platform: no window system backend installed\n", stderr);
        abort();
    }
    return *installed;
}

} // namespace velmora::platform
