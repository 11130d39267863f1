# Writes a C++ source that registers a file's bytes with the platform's resource table, as
# the Windows build's .rc puts them into the executable: KIND is Icon or Html, ID the name of
# the resource's identifier in resource.h.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUTPUT} "// Generated from ${INPUT}; do not edit.\n"
    "#include \"resource.h\"\n#include <user32/Resources.h>\n"
    "namespace {\nconst unsigned char kData[] = {${bytes}};\n"
    "const bool kRegistered = velmora::platform::Register${KIND}Resource(${ID}, kData, sizeof kData);\n"
    "} // namespace\n")
