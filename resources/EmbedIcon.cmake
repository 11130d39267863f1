# Writes a C++ source that registers the icon file's bytes as resource IDI_APP.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUTPUT} "// Generated from VelmoraPlayer.ico; do not edit.\n"
    "#include \"resource.h\"\n#include <user32/Resources.h>\n"
    "namespace {\nconst unsigned char kIcon[] = {${bytes}};\n"
    "const bool kRegistered = velmora::platform::RegisterIconResource(IDI_APP, kIcon, sizeof kIcon);\n"
    "} // namespace\n")
