// The game's pictures: blob, strand (goo), their pale preview versions, the removal
// marker and the library logo. All are glossy gel shapes rendered from distance fields.
#include <algorithm>
#include <cmath>
#include <vector>

#include "MediaGen.h"
#include "Raster.h"

namespace mediagen {

namespace {

constexpr int kSamples = 8;  // 8 x 8 samples per pixel

const Gel kSlime = {
    {0.06f, 0.38f, 0.04f}, {0.46f, 0.95f, 0.14f}, {0.02f, 0.26f, 0.03f}, {0.85f, 1.00f, 0.30f},
    0.74f, 0.98f, 1.0f,
};
const Gel kGhost = {
    {0.60f, 0.84f, 0.60f}, {0.86f, 1.00f, 0.84f}, {0.52f, 0.80f, 0.55f}, {0.95f, 1.00f, 0.95f},
    0.20f, 0.55f, 0.55f,
};
const Gel kMarker = {
    {0.42f, 0.02f, 0.02f}, {0.98f, 0.20f, 0.13f}, {0.30f, 0.00f, 0.00f}, {1.00f, 0.55f, 0.45f},
    0.93f, 1.0f, 0.85f,
};

// Union of two gel fields that melts them together where they meet.
Field Melt(const Field& a, const Field& b, float k) {
    return {-SMin(-a.inside, -b.inside, k), std::fmax(a.bevel, b.bevel)};
}

// A sphere-like drop of radius r at (cx, cy).
Field Drop(float x, float y, float cx, float cy, float r) {
    return {r - std::hypot(x - cx, y - cy), r};
}

// A strand of goo from a to b: thick at its ends, thin in the middle.
Field Strand(float x, float y, float ax, float ay, float bx, float by, float endW, float midW) {
    float dx = bx - ax, dy = by - ay;
    float len2 = dx * dx + dy * dy;
    float t = std::clamp(((x - ax) * dx + (y - ay) * dy) / len2, 0.0f, 1.0f);
    float s = 2.0f * t - 1.0f;
    float w = midW + (endW - midW) * s * s;
    float d = std::hypot(ax + t * dx - x, ay + t * dy - y);
    return {w - d, w};
}

Picture BlobPicture(const Gel& gel) {
    Picture pic(32, 32);
    Render(pic, kSamples, GelShader([](float x, float y) { return Drop(x, y, 16.0f, 16.0f, 14.6f); }, gel));
    return pic;
}

// The strand image: its left end is the middle of the left edge, the game stretches it
// along x to the strand's length; the ends hide under the blobs.
Picture GooPicture(const Gel& gel) {
    Picture pic(100, 32);
    Render(pic, kSamples, GelShader([](float x, float y) {
        float u = std::clamp(x / 100.0f, 0.0f, 1.0f);
        float s = std::fabs(2.0f * u - 1.0f);
        float w = 4.2f + 6.3f * s * s;
        return Field{w - std::fabs(y - 16.0f), w};
    }, gel));
    return pic;
}

Picture MarkerPicture() {
    Picture pic(34, 34);
    const float c = 17.0f, ring = 12.8f, half = 2.8f, arm = 8.6f;
    // A faint red disc inside the ring, then the ring and the cross as one glossy stroke.
    Render(pic, kSamples, [&](float x, float y) {
        return std::hypot(x - c, y - c) < ring ? Premul(0.9f, 0.12f, 0.1f, 0.22f) : Rgba{};
    });
    Render(pic, kSamples, GelShader([=](float x, float y) {
        float dRing = std::fabs(std::hypot(x - c, y - c) - ring);
        float d1 = SegmentDistance(x, y, c - arm, c - arm, c + arm, c + arm);
        float d2 = SegmentDistance(x, y, c - arm, c + arm, c + arm, c - arm);
        float d = SMin(dRing, SMin(d1, d2, 1.5f), 2.5f);
        return Field{half - d, half};
    }, kMarker));
    return pic;
}

// ---------------------------------------------------------------------------------------
// The logo: the word "gelsim" drawn with round strokes that melt together within each
// letter, drops dripping from some letters, and a little structure of blobs and strands
// above it.

struct Stroke {
    enum Kind { SEGMENT, ARC, DOT } kind;
    float a, b, c, d, e;  // segment: x1 y1 x2 y2; arc: cx cy r a0 a1; dot: cx cy r
    float width;
};

using Letter = std::vector<Stroke>;

constexpr float kW = 4.6f;               // stroke half width
constexpr float kBase = 96.0f;           // baseline
constexpr float kTop = kBase - 30.0f;    // top of the small letters
constexpr float kMid = (kBase + kTop) * 0.5f;
constexpr float kBowl = 15.0f - kW;      // radius of round letters

Stroke Seg(float x1, float y1, float x2, float y2, float w = kW) { return {Stroke::SEGMENT, x1, y1, x2, y2, 0, w}; }
Stroke Arc(float cx, float cy, float r, float a0, float a1, float w = kW) { return {Stroke::ARC, cx, cy, r, a0, a1, w}; }
Stroke Dot(float cx, float cy, float r) { return {Stroke::DOT, cx, cy, r, 0, 0, r}; }

// A drop hanging from (x, y0), its bulb centred at y1.
void Drip(Letter& l, float x, float y0, float y1, float bulb) {
    l.push_back(Seg(x, y0, x, y1, 1.9f));
    l.push_back(Dot(x, y1, bulb));
}

std::vector<Letter> Word() {
    std::vector<Letter> word;
    const float top = kTop + kW, bottom = kBase - kW;
    {  // g
        float cx = 21.0f, stem = cx + kBowl;
        word.push_back({Arc(cx, kMid, kBowl, 0, 360), Seg(stem, top, stem, 100.0f), Arc(cx, 100.0f, kBowl, 0, 160)});
    }
    {  // e, with a drop under its belly
        float cx = 54.0f;
        Letter e = {Arc(cx, kMid, kBowl, 72, 360), Seg(cx - kBowl, kMid, cx + kBowl, kMid)};
        Drip(e, cx - 5.0f, kMid + kBowl - 1.0f, 105.0f, 3.3f);
        word.push_back(e);
    }
    {  // l
        float cx = 76.6f;
        Letter l = {Seg(cx, 48.0f, cx, bottom)};
        Drip(l, cx, bottom, 101.5f, 2.8f);
        word.push_back(l);
    }
    {  // s: two half-turns meeting in the middle
        float cx = 93.8f, r = (30.0f - 2.0f * kW) * 0.25f;
        word.push_back({Arc(cx, top + r, r, 90, 330), Arc(cx, bottom - r, r, -90, 150)});
    }
    {  // i, its dot a little blob
        float cx = 111.2f;
        word.push_back({Seg(cx, top, cx, bottom), Dot(cx, 55.0f, 5.6f)});
    }
    {  // m, dripping from its middle stem
        float x0 = 123.4f, r = 6.5f, arch = top + r;
        Letter m = {Seg(x0, top, x0, bottom),
                    Seg(x0 + 2 * r, arch, x0 + 2 * r, bottom),
                    Seg(x0 + 4 * r, arch, x0 + 4 * r, bottom),
                    Arc(x0 + r, arch, r, 180, 360),
                    Arc(x0 + 3 * r, arch, r, 180, 360)};
        Drip(m, x0 + 2 * r, bottom, 108.0f, 3.6f);
        word.push_back(m);
    }
    return word;
}

Field StrokeField(const Stroke& s, float x, float y) {
    switch (s.kind) {
        case Stroke::SEGMENT: return {s.width - SegmentDistance(x, y, s.a, s.b, s.c, s.d), s.width};
        case Stroke::ARC: return {s.width - ArcDistance(x, y, s.a, s.b, s.c, s.d, s.e), s.width};
        case Stroke::DOT: return Drop(x, y, s.a, s.b, s.c);
    }
    return {-1.0f, 1.0f};
}

Field WordField(const std::vector<Letter>& word, float x, float y) {
    Field best{-1e9f, kW};
    for (const Letter& l : word) {
        Field f{-1e9f, kW};
        for (const Stroke& s : l) f = Melt(f, StrokeField(s, x, y), 2.6f);
        if (f.inside > best.inside) best = f;  // letters touch but do not melt together
    }
    return best;
}

struct Blob {
    float x, y, r;
};

Picture LogoPicture() {
    Picture pic(160, 120);
    const std::vector<Letter> word = Word();
    const Blob blobs[] = {{44.0f, 30.0f, 8.5f}, {80.0f, 13.0f, 8.5f}, {116.0f, 30.0f, 8.5f}};
    const int links[][2] = {{0, 1}, {1, 2}, {0, 2}};

    // A soft shadow below everything keeps the logo readable on light and dark ground.
    Render(pic, 4, [&](float x, float y) {
        float inside = WordField(word, x - 1.2f, y - 1.8f).inside;
        for (const Blob& b : blobs) inside = std::fmax(inside, b.r - std::hypot(x - 1.2f - b.x, y - 1.8f - b.y));
        float a = std::clamp((inside + 1.8f) / 3.0f, 0.0f, 1.0f) * 0.35f;
        return Premul(0.0f, 0.08f, 0.0f, a);
    });
    Render(pic, kSamples, GelShader([&](float x, float y) {
        Field f{-1e9f, 1.0f};
        for (const auto& l : links) {
            const Blob& a = blobs[l[0]];
            const Blob& b = blobs[l[1]];
            Field s = Strand(x, y, a.x, a.y, b.x, b.y, 4.5f, 2.3f);
            if (s.inside > f.inside) f = s;
        }
        return f;
    }, kSlime));
    Render(pic, kSamples, GelShader([&](float x, float y) {
        Field f{-1e9f, 1.0f};
        for (const Blob& b : blobs) {
            Field d = Drop(x, y, b.x, b.y, b.r);
            if (d.inside > f.inside) f = d;
        }
        return f;
    }, kSlime));
    Render(pic, kSamples, GelShader([&](float x, float y) { return WordField(word, x, y); }, kSlime));
    return pic;
}

}  // namespace

std::vector<PictureFile> MakePictures() {
    std::vector<PictureFile> files;
    files.push_back({"blob.png", BlobPicture(kSlime)});
    files.push_back({"ghostblob.png", BlobPicture(kGhost)});
    files.push_back({"goo.png", GooPicture(kSlime)});
    files.push_back({"ghostgoo.png", GooPicture(kGhost)});
    files.push_back({"del.png", MarkerPicture()});
    files.push_back({"gelsimlogo.png", LogoPicture()});
    return files;
}

}  // namespace mediagen
