#include "platform/Hook.h"

#include <deque>
#include <vector>

namespace kin {
namespace {

struct HookEntry {
    HookFunction fn;
    Ref<TObject> context;
    int32_t priority;
};

// Indexed by hook id; ids are small and handed out in order, so a vector is enough.
// A deque: allocating a new hook inside a running callback must not move other chains.
std::deque<std::vector<HookEntry>>& Chains() {
    static std::deque<std::vector<HookEntry>> chains(1);
    return chains;
}

}  // namespace

int32_t AllocHookId() {
    auto& chains = Chains();
    chains.emplace_back();
    return static_cast<int32_t>(chains.size() - 1);
}

void AddHook(int32_t hookId, HookFunction fn, TObject* context, int32_t priority) {
    auto& chains = Chains();
    if (hookId <= 0 || hookId >= static_cast<int32_t>(chains.size()) || !fn) return;
    auto& chain = chains[hookId];
    // After every callback of equal or higher priority.
    size_t at = 0;
    while (at < chain.size() && chain[at].priority >= priority) ++at;
    chain.insert(chain.begin() + static_cast<std::ptrdiff_t>(at), HookEntry{fn, Ref<TObject>(context), priority});
}

bool RemoveHook(int32_t hookId, HookFunction fn, TObject* context) {
    auto& chains = Chains();
    if (hookId <= 0 || hookId >= static_cast<int32_t>(chains.size())) return false;
    auto& chain = chains[hookId];
    for (size_t i = 0; i < chain.size(); ++i) {
        if (chain[i].fn == fn && chain[i].context.Get() == context) {
            chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

Ref<TObject> RunHooks(int32_t hookId, TObject* data) {
    Ref<TObject> current(data);
    auto& chains = Chains();
    if (hookId <= 0 || hookId >= static_cast<int32_t>(chains.size())) return current;
    const auto& chain = chains[hookId];
    // Index walk: a callback may add or remove hooks while the chain runs; the size is
    // re-read each time so the walk never leaves the vector.
    for (size_t i = 0; i < chain.size(); ++i) {
        const HookEntry& e = chain[i];
        TObject* context = e.context.Get();
        current = e.fn(hookId, current.Get(), context);
    }
    return current;
}

int32_t HookCount(int32_t hookId) {
    auto& chains = Chains();
    if (hookId <= 0 || hookId >= static_cast<int32_t>(chains.size())) return 0;
    return static_cast<int32_t>(chains[hookId].size());
}

}  // namespace kin
