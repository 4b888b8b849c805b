// Body files: reading, checking and writing records, building bodies from them, and the
// body's Load, Save and Copy.
//
// Sections: checks shared by the reader and ValidateBodyFile; reading (embedded PNGs are
// walked chunk by chunk to their IEND, so the next record follows them even when the
// picture itself is damaged); writing; building and collecting; Load, Save, Copy.
#include "gelsim/bodies/BodyFile.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "gelsim/io/RecordFile.h"
#include "gelsim/io/SafeFile.h"
#include "gelsim/io/StreamIO.h"
#include "platform/Png.h"

namespace kin::gelsim {
namespace {

// ---------------------------------------------------------------------------------------
// Checks

std::string Num(int64_t v) { return std::to_string(v); }

// Which record indices of a table have been seen. Memory follows the records, not their
// indices: a file's few records may stand anywhere below a count of a billion.
class SeenSet {
public:
    bool Has(int32_t i) const { return seen_.count(i) != 0; }
    void Add(int32_t i) { seen_.insert(i); }

private:
    std::unordered_set<int32_t> seen_;
};

class Checker {
public:
    // Any count a table can reach is taken: a table that grew large and was then mostly
    // emptied is saved with its full count and only the records left.
    void Count(const char* table, int32_t n) const {
        if (n < 0) throw TFileFormatException(std::string(table) + " count " + Num(n) + " is negative");
        if (n > TAdvBody::MAX_ENTRIES)
            throw TFileFormatException(std::string(table) + " count " + Num(n) + " is more than a table can hold (" +
                                       Num(TAdvBody::MAX_ENTRIES) + ")");
    }
    void Record(const char* table, int32_t index, int32_t count, SeenSet& seen) const {
        if (index < 0 || index >= count)
            throw TFileFormatException(std::string(table) + " record " + Num(index) + " is outside its table of " +
                                       Num(count));
        if (seen.Has(index)) throw TFileFormatException("duplicate " + std::string(table) + " record " + Num(index));
        seen.Add(index);
    }
    /// A reference from a record to another table: negative means none; anything else
    /// must name a record present in the file.
    void Refers(const char* from, int32_t index, const char* to, int32_t target, const SeenSet& seen) const {
        if (target < 0 || seen.Has(target)) return;
        throw TFileFormatException(std::string(from) + " " + Num(index) + " refers to " + to + " " + Num(target) +
                                   ", which the file does not provide");
    }
};

// ---------------------------------------------------------------------------------------
// Reading

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// Appends exactly n bytes from s to out, growing with what arrives.
void AppendExact(TStream& s, std::vector<uint8_t>& out, uint64_t n) {
    constexpr uint64_t kPiece = 1 << 16;
    while (n > 0) {
        const uint64_t take = n < kPiece ? n : kPiece;
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(take));
        s.ReadBytes(out.data() + at, static_cast<int64_t>(take));
        n -= take;
    }
}

// The bytes of one embedded PNG, from its signature through the end of its IEND chunk.
// Only the chunk framing is checked here; decoding happens when the body is built.
std::vector<uint8_t> ReadEmbeddedPng(TStream& s, int32_t index) {
    std::vector<uint8_t> png;
    AppendExact(s, png, 8);
    if (std::memcmp(png.data(), kPngSignature, 8) != 0)
        throw TFileFormatException("image " + Num(index) + ": the embedded picture is not a PNG");
    for (;;) {
        const size_t at = png.size();
        AppendExact(s, png, 8);
        const uint8_t* h = png.data() + at;
        const uint32_t len = uint32_t(h[0]) << 24 | uint32_t(h[1]) << 16 | uint32_t(h[2]) << 8 | uint32_t(h[3]);
        const bool iend = std::memcmp(h + 4, "IEND", 4) == 0;
        if (len > 0x7FFFFFFFu)
            throw TFileFormatException("image " + Num(index) + ": a chunk of the embedded PNG is too long");
        // Refuse early what cannot be there, rather than reading up to the end first.
        const int64_t size = s.Size(), pos = s.Pos();
        if (size >= 0 && pos >= 0 && int64_t(len) + 4 > size - pos) throw TStreamReadException(pos + int64_t(len) + 4, size);
        AppendExact(s, png, uint64_t(len) + 4);  // data and CRC
        if (iend) return png;
    }
}

// Which part of the file the reader is in, so that data that ends early can be reported
// by record. Kept as a table name and an index: nothing is built unless the read fails.
struct ReadPlace {
    const char* item = "the tag";  // a table's item ("mass") with index >= 0, else a part
    int32_t index = -1;
    void Part(const char* part) {
        item = part;
        index = -1;
    }
    void Record(const char* table, int32_t i) {
        item = table;
        index = i;
    }
    std::string Text() const { return index >= 0 ? std::string(item) + " record " + Num(index) : item; }
};

}  // namespace

bool BodyFileVersion(const std::string& tag, int32_t& version) {
    if (tag.size() != 4) return false;
    if (tag == "BODY") {
        version = 103;
        return true;
    }
    if (tag[0] != 'B') return false;
    // The integer value of the last three characters: leading blanks, a sign, digits; the
    // first other character ends the number; no digits give 0.
    const std::string t = tag.substr(1);
    size_t i = 0;
    while (i < t.size() && t[i] == ' ') ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    int32_t v = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') v = v * 10 + (t[i++] - '0');
    version = negative ? -v : v;
    return true;
}

namespace {

bool ReadBodyRecords(TStream& s, TBodyFileData& d, const std::string& imageBase, ReadPlace& at) {
    d = TBodyFileData{};
    d.tag = ReadString(s, 4);
    if (!BodyFileVersion(d.tag, d.version)) return false;
    const Checker check;
    at.Part("the name line");
    d.name = ReadLine(s);

    SeenSet masses, cons, images, rigs;
    at.Part("the mass count");
    d.massCount = ReadInt(s);
    check.Count("mass", d.massCount);
    at.Part("the mass table");
    for (int32_t idx; (idx = ReadInt(s)) != -1; at.Part("the mass table")) {
        check.Record("mass", idx, d.massCount, masses);
        at.Record("mass", idx);
        TBodyFileMass m;
        m.index = idx;
        m.x = ReadFloat(s);
        m.y = ReadFloat(s);
        m.mass = ReadFloat(s);
        m.radius = ReadFloat(s);
        m.friction = ReadFloat(s);
        m.colGroup = ReadInt(s);
        m.name = ReadLine(s);
        m.frozen = ReadByte(s);
        m.vx = ReadFloat(s);
        m.vy = ReadFloat(s);
        d.masses.push_back(std::move(m));
    }

    at.Part("the constraint count");
    d.conCount = ReadInt(s);
    check.Count("constraint", d.conCount);
    at.Part("the constraint table");
    for (int32_t idx; (idx = ReadInt(s)) != -1; at.Part("the constraint table")) {
        check.Record("constraint", idx, d.conCount, cons);
        at.Record("constraint", idx);
        TBodyFileCon c;
        c.index = idx;
        c.mass1 = ReadInt(s);
        c.mass2 = ReadInt(s);
        c.restLength = ReadFloat(s);
        c.stiffness = ReadFloat(s);
        c.name = ReadLine(s);
        check.Refers("constraint", idx, "mass", c.mass1, masses);
        check.Refers("constraint", idx, "mass", c.mass2, masses);
        d.cons.push_back(std::move(c));
    }

    d.hasEmbeddedByte = d.version > 110;
    at.Part("the images-embedded byte");
    d.imagesEmbedded = d.hasEmbeddedByte ? ReadByte(s) : 0;
    at.Part("the image count");
    d.imageCount = ReadInt(s);
    check.Count("image", d.imageCount);
    at.Part("the image table");
    for (int32_t idx; (idx = ReadInt(s)) != -1; at.Part("the image table")) {
        check.Record("image", idx, d.imageCount, images);
        at.Record("image", idx);
        TBodyFileImage im;
        im.index = idx;
        im.maskR = ReadByte(s);
        im.maskG = ReadByte(s);
        im.maskB = ReadByte(s);
        im.flags = ReadByte(s);
        im.handleX = ReadFloat(s);
        im.handleY = ReadFloat(s);
        if (d.imagesEmbedded != 0)
            im.png = ReadEmbeddedPng(s, idx);
        else if (!imageBase.empty())
            im.file = SeparateImagePath(imageBase, idx);
        d.images.push_back(std::move(im));
    }

    at.Part("the rig count");
    d.rigCount = ReadInt(s);
    check.Count("rig", d.rigCount);
    at.Part("the rig table");
    for (int32_t idx; (idx = ReadInt(s)) != -1; at.Part("the rig table")) {
        check.Record("rig", idx, d.rigCount, rigs);
        at.Record("rig", idx);
        TBodyFileRig r;
        r.index = idx;
        r.image = ReadInt(s);
        r.mass = ReadInt(s);
        r.con = ReadInt(s);
        r.angle = ReadFloat(s);
        if (d.version >= 110) {
            r.scaleX = ReadFloat(s);
            r.scaleY = ReadFloat(s);
            r.red = ReadByte(s);
            r.green = ReadByte(s);
            r.blue = ReadByte(s);
            r.alpha = ReadFloat(s);
            r.blend = ReadByte(s);
        }
        r.name = ReadLine(s);
        check.Refers("rig", idx, "image", r.image, images);
        check.Refers("rig", idx, "mass", r.mass, masses);
        check.Refers("rig", idx, "constraint", r.con, cons);
        d.rigs.push_back(std::move(r));
    }
    return true;
}

}  // namespace

bool ReadBodyFile(TStream& s, TBodyFileData& d, const std::string& imageBase) {
    ReadPlace at;
    try {
        return ReadBodyRecords(s, d, imageBase, at);
    } catch (const TFileFormatException&) {
        throw;
    } catch (const TStreamReadException& e) {
        throw EndedIn(at.Text(), e);
    }
}

void ValidateBodyFile(const TBodyFileData& d) {
    const Checker check;
    SeenSet masses, cons, images, rigs;
    check.Count("mass", d.massCount);
    for (const auto& m : d.masses) check.Record("mass", m.index, d.massCount, masses);
    check.Count("constraint", d.conCount);
    for (const auto& c : d.cons) {
        check.Record("constraint", c.index, d.conCount, cons);
        check.Refers("constraint", c.index, "mass", c.mass1, masses);
        check.Refers("constraint", c.index, "mass", c.mass2, masses);
    }
    check.Count("image", d.imageCount);
    for (const auto& im : d.images) check.Record("image", im.index, d.imageCount, images);
    check.Count("rig", d.rigCount);
    for (const auto& r : d.rigs) {
        check.Record("rig", r.index, d.rigCount, rigs);
        check.Refers("rig", r.index, "image", r.image, images);
        check.Refers("rig", r.index, "mass", r.mass, masses);
        check.Refers("rig", r.index, "constraint", r.con, cons);
    }
}

// ---------------------------------------------------------------------------------------
// Writing

void WriteBodyFile(TStream& s, const TBodyFileData& d) {
    WriteString(s, "B111", 4);
    WriteLine(s, d.name);
    WriteInt(s, d.massCount);
    for (const auto& m : d.masses) {
        WriteInt(s, m.index);
        WriteFloat(s, m.x);
        WriteFloat(s, m.y);
        WriteFloat(s, m.mass);
        WriteFloat(s, m.radius);
        WriteFloat(s, m.friction);
        WriteInt(s, m.colGroup);
        WriteLine(s, m.name);
        WriteByte(s, m.frozen);
        WriteFloat(s, m.vx);
        WriteFloat(s, m.vy);
    }
    WriteInt(s, -1);
    WriteInt(s, d.conCount);
    for (const auto& c : d.cons) {
        WriteInt(s, c.index);
        WriteInt(s, c.mass1);
        WriteInt(s, c.mass2);
        WriteFloat(s, c.restLength);
        WriteFloat(s, c.stiffness);
        WriteLine(s, c.name);
    }
    WriteInt(s, -1);
    const bool embedded = (d.imagesEmbedded & 0xFF) != 0;
    WriteByte(s, d.imagesEmbedded);
    WriteInt(s, d.imageCount);
    for (const auto& im : d.images) {
        WriteInt(s, im.index);
        WriteByte(s, im.maskR);
        WriteByte(s, im.maskG);
        WriteByte(s, im.maskB);
        WriteByte(s, im.flags);
        WriteFloat(s, im.handleX);
        WriteFloat(s, im.handleY);
        if (embedded) s.WriteBytes(im.png.data(), static_cast<int64_t>(im.png.size()));
    }
    WriteInt(s, -1);
    WriteInt(s, d.rigCount);
    for (const auto& r : d.rigs) {
        WriteInt(s, r.index);
        WriteInt(s, r.image);
        WriteInt(s, r.mass);
        WriteInt(s, r.con);
        WriteFloat(s, r.angle);
        WriteFloat(s, r.scaleX);
        WriteFloat(s, r.scaleY);
        WriteByte(s, r.red);
        WriteByte(s, r.green);
        WriteByte(s, r.blue);
        WriteFloat(s, r.alpha);
        WriteByte(s, r.blend);
        WriteLine(s, r.name);
    }
    WriteInt(s, -1);
}

std::string SeparateImagePath(const std::string& base, int32_t k) { return base + "_img" + std::to_string(k) + ".png"; }

// ---------------------------------------------------------------------------------------
// Building and collecting

namespace {

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// An old position for which pos - old gives exactly v, so that a velocity read back from
// a mass is the one that was stored; pos - v alone can be an ulp off.
float OldPositionFor(float pos, float v) {
    const float o = pos - v;
    if (!std::isfinite(o) || SameBits(pos - o, v)) return o;
    float lo = o, hi = o;
    for (int k = 0; k < 4; ++k) {
        lo = std::nextafter(lo, -std::numeric_limits<float>::infinity());
        if (SameBits(pos - lo, v)) return lo;
        hi = std::nextafter(hi, std::numeric_limits<float>::infinity());
        if (SameBits(pos - hi, v)) return hi;
    }
    return o;
}

// Negative collision groups of a loaded or copied body are mapped to fresh automatic
// groups, the same stored group always to the same fresh one, so the body keeps its own
// grouping but shares no negative group with anything already in the world.
class GroupTranslation {
public:
    void Apply(TMass* m, int32_t stored) {
        if (stored >= 0) return;
        auto it = map_.find(stored);
        if (it != map_.end()) {
            m->SetColGroup(it->second);
            return;
        }
        m->SetColGroup(-1);
        map_.emplace(stored, m->GetColGroup());
    }

private:
    std::unordered_map<int32_t, int32_t> map_;
};

// Why an embedded picture could not be decoded, as the decoder put it (" (...)"), or ""
// for a picture beside the file, which the decoder may never have seen.
std::string Why(const TBodyFileImage& im) {
    if (im.png.empty() || *PngLoadFailure() == '\0') return "";
    return std::string(" (") + PngLoadFailure() + ")";
}

Ref<TImage> DecodeImage(const TBodyFileImage& im) {
    if (!im.png.empty()) {
        TBankStream bank(im.png.data(), static_cast<int64_t>(im.png.size()));
        return LoadImage(bank, im.flags);
    }
    if (!im.file.empty()) return LoadImage(im.file, im.flags);
    return nullptr;
}

// How long the contiguous part of a loaded table's storage is: the whole count when the
// file fills a fair share of it (a table built by adding has exactly that), otherwise no
// more than its records could fill; the records past it are kept one by one. So the memory
// a file costs follows its records, whatever counts it declares.
size_t LoadedRun(int32_t count, size_t records) {
    const size_t fair = 2 * records + 16;
    return std::min(static_cast<size_t>(count < 0 ? 0 : count), fair);
}

uint8_t LowByte(int32_t v) { return static_cast<uint8_t>(v & 0xFF); }

void FillBody(TAdvBody* b, const TBodyFileData& d, TBodyBuild mode) {
    const bool exact = mode == TBodyBuild::EXACT;
    b->SetName(d.name);

    b->mArray.Reset(LoadedRun(d.massCount, d.masses.size()));
    b->mIndex = d.massCount;
    GroupTranslation groups;
    for (const auto& r : d.masses) {
        if (r.index < 0 || r.index >= d.massCount) continue;
        Ref<TMass> m = TMass::Create(r.x, r.y, r.mass, r.radius, r.friction, r.colGroup < 0 ? 0 : r.colGroup);
        if (exact) {
            m->friction = r.friction;
            m->colGroup = static_cast<float>(r.colGroup);
        } else {
            groups.Apply(m.Get(), r.colGroup);
        }
        m->SetName(r.name);
        if (r.frozen != 0) m->Freeze();
        if (!m->IsFrozen()) {
            m->oldPosX = OldPositionFor(m->posX, r.vx);
            m->oldPosY = OldPositionFor(m->posY, r.vy);
        }
        m->abID = b->aIndex;
        m->index = r.index;
        b->mArray.Set(r.index, std::move(m));
    }

    b->cArray.Reset(LoadedRun(d.conCount, d.cons.size()));
    b->cIndex = d.conCount;
    for (const auto& r : d.cons) {
        TMass* m1 = b->MassAt(r.mass1);
        TMass* m2 = b->MassAt(r.mass2);
        if (r.index < 0 || r.index >= d.conCount || !m1 || !m2) continue;  // no masses: the entry stays empty
        Ref<TConstraint> c = TConstraint::Create(m1, m2, r.restLength, r.stiffness);
        if (exact) c->restLength = r.restLength;
        c->SetName(r.name);
        c->abID = b->aIndex;
        c->index = r.index;
        b->cArray.Set(r.index, std::move(c));
    }

    b->iArray.Reset(LoadedRun(d.imageCount, d.images.size()));
    b->iIndex = d.imageCount;
    for (const auto& r : d.images) {
        if (r.index < 0 || r.index >= d.imageCount) continue;
        SetMaskColor(r.maskR, r.maskG, r.maskB);
        Ref<TImage> img = DecodeImage(r);
        if (!img) {
            if (exact)
                throw TFileFormatException("image " + Num(r.index) + ": the picture cannot be decoded" + Why(r));
            continue;  // the entry stays empty; rigs showing it draw nothing
        }
        SetImageHandle(img.Get(), r.handleX, r.handleY);
        b->iArray.Set(r.index, std::move(img));
    }

    b->rArray.Reset(LoadedRun(d.rigCount, d.rigs.size()));
    b->rIndex = d.rigCount;
    for (const auto& r : d.rigs) {
        if (r.index < 0 || r.index >= d.rigCount) continue;
        Ref<TRig> rig = TRig::Create(b->ImageAt(r.image), b->MassAt(r.mass), b->ConAt(r.con), r.angle);
        rig->SetScale(r.scaleX, r.scaleY);
        rig->SetColor(r.red, r.green, r.blue);
        rig->SetAlpha(r.alpha);
        if (exact) rig->alpha = r.alpha;
        rig->SetBlend(r.blend);
        rig->SetName(r.name);
        rig->abID = b->aIndex;
        rig->index = r.index;
        b->rArray.Set(r.index, std::move(rig));
    }
}

}  // namespace

Ref<TAdvBody> BuildBody(const TBodyFileData& d, TBodyBuild mode) {
    Ref<TAdvBody> b = TAdvBody::Create();
    try {
        FillBody(b.Get(), d, mode);
    } catch (...) {
        b->Free();  // a body that could not be built gives its id back and leaves the registry
        throw;
    }
    return b;
}

TBodyFileData CollectBody(const TAdvBody& b, int32_t embedImages) {
    TBodyFileData d;
    d.name = b.name;
    d.massCount = b.mIndex;
    for (int32_t i : b.mArray.Below(b.mIndex)) {
        TMass* m = b.MassAt(i);
        if (!m) continue;
        TBodyFileMass r;
        r.index = i;
        r.x = m->GetX();
        r.y = m->GetY();
        r.mass = m->GetMass();
        r.radius = m->GetRadius();
        r.friction = m->friction;
        r.colGroup = m->GetColGroup();
        r.name = m->GetName();
        r.frozen = m->IsFrozen() ? 1 : 0;
        r.vx = m->GetVX();
        r.vy = m->GetVY();
        d.masses.push_back(std::move(r));
    }
    d.conCount = b.cIndex;
    for (int32_t i : b.cArray.Below(b.cIndex)) {
        TConstraint* c = b.ConAt(i);
        if (!c) continue;
        TBodyFileCon r;
        r.index = i;
        r.mass1 = b.IndexOfMass(c->m[0].Get());
        r.mass2 = b.IndexOfMass(c->m[1].Get());
        r.restLength = c->GetRestLength();
        r.stiffness = c->GetStiffness();
        r.name = c->GetName();
        d.cons.push_back(std::move(r));
    }
    // The flag byte must say what follows: a value whose low 8 bits are 0 would announce
    // separate pictures while embedding them.
    d.imagesEmbedded = embedImages == 0 ? 0 : (LowByte(embedImages) != 0 ? LowByte(embedImages) : 1);
    const int32_t level = embedImages != 0 ? 9 : 5;
    d.imageCount = b.iIndex;
    for (int32_t i : b.iArray.Below(b.iIndex)) {
        TImage* img = b.ImageAt(i);
        if (!img) continue;
        TBodyFileImage r;
        r.index = i;
        r.maskR = img->maskR;
        r.maskG = img->maskG;
        r.maskB = img->maskB;
        r.flags = LowByte(img->flags);
        r.handleX = img->handle_x;
        r.handleY = img->handle_y;
        TPixmap* frame = img->frames.empty() ? nullptr : img->frames[0].Get();
        TBankStream bank;
        if (!frame || !SavePixmapPNG(*frame, bank, level)) throw TStreamWriteException();
        r.png = bank.Bytes();
        d.images.push_back(std::move(r));
    }
    d.rigCount = b.rIndex;
    for (int32_t i : b.rArray.Below(b.rIndex)) {
        TRig* g = b.RigAt(i);
        if (!g) continue;
        TBodyFileRig r;
        r.index = i;
        r.image = b.IndexOfImage(g->image.Get());
        r.mass = b.IndexOfMass(g->mass.Get());
        r.con = g->con ? b.IndexOfCon(g->con.Get()) : -1;
        r.angle = g->GetAngle();
        g->GetScale(r.scaleX, r.scaleY);
        int32_t cr = 0, cg = 0, cb = 0;
        g->GetColor(cr, cg, cb);
        r.red = LowByte(cr);
        r.green = LowByte(cg);
        r.blue = LowByte(cb);
        r.alpha = g->GetAlpha();
        r.blend = LowByte(g->GetBlend());
        r.name = g->GetName();
        d.rigs.push_back(std::move(r));
    }
    return d;
}

// ---------------------------------------------------------------------------------------
// Load, Save, Copy

Ref<TAdvBody> TAdvBody::Load(const std::string& path, int32_t activate) {
    TBodyFileData d;
    const auto read = [&d](TStream& s, const std::string& base) { return ReadBodyFile(s, d, base); };
    if (ReadRecordFile(path, "body", true, read).status != TRecordRead::READ) return nullptr;
    Ref<TAdvBody> b = BuildBody(d, TBodyBuild::LOAD);
    if (activate != 0) b->Activate();
    return b;
}

int32_t TAdvBody::Save(const std::string& path, int32_t backup, int32_t embedImages) {
    const TBodyFileData d = CollectBody(*this, embedImages);
    SaveRecordFile(
        path, ".plb", backup != 0, [&d](TStream& s) { WriteBodyFile(s, d); },
        [&d](const std::string& base) {
            std::vector<TFileBytes> beside;
            if (d.imagesEmbedded == 0)
                for (const auto& im : d.images) beside.push_back({SeparateImagePath(base, im.index), im.png.data(), im.png.size()});
            return beside;
        });
    return 0;
}

Ref<TAdvBody> TAdvBody::Copy(int32_t) {
    // Each storage of the copy is as long as the count, or as the source's own contiguous
    // storage where that stops short of the count (a body read from a sparse file).
    auto run = [](int32_t count, size_t sourceRun) {
        return std::min(static_cast<size_t>(count < 0 ? 0 : count), sourceRun);
    };
    Ref<TAdvBody> b = TAdvBody::Create();
    b->SetName(name);
    b->mIndex = mIndex;
    b->mArray.Reset(run(mIndex, mArray.size()));
    b->cIndex = cIndex;
    b->cArray.Reset(run(cIndex, cArray.size()));
    b->iIndex = iIndex;
    b->iArray.Reset(run(iIndex, iArray.size()));
    b->rIndex = rIndex;
    b->rArray.Reset(run(rIndex, rArray.size()));

    GroupTranslation groups;
    for (int32_t i : mArray.Below(mIndex)) {
        TMass* m = MassAt(i);
        if (!m) continue;
        Ref<TMass> c = m->Copy();
        c->index = i;
        c->abID = b->aIndex;
        groups.Apply(c.Get(), c->GetColGroup());
        b->mArray.Set(i, std::move(c));
    }
    for (int32_t i : cArray.Below(cIndex)) {
        TConstraint* c = ConAt(i);
        if (!c) continue;
        TMass* m1 = b->MassAt(IndexOfMass(c->m[0].Get()));
        TMass* m2 = b->MassAt(IndexOfMass(c->m[1].Get()));
        if (!m1 || !m2) continue;  // masses from outside the body cannot be copied
        Ref<TConstraint> n = TConstraint::Create(m1, m2, c->GetRestLength(), c->GetStiffness());
        n->SetName(c->GetName());
        n->index = i;
        n->abID = b->aIndex;
        b->cArray.Set(i, std::move(n));
    }
    for (int32_t i : iArray.Below(iIndex)) b->iArray.Set(i, ImageAt(i));
    for (int32_t i : rArray.Below(rIndex)) {
        TRig* r = RigAt(i);
        if (!r) continue;
        TMass* m = b->MassAt(IndexOfMass(r->mass.Get()));
        TConstraint* c = r->con ? b->ConAt(IndexOfCon(r->con.Get())) : nullptr;
        Ref<TRig> n = TRig::Create(r->image.Get(), m, c, r->GetAngle());
        n->index = i;
        n->abID = b->aIndex;
        b->rArray.Set(i, std::move(n));
        b->RigSetName(i, r->GetName());
        float sx = 1.0f, sy = 1.0f;
        r->GetScale(sx, sy);
        b->RigSetScale(i, sx, sy);
        int32_t cr = 0, cg = 0, cb = 0;
        r->GetColor(cr, cg, cb);
        b->RigSetColor(i, cr, cg, cb);
        b->RigSetAlpha(i, r->GetAlpha());
        b->RigSetBlend(i, r->GetBlend());
    }
    b->Activate();
    return b;
}

}  // namespace kin::gelsim
