#include "platform/Hook.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace kin {
namespace {

struct HookEntry {
    HookFunction fn;
    Ref<TObject> context;
    int32_t priority;
};

using Chain = std::vector<HookEntry>;

// Indexed by hook id in blocks that never move, so that a thread handing out a new id
// (every world takes one for its collision events) never moves a chain another thread is
// running, and a callback allocating a hook does not move its own. Id 0 stands for no
// hook. Blocks are made on demand and never destroyed: hooks run from the destructors of
// other static objects.
constexpr std::size_t kBlock = 1024;
constexpr std::size_t kBlocks = 4096;  // up to 4 million ids
std::array<std::atomic<Chain*>, kBlocks> g_blocks{};
std::atomic<int32_t> g_idCount{1};  // ids below this are handed out
std::mutex g_allocMutex;

// The chain of a hook id, or null for an id never handed out.
inline Chain* ChainOf(int32_t hookId) {
    if (hookId <= 0 || hookId >= g_idCount.load(std::memory_order_acquire)) return nullptr;
    const auto id = static_cast<std::size_t>(hookId);
    return &g_blocks[id / kBlock].load(std::memory_order_acquire)[id % kBlock];
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
thread_local RunFrame* g_running = nullptr;

// Contexts of entries removed while a chain runs: the callback that removed its own entry
// may still be using its context, so they are released only when the outermost run ends.
// Running a callback thus needs no reference of its own on the context.
// Made on first removal during a run, never destroyed.
thread_local std::vector<Ref<TObject>>* g_removed = nullptr;

[[gnu::noinline]] void ReleaseRemoved() {
    // Released outside the list: a context's destructor may add or remove hooks.
    std::vector<Ref<TObject>> gone;
    gone.swap(*g_removed);
    gone.clear();
}

struct RunGuard {
    RunFrame frame;
    explicit RunGuard(int32_t hookId, std::size_t next) : frame{hookId, next, g_running} { g_running = &frame; }
    ~RunGuard() {
        g_running = frame.outer;
        if (!g_running && g_removed && !g_removed->empty()) ReleaseRemoved();
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;
};

}  // namespace

int32_t AllocHookId() {
    const std::lock_guard<std::mutex> lock(g_allocMutex);
    const int32_t id = g_idCount.load(std::memory_order_relaxed);
    const auto at = static_cast<std::size_t>(id);
    if (at / kBlock >= kBlocks) return 0;  // out of ids: a hook that never runs
    if (!g_blocks[at / kBlock].load(std::memory_order_relaxed))
        g_blocks[at / kBlock].store(new Chain[kBlock], std::memory_order_release);
    g_idCount.store(id + 1, std::memory_order_release);
    return id;
}

void AddHook(int32_t hookId, HookFunction fn, TObject* context, int32_t priority) {
    Chain* chain = ChainOf(hookId);
    if (!chain || !fn) return;
    // After every callback of equal or higher priority.
    std::size_t at = 0;
    while (at < chain->size() && (*chain)[at].priority >= priority) ++at;
    chain->insert(chain->begin() + static_cast<std::ptrdiff_t>(at), HookEntry{fn, Ref<TObject>(context), priority});
    for (RunFrame* f = g_running; f; f = f->outer)
        if (f->hookId == hookId && at < f->next) ++f->next;
}

bool RemoveHook(int32_t hookId, HookFunction fn, TObject* context) {
    Chain* chain = ChainOf(hookId);
    if (!chain) return false;
    for (std::size_t i = 0; i < chain->size(); ++i) {
        HookEntry& e = (*chain)[i];
        if (e.fn == fn && e.context.Get() == context) {
            if (g_running && e.context) {
                if (!g_removed) g_removed = new std::vector<Ref<TObject>>();
                g_removed->push_back(std::move(e.context));
            }
            chain->erase(chain->begin() + static_cast<std::ptrdiff_t>(i));
            for (RunFrame* f = g_running; f; f = f->outer)
                if (f->hookId == hookId && i < f->next) --f->next;
            return true;
        }
    }
    return false;
}

Ref<TObject> RunHooks(int32_t hookId, TObject* data) {
    const Chain* chain = ChainOf(hookId);
    if (!chain || chain->empty()) return Ref<TObject>(data);
    // Held through the run: a callback may release what held the data before.
    Ref<TObject> current(data);
    RunGuard guard(hookId, 0);
    RunFrame& f = guard.frame;
    while (f.next < chain->size()) {
        const HookEntry& e = (*chain)[f.next++];
        // Copied out first: the callback may add or remove entries (and the entries move).
        const HookFunction fn = e.fn;
        TObject* const context = e.context.Get();
        current = fn(hookId, current.Get(), context);
    }
    return current;
}

int32_t HookCount(int32_t hookId) {
    const Chain* chain = ChainOf(hookId);
    return chain ? static_cast<int32_t>(chain->size()) : 0;
}

}  // namespace kin

namespace kin {

void ClearHook(int32_t hookId) {
    Chain* chain = ChainOf(hookId);
    if (!chain) return;
    while (!chain->empty()) {
        const HookEntry& e = chain->back();
        RemoveHook(hookId, e.fn, e.context.Get());
    }
}

}  // namespace kin
