// The C side of world pictures: WorldPicturePng behind the C interface's error rules.
#include "gelsim_picture.h"

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "Support.h"
#include "gelsim/core/Physics.h"
#include "gelsim/io/SafeFile.h"
#include "gelsim/picture/WorldPicture.h"

using namespace kin;
using namespace kin::gelsim;
using namespace kin::gelsim::capi;

namespace {

std::vector<uint8_t> CurrentPicture(int32_t width, int32_t height) {
    TPhysics* w = TPhysics::currentWorld.Get();
    if (!w) throw std::runtime_error("no current world: nothing to draw");
    TPictureFrame frame;
    frame.width = width, frame.height = height;
    return WorldPicturePng(*w, frame);
}

}  // namespace

size_t gelsim_picture_png(int32_t width, int32_t height, void* buf, size_t buf_size) GELSIM_NOEXCEPT {
    Enter();
    try {
        const std::vector<uint8_t> png = CurrentPicture(width, height);
        if (buf && buf_size >= png.size()) std::memcpy(buf, png.data(), png.size());
        return Done(png.size());
    } catch (...) {
        Fail();
        return 0;
    }
}

int32_t gelsim_picture_save(const char* path, size_t path_len, int32_t width, int32_t height) GELSIM_NOEXCEPT {
    Enter();
    try {
        const std::string file = Str(path, path_len);
        if (file.empty()) throw std::invalid_argument("a picture needs a file name");
        const std::vector<uint8_t> png = CurrentPicture(width, height);
        SaveFileAtomically(file, png.data(), png.size(), false);
        return Done(GELSIM_OK);
    } catch (...) {
        Fail();
        return GELSIM_ERROR;
    }
}
