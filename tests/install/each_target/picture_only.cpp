// Uses the picture library alone: a PNG of a world with one resting mass.
#include <cstdio>
#include <cstring>

#include "gelsim/core/Mass.h"
#include "gelsim/core/Physics.h"
#include "gelsim/picture/WorldPicture.h"

int main() {
    using namespace kin;
    using namespace kin::gelsim;
    Ref<TPhysics> world = TPhysics::Create(100, 100, 0.1f, 0, 1);
    Ref<TMass> mass = TMass::Create(50, 50, 1, 5, 0.5f, -1);
    TPictureFrame frame;
    frame.width = 32;
    frame.height = 24;
    const std::vector<uint8_t> png = WorldPicturePng(*world, frame);
    const bool ok = png.size() > 8 && std::memcmp(png.data(), "\x89PNG", 4) == 0;
    std::printf("picture: %zu bytes %s\n", png.size(), ok ? "ok" : "WRONG");
    return ok ? 0 : 1;
}
