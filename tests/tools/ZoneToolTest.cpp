// The gelsim tool on zone files: dump then build gives back the bytes of every zone file
// the library wrote or reads, check explains in one line what is wrong, and the game's
// ground file is what its JSON builds and works as ground and walls.
#include <sys/wait.h>

#include <cstdlib>

#include <nlohmann/json.hpp>

#include "tests/support/ZoneFixture.h"
#include "platform/Png.h"

namespace kin::gelsim::test {
namespace {

using Json = nlohmann::ordered_json;

struct Result {
    int status;
    std::string out, err;
};

class ZoneTool : public ZoneWorld {
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
    void ExpectRebuilt(const std::string& extra = "") {
        ASSERT_EQ(Run("dump " + Path("a.plz") + " -o " + Path("a.json") + extra).status, 0);
        const Result built = Run("build " + Path("a.json") + " -o " + Path("b"));
        ASSERT_EQ(built.status, 0) << built.err;
        EXPECT_EQ(ReadAll(Path("a.plz")), ReadAll(Path("b.plz")));
    }
};

Ref<TZone> ToolZone(uint32_t seed) {
    std::mt19937 rng(seed);
    Ref<TZone> z = TZone::Create(RandomOutline(rng, 4 + static_cast<int32_t>(seed)), static_cast<int32_t>(seed % 4), 0.4f,
                                 static_cast<int32_t>(seed) - 3, 1 + static_cast<int32_t>(seed % 6));
    z->SetName(seed % 2 ? "\xFFzone" : "");
    z->Position(-0.0f, 1e-40f);
    z->Rotate(static_cast<float>(seed) * 17.0f);
    z->SetAlpha(kNaN);  // values JSON numbers cannot carry
    z->SetColor(1, 2, 3);
    z->ImageSetScale(-kInf, 1.0f / 3.0f);
    if (seed % 3 != 0) {
        SetMaskColor(4, 5, 6);
        auto pm = MakeRef<TPixmap>(3, 4);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 3; ++x) pm->SetPixel(x, y, rng());
        Ref<TImage> img = TImage::Create(pm.Get(), static_cast<int32_t>(seed % 8));
        SetImageHandle(img.Get(), 0.5f, -1);
        z->ImageSet(img.Get());
    }
    return z;
}

TEST_F(ZoneTool, DumpThenBuildGivesBackEveryLibraryFile) {
    for (uint32_t seed = 1; seed <= 9; ++seed) {
        Ref<TZone> z = ToolZone(seed);
        const int32_t embed = seed % 2;
        z->Save(Path("a.plz"), 0, embed);
        ExpectRebuilt();
        if (z->ImageGet() && !embed) {
            EXPECT_EQ(ReadAll(Path("a_img.png")), ReadAll(Path("b_img.png")));
        }
    }
    // Pictures written out beside the JSON build the same file again.
    ToolZone(2)->Save(Path("a.plz"), 0, 1);
    ExpectRebuilt(" --extract-images " + Path("pictures"));
    EXPECT_TRUE(std::filesystem::exists(Path("pictures/a_img.png")));
    EXPECT_NE(Text("a.json").find("\"pngFile\""), std::string::npos);
}

// Files the library reads but would not write itself: any has-image, embedded and version
// byte, any group, a name line with other ends or CRs within, a picture from another
// encoder. Dump then build gives back every byte, and the picture beside the file as well.
TEST_F(ZoneTool, DumpThenBuildGivesBackEveryReadableFile) {
    std::mt19937 rng(88);
    auto byte = [&](int32_t lo) { return std::uniform_int_distribution<int32_t>(lo, 255)(rng); };
    const std::string lines[] = {"", "ground\n", "a\rb\r\n", "\r\r\n", std::string("x\0", 2)};
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        TZoneFileData d = CollectZone(*ToolZone(seed % 3 ? seed : 1), 1);
        const std::string& nameLine = lines[seed % 5];
        d.colGroup = static_cast<int32_t>(rng());
        d.hasImage = byte(1);
        d.embedded = seed % 2 ? byte(1) : 0;
        d.maskR = byte(0);
        d.flags = byte(0);
        TPixmap pm(5, 3);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 5; ++x) pm.SetPixel(x, y, rng());
        TBankStream png;
        ASSERT_TRUE(SavePixmapPNG(pm, png, static_cast<int32_t>(seed % 9)));  // not the library's level
        d.png = png.Bytes();
        TBankStream file;
        WriteZoneFile(file, d);
        Bytes bytes = file.Bytes();
        bytes[4] = static_cast<uint8_t>(byte(0));  // the version byte
        if (!nameLine.empty()) {
            const auto at = bytes.begin() + 5;
            bytes.insert(bytes.erase(at, at + static_cast<std::ptrdiff_t>(d.name.size() + 2)), nameLine.begin(),
                         nameLine.end());
        }
        WriteAll(Path("a.plz"), bytes);
        if (d.embedded == 0) WriteAll(Path("a_img.png"), d.png);
        ExpectRebuilt();
        if (d.embedded == 0) {
            EXPECT_EQ(ReadAll(Path("b_img.png")), d.png) << seed;
        }
    }
}

TEST_F(ZoneTool, DumpShowsEveryFieldAsStored) {
    Ref<TZone> z = TZone::Create({0, 0, 10, 0}, TZone::LINE, 0.5f, 3, 2);
    z->Save(Path("a.plz"), 0, 0);
    ASSERT_EQ(Run("dump " + Path("a.plz") + " -o " + Path("a.json")).status, 0);
    const Json j = Json::parse(Text("a.json"));
    EXPECT_EQ(j["kind"], "zone");
    EXPECT_EQ(j["version"], 111);
    EXPECT_EQ(j["name"], "Zone");
    EXPECT_EQ(j["coordinates"], Json::parse("[0, 0, 10, 0]"));
    EXPECT_EQ(j["colGroup"], 3);
    EXPECT_EQ(j["qtLevel"], 2);
    EXPECT_EQ(j["quadTree"], Json::parse("[[-1, -1, 12, 2, 0]]"));
    EXPECT_TRUE(j["image"].is_null());
}

TEST_F(ZoneTool, AJsonWithoutTreeGetsTheOneTheLibraryBuilds) {
    const std::string json =
        R"({"kind":"zone","name":"sq","coordinates":[0,0,10,0,10,10,0,10],"style":1,"angle":30,"qtLevel":3,"colGroup":4})";
    WriteAll(Path("sq.json"), Bytes(json.begin(), json.end()));
    ASSERT_EQ(Run("build " + Path("sq.json") + " -o " + Path("sq.plz")).status, 0);
    Ref<TZone> z = TZone::Create(Square(0, 0, 10), TZone::LOOP, 0, 4, 3);
    z->SetName("sq");
    z->Rotate(30);
    z->Save(Path("lib.plz"), 0, 0);
    EXPECT_EQ(ReadAll(Path("sq.plz")), ReadAll(Path("lib.plz")));
    EXPECT_NE(Run("check " + Path("sq.plz")).out.find("(as the vertices give it)"), std::string::npos);
}

TEST_F(ZoneTool, CheckNamesTheFaultInOneLine) {
    Ref<TZone> z = ToolZone(4);
    z->Save(Path("a.plz"), 0, 1);
    const Result ok = Run("check " + Path("a.plz"));
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.out.rfind("ok: ", 0), 0u) << ok.out;
    EXPECT_NE(ok.out.find("image embedded"), std::string::npos) << ok.out;

    const Bytes full = ReadAll(Path("a.plz"));
    for (size_t n : {size_t(2), size_t(10), full.size() / 3, full.size() - 30, full.size() - 1}) {
        WriteAll(Path("cut.plz"), Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
        const Result r = Run("check " + Path("cut.plz"));
        EXPECT_EQ(r.status, 1) << n;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        if (n > 4) {
            EXPECT_NE(r.err.find("Error reading from stream"), std::string::npos) << r.err;
        }
    }
    Bytes longer = full;
    longer.push_back(0);
    WriteAll(Path("long.plz"), longer);
    EXPECT_NE(Run("check " + Path("long.plz")).err.find("1 bytes follow the end of the zone"), std::string::npos);
    z->Save(Path("sep.plz"), 0, 0);
    std::filesystem::remove(Path("sep_img.png"));
    EXPECT_NE(Run("check " + Path("sep.plz")).err.find("sep_img.png is missing\n"), std::string::npos);
    // A tree that is not the one the vertices give is legal, and said so.
    TBankStream s(full);
    TZoneFileData d;
    ASSERT_TRUE(ReadZoneFile(s, d, ""));
    d.quadTree = MakeRef<TQuadTree>();
    TBankStream w;
    WriteZoneFile(w, d);
    WriteAll(Path("odd.plz"), w.Bytes());
    EXPECT_NE(Run("check " + Path("odd.plz")).out.find("differs from the one the vertices give"), std::string::npos);
}

TEST_F(ZoneTool, BuildRefusesJsonItCannotStoreExactly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"kind":"zone","coordinates":[0,0,1,1],"frcition":1})", "unknown field \"frcition\""},
        {R"({"kind":"zone"})", "missing"},
        {R"({"kind":"zone","coordinates":[0,0,1]})", "coordinate count 3"},
        {R"({"kind":"zone","coordinates":[0,0,1,1],"quadTree":[[0,0,1,1,2],[0,0,1,1,0]]})", "rows end before"},
        {R"({"kind":"zone","coordinates":[0,0,1,1],"quadTree":[[0,0,1,1,0],[0,0,1,1,0]]})", "rows follow the end"},
        {R"({"kind":"zone","coordinates":[0,0,1,1],"quadTree":[[0,0,1,1,5]]})", "outside 0..4"},
        {R"({"kind":"zone","coordinates":[0,0,1,1],"image":{"mask":[1,2,3]}})", "needs \"png\""},
        {R"({"kind":"zone","coordinates":[0,0,1,1],"image":{"png":"AAAA"}})", "cannot be decoded"},
        {R"({"kind":"zone","coordinates":[0,1e300,1,1]})", "outside the range of a float"},
        {R"({"kind":"zone","name":"a","nameLine":"b\n","coordinates":[0,0,1,1]})", "name line is not one line"},
    };
    for (const auto& [json, reason] : cases) {
        WriteAll(Path("bad.json"), Bytes(json.begin(), json.end()));
        const Result r = Run("build " + Path("bad.json") + " -o " + Path("bad.plz"));
        EXPECT_EQ(r.status, 1) << json;
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(std::filesystem::exists(Path("bad.plz")));
    }
    // A picture with bytes after its end would make a file that does not read back whole.
    TPixmap pm(2, 2);
    TBankStream png;
    SavePixmapPNG(pm, png, 9);
    Bytes junk = png.Bytes();
    junk.push_back('x');
    WriteAll(Path("junk.png"), junk);
    const std::string withJunk = R"({"kind":"zone","coordinates":[0,0,1,1],"image":{"pngFile":"junk.png"}})";
    WriteAll(Path("junk.json"), Bytes(withJunk.begin(), withJunk.end()));
    EXPECT_NE(Run("build " + Path("junk.json") + " -o " + Path("junk.plz")).err.find("1 bytes follow the end of the picture"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Path("junk.plz")));
    // Nesting deeper than a file may hold.
    std::string deep = R"({"kind":"zone","coordinates":[0,0,1,1],"quadTree":[)";
    for (int32_t i = 0; i < 30; ++i) deep += "[0,0,1,1,1],";
    deep += "[0,0,1,1,0]]}";
    WriteAll(Path("deep.json"), Bytes(deep.begin(), deep.end()));
    EXPECT_NE(Run("build " + Path("deep.json") + " -o " + Path("deep.plz")).err.find("nested deeper"), std::string::npos);
}

// ---------------------------------------------------------------------------------------
// The game's ground

class Ground : public ZoneTool {
protected:
    void SetUp() override {
        ZoneTool::SetUp();
        ground = TZone::Load(std::string(SOURCE_ROOT) + "/media/ground.plz");
        ASSERT_NE(ground, nullptr);
    }
    /// The scene's three zones: the ground and its two turned copies as walls.
    std::vector<Ref<TZone>> SceneZones() {
        ground->Position(512, 4096);
        Ref<TZone> right = ground->Copy();
        right->Position(1024, 2096);
        right->Rotate(-70);
        Ref<TZone> left = ground->Copy();
        left->Position(0, -904);
        left->Rotate(70);
        return {ground, right, left};
    }
    Ref<TZone> ground;
};

TEST_F(Ground, IsWhatItsJsonBuilds) {
    const Result r = Run(std::string("build ") + SOURCE_ROOT + "/media/ground.json -o " + Path("ground"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadAll(Path("ground.plz")), ReadAll(std::string(SOURCE_ROOT) + "/media/ground.plz"));
    EXPECT_EQ(Run(std::string("check ") + SOURCE_ROOT + "/media/ground.plz").status, 0);
}

TEST_F(Ground, IsAWideSolidGroundWithAGentlyUnevenTop) {
    EXPECT_EQ(ground->GetStyle(), TZone::FILL);
    EXPECT_NE(ground->GetColGroup(), 0);
    EXPECT_NE(ground->GetColGroup(), 1);  // the blobs' group
    EXPECT_GE(ground->GetFriction(), 0.3f);
    EXPECT_LE(ground->GetFriction(), 0.7f);
    EXPECT_GE(ground->GetQTLevel(), 4);
    EXPECT_LE(ground->GetQTLevel(), 9);
    EXPECT_EQ(ground->ImageGet(), nullptr);
    int32_t r, g, b;
    ground->GetColor(r, g, b);
    EXPECT_GT(r, g);  // earthy: more red than green, more green than blue
    EXPECT_GT(g, b);
    // The top: everything above y = 0 is the surface, about 180 above it, across the width
    // (below it hang the arms that become the walls).
    float minX = 0, maxX = 0, prevX = -1e9f, prevY = 0, maxY = 0;
    for (int32_t i = 0; i < ground->VertCount(); ++i) {
        const float x = ground->VertGetX(i), y = ground->VertGetY(i);
        maxY = std::max(maxY, y);
        if (y > 0) continue;
        EXPECT_GT(x, prevX);  // left to right
        EXPECT_GE(y, -200.0f);
        EXPECT_LE(y, -160.0f);
        if (prevX > -1e9f) {
            EXPECT_LE(std::fabs(y - prevY) / (x - prevX), 0.25f);  // gently
        }
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        prevX = x;
        prevY = y;
    }
    EXPECT_LE(minX, -600.0f);
    EXPECT_GE(maxX, 600.0f);
    EXPECT_GE(maxY, 100.0f);  // the fill reaches well below the surface
}

Ref<TObject> FirstZoneContact(int32_t, TObject* data, TObject* ctx) {
    auto* e = As<TColEvent>(data);
    auto* seen = static_cast<TList*>(ctx);
    if (e && e->GetID() == TColEvent::MASS_ZONE && seen->IsEmpty()) {
        seen->AddLast(e->GetZone());
        e->GetMass1()->Freeze();  // as the game does
    }
    return data;
}

TEST_F(Ground, BlobsLandOnTheGroundAndHitTheWalls) {
    const std::vector<Ref<TZone>> zones = SceneZones();
    TPhysics::SetBounds(0, -2000, 1024, 4096);
    struct Drop {
        const char* name;
        float x, y, vx;
        size_t zone;
        float minY, maxY;  // where the blob stops
    };
    const Drop drops[] = {
        {"onto the ground", 300, 3800, 0, 0, 3880, 3915},
        {"onto the ground near the left wall", 130, 3800, 0, 0, 3880, 3915},
        {"onto the ground near the right wall", 860, 3800, 0, 0, 3880, 3915},
        {"into the right wall", 700, 3500, 6, 1, 3400, 3600},
        {"into the left wall", 300, 3500, -6, 2, 3400, 3600},
        {"into the right wall's ledge", 700, 2450, 6, 1, 2100, 2800},
        {"into the left wall's top", 150, -700, -6, 2, -900, -200},
    };
    for (const Drop& d : drops) {
        Ref<TList> seen = MakeRef<TList>();
        ScopedHook hook(FirstZoneContact, seen.Get());
        Ref<TMass> m = Active(d.x, d.y, 10, 10, 1, 1);
        m->SetVelocity(d.vx, 0);
        for (int32_t step = 0; step < 600 && !m->IsFrozen(); ++step) TPhysics::Update();
        ASSERT_EQ(seen->Count(), 1) << d.name;
        EXPECT_EQ(seen->FirstLink()->Value(), zones[d.zone].Get()) << d.name;
        EXPECT_GE(m->posY, d.minY) << d.name;
        EXPECT_LE(m->posY, d.maxY) << d.name;
        m->SubRef();
    }
}

TEST_F(Ground, LooksLikeGroundAndWallsInTheGamesView) {
    const std::vector<Ref<TZone>> zones = SceneZones();
    Ref<TGraphics> canvas = CreateHeadlessGraphics(450, 600);
    SetGraphics(canvas.Get());
    auto frame = [&](float viewY) {
        TPhysics::SetDrawZoom(450.0f / 1024.0f);
        TPhysics::SetDrawCoords(512, viewY);
        SetBlend(ALPHABLEND);
        SetClsColor(127, 127, 255);
        Cls();
        SetColor(255, 255, 255);
        for (const auto& z : zones) z->Draw();
    };
    auto save = [&](const char* name) {
        // GELSIM_PICTURES=folder keeps the pictures for a look.
        const char* folder = std::getenv("GELSIM_PICTURES");
        if (!folder) return;
        TPixmap pm(450, 600, canvas->ReadPixels());
        Ref<TFileStream> f = TFileStream::Open(std::string(folder) + "/" + name, TFileStream::WRITE);
        if (f) SavePixmapPNG(pm, *f, 5);
    };
    const uint32_t sky = 0x7F7FFFFFu;
    int32_t r, g, b;
    ground->GetColor(r, g, b);
    const uint32_t earth = uint32_t(r) << 24 | uint32_t(g) << 16 | uint32_t(b) << 8 | 0xFFu;

    frame(4096.0f - 300.0f / (450.0f / 1024.0f));  // the start: ground line on the bottom edge
    save("ground-start.png");
    for (int32_t y : {598, 530}) EXPECT_EQ(canvas->PixelAt(225, y), earth) << y;
    EXPECT_EQ(canvas->PixelAt(225, 480), sky);
    EXPECT_EQ(canvas->PixelAt(2, 300), earth);    // the left wall
    EXPECT_EQ(canvas->PixelAt(447, 300), earth);  // the right wall
    EXPECT_EQ(canvas->PixelAt(100, 300), sky);
    frame(2300);  // the right wall
    save("ground-right-wall.png");
    EXPECT_EQ(canvas->PixelAt(448, 300), earth);
    EXPECT_EQ(canvas->PixelAt(200, 300), sky);
    frame(-700);  // the left wall
    save("ground-left-wall.png");
    EXPECT_EQ(canvas->PixelAt(1, 300), earth);
    EXPECT_EQ(canvas->PixelAt(250, 300), sky);
    SetGraphics(gfx.Get());
}

}  // namespace
}  // namespace kin::gelsim::test
