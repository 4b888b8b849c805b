#include "Raster.h"

#include <algorithm>

namespace mediagen {

void Render(Picture& pic, int n, const std::function<Rgba(float, float)>& shader) {
    const float inv = 1.0f / float(n * n);
    for (int y = 0; y < pic.h; ++y)
        for (int x = 0; x < pic.w; ++x) {
            Rgba sum;
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i) {
                    Rgba s = shader(float(x) + (float(i) + 0.5f) / float(n), float(y) + (float(j) + 0.5f) / float(n));
                    sum.r += s.r;
                    sum.g += s.g;
                    sum.b += s.b;
                    sum.a += s.a;
                }
            Rgba avg{sum.r * inv, sum.g * inv, sum.b * inv, sum.a * inv};
            pic.At(x, y) = Over(avg, pic.At(x, y));
        }
}

namespace {
float Dot3(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
void Normalize3(float* v) {
    float l = std::sqrt(Dot3(v, v));
    if (l > 0) v[0] /= l, v[1] /= l, v[2] /= l;
}
float Mix(float a, float b, float t) { return a + (b - a) * t; }
}  // namespace

std::function<Rgba(float, float)> GelShader(std::function<Field(float, float)> field, Gel gel) {
    return [field, gel](float x, float y) -> Rgba {
        Field f = field(x, y);
        if (f.inside <= 0.0f) return {};
        // Surface normal from the height field's slope (central differences).
        const float e = 0.06f;
        float hx = Height(field(x + e, y)) - Height(field(x - e, y));
        float hy = Height(field(x, y + e)) - Height(field(x, y - e));
        float n[3] = {-hx / (2 * e), -hy / (2 * e), 1.0f};
        Normalize3(n);

        float light[3] = {-0.45f, -0.62f, 0.64f};  // from the upper left, towards the viewer
        Normalize3(light);
        float back[3] = {0.5f, 0.6f, 0.62f};  // where light leaves the gel again
        Normalize3(back);
        float half[3] = {light[0], light[1], light[2] + 1.0f};
        Normalize3(half);

        float diffuse = std::fmax(0.0f, Dot3(n, light));
        float facing = std::clamp(n[2], 0.0f, 1.0f);
        float rim = (1.0f - facing) * (1.0f - facing);
        float glow = std::pow(std::fmax(0.0f, Dot3(n, back)), 2.0f) * 0.85f;
        float nh = std::fmax(0.0f, Dot3(n, half));
        float shine = gel.specular * (0.55f * std::pow(nh, 24.0f) + 0.9f * std::pow(nh, 160.0f));

        float c[3];
        for (int k = 0; k < 3; ++k) {
            float v = Mix(gel.dark[k], gel.base[k], std::fmin(1.0f, 0.25f + 0.85f * diffuse));
            v = Mix(v, gel.rim[k], std::fmin(1.0f, rim * 1.4f));
            v += gel.glow[k] * glow * (1.0f - rim);
            c[k] = v;
        }
        float alpha = Mix(gel.alphaCentre, gel.alphaRim, std::fmin(1.0f, rim * 1.6f));
        // The highlight is reflected light: it brightens and makes the spot more opaque.
        alpha = std::fmin(1.0f, alpha + shine * (1.0f - alpha));
        for (float& v : c) v = std::clamp(v + shine, 0.0f, 1.0f);
        return Premul(c[0], c[1], c[2], alpha);
    };
}

float SegmentDistance(float px, float py, float ax, float ay, float bx, float by) {
    float dx = bx - ax, dy = by - ay;
    float len2 = dx * dx + dy * dy;
    float t = len2 > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / len2, 0.0f, 1.0f) : 0.0f;
    float qx = ax + t * dx - px, qy = ay + t * dy - py;
    return std::sqrt(qx * qx + qy * qy);
}

float ArcDistance(float px, float py, float cx, float cy, float r, float a0, float a1) {
    const float deg = 3.14159265f / 180.0f;
    float dx = px - cx, dy = py - cy;
    float a = std::atan2(dy, dx) / deg;
    // Bring the angle into [a0, a0 + 360).
    while (a < a0) a += 360.0f;
    while (a >= a0 + 360.0f) a -= 360.0f;
    if (a <= a1) return std::fabs(std::sqrt(dx * dx + dy * dy) - r);
    float e0x = cx + r * std::cos(a0 * deg), e0y = cy + r * std::sin(a0 * deg);
    float e1x = cx + r * std::cos(a1 * deg), e1y = cy + r * std::sin(a1 * deg);
    float d0 = std::hypot(px - e0x, py - e0y), d1 = std::hypot(px - e1x, py - e1y);
    return std::fmin(d0, d1);
}

std::vector<uint8_t> ToRgba8(const Picture& pic) {
    const size_t count = size_t(pic.w) * size_t(pic.h);
    std::vector<uint8_t> out(count * 4, 0);
    std::vector<float> col(count * 3, 0.0f);
    std::vector<uint8_t> known(count, 0);
    for (size_t i = 0; i < count; ++i) {
        const Rgba& p = pic.px[i];
        int a = int(std::lround(std::clamp(p.a, 0.0f, 1.0f) * 255.0f));
        out[i * 4 + 3] = uint8_t(a);
        if (a > 0) {
            col[i * 3 + 0] = std::clamp(p.r / p.a, 0.0f, 1.0f);
            col[i * 3 + 1] = std::clamp(p.g / p.a, 0.0f, 1.0f);
            col[i * 3 + 2] = std::clamp(p.b / p.a, 0.0f, 1.0f);
            known[i] = 1;
        }
    }
    // Grow the visible colours outwards into the transparent area, ring by ring.
    for (int pass = 0; pass < 4; ++pass) {
        std::vector<uint8_t> next = known;
        for (int y = 0; y < pic.h; ++y)
            for (int x = 0; x < pic.w; ++x) {
                size_t i = size_t(y) * size_t(pic.w) + size_t(x);
                if (known[i]) continue;
                float s[3] = {0, 0, 0};
                int n = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        int nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= pic.w || ny >= pic.h) continue;
                        size_t j = size_t(ny) * size_t(pic.w) + size_t(nx);
                        if (!known[j]) continue;
                        for (int k = 0; k < 3; ++k) s[k] += col[j * 3 + k];
                        ++n;
                    }
                if (n == 0) continue;
                for (int k = 0; k < 3; ++k) col[i * 3 + k] = s[k] / float(n);
                next[i] = 1;
            }
        known.swap(next);
    }
    for (size_t i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k) out[i * 4 + k] = uint8_t(std::lround(col[i * 3 + k] * 255.0f));
    return out;
}

}  // namespace mediagen
