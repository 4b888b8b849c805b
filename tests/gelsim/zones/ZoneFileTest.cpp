// Zone files: the exact layout, round trips (byte-identical re-saves), groups, pictures
// inside and beside the file, safe saving, and damaged or hostile files: every cut raises
// the read error, nonsense counts and nesting are refused, bad pictures load without image.
#include "tests/support/ZoneFixture.h"
#include "gelsim/io/RecordFile.h"
#include "gelsim/io/StreamIO.h"
#include "platform/Png.h"

namespace kin::gelsim::test {
namespace {

using ZoneFiles = ZoneWorld;

Bytes Saved(TZone& z, int32_t embed = 1) {
    TBankStream s;
    WriteZoneFile(s, CollectZone(z, embed));
    return s.Bytes();
}

/// A zone with every attribute away from its default.
Ref<TZone> RichZone(uint32_t seed, bool image) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> uf(-5, 5);
    Ref<TZone> z = TZone::Create(RandomOutline(rng, 5 + static_cast<int32_t>(seed % 7)), static_cast<int32_t>(seed % 4),
                                 0.3f, 5, 2 + static_cast<int32_t>(seed % 5));
    z->SetName(seed % 2 ? "ground" : "w\xE9ird name");
    // One draw per statement (a call's arguments come in the compiler's order), the last
    // argument's first as when these zones were first made.
    const float y = uf(rng) * 100, x = uf(rng) * 100;
    z->Position(x, y);
    const float sy = 1 - uf(rng) / 10, sx = 1 + uf(rng) / 10;
    z->SetScale(sx, sy);  // rebuilds the tree
    z->Rotate(uf(rng) * 30);
    z->SetColor(12, 200, 77);
    z->SetAlpha(0.75f);
    z->SetBlend(3);
    z->ImageSetScale(0.5f, 2);
    if (image) {
        SetMaskColor(1, 2, 3);
        Ref<TImage> img = SolidImage(3, 2, 0x80402010u);
        img->maskR = 9;  // as if loaded under another mask colour
        img->flags = 6;
        SetImageHandle(img.Get(), 1.5f, -2);
        z->ImageSet(img.Get());
    }
    return z;
}

void ExpectSameZone(const TZone& a, const TZone& b) {
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.origArea, b.origArea);
    EXPECT_EQ(a.area, b.area);  // recomputed from the same transform: the same floats
    EXPECT_EQ(a.style, b.style);
    EXPECT_EQ(a.friction, b.friction);
    EXPECT_EQ(a.offsetX, b.offsetX);
    EXPECT_EQ(a.offsetY, b.offsetY);
    EXPECT_EQ(a.angle, b.angle);
    EXPECT_EQ(a.scaleX, b.scaleX);
    EXPECT_EQ(a.scaleY, b.scaleY);
    EXPECT_EQ(a.red + a.green + a.blue, b.red + b.green + b.blue);
    EXPECT_EQ(a.alpha, b.alpha);
    EXPECT_EQ(a.blend, b.blend);
    EXPECT_EQ(a.qtLevel, b.qtLevel);
    EXPECT_EQ(a.imgScaleX, b.imgScaleX);
    EXPECT_EQ(a.imgScaleY, b.imgScaleY);
    ASSERT_NE(b.quadTree, nullptr);
    EXPECT_TRUE(a.quadTree->SameAs(*b.quadTree));
    ASSERT_EQ(a.image == nullptr, b.image == nullptr);
    if (!a.image) return;
    EXPECT_EQ(b.image->frames[0]->GetPixel(2, 1), a.image->frames[0]->GetPixel(2, 1));
    EXPECT_EQ(b.image->handle_x, a.image->handle_x);
    EXPECT_EQ(b.image->handle_y, a.image->handle_y);
    EXPECT_EQ(b.image->flags, a.image->flags);
}

// ---------------------------------------------------------------------------------------
// Layout and round trips

TEST_F(ZoneFiles, ASmallZoneSavesAsTheseBytes) {
    Ref<TZone> z = TZone::Create({0, 0, 10, 0}, TZone::LINE, 0.5f, 3, 2);
    z->Save(Path("small.plz"), 0, 0);
    const Bytes expect = {
        0x5A, 0x4F, 0x4E, 0x45, 0x6F, 0x5A, 0x6F, 0x6E, 0x65, 0x0D, 0x0A,              // tag, version, name
        0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0x41, 0, 0, 0, 0,             // coordinates
        0, 0, 0, 0, 0, 0, 0, 0x3F,                                                     // style, friction
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                                            // offset, angle
        0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F,
        0, 0, 0x80, 0x3F,                                                              // scale, colour, alpha
        1, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0,                                            // blend, group, level
        0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F,                                            // image scale
        0, 0, 0x80, 0xBF, 0, 0, 0x80, 0xBF, 0, 0, 0x40, 0x41, 0, 0, 0, 0x40, 0, 0, 0, 0,  // one leaf
        0,                                                                             // no image
    };
    EXPECT_EQ(ReadAll(Path("small.plz")), expect);
    EXPECT_EQ(expect.size(), 116u);
}

TEST_F(ZoneFiles, LoadGivesBackTheZoneAndResavesTheSameBytes) {
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        const bool image = seed % 3 != 0;
        const int32_t embed = seed % 2;
        Ref<TZone> z = RichZone(seed, image);
        z->Save(Path("z.plz"), 0, embed);
        const int32_t entries = world->zoneCount;
        Ref<TZone> back = TZone::Load(Path("z.plz"));
        ASSERT_NE(back, nullptr) << seed;
        EXPECT_EQ(world->zoneCount, entries + 1);
        EXPECT_EQ(back->IsActive(), 1);
        EXPECT_EQ(back->ColResponse, &TZone::ColDefault);
        ExpectSameZone(*z, *back);
        back->Save(Path("again.plz"), 0, embed);
        EXPECT_EQ(ReadAll(Path("again.plz")), ReadAll(Path("z.plz"))) << seed;
        if (image && !embed) {
            EXPECT_EQ(ReadAll(Path("again_img.png")), ReadAll(Path("z_img.png")));
        }
        // Copies save as their source does.
        EXPECT_EQ(Saved(*back->Copy(), embed), Saved(*z, embed));
    }
}

// The records write the bytes they hold, so a file read into records is written again as
// it was; only a has-image value whose low 8 bits are 0 becomes 1, as it announces a picture.
TEST_F(ZoneFiles, RecordsWriteTheBytesTheyHold) {
    for (int32_t hasImage : {1, 7, 255, 256}) {
        TZoneFileData d = CollectZone(*RichZone(4, true), 1);
        d.version = 3;
        d.hasImage = hasImage;
        TBankStream w;
        WriteZoneFile(w, d);
        TBankStream r(w.Bytes());
        TZoneFileData back;
        ASSERT_TRUE(ReadZoneFile(r, back, ""));
        EXPECT_TRUE(r.Eof()) << hasImage;
        EXPECT_EQ(back.version, 3);
        EXPECT_EQ(back.hasImage, hasImage == 256 ? 1 : hasImage);
        EXPECT_EQ(back.png, d.png) << hasImage;
    }
}

TEST_F(ZoneFiles, AutomaticGroupsAreDrawnAfreshOnLoading) {
    Ref<TZone> a = TZone::Create({0, 0, 1, 0}, TZone::LINE, 0, -7, 1);
    a->SetColGroup(-7);
    a->Save(Path("auto.plz"), 0, 0);
    TBankStream s(ReadAll(Path("auto.plz")));
    TZoneFileData d;
    ASSERT_TRUE(ReadZoneFile(s, d, ""));
    EXPECT_EQ(d.colGroup, -1);
    const int32_t next = TPhysics::currentWorld->nextColGroup;
    EXPECT_EQ(TZone::Load(Path("auto.plz"))->GetColGroup(), next);
    a->SetColGroup(3);
    a->Save(Path("three.plz"), 0, 0);
    EXPECT_EQ(TZone::Load(Path("three.plz"))->GetColGroup(), 3);
}

TEST_F(ZoneFiles, PicturesInsideOrBesideTheFile) {
    Ref<TZone> z = RichZone(3, true);
    z->Save(Path("inside.plz"), 0, 1);
    z->Save(Path("beside.plz"), 0, 0);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"beside.plz", "beside_img.png", "inside.plz"}));
    // The separate picture is an ordinary PNG of the first frame.
    Ref<TFileStream> png = TFileStream::Open(Path("beside_img.png"), TFileStream::READ);
    Ref<TPixmap> pm = LoadPixmapPNG(*png);
    ASSERT_NE(pm, nullptr);
    EXPECT_EQ(pm->GetPixel(0, 0), 0x80402010u);
    png->Close();

    SetMaskColor(0, 0, 0);
    Ref<TZone> in = TZone::Load(Path("inside.plz"));
    ASSERT_NE(in->ImageGet(), nullptr);
    int32_t r, g, b;
    GetMaskColor(r, g, b);  // the stored mask colour stays set after loading
    EXPECT_EQ(r * 10000 + g * 100 + b, 90203);
    EXPECT_EQ(in->ImageGet()->handle_x, 1.5f);

    // Without its picture the separate file still loads, without image.
    std::filesystem::remove(Path("beside_img.png"));
    Ref<TZone> out = TZone::Load(Path("beside.plz"));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->ImageGet(), nullptr);
    // An image without pixels cannot be written.
    z->ImageGet()->frames.clear();
    EXPECT_THROW(z->Save(Path("nopixels.plz"), 0, 1), TStreamWriteException);
}

// ---------------------------------------------------------------------------------------
// Loading what is not a zone file, saving where nothing can be written

TEST_F(ZoneFiles, WhatIsNotAZoneFileGivesNull) {
    const int32_t entries = world->zoneCount;
    WriteAll(Path("body.plz"), Bytes{'B', '1', '1', '1', 'x', 'y'});
    WriteAll(Path("short.plz"), Bytes{'X', 'Y'});
    EXPECT_EQ(TZone::Load(Path("body.plz")), nullptr);
    EXPECT_EQ(TZone::Load(Path("absent.plz")), nullptr);
    EXPECT_EQ(TZone::Load(dir), nullptr);
    EXPECT_EQ(world->zoneCount, entries);
    EXPECT_THROW(TZone::Load(Path("short.plz")), TStreamReadException);  // not even a whole tag
}

TEST_F(ZoneFiles, BackupsAndCompletedPaths) {
    Ref<TZone> z = TZone::Create(Square(0, 0, 10), TZone::FILL, 0.5f, 2, 3);
    z->Save(Path("ground"), 1, 0);  // ".plz" added
    const Bytes first = ReadAll(Path("ground.plz"));
    EXPECT_EQ(Listing(), std::vector<std::string>{"ground.plz"});
    z->SetName("second");
    z->Save(Path("ground"), 1, 0);  // the backup concerns the completed path
    EXPECT_EQ(ReadAll(Path("ground.plz.bak")), first);
    const Bytes second = ReadAll(Path("ground.plz"));
    EXPECT_NE(second, first);
    z->SetName("third");
    z->Save(Path("ground.plz"), 0, 0);  // no backup: the old one stays
    EXPECT_EQ(ReadAll(Path("ground.plz.bak")), first);
    const Bytes third = ReadAll(Path("ground.plz"));
    z->SetName("fourth");
    z->Save(Path("ground.plz"), 1, 0);
    EXPECT_EQ(ReadAll(Path("ground.plz.bak")), third);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"ground.plz", "ground.plz.bak"}));
}

TEST_F(ZoneFiles, UnwritablePathsRaiseTheWriteErrorAndChangeNothing) {
    Ref<TZone> z = TZone::Create(Square(0, 0, 10), TZone::FILL, 0.5f, 2, 3);
    z->Save(Path("keep.plz"), 1, 0);
    z->Save(Path("keep.plz"), 1, 0);
    const Bytes file = ReadAll(Path("keep.plz")), bak = ReadAll(Path("keep.plz.bak"));
    std::filesystem::create_directory(Path("folder.plz"));
    EXPECT_THROW(z->Save(Path("folder.plz"), 1, 0), TStreamWriteException);
    EXPECT_THROW(z->Save(dir, 1, 0), TStreamWriteException);
    EXPECT_THROW(z->Save(Path("missing/x.plz"), 1, 0), TStreamWriteException);
    EXPECT_THROW(z->Save("/proc/gelsim-zone.plz", 0, 0), TStreamWriteException);
    try {
        z->Save(Path("missing/x"), 0, 0);
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const TStreamWriteException& e) {
        EXPECT_EQ(std::string(e.what()), "Error writing to stream: " + Path("missing/x.plz") + ": No such file or directory");
    }
    z->SetName("changed");
    chmod(dir.c_str(), 0500);
    if (geteuid() != 0) {
        EXPECT_THROW(z->Save(Path("keep.plz"), 1, 0), TStreamWriteException);
    }
    chmod(dir.c_str(), 0700);
    if (geteuid() == 0) return;
    EXPECT_EQ(ReadAll(Path("keep.plz")), file);
    EXPECT_EQ(ReadAll(Path("keep.plz.bak")), bak);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"folder.plz", "keep.plz", "keep.plz.bak"}));
}

// ---------------------------------------------------------------------------------------
// Damaged and hostile files

// A failed load or save names the file and says why: null loads through the thread's
// refusal, the rest through the exception's text.
TEST_F(ZoneFiles, FailedLoadsAndSavesNameTheFileAndTheReason) {
    Ref<TZone> z = TZone::Create(Square(0, 0, 10), TZone::FILL, 0.5f, 2, 3);
    z->Save(Path("good.plz"), 0, 0);
    const Bytes good = ReadAll(Path("good.plz"));
    WriteAll(Path("cut.plz"), Bytes(good.begin(), good.begin() + 30));
    WriteAll(Path("tree.plz"), Bytes(good.begin(), good.end() - 6));
    WriteAll(Path("body.plz"), Bytes{'B', '1', '1', '1', 13, 10});
    std::filesystem::create_directory(Path("folder.plz"));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"absent.plz", Path("absent.plz") + ": no such file"},
        {"folder.plz", Path("folder.plz") + ": is a directory"},
        {"body.plz", Path("body.plz") + ": not a zone file (tag 'B111')"},
        {"cut.plz", "Error reading from stream: " + Path("cut.plz") + ": ends in the coordinates: needs 47 bytes, there are 30"},
        {"tree.plz", "Error reading from stream: " + Path("tree.plz") + ": ends in the quad tree: needs " +
                         std::to_string(good.size() - 5) + " bytes, there are " + std::to_string(good.size() - 6)},
    };
    for (const auto& [file, message] : cases) {
        try {
            EXPECT_EQ(TZone::Load(Path(file)), nullptr) << file;
            EXPECT_EQ(LastLoadRefusal().message, message);
        } catch (const TStreamReadException& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
    }
    for (const auto& [path, message] : std::vector<std::pair<std::string, std::string>>{
             {Path("folder.plz"), Path("folder.plz") + ": is a directory"},
             {Path("missing/x"), Path("missing/x.plz") + ": No such file or directory"}}) {
        try {
            z->Save(path, 1, 0);
            ADD_FAILURE() << path;
        } catch (const TStreamWriteException& e) {
            EXPECT_EQ(std::string(e.what()), "Error writing to stream: " + message);
        }
    }
}

TEST_F(ZoneFiles, EveryCutRaisesTheReadError) {
    for (int32_t embed : {0, 1}) {
        Ref<TZone> z = RichZone(6, true);
        const Bytes full = Saved(*z, embed);
        for (size_t cut = 0; cut < full.size(); ++cut) {
            TBankStream s(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
            TZoneFileData d;
            bool isZone = true;
            EXPECT_THROW(isZone = ReadZoneFile(s, d, ""), TStreamReadException) << "cut at " << cut;
            EXPECT_TRUE(isZone);
        }
        // Through Load too, on a handful of cuts.
        for (size_t cut : {size_t(5), size_t(40), full.size() / 2, full.size() - 1}) {
            WriteAll(Path("cut.plz"), Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
            const int32_t entries = world->zoneCount;
            EXPECT_THROW(TZone::Load(Path("cut.plz")), TStreamReadException) << cut;
            EXPECT_EQ(world->zoneCount, entries);
        }
    }
}

/// The fixed part of a zone file up to the coordinates, with the given count.
Bytes Head(int32_t count) {
    TBankStream s;
    WriteString(s, "ZONE", 4);
    WriteByte(s, 111);
    WriteLine(s, "h");
    WriteInt(s, count);
    return s.Bytes();
}

/// A whole file with 4 coordinates, the given tree record, image part and quad-tree level.
Bytes WithTree(const Bytes& tree, const Bytes& image = Bytes{0}, int32_t level = 3) {
    Bytes f = Head(4);
    TBankStream s;
    for (int32_t i = 0; i < 4; ++i) WriteFloat(s, static_cast<float>(i));
    WriteInt(s, TZone::LOOP);
    for (int32_t i = 0; i < 10; ++i) WriteFloat(s, 1);
    for (int32_t v : {1, 2, level}) WriteInt(s, v);
    WriteFloat(s, 1);
    WriteFloat(s, 1);
    f.insert(f.end(), s.Bytes().begin(), s.Bytes().end());
    f.insert(f.end(), tree.begin(), tree.end());
    f.insert(f.end(), image.begin(), image.end());
    return f;
}

Bytes Leaf() {
    TBankStream s;
    TQuadTree().Write(s);
    return s.Bytes();
}

Bytes ImagePart(const Bytes& png) {
    TBankStream s;
    for (int32_t b : {1, 7, 8, 9, 0}) WriteByte(s, b);
    WriteFloat(s, 2);
    WriteFloat(s, 3);
    WriteByte(s, 1);
    Bytes out = s.Bytes();
    out.insert(out.end(), png.begin(), png.end());
    return out;
}

Bytes SmallPng() {
    TPixmap pm(2, 2);
    pm.SetPixel(1, 1, 0xFF0000FFu);
    TBankStream s;
    SavePixmapPNG(pm, s, 9);
    return s.Bytes();
}

TEST_F(ZoneFiles, HostileCountsAndRecordsAreRefused) {
    struct Row {
        const char* name;
        Bytes file;
        const char* says = "";  // part of the reason given, when it matters
    };
    Bytes deep;
    for (int32_t i = 0; i < 5000; ++i) {
        TBankStream s;
        for (float f : {0.0f, 0.0f, 1.0f, 1.0f}) WriteFloat(s, f);
        WriteInt(s, 1);
        deep.insert(deep.end(), s.Bytes().begin(), s.Bytes().end());
    }
    Bytes fiveKids = Leaf();
    fiveKids[16] = 5;
    Bytes hugeChunk = SmallPng();
    hugeChunk[8] = 0x7F;  // the header chunk claims 2 GB
    const Row rows[] = {
        {"coordinate count near 2^31", Head(INT32_MAX - 1)},
        {"negative coordinate count", Head(-4)},
        {"uneven coordinate count", Head(5)},
        {"a single vertex", Head(2)},
        {"no vertices", Head(0)},
        {"tree nested far too deep", WithTree(deep)},
        {"a node with five children", WithTree(fiveKids)},
        {"a quad-tree level one above the deepest", WithTree(Leaf(), Bytes{0}, TQuadTree::MAX_LEVEL + 1),
         "quad-tree level 11 is above the deepest level built, 10"},
        {"the largest quad-tree level", WithTree(Leaf(), Bytes{0}, INT32_MAX), "level 2147483647"},
        {"a picture chunk larger than the file", WithTree(Leaf(), ImagePart(hugeChunk))},
    };
    for (const Row& row : rows) {
        WriteAll(Path("bad.plz"), row.file);
        const int32_t entries = world->zoneCount;
        try {
            TZone::Load(Path("bad.plz"));
            ADD_FAILURE() << row.name << " loaded";
        } catch (const TStreamReadException& e) {
            EXPECT_NE(std::string(e.what()).find(row.says), std::string::npos) << row.name << ": " << e.what();
        }
        EXPECT_EQ(world->zoneCount, entries) << row.name;
    }
    // The same file with a sound tree and picture, at the deepest level, loads.
    WriteAll(Path("good.plz"), WithTree(Leaf(), ImagePart(SmallPng()), TQuadTree::MAX_LEVEL));
    Ref<TZone> z = TZone::Load(Path("good.plz"));
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(z->GetQTLevel(), TQuadTree::MAX_LEVEL);
    ASSERT_NE(z->ImageGet(), nullptr);
    EXPECT_EQ(z->ImageGet()->handle_y, 3.0f);
    EXPECT_EQ(z->ImageGet()->flags, 0);
}

// The picture is the last item of a zone file: whatever is wrong with it, the zone has
// been read whole by then and loads without image. Only a file cut inside what is still a
// sound PNG is a file that ends early.
TEST_F(ZoneFiles, ADamagedPictureLoadsTheZoneWithoutImage) {
    struct Row {
        const char* name;
        Bytes png;
    };
    Bytes badCrc = SmallPng();
    badCrc[badCrc.size() - 20] ^= 0x55;  // inside the compressed data: framing intact
    Bytes badSignature = SmallPng();
    badSignature[1] = 'Q';
    Bytes impossibleChunk = SmallPng();
    impossibleChunk[8] = 0x80;  // the header chunk claims more than any PNG chunk may hold
    const std::string text = "no picture";
    const Row rows[] = {
        {"a wrong checksum", badCrc},
        {"a wrong signature", badSignature},
        {"a chunk length no PNG can have", impossibleChunk},
        {"text", Bytes(text.begin(), text.end())},
        {"a single byte", Bytes{0x00}},
    };
    for (const Row& row : rows) {
        const Bytes file = WithTree(Leaf(), ImagePart(row.png), 4);
        // The reader takes the rest of the file as the picture, as stored.
        TBankStream s(file);
        TZoneFileData d;
        ASSERT_TRUE(ReadZoneFile(s, d, "")) << row.name;
        EXPECT_EQ(d.png, row.png) << row.name;
        EXPECT_TRUE(s.Eof()) << row.name;

        WriteAll(Path("damaged.plz"), file);
        SetMaskColor(0, 0, 0);
        Ref<TZone> z = TZone::Load(Path("damaged.plz"));
        ASSERT_NE(z, nullptr) << row.name;
        EXPECT_EQ(z->ImageGet(), nullptr) << row.name;
        int32_t r, g, b;
        GetMaskColor(r, g, b);
        EXPECT_EQ(r * 10000 + g * 100 + b, 70809) << row.name;  // set before the picture was tried
        // Everything before the picture is the zone as stored.
        EXPECT_EQ(z->origArea, (Floats{0, 1, 2, 3})) << row.name;
        EXPECT_EQ(z->GetQTLevel(), 4) << row.name;
        EXPECT_EQ(z->GetColGroup(), 2) << row.name;
        ASSERT_NE(z->quadTree, nullptr);
        EXPECT_TRUE(z->quadTree->SameAs(TQuadTree())) << row.name;
        EXPECT_TRUE(z->IsActive()) << row.name;
        z->Draw();  // the outline instead
        z->Free();
    }
}

TEST_F(ZoneFiles, StoredValuesAreKeptAsStoredAndUsedSafely) {
    // A tree that does not match the vertices is used unchanged; a zone whose stored
    // values are nonsense still collides, draws, turns and saves without fault.
    Bytes f = WithTree(Leaf());
    TBankStream s(f);
    TZoneFileData d;
    ASSERT_TRUE(ReadZoneFile(s, d, ""));
    d.friction = -2;
    d.scaleX = kNaN;
    d.red = kInf;
    d.style = 9;
    d.qtLevel = INT32_MIN;
    TBankStream w;
    WriteZoneFile(w, d);
    WriteAll(Path("odd.plz"), w.Bytes());
    Ref<TZone> z = TZone::Load(Path("odd.plz"));
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(z->GetFriction(), -2.0f);
    EXPECT_EQ(z->quadTree->NodeCount(), 1);
    Ref<TMass> m = Disc(1, 1, 3);
    z->Collide(m.Get());
    z->Draw();
    z->SetStyle(TZone::LOOP);
    z->Rotate(10);  // rebuilds with the stored level: one leaf
    z->SetScale(1, 1);
    EXPECT_EQ(z->quadTree->NodeCount(), 1);
    z->Collide(m.Get());
    EXPECT_TRUE(std::isfinite(m->posX) && std::isfinite(m->posY));
    z->Save(Path("odd2.plz"), 0, 0);
    EXPECT_NE(TZone::Load(Path("odd2.plz")), nullptr);
}

// Random damage: every mutation loads or raises the read error; whatever loads can be
// used and saved.
TEST_F(ZoneFiles, RandomDamageLoadsOrRaisesTheReadError) {
    const Bytes valid = Saved(*RichZone(5, true), 1);
    std::mt19937 rng(4242);
    auto pick = [&](size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(rng) : size_t(0); };
    static const uint32_t kExtremes[] = {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0, 1, 5, 4096, 0x7FC00000u};
    int32_t loaded = 0, refused = 0;
    for (int32_t i = 0; i < 3000; ++i) {
        Bytes f = valid;
        for (int32_t e = 1 + static_cast<int32_t>(pick(3)); e > 0 && !f.empty(); --e) {
            switch (pick(4)) {
                case 0: f[pick(f.size())] ^= static_cast<uint8_t>(1u << pick(8)); break;
                case 1: {
                    if (f.size() < 4) break;
                    const size_t at = pick(f.size() - 3);
                    const uint32_t v = kExtremes[pick(std::size(kExtremes))];
                    for (size_t k = 0; k < 4; ++k) f[at + k] = static_cast<uint8_t>(v >> (8 * k));
                    break;
                }
                case 2: f.resize(pick(f.size())); break;
                default: f.insert(f.begin() + static_cast<std::ptrdiff_t>(pick(f.size())), static_cast<uint8_t>(rng()));
            }
        }
        try {
            TBankStream s(f);
            TZoneFileData d;
            if (!ReadZoneFile(s, d, "")) {
                ++refused;
                continue;
            }
            Ref<TZone> z = BuildZone(d, TZoneBuild::LOAD);
            z->Activate();
            Ref<TMass> m = Disc(0, 0, 10);
            z->Collide(m.Get());
            z->Draw();
            z->DrawQuadTree(0);
            Saved(*z, 1);
            z->Free();
            ++loaded;
        } catch (const TStreamReadException&) {
            ++refused;
        } catch (const std::exception& e) {
            FAIL() << "mutation " << i << " raised " << e.what();
        }
    }
    EXPECT_GT(loaded, 300);
    EXPECT_GT(refused, 300);
}

}  // namespace
}  // namespace kin::gelsim::test
