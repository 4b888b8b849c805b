#pragma once
// A headless drawing context for pixel tests, current for the duration of each test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/Graphics.h"

namespace kin::test {

struct Rgb {
    int r, g, b;
};

inline bool Near(uint32_t px, Rgb c, int tol = 0) {
    const int r = int(px >> 24), g = int((px >> 16) & 255), b = int((px >> 8) & 255);
    return std::abs(r - c.r) <= tol && std::abs(g - c.g) <= tol && std::abs(b - c.b) <= tol;
}

class DrawFixture : public ::testing::Test {
protected:
    static constexpr int W = 64, H = 64;
    static constexpr Rgb BG{0, 0, 0};

    void SetUp() override {
        g_ = CreateHeadlessGraphics(W, H);
        ASSERT_TRUE(g_);
        SetGraphics(g_);
        SetClsColor(BG.r, BG.g, BG.b);
        Cls();
        SetColor(255, 255, 255);
    }
    void TearDown() override { SetGraphics(nullptr); }

    /// Reads the picture once; At() then indexes the copy.
    void Snap() { px_ = g_->ReadPixels(); }
    uint32_t At(int x, int y) const {
        if (x < 0 || y < 0 || x >= g_->Width() || y >= g_->Height()) return 0;
        const size_t i = (size_t(y) * g_->Width() + x) * 4;
        return (uint32_t(px_[i]) << 24) | (uint32_t(px_[i + 1]) << 16) | (uint32_t(px_[i + 2]) << 8) | px_[i + 3];
    }
    bool Lit(int x, int y) const { return !Near(At(x, y), BG); }
    /// Every pixel of the box [x0,x1) x [y0,y1) has colour c.
    bool BoxIs(int x0, int y0, int x1, int y1, Rgb c, int tol = 0) const {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (!Near(At(x, y), c, tol)) return false;
        return true;
    }
    /// Number of pixels differing from the background.
    int LitCount() const {
        int n = 0;
        for (int y = 0; y < g_->Height(); ++y)
            for (int x = 0; x < g_->Width(); ++x) n += Lit(x, y);
        return n;
    }

    Ref<TGraphics> g_;
    std::vector<uint8_t> px_;
};

}  // namespace kin::test
