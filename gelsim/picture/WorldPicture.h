#pragma once
// A picture of the current world, drawn by the headless software renderer and encoded as
// PNG: zones, bodies' rigs, constraints and masses, framed to show everything unless the
// caller fixes the view. Used by the Python package and the C interface's picture call.
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace kin::gelsim {

class TPhysics;

/// How a world picture is framed and coloured.
struct TPictureFrame {
    int32_t width = 400;   ///< pixels, 1..16384
    int32_t height = 300;  ///< pixels, 1..16384
    /// World point at the picture's centre; the middle of what there is to see when unset.
    std::optional<std::pair<float, float>> center;
    /// Pixels per world unit; chosen so that everything fits when unset.
    std::optional<float> zoom;
    float rotation = 0.0f;                  ///< degrees
    uint8_t background[3] = {24, 24, 32};   ///< RGB
};

/// PNG bytes of world w drawn as the frame says. The world's view is left as it was, and so
/// is the current drawing target. Raises std::invalid_argument for a size outside 1..16384
/// and std::runtime_error when the renderer or the encoder fails.
std::vector<uint8_t> WorldPicturePng(TPhysics& w, const TPictureFrame& frame);

}  // namespace kin::gelsim
