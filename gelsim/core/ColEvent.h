#pragma once
// Collision events. Every contact the step resolves is offered at once to the callbacks
// of the collision-event hook (which may replace or suppress it) and then queued, at most
// one event per unordered pair of objects until the next step's flush.
//
// The step's contacts are queued as plain records; an event object is made for one only
// when a program can see it (Poll, Peek, Seek, or a callback keeping the event it was
// handed). Event objects are pooled: an event that only the queue holds is recycled at
// Flush, so a steady stream of contacts allocates nothing. Events that a program keeps a
// Ref to are left alone and live on as ordinary objects.
#include <cstdint>

#include "gelsim/core/Mass.h"
#include "gelsim/core/SlabAllocated.h"
#include "platform/Object.h"

namespace kin::gelsim {

class TZoneBase;
struct ColEventAccess;

class TColEvent final : public TObject {
public:
    // Kinds.
    static constexpr int32_t MASS_CUSTOM = -1;
    static constexpr int32_t MASS_MASS = 1;
    static constexpr int32_t MASS_ZONE = 2;
    static constexpr int32_t MASS_BOUNDS = 3;
    // Queue modes.
    static constexpr int32_t MODE_DISCARD = 0;
    static constexpr int32_t MODE_UPDATE = 1;
    static constexpr int32_t MODE_REPLACE = 2;

    int32_t id = 0;
    Ref<TMass> obj1;    // the mass that had the contact
    Ref<TObject> obj2;  // the other party: a mass, a zone, the world, or anything; not to be
                        // replaced while the event is queued
    float x = 0, y = 0;  // contact point, world units
    float force = 0;     // penetration depth (summed over merged contacts in MODE_UPDATE)

    /// A new event (not queued); the kind follows obj2's type.
    static Ref<TColEvent> Create(TMass* obj1, TObject* obj2, float x, float y, float force);
    /// Queue mode for Emit (not validated).
    static int32_t SetMode(int32_t mode);
    static int32_t GetMode();
    /// Runs the hook chain over the event and queues the outcome unless in MODE_DISCARD.
    static int32_t Emit(TColEvent* event);
    /// Queues the event or merges it into its pair's queued event; merging follows mode.
    static int32_t Post(TColEvent* event, int32_t mode);
    /// Takes the oldest queued event (borrowed; held as the current event until the next
    /// Poll or Flush), or null.
    static TColEvent* Poll();
    /// The oldest queued event, left in the queue (borrowed), or null.
    static TColEvent* Peek();
    /// The event stored for the pair (a, b) since the last Flush (borrowed), or null; a null
    /// b stands for the current world.
    static TColEvent* Seek(TObject* a, TObject* b);
    /// Empties the queue and the pair map and clears the current event.
    static int32_t Flush();
    /// The event last taken by Poll (borrowed), or null.
    static TColEvent* GetCurrent();
    /// The collision-event hook id (allocated on first use).
    static int32_t EventHook();
    /// Number of queued (not yet polled) events.
    static int32_t QueueCount();

    virtual int32_t GetID() const { return id; }
    /// obj1 (borrowed).
    virtual TMass* GetMass1() const { return obj1.Get(); }
    /// obj2 if it is a mass, else null (borrowed).
    virtual TMass* GetMass2() const;
    /// obj2 if it is a zone, else null (borrowed).
    virtual TZoneBase* GetZone() const;
    virtual float GetX() const { return x; }
    virtual float GetY() const { return y; }
    virtual float GetForce() const { return force; }

    GELSIM_SLAB_ALLOCATED(TColEvent)

private:
    friend struct ColEventAccess;
    // obj2 is the world of the queue that holds this event, uncounted (see ColEvent.cpp).
    bool weakWorld_ = false;
};

}  // namespace kin::gelsim
