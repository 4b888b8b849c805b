// Writes the generated media into a folder: PNG pictures (8-bit RGBA, zlib level 9) and
// WAV sounds (PCM 16-bit stereo). Nothing in the output depends on time or environment.
#include <png.h>

#include <cstdio>
#include <string>

#include "MediaGen.h"

namespace {

bool WritePng(const std::string& path, const mediagen::Picture& pic) {
    std::vector<uint8_t> rgba = mediagen::ToRgba8(pic);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, png_uint_32(pic.w), png_uint_32(pic.h), 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < pic.h; ++y) png_write_row(png, rgba.data() + size_t(y) * size_t(pic.w) * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

bool WriteWav(const std::string& path, const mediagen::SoundFile& s) {
    const uint32_t dataBytes = uint32_t(s.samples.size() * 2);
    std::vector<uint8_t> b;
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    Put32(b, 36 + dataBytes);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(b, 16);
    Put16(b, 1);                        // PCM
    Put16(b, 2);                        // stereo
    Put32(b, uint32_t(s.rate));
    Put32(b, uint32_t(s.rate) * 4);     // bytes per second
    Put16(b, 4);                        // bytes per frame
    Put16(b, 16);                       // bits per sample
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    Put32(b, dataBytes);
    for (int16_t v : s.samples) Put16(b, uint16_t(v));
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    if (!dir.empty() && dir.back() != '/') dir += '/';
    int failures = 0;
    for (const auto& p : mediagen::MakePictures()) {
        bool ok = WritePng(dir + p.name, p.picture);
        std::printf("%s %s\n", ok ? "wrote" : "FAILED", (dir + p.name).c_str());
        failures += !ok;
    }
    for (const auto& s : mediagen::MakeSounds()) {
        bool ok = WriteWav(dir + s.name, s);
        std::printf("%s %s\n", ok ? "wrote" : "FAILED", (dir + s.name).c_str());
        failures += !ok;
    }
    return failures ? 1 : 0;
}
