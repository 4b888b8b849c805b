// gelsim._picture: PNG pictures of the current world through the headless renderer. A
// module of its own because the renderer's platform layer links SDL, which `import gelsim`
// should not load; World.picture imports it on first use. It links the same shared library
// as gelsim._gelsim, so it draws the very world that module steps.
#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include "gelsim/core/Physics.h"
#include "gelsim/picture/WorldPicture.h"

namespace py = pybind11;

PYBIND11_MODULE(_picture, m) {
    m.doc() = "gelsim's world pictures (private: use World.picture).";
    m.def(
        "world_png",
        [](int32_t width, int32_t height, std::optional<std::pair<float, float>> center, std::optional<float> zoom,
           float rotation, std::tuple<int, int, int> background) {
            kin::gelsim::TPhysics* w = kin::gelsim::TPhysics::currentWorld.Get();
            if (!w) throw std::runtime_error("there is no current world to draw");
            kin::gelsim::TPictureFrame frame;
            frame.width = width, frame.height = height, frame.center = center, frame.zoom = zoom;
            frame.rotation = rotation;
            frame.background[0] = static_cast<uint8_t>(std::clamp(std::get<0>(background), 0, 255));
            frame.background[1] = static_cast<uint8_t>(std::clamp(std::get<1>(background), 0, 255));
            frame.background[2] = static_cast<uint8_t>(std::clamp(std::get<2>(background), 0, 255));
            const std::vector<uint8_t> bytes = kin::gelsim::WorldPicturePng(*w, frame);
            return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        },
        py::arg("width"), py::arg("height"), py::arg("center"), py::arg("zoom"), py::arg("rotation"),
        py::arg("background"), "PNG bytes of the current world, framed as World.picture describes.");
}
