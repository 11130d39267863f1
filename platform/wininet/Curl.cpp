#include "wininet/Curl.h"

#include <dlfcn.h>
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace velmora::wininet {
namespace {

// Looked for beside the program only: never where the working directory or the environment,
// which others' files and pages can reach, would point.
std::string ModulePath() {
    std::vector<char> program(4096);
    ssize_t length = readlink("/proc/self/exe", program.data(), program.size());
    if (length <= 0 || size_t(length) >= program.size())
        return "";
    std::string path(program.data(), size_t(length));
    return path.substr(0, path.rfind('/') + 1) + VELMORA_CURL_MODULE;
}

const CurlLibrary* Load() {
    const std::string path = ModulePath();
    // Local: its symbols stay out of the lookups of everything loaded later.
    void* module = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* entry = module ? dlsym(module, "velmora_curl_library") : nullptr;
    const CurlLibrary* library =
        entry ? reinterpret_cast<decltype(&velmora_curl_library)>(entry)() : nullptr;
    if (!library)
        fprintf(stderr, "velmora-player: cannot load %s: %s\n",
                path.empty() ? VELMORA_CURL_MODULE : path.c_str(),
                path.empty() ? "the program's own path is unknown"
                : !module    ? dlerror()
                : !entry     ? "it is not the program's module"
                             : "libcurl did not start");
    return library;
}

} // namespace

const CurlLibrary* OpenCurl() {
    // A static's initialisation runs once, also when threads race to it.
    static const CurlLibrary* library = Load();
    return library;
}

const CurlLibrary& Curl() {
    return *OpenCurl();
}

} // namespace velmora::wininet
