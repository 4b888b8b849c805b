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
#include <random>
#include <string>
#include <vector>

#include "tests/support/WorldFixture.h"
#include "gelsim/bodies/AdvBody.h"
#include "gelsim/bodies/BodyFile.h"
#include "gelsim/io/StreamIO.h"
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

/// A body with every kind of element, holes included; groups are non-negative so that a
/// load does not translate them. The same body from every compiler: no call takes two draws
/// as arguments, whose order would be the compiler's; each draw is a statement of its own, in
/// the order the bodies were first drawn in (a call's last argument first).
inline Ref<TAdvBody> RandomBody(uint32_t seed) {
    std::mt19937 rng(seed);
    auto uf = [&](float a, float b) { return std::uniform_real_distribution<float>(a, b)(rng); };
    auto ui = [&](int32_t a, int32_t b) { return std::uniform_int_distribution<int32_t>(a, b)(rng); };
    auto name = [&]() {
        std::string n;
        for (int32_t i = ui(0, 6); i > 0; --i) n.push_back(static_cast<char>(ui(0, 1) ? ui(32, 126) : ui(128, 255)));
        return n;
    };
    Ref<TAdvBody> b = TAdvBody::Create();
    b->SetName(name());
    const int32_t masses = ui(0, 12);
    for (int32_t i = 0; i < masses; ++i) {
        const int32_t group = ui(0, 3);
        const float friction = uf(0, 1), radius = uf(1, 15), mass = uf(0.5f, 20);
        const float y = uf(0, 4000), x = uf(0, 1000);
        b->MassAdd(x, y, mass, radius, friction, group);
        const float vy = uf(-3, 3), vx = uf(-3, 3);
        b->MassSetVelocity(i, vx, vy);
        b->MassSetName(i, name());
        if (ui(0, 4) == 0) b->MassFreeze(i);
    }
    for (int32_t i = 0; i < masses * 2; ++i) {
        const float stiffness = uf(0, 1);
        const float length = ui(0, 1) ? -1.0f : uf(1, 90);
        const int32_t m2 = ui(0, masses), m1 = ui(0, masses);
        b->ConAdd(m1, m2, length, stiffness);
    }
    for (int32_t i = ui(0, 3); i > 0; --i) {
        const int32_t blue = ui(0, 255), green = ui(0, 255), red = ui(0, 255);
        SetMaskColor(red, green, blue);
        const int32_t h = ui(1, 5), w = ui(1, 5);
        auto pm = MakeRef<TPixmap>(w, h);
        for (int32_t y = 0; y < pm->Height(); ++y)
            for (int32_t x = 0; x < pm->Width(); ++x) pm->SetPixel(x, y, rng());
        Ref<TImage> img = TImage::Create(pm.Get(), ui(0, 7));
        const float hy = uf(-4, 4), hx = uf(-4, 4);
        SetImageHandle(img.Get(), hx, hy);
        b->ImageAdd(img.Get());
    }
    for (int32_t i = ui(0, 5); i > 0; --i) {
        const float angle = uf(-180, 180);
        const int32_t con = ui(-1, b->cIndex), mass = ui(0, masses), image = ui(0, b->iIndex);
        const int32_t r = b->RigAdd(image, mass, con, angle);
        if (r < 0) continue;
        const float sy = uf(0.1f, 3), sx = uf(0.1f, 3);
        b->RigSetScale(r, sx, sy);
        const int32_t blue = ui(0, 255), green = ui(0, 255), red = ui(0, 255);
        b->RigSetColor(r, red, green, blue);
        b->RigSetAlpha(r, uf(0, 1));
        b->RigSetBlend(r, ui(1, 5));
        b->RigSetName(r, name());
    }
    // Holes anywhere, the last entries included.
    for (int32_t i = ui(0, 2); i > 0; --i) b->MassRemove(ui(0, masses));
    for (int32_t i = ui(0, 2); i > 0; --i) b->ImageRemove(ui(0, b->iIndex));
    for (int32_t i = ui(0, 2); i > 0; --i) b->RigRemove(ui(0, b->rIndex));
    return b;
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
        SetMaskColor(0, 0, 0);  // loading bodies leaves the last image's mask colour set
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
