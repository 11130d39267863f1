# The program's sources (plain Win32 C++), shared by all three builds.
set(VELMORA_PROGRAM_SOURCES
    ${CMAKE_SOURCE_DIR}/settings/Settings.cpp
    ${CMAKE_SOURCE_DIR}/site/Fetch.cpp
    ${CMAKE_SOURCE_DIR}/site/SiteUrls.cpp
    ${CMAKE_SOURCE_DIR}/player/Episodes.cpp
    ${CMAKE_SOURCE_DIR}/player/StartUp.cpp
    ${CMAKE_SOURCE_DIR}/player/Commands.cpp
    ${CMAKE_SOURCE_DIR}/ui/WinMain.cpp
    ${CMAKE_SOURCE_DIR}/ui/MainWindow.cpp
    ${CMAKE_SOURCE_DIR}/ui/BrowserEvents.cpp)
set(VELMORA_PROGRAM_INCLUDES ${CMAKE_SOURCE_DIR})

# The version as text, for every program and test built here.
add_compile_definitions(VELMORA_VERSION="${PROJECT_VERSION}")

# Warnings are errors in everything built here (the site has its own CMakeLists.txt).
set(VELMORA_WARNINGS -Wall -Wextra -Werror)

# The site's addresses are compile-time constants built from one root, so each executable
# that embeds the program compiles them with the root it talks to (tests use their own).
function(velmora_add_site_addresses target site_root)
    if(NOT site_root MATCHES "^https?://.+/$")
        message(FATAL_ERROR "site root for ${target} must end with '/': '${site_root}'")
    endif()
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/site/Addresses.cpp)
    target_compile_definitions(${target} PRIVATE "VELMORA_SITE_ROOT=\"${site_root}\"")
endfunction()
