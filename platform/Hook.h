#pragma once
// Hooks: numbered chains of callbacks. Adding a callback inserts it after every callback
// of equal or higher priority; running a hook passes a data object through the chain in
// order, each callback's result replacing the data. Running a hook allocates nothing.
//
// Threads: ids may be handed out from any thread; a chain runs in the thread that runs it,
// and one chain is changed and run by one thread at a time (the collision-event hook of a
// world, for example, by the thread that steps that world).
#include <cstdint>

#include "platform/Object.h"

namespace kin {

/// A hook callback: receives the hook id, the current data (borrowed) and its context;
/// returns the data for the next callback (return data itself to pass it on unchanged).
using HookFunction = Ref<TObject> (*)(int32_t hookId, TObject* data, TObject* context);

/// Hands out a new hook id (ids start at 1 and are never reused).
int32_t AllocHookId();
/// Adds fn with its context (retained) and priority to the hook's chain.
void AddHook(int32_t hookId, HookFunction fn, TObject* context = nullptr, int32_t priority = 0);
/// Removes the first entry with this function and context; returns whether one was found.
bool RemoveHook(int32_t hookId, HookFunction fn, TObject* context = nullptr);
/// Runs the chain over data (held during the run) and returns the final result (data
/// itself for an empty chain).
Ref<TObject> RunHooks(int32_t hookId, TObject* data);
/// Number of callbacks on the hook (tests).
int32_t HookCount(int32_t hookId);
/// Removes every callback of the hook, releasing their contexts (the owner of a hook that
/// can never run again). The id stays used.
void ClearHook(int32_t hookId);

}  // namespace kin
