// The two squelches: noise and a crackle of wet clicks through a resonant filter whose
// pitch bends over the sound, plus bubble pops, under a fast-attack envelope.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "MediaGen.h"

namespace mediagen {

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// Deterministic noise: xorshift32, uniform in [-1, 1).
struct Noise {
    uint32_t s;
    double Next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return double(s) / 2147483648.0 - 1.0;
    }
};

// State-variable filter (two integrators); band-pass output with resonance 1/damping.
struct Resonator {
    double low = 0, band = 0;
    double BandPass(double in, double hz, double damping) {
        double f = 2.0 * std::sin(kPi * std::min(hz, 6000.0) / kRate);
        low += f * band;
        double high = in - low - damping * band;
        band += f * high;
        return band;
    }
};

struct Pop {
    double start;  // seconds
    double hz;     // starting pitch; a bubble's pitch rises as it closes
    double rise;   // pitch gain per second
    double decay;  // seconds
    double gain;
    double pan;    // -1 left .. 1 right
};

struct Squelch {
    double seconds;
    uint32_t seed;
    double (*body)(double t);    // resonance frequency over time, Hz
    double (*clicks)(double t);  // rate of wet clicks over time, per second
    double decay;                // envelope time constant, seconds
    std::vector<Pop> pops;
};

std::vector<int16_t> Synthesize(const Squelch& q) {
    const int frames = int(std::lround(q.seconds * kRate));
    std::vector<double> out(size_t(frames) * 2, 0.0);

    for (int ch = 0; ch < 2; ++ch) {
        Noise noise{q.seed * 2654435761u + uint32_t(ch) * 40503u + 1u};
        Resonator formant, overtone;
        double phase = 0.0, click = 0.0, smooth = 0.0;
        for (int i = 0; i < frames; ++i) {
            double t = double(i) / kRate;
            // Clicks: a decaying impulse each time the click phase wraps, of random size.
            phase += q.clicks(t) / kRate * (1.0 + 0.6 * noise.Next());
            if (phase >= 1.0) {
                phase -= 1.0;
                click += 0.6 + 0.4 * noise.Next();
            }
            click *= 0.93;
            double excite = 0.25 * noise.Next() + click;
            double hz = q.body(t) * (1.0 + 0.04 * (ch ? 1 : -1));
            double wet = formant.BandPass(excite, hz, 0.1) + 0.45 * overtone.BandPass(excite, hz * 2.7, 0.3);
            smooth += 0.45 * (wet - smooth);  // soften the top end
            double env = (1.0 - std::exp(-t / 0.004)) * std::exp(-t / q.decay);
            double fade = std::min(1.0, (q.seconds - t) / 0.03);
            out[size_t(i) * 2 + size_t(ch)] = smooth * env * fade;
        }
    }

    for (const Pop& p : q.pops) {
        double phase = 0.0;
        for (int i = int(p.start * kRate); i < frames; ++i) {
            double t = double(i) / kRate - p.start;
            if (t > 8.0 * p.decay) break;
            phase += 2.0 * kPi * p.hz * (1.0 + p.rise * t) / kRate;
            double v = p.gain * std::sin(phase) * (1.0 - std::exp(-t / 0.0015)) * std::exp(-t / p.decay);
            out[size_t(i) * 2] += v * (1.0 - 0.5 * p.pan);
            out[size_t(i) * 2 + 1] += v * (1.0 + 0.5 * p.pan);
        }
    }

    double peak = 1e-9;
    for (double v : out) peak = std::max(peak, std::fabs(v));
    std::vector<int16_t> pcm(out.size());
    for (size_t i = 0; i < out.size(); ++i) pcm[i] = int16_t(std::lround(out[i] / peak * 0.85 * 32767.0));
    return pcm;
}

// Removal: a wet squish whose body sinks, as if the blob collapses.
double SinkingBody(double t) { return 260.0 + 900.0 * std::exp(-t / 0.09) + 60.0 * std::sin(2 * kPi * 11.0 * t); }
double SinkingClicks(double t) { return 70.0 - 90.0 * t; }
// Addition: a sucking slurp whose body rises and falls back, ending in bubbles.
double SlurpBody(double t) {
    double rise = 220.0 + 1250.0 * std::sin(kPi * std::min(t / 0.30, 1.0));
    return rise + 80.0 * std::sin(2 * kPi * 7.0 * t);
}
double SlurpClicks(double t) { return 45.0 + 70.0 * t; }

}  // namespace

std::vector<SoundFile> MakeSounds() {
    Squelch remove{0.38, 2, SinkingBody, SinkingClicks, 0.12,
                   {{0.012, 520.0, 3.0, 0.018, 0.45, -0.3}, {0.150, 380.0, 4.0, 0.022, 0.30, 0.4}}};
    Squelch add{0.48, 6, SlurpBody, SlurpClicks, 0.20,
                {{0.040, 300.0, 6.0, 0.020, 0.35, 0.2},
                 {0.250, 620.0, 5.0, 0.016, 0.40, -0.4},
                 {0.330, 880.0, 4.0, 0.012, 0.30, 0.5}}};
    return {{"AlienSquidge02.wav", kRate, Synthesize(remove)}, {"AlienSquidge06.wav", kRate, Synthesize(add)}};
}

}  // namespace mediagen
