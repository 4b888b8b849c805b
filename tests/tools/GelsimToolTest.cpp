// The gelsim tool, run as a program on files: dump then build gives back the bytes of
// every file the library wrote, check explains in one line what is wrong, and the game's
// body file is what its JSON builds.
#include <sys/wait.h>

#include <cmath>
#include <limits>

#include "gelsim/zones/Zone.h"
#include "platform/Png.h"
#include "tests/support/BodyFixture.h"

namespace kin::gelsim::test {
namespace {

struct Result {
    int status;
    std::string out, err;
};

class Tool : public BodyWorld {
protected:
    Result Run(const std::string& args) {
        const std::string cmd = std::string(GELSIM_TOOL) + " " + args + " >" + Path("stdout") + " 2>" + Path("stderr");
        const int raw = std::system(cmd.c_str());
        Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Text("stdout"), Text("stderr")};
        std::filesystem::remove(Path("stdout"));
        std::filesystem::remove(Path("stderr"));
        return r;
    }
    std::string Text(const std::string& name) {
        const Bytes b = ReadAll(Path(name));
        return std::string(b.begin(), b.end());
    }
    /// dump a.plb -> a.json -> build b.plb; a.plb's bytes must come back.
    void ExpectRebuilt(const std::string& extra = "") {
        ASSERT_EQ(Run("dump " + Path("a.plb") + " -o " + Path("a.json") + extra).status, 0);
        const Result built = Run("build " + Path("a.json") + " -o " + Path("b"));
        ASSERT_EQ(built.status, 0) << built.err;
        EXPECT_EQ(ReadAll(Path("a.plb")), ReadAll(Path("b.plb")));
    }
};

TEST_F(Tool, DumpThenBuildGivesBackEveryLibraryFile) {
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        Ref<TAdvBody> b = RandomBody(seed);
        // Values that JSON numbers cannot carry, groups that loading would translate, and
        // trailing holes.
        const int32_t m = b->MassAdd(-0.0f, 1e-40f, std::numeric_limits<float>::quiet_NaN(), 3, 0, -5);
        b->MassGet(m)->radius = -std::numeric_limits<float>::infinity();
        b->MassAdd(0.1f, 1.0f / 3.0f, 1, 1, 0, -5);
        b->MassAdd(0, 0, 1, 1, 0, 1);
        b->MassRemove(b->mIndex - 1);
        const int32_t embed = seed % 2;
        b->Save(Path("a.plb"), 0, embed);
        ExpectRebuilt();
        if (!embed) {  // the pictures beside the file are written again beside the new one
            for (int32_t k = 0; k < b->iIndex; ++k)
                if (b->ImageExists(k)) {
                    EXPECT_EQ(ReadAll(Path("a_img" + std::to_string(k) + ".png")),
                              ReadAll(Path("b_img" + std::to_string(k) + ".png")));
                }
        }
    }
}

TEST_F(Tool, SparseLibraryFilesAreDumpedRebuiltAndAccepted) {
    // Grown to 20,000 masses and emptied down to 100; then one left of a table grown to the
    // most indices a table can hand out.
    Ref<TAdvBody> b = TAdvBody::Create();
    for (int32_t i = 0; i < 20000; ++i) b->MassAdd(static_cast<float>(i), 0, 1, 5, 0.5f, 1);
    for (int32_t i = 0; i < 20000; ++i)
        if (i % 200 != 7) b->MassRemove(i);
    b->ConAdd(7, 19807, -1, 1);
    b->Save(Path("a.plb"), 0, 1);
    ExpectRebuilt();
    const Result ok = Run("check " + Path("a.plb"));
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_NE(ok.out.find("100 of 20000 masses"), std::string::npos) << ok.out;

    b->MassRemove(7);
    TBodyFileData d = CollectBody(*b, 1);
    d.massCount = d.conCount = d.imageCount = d.rigCount = INT32_MAX / 2;
    TBankStream s;
    WriteBodyFile(s, d);
    WriteAll(Path("a.plb"), s.Bytes());
    ExpectRebuilt();
    EXPECT_EQ(Run("check " + Path("a.plb")).status, 0);
    EXPECT_LT(std::filesystem::file_size(Path("a.json")), 100000u);  // holes are told as runs
}

TEST_F(Tool, ExtractedPicturesRebuildTheSameFile) {
    Ref<TAdvBody> b = RandomBody(3);
    b->ImageAdd(SolidImage(5, 4, 0x11223344u).Get());
    b->RigAdd(b->iIndex - 1, b->MassAdd(1, 2, 3, 4, 0.5f, 2), -1, 45);
    b->Save(Path("a.plb"), 0, 1);
    ExpectRebuilt(" --extract-images " + Path("pictures"));
    const std::string extracted = Path("pictures/a_img" + std::to_string(b->iIndex - 1) + ".png");
    TBodyFileData d;
    TBankStream s(ReadAll(Path("a.plb")));
    ASSERT_TRUE(ReadBodyFile(s, d, ""));
    EXPECT_EQ(ReadAll(extracted), d.images.back().png);
    const std::string json = Text("a.json");
    EXPECT_NE(json.find("\"width\": 5"), std::string::npos);
    EXPECT_NE(json.find("\"pngFile\""), std::string::npos);
}

TEST_F(Tool, TheGamesBodyFileIsWhatItsJsonBuilds) {
    const Result r = Run(std::string("build ") + SOURCE_ROOT + "/media/slime.json -o " + Path("slime"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadAll(Path("slime.plb")), ReadAll(std::string(SOURCE_ROOT) + "/media/slime.plb"));
    Ref<TAdvBody> slime = TAdvBody::Load(Path("slime.plb"), 1);
    ASSERT_NE(slime, nullptr);
    slime->Position(482, 3906);
    EXPECT_EQ(slime->MassGetX(0), 482.0f);
    for (int32_t k = 0; k <= slime->ConMaxIndex(); ++k) {
        const float len = slime->ConGetRestLength(k);  // present lengths, within strand reach
        EXPECT_GT(len, 50.0f);
        EXPECT_LT(len, 100.0f);
        EXPECT_EQ(slime->ConGet(k)->IsActive(), 1);
    }
    for (int32_t i = 0; i <= slime->MassMaxIndex(); ++i) {
        EXPECT_EQ(slime->MassGetMass(i), 10.0f);
        EXPECT_EQ(slime->MassGetRadius(i), 10.0f);
        EXPECT_EQ(slime->MassGetFriction(i), 1.0f);
        EXPECT_EQ(slime->MassGetColGroup(i), 1);
    }
}

TEST_F(Tool, CheckPassesGoodFilesAndNamesTheFaultInOneLine) {
    Ref<TAdvBody> b = RandomBody(5);
    b->ImageAdd(SolidImage(2, 2).Get());
    b->Save(Path("a.plb"), 0, 1);
    const Result ok = Run("check " + Path("a.plb"));
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out.rfind("ok: ", 0), 0u) << ok.out;

    const Bytes full = ReadAll(Path("a.plb"));
    for (size_t n : {size_t(2), size_t(10), full.size() / 3, full.size() - 30, full.size() - 1}) {
        WriteAll(Path("cut.plb"), Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
        const Result r = Run("check " + Path("cut.plb"));
        EXPECT_EQ(r.status, 1) << n;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        if (n > 4) {
            EXPECT_NE(r.err.find("Error reading from stream"), std::string::npos) << r.err;
        }
    }
    Bytes longer = full;
    longer.push_back(0);
    WriteAll(Path("long.plb"), longer);
    EXPECT_NE(Run("check " + Path("long.plb")).err.find("1 bytes follow the last end mark"), std::string::npos);
    std::filesystem::remove(Path("a_img0.png"));
    b->Save(Path("sep.plb"), 0, 0);
    std::filesystem::remove(Path("sep_img" + std::to_string(b->iIndex - 1) + ".png"));
    EXPECT_NE(Run("check " + Path("sep.plb")).err.find("sep_img" + std::to_string(b->iIndex - 1) + ".png is missing\n"), std::string::npos);
    WriteAll(Path("junk.plb"), Bytes{'J', 'U', 'N', 'K'});
    EXPECT_EQ(Run("check " + Path("junk.plb")).status, 1);
    EXPECT_EQ(Run("check").status, 2);
    EXPECT_EQ(Run("frobnicate " + Path("a.plb")).status, 2);
}

// A file the tool cannot read or write is named with the reason, in one line.
TEST_F(Tool, FilesThatCannotBeReadOrWrittenAreNamedWithTheReason) {
    RandomBody(2)->Save(Path("a.plb"), 0, 1);
    const Bytes full = ReadAll(Path("a.plb"));
    WriteAll(Path("cut.plb"), Bytes(full.begin(), full.begin() + 12));
    ASSERT_EQ(Run("dump " + Path("a.plb") + " -o " + Path("a.json")).status, 0);
    std::filesystem::create_directory(Path("folder.plb"));
    Ref<TAdvBody> pictured = RandomBody(4);
    pictured->ImageAdd(SolidImage(3, 3).Get());
    pictured->Save(Path("pic.plb"), 0, 1);
    Bytes damaged = ReadAll(Path("pic.plb"));
    const std::string idat = "IDAT";
    const auto at = std::search(damaged.begin(), damaged.end(), idat.begin(), idat.end());
    ASSERT_NE(at, damaged.end());
    at[5] ^= 0xFF;  // the picture data's compression header
    WriteAll(Path("pic.plb"), damaged);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"check " + Path("pic.plb"), Path("pic.plb") + ": image 0" +  // the first picture in the file
                                         ": the embedded picture cannot be decoded (IDAT: incorrect header check)"},
        {"check " + Path("absent.plb"), Path("absent.plb") + ": no such file"},
        {"check " + Path("folder.plb"), Path("folder.plb") + ": is a directory"},
        {"dump " + Path("cut.plb"),
         "Error reading from stream: " + Path("cut.plb") + ": ends in the mass count: needs 13 bytes, there are 12"},
        {"dump " + Path("a.plb") + " -o /dev/full", "/dev/full: No space left on device"},
        {"build " + Path("absent.json") + " -o " + Path("b.plb"), Path("absent.json") + ": no such file"},
        {"build " + Path("a.json") + " -o " + Path("folder.plb"), "Error writing to stream: " + Path("folder.plb") + ": is a directory"},
        {"build " + Path("a.json") + " -o " + Path("missing/b"),
         "Error writing to stream: " + Path("missing/b.plb") + ": No such file or directory"},
    };
    for (const auto& [args, reason] : cases) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err.rfind("invalid: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(reason + "\n"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST_F(Tool, BuildRefusesJsonItCannotStoreExactly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"kind":"body","masses":{"count":1,"records":[{"index":0,"x":0,"y":0,"mass":1,"radius":1,"friction":0,"colGroup":1,"nmae":"typo"}]}})",
         "unknown field \"nmae\""},
        {R"({"kind":"body","name":"\u20ac"})", "U+20AC cannot be stored"},
        {R"({"kind":"body","masses":{"count":1,"records":[{"index":3,"x":0,"y":0,"mass":1,"radius":1,"friction":0,"colGroup":1}]}})",
         "mass record 3 is outside its table of 1"},
        {R"({"kind":"body","masses":{"count":1,"records":[{"index":0,"x":1e300,"y":0,"mass":1,"radius":1,"friction":0,"colGroup":1}]}})",
         "outside the range of a float"},
        {R"({"kind":"scene"})", "unknown kind"},
        {R"({"kind":"body",)", "parse error"},
    };
    for (const auto& [json, reason] : cases) {
        WriteAll(Path("bad.json"), Bytes(json.begin(), json.end()));
        const Result r = Run("build " + Path("bad.json") + " -o " + Path("bad.plb"));
        EXPECT_EQ(r.status, 1) << json;
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(std::filesystem::exists(Path("bad.plb")));
    }
}

// Pixels of the PNG file at path whose colour is rgb (0xRRGGBB); -1 when it cannot be read.
int64_t PixelsOf(const std::string& path, uint32_t rgb) {
    Ref<TFileStream> f = TFileStream::Open(path, TFileStream::READ);
    Ref<TPixmap> pm = f ? LoadPixmapPNG(*f) : nullptr;
    if (!pm) return -1;
    int64_t n = 0;
    for (int32_t y = 0; y < pm->Height(); ++y)
        for (int32_t x = 0; x < pm->Width(); ++x) n += (pm->GetPixel(x, y) >> 8) == rgb;
    return n;
}

// Zones keep the position their file gives them, which may lie outside the box (the game's
// ground does): the picture still shows them, alone or beside a body on the box's floor,
// and the tool says what it wrote.
TEST_F(Tool, RenderShowsZonesOutsideTheBoxAndSaysWhatItWrote) {
    const std::string media = std::string(SOURCE_ROOT) + "/media/";
    Ref<TZone> ground = TZone::Load(media + "ground.plz");
    ASSERT_NE(ground, nullptr);
    const auto channel = [](float f) { return static_cast<uint32_t>(std::lround(f * 255.0f)); };
    const uint32_t brown = channel(ground->red) << 16 | channel(ground->green) << 8 | channel(ground->blue);
    for (const std::string& files : std::vector<std::string>{"ground.plz", "slime.plb ground.plz", "ground.plz slime.plb"}) {
        std::string args;
        for (size_t at = 0; at < files.size();) {
            const size_t end = std::min(files.find(' ', at), files.size());
            args += media + files.substr(at, end - at) + " ";
            at = end + 1;
        }
        const Result r = Run("render " + args + "-o " + Path("out.png"));
        ASSERT_EQ(r.status, 0) << files << ": " << r.err;
        EXPECT_EQ(r.out.rfind("wrote " + Path("out.png") + " (800x600 pixels", 0), 0u) << r.out;
        EXPECT_GT(PixelsOf(Path("out.png"), brown), 800 * 600 / 50) << files;
    }
}

TEST_F(Tool, HelpSucceedsAndBadSizesSayWhatIsWrong) {
    for (const char* ask : {"--help", "-h", "render --help"}) {
        const Result r = Run(ask);
        EXPECT_EQ(r.status, 0) << ask;
        EXPECT_NE(r.out.find("usage: gelsim"), std::string::npos) << ask;
        EXPECT_EQ(r.err, "") << ask;
    }
    EXPECT_NE(Run("render --help").out.find("framed on what is drawn"), std::string::npos);
    for (const char* size : {"0x0", "800", "9000x600", "800x-1", "x"}) {
        const Result r = Run(std::string("render scene:pile --size ") + size + " -o " + Path("out.png"));
        EXPECT_EQ(r.status, 2) << size;
        EXPECT_EQ(r.err.rfind(std::string("render: --size ") + size + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("1 to 8192"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(Path("out.png")));
    }
}

}  // namespace
}  // namespace kin::gelsim::test
