#include "platform/Hook.h"

#include <cstddef>
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

// One frame per running RunHooks call, linked through the C++ stack (no allocation).
// A callback may add or remove entries of the chain that is running it; AddHook and
// RemoveHook shift the cursor of every running walk over that chain so each remaining
// entry still runs exactly once and a removed entry that has not run yet is skipped.
struct RunFrame {
    int32_t hookId;
    std::size_t next;  // index of the entry to run after the current one
    RunFrame* outer;
};
RunFrame* g_running = nullptr;

struct RunGuard {
    RunFrame frame;
    explicit RunGuard(int32_t hookId) : frame{hookId, 0, g_running} { g_running = &frame; }
    ~RunGuard() { g_running = frame.outer; }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;
};

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
    std::size_t at = 0;
    while (at < chain.size() && chain[at].priority >= priority) ++at;
    chain.insert(chain.begin() + static_cast<std::ptrdiff_t>(at), HookEntry{fn, Ref<TObject>(context), priority});
    for (RunFrame* f = g_running; f; f = f->outer)
        if (f->hookId == hookId && at < f->next) ++f->next;
}

bool RemoveHook(int32_t hookId, HookFunction fn, TObject* context) {
    auto& chains = Chains();
    if (hookId <= 0 || hookId >= static_cast<int32_t>(chains.size())) return false;
    auto& chain = chains[hookId];
    for (std::size_t i = 0; i < chain.size(); ++i) {
        if (chain[i].fn == fn && chain[i].context.Get() == context) {
            chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(i));
            for (RunFrame* f = g_running; f; f = f->outer)
                if (f->hookId == hookId && i < f->next) --f->next;
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
    RunGuard guard(hookId);
    RunFrame& f = guard.frame;
    while (f.next < chain.size()) {
        const HookEntry& e = chain[f.next++];
        HookFunction fn = e.fn;
        // The callback may remove itself; its context must outlive the call.
        Ref<TObject> context(e.context);
        current = fn(hookId, current.Get(), context.Get());
    }
    return current;
}

int32_t HookCount(int32_t hookId) {
    auto& chains = Chains();
    if (hookId <= 0 || hookId >= static_cast<int32_t>(chains.size())) return 0;
    return static_cast<int32_t>(chains[hookId].size());
}

}  // namespace kin
