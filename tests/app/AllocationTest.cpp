// Drawing the structure and the scene allocates nothing per blob or strand: a frame of a
// large structure allocates exactly as much as a frame of a small one.
#include <cstdio>

#include "tests/app/GameFixture.h"
#include "tests/support/CountingAllocator.h"

namespace {

using kin::gelsim::TAdvBody;
using kin::gelsim::TPhysics;

class DrawAllocation : public slime::test::GameFixture {
protected:
    /// Replaces the structure with rows x cols blobs 60 apart, each tied to its right and
    /// lower neighbours, hanging in the middle of the view.
    void Lattice(int32_t rows, int32_t cols) {
        slime::Scene().slime->ab = TAdvBody::Create();
        TAdvBody& b = *slime::Scene().slime->ab;
        for (int32_t r = 0; r < rows; ++r)
            for (int32_t c = 0; c < cols; ++c) {
                const int32_t i = b.MassAdd(300.0f + 60.0f * c, 3500.0f + 60.0f * r, 10.0f, 10.0f, 1.0f, 1);
                if (c > 0) b.ConAssign(b.ConAdd(i, i - 1, -1.0f, 0.5f));
                if (r > 0) b.ConAssign(b.ConAdd(i, i - cols, -1.0f, 0.5f));
            }
    }
    /// Allocations during ten frames, after two to warm caches up. The pointer rests 67
    /// units above the first two blobs, so the reach scan and the preview run every frame.
    long FrameAllocations() {
        Frame();
        slime::Game().pointerX = TPhysics::ScreenX(330.0f, 3440.0f);
        slime::Game().pointerY = TPhysics::ScreenY(330.0f, 3440.0f);
        Frame();
        EXPECT_EQ(slime::Scene().slime->Reachable().size(), 2u);
        kin::test::THeapCount count;
        for (int32_t i = 0; i < 10; ++i) Frame();
        return count.Use().allocations;
    }
};

TEST_F(DrawAllocation, NothingPerBlobOrStrand) {
    Lattice(2, 2);
    const long small = FrameAllocations();
    Lattice(8, 10);
    const long large = FrameAllocations();
    std::printf("ten frames: %ld allocations with 4 blobs, %ld with 80\n", small, large);
    EXPECT_EQ(slime::Scene().slime->ab->MassMaxIndex(), 79);
    EXPECT_EQ(large, small);
    EXPECT_LE(small, 10 * 4) << "a few per frame at most (the two height numbers)";
}

}  // namespace
