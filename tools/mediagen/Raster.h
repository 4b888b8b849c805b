#pragma once
// Small raster toolkit for the media generator: premultiplied float pictures, supersampled
// rendering of shape fields, glossy gel shading and 8-bit export.
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace mediagen {

/// Premultiplied colour, channels 0..1.
struct Rgba {
    float r = 0, g = 0, b = 0, a = 0;
};

/// Source over destination, both premultiplied.
inline Rgba Over(const Rgba& s, const Rgba& d) {
    float k = 1.0f - s.a;
    return {s.r + d.r * k, s.g + d.g * k, s.b + d.b * k, s.a + d.a * k};
}

/// A straight colour with its opacity, as a premultiplied value.
inline Rgba Premul(float r, float g, float b, float a) { return {r * a, g * a, b * a, a}; }

struct Picture {
    int w = 0, h = 0;
    std::vector<Rgba> px;
    Picture(int width, int height) : w(width), h(height), px(size_t(width) * size_t(height)) {}
    Rgba& At(int x, int y) { return px[size_t(y) * size_t(w) + size_t(x)]; }
};

/// Composites shader(x, y) (premultiplied, in pixel coordinates, y down) over the picture,
/// averaging an n x n grid of samples in every pixel.
void Render(Picture& pic, int n, const std::function<Rgba(float, float)>& shader);

/// A gel surface: positive inside, roughly the distance to the edge; bevel is the radius
/// of the rounded rim (the surface is a quarter circle of that radius at the edge).
struct Field {
    float inside;
    float bevel;
};

/// Surface height of a field sample, 0 at the edge, bevel where the rim has risen fully.
inline float Height(const Field& f) {
    if (f.inside <= 0.0f || f.bevel <= 0.0f) return 0.0f;
    float t = std::fmin(f.inside / f.bevel, 1.0f);
    float u = 1.0f - t;
    return f.bevel * std::sqrt(std::fmax(0.0f, 1.0f - u * u));
}

/// Material of a glossy, translucent gel.
struct Gel {
    float dark[3];      // colour in shadow
    float base[3];      // colour facing the light
    float rim[3];       // colour of the rim
    float glow[3];      // light scattered out of the side away from the light
    float alphaCentre;  // opacity where the surface faces the viewer
    float alphaRim;     // opacity at the rim
    float specular;     // strength of the highlight
};

/// Shader for a gel shape described by field(x, y): antialiased by the caller's sampling.
std::function<Rgba(float, float)> GelShader(std::function<Field(float, float)> field, Gel gel);

/// Polynomial smooth minimum: blends a and b over a band of width k.
inline float SMin(float a, float b, float k) {
    float h = std::fmax(k - std::fabs(a - b), 0.0f) / k;
    return std::fmin(a, b) - h * h * k * 0.25f;
}

/// Distance from p to the segment a-b.
float SegmentDistance(float px, float py, float ax, float ay, float bx, float by);
/// Distance from p to the arc of radius r around c from angle a0 to a1 (degrees, y down,
/// growing clockwise on screen; a1 > a0).
float ArcDistance(float px, float py, float cx, float cy, float r, float a0, float a1);

/// Straight 8-bit RGBA of a picture; fully transparent pixels take the colour of their
/// visible neighbours so that filtered drawing shows no dark fringe.
std::vector<uint8_t> ToRgba8(const Picture& pic);

}  // namespace mediagen
