// The library and the game reach the window system, images and fonts only through the
// platform's own interface headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> ForeignIncludes(const fs::path& dir) {
    static const std::regex include(R"(^\s*#\s*include\s*[<"]([^>"]+)[>"])");
    static const std::regex foreign(R"((^|/)(SDL[^/]*|png|pngconf|zlib|ft2build|freetype/.*)\.h$)");
    std::vector<std::string> hits;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const auto ext = entry.path().extension();
        if (ext != ".h" && ext != ".cpp") continue;
        std::ifstream in(entry.path());
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            std::smatch m;
            if (std::regex_search(line, m, include) && std::regex_search(m[1].str(), foreign))
                hits.push_back(entry.path().string() + ":" + std::to_string(number) + ": " + line);
        }
    }
    return hits;
}

}  // namespace

TEST(Layering, LibraryAndGameIncludeNoPlatformLibraryHeaders) {
    const fs::path root = SOURCE_ROOT;
    for (const char* dir : {"gelsim", "app"}) {
        ASSERT_TRUE(fs::is_directory(root / dir)) << dir;
        const auto hits = ForeignIncludes(root / dir);
        EXPECT_TRUE(hits.empty()) << [&] {
            std::string all;
            for (const auto& h : hits) all += h + "\n";
            return all;
        }();
    }
}

TEST(Layering, DetectorSeesForeignIncludes) {
    // Guard against a detector that silently matches nothing.
    const fs::path dir = fs::temp_directory_path() / "gelsim_layering_probe";
    fs::create_directories(dir);
    std::ofstream(dir / "probe.cpp") << "#include <SDL.h>\n#include \"png.h\"\n#include <ft2build.h>\n"
                                        "#include \"platform/Graphics.h\"\n";
    EXPECT_EQ(ForeignIncludes(dir).size(), 3u);
    fs::remove_all(dir);
}
