// Body files (.plb) for the gelsim tool: the records as JSON and back.
#include <algorithm>
#include <filesystem>

#include "Formats.h"
#include "gelsim/bodies/BodyFile.h"
#include "gelsim/io/SafeFile.h"
#include "gelsim/io/StreamIO.h"

namespace kin::gelsim::cli {
namespace {

// ---------------------------------------------------------------------------------------
// Reading the file

struct Parsed {
    TBodyFileData data;
    int64_t trailing = 0;  // bytes after the last end mark
};

Parsed ParseFile(const std::string& path) {
    Parsed p;
    const auto read = [&p](TStream& s, const std::string& base) { return ReadBodyFile(s, p.data, base); };
    p.trailing = ReadFormatFile(path, "body", read);
    return p;
}

// ---------------------------------------------------------------------------------------
// Dump

// The table's count, its holes and its records. A hole is told as its index, a run of two
// or more as [first, last]: a count of a billion over a few records stays a short list.
template <class Records>
Json Table(int32_t count, const Records& records, Json&& rows) {
    std::vector<int32_t> present;
    present.reserve(records.size());
    for (const auto& r : records)
        if (r.index >= 0 && r.index < count) present.push_back(r.index);
    std::sort(present.begin(), present.end());
    Json holes = Json::array();
    auto gap = [&](int64_t first, int64_t last) {
        if (first == last)
            holes.push_back(first);
        else if (first < last)
            holes.push_back({first, last});
    };
    int64_t next = 0;
    for (int32_t i : present) {
        gap(next, int64_t(i) - 1);
        next = int64_t(i) + 1;
    }
    gap(next, int64_t(count) - 1);
    Json t;
    t["count"] = count;
    t["holes"] = std::move(holes);
    t["records"] = std::move(rows);
    return t;
}

Json Dump(const std::string& path, const DumpOptions& options) {
    const Parsed p = ParseFile(path);
    const TBodyFileData& d = p.data;
    Json j;
    j["kind"] = "body";
    j["tag"] = BytesToText(d.tag);
    j["version"] = d.version;
    j["name"] = BytesToText(d.name);

    Json masses = Json::array();
    for (const auto& m : d.masses)
        masses.push_back({{"index", m.index}, {"x", FloatToJson(m.x)}, {"y", FloatToJson(m.y)},
                          {"mass", FloatToJson(m.mass)}, {"radius", FloatToJson(m.radius)},
                          {"friction", FloatToJson(m.friction)}, {"colGroup", m.colGroup},
                          {"name", BytesToText(m.name)}, {"frozen", m.frozen}, {"vx", FloatToJson(m.vx)},
                          {"vy", FloatToJson(m.vy)}});
    j["masses"] = Table(d.massCount, d.masses, std::move(masses));

    Json cons = Json::array();
    for (const auto& c : d.cons)
        cons.push_back({{"index", c.index}, {"mass1", c.mass1}, {"mass2", c.mass2},
                        {"restLength", FloatToJson(c.restLength)}, {"stiffness", FloatToJson(c.stiffness)},
                        {"name", BytesToText(c.name)}});
    j["constraints"] = Table(d.conCount, d.cons, std::move(cons));

    j["imagesEmbedded"] = d.hasEmbeddedByte ? Json(d.imagesEmbedded) : Json(nullptr);
    Json images = Json::array();
    const std::string stem = std::filesystem::path(StripExtension(ResolvePath(path))).filename().string();
    for (const auto& im : d.images) {
        Json r = {{"index", im.index},
                  {"mask", {im.maskR, im.maskG, im.maskB}},
                  {"flags", im.flags},
                  {"handle", {FloatToJson(im.handleX), FloatToJson(im.handleY)}}};
        if (Ref<TPixmap> pm = DecodePicture(im.png, im.file)) {
            r["width"] = pm->Width();
            r["height"] = pm->Height();
        } else {
            r["decodable"] = false;
        }
        std::string extracted;
        if (!options.extractDir.empty()) {
            const std::vector<uint8_t> bytes =
                !im.png.empty() ? im.png : (IsRegularFile(im.file) ? ReadFileBytes(im.file) : std::vector<uint8_t>{});
            if (!bytes.empty()) {
                extracted = ResolvePath(options.extractDir + "/" + SeparateImagePath(stem, im.index));
                WriteFileBytes(extracted, bytes);
            }
        }
        if (!im.png.empty()) {
            r["pngBytes"] = im.png.size();
            if (!extracted.empty())
                r["pngFile"] = extracted;
            else
                r["png"] = Base64(im.png);
        } else {
            r["file"] = im.file;
        }
        images.push_back(std::move(r));
    }
    j["images"] = Table(d.imageCount, d.images, std::move(images));

    Json rigs = Json::array();
    for (const auto& r : d.rigs) {
        Json o = {{"index", r.index}, {"image", r.image}, {"mass", r.mass}, {"constraint", r.con},
                  {"angle", FloatToJson(r.angle)}};
        if (d.version >= 110) {
            o["scale"] = {FloatToJson(r.scaleX), FloatToJson(r.scaleY)};
            o["color"] = {r.red, r.green, r.blue};
            o["alpha"] = FloatToJson(r.alpha);
            o["blend"] = r.blend;
        }
        o["name"] = BytesToText(r.name);
        rigs.push_back(std::move(o));
    }
    j["rigs"] = Table(d.rigCount, d.rigs, std::move(rigs));
    if (p.trailing > 0) j["trailingBytes"] = p.trailing;
    return j;
}

// ---------------------------------------------------------------------------------------
// Build

constexpr int64_t kIntMin = INT32_MIN, kIntMax = INT32_MAX;

float F(const Json& o, const char* key, const std::string& at, float fallback, bool required) {
    auto it = o.find(key);
    if (it == o.end()) {
        if (required) throw ToolError(at + ": missing field \"" + key + "\"");
        return fallback;
    }
    return JsonToFloat(*it, at + "." + key);
}

int32_t I(const Json& o, const char* key, const std::string& at, int32_t fallback, bool required, int64_t lo = kIntMin,
          int64_t hi = kIntMax) {
    auto it = o.find(key);
    if (it == o.end()) {
        if (required) throw ToolError(at + ": missing field \"" + key + "\"");
        return fallback;
    }
    return JsonToInt(*it, at + "." + key, lo, hi);
}

std::string S(const Json& o, const char* key, const std::string& at, const char* fallback) {
    auto it = o.find(key);
    return it == o.end() ? std::string(fallback) : TextToBytes(*it, at + "." + key);
}

/// count and records of a table; holes are informational.
const Json& Records(const Json& j, const char* table, int32_t& count) {
    const std::string at = table;
    auto it = j.find(table);
    if (it == j.end()) {
        static const Json kEmpty = {{"count", 0}, {"records", Json::array()}};
        count = 0;
        return kEmpty["records"];
    }
    OnlyKeys(*it, at, {"count", "holes", "records"});
    count = I(*it, "count", at, 0, true, 0, kIntMax);
    const Json& rows = Need(*it, "records", at);
    if (!rows.is_array()) throw ToolError(at + ".records: expected an array");
    return rows;
}

std::string CheckRecords(const TBodyFileData& d);

std::string Build(const Json& j, const std::string& jsonDir, const std::string& out, size_t) {
    OnlyKeys(j, "body", {"kind", "tag", "version", "name", "masses", "constraints", "imagesEmbedded", "images", "rigs",
                         "comment", "trailingBytes"});
    TBodyFileData d;
    d.name = S(j, "name", "body", "Body");

    for (const Json& r : Records(j, "masses", d.massCount)) {
        const std::string at = "masses[" + (r.contains("index") ? r["index"].dump() : "?") + "]";
        OnlyKeys(r, at, {"index", "x", "y", "mass", "radius", "friction", "colGroup", "name", "frozen", "vx", "vy"});
        TBodyFileMass m;
        m.index = I(r, "index", at, 0, true);
        m.x = F(r, "x", at, 0, true);
        m.y = F(r, "y", at, 0, true);
        m.mass = F(r, "mass", at, 0, true);
        m.radius = F(r, "radius", at, 0, true);
        m.friction = F(r, "friction", at, 0, true);
        m.colGroup = I(r, "colGroup", at, 0, true);
        m.name = S(r, "name", at, "Mass");
        m.frozen = I(r, "frozen", at, 0, false, 0, 255);
        m.vx = F(r, "vx", at, 0, false);
        m.vy = F(r, "vy", at, 0, false);
        d.masses.push_back(std::move(m));
    }
    for (const Json& r : Records(j, "constraints", d.conCount)) {
        const std::string at = "constraints[" + (r.contains("index") ? r["index"].dump() : "?") + "]";
        OnlyKeys(r, at, {"index", "mass1", "mass2", "restLength", "stiffness", "name"});
        TBodyFileCon c;
        c.index = I(r, "index", at, 0, true);
        c.mass1 = I(r, "mass1", at, 0, true);
        c.mass2 = I(r, "mass2", at, 0, true);
        c.restLength = F(r, "restLength", at, 0, true);
        c.stiffness = F(r, "stiffness", at, 0, true);
        c.name = S(r, "name", at, "Con");
        d.cons.push_back(std::move(c));
    }
    const auto emb = j.find("imagesEmbedded");
    d.imagesEmbedded = emb == j.end() || emb->is_null() ? 0 : JsonToInt(*emb, "imagesEmbedded", 0, 255);
    for (const Json& r : Records(j, "images", d.imageCount)) {
        const std::string at = "images[" + (r.contains("index") ? r["index"].dump() : "?") + "]";
        OnlyKeys(r, at, {"index", "mask", "flags", "handle", "width", "height", "decodable", "pngBytes", "png",
                         "pngFile", "file"});
        TBodyFileImage im;
        im.index = I(r, "index", at, 0, true);
        if (auto m = r.find("mask"); m != r.end()) {
            if (!m->is_array() || m->size() != 3) throw ToolError(at + ".mask: expected [red, green, blue]");
            im.maskR = JsonToInt((*m)[0], at + ".mask", 0, 255);
            im.maskG = JsonToInt((*m)[1], at + ".mask", 0, 255);
            im.maskB = JsonToInt((*m)[2], at + ".mask", 0, 255);
        }
        im.flags = I(r, "flags", at, 6, false, 0, 255);
        if (auto h = r.find("handle"); h != r.end()) {
            if (!h->is_array() || h->size() != 2) throw ToolError(at + ".handle: expected [x, y]");
            im.handleX = JsonToFloat((*h)[0], at + ".handle");
            im.handleY = JsonToFloat((*h)[1], at + ".handle");
        }
        auto local = [&](const std::string& p) {
            return std::filesystem::path(p).is_absolute() ? p : ResolvePath(jsonDir + "/" + p);
        };
        if (auto png = r.find("png"); png != r.end()) {
            if (!png->is_string()) throw ToolError(at + ".png: expected base64 text");
            im.png = FromBase64(png->get<std::string>(), at + ".png");
        } else if (auto pf = r.find("pngFile"); pf != r.end()) {
            im.png = ReadFileBytes(local(TextToBytes(*pf, at + ".pngFile")));
        } else if (auto f = r.find("file"); f != r.end()) {
            im.file = local(TextToBytes(*f, at + ".file"));
        } else {
            throw ToolError(at + ": needs \"png\", \"pngFile\" or \"file\"");
        }
        d.images.push_back(std::move(im));
    }
    for (const Json& r : Records(j, "rigs", d.rigCount)) {
        const std::string at = "rigs[" + (r.contains("index") ? r["index"].dump() : "?") + "]";
        OnlyKeys(r, at, {"index", "image", "mass", "constraint", "angle", "scale", "color", "alpha", "blend", "name"});
        TBodyFileRig g;
        g.index = I(r, "index", at, 0, true);
        g.image = I(r, "image", at, 0, true);
        g.mass = I(r, "mass", at, 0, true);
        g.con = I(r, "constraint", at, -1, false);
        g.angle = F(r, "angle", at, 0, false);
        if (auto s = r.find("scale"); s != r.end()) {
            if (!s->is_array() || s->size() != 2) throw ToolError(at + ".scale: expected [x, y]");
            g.scaleX = JsonToFloat((*s)[0], at + ".scale");
            g.scaleY = JsonToFloat((*s)[1], at + ".scale");
        }
        if (auto c = r.find("color"); c != r.end()) {
            if (!c->is_array() || c->size() != 3) throw ToolError(at + ".color: expected [red, green, blue]");
            g.red = JsonToInt((*c)[0], at + ".color", 0, 255);
            g.green = JsonToInt((*c)[1], at + ".color", 0, 255);
            g.blue = JsonToInt((*c)[2], at + ".color", 0, 255);
        }
        g.alpha = F(r, "alpha", at, 1, false);
        g.blend = I(r, "blend", at, 1, false, 0, 255);
        g.name = S(r, "name", at, "Rig");
        d.rigs.push_back(std::move(g));
    }

    ValidateBodyFile(d);
    Ref<TAdvBody> body = BuildBody(d, TBodyBuild::EXACT);
    // What is about to be written must pass check: a build never reports success for a
    // file that check would refuse.
    CheckRecords(CollectBody(*body, d.imagesEmbedded));
    body->Save(out, 0, d.imagesEmbedded);
    return CompletePath(ResolvePath(out), ".plb");
}

// ---------------------------------------------------------------------------------------
// Check

std::string Check(const std::string& path) {
    const Parsed p = ParseFile(path);
    if (p.trailing > 0) throw ToolError(std::to_string(p.trailing) + " bytes follow the last end mark");
    return CheckRecords(p.data);
}

// Everything check demands of a file that reads, beyond what the reader itself refuses.
std::string CheckRecords(const TBodyFileData& d) {
    for (const auto& c : d.cons)
        if (c.mass1 < 0 || c.mass2 < 0)
            throw ToolError("constraint " + std::to_string(c.index) + " joins no mass: it would load as an empty entry");
    for (const auto& r : d.rigs)
        if (r.image < 0 || r.mass < 0)
            throw ToolError("rig " + std::to_string(r.index) + " has no " + (r.image < 0 ? "image" : "mass"));
    for (const auto& im : d.images)
        if (!DecodePicture(im.png, im.file))
            throw ToolError("image " + std::to_string(im.index) + ": " + PictureFault(im.png, im.file));
    return "body \"" + BytesToText(d.name) + "\", version " + std::to_string(d.version) + ", " +
           std::to_string(d.masses.size()) + " of " + std::to_string(d.massCount) + " masses, " +
           std::to_string(d.cons.size()) + " of " + std::to_string(d.conCount) + " constraints, " +
           std::to_string(d.images.size()) + " of " + std::to_string(d.imageCount) + " images" +
           (d.images.empty() ? "" : d.imagesEmbedded ? " (embedded)" : " (beside the file)") + ", " +
           std::to_string(d.rigs.size()) + " of " + std::to_string(d.rigCount) + " rigs";
}

bool Recognises(const std::string& tag) {
    int32_t version = 0;
    return BodyFileVersion(tag, version);
}

const FileFormat kBody = {"body", ".plb", Recognises, Dump, Build, Check};

}  // namespace

const FileFormat& BodyFormat() { return kBody; }

const std::vector<const FileFormat*>& Formats() {
    static const std::vector<const FileFormat*> all = {&kBody, &ZoneFormat()};
    return all;
}

}  // namespace kin::gelsim::cli
