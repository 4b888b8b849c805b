// Drawing state and primitives, read back from the headless backend. Pixel checks look at
// interiors and axis-aligned edges only.
#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "platform/Graphics.h"
#include "platform/System.h"
#include "platform/Window.h"
#include "platform/detail/RenderBackend.h"
#include "platform/detail/Triangulate.h"
#include "tests/platform/DrawFixture.h"

using namespace kin;
using kin::test::DrawFixture;
using kin::test::Near;
using kin::test::Rgb;

namespace {

// ---------------------------------------------------------------- state

TEST(DrawStateTest, NewContextHasFullViewportAndDefaults) {
    Ref<TGraphics> g = CreateHeadlessGraphics(40, 30);
    ASSERT_TRUE(g);
    SetGraphics(g);
    int32_t x, y, w, h;
    GetViewport(x, y, w, h);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 30);
    EXPECT_EQ(GraphicsWidth(), 40);
    EXPECT_EQ(GraphicsHeight(), 30);
    EXPECT_EQ(GetBlend(), SOLIDBLEND);
    EXPECT_EQ(GetImageFont(), nullptr);
    SetGraphics(nullptr);
    EXPECT_EQ(GraphicsWidth(), 0);
    DrawRect(0, 0, 10, 10);  // no context: nothing happens
}

TEST(DrawStateTest, RefusesUnusableSurfaceSizes) {
    EXPECT_FALSE(CreateHeadlessGraphics(0, 10));
    EXPECT_FALSE(CreateHeadlessGraphics(10, -1));
    EXPECT_FALSE(CreateHeadlessGraphics(100000, 10));
}

TEST(DrawStateTest, GettersReturnStoredValuesAndMatrixFollowsRule) {
    Ref<TGraphics> g = CreateHeadlessGraphics(8, 8);
    SetGraphics(g);
    SetColor(300, -5, 7);
    int32_t r, gg, b;
    GetColor(r, gg, b);
    EXPECT_EQ(r, 300);
    EXPECT_EQ(gg, -5);
    SetAlpha(2.5f);
    EXPECT_FLOAT_EQ(GetAlpha(), 2.5f);
    SetBlend(42);
    EXPECT_EQ(GetBlend(), 42);

    SetRotation(30);
    SetScale(2, 3);
    const DrawState& s = g->State();
    const double rad = 30 * 3.14159265358979323846 / 180;
    EXPECT_NEAR(s.tform_ix, std::cos(rad) * 2, 1e-6);
    EXPECT_NEAR(s.tform_iy, -std::sin(rad) * 3, 1e-6);
    EXPECT_NEAR(s.tform_jx, std::sin(rad) * 2, 1e-6);
    EXPECT_NEAR(s.tform_jy, std::cos(rad) * 3, 1e-6);
    SetTransform(0, 1, 1);
    EXPECT_FLOAT_EQ(s.tform_ix, 1);
    EXPECT_FLOAT_EQ(s.tform_iy, 0);

    SetHandle(3, 4);
    EXPECT_FLOAT_EQ(s.handle_x, -3);
    EXPECT_FLOAT_EQ(s.handle_y, -4);
    float hx, hy;
    GetHandle(hx, hy);
    EXPECT_FLOAT_EQ(hx, 3);
    EXPECT_FLOAT_EQ(hy, 4);
    SetGraphics(nullptr);
}

TEST(DrawStateTest, EachContextKeepsItsOwnState) {
    Ref<TGraphics> a = CreateHeadlessGraphics(8, 8), b = CreateHeadlessGraphics(8, 8);
    SetGraphics(a);
    SetColor(10, 20, 30);
    SetGraphics(b);
    SetColor(40, 50, 60);
    SetGraphics(a);
    int32_t r, g, bl;
    GetColor(r, g, bl);
    EXPECT_EQ(r, 10);
    SetGraphics(nullptr);
}

// Under the dummy video driver no accelerated renderer exists: a window's context must fall
// back to software and still draw, read back and present.
TEST(WindowGraphicsTest, FallsBackToSoftwareAndDraws) {
    std::string why;
    if (!InitServices(Backend::Window, &why)) GTEST_SKIP() << why;
    {
        Ref<TGadget> window = CreateWindow("graphics test", 0, 0, 120, 90, nullptr, 0x203);
        ASSERT_TRUE(window);
        Ref<TGadget> canvas = CreateCanvas(0, 0, window->ClientWidth(), window->ClientHeight(), window, 0);
        ASSERT_TRUE(canvas);
        TGraphics* g = CanvasGraphics(canvas);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->Width(), window->ClientWidth());
        EXPECT_EQ(g->Height(), window->ClientHeight());
        SetGraphics(g);
        SetClsColor(0, 0, 0);
        Cls();
        SetColor(255, 0, 0);
        DrawRect(5, 5, 10, 10);
        EXPECT_EQ(g->PixelAt(7, 7) >> 8, 0xFF0000u);
        EXPECT_EQ(g->PixelAt(20, 20) >> 8, 0u);
        Flip(-1);
        Flip(0);
        g->Resize(g->Width(), g->Height());
        int32_t x, y, w, h;
        GetViewport(x, y, w, h);
        EXPECT_EQ(w, g->Width());
        SetGraphics(nullptr);
    }
    EXPECT_FALSE(detail::CreateWindowGraphics(nullptr));
    ShutdownServices();
}

// ---------------------------------------------------------------- colour, alpha and blending

class ColourTest : public DrawFixture {};

TEST_F(ColourTest, ChannelsAreClampedWhenApplied) {
    SetColor(300, -20, 128);
    DrawRect(10, 10, 4, 4);
    Snap();
    EXPECT_TRUE(Near(At(11, 11), {255, 0, 128}));
}

TEST_F(ColourTest, AlphaIsClampedAndAppliedAsEightBits) {
    SetBlend(ALPHABLEND);
    SetColor(255, 255, 255);
    SetAlpha(3.0f);  // clamped to 1
    DrawRect(0, 0, 10, 10);
    SetAlpha(-1.0f);  // clamped to 0
    DrawRect(20, 0, 10, 10);
    SetAlpha(std::numeric_limits<float>::quiet_NaN());  // treated as 0
    DrawRect(40, 0, 10, 10);
    SetAlpha(0.5f);  // 127 of 255
    DrawRect(0, 20, 10, 10);
    Snap();
    EXPECT_TRUE(Near(At(5, 5), {255, 255, 255}));
    EXPECT_TRUE(Near(At(25, 5), BG));
    EXPECT_TRUE(Near(At(45, 5), BG));
    EXPECT_TRUE(Near(At(5, 25), {127, 127, 127}, 1));
}

struct BlendCase {
    const char* name;
    int32_t mode;
    float alpha;
    Rgb expect;  // drawing (200,100,50) over (100,150,200)
};
void PrintTo(const BlendCase& c, std::ostream* os) { *os << c.name; }

// a = alpha*255 truncated, as the vertex colour carries it.
constexpr float A127 = 127.0f / 255.0f;
Rgb Mix(float a, Rgb s, Rgb d, bool add) {
    auto ch = [&](int sc, int dc) {
        const float v = add ? sc * a + dc : sc * a + dc * (1 - a);
        return int(std::lround(std::min(v, 255.0f)));
    };
    return {ch(s.r, d.r), ch(s.g, d.g), ch(s.b, d.b)};
}
constexpr Rgb SRC{200, 100, 50}, DST{100, 150, 200};

class BlendTest : public DrawFixture, public ::testing::WithParamInterface<BlendCase> {};

TEST_P(BlendTest, FollowsItsFormula) {
    const BlendCase& c = GetParam();
    SetClsColor(DST.r, DST.g, DST.b);
    Cls();
    SetBlend(c.mode);
    SetAlpha(c.alpha);
    SetColor(SRC.r, SRC.g, SRC.b);
    // A rectangle (the software path's special case) and a triangle fan (the general one).
    DrawRect(4, 4, 20, 20);
    DrawOval(34, 4, 24, 24);
    Snap();
    EXPECT_TRUE(Near(At(12, 12), c.expect, 2)) << std::hex << At(12, 12);
    EXPECT_TRUE(Near(At(46, 16), c.expect, 2)) << std::hex << At(46, 16);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, BlendTest,
    ::testing::Values(BlendCase{"solid", SOLIDBLEND, 0.5f, SRC},
                      BlendCase{"alpha", ALPHABLEND, 0.5f, Mix(A127, SRC, DST, false)},
                      BlendCase{"light", LIGHTBLEND, 0.5f, Mix(A127, SRC, DST, true)},
                      BlendCase{"lightSaturates", LIGHTBLEND, 1.0f, {255, 250, 250}},
                      BlendCase{"shade", SHADEBLEND, 0.5f, {200 * 100 / 255, 100 * 150 / 255, 50 * 200 / 255}},
                      BlendCase{"maskAtHalfSkips", MASKBLEND, 0.5f, DST},
                      BlendCase{"maskAboveHalfIsOpaque", MASKBLEND, 0.51f, SRC},
                      BlendCase{"zeroActsAsSolid", 0, 0.5f, SRC},
                      BlendCase{"sixActsAsSolid", 6, 0.5f, SRC},
                      BlendCase{"negativeActsAsSolid", -3, 0.5f, SRC}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- viewport

class ViewportTest : public DrawFixture {};

TEST_F(ViewportTest, ClipsDrawingInAbsoluteCoordinates) {
    SetViewport(10, 20, 15, 5);
    DrawRect(0, 0, 64, 64);
    Snap();
    EXPECT_TRUE(BoxIs(10, 20, 25, 25, {255, 255, 255}));
    EXPECT_EQ(LitCount(), 15 * 5);
}

TEST_F(ViewportTest, ClsFillsOnlyTheViewport) {
    SetViewport(5, 6, 7, 8);
    SetClsColor(0, 200, 0);
    Cls();
    Snap();
    EXPECT_TRUE(BoxIs(5, 6, 12, 14, {0, 200, 0}));
    EXPECT_EQ(LitCount(), 7 * 8);
}

TEST_F(ViewportTest, EmptyViewportDrawsNothingAndFullRestoresDrawing) {
    SetViewport(5, 5, 0, 10);
    DrawRect(0, 0, 64, 64);
    Cls();
    Snap();
    EXPECT_EQ(LitCount(), 0);
    SetViewport(0, 0, W, H);
    DrawRect(0, 0, 64, 64);
    Snap();
    EXPECT_EQ(LitCount(), W * H);
}

TEST_F(ViewportTest, ResizeFollowsTheNewSize) {
    g_->Resize(80, 40);
    EXPECT_EQ(GraphicsWidth(), 80);
    int32_t x, y, w, h;
    GetViewport(x, y, w, h);
    EXPECT_EQ(w, 80);
    EXPECT_EQ(h, 40);
    DrawRect(70, 30, 5, 5);
    Snap();
    EXPECT_TRUE(BoxIs(70, 30, 75, 35, {255, 255, 255}));
    // A narrowed viewport is the caller's choice and survives a resize.
    SetViewport(1, 1, 5, 5);
    g_->Resize(50, 50);
    GetViewport(x, y, w, h);
    EXPECT_EQ(w, 5);
}

// ---------------------------------------------------------------- primitives

class PrimitiveTest : public DrawFixture {};

TEST_F(PrimitiveTest, RectCoversExactlyItsPixels) {
    DrawRect(10, 12, 5, 7);
    Snap();
    EXPECT_TRUE(BoxIs(10, 12, 15, 19, {255, 255, 255}));
    EXPECT_EQ(LitCount(), 35);
}

struct LineCase {
    const char* name;
    float x1, y1, x2, y2;
    int32_t last;
    float width;
    int bx0, by0, bx1, by1;  // the lit box [bx0,bx1) x [by0,by1)
};
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class LineTest : public DrawFixture, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineTest, CoversItsRun) {
    const LineCase& c = GetParam();
    SetLineWidth(c.width);
    DrawLine(c.x1, c.y1, c.x2, c.y2, c.last);
    Snap();
    EXPECT_TRUE(BoxIs(c.bx0, c.by0, c.bx1, c.by1, {255, 255, 255}));
    EXPECT_EQ(LitCount(), (c.bx1 - c.bx0) * (c.by1 - c.by0));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, LineTest,
    ::testing::Values(LineCase{"horizontalWithLast", 5, 10, 15, 10, 1, 1, 5, 10, 16, 11},
                      LineCase{"horizontalWithoutLast", 5, 10, 15, 10, 0, 1, 5, 10, 15, 11},
                      LineCase{"leftwards", 15, 10, 5, 10, 1, 1, 5, 10, 16, 11},
                      LineCase{"verticalWithLast", 20, 3, 20, 9, 1, 1, 20, 3, 21, 10},
                      LineCase{"verticalWithoutLast", 20, 3, 20, 9, 0, 1, 20, 3, 21, 9},
                      LineCase{"thick", 5, 10, 15, 10, 1, 3, 5, 9, 16, 12},
                      LineCase{"dot", 7, 7, 7, 7, 1, 1, 7, 7, 8, 8},
                      LineCase{"emptyWithoutLast", 7, 7, 7, 7, 0, 1, 7, 7, 7, 7}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PrimitiveTest, LineTurnsAboutItsFirstPoint) {
    SetRotation(90);
    DrawLine(10, 10, 20, 10);  // +x turns onto +y
    Snap();
    EXPECT_TRUE(BoxIs(10, 10, 11, 21, {255, 255, 255}));
    EXPECT_EQ(LitCount(), 11);
}

TEST_F(PrimitiveTest, OvalFillsItsInteriorOnly) {
    DrawOval(10, 10, 40, 20);
    Snap();
    for (auto [x, y] : {std::pair{30, 20}, {12, 20}, {47, 19}, {30, 11}, {30, 28}}) EXPECT_TRUE(Lit(x, y)) << x << "," << y;
    for (auto [x, y] : {std::pair{10, 10}, {49, 10}, {10, 29}, {49, 29}, {13, 12}, {9, 20}, {50, 20}, {30, 9}, {30, 30}})
        EXPECT_FALSE(Lit(x, y)) << x << "," << y;
}

TEST_F(PrimitiveTest, HugeShapesReachingFarOutsideStillFillTheSurface) {
    DrawOval(-1000, -1000, 2064, 2064);  // centre (32,32), radius 1032
    Snap();
    EXPECT_EQ(LitCount(), W * H);
    Cls();
    SetColor(255, 0, 0);
    DrawRect(-1e9f, 20, 2e9f, 10);
    Snap();
    EXPECT_TRUE(BoxIs(0, 20, W, 30, {255, 0, 0}));
    EXPECT_EQ(LitCount(), W * 10);
    // So large that the angle per chord underflows to zero: no division by zero or
    // out-of-range conversion (the sanitizer build traps both), and drawing goes on.
    Cls();
    DrawOval(-1e30f, -1e30f, 2e30f, 2e30f);
    DrawRect(0, 0, 4, 4);
    Snap();
    EXPECT_TRUE(BoxIs(0, 0, 4, 4, {255, 0, 0}));
}

TEST_F(PrimitiveTest, NonFiniteCoordinatesDrawNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    DrawRect(nan, 0, 10, 10);
    DrawOval(0, 0, inf, 10);
    DrawLine(0, 0, inf, 5);
    const float poly[] = {0, 0, 10, 0, nan, 10};
    DrawPoly(poly, 6);
    SetScale(nan, 1);
    DrawRect(0, 0, 10, 10);
    Snap();
    EXPECT_EQ(LitCount(), 0);
}

struct PlaceCase {
    const char* name;
    float ox, oy, hx, hy, rot, sx, sy;
    float x, y, w, h;  // DrawRect arguments
    int bx0, by0, bx1, by1;
};
void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.name; }

class PlacementTest : public DrawFixture, public ::testing::WithParamInterface<PlaceCase> {};

TEST_P(PlacementTest, RectLandsWhereTheTransformPutsIt) {
    const PlaceCase& c = GetParam();
    SetOrigin(c.ox, c.oy);
    SetHandle(c.hx, c.hy);
    SetTransform(c.rot, c.sx, c.sy);
    DrawRect(c.x, c.y, c.w, c.h);
    Snap();
    EXPECT_TRUE(BoxIs(c.bx0, c.by0, c.bx1, c.by1, {255, 255, 255}));
    EXPECT_EQ(LitCount(), (c.bx1 - c.bx0) * (c.by1 - c.by0));
}

INSTANTIATE_TEST_SUITE_P(
    Transforms, PlacementTest,
    ::testing::Values(PlaceCase{"origin", 5, 6, 0, 0, 0, 1, 1, 0, 0, 4, 4, 5, 6, 9, 10},
                      PlaceCase{"handle", 0, 0, 2, 3, 0, 1, 1, 10, 10, 4, 4, 8, 7, 12, 11},
                      PlaceCase{"originAndHandle", 5, 5, 2, 2, 0, 1, 1, 10, 10, 4, 4, 13, 13, 17, 17},
                      PlaceCase{"scale", 0, 0, 0, 0, 0, 2, 3, 10, 10, 4, 2, 10, 10, 18, 16},
                      // +x turns onto +y, +y onto -x: the box hangs left of and below the anchor.
                      PlaceCase{"rotate90", 0, 0, 0, 0, 90, 1, 1, 20, 20, 10, 4, 16, 20, 20, 30},
                      PlaceCase{"rotate180", 0, 0, 0, 0, 180, 1, 1, 20, 20, 10, 4, 10, 16, 20, 20},
                      // the handle is the pivot of rotation and scale
                      PlaceCase{"handlePivots", 0, 0, 2, 2, 90, 2, 2, 20, 20, 4, 4, 16, 16, 24, 24}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- polygons

struct PolyCase {
    const char* name;
    std::vector<float> points;
    std::vector<std::pair<int, int>> inside, outside;
};

std::vector<float> Reversed(std::vector<float> p) {
    std::vector<float> r;
    for (size_t i = p.size(); i >= 2; i -= 2) r.insert(r.end(), {p[i - 2], p[i - 1]});
    return r;
}

std::vector<float> Star(float cx, float cy, float outer, float inner, int spikes) {
    std::vector<float> p;
    for (int i = 0; i < spikes * 2; ++i) {
        const double a = i * 3.14159265358979323846 / spikes - 3.14159265358979323846 / 2;
        const float r = i % 2 ? inner : outer;
        p.push_back(cx + float(r * std::cos(a)));
        p.push_back(cy + float(r * std::sin(a)));
    }
    return p;
}

const std::vector<float> kL = {10, 10, 20, 10, 20, 40, 50, 40, 50, 50, 10, 50};
// The same L with extra points on its straight edges and a repeated corner.
const std::vector<float> kLCollinear = {10, 10, 15, 10, 20, 10, 20, 25, 20, 40, 20, 40, 35, 40,
                                        50, 40, 50, 50, 30, 50, 10, 50, 10, 30};
// A comb: three teeth hanging from a bar, notches between them.
const std::vector<float> kComb = {4, 4, 60, 4, 60, 40, 50, 40, 50, 14, 38, 14, 38, 40, 26, 40,
                                  26, 14, 14, 14, 14, 40, 4, 40};

const std::vector<PolyCase>& PolyCases() {
    static const std::vector<PolyCase> cases = {
        {"L", kL, {{15, 15}, {15, 45}, {45, 45}, {21, 41}}, {{30, 30}, {45, 20}, {21, 38}}},
        {"LCollinear", kLCollinear, {{15, 15}, {15, 45}, {45, 45}}, {{30, 30}, {45, 20}, {21, 38}}},
        {"star", Star(32, 32, 28, 10, 5), {{32, 32}, {32, 8}, {40, 32}}, {{12, 12}, {52, 12}, {32, 55}}},
        {"comb", kComb, {{9, 30}, {32, 30}, {55, 30}, {30, 8}}, {{20, 30}, {44, 30}, {30, 50}}},
    };
    return cases;
}

class PolyTest : public DrawFixture, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(PolyTest, FillsConcaveShapesInEitherWinding) {
    const PolyCase& c = PolyCases()[std::get<0>(GetParam())];
    const std::vector<float> pts = std::get<1>(GetParam()) ? Reversed(c.points) : c.points;
    DrawPoly(pts);
    Snap();
    for (auto [x, y] : c.inside) EXPECT_TRUE(Lit(x, y)) << c.name << " " << x << "," << y;
    for (auto [x, y] : c.outside) EXPECT_FALSE(Lit(x, y)) << c.name << " " << x << "," << y;
}

// Named by the shape, and "Reversed" for the other winding.
std::string ShapeName(const ::testing::TestParamInfo<std::tuple<int, bool>>& info) {
    return std::string(PolyCases()[std::get<0>(info.param)].name) + (std::get<1>(info.param) ? "Reversed" : "");
}

INSTANTIATE_TEST_SUITE_P(Shapes, PolyTest, ::testing::Combine(::testing::Range(0, 4), ::testing::Bool()), ShapeName);

TEST_F(PrimitiveTest, PolyIsAnchoredAtTheOrigin) {
    SetOrigin(30, 20);
    const float square[] = {0, 0, 6, 0, 6, 6, 0, 6};
    DrawPoly(square, 8);
    Snap();
    EXPECT_TRUE(BoxIs(30, 20, 36, 26, {255, 255, 255}));
    EXPECT_EQ(LitCount(), 36);
}

TEST_F(PrimitiveTest, PolyWithTooFewPointsDrawsNothing) {
    const float two[] = {0, 0, 10, 10, 5};
    DrawPoly(two, 5);
    DrawPoly(nullptr, 8);
    Snap();
    EXPECT_EQ(LitCount(), 0);
}

// ---------------------------------------------------------------- ear clipping

double Area2(const std::vector<float>& p) {
    double a = 0;
    const size_t n = p.size() / 2;
    for (size_t i = 0; i < n; ++i) {
        const size_t j = (i + 1) % n;
        a += double(p[2 * i]) * p[2 * j + 1] - double(p[2 * j]) * p[2 * i + 1];
    }
    return a;
}

class TriangulateTest : public ::testing::TestWithParam<std::tuple<int, bool>> {};

// Triangles that all turn the polygon's way and add up to its area cover it exactly once.
TEST_P(TriangulateTest, TrianglesTileThePolygon) {
    const PolyCase& c = PolyCases()[std::get<0>(GetParam())];
    const std::vector<float> pts = std::get<1>(GetParam()) ? Reversed(c.points) : c.points;
    std::vector<int32_t> tris;
    detail::TriangulateScratch scratch;
    detail::Triangulate(pts.data(), int32_t(pts.size() / 2), tris, scratch);
    ASSERT_EQ(tris.size() % 3, 0u);
    const double whole = Area2(pts);
    double sum = 0;
    for (size_t t = 0; t < tris.size(); t += 3) {
        const std::vector<float> tri = {pts[2 * tris[t]], pts[2 * tris[t] + 1], pts[2 * tris[t + 1]],
                                        pts[2 * tris[t + 1] + 1], pts[2 * tris[t + 2]], pts[2 * tris[t + 2] + 1]};
        const double a = Area2(tri);
        EXPECT_GT(a * whole, 0) << c.name << " triangle " << t / 3;
        sum += a;
    }
    EXPECT_NEAR(sum, whole, 1e-6 * std::fabs(whole));
}

INSTANTIATE_TEST_SUITE_P(Shapes, TriangulateTest, ::testing::Combine(::testing::Range(0, 4), ::testing::Bool()),
                         ShapeName);

TEST(TriangulateEdges, DegenerateAndCrossingOutlinesEnd) {
    std::vector<int32_t> tris;
    detail::TriangulateScratch scratch;
    const float line[] = {0, 0, 5, 0, 10, 0, 3, 0};
    detail::Triangulate(line, 4, tris, scratch);
    EXPECT_TRUE(tris.empty());
    const float same[] = {1, 1, 1, 1, 1, 1, 1, 1};
    detail::Triangulate(same, 4, tris, scratch);
    EXPECT_TRUE(tris.empty());
    const float bowtie[] = {0, 0, 10, 10, 10, 0, 0, 10, 5, 20};
    detail::Triangulate(bowtie, 5, tris, scratch);  // must return; the covering is unspecified
    EXPECT_LE(tris.size(), 9u);
}

}  // namespace

// Headless contexts clear and draw slanted triangles and upright image copies themselves
// instead of through the software renderer: random scenes of every primitive, blend mode,
// transform, colour and viewport, partly off the surface, must come out the same to the bit
// either way. (No call takes two draws as arguments, whose order would be the compiler's:
// the scenes are drawn in the same order, a call's last argument first, from every
// compiler.)
TEST(DirectTrianglesTest, DrawExactlyWhatTheRendererDraws) {
    std::mt19937 rng(7);
    auto uniform = [&](float a, float b) { return std::uniform_real_distribution<float>(a, b)(rng); };
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    // Pictures with transparent, opaque and partly transparent texels.
    std::vector<Ref<TImage>> images;
    for (int i = 0; i < 6; ++i) {
        const int flags = pick(2) ? FILTEREDIMAGE : 0;
        const int h = 1 + pick(42), w = 1 + pick(64);
        Ref<TImage> im = TImage::CreateBlank(w, h, 1, flags);
        ASSERT_TRUE(im);
        uint8_t* p = im->frames[0]->Pixels();
        for (int k = 0; k < im->width * im->height; ++k) {
            for (int c = 0; c < 3; ++c) p[4 * k + c] = static_cast<uint8_t>(rng());
            const int kind = pick(3);
            p[4 * k + 3] = kind == 0 ? 0 : kind == 1 ? 255 : static_cast<uint8_t>(rng());
        }
        im->frames[0]->SetHasAlpha(true);
        const float hy = uniform(-10, 30), hx = uniform(-10, 40);
        SetImageHandle(im.Get(), hx, hy);
        images.push_back(im);
    }
    const int32_t W = 160, H = 120;
    for (int scene = 0; scene < 40; ++scene) {
        std::vector<uint8_t> pictures[2];
        const uint32_t seed = static_cast<uint32_t>(rng());
        for (int direct = 0; direct < 2; ++direct) {
            Ref<TGraphics> g = CreateHeadlessGraphics(W, H);
            ASSERT_TRUE(g);
            detail::SetDirectTriangles(g.Get(), direct != 0);
            SetGraphics(g);
            std::mt19937 r(seed);  // the same scene for both
            auto u = [&](float a, float b) { return std::uniform_real_distribution<float>(a, b)(r); };
            auto n = [&](int k) { return static_cast<int>(r() % static_cast<uint32_t>(k)); };
            // n(3) ? 255 : n(256): a channel that is mostly full.
            auto channel = [&]() { return n(3) ? 255 : n(256); };
            {
                const int blue = n(256), green = n(256), red = n(256);
                SetClsColor(red, green, blue);
            }
            Cls();
            for (int k = 0; k < 30; ++k) {
                SetBlend(n(6));
                const int blue = channel(), green = channel(), red = channel();
                SetColor(red, green, blue);
                SetAlpha(n(3) ? 1.0f : u(0, 1));
                const float sy = u(0.2f, 3), sx = u(0.2f, 3);
                const float angle = n(4) ? u(-360, 360) : 90.0f * static_cast<float>(n(4));
                SetTransform(angle, sx, sy);
                if (n(4) == 0) {
                    const int vh = n(H), vw = n(W), vy = n(H), vx = n(W);
                    SetViewport(vx, vy, vw, vh);
                }
                if (n(8) == 0) SetViewport(0, 0, W, H);
                if (n(12) == 0) {
                    const int blue = n(256), green = n(256), red = n(256);
                    SetClsColor(red, green, blue);
                    Cls();
                }
                const float x = u(-60, W + 60), y = u(-60, H + 60);
                switch (n(5)) {
                    case 0: DrawImage(images[static_cast<size_t>(n(6))].Get(), x, y, 0); break;
                    case 1: {
                        // Upright and unflipped, often in its own size or opaque white: the
                        // renderer copies these as rectangles.
                        const float ux = n(3) ? u(0.2f, 3) : 1.0f;
                        const float uy = n(3) ? u(0.2f, 3) : 1.0f;
                        SetTransform(0.0f, ux, uy);
                        if (n(2)) SetColor(255, 255, 255), SetAlpha(1.0f);
                        DrawImage(images[static_cast<size_t>(n(6))].Get(), x, y, 0);
                        break;
                    }
                    case 2: {
                        const float h = u(1, 80), w = u(1, 80);
                        DrawRect(x, y, w, h);
                        break;
                    }
                    case 3: {
                        const float h = u(1, 80), w = u(1, 80);
                        DrawOval(x, y, w, h);
                        break;
                    }
                    default: {
                        const float xy[] = {x, y, x + u(-80, 80), y + u(-80, 80), x + u(-80, 80), y + u(-80, 80),
                                            x + u(-80, 80), y + u(-80, 80)};
                        DrawPoly(xy, 8);
                    }
                }
            }
            pictures[direct] = g->ReadPixels();
            SetGraphics(nullptr);
        }
        ASSERT_EQ(pictures[0].size(), static_cast<size_t>(W) * H * 4);
        ASSERT_TRUE(pictures[0] == pictures[1]) << "scene " << scene;
    }
}

// Images scaled up far enough that a triangle's texels cannot be stepped in fixed point
// without losing exactness take the exact slower stepping: the same to the bit as well.
TEST(DirectTrianglesTest, HugeImagesDrawExactlyWhatTheRendererDraws) {
    std::mt19937 rng(11);
    Ref<TImage> im = TImage::CreateBlank(7, 5, 1, 0);
    ASSERT_TRUE(im);
    uint8_t* p = im->frames[0]->Pixels();
    for (int k = 0; k < 4 * 7 * 5; ++k) p[k] = static_cast<uint8_t>(rng());
    im->frames[0]->SetHasAlpha(true);
    const int32_t W = 1500, H = 1100;
    std::vector<uint8_t> pictures[2];
    for (int direct = 0; direct < 2; ++direct) {
        Ref<TGraphics> g = CreateHeadlessGraphics(W, H);
        ASSERT_TRUE(g);
        detail::SetDirectTriangles(g.Get(), direct != 0);
        SetGraphics(g);
        SetClsColor(30, 60, 90);
        Cls();
        SetBlend(ALPHABLEND);
        SetColor(255, 255, 255);
        SetAlpha(1.0f);
        for (const float angle : {13.0f, 100.0f, 222.0f}) {
            SetTransform(angle, 250.0f, 230.0f);
            DrawImage(im.Get(), 700.0f, 500.0f, 0);
        }
        pictures[direct] = g->ReadPixels();
        SetGraphics(nullptr);
    }
    ASSERT_EQ(pictures[0].size(), static_cast<size_t>(W) * H * 4);
    EXPECT_TRUE(pictures[0] == pictures[1]);
}
