// Body files: the byte layout, round trips, older versions, saving safely, damaged and
// hostile files, and copying.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <cstring>
#include <random>

#include "gelsim/io/RecordFile.h"
#include "platform/Png.h"
#include "tests/support/BodyFixture.h"
#include "tests/support/CountingAllocator.h"

namespace kin::gelsim::test {
namespace {

using kin::test::MeasureHeap;
using kin::test::THeapUse;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

/// Bytes written by f through the stream primitives.
Bytes Written(const std::function<void(TStream&)>& f) {
    TBankStream s;
    f(s);
    return s.Bytes();
}

Bytes Png(int32_t w, int32_t h, uint32_t rgba) {
    TBankStream s;
    SavePixmapPNG(*SolidImage(w, h, rgba)->frames[0], s, 9);
    return s.Bytes();
}

/// Reads records from bytes (no file needed).
TBodyFileData Parse(const Bytes& b) {
    TBankStream s(b.data(), static_cast<int64_t>(b.size()));
    TBodyFileData d;
    EXPECT_TRUE(ReadBodyFile(s, d, ""));
    return d;
}

class BodyFiles : public BodyWorld {};

// ---------------------------------------------------------------------------------------
// The layout, byte for byte.

TEST_F(BodyFiles, AnEmptyBodyIsTheseBytes) {
    TAdvBody::Create()->Save(Path("empty.plb"), 0, 0);
    const Bytes expected = {0x42, 0x31, 0x31, 0x31, 0x42, 0x6F, 0x64, 0x79, 0x0D, 0x0A, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF,
                            0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0,
                            0, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(ReadAll(Path("empty.plb")), expected);
    Ref<TAdvBody> back = TAdvBody::Load(Path("empty.plb"), 0);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->GetName(), "Body");
    EXPECT_EQ(back->MassMaxIndex() + back->ConMaxIndex() + back->ImageMaxIndex() + back->RigMaxIndex(), -4);
}

TEST_F(BodyFiles, AMassRecordIsTheseBytes) {
    Ref<TAdvBody> b = TAdvBody::Create();
    b->MassAdd(482.0f, 3906.0f, 10.0f, 10.0f, 1.0f, 1);
    b->Save(Path("one.plb"), 0, 0);
    const Bytes record = {0, 0, 0, 0, 0x00, 0x00, 0xF1, 0x43, 0x00, 0x20, 0x74, 0x45, 0x00, 0x00, 0x20, 0x41,
                          0x00, 0x00, 0x20, 0x41, 0x00, 0x00, 0x80, 0x3F, 0x01, 0, 0, 0, 0x4D, 0x61, 0x73, 0x73,
                          0x0D, 0x0A, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes file = ReadAll(Path("one.plb"));
    ASSERT_GE(file.size(), 14 + record.size());
    EXPECT_EQ(Bytes(file.begin() + 10, file.begin() + 14), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(Bytes(file.begin() + 14, file.begin() + 14 + record.size()), record);
}

TEST_F(BodyFiles, HolesAreAbsentRecordsAndComeBackAsHoles) {
    Ref<TAdvBody> b = TAdvBody::Create();
    for (int32_t i = 0; i < 5; ++i) b->MassAdd(10.0f * i, 0, 1, 1, 0, 1);
    b->MassRemove(2);
    b->Save(Path("holes.plb"), 0, 0);
    const TBodyFileData d = Parse(ReadAll(Path("holes.plb")));
    EXPECT_EQ(d.massCount, 5);
    ASSERT_EQ(d.masses.size(), 4u);
    EXPECT_EQ(d.masses[2].index, 3);
    Ref<TAdvBody> back = TAdvBody::Load(Path("holes.plb"), 0);
    EXPECT_EQ(back->MassMaxIndex(), 4);
    EXPECT_EQ(back->MassExists(2), 0);
    EXPECT_EQ(back->MassGetX(3), 30.0f);
    EXPECT_EQ(back->MassGet(4)->index, 4);
    EXPECT_EQ(back->mArray.size(), 5u);  // exactly the count
}

// ---------------------------------------------------------------------------------------
// Round trips.

class RoundTrip : public BodyFiles, public ::testing::WithParamInterface<int32_t> {};

TEST_P(RoundTrip, SaveLoadSaveGivesTheSameBytes) {
    const int32_t embed = GetParam();
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        Ref<TAdvBody> b = RandomBody(seed);
        b->Save(Path("a.plb"), 0, embed);
        Ref<TAdvBody> back = TAdvBody::Load(Path("a.plb"), 1);
        ASSERT_NE(back, nullptr) << seed;
        back->Save(Path("b.plb"), 0, embed);
        ASSERT_EQ(ReadAll(Path("a.plb")), ReadAll(Path("b.plb"))) << "seed " << seed;
        for (int32_t k = 0; k < back->iIndex; ++k)
            if (!embed && back->ImageExists(k)) {
                EXPECT_EQ(ReadAll(Path("a_img" + std::to_string(k) + ".png")),
                          ReadAll(Path("b_img" + std::to_string(k) + ".png")));
            }
        EXPECT_EQ(back->MassMaxIndex(), b->MassMaxIndex());
        EXPECT_EQ(back->RigMaxIndex(), b->RigMaxIndex());
    }
}

INSTANTIATE_TEST_SUITE_P(Pictures, RoundTrip, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param ? "Embedded" : "Beside"; });

// ---------------------------------------------------------------------------------------
// Sparse tables: counts far above the entries that are left.

/// A body whose tables grew large and were then mostly emptied again: of `added` masses only
/// `kept` stay, at random places (the last entries left or removed), with constraints,
/// images and rigs thinned out the same way.
Ref<TAdvBody> SparseBody(uint32_t seed, int32_t added, int32_t kept) {
    std::mt19937 rng(seed);
    auto ui = [&](int32_t a, int32_t b) { return std::uniform_int_distribution<int32_t>(a, b)(rng); };
    Ref<TAdvBody> b = TAdvBody::Create();
    for (int32_t i = 0; i < added; ++i)
        b->MassAdd(static_cast<float>(i % 1000), static_cast<float>(i / 1000), 1, 5, 0.5f, 1);
    std::vector<int32_t> order(static_cast<size_t>(added));
    for (int32_t i = 0; i < added; ++i) order[static_cast<size_t>(i)] = i;
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<int32_t> live(order.begin(), order.begin() + kept);
    // One draw per statement (a call's arguments come in the compiler's order), the last
    // argument's first as when these bodies were first made.
    auto anyLive = [&]() { return live[static_cast<size_t>(ui(0, kept - 1))]; };
    for (int32_t i = 0; i < kept * 8; ++i) {
        const int32_t m2 = anyLive(), m1 = anyLive();
        b->ConAdd(m1, m2, -1, 0.5f);
    }
    for (int32_t i = 0; i < 30; ++i) b->ImageAdd(SolidImage(1, 1, 0x01020300u + static_cast<uint32_t>(i)).Get());
    for (int32_t i = 0; i < kept * 3; ++i) {
        const int32_t con = ui(-1, b->cIndex - 1), mass = anyLive(), image = ui(0, b->iIndex - 1);
        b->RigAdd(image, mass, con, 0);
    }
    for (int32_t i = 0; i < b->rIndex; ++i)
        if (ui(0, 3) != 0) b->RigRemove(i);
    for (int32_t i = 0; i < b->iIndex; ++i)
        if (ui(0, 4) != 0) b->ImageRemove(i);
    for (int32_t i = 0; i < b->cIndex; ++i)
        if (ui(0, 5) != 0) b->ConRemove(i);
    std::vector<uint8_t> keep(static_cast<size_t>(added), 0);
    for (int32_t i : live) keep[static_cast<size_t>(i)] = 1;
    for (int32_t i = 0; i < added; ++i)
        if (!keep[static_cast<size_t>(i)]) b->MassRemove(i);
    return b;
}

/// Whether two bodies answer alike for every index of every table (and one past the end).
void ExpectSameTables(TAdvBody& a, TAdvBody& b) {
    ASSERT_EQ(a.MassMaxIndex(), b.MassMaxIndex());
    ASSERT_EQ(a.ConMaxIndex(), b.ConMaxIndex());
    ASSERT_EQ(a.ImageMaxIndex(), b.ImageMaxIndex());
    ASSERT_EQ(a.RigMaxIndex(), b.RigMaxIndex());
    for (int32_t i = -1; i <= a.MassMaxIndex() + 1; ++i) ASSERT_EQ(a.MassExists(i), b.MassExists(i)) << i;
    for (int32_t i = -1; i <= a.ConMaxIndex() + 1; ++i) ASSERT_EQ(a.ConExists(i), b.ConExists(i)) << i;
    for (int32_t i = -1; i <= a.ImageMaxIndex() + 1; ++i) ASSERT_EQ(a.ImageExists(i), b.ImageExists(i)) << i;
    for (int32_t i = -1; i <= a.RigMaxIndex() + 1; ++i) ASSERT_EQ(a.RigExists(i), b.RigExists(i)) << i;
}

// A body that was grown and mostly emptied loads as it was saved, and from then on behaves
// exactly like the body that wrote it: the same answers, the same new indices, the same
// bytes when saved again, also after adding to both or compacting both.
TEST_F(BodyFiles, SparseBodiesLoadAndBehaveAsTheBodyThatSavedThem) {
    struct Shape {
        int32_t added, kept;
    };
    for (const Shape shape : {Shape{20000, 100}, Shape{5000, 1}, Shape{3000, 40}, Shape{700, 0}}) {
        Ref<TAdvBody> b = SparseBody(static_cast<uint32_t>(shape.added), shape.added, shape.kept);
        b->Save(Path("a.plb"), 0, 1);
        const Bytes saved = ReadAll(Path("a.plb"));
        Ref<TAdvBody> back;
        const THeapUse use = MeasureHeap([&] { back = TAdvBody::Load(Path("a.plb"), 1); });
        ASSERT_NE(back, nullptr);
        std::printf("%d masses added, %d kept: a file of %zu bytes, loading peaks at %lld bytes, holds %lld\n",
                    shape.added, shape.kept, saved.size(), use.peak, use.held);
        // The reader's own fixed needs (the picture decoder's state) come on top of the share
        // that grows with the file.
        EXPECT_LT(use.peak, 16 * static_cast<long long>(saved.size()) + 65536);
        ExpectSameTables(*b, *back);
        back->Save(Path("b.plb"), 0, 1);
        ASSERT_EQ(ReadAll(Path("b.plb")), saved) << shape.added;

        Ref<TImage> img = SolidImage(2, 1);
        std::vector<int32_t> added[2];
        for (int32_t k = 0; k < 2; ++k) {
            TAdvBody& t = k == 0 ? *b : *back;
            int32_t first = 0;
            while (first <= t.MassMaxIndex() && !t.MassExists(first)) ++first;
            const int32_t m = t.MassAdd(1, 2, 3, 4, 0.5f, 2);
            const int32_t c = t.ConAdd(m, first, -1, 1);
            const int32_t i = t.ImageAdd(img.Get());
            added[k] = {m, c, i, t.RigAdd(i, m, c, 5)};
        }
        EXPECT_EQ(added[0][0], shape.added);  // behind every index handed out, never into a hole
        EXPECT_EQ(added[0], added[1]);
        ExpectSameTables(*b, *back);
        b->Save(Path("a.plb"), 0, 1);
        back->Save(Path("b.plb"), 0, 1);
        ASSERT_EQ(ReadAll(Path("a.plb")), ReadAll(Path("b.plb"))) << shape.added;

        b->CleanIndex();
        back->CleanIndex();
        ExpectSameTables(*b, *back);
        b->Save(Path("a.plb"), 0, 1);
        back->Save(Path("b.plb"), 0, 1);
        ASSERT_EQ(ReadAll(Path("a.plb")), ReadAll(Path("b.plb"))) << shape.added;
        b->Free();
        back->Free();
    }
}

TEST_F(BodyFiles, NegativeGroupsAreTranslatedConsistently) {
    Ref<TAdvBody> b = TAdvBody::Create();
    for (int32_t g : {-5, -5, -7, 3}) b->MassAdd(0, 0, 1, 1, 0, g);
    b->Save(Path("g.plb"), 0, 0);
    const int32_t next = TPhysics::currentWorld->nextColGroup;
    Ref<TAdvBody> back = TAdvBody::Load(Path("g.plb"), 0);
    EXPECT_EQ(back->MassGetColGroup(0), next);
    EXPECT_EQ(back->MassGetColGroup(1), next);
    EXPECT_EQ(back->MassGetColGroup(2), next - 1);
    EXPECT_EQ(back->MassGetColGroup(3), 3);
}

// ---------------------------------------------------------------------------------------
// Files written by hand: older versions and stored details.

void MassRecord(TStream& s, int32_t index, float x, float y, const std::string& name, int32_t frozen = 0,
                float vx = 0) {
    WriteInt(s, index);
    for (float v : {x, y, 2.0f, 5.0f, 0.5f}) WriteFloat(s, v);
    WriteInt(s, 1);
    WriteLine(s, name);
    WriteByte(s, frozen);
    WriteFloat(s, vx);
    WriteFloat(s, 0);
}

Bytes OldFile(const std::string& tag) {
    return Written([&](TStream& s) {
        WriteString(s, tag, 4);
        WriteLine(s, "old");
        WriteInt(s, 2);
        MassRecord(s, 0, 10, 20, "m0");
        MassRecord(s, 1, 40, 20, "m1");
        WriteInt(s, -1);
        WriteInt(s, 1);
        WriteInt(s, 0);
        WriteInt(s, 0);
        WriteInt(s, 1);
        WriteFloat(s, 0);  // rest length 0: the present distance
        WriteFloat(s, 0.5f);
        WriteLine(s, "c0");
        WriteInt(s, -1);
        WriteInt(s, 1);  // no images-embedded byte before version 111
        WriteInt(s, 0);
        for (int32_t v : {1, 2, 3, 6}) WriteByte(s, v);
        WriteFloat(s, 1.5f);
        WriteFloat(s, 0.5f);
        WriteInt(s, -1);
        WriteInt(s, 1);
        WriteInt(s, 0);
        WriteInt(s, 0);
        WriteInt(s, 1);
        WriteInt(s, 0);
        WriteFloat(s, 45);
        if (tag != "BODY") {
            WriteFloat(s, 2);
            WriteFloat(s, 3);
            for (int32_t v : {255, 0, 51}) WriteByte(s, v);
            WriteFloat(s, 0.25f);
            WriteByte(s, 4);
        }
        WriteLine(s, "r0");
        WriteInt(s, -1);
    });
}

TEST_F(BodyFiles, OlderVersionsLoadWithSeparatePictures) {
    WriteAll(Path("old_img0.png"), Png(4, 2, 0xFF0000FFu));
    for (const std::string tag : {"BODY", "B110"}) {
        WriteAll(Path("old.plb"), OldFile(tag));
        Ref<TAdvBody> b = TAdvBody::Load(Path("old.plb"), 1);
        ASSERT_NE(b, nullptr) << tag;
        EXPECT_EQ(b->GetName(), "old");
        EXPECT_EQ(b->MassGetName(1), "m1");
        EXPECT_EQ(b->ConGetRestLength(0), 30.0f);
        EXPECT_EQ(b->MassIsActive(0), 1);
        ASSERT_EQ(b->ImageExists(0), 1) << tag;
        EXPECT_EQ(b->ImageGet(0)->width, 4);
        EXPECT_EQ(b->ImageGet(0)->flags, 6);
        EXPECT_EQ(b->ImageGet(0)->handle_x, 1.5f);
        EXPECT_EQ(b->RigGetImage(0), 0);
        EXPECT_EQ(b->RigGetConstraint(0), 0);
        EXPECT_EQ(b->RigGetName(0), "r0");
        float sx = 0, sy = 0;
        b->RigGetScale(0, sx, sy);
        int32_t r = 0, g = 0, bl = 0;
        b->RigGetColor(0, r, g, bl);
        if (tag == "BODY") {
            EXPECT_EQ(sx, 1.0f);
            EXPECT_EQ(r + g + bl, 3 * 255);
            EXPECT_EQ(b->RigGetBlend(0), 1);
        } else {
            EXPECT_EQ(sy, 3.0f);
            EXPECT_EQ(g, 0);
            EXPECT_EQ(bl, 51);
            EXPECT_EQ(b->RigGetAlpha(0), 0.25f);
            EXPECT_EQ(b->RigGetBlend(0), 4);
        }
        int32_t mr, mg, mb;
        GetMaskColor(mr, mg, mb);
        EXPECT_EQ(mr * 10000 + mg * 100 + mb, 10203);  // the last image's mask stays set
    }
}

TEST_F(BodyFiles, StoredDetailsAsTheReaderSeesThem) {
    WriteAll(Path("d.plb"), Written([](TStream& s) {
                 WriteString(s, "B111", 4);
                 WriteLine(s, "a\rb");  // CR dropped on reading
                 WriteInt(s, 1);
                 MassRecord(s, 0, 5, 5, "frozen", 7, 9.0f);  // any non-zero byte: frozen, and at rest
                 for (int32_t v : {-1, 0, -1}) WriteInt(s, v);
                 WriteByte(s, 0);
                 for (int32_t v : {0, -1, 0, -1}) WriteInt(s, v);
             }));
    Ref<TAdvBody> b = TAdvBody::Load(Path("d.plb"), 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->GetName(), "ab");
    EXPECT_EQ(b->MassIsFrozen(0), 1);
    EXPECT_EQ(b->MassGetVX(0), 0.0f);

    WriteAll(Path("x.plb"), Bytes{'X', 'Y', 'Z', 'W', 0, 0});
    const int32_t ids = world->bodyCount;
    EXPECT_EQ(TAdvBody::Load(Path("x.plb"), 0), nullptr);
    EXPECT_EQ(TAdvBody::Load(Path("absent.plb"), 0), nullptr);
    EXPECT_EQ(TAdvBody::Load(dir, 0), nullptr);
    EXPECT_EQ(world->bodyCount, ids);  // nothing was made
}

// ---------------------------------------------------------------------------------------
// Saving: backups, completed paths, and failures that leave everything as it was.

TEST_F(BodyFiles, BackupKeepsThePreviousContents) {
    Ref<TAdvBody> b = TAdvBody::Create();
    b->Save(Path("slime.plb"), 1, 1);
    const Bytes first = ReadAll(Path("slime.plb"));
    EXPECT_EQ(Listing(), std::vector<std::string>{"slime.plb"});
    b->MassAdd(1, 2, 3, 4, 0, 1);
    b->Save(Path("slime.plb"), 1, 1);
    EXPECT_EQ(ReadAll(Path("slime.plb.bak")), first);
    const Bytes second = ReadAll(Path("slime.plb"));
    b->Save(Path("slime.plb"), 0, 1);  // no backup: the old backup stays
    EXPECT_EQ(ReadAll(Path("slime.plb.bak")), first);
    b->Save(Path("slime.plb"), 1, 1);
    EXPECT_EQ(ReadAll(Path("slime.plb.bak")), second);
}

TEST_F(BodyFiles, APathWithoutExtensionIsCompletedBeforeAnythingElse) {
    Ref<TAdvBody> b = TAdvBody::Create();
    b->Save(Path("mybody"), 1, 0);
    const Bytes first = ReadAll(Path("mybody.plb"));
    b->SetName("second");
    b->Save(Path("mybody"), 1, 0);
    EXPECT_EQ(ReadAll(Path("mybody.plb.bak")), first);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"mybody.plb", "mybody.plb.bak"}));
    EXPECT_NE(TAdvBody::Load(Path("mybody.plb"), 0), nullptr);
}

TEST_F(BodyFiles, UnwritablePathsRaiseTheWriteError) {
    Ref<TAdvBody> b = TAdvBody::Create();
    std::filesystem::create_directory(Path("folder.plb"));
    EXPECT_THROW(b->Save(Path("folder.plb"), 1, 1), TStreamWriteException);
    EXPECT_THROW(b->Save(dir, 1, 1), TStreamWriteException);
    EXPECT_THROW(b->Save(Path("missing/x.plb"), 1, 1), TStreamWriteException);
    EXPECT_THROW(b->Save("/proc/gelsim-body.plb", 0, 0), TStreamWriteException);  // refused even to the superuser
    try {
        b->Save(Path("missing/x.plb"), 0, 0);
    } catch (const TStreamWriteException& e) {
        EXPECT_EQ(std::string(e.what()), "Error writing to stream: " + Path("missing/x.plb") + ": No such file or directory");
    }
    EXPECT_EQ(Listing(), std::vector<std::string>{"folder.plb"});
}

// Every failed load or save says which file and why: a null load through the thread's
// refusal, a raised one through its message.
TEST_F(BodyFiles, FailedLoadsAndSavesNameTheFileAndTheReason) {
    Ref<TAdvBody> b = RandomBody(3);
    b->Save(Path("good.plb"), 0, 1);
    const Bytes good = ReadAll(Path("good.plb"));
    WriteAll(Path("zone.plb"), Bytes{'Z', 'O', 'N', 'E', 1, 2});
    WriteAll(Path("odd.plb"), Bytes{0x89, 'P', '\'', 0});
    WriteAll(Path("short.plb"), Bytes{'B', 'O'});
    WriteAll(Path("cut.plb"), Bytes(good.begin(), good.begin() + 20));
    WriteAll(Path("locked.plb"), good);
    chmod(Path("locked.plb").c_str(), 0);
    std::filesystem::create_directory(Path("folder.plb"));
    ASSERT_EQ(mkfifo(Path("pipe.plb").c_str(), 0600), 0);
    const bool root = geteuid() == 0;  // never refused for permissions

    struct LoadCase {
        std::string file, message;  // message: the refusal, or the exception's text
        bool raises;
    };
    const std::vector<LoadCase> loads = {
        {"absent.plb", Path("absent.plb") + ": no such file", false},
        {"folder.plb", Path("folder.plb") + ": is a directory", false},
        {"zone.plb", Path("zone.plb") + ": not a body file (tag 'ZONE')", false},
        {"odd.plb", Path("odd.plb") + ": not a body file (tag '\\x89P\\x27\\x00')", false},
        {"short.plb", "Error reading from stream: " + Path("short.plb") + ": ends in the tag: needs 4 bytes, there are 2", true},
        {"cut.plb", "Error reading from stream: " + Path("cut.plb") + ": ends in mass record 0: needs 21 bytes, there are 20",
         true},
        {"locked.plb", root ? "" : Path("locked.plb") + ": Permission denied", false},
    };
    for (const LoadCase& c : loads) {
        if (c.message.empty()) continue;
        try {
            EXPECT_EQ(TAdvBody::Load(Path(c.file), 0), nullptr) << c.file;
            EXPECT_FALSE(c.raises) << c.file;
            EXPECT_EQ(LastLoadRefusal().message, c.message);
        } catch (const TStreamReadException& e) {
            EXPECT_TRUE(c.raises) << c.file;
            EXPECT_EQ(std::string(e.what()), c.message);
            EXPECT_EQ(LastLoadRefusal().message, "");
        }
    }
    EXPECT_NE(TAdvBody::Load(Path("good.plb"), 0), nullptr);
    EXPECT_EQ(LastLoadRefusal().message, "");

    struct SaveCase {
        std::string path, message;
    };
    const std::string relative = std::filesystem::relative(Path("folder.plb")).string();
    const std::vector<SaveCase> saves = {
        {Path("folder.plb"), Path("folder.plb") + ": is a directory"},
        {relative, relative + ": is a directory"},
        {Path("missing/x"), Path("missing/x.plb") + ": No such file or directory"},
        {Path("folder.plb/../missing/x.plb"), Path("folder.plb/../missing/x.plb") + ": No such file or directory"},
        {Path("pipe.plb"), Path("pipe.plb") + ": not a regular file"},
    };
    for (const SaveCase& c : saves) {
        try {
            b->Save(c.path, 1, 1);
            ADD_FAILURE() << c.path;
        } catch (const TStreamWriteException& e) {
            EXPECT_EQ(std::string(e.what()), "Error writing to stream: " + c.message);
        }
    }
    // A device that refuses bytes (a full disk, here a file-size limit) gives the system's reason.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 16;
    void (*oldSignal)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string what;
    try {
        b->Save(Path("big.plb"), 1, 1);
    } catch (const TStreamWriteException& e) {
        what = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldSignal);
    EXPECT_EQ(what, "Error writing to stream: " + Path("big.plb") + ": File too large");
    if (!root) {
        chmod(dir.c_str(), 0500);
        try {
            b->Save(Path("good.plb"), 1, 1);
            ADD_FAILURE() << "saved into a read-only folder";
        } catch (const TStreamWriteException& e) {
            EXPECT_EQ(std::string(e.what()), "Error writing to stream: " + Path("good.plb") + ": Permission denied");
        }
        chmod(dir.c_str(), 0700);
    }
}

TEST_F(BodyFiles, AFailedSaveLeavesTheFileAndItsBackupAsTheyWere) {
    Ref<TAdvBody> b = TAdvBody::Create();
    b->Save(Path("keep.plb"), 1, 1);
    b->Save(Path("keep.plb"), 1, 1);
    const Bytes file = ReadAll(Path("keep.plb")), bak = ReadAll(Path("keep.plb.bak"));
    // An image without pixels cannot be written.
    b->ImageAdd(SolidImage(2, 2).Get());
    b->ImageGet(0)->frames.clear();
    EXPECT_THROW(b->Save(Path("keep.plb"), 1, 1), TStreamWriteException);
    // A folder that refuses new files (unless we are the superuser, who is never refused).
    b->ImageRemove(0);
    b->MassAdd(0, 0, 1, 1, 0, 1);
    chmod(dir.c_str(), 0500);
    if (geteuid() != 0) {
        EXPECT_THROW(b->Save(Path("keep.plb"), 1, 1), TStreamWriteException);
    }
    chmod(dir.c_str(), 0700);
    if (geteuid() == 0) return;
    EXPECT_EQ(ReadAll(Path("keep.plb")), file);
    EXPECT_EQ(ReadAll(Path("keep.plb.bak")), bak);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"keep.plb", "keep.plb.bak"}));  // no temporary left
}

// ---------------------------------------------------------------------------------------
// Damaged and hostile files: an error naming the fault, or an empty entry; never more.

Bytes Header(int32_t masses) {
    return Written([&](TStream& s) {
        WriteString(s, "B111", 4);
        WriteLine(s, "h");
        WriteInt(s, masses);
    });
}
Bytes Ints(std::initializer_list<int32_t> v) {
    return Written([&](TStream& s) {
        for (int32_t i : v) WriteInt(s, i);
    });
}
Bytes Mass(int32_t index) { return Written([&](TStream& s) { MassRecord(s, index, 0, 0, "m"); }); }
Bytes Con(int32_t index, int32_t m1, int32_t m2) {
    return Written([&](TStream& s) {
        WriteInt(s, index);
        WriteInt(s, m1);
        WriteInt(s, m2);
        WriteFloat(s, 10);
        WriteFloat(s, 1);
        WriteLine(s, "c");
    });
}
Bytes Image(int32_t index, const Bytes& png) {
    return Concat({Ints({index}), Bytes{0, 0, 0, 0}, Ints({0, 0}), png});
}
Bytes Rig(int32_t index, int32_t image, int32_t mass, int32_t con) {
    return Written([&](TStream& s) {
        for (int32_t v : {index, image, mass, con}) WriteInt(s, v);
        for (float v : {0.0f, 1.0f, 1.0f}) WriteFloat(s, v);
        for (int32_t v : {255, 255, 255}) WriteByte(s, v);
        WriteFloat(s, 1);
        WriteByte(s, 1);
        WriteLine(s, "r");
    });
}
/// b without its last n bytes.
Bytes Cut(Bytes b, size_t n) {
    b.resize(b.size() - n);
    return b;
}
/// A file with one mass; cons, image and rig parts supplied by the case.
Bytes Hostile(const Bytes& cons, const Bytes& images, const Bytes& rigs) {
    return Concat({Header(1), Mass(0), Ints({-1}), cons, Bytes{1}, images, rigs});
}
const Bytes kNoCons = Ints({0, -1}), kNoImages = Ints({0, -1}), kNoRigs = Ints({0, -1});

/// A PNG whose header claims w x h, with a correct header CRC and a tiny data chunk.
Bytes ClaimedSize(uint32_t w, uint32_t h) {
    Bytes png = Png(1, 1, 0xFFFFFFFFu);
    auto put = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) png[at + k] = static_cast<uint8_t>(v >> (24 - 8 * k));
    };
    put(16, w);
    put(20, h);
    put(29, static_cast<uint32_t>(crc32(0, png.data() + 12, 17)));
    return png;
}

struct HostileCase {
    const char* name;
    Bytes file;
    const char* error;  // substring of the format error, or with ends the read error's reason
    bool ends = false;  // the data ends early: the read error naming the file, the record and the bytes
};

class HostileFiles : public BodyFiles, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileFiles, RaiseAClearError) {
    WriteAll(Path("h.plb"), GetParam().file);
    try {
        TAdvBody::Load(Path("h.plb"), 1);
        ADD_FAILURE() << "loaded";
    } catch (const TFileFormatException& e) {
        EXPECT_FALSE(GetParam().ends) << e.what();
        EXPECT_EQ(std::string(e.what()).rfind(Path("h.plb") + ": ", 0), 0u) << e.what();
        EXPECT_NE(std::string(e.what()).find(GetParam().error), std::string::npos) << e.what();
    } catch (const TStreamReadException& e) {
        EXPECT_TRUE(GetParam().ends) << e.what();
        EXPECT_EQ(std::string(e.what()), "Error reading from stream: " + Path("h.plb") + ": " + GetParam().error);
    }
}

Bytes BadChunkLength() {
    Bytes png = Png(1, 1, 0xFFFFFFFFu);
    png[33] = 0x7F;  // the IDAT length
    return png;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileFiles,
    ::testing::Values(
        HostileCase{"NegativeCount", Concat({Header(-3), Ints({-1})}), "mass count -3 is negative"},
        HostileCase{"CountNoTableReaches", Concat({Header(INT32_MAX / 2 + 1), Ints({-1})}),
                    "mass count 1073741824 is more than a table can hold"},
        HostileCase{"HugeRigCount", Hostile(kNoCons, kNoImages, Ints({0x7FFFFFFF, -1})), "rig count"},
        HostileCase{"IndexAtCount", Concat({Header(1), Mass(1)}), "mass record 1 is outside its table of 1"},
        HostileCase{"NegativeIndex", Concat({Header(1), Mass(-2)}), "mass record -2"},
        HostileCase{"Duplicate", Concat({Header(2), Mass(0), Mass(0)}), "duplicate mass record 0"},
        HostileCase{"ConToMissingMass", Hostile(Concat({Ints({1}), Con(0, 0, 5), Ints({-1})}), kNoImages, kNoRigs),
                    "constraint 0 refers to mass 5"},
        HostileCase{"RigToMissingImage", Hostile(kNoCons, kNoImages, Concat({Ints({1}), Rig(0, 0, 0, -1), Ints({-1})})),
                    "rig 0 refers to image 0"},
        HostileCase{"RigToMissingCon",
                    Hostile(kNoCons, Concat({Ints({1}), Image(0, Png(1, 1, ~0u)), Ints({-1})}),
                            Concat({Ints({1}), Rig(0, 0, 0, 3), Ints({-1})})),
                    "rig 0 refers to constraint 3"},
        HostileCase{"NotAPng", Hostile(kNoCons, Concat({Ints({1}), Image(0, Bytes(16, 'x')), Ints({-1})}), kNoRigs),
                    "not a PNG"},
        HostileCase{"ChunkPastTheEnd", Hostile(kNoCons, Concat({Ints({1}), Image(0, BadChunkLength()), Ints({-1})}), kNoRigs),
                    "ends in image record 0: needs 2130706572 bytes, there are 164", true},
        HostileCase{"EndsEarly", Concat({Header(1), Mass(0)}), "ends in the mass table: needs 55 bytes, there are 51", true},
        HostileCase{"EndsInARecord", Cut(Concat({Header(2), Mass(0), Mass(1)}), 3),
                    "ends in mass record 1: needs 91 bytes, there are 88", true}),
    [](const auto& info) { return std::string(info.param.name); });

/// Runs f with the address space capped at what the process maps now plus `room` bytes, so
/// that any larger allocation fails. AddressSanitizer maps its shadow memory up front: there
/// the cap is left out.
void WithAddressSpaceRoom(size_t room, const std::function<void()>& f) {
#if defined(__SANITIZE_ADDRESS__)
    (void)room;
    f();
#else
    size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    rlimit capped = old;
    capped.rlim_cur = std::min<rlim_t>(old.rlim_cur, pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + room);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &capped), 0);
    try {
        f();
    } catch (...) {
        setrlimit(RLIMIT_AS, &old);
        throw;
    }
    setrlimit(RLIMIT_AS, &old);
#endif
}

// Counts up to what a table can hand out are taken as they stand, however far above the
// records: the memory follows the records the file holds, not its counts or indices.
TEST_F(BodyFiles, HugeCountsAndFarIndicesCostOnlyWhatTheFileHolds) {
    constexpr int32_t kCount = INT32_MAX / 2;  // a table hands out no more indices than this
    constexpr int32_t kTop = kCount - 1;
    const Bytes file = Concat({Header(kCount), Mass(0), Mass(kTop), Ints({-1, kCount}), Con(kTop - 1, kTop, 0),
                               Ints({-1}), Bytes{1}, Ints({kCount, -1, kCount, -1})});
    WriteAll(Path("far.plb"), file);
    Ref<TAdvBody> b;
    WithAddressSpaceRoom(size_t(64) << 20, [&] { b = TAdvBody::Load(Path("far.plb"), 0); });
    ASSERT_NE(b, nullptr);
    b->Free();  // the first load also sets up the element pools: measure a second one
    b = nullptr;
    const THeapUse use = MeasureHeap([&] { b = TAdvBody::Load(Path("far.plb"), 0); });
    ASSERT_NE(b, nullptr);
    std::printf("a file of %zu bytes with counts of %d: loading peaks at %lld bytes, holds %lld\n", file.size(),
                kCount, use.peak, use.held);
    EXPECT_LT(use.peak, 64 * static_cast<long long>(file.size()));

    EXPECT_EQ(b->MassMaxIndex(), kTop);
    EXPECT_EQ(b->RigMaxIndex(), kTop);
    EXPECT_EQ(b->MassExists(kTop) + b->MassExists(0), 2);
    EXPECT_EQ(b->MassExists(kTop - 1) + b->MassExists(1) + b->ImageExists(kTop), 0);
    EXPECT_EQ(b->ConGetMass1(kTop - 1), kTop);
    b->Save(Path("again.plb"), 0, 1);
    EXPECT_EQ(ReadAll(Path("again.plb")), file);
    Ref<TAdvBody> copy;
    WithAddressSpaceRoom(size_t(64) << 20, [&] { copy = b->Copy(0); });
    copy->Save(Path("copy.plb"), 0, 1);
    EXPECT_EQ(ReadAll(Path("copy.plb")), file);
    copy->Free();
    b->Activate();
    EXPECT_EQ(b->MassIsActive(kTop), 1);
    TPhysics::Update();
    EXPECT_GT(b->MassGetY(kTop), 0.0f);
    EXPECT_EQ(b->MassAdd(0, 0, 1, 1, 0, 1), -1);  // full, as the body that wrote it was
    b->CleanIndex();
    EXPECT_EQ(b->MassAdd(0, 0, 1, 1, 0, 1), 2);
    EXPECT_EQ(b->ConMaxIndex(), 0);
}

TEST_F(BodyFiles, UndecodablePicturesLeaveTheirEntryEmpty) {
    Bytes damaged = Png(2, 2, 0x00FF00FFu);
    damaged[45] ^= 0xFF;  // inside the picture data: the chunk CRC no longer matches
    const Bytes file = Hostile(Concat({Ints({1}), Con(0, 0, 0), Ints({-1})}),
                               Concat({Ints({3}), Image(0, damaged), Image(1, ClaimedSize(16000, 16000)),
                                       Image(2, Png(3, 3, ~0u)), Ints({-1})}),
                               Concat({Ints({2}), Rig(0, 0, 0, 0), Rig(1, 2, 0, -1), Ints({-1})}));
    WriteAll(Path("p.plb"), file);
    Ref<TAdvBody> b = TAdvBody::Load(Path("p.plb"), 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->ImageExists(0), 0);
    EXPECT_EQ(b->ImageExists(1), 0);
    ASSERT_EQ(b->ImageExists(2), 1);  // read from behind the two failures
    EXPECT_EQ(b->ImageGet(2)->width, 3);
    EXPECT_EQ(b->RigExists(0), 1);  // kept, showing nothing
    EXPECT_EQ(b->RigGet(0)->GetImage(), nullptr);
    EXPECT_EQ(b->RigGetImage(0), -1);
    b->Draw();
    EXPECT_EQ(b->RigGetImage(1), 2);

    // Separate pictures that are missing behave the same way.
    Ref<TAdvBody> s = TAdvBody::Create();
    s->MassAdd(0, 0, 1, 1, 0, 1);
    s->ImageAdd(SolidImage(2, 2).Get());
    s->RigAdd(0, 0, -1, 0);
    s->Save(Path("sep.plb"), 0, 0);
    std::filesystem::remove(Path("sep_img0.png"));
    Ref<TAdvBody> t = TAdvBody::Load(Path("sep.plb"), 0);
    EXPECT_EQ(t->ImageExists(0), 0);
    EXPECT_EQ(t->RigExists(0), 1);
}

TEST_F(BodyFiles, EveryTruncationRaisesTheReadError) {
    Ref<TAdvBody> b = RandomBody(7);
    b->ImageAdd(SolidImage(3, 2).Get());
    b->RigAdd(b->iIndex - 1, b->MassAdd(1, 1, 1, 1, 0, 1), -1, 0);
    b->Save(Path("full.plb"), 0, 1);
    const Bytes full = ReadAll(Path("full.plb"));
    ASSERT_GT(full.size(), 100u);
    for (size_t n = 0; n < full.size(); ++n) {
        TBankStream s(full.data(), static_cast<int64_t>(n));
        TBodyFileData d;
        try {
            ReadBodyFile(s, d, "");
            ADD_FAILURE() << "a prefix of " << n << " bytes was read";
        } catch (const TFileFormatException& e) {
            ADD_FAILURE() << n << ": " << e.what();
        } catch (const TStreamReadException&) {
        }
    }
    for (size_t n : {size_t(0), size_t(3), full.size() / 2, full.size() - 1}) {
        WriteAll(Path("cut.plb"), Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
        EXPECT_THROW(TAdvBody::Load(Path("cut.plb"), 0), TStreamReadException) << n;
    }
}

// ---------------------------------------------------------------------------------------
// Copying.

TEST_F(BodyFiles, CopySharesImagesButNothingSimulated) {
    Ref<TAdvBody> src = RandomBody(11);
    src->MassAdd(5, 5, 1, 1, 0, -9);
    src->MassAdd(6, 6, 1, 1, 0, -9);
    src->ImageAdd(SolidImage(2, 2).Get());
    src->ImageRemove(0);
    const int32_t r = src->RigAdd(src->iIndex - 1, src->mIndex - 1, -1, 30);
    src->RigSetColor(r, 10, 20, 30);
    src->Save(Path("before.plb"), 0, 1);

    Ref<TAdvBody> copy = src->Copy(0);
    EXPECT_NE(copy->aIndex, src->aIndex);
    EXPECT_EQ(copy->GetName(), src->GetName());
    EXPECT_EQ(copy->MassMaxIndex(), src->MassMaxIndex());
    for (int32_t i = 0; i < src->iIndex; ++i) EXPECT_EQ(copy->ImageGet(i), src->ImageGet(i));
    for (int32_t i = 0; i < src->mIndex; ++i) {
        if (!src->MassExists(i)) continue;
        EXPECT_NE(copy->MassGet(i), src->MassGet(i));
        EXPECT_EQ(copy->MassGet(i)->abID, copy->aIndex);
        EXPECT_EQ(copy->MassGetX(i), src->MassGetX(i));
    }
    const int32_t last = src->mIndex - 1;
    EXPECT_EQ(copy->MassGetColGroup(last), copy->MassGetColGroup(last - 1));  // grouped among themselves
    EXPECT_NE(copy->MassGetColGroup(last), -9);
    int32_t cr, cg, cb;
    copy->RigGetColor(r, cr, cg, cb);
    EXPECT_EQ(cg, 20);
    EXPECT_EQ(copy->RigGetAngle(r), 30.0f);
    EXPECT_EQ(copy->RigGetMass(r), last);
    for (int32_t i = 0; i < copy->cIndex; ++i)
        if (copy->ConExists(i)) {
            EXPECT_EQ(copy->ConGet(i)->IsActive(), 1);  // the copy is activated
        }

    copy->Move(50, 50);
    copy->MassSetName(last, "changed");
    src->Save(Path("after.plb"), 0, 1);
    EXPECT_EQ(ReadAll(Path("before.plb")), ReadAll(Path("after.plb")));  // the source is untouched
}

}  // namespace
}  // namespace kin::gelsim::test
