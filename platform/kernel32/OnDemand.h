// Libraries the platform loads on first use rather than at start (see WebKitOnDemand.cpp and
// CurlOnDemand.cpp): the functions that forward to them look their targets up here.
#pragma once

namespace velmora::platform {

// The address of `symbol` in `library`, which is loaded on the first call and stays loaded.
// A library or symbol that is missing ends the program with a message naming it: the package
// depends on both libraries, so only a broken installation gets there.
void* OnDemandSymbol(const char* library, const char* symbol);

} // namespace velmora::platform

// Defines `name` with its declared type, forwarding to the library's own `name`.
#define VELMORA_FORWARD_ON_DEMAND(library, result, name, parameters, arguments)                    \
    extern "C" result name parameters {                                                            \
        static auto real = reinterpret_cast<decltype(&::name)>(                                    \
            velmora::platform::OnDemandSymbol(library, #name));                                    \
        return real arguments;                                                                     \
    }
