// The C runtime start-up of the Linux desktop program: what the Windows CRT does before
// calling WinMain.
#include <windows.h>

#include "backends/gtk/GtkBackend.h"
#include "user32/WindowStore.h"

#include <locale.h>
#include <stdio.h>

#include <string>

int main(int argc, char** argv) {
    // The locale's language and territory choose the ANSI code page (as under Wine); its
    // character set is that of file names.
    setlocale(LC_ALL, "");

    velmora::platform::GtkBackend backend;
    std::string error;
    if (!backend.Start(&argc, &argv, error)) {
        fprintf(stderr, "velmora-player: %s\n", error.c_str());
        return 1;
    }
    velmora::platform::SetBackend(&backend);
    velmora::platform::ResetWindowSystem();

    // The command line after the program name, as Windows hands it to WinMain.
    std::string commandLine;
    for (int i = 1; i < argc; ++i)
        commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    static int moduleMarker;
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(&moduleMarker);
    int exitCode = WinMain(instance, nullptr, commandLine.data(), SW_SHOWDEFAULT);

    velmora::platform::ResetWindowSystem();
    velmora::platform::SetBackend(nullptr);
    return exitCode;
}
