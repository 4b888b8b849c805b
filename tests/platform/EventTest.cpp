// Hook chains, the emit hook with the input tracker, and the event queue.
#include <gtest/gtest.h>

#include <string>

#include "platform/Event.h"
#include "platform/Hook.h"
#include "platform/Input.h"
#include "platform/System.h"

namespace kin {
namespace {

class TTag : public TObject {
public:
    explicit TTag(std::string n, bool* destroyed = nullptr) : name(std::move(n)), destroyed_(destroyed) {}
    ~TTag() override {
        if (destroyed_) *destroyed_ = true;
    }
    std::string name;

private:
    bool* destroyed_;
};

std::string g_trace;

// Appends its context's name to the trace and passes the data on.
Ref<TObject> Trace(int32_t, TObject* data, TObject* context) {
    g_trace += static_cast<TTag*>(context)->name;
    return Ref<TObject>(data);
}

class HookTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_trace.clear();
        hook = AllocHookId();
    }
    Ref<TTag> Tag(const char* n) { return MakeRef<TTag>(n); }
    int32_t hook = 0;
};

TEST_F(HookTest, CallbacksRunByPriorityThenInInsertionOrder) {
    auto a = Tag("a"), b = Tag("b"), c = Tag("c"), d = Tag("d"), e = Tag("e");
    AddHook(hook, Trace, a, 0);
    AddHook(hook, Trace, b, 5);
    AddHook(hook, Trace, c, 0);   // after a: equal priority goes after
    AddHook(hook, Trace, d, -3);
    AddHook(hook, Trace, e, 5);   // after b
    RunHooks(hook, nullptr);
    EXPECT_EQ(g_trace, "beacd");
    EXPECT_EQ(HookCount(hook), 5);
    EXPECT_TRUE(RemoveHook(hook, Trace, c));
    EXPECT_FALSE(RemoveHook(hook, Trace, c));
    g_trace.clear();
    RunHooks(hook, nullptr);
    EXPECT_EQ(g_trace, "bead");
}

Ref<TObject> Replace(int32_t, TObject*, TObject* context) { return Ref<TObject>(context); }
Ref<TObject> Suppress(int32_t, TObject*, TObject*) { return nullptr; }
Ref<TObject> Record(int32_t, TObject* data, TObject* context) {
    static_cast<TTag*>(context)->name = data ? static_cast<TTag*>(data)->name : "null";
    return Ref<TObject>(data);
}

TEST_F(HookTest, EachResultReplacesTheData) {
    auto replacement = Tag("replacement"), seen = Tag(""), seen2 = Tag("");
    AddHook(hook, Replace, replacement, 10);
    AddHook(hook, Record, seen, 5);
    AddHook(hook, Suppress, nullptr, 0);
    AddHook(hook, Record, seen2, -1);
    auto original = Tag("original");
    Ref<TObject> out = RunHooks(hook, original);
    EXPECT_EQ(seen->name, "replacement");
    EXPECT_EQ(seen2->name, "null");
    EXPECT_EQ(out.Get(), nullptr);
    // An empty chain, or an unknown hook, hands the data back.
    EXPECT_EQ(RunHooks(AllocHookId(), original).Get(), original.Get());
    EXPECT_EQ(RunHooks(-5, original).Get(), original.Get());
}

// A one-shot callback: removes itself, then checks that its context is still alive.
bool g_destroyed = false;
Ref<TObject> RemoveSelf(int32_t hookId, TObject* data, TObject* context) {
    RemoveHook(hookId, RemoveSelf, context);
    g_trace += g_destroyed ? "X" : static_cast<TTag*>(context)->name;
    return Ref<TObject>(data);
}
Ref<TObject> AddEarlier(int32_t hookId, TObject* data, TObject*) {
    g_trace += "+";
    static Ref<TTag> early = MakeRef<TTag>("E");
    if (HookCount(hookId) < 5) AddHook(hookId, Trace, early, 100);
    return Ref<TObject>(data);
}

TEST_F(HookTest, ChangesDuringARunNeitherSkipNorRepeatCallbacks) {
    g_destroyed = false;
    {
        Ref<TTag> once = MakeRef<TTag>("1", &g_destroyed);
        AddHook(hook, RemoveSelf, once, 1);
    }  // the chain holds the only reference
    auto b = Tag("b");
    AddHook(hook, Trace, b, 0);
    RunHooks(hook, nullptr);
    // The context outlived the call that removed it; the next callback still ran.
    EXPECT_EQ(g_trace, "1b");
    EXPECT_TRUE(g_destroyed);
    EXPECT_EQ(HookCount(hook), 1);

    // Inserting ahead of the running callback runs it once, not twice.
    g_trace.clear();
    AddHook(hook, AddEarlier, nullptr, 50);
    RunHooks(hook, nullptr);
    EXPECT_EQ(g_trace, "+b");
    g_trace.clear();
    RunHooks(hook, nullptr);
    EXPECT_EQ(g_trace, "E+b");
}

// --- the emit hook and the queue ---

class EventTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InitServices(Backend::Headless)); }
    void TearDown() override { ShutdownServices(); }
    void Emit(int32_t id, TObject* source, int32_t data = 0, int32_t x = 0, int32_t y = 0) {
        EmitEvent(TEvent::Create(id, source, data, 0, x, y));
    }
    Ref<TTag> src = MakeRef<TTag>("source");
    Ref<TTag> other = MakeRef<TTag>("other");
};

TEST_F(EventTest, QueueIsFirstInFirstOut) {
    Emit(EVENT_MOUSEDOWN, src, 1);
    Emit(EVENT_MOUSEMOVE, src, 2);
    Emit(EVENT_GADGETPAINT, src, 3);
    EXPECT_EQ(QueuedEventCount(), 3);
    ASSERT_NE(PeekEvent(), nullptr);
    EXPECT_EQ(PeekEvent()->data, 1);
    EXPECT_EQ(QueuedEventCount(), 3);  // peeking leaves it
    for (int32_t want = 1; want <= 3; ++want) {
        Ref<TEvent> ev = WaitEvent();
        ASSERT_TRUE(ev);
        EXPECT_EQ(ev->data, want);
        EXPECT_EQ(CurrentEvent(), ev.Get());
        EXPECT_EQ(ev->source.Get(), src.Get());
    }
    EXPECT_EQ(WaitEvent().Get(), nullptr);  // headless: empty queue does not block
    EXPECT_EQ(PollEvent().Get(), nullptr);
}

TEST_F(EventTest, FullQueueDropsNewEvents) {
    for (int32_t i = 0; i < EVENT_QUEUE_SIZE + 44; ++i) Emit(EVENT_MOUSEDOWN, src, i);
    EXPECT_EQ(QueuedEventCount(), EVENT_QUEUE_SIZE);
    for (int32_t i = 0; i < EVENT_QUEUE_SIZE; ++i) {
        Ref<TEvent> ev = PollEvent();
        ASSERT_TRUE(ev);
        ASSERT_EQ(ev->data, i);
    }
    EXPECT_EQ(QueuedEventCount(), 0);
    // Wrapped around the ring: still in order.
    Emit(EVENT_MOUSEDOWN, src, 7);
    Emit(EVENT_MOUSEDOWN, src, 8);
    EXPECT_EQ(PollEvent()->data, 7);
    FlushEvents();
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_EQ(PeekEvent(), nullptr);
}

class OverwriteTest : public EventTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(OverwriteTest, WaitingEventOfSameIdAndSourceIsRefreshed) {
    const int32_t id = GetParam();
    Emit(id, src, 1, 10, 20);
    Emit(EVENT_MOUSEDOWN, src, 0);
    auto extra = MakeRef<TTag>("extra");
    EmitEvent(TEvent::Create(id, src, 2, 5, 30, 40, extra));
    ASSERT_EQ(QueuedEventCount(), 2);
    Ref<TEvent> first = PollEvent();
    EXPECT_EQ(first->id, id);
    EXPECT_EQ(first->data, 2);
    EXPECT_EQ(first->mods, 5);
    EXPECT_EQ(first->x, 30);
    EXPECT_EQ(first->y, 40);
    EXPECT_EQ(first->extra.Get(), extra.Get());
    PollEvent();

    // Another source, or an event no longer waiting, is added.
    Emit(id, src, 3);
    Emit(id, other, 4);
    EXPECT_EQ(QueuedEventCount(), 2);
    PollEvent();
    Emit(id, src, 5);
    EXPECT_EQ(QueuedEventCount(), 2);

    // A full queue still refreshes a waiting event.
    for (int32_t i = QueuedEventCount(); i < EVENT_QUEUE_SIZE; ++i) Emit(EVENT_MOUSEMOVE, src, i);
    Emit(id, other, 99);
    EXPECT_EQ(PollEvent()->data, 99);
}

INSTANTIATE_TEST_SUITE_P(StateEvents, OverwriteTest,
                         ::testing::Values(EVENT_TIMERTICK, EVENT_GADGETACTION, EVENT_WINDOWMOVE, EVENT_WINDOWSIZE),
                         [](const ::testing::TestParamInfo<int32_t>& info) -> std::string {
                             switch (info.param) {
                                 case EVENT_TIMERTICK: return "TimerTick";
                                 case EVENT_GADGETACTION: return "GadgetAction";
                                 case EVENT_WINDOWMOVE: return "WindowMove";
                                 case EVENT_WINDOWSIZE: return "WindowSize";
                                 default: return "Event" + std::to_string(info.param);
                             }
                         });

TEST_F(EventTest, OtherIdsAreAlwaysAdded) {
    for (int32_t id : {EVENT_MOUSEDOWN, EVENT_MOUSEMOVE, EVENT_GADGETPAINT, EVENT_WINDOWCLOSE}) {
        FlushEvents();
        Emit(id, src, 1);
        Emit(id, src, 2);
        EXPECT_EQ(QueuedEventCount(), 2) << id;
    }
}

Ref<TEvent> g_seen;
int32_t g_seenMouseX = -1;
Ref<TObject> ProgramCallback(int32_t, TObject* data, TObject* context) {
    g_seen = As<TEvent>(data);
    g_seenMouseX = MouseX();
    // With a context: replace mouse moves by a paint, swallow mouse downs.
    if (context && g_seen) {
        if (g_seen->id == EVENT_MOUSEMOVE) return TEvent::Create(EVENT_GADGETPAINT, g_seen->source);
        if (g_seen->id == EVENT_MOUSEDOWN) return nullptr;
    }
    return Ref<TObject>(data);
}

TEST_F(EventTest, ProgramCallbacksRunAfterTheTrackerAndBeforeTheQueue) {
    AddHook(EmitEventHook(), ProgramCallback, nullptr, 0);
    Emit(EVENT_MOUSEMOVE, src, 0, 42, 17);
    ASSERT_TRUE(g_seen);
    EXPECT_EQ(g_seenMouseX, 42);  // the tracker already saw it
    EXPECT_EQ(QueuedEventCount(), 1);
    RemoveHook(EmitEventHook(), ProgramCallback, nullptr);

    FlushEvents();
    AddHook(EmitEventHook(), ProgramCallback, src, 0);
    Emit(EVENT_MOUSEMOVE, src, 0, 1, 2);
    Emit(EVENT_MOUSEDOWN, src, 1, 3, 4);
    ASSERT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(PollEvent()->id, EVENT_GADGETPAINT);
    EXPECT_EQ(MouseX(), 3);  // the tracker ran before the suppression
    RemoveHook(EmitEventHook(), ProgramCallback, src);
    g_seen = nullptr;

    // A result that is no event is not queued.
    AddHook(EmitEventHook(), Replace, other, 0);
    Emit(EVENT_MOUSEDOWN, src, 1);
    EXPECT_EQ(QueuedEventCount(), 0);
}

TEST_F(EventTest, TrackerKeepsPointerAndButtons) {
    EXPECT_EQ(MouseX(), 0);
    EXPECT_EQ(MouseY(), 0);
    Emit(EVENT_MOUSEMOVE, src, 0, 12, 34);
    EXPECT_EQ(MouseX(), 12);
    EXPECT_EQ(MouseY(), 34);
    Emit(EVENT_MOUSEDOWN, src, 1, 5, 6);
    Emit(EVENT_MOUSEDOWN, src, 1, 5, 6);
    Emit(EVENT_MOUSEDOWN, src, 2, 7, 8);
    EXPECT_TRUE(MouseDown(1));
    EXPECT_TRUE(MouseDown(2));
    EXPECT_FALSE(MouseDown(3));
    EXPECT_EQ(MouseX(), 7);
    EXPECT_EQ(MouseHit(1), 2);
    EXPECT_EQ(MouseHit(1), 0);
    Emit(EVENT_MOUSEUP, src, 1, 9, 9);
    EXPECT_FALSE(MouseDown(1));
    EXPECT_TRUE(MouseDown(2));
    // Out-of-range buttons are ignored.
    for (int32_t b : {-1, 0, 8, 1000}) {
        Emit(EVENT_MOUSEDOWN, src, b);
        EXPECT_FALSE(MouseDown(b));
        EXPECT_EQ(MouseHit(b), 0);
    }
    SetMouseVisible(0);
    EXPECT_EQ(MouseVisible(), 0);
}

TEST(ServicesTest, RestartGivesAFreshEmitHookAndShutdownIsSafeTwice) {
    ASSERT_TRUE(InitServices(Backend::Headless));
    EXPECT_EQ(CurrentBackend(), Backend::Headless);
    EXPECT_TRUE(InitServices(Backend::Headless));  // already running: fine
    std::string error;
    EXPECT_FALSE(InitServices(Backend::Window, &error));
    EXPECT_FALSE(error.empty());
    AddHook(EmitEventHook(), Suppress, nullptr, 0);
    EmitEvent(TEvent::Create(EVENT_MOUSEMOVE, nullptr, 0, 0, 3, 4));
    EXPECT_EQ(QueuedEventCount(), 0);
    ShutdownServices();
    ShutdownServices();
    ASSERT_TRUE(InitServices(Backend::Headless));
    EXPECT_EQ(MouseX(), 0);
    EXPECT_EQ(HookCount(EmitEventHook()), 2);  // tracker and queue only
    EmitEvent(TEvent::Create(EVENT_MOUSEMOVE, nullptr, 0, 0, 3, 4));
    EXPECT_EQ(QueuedEventCount(), 1);
    ShutdownServices();
}

// Hook runs hold no reference of their own on the contexts: a context whose entry is
// removed while any run is going lives until the outermost run ends.
struct Marker : TObject {
    bool* gone;
    int32_t touched = 0;
    explicit Marker(bool* g) : gone(g) {}
    ~Marker() override { *gone = true; }
};
int32_t g_outer = 0;
int32_t g_inner = 0;
bool g_outerGone = false;

Ref<TObject> Outer(int32_t, TObject* data, TObject* ctx) {
    RunHooks(g_inner, ctx);  // removes this entry, with the only reference to ctx
    EXPECT_FALSE(g_outerGone);
    static_cast<Marker*>(ctx)->touched += 1;  // still alive (the sanitizers check it)
    return data;
}
Ref<TObject> RemoveOuter(int32_t, TObject* data, TObject*) {
    RemoveHook(g_outer, Outer, data);
    return data;
}

TEST(HookRun, AContextRemovedDuringANestedRunLivesUntilTheOutermostRunEnds) {
    g_outer = AllocHookId();
    g_inner = AllocHookId();
    AddHook(g_inner, RemoveOuter);
    g_outerGone = false;
    AddHook(g_outer, Outer, MakeRef<Marker>(&g_outerGone).Get(), 1000);
    Ref<TObject> data = MakeRef<TObject>();
    RunHooks(g_outer, data.Get());
    EXPECT_TRUE(g_outerGone);  // released once the run was over
    RemoveHook(g_inner, RemoveOuter);
}

struct Owner : TObject {
    Ref<Marker> owned;
};
Ref<TObject> DropOwned(int32_t, TObject* data, TObject* ctx) {
    static_cast<Owner*>(ctx)->owned = nullptr;  // the data's last owner outside the run
    return data;
}
Ref<TObject> TouchData(int32_t, TObject* data, TObject*) {
    static_cast<Marker*>(data)->touched += 1;
    return data;
}

TEST(HookRun, TheDataLivesThroughTheRunWhateverACallbackReleases) {
    const int32_t hook = AllocHookId();
    bool gone = false;
    Ref<Owner> owner = MakeRef<Owner>();
    owner->owned = MakeRef<Marker>(&gone);
    Marker* data = owner->owned.Get();
    AddHook(hook, DropOwned, owner.Get(), 2);
    AddHook(hook, TouchData, nullptr, 1);
    {
        Ref<TObject> out = RunHooks(hook, data);
        EXPECT_FALSE(gone);
        EXPECT_EQ(static_cast<Marker*>(out.Get())->touched, 1);
    }
    EXPECT_TRUE(gone);  // the result was its last owner
}

}  // namespace
}  // namespace kin
