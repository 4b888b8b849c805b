#pragma once
// The simulation world: box, gravity, friction, relaxation passes, the spatial grid, the
// tables of active masses, constraints and zones, the body registry, and the view.
//
// Every world operation is a type-level function acting on the calling thread's current
// world; with no current world they do nothing and return 0. Any number of worlds may
// live at once: Create makes the new one current in the calling thread, SetCurrent or a
// Scope makes another one current, and Step steps a given world whatever is current.
//
// A world is its own: its tables, grid, body registry, automatic collision groups, event
// queue (with its mode) and collision-event hook belong to it alone, so callbacks
// registered on one world's hook never see another world's events. Masses, constraints,
// zones and bodies join the world that is current when they are activated (bodies: when
// they are created) and belong to it while they are in its tables; activating one of them
// while another world is current is refused (-1). Different threads may step different
// worlds at the same time; one world and its objects are used by one thread at a time.
//
// Ownership: the current world of each thread is held by `currentWorld`. The mass,
// constraint and zone tables hold a reference on every entry. The body registry holds a
// reference on every body from the body's creation until its Free, so a body nobody else
// holds stays whole and simulated; whatever ends the registry (freeing or destroying the
// world) lets go of the bodies still in it. Grid cells hold embedded, uncounted links.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/List.h"
#include "platform/Object.h"

namespace kin {
class TImage;
}

namespace kin::gelsim {

class TMass;
class TConstraint;
class TZoneBase;

namespace detail {
class PairIndex;
struct EventQueue;
struct WorldAccess;
struct GroupSuffix;
}  // namespace detail

class TPhysics final : public TObject {
public:
    static constexpr int32_t MAX_GRID = 128;
    /// Length of every table when a world is created.
    static constexpr int32_t TABLE_START = 1024;

    // --- world parameters ---
    float boundsMaxX = 0, boundsMaxY = 0, boundsMinX = 0, boundsMinY = 0;
    float friction = 1.0f;
    float gravityX = 0, gravityY = 0;
    int32_t i = 0;        // relaxation passes per tick
    int32_t gridon = 0;   // non-zero: mass pairs through the grid
    using Grid = std::array<std::array<TList, MAX_GRID>, MAX_GRID>;
    /// Cell lists indexed [column][row]; only masses are placed in them. Membership is
    /// always current; the order inside a cell is brought up to date by Cell().
    std::unique_ptr<Grid> shiftgrid;
    int32_t gridsize = 0;
    float ratiox = 0, ratioy = 0;  // cells per world unit

    // --- view (View.cpp) ---
    float drawOffsetX = 0, drawOffsetY = 0, drawScale = 1.0f, centerX = 0, centerY = 0, drawRot = 0;
    float drawIX = 1.0f, drawIY = 0, drawJX = 0, drawJY = 1.0f;

    // --- tables: entries null until used, counts are high-water marks, free stacks LIFO ---
    std::vector<Ref<TMass>> massArray;
    int32_t massCount = 0;
    std::vector<int32_t> massFree;
    int32_t massFreeCount = 0;
    std::vector<Ref<TConstraint>> conArray;
    int32_t conCount = 0;
    std::vector<int32_t> conFree;
    int32_t conFreeCount = 0;
    std::vector<Ref<TZoneBase>> zoneArray;
    int32_t zoneCount = 0;
    std::vector<int32_t> zoneFree;
    int32_t zoneFreeCount = 0;
    std::vector<Ref<TObject>> bodyArray;  // registered bodies, held until they are freed
    int32_t bodyCount = 0;
    std::vector<int32_t> bodyFree;
    int32_t bodyFreeCount = 0;

    /// The calling thread's current world, or null; each thread has its own.
    static inline thread_local Ref<TPhysics> currentWorld;
    /// Next automatic collision group of this world; shared by its masses and zones,
    /// counts down from -2.
    int32_t nextColGroup = -2;

    /// Makes w (null: none) the calling thread's current world; returns the previous one.
    static Ref<TPhysics> SetCurrent(TPhysics* w);
    /// Makes a world current in the calling thread for the guard's lifetime, then puts the
    /// previous one back.
    class Scope {
    public:
        explicit Scope(TPhysics* w) : previous_(SetCurrent(w)) {}
        ~Scope() { SetCurrent(previous_.Get()); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Ref<TPhysics> previous_;
    };
    /// Steps this world n times (callbacks see it current), whatever is current; returns 0.
    int32_t Step(int32_t n = 1);

    TPhysics();
    ~TPhysics() override;

    // --- type-level functions on the current world ---
    /// Makes a new world (fresh tables, grid and view) the current one in the calling
    /// thread; the previous one lives on while something else holds it. Returns the world.
    static Ref<TPhysics> Create(float maxX, float maxY, float gravityY, float gravityX, int32_t iterations);
    /// Clears the current world's parameters, empties its tables and event queue, and
    /// leaves no current world in the calling thread.
    static int32_t Free();
    /// Gravity in world units per tick per tick.
    static int32_t SetGravity(float x, float y);
    /// Relaxation passes per tick, unchecked (0 or less: integrate and re-grid only).
    static int32_t SetIterations(int32_t n);
    /// Box from two corners in any order; cell ratios are kept.
    static int32_t SetBounds(float x1, float y1, float x2, float y2);
    /// Reads the box (outputs untouched without a world).
    static int32_t GetBounds(float& minX, float& minY, float& maxX, float& maxY);
    /// World friction added to each mass's own at the walls, unclamped.
    static int32_t SetFriction(float f);
    /// Non-zero: find mass pairs through the grid.
    static int32_t UseShiftedGrid(int32_t flag);
    /// Cells per side clamped to 8..128; ratios recomputed from the box. A box side that is
    /// empty or not finite gives ratio 0 on that axis (every mass in the first cell).
    static int32_t SetGridSize(int32_t n);

    // --- view (View.cpp); world units, degrees, pixels of the current drawing context ---
    static int32_t SetDrawCoords(float x, float y);
    static int32_t SetDrawZoom(float zoom);
    static int32_t SetDrawRotation(float degrees);
    static int32_t UpdateTransform();
    /// Pointer position in world units.
    static float MouseX();
    static float MouseY();
    /// World point under screen pixel (sx, sy). At zoom 0 (no inverse) the view centre.
    static float SimX(float sx, float sy);
    static float SimY(float sx, float sy);
    /// Screen pixel of world point (x, y).
    static float ScreenX(float x, float y);
    static float ScreenY(float x, float y);
    /// Image frame at a world point, turned and scaled by the view on top of the caller's state.
    static int32_t DrawImage(TImage* image, float x, float y, int32_t frame);
    /// Filled polygon, vertices relative to world point (x, y); xy is borrowed.
    static int32_t DrawPoly(const std::vector<float>& xy, float x, float y);
    static int32_t DrawLine(float x1, float y1, float x2, float y2);
    static int32_t DrawOval(float x, float y, float w, float h);
    static int32_t DrawRect(float x, float y, float w, float h);

    /// One tick: integrate, flush last tick's events, relax, bound and collide.
    static int32_t Update();

    // --- helpers for the element types ---
    /// Hands out the current world's next automatic collision group (-2, -3, ...); without
    /// a world, from a counter of the process.
    static int32_t TakeColGroup();
    /// Registers a zone in the current world's zone table; returns its entry or -1.
    static int32_t TakeZoneEntry(TZoneBase* zone);
    /// Gives back a zone's entry if it still holds that zone.
    static void GiveZoneEntry(int32_t entry, TZoneBase* zone);
    /// Hands out a body id in the current world's registry, which holds the body from now
    /// on (-1 without a world: nothing is held).
    static int32_t TakeBodyId(TObject* body);
    /// Gives back a body id if the registry entry still names that body, dropping the
    /// registry's reference: a caller that goes on using the body must hold one of its own.
    /// While the world steps, the body is kept until the step ends.
    static void GiveBodyId(int32_t id, TObject* body);
    /// The same for a body that is being destroyed: the entry is cleared without dropping
    /// a reference (only a body that never was shared can get here while registered).
    static void ForgetBodyId(int32_t id, TObject* body);
    /// The body registered under id in the current world, or null (id negative or not
    /// below bodyCount).
    static TObject* GetBody(int32_t id);
    /// The same in world w (null: none).
    static TObject* GetBodyIn(TPhysics* w, int32_t id);
    /// Cell list at column c, row r (0..MAX_GRID-1), its order brought up to date first.
    TList& Cell(int32_t c, int32_t r);

private:
    friend struct detail::WorldAccess;
    /// Drops a table's reference; while a step runs the object is kept until the step ends.
    void DropEntry(Ref<TObject> held);
    void ResetView();
    void ResetTables();
    /// Lets go of every body in the registry (entries become null, counts stay).
    void ReleaseBodies();

    /// Clears the world pointer of every object its tables let go of.
    void ForgetMembers();
    /// One tick of this world (it is current).
    void UpdateThis();

    // The grid's pair index beside the cell lists (Grid.cpp).
    std::unique_ptr<detail::PairIndex> index_;
    // The collision-event queue and hook (ColEvent.cpp).
    std::unique_ptr<detail::EventQueue> events_;
    // What the all-pairs search knows about the groups in the mass table (Physics.cpp).
    std::unique_ptr<detail::GroupSuffix> suffix_;
    uint64_t passes_ = 0;  // relaxation passes run so far
    bool stepping_ = false;
    std::vector<Ref<TObject>> stepHold_;  // objects that left the tables during this step
};

}  // namespace kin::gelsim
