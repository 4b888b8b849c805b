// The library and the game reach the window system, images and fonts only through the
// platform's own interface headers, and the folders include one another only along the
// edges named below.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Include {
    fs::path file;     // the including file
    int line;          // its line number there
    std::string text;  // the whole line
    bool quoted;       // "name" rather than <name>
    std::string name;  // what it includes
};

// Every #include line of the C++ files under dir.
std::vector<Include> IncludesUnder(const fs::path& dir) {
    static const std::regex include(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    std::vector<Include> found;
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
            if (std::regex_search(line, m, include))
                found.push_back({entry.path(), number, line, m[1].str() == "\"", m[2].str()});
        }
    }
    return found;
}

std::vector<std::string> ForeignIncludes(const fs::path& dir) {
    static const std::regex foreign(R"((^|/)(SDL[^/]*|png|pngconf|zlib|ft2build|freetype/.*)\.h$)");
    std::vector<std::string> hits;
    for (const Include& inc : IncludesUnder(dir))
        if (std::regex_search(inc.name, foreign))
            hits.push_back(inc.file.string() + ":" + std::to_string(inc.line) + ": " + inc.text);
    return hits;
}

// The folders whose includes are checked, and the other folders each may include. A
// folder may always include its own headers; an include that leads anywhere else is a
// fault. Library folders are listed from the bottom up.
const std::map<std::string, std::set<std::string>>& AllowedEdges() {
    static const std::map<std::string, std::set<std::string>> edges = {
        {"platform", {}},
        {"media", {"platform"}},
        {"gelsim/core", {"platform"}},
        {"gelsim/io", {"platform"}},
        {"gelsim/zones", {"gelsim/core", "gelsim/io", "platform"}},
        {"gelsim/bodies", {"gelsim/core", "gelsim/io", "gelsim/zones", "platform"}},
        {"gelsim/state", {"gelsim/core", "gelsim/io", "gelsim/zones", "gelsim/bodies", "platform"}},
        {"gelsim/picture", {"gelsim/core", "gelsim/zones", "gelsim/bodies", "platform"}},
        {"app", {"gelsim/core", "gelsim/zones", "gelsim/bodies", "gelsim/state", "platform", "media"}},
        {"tools", {"app", "scenes", "gelsim/core", "gelsim/io", "gelsim/zones", "gelsim/bodies", "gelsim/state", "platform",
                   "media"}},
        {"fuzz", {"tools", "gelsim/core", "gelsim/io", "gelsim/zones", "gelsim/bodies", "gelsim/state", "gelsim/capi",
                  "platform"}},
        {"scenes", {"gelsim/core", "gelsim/zones", "gelsim/bodies", "platform"}},
        {"bench", {"app", "media", "scenes", "tools", "gelsim/core", "gelsim/io", "gelsim/zones", "gelsim/bodies",
                   "gelsim/state", "platform"}},
        {"python", {"scenes", "gelsim/core", "gelsim/io", "gelsim/zones", "gelsim/bodies", "gelsim/state",
                    "gelsim/picture", "platform"}},
    };
    return edges;
}

// The one folder allowed into another's internal headers: a world's state reads and writes
// the core's grid order and table membership, which nothing outside the core may see.
bool MayReachInto(const std::string& from, const std::string& to) { return from == "gelsim/state" && to == "gelsim/core"; }

// The folder a file belongs to: the first path component, or the first two under gelsim/.
std::string FolderOf(const fs::path& relative) {
    auto it = relative.begin();
    if (it == relative.end()) return {};
    std::string folder = it->string();
    if (folder == "gelsim" && ++it != relative.end() && std::next(it) != relative.end())
        folder.append("/").append(it->string());
    return folder;
}

// Where a quoted include leads: beside the including file, from the root, or from one of
// the extra include folders the build adds (the gelsim tool's formats for the fuzz targets).
std::optional<fs::path> Resolve(const fs::path& root, const fs::path& file, const std::string& name) {
    for (const fs::path& base : {file.parent_path(), root, root / "tools" / "gelsim-cli"}) {
        const fs::path candidate = base / name;
        if (fs::is_regular_file(candidate))
            return fs::relative(fs::weakly_canonical(candidate), fs::weakly_canonical(root));
    }
    return std::nullopt;
}

// Every include under `dir` that crosses an edge the table does not name, leads into
// another folder's detail/ headers, or names a project header that does not exist.
std::vector<std::string> StrayIncludes(const fs::path& root, const fs::path& dir) {
    const auto& edges = AllowedEdges();
    std::vector<std::string> hits;
    for (const Include& inc : IncludesUnder(dir)) {
        if (!inc.quoted) continue;
        const fs::path relative = fs::relative(inc.file, root);
        const std::string where = relative.string() + ":" + std::to_string(inc.line) + ": ";
        const std::string from = FolderOf(relative);
        const auto allowed = edges.find(from);
        const auto target = Resolve(root, inc.file, inc.name);
        if (!target) {
            hits.push_back(where + "no such project header: " + inc.name);
            continue;
        }
        const std::string to = FolderOf(*target);
        if (allowed == edges.end()) {
            hits.push_back(where + "folder " + from + " is not in the table");
        } else if (to != from && !allowed->second.count(to)) {
            hits.push_back(where + from + " -> " + to + " is not an allowed edge");
        } else if (to != from && target->string().find("/detail/") != std::string::npos && !MayReachInto(from, to)) {
            hits.push_back(where + "reaches into " + to + "'s internal headers");
        }
    }
    return hits;
}

std::string Lines(const std::vector<std::string>& hits) {
    std::string all;
    for (const auto& h : hits) all += h + "\n";
    return all;
}

}  // namespace

TEST(Layering, FoldersIncludeOnlyAlongAllowedEdges) {
    const fs::path root = SOURCE_ROOT;
    for (const auto& [folder, targets] : AllowedEdges()) {
        (void)targets;
        ASSERT_TRUE(fs::is_directory(root / folder)) << folder;
        const auto hits = StrayIncludes(root, root / folder);
        EXPECT_TRUE(hits.empty()) << Lines(hits);
    }
}

TEST(Layering, EdgeCheckSeesStrayIncludes) {
    // Guard against a check that silently passes everything: a core file that includes a
    // zone header, another folder's internals and a header that is not there.
    const fs::path root = fs::temp_directory_path() / "gelsim_layering_edges";
    fs::remove_all(root);
    fs::create_directories(root / "gelsim/core");
    fs::create_directories(root / "gelsim/zones");
    fs::create_directories(root / "platform/detail");
    std::ofstream(root / "gelsim/zones/Zone.h") << "#pragma once\n";
    std::ofstream(root / "platform/List.h") << "#pragma once\n";
    std::ofstream(root / "platform/detail/Backend.h") << "#pragma once\n";
    std::ofstream(root / "gelsim/core/Probe.cpp")
        << "#include \"platform/List.h\"\n#include \"gelsim/zones/Zone.h\"\n"
           "#include \"platform/detail/Backend.h\"\n#include \"gelsim/core/Missing.h\"\n";
    EXPECT_EQ(StrayIncludes(root, root / "gelsim/core").size(), 3u) << Lines(StrayIncludes(root, root / "gelsim/core"));
    EXPECT_TRUE(StrayIncludes(root, root / "gelsim/zones").empty());
    fs::remove_all(root);
}

TEST(Layering, LibraryAndGameIncludeNoPlatformLibraryHeaders) {
    const fs::path root = SOURCE_ROOT;
    for (const char* dir : {"gelsim", "app", "tools/testbed"}) {
        ASSERT_TRUE(fs::is_directory(root / dir)) << dir;
        const auto hits = ForeignIncludes(root / dir);
        EXPECT_TRUE(hits.empty()) << Lines(hits);
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
