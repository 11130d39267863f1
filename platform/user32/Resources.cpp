#include "user32/Resources.h"

#include <map>

namespace velmora::platform {
namespace {
std::map<int, IconResource>& IconTable() {
    static std::map<int, IconResource> table;
    return table;
}
} // namespace

bool RegisterIconResource(int id, const unsigned char* data, size_t size) {
    IconTable()[id] = IconResource{data, size};
    return true;
}

IconResource FindIconResource(int id) {
    auto found = IconTable().find(id);
    return found == IconTable().end() ? IconResource{} : found->second;
}

} // namespace velmora::platform
