// Writes the seed corpora of the fuzz targets, every file made by the library's own savers
// (or, for the simulation, plain bytes): fuzz-seeds FOLDER writes FOLDER/<target>/...
// The output is the same on every run; the files in fuzz/corpus were made with it.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Formats.h"
#include "gelsim/bodies/AdvBody.h"
#include "gelsim/bodies/BodyFile.h"
#include "gelsim/core/Physics.h"
#include "gelsim/state/WorldState.h"
#include "gelsim/zones/QuadTree.h"
#include "gelsim/zones/Zone.h"
#include "gelsim/zones/ZoneFile.h"
#include "platform/Image.h"
#include "platform/Png.h"
#include "platform/Stream.h"

using namespace kin;
using namespace kin::gelsim;
namespace fs = std::filesystem;

namespace {

fs::path gRoot;

void Put(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    fs::create_directories(gRoot / target);
    std::ofstream(gRoot / target / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Ref<TPixmap> Picture(int32_t w, int32_t h, uint32_t seed, bool opaque) {
    auto pm = MakeRef<TPixmap>(w, h);
    uint32_t s = seed;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            s = s * 1664525u + 1013904223u;
            pm->SetPixel(x, y, (s & 0xFFFFFF00u) | (opaque ? 0xFFu : (s >> 24)));
        }
    return pm;
}

std::vector<uint8_t> Png(const TPixmap& pm, int level) {
    TBankStream bank;
    SavePixmapPNG(pm, bank, level);
    return bank.Bytes();
}

Ref<TAdvBody> SeedBody(bool withImage) {
    Ref<TAdvBody> b = TAdvBody::Create();
    b->SetName("Seed");
    for (int32_t i = 0; i < 4; ++i) b->MassAdd(10.0f + 20.0f * float(i), 50.0f, 1.0f, 5.0f, 0.5f, i < 2 ? -5 : 3);
    b->MassRemove(2);  // a hole in the table
    b->ConAdd(0, 1, -1.0f, 0.5f);
    b->ConAdd(1, 3, 25.0f, 0.8f);
    if (withImage) {
        Ref<TImage> img = LoadImage(Picture(3, 2, 7, false).Get(), MASKEDIMAGE | FILTEREDIMAGE);
        b->ImageAdd(img.Get());
        b->RigAdd(0, 1, 0, 30.0f);
    }
    return b;
}

std::vector<uint8_t> BodyBytes(const TAdvBody& b, int32_t embed) {
    TBankStream bank;
    WriteBodyFile(bank, CollectBody(b, embed));
    return bank.Bytes();
}

std::vector<uint8_t> ZoneBytes(const TZone& z, int32_t embed) {
    TBankStream bank;
    WriteZoneFile(bank, CollectZone(z, embed));
    return bank.Bytes();
}

const std::vector<float> kSquare = {0, 0, 10, 0, 10, 10, 0, 10};

// The tool's JSON for a file written by the library: what "gelsim dump" prints.
std::vector<uint8_t> Dumped(const cli::FileFormat& fmt, const std::vector<uint8_t>& bytes, const char* ext) {
    const fs::path file = fs::temp_directory_path() / (std::string("gelsim-seed") + ext);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::string text = fmt.Dump(file.string(), cli::DumpOptions{}).dump(1) + "\n";
    fs::remove(file);
    return {text.begin(), text.end()};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: fuzz-seeds FOLDER\n", stderr);
        return 2;
    }
    gRoot = argv[1];
    Ref<TPhysics> world = TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, 1);

    Put("png", "noise-4x4-level9.png", Png(*Picture(4, 4, 1, false), 9));
    Put("png", "noise-16x8-level5.png", Png(*Picture(16, 8, 2, false), 5));
    Put("png", "opaque-7x3-level0.png", Png(*Picture(7, 3, 3, true), 0));

    Ref<TAdvBody> plain = SeedBody(false), pictured = SeedBody(true);
    Put("body", "empty.plb", BodyBytes(*TAdvBody::Create(), 0));
    Put("body", "masses-and-constraints.plb", BodyBytes(*plain, 0));
    Put("body", "embedded-picture.plb", BodyBytes(*pictured, 1));
    Put("body", "separate-picture.plb", BodyBytes(*pictured, 0));

    std::vector<Ref<TZone>> zones;
    for (int32_t style : {TZone::LINE, TZone::LOOP, TZone::FILL, TZone::HOLE})
        zones.push_back(TZone::Create(kSquare, style, 0.5f, 3, 3));
    const char* names[] = {"line", "loop", "fill", "hole"};
    for (size_t i = 0; i < zones.size(); ++i) Put("zone", std::string(names[i]) + ".plz", ZoneBytes(*zones[i], 0));
    zones[2]->ImageSet(LoadImage(Picture(4, 3, 9, true).Get(), FILTEREDIMAGE).Get());
    Put("zone", "fill-embedded-picture.plz", ZoneBytes(*zones[2], 1));

    for (size_t i = 0; i < zones.size(); ++i) {
        TBankStream bank;
        zones[i]->quadTree->Write(bank);
        Put("quadtree", std::string(names[i]) + "-level3.qt", bank.Bytes());
    }

    Put("tool-build", "body.json", Dumped(cli::BodyFormat(), BodyBytes(*pictured, 1), ".plb"));
    Put("tool-build", "zone.json", Dumped(cli::ZoneFormat(), ZoneBytes(*zones[2], 1), ".plz"));

    uint32_t s = 2024;
    for (size_t n : {32u, 128u, 512u, 2048u}) {
        std::vector<uint8_t> bytes(n);
        for (auto& b : bytes) s = s * 1103515245u + 12345u, b = uint8_t(s >> 16);
        Put("sim", "random-" + std::to_string(n), bytes);
    }
    Put("sim", "zeros-256", std::vector<uint8_t>(256, 0));

    // World states: the bodies and zones above (one body simulated), loose masses of group
    // 0 and of two groups, a few steps; with zones, and with references to them.
    plain->Activate();
    std::vector<Ref<TMass>> loose;
    for (int32_t k = 0; k < 12; ++k) {
        loose.push_back(TMass::Create(100.0f + 7.0f * float(k % 4), 200.0f + 7.0f * float(k / 4), 1.0f, 4.0f, 0.3f,
                                      k % 3 == 0 ? 0 : 1 + k % 2));
        loose.back()->AddRef();
    }
    loose[5]->SubRef();  // a free entry
    TPhysics::UseShiftedGrid(1);
    TPhysics::SetGridSize(64);
    for (int32_t s = 0; s < 5; ++s) TPhysics::Update();
    Put("state", "bodies-zones-masses.gws", SaveState(*world));
    Put("state", "zones-by-reference.gws", SaveState(*world, false));
    {
        Ref<TPhysics> empty = TPhysics::Create(1024.0f, 4096.0f, 0.1f, 0.0f, 1);
        Put("state", "empty.gws", SaveState(*empty));
        TPhysics::SetCurrent(world.Get());
    }

    for (auto& z : zones) z->Free();
    TPhysics::Free();
    std::printf("seeds written to %s\n", gRoot.c_str());
    return 0;
}
