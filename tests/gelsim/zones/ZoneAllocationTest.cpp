// Memory of zones, measured by counting every allocation of this program: steady contacts
// with zones allocate nothing, and reading a zone file, however hostile, never holds more
// than a small multiple of the file's size.
#include <cstdio>

#include "gelsim/io/StreamIO.h"
#include "tests/support/CountingAllocator.h"
#include "tests/support/ZoneFixture.h"

namespace kin::gelsim::test {
namespace {

using kin::test::THeapCount;

Ref<TObject> Observe(int32_t, TObject* data, TObject*) { return data; }

using ZoneMemory = ZoneWorld;

TEST_F(ZoneMemory, SteadyContactsWithEveryStyleAllocateNothing) {
    // A hole to live in, a filled ground, a loop and a line across it; a few hundred discs
    // resting on them.
    Ref<TZone> hole = TZone::Create(Square(50, 2000, 900), TZone::HOLE, 0.5f, 2, 6);
    Ref<TZone> ground = TZone::Create({0, 2800, 1024, 2780, 1024, 3000, 0, 3000}, TZone::FILL, 0.5f, 2, 7);
    Ref<TZone> loop = TZone::Create(Square(300, 2500, 200), TZone::LOOP, 0.5f, 2, 5);
    Ref<TZone> line = TZone::Create({600, 2600, 900, 2650}, TZone::LINE, 0.5f, 2, 5);
    TPhysics::UseShiftedGrid(1);
    TPhysics::SetGridSize(64);
    for (int32_t i = 0; i < 300; ++i)
        Active(70.0f + static_cast<float>(i % 60) * 14.0f, 2100.0f + static_cast<float>(i / 60) * 30.0f, 1, 5, 0.5f, 1);
    ScopedHook hook(Observe);
    for (int32_t s = 0; s < 400; ++s) TPhysics::Update();
    long events = 0;
    long allocations = 0;
    {
        THeapCount count;
        for (int32_t s = 0; s < 100; ++s) {
            TPhysics::Update();
            events += TColEvent::QueueCount();
        }
        allocations = count.Use().allocations;
    }
    std::printf("zones: %ld allocations, %ld queued events in 100 steps\n", allocations, events);
    EXPECT_GT(events, 1000);
    EXPECT_EQ(allocations, 0);
}

Bytes ZoneHead(int32_t count) {
    TBankStream s;
    WriteString(s, "ZONE", 4);
    WriteByte(s, 111);
    WriteLine(s, "hostile");
    WriteInt(s, count);
    return s.Bytes();
}

Bytes FullTreeFile(int32_t depth) {
    Ref<TZone> z = TZone::Create(Square(0, 0, 10), TZone::LOOP, 0, 2, 1);
    // A complete tree: every node has four children down to the given depth.
    std::function<Ref<TQuadTree>(int32_t)> make = [&](int32_t d) {
        Ref<TQuadTree> t = MakeRef<TQuadTree>();
        t->sizeX = t->sizeY = 1;
        if (d > 1)
            for (int32_t k = 0; k < 4; ++k) t->childList.AddLast(make(d - 1).Get());
        return t;
    };
    z->quadTree = make(depth);
    TBankStream s;
    WriteZoneFile(s, CollectZone(*z, 0));
    return s.Bytes();
}

TEST_F(ZoneMemory, ReadingHoldsAtMostASmallMultipleOfTheFile) {
    Bytes longName = ZoneHead(0);
    longName.resize(4 + 1);
    longName.insert(longName.end(), 200000, 'n');  // a name line without end
    // A valid file whose one-leaf tree (the 20 bytes before the final no-image byte) is
    // replaced by a chain of single children far deeper than any build.
    Bytes deepChain = FullTreeFile(1);
    deepChain.resize(deepChain.size() - 21);
    {
        TBankStream s;
        for (int32_t i = 0; i < 20000; ++i) {
            for (float f : {0.0f, 0.0f, 1.0f, 1.0f}) WriteFloat(s, f);
            WriteInt(s, 1);
        }
        deepChain.insert(deepChain.end(), s.Bytes().begin(), s.Bytes().end());
    }
    struct Row {
        const char* name;
        Bytes file;
    };
    const Row rows[] = {
        {"coordinate count near 2^31", ZoneHead(INT32_MAX - 1)},
        {"coordinate count 2^28 with a few bytes", [] {
             Bytes b = ZoneHead(1 << 28);
             b.resize(b.size() + 64, 0);
             return b;
         }()},
        {"name line to the end", longName},
        {"chain of 20000 nested nodes", deepChain},
        {"complete tree of 5461 nodes", FullTreeFile(7)},
    };
    for (const Row& row : rows) {
        long long peak = 0;
        {
            TBankStream s(row.file);
            THeapCount count;
            try {
                TZoneFileData d;
                if (ReadZoneFile(s, d, "")) BuildZone(d, TZoneBuild::LOAD);
            } catch (const TStreamReadException&) {
            }
            peak = count.Use().peak;
        }
        const long long size = static_cast<long long>(row.file.size());
        std::printf("%s: %lld bytes of file, peak %lld bytes held\n", row.name, size, peak);
        EXPECT_LE(peak, 16 * size + 65536) << row.name;
    }
}

}  // namespace
}  // namespace kin::gelsim::test
