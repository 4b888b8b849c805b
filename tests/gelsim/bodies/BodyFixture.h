#pragma once
// Shared pieces of the body tests: a world with a headless canvas (world units equal
// pixels) and a scratch folder, byte helpers and small pictures.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../core/Fixture.h"
#include "gelsim/bodies/AdvBody.h"
#include "gelsim/bodies/BodyFile.h"
#include "gelsim/bodies/StreamIO.h"
#include "platform/Graphics.h"
#include "platform/Pixmap.h"

namespace kin::gelsim::test {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

/// An opaque w x h image of one colour (0xRRGGBBAA), no mask, no filtering.
inline Ref<TImage> SolidImage(int32_t w, int32_t h, uint32_t rgba = 0xFFFFFFFFu) {
    auto pm = MakeRef<TPixmap>(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) pm->SetPixel(x, y, rgba);
    return TImage::Create(pm.Get(), 0);
}

class BodyWorld : public WorldFixture {
protected:
    void SetUp() override {
        WorldFixture::SetUp();
        gfx = CreateHeadlessGraphics(64, 64);
        SetGraphics(gfx.Get());
        char tmpl[] = "/tmp/gelsim-bodies-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(dir, ec);
        SetGraphics(nullptr);
        WorldFixture::TearDown();
    }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    /// Names of the files in the scratch folder, sorted.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    Ref<TGraphics> gfx;
    std::string dir;
};

}  // namespace kin::gelsim::test
