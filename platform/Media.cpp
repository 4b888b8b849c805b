#include "platform/Media.h"

#include <map>

namespace kin {

namespace {
// A map node never moves, so an entry's name can point into its own key.
std::map<std::string, IncbinEntry>& Registry() {
    static std::map<std::string, IncbinEntry> registry;
    return registry;
}
}  // namespace

void RegisterIncbin(const std::string& name, const uint8_t* data, int64_t size) {
    if (name.empty() || size < 0 || (!data && size > 0)) return;
    auto [it, inserted] = Registry().try_emplace(name);
    (void)inserted;
    it->second = IncbinEntry{it->first.c_str(), data, size};
}

const IncbinEntry* FindIncbin(const std::string& name) {
    auto& reg = Registry();
    auto it = reg.find(name);
    return it == reg.end() ? nullptr : &it->second;
}

int IncbinCount() { return static_cast<int>(Registry().size()); }

void ClearIncbin() { Registry().clear(); }

}  // namespace kin
