// Zone files (.plz) for the gelsim tool: the records as JSON and back.
//
// The quad tree is shown as its node records in file order, [posX, posY, sizeX, sizeY,
// children], depth first. A JSON file without "quadTree" gets the tree the library builds
// from the vertices, transform, style and level (what a zone made in a program would
// store), so hand-written outlines need no tree. Build writes the records as the JSON
// gives them, the picture's bytes included, so that dump then build gives back every file
// the library reads, byte for byte.
#include <filesystem>

#include "Formats.h"
#include "gelsim/io/SafeFile.h"
#include "gelsim/io/StreamIO.h"
#include "gelsim/zones/ZoneFile.h"

namespace kin::gelsim::cli {
namespace {

// ---------------------------------------------------------------------------------------
// Reading the file

struct Parsed {
    TZoneFileData data;
    int64_t trailing = 0;  // bytes after the last item
};

Parsed ParseFile(const std::string& path) {
    Parsed p;
    const auto read = [&p](TStream& s, const std::string& base) { return ReadZoneFile(s, p.data, base); };
    p.trailing = ReadFormatFile(path, "zone", read);
    return p;
}

const char* StyleName(int32_t style) {
    static const char* names[] = {"LINE", "LOOP", "FILL", "HOLE"};
    return style >= 0 && style < 4 ? names[style] : "no style";
}

// ---------------------------------------------------------------------------------------
// Dump

void TreeRows(const TQuadTree& t, Json& rows) {
    rows.push_back({FloatToJson(t.posX), FloatToJson(t.posY), FloatToJson(t.sizeX), FloatToJson(t.sizeY),
                    t.childList.Count()});
    for (TObject* o : t.childList) TreeRows(*static_cast<const TQuadTree*>(o), rows);
}

Json Pair(float a, float b) { return Json::array({FloatToJson(a), FloatToJson(b)}); }

Json Dump(const std::string& path, const DumpOptions& options) {
    const Parsed p = ParseFile(path);
    const TZoneFileData& d = p.data;
    Json j;
    j["kind"] = "zone";
    j["tag"] = BytesToText(d.tag);
    j["version"] = d.version;
    j["name"] = BytesToText(d.name);
    if (!d.nameLine.empty()) j["nameLine"] = BytesToText(d.nameLine);
    Json coords = Json::array();
    for (float c : d.coords) coords.push_back(FloatToJson(c));
    j["coordinates"] = std::move(coords);
    j["style"] = d.style;
    j["friction"] = FloatToJson(d.friction);
    j["offset"] = Pair(d.offsetX, d.offsetY);
    j["angle"] = FloatToJson(d.angle);
    j["scale"] = Pair(d.scaleX, d.scaleY);
    j["color"] = Json::array({FloatToJson(d.red), FloatToJson(d.green), FloatToJson(d.blue)});
    j["alpha"] = FloatToJson(d.alpha);
    j["blend"] = d.blend;
    j["colGroup"] = d.colGroup;
    j["qtLevel"] = d.qtLevel;
    j["imageScale"] = Pair(d.imgScaleX, d.imgScaleY);
    Json rows = Json::array();
    if (d.quadTree) TreeRows(*d.quadTree, rows);
    j["quadTree"] = std::move(rows);

    if (d.hasImage == 0) {
        j["image"] = nullptr;
    } else {
        Json im = {{"mask", {d.maskR, d.maskG, d.maskB}},
                   {"flags", d.flags},
                   {"handle", Pair(d.handleX, d.handleY)},
                   {"embedded", d.embedded}};
        if (d.hasImage != 1) im["hasImage"] = d.hasImage;
        if (Ref<TPixmap> pm = DecodePicture(d.png, d.file)) {
            im["width"] = pm->Width();
            im["height"] = pm->Height();
        } else {
            im["decodable"] = false;
        }
        std::string extracted;
        if (!options.extractDir.empty()) {
            const std::vector<uint8_t> bytes =
                !d.png.empty() ? d.png : (IsRegularFile(d.file) ? ReadFileBytes(d.file) : std::vector<uint8_t>{});
            if (!bytes.empty()) {
                const std::string stem = std::filesystem::path(StripExtension(ResolvePath(path))).filename().string();
                extracted = ResolvePath(options.extractDir + "/" + ZoneImagePath(stem));
                WriteFileBytes(extracted, bytes);
            }
        }
        if (!d.png.empty()) {
            im["pngBytes"] = d.png.size();
            if (!extracted.empty())
                im["pngFile"] = extracted;
            else
                im["png"] = Base64(d.png);
        } else {
            im["file"] = d.file;
        }
        j["image"] = std::move(im);
    }
    if (p.trailing > 0) j["trailingBytes"] = p.trailing;
    return j;
}

// ---------------------------------------------------------------------------------------
// Build

constexpr int64_t kIntMin = INT32_MIN, kIntMax = INT32_MAX;

float F(const Json& o, const char* key, float fallback) {
    auto it = o.find(key);
    return it == o.end() ? fallback : JsonToFloat(*it, std::string("zone.") + key);
}

int32_t I(const Json& o, const char* key, int32_t fallback, int64_t lo = kIntMin, int64_t hi = kIntMax) {
    auto it = o.find(key);
    return it == o.end() ? fallback : JsonToInt(*it, std::string("zone.") + key, lo, hi);
}

/// n floats from an array field, or the fallbacks when the field is absent.
std::vector<float> Floats(const Json& o, const char* key, std::vector<float> fallback) {
    auto it = o.find(key);
    if (it == o.end()) return fallback;
    const std::string at = std::string("zone.") + key;
    if (!it->is_array() || it->size() != fallback.size())
        throw ToolError(at + ": expected " + std::to_string(fallback.size()) + " numbers");
    for (size_t k = 0; k < fallback.size(); ++k) fallback[k] = JsonToFloat((*it)[k], at);
    return fallback;
}

// Rebuilds the tree from its rows in file order, without recursion, refusing what a file
// could not hold either.
Ref<TQuadTree> TreeFromRows(const Json& rows) {
    if (!rows.is_array() || rows.empty()) throw ToolError("zone.quadTree: expected node rows");
    struct Open {
        TQuadTree* node;
        int32_t missing;  // children still to come
        int32_t depth;
    };
    std::vector<Open> open;
    Ref<TQuadTree> root;
    size_t k = 0;
    for (; k < rows.size(); ++k) {
        const Json& r = rows[k];
        const std::string at = "zone.quadTree[" + std::to_string(k) + "]";
        if (!r.is_array() || r.size() != 5) throw ToolError(at + ": expected [posX, posY, sizeX, sizeY, children]");
        Ref<TQuadTree> n = MakeRef<TQuadTree>();
        n->posX = JsonToFloat(r[0], at);
        n->posY = JsonToFloat(r[1], at);
        n->sizeX = JsonToFloat(r[2], at);
        n->sizeY = JsonToFloat(r[3], at);
        const int32_t kids = JsonToInt(r[4], at, 0, 4);
        int32_t depth = 1;
        if (!root) {
            root = n;
        } else {
            Open& parent = open.back();
            parent.node->childList.AddLast(n.Get());
            --parent.missing;
            depth = parent.depth + 1;
        }
        if (depth > TQuadTree::MAX_LEVEL)
            throw ToolError(at + ": the tree is nested deeper than " + std::to_string(TQuadTree::MAX_LEVEL) + " levels");
        if (kids > 0) open.push_back({n.Get(), kids, depth});
        while (!open.empty() && open.back().missing == 0) open.pop_back();
        if (open.empty()) break;
    }
    if (!open.empty()) throw ToolError("zone.quadTree: the rows end before the tree does");
    if (k + 1 < rows.size()) throw ToolError("zone.quadTree: rows follow the end of the tree");
    return root;
}

std::string Build(const Json& j, const std::string& jsonDir, const std::string& out, size_t) {
    OnlyKeys(j, "zone", {"kind", "tag", "version", "name", "nameLine", "coordinates", "style", "friction", "offset",
                         "angle", "scale", "color", "alpha", "blend", "colGroup", "qtLevel", "imageScale", "quadTree",
                         "image", "comment", "trailingBytes"});
    TZoneFileData d;
    d.version = I(j, "version", 111, 0, 255);
    if (auto n = j.find("name"); n != j.end()) d.name = TextToBytes(*n, "zone.name");
    if (auto n = j.find("nameLine"); n != j.end()) d.nameLine = TextToBytes(*n, "zone.nameLine");
    const Json& coords = Need(j, "coordinates", "zone");
    if (!coords.is_array()) throw ToolError("zone.coordinates: expected an array of numbers");
    for (const Json& c : coords) d.coords.push_back(JsonToFloat(c, "zone.coordinates"));
    d.style = I(j, "style", TZone::LINE);
    d.friction = F(j, "friction", 0);
    const auto offset = Floats(j, "offset", {0, 0});
    d.offsetX = offset[0];
    d.offsetY = offset[1];
    d.angle = F(j, "angle", 0);
    const auto scale = Floats(j, "scale", {1, 1});
    d.scaleX = scale[0];
    d.scaleY = scale[1];
    const auto color = Floats(j, "color", {1, 1, 1});
    d.red = color[0];
    d.green = color[1];
    d.blue = color[2];
    d.alpha = F(j, "alpha", 1);
    d.blend = I(j, "blend", 1);
    d.colGroup = I(j, "colGroup", -1);
    d.qtLevel = I(j, "qtLevel", 0);
    const auto imgScale = Floats(j, "imageScale", {1, 1});
    d.imgScaleX = imgScale[0];
    d.imgScaleY = imgScale[1];
    const auto tree = j.find("quadTree");
    if (tree != j.end()) d.quadTree = TreeFromRows(*tree);

    if (auto im = j.find("image"); im != j.end() && !im->is_null()) {
        OnlyKeys(*im, "zone.image", {"mask", "flags", "handle", "embedded", "hasImage", "width", "height", "decodable",
                                     "pngBytes", "png", "pngFile", "file"});
        d.hasImage = im->contains("hasImage") ? JsonToInt((*im)["hasImage"], "zone.image.hasImage", 1, 255) : 1;
        if (auto m = im->find("mask"); m != im->end()) {
            if (!m->is_array() || m->size() != 3) throw ToolError("zone.image.mask: expected [red, green, blue]");
            d.maskR = JsonToInt((*m)[0], "zone.image.mask", 0, 255);
            d.maskG = JsonToInt((*m)[1], "zone.image.mask", 0, 255);
            d.maskB = JsonToInt((*m)[2], "zone.image.mask", 0, 255);
        }
        d.flags = im->contains("flags") ? JsonToInt((*im)["flags"], "zone.image.flags", 0, 255) : 6;
        if (auto h = im->find("handle"); h != im->end()) {
            if (!h->is_array() || h->size() != 2) throw ToolError("zone.image.handle: expected [x, y]");
            d.handleX = JsonToFloat((*h)[0], "zone.image.handle");
            d.handleY = JsonToFloat((*h)[1], "zone.image.handle");
        }
        d.embedded = im->contains("embedded") ? JsonToInt((*im)["embedded"], "zone.image.embedded", 0, 255) : 1;
        auto local = [&](const std::string& p) {
            return std::filesystem::path(p).is_absolute() ? p : ResolvePath(jsonDir + "/" + p);
        };
        if (auto png = im->find("png"); png != im->end()) {
            if (!png->is_string()) throw ToolError("zone.image.png: expected base64 text");
            d.png = FromBase64(png->get<std::string>(), "zone.image.png");
        } else if (auto pf = im->find("pngFile"); pf != im->end()) {
            d.png = ReadFileBytes(local(TextToBytes(*pf, "zone.image.pngFile")));
        } else if (auto f = im->find("file"); f != im->end()) {
            d.file = local(TextToBytes(*f, "zone.image.file"));
        } else {
            throw ToolError("zone.image: needs \"png\", \"pngFile\" or \"file\"");
        }
    }

    // The library checks the records and decodes the picture; what is written is the
    // records as given (the library's own saver would write its normal form: the byte 111,
    // the name + CR LF, has-image 1, groups below -1 as -1, the picture encoded afresh).
    ValidateZoneFile(d);
    Ref<TZone> zone = BuildZone(d, TZoneBuild::EXACT);
    if (!d.quadTree) {
        zone->CalcQuadTree(zone->qtLevel);
        d.quadTree = zone->quadTree;
    }
    if (d.hasImage != 0 && d.png.empty()) d.png = ReadFileBytes(d.file);
    {
        // Nothing may follow the picture: the file must read back whole.
        TBankStream written;
        WriteZoneFile(written, d);
        TBankStream back(written.Bytes());
        TZoneFileData again;
        ReadZoneFile(back, again, "");
        if (!back.Eof())
            throw ToolError("zone.image: " + std::to_string(back.Size() - back.Pos()) +
                            " bytes follow the end of the picture");
    }
    SaveZoneFile(out, d, false);
    return CompletePath(ResolvePath(out), ".plz");
}

// ---------------------------------------------------------------------------------------
// Check

std::string Check(const std::string& path) {
    const Parsed p = ParseFile(path);
    const TZoneFileData& d = p.data;
    if (p.trailing > 0) throw ToolError(std::to_string(p.trailing) + " bytes follow the end of the zone");
    if (d.hasImage != 0 && !DecodePicture(d.png, d.file))
        throw ToolError((d.png.empty() ? "the picture " : "") + PictureFault(d.png, d.file));
    // The stored tree is used as it is; say whether it is the one the vertices give.
    Ref<TZone> z = BuildZone(d, TZoneBuild::LOAD);
    const Ref<TQuadTree> stored = z->quadTree;
    z->CalcQuadTree(z->qtLevel);
    const bool asBuilt = stored && z->quadTree ? stored->SameAs(*z->quadTree) : stored == z->quadTree;
    return "zone \"" + BytesToText(d.name) + "\", " + StyleName(d.style) + ", " +
           std::to_string(d.coords.size() / 2) + " vertices, group " + std::to_string(d.colGroup) + ", quad tree of " +
           std::to_string(stored ? stored->NodeCount() : 0) + " nodes at level " + std::to_string(d.qtLevel) +
           (asBuilt ? " (as the vertices give it)" : " (differs from the one the vertices give)") +
           (d.hasImage == 0 ? ", no image" : d.embedded ? ", image embedded" : ", image beside the file");
}

bool Recognises(const std::string& tag) { return tag == "ZONE"; }

const FileFormat kZone = {"zone", ".plz", Recognises, Dump, Build, Check};

}  // namespace

const FileFormat& ZoneFormat() { return kZone; }

}  // namespace kin::gelsim::cli
