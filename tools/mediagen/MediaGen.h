#pragma once
// The media generator: makes the game's pictures and sounds, bit for bit the same on
// every run. Usage: mediagen <output folder>
#include <cstdint>
#include <string>
#include <vector>

#include "Raster.h"

namespace mediagen {

struct PictureFile {
    std::string name;
    Picture picture;
};

struct SoundFile {
    std::string name;
    int rate;                      // frames per second
    std::vector<int16_t> samples;  // interleaved left, right
};

/// blob, ghostblob, goo, ghostgoo, del and the logo.
std::vector<PictureFile> MakePictures();
/// The two squelches.
std::vector<SoundFile> MakeSounds();

}  // namespace mediagen
