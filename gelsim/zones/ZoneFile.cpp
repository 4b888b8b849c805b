// Zone files: reading, checking and writing records, building zones from them, and the
// zone's Load and Save.
#include "gelsim/zones/ZoneFile.h"

#include <cstring>

#include "gelsim/io/RecordFile.h"
#include "gelsim/io/SafeFile.h"
#include "gelsim/io/StreamIO.h"
#include "platform/Png.h"

namespace kin::gelsim {
namespace {

// ---------------------------------------------------------------------------------------
// Reading

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// Bytes left in the stream, or -1 when it cannot tell.
int64_t Remaining(TStream& s) {
    const int64_t size = s.Size(), pos = s.Pos();
    return size >= 0 && pos >= 0 && size >= pos ? size - pos : -1;
}

// Appends exactly n bytes, refusing at once what the stream cannot hold and otherwise
// growing only with what arrives.
void AppendExact(TStream& s, std::vector<uint8_t>& out, uint64_t n) {
    const int64_t left = Remaining(s);
    if (left >= 0 && n > static_cast<uint64_t>(left)) throw TStreamReadException(s.Pos() + int64_t(n), s.Size());
    constexpr uint64_t kPiece = 1 << 16;
    while (n > 0) {
        const uint64_t take = n < kPiece ? n : kPiece;
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(take));
        s.ReadBytes(out.data() + at, static_cast<int64_t>(take));
        n -= take;
    }
}

// Appends everything left in the stream, growing only with what arrives.
void AppendRest(TStream& s, std::vector<uint8_t>& out) {
    constexpr int64_t kPiece = 1 << 16;
    for (;;) {
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(kPiece));
        const int64_t got = s.Read(out.data() + at, kPiece);
        out.resize(at + static_cast<size_t>(got > 0 ? got : 0));
        if (got <= 0) return;
    }
}

// The embedded picture, from its signature through the end of its IEND chunk. Only the
// chunk framing is followed here, so that a file cut short inside the picture is a read
// error, while a picture that is complete but damaged is decoded (and refused) later.
// Bytes that are no PNG framing at all (a wrong signature, a chunk length no PNG may
// have) tell nothing about where the picture ends; as the picture is the last item of a
// zone file, the rest of the file is then taken as the damaged picture, and the zone read
// before it stands.
std::vector<uint8_t> ReadEmbeddedPng(TStream& s) {
    std::vector<uint8_t> png;
    // Byte by byte, so that a file cut inside a true signature stays a cut file.
    for (const uint8_t expected : kPngSignature) {
        uint8_t b = 0;
        if (s.Read(&b, 1) != 1) throw TStreamReadException(s.Pos() + 1, s.Size());
        png.push_back(b);
        if (b != expected) {
            AppendRest(s, png);
            return png;
        }
    }
    for (;;) {
        const size_t at = png.size();
        AppendExact(s, png, 8);
        const uint8_t* h = png.data() + at;
        const uint32_t len = uint32_t(h[0]) << 24 | uint32_t(h[1]) << 16 | uint32_t(h[2]) << 8 | uint32_t(h[3]);
        if (len > 0x7FFFFFFFu) {
            AppendRest(s, png);
            return png;
        }
        const bool iend = std::memcmp(h + 4, "IEND", 4) == 0;
        AppendExact(s, png, uint64_t(len) + 4);  // data and CRC
        if (iend) return png;
    }
}

// The name line's bytes, through its LF or NUL (or to the end of the stream).
std::string ReadRawLine(TStream& s) {
    std::string raw;
    uint8_t b = 0;
    while (s.Read(&b, 1) == 1) {
        raw.push_back(static_cast<char>(b));
        if (b == 10 || b == 0) break;
    }
    return raw;
}

// True when raw is one whole line that reads as name.
bool LineReadsAs(const std::string& raw, const std::string& name) {
    if (raw.empty() || (raw.back() != 10 && raw.back() != 0)) return false;
    TBankStream b(raw.data(), static_cast<int64_t>(raw.size()));
    return ReadLine(b) == name && b.Eof();
}

void CheckCoordCount(int64_t n) {
    if (n < 4 || n % 2 != 0)
        throw TFileFormatException("coordinate count " + std::to_string(n) +
                                   " is not an even number of at least 4 (2 vertices)");
}

void CheckLevel(int32_t level) {
    if (level > TQuadTree::MAX_LEVEL)
        throw TFileFormatException("quad-tree level " + std::to_string(level) + " is above the deepest level built, " +
                                   std::to_string(TQuadTree::MAX_LEVEL));
}

void CheckTree(const TQuadTree& t, int32_t depth) {
    if (depth > TQuadTree::MAX_LEVEL)
        throw TFileFormatException("quad tree nested deeper than " + std::to_string(TQuadTree::MAX_LEVEL) + " levels");
    if (t.childList.Count() > 4)
        throw TFileFormatException("quad-tree node with " + std::to_string(t.childList.Count()) +
                                   " children (0 to 4 allowed)");
    for (TObject* o : t.childList) CheckTree(*static_cast<const TQuadTree*>(o), depth + 1);
}

uint8_t LowByte(int32_t v) { return static_cast<uint8_t>(v & 0xFF); }

// The has-image byte as written: any non-zero value announces the image items, so one
// whose low 8 bits are 0 is written as 1 rather than as "no image" with items after it.
uint8_t HasImageByte(int32_t hasImage) {
    if (hasImage == 0) return 0;
    return LowByte(hasImage) != 0 ? LowByte(hasImage) : 1;
}

}  // namespace

namespace {

// Reads the records; `at` names the part being read, for the error when the data ends.
bool ReadZoneRecords(TStream& s, TZoneFileData& d, const std::string& imageBase, const char*& at) {
    d = TZoneFileData{};
    at = "the tag";
    d.tag = ReadString(s, 4);
    // The tag decides first: anything else is not a zone file, however short.
    if (d.tag != "ZONE") return false;
    at = "the version byte";
    d.version = ReadByte(s);
    at = "the name line";
    {
        const std::string raw = ReadRawLine(s);
        TBankStream line(raw.data(), static_cast<int64_t>(raw.size()));
        d.name = ReadLine(line);
        if (raw != d.name + "\r\n") d.nameLine = raw;
    }

    at = "the coordinate count";
    const int32_t count = ReadInt(s);
    CheckCoordCount(count);
    at = "the coordinates";
    const int64_t left = Remaining(s);
    if (left >= 0 && int64_t(count) * 4 > left)  // it cannot all be there
        throw TStreamReadException(s.Pos() + int64_t(count) * 4, s.Size());
    d.coords.reserve(static_cast<size_t>(left >= 0 ? count : std::min(count, 1 << 16)));
    for (int32_t i = 0; i < count; ++i) d.coords.push_back(ReadFloat(s));

    at = "the zone's settings";
    d.style = ReadInt(s);
    d.friction = ReadFloat(s);
    d.offsetX = ReadFloat(s);
    d.offsetY = ReadFloat(s);
    d.angle = ReadFloat(s);
    d.scaleX = ReadFloat(s);
    d.scaleY = ReadFloat(s);
    d.red = ReadFloat(s);
    d.green = ReadFloat(s);
    d.blue = ReadFloat(s);
    d.alpha = ReadFloat(s);
    d.blend = ReadInt(s);
    d.colGroup = ReadInt(s);
    d.qtLevel = ReadInt(s);
    CheckLevel(d.qtLevel);
    d.imgScaleX = ReadFloat(s);
    d.imgScaleY = ReadFloat(s);
    at = "the quad tree";
    d.quadTree = TQuadTree::Read(s);

    at = "the picture's settings";
    d.hasImage = ReadByte(s);
    if (d.hasImage == 0) return true;
    d.maskR = ReadByte(s);
    d.maskG = ReadByte(s);
    d.maskB = ReadByte(s);
    d.flags = ReadByte(s);
    d.handleX = ReadFloat(s);
    d.handleY = ReadFloat(s);
    d.embedded = ReadByte(s);
    at = "the embedded picture";
    if (d.embedded != 0)
        d.png = ReadEmbeddedPng(s);
    else if (!imageBase.empty())
        d.file = ZoneImagePath(imageBase);
    return true;
}

}  // namespace

bool ReadZoneFile(TStream& s, TZoneFileData& d, const std::string& imageBase) {
    const char* at = "the tag";
    try {
        return ReadZoneRecords(s, d, imageBase, at);
    } catch (const TFileFormatException&) {
        throw;
    } catch (const TStreamReadException& e) {
        throw EndedIn(at, e);
    }
}

void ValidateZoneFile(const TZoneFileData& d) {
    if (!d.nameLine.empty() && !LineReadsAs(d.nameLine, d.name))
        throw TFileFormatException("the name line is not one line that reads as the name");
    CheckCoordCount(static_cast<int64_t>(d.coords.size()));
    CheckLevel(d.qtLevel);
    if (d.quadTree) CheckTree(*d.quadTree, 1);
}

// ---------------------------------------------------------------------------------------
// Writing

void WriteZoneFile(TStream& s, const TZoneFileData& d) {
    WriteString(s, "ZONE", 4);
    WriteByte(s, d.version);
    if (!d.nameLine.empty() && LineReadsAs(d.nameLine, d.name))
        s.WriteBytes(d.nameLine.data(), static_cast<int64_t>(d.nameLine.size()));
    else
        WriteLine(s, d.name);
    WriteInt(s, static_cast<int32_t>(d.coords.size()));
    for (float c : d.coords) WriteFloat(s, c);
    WriteInt(s, d.style);
    for (float f : {d.friction, d.offsetX, d.offsetY, d.angle, d.scaleX, d.scaleY, d.red, d.green, d.blue, d.alpha})
        WriteFloat(s, f);
    WriteInt(s, d.blend);
    WriteInt(s, d.colGroup);
    WriteInt(s, d.qtLevel);
    WriteFloat(s, d.imgScaleX);
    WriteFloat(s, d.imgScaleY);
    if (d.quadTree) {
        d.quadTree->Write(s);
    } else {
        TQuadTree().Write(s);  // a zone without tree (no valid style) reads back harmlessly
    }
    const uint8_t hasImage = HasImageByte(d.hasImage);
    WriteByte(s, hasImage);
    if (hasImage == 0) return;
    WriteByte(s, d.maskR);
    WriteByte(s, d.maskG);
    WriteByte(s, d.maskB);
    WriteByte(s, d.flags);
    WriteFloat(s, d.handleX);
    WriteFloat(s, d.handleY);
    WriteByte(s, d.embedded);
    if (LowByte(d.embedded) != 0) s.WriteBytes(d.png.data(), static_cast<int64_t>(d.png.size()));
}

std::string ZoneImagePath(const std::string& base) { return base + "_img.png"; }

// ---------------------------------------------------------------------------------------
// Building and collecting

Ref<TZone> BuildZone(const TZoneFileData& d, TZoneBuild mode) {
    const bool exact = mode == TZoneBuild::EXACT;
    Ref<TZone> z = MakeRef<TZone>();
    z->name = d.name;
    z->origArea = d.coords;
    z->style = d.style;
    // Stored values are kept as they are, unclamped.
    z->friction = d.friction;
    z->offsetX = d.offsetX;
    z->offsetY = d.offsetY;
    z->angle = d.angle;
    z->scaleX = d.scaleX;
    z->scaleY = d.scaleY;
    z->red = d.red;
    z->green = d.green;
    z->blue = d.blue;
    z->alpha = d.alpha;
    z->blend = d.blend;
    if (exact)
        z->colGroup = d.colGroup;
    else
        z->SetColGroup(d.colGroup);
    z->qtLevel = d.qtLevel;
    z->imgScaleX = d.imgScaleX;
    z->imgScaleY = d.imgScaleY;
    z->quadTree = d.quadTree;  // used as stored, not rebuilt

    if (d.hasImage != 0) {
        SetMaskColor(d.maskR, d.maskG, d.maskB);
        Ref<TImage> img;
        if (!d.png.empty()) {
            TBankStream bank(d.png.data(), static_cast<int64_t>(d.png.size()));
            img = LoadImage(bank, d.flags);
        } else if (!d.file.empty() && IsRegularFile(d.file)) {
            img = LoadImage(d.file, d.flags);
        }
        if (img) {
            SetImageHandle(img.Get(), d.handleX, d.handleY);
            z->image = img;
        } else if (exact) {
            // The decoder's reason, for an embedded picture (one beside the file may never have reached it).
            const std::string why = d.png.empty() ? "" : PngLoadFailure();
            throw TFileFormatException("the zone's picture cannot be decoded" + (why.empty() ? "" : " (" + why + ")"));
        }
    }
    z->UpdateArea();
    return z;
}

TZoneFileData CollectZone(const TZone& z, int32_t embedImage) {
    TZoneFileData d;
    d.name = z.GetName();
    d.coords = z.origArea;
    d.style = z.style;
    d.friction = z.friction;
    d.offsetX = z.offsetX;
    d.offsetY = z.offsetY;
    d.angle = z.angle;
    d.scaleX = z.scaleX;
    d.scaleY = z.scaleY;
    d.red = z.red;
    d.green = z.green;
    d.blue = z.blue;
    d.alpha = z.alpha;
    d.blend = z.blend;
    d.colGroup = z.colGroup < -1 ? -1 : z.colGroup;  // automatic groups are drawn afresh on loading
    d.qtLevel = z.qtLevel;
    d.imgScaleX = z.imgScaleX;
    d.imgScaleY = z.imgScaleY;
    d.quadTree = z.quadTree;
    const TImage* img = z.image.Get();
    if (!img) return d;
    d.hasImage = 1;
    d.maskR = img->maskR;
    d.maskG = img->maskG;
    d.maskB = img->maskB;
    d.flags = LowByte(img->flags);
    d.handleX = img->handle_x;
    d.handleY = img->handle_y;
    // The byte must say what follows: a value whose low 8 bits are 0 would announce a
    // separate picture while embedding it.
    d.embedded = embedImage == 0 ? 0 : (LowByte(embedImage) != 0 ? LowByte(embedImage) : 1);
    const TPixmap* frame = img->frames.empty() ? nullptr : img->frames[0].Get();
    TBankStream bank;
    if (!frame || !SavePixmapPNG(*frame, bank, d.embedded != 0 ? 9 : 5)) throw TStreamWriteException();
    d.png = bank.Bytes();
    return d;
}

// ---------------------------------------------------------------------------------------
// Load and Save

Ref<TZone> TZone::Load(const std::string& path) {
    TZoneFileData d;
    const auto read = [&d](TStream& s, const std::string& base) { return ReadZoneFile(s, d, base); };
    if (ReadRecordFile(path, "zone", true, read).status != TRecordRead::READ) return nullptr;
    Ref<TZone> z = BuildZone(d, TZoneBuild::LOAD);
    z->Activate();
    return z;
}

void SaveZoneFile(const std::string& path, const TZoneFileData& d, bool backup) {
    SaveRecordFile(
        path, ".plz", backup, [&d](TStream& s) { WriteZoneFile(s, d); },
        [&d](const std::string& base) {
            std::vector<TFileBytes> beside;
            if (HasImageByte(d.hasImage) != 0 && LowByte(d.embedded) == 0)
                beside.push_back({ZoneImagePath(base), d.png.data(), d.png.size()});
            return beside;
        });
}

int32_t TZone::Save(const std::string& path, int32_t backup, int32_t embedImage) {
    SaveZoneFile(path, CollectZone(*this, embedImage), backup != 0);
    return 0;
}

}  // namespace kin::gelsim
