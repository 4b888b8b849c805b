// The testbed's step back: back through the kept states and forward again gives the very
// states that stepping gave, and back past a drag is not offered.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "gelsim/core/Physics.h"
#include "gelsim/state/WorldState.h"
#include "scenes/Scenes.h"
#include "tools/testbed/Testbed.h"

namespace kin::testbed {
namespace {

std::vector<uint8_t> Bytes() { return gelsim::SaveState(*gelsim::TPhysics::currentWorld, false, false); }

TEST(TestbedHistory, StepsBackAndForwardThroughTheVeryStatesSteppingGave) {
    Testbed bed(Testbed::Options{});
    bed.Adopt(gelsim::BuildMixedScene(), "mixed");
    std::vector<std::vector<uint8_t>> seen{Bytes()};
    for (int32_t k = 0; k < 40; ++k) {
        bed.Step();
        seen.push_back(Bytes());
    }
    for (int32_t k = 39; k >= 10; --k) {
        ASSERT_TRUE(bed.StepBack());
        ASSERT_EQ(Bytes(), seen[static_cast<size_t>(k)]) << "back at step " << k;
    }
    EXPECT_EQ(bed.steps, 10);
    for (int32_t k = 11; k <= 40; ++k) {
        bed.Step();
        ASSERT_EQ(Bytes(), seen[static_cast<size_t>(k)]) << "forward at step " << k;
    }
    bed.Step();  // past the kept future: stepped as ever
    for (int32_t k = 0; k < 41; ++k) ASSERT_TRUE(bed.StepBack());
    EXPECT_EQ(Bytes(), seen[0]);
    EXPECT_FALSE(bed.StepBack());

    // A drag's spring is outside the world's bodies: grabbing starts a new history.
    bed.Step();
    bed.MouseDown(1, 0.0f, 0.0f);  // may or may not grab; releasing either way is safe
    bed.MouseUp(1, 0.0f, 0.0f);
    EXPECT_LE(bed.StepsBack(), size_t{1});
}

}  // namespace
}  // namespace kin::testbed
