// The C interface against the procedural rows: one C function per row, in order, with the
// number of C parameters the type traits give, and nothing else of that form in gelsim.h;
// and failures that come back as codes and messages, never as exceptions (the functions
// are noexcept to C++, so an escaping exception would end the test program).
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/support/BodyFixture.h"
#include "gelsim.h"
#include "gelsim/capi/CTypes.h"

namespace kin::gelsim::test {
namespace {

template <class F>
struct CArity;
template <class R, class... P>
struct CArity<R(P...) noexcept> {
    static constexpr int value = sizeof...(P);
};

struct CRow {
    const char* name;
    int arity;     // of the declared C function
    int expected;  // from the row's C++ signature and the traits
};

#define CAPI_ROW(Type, Op, ...) \
    {"gelsim_" #Type #Op, CArity<std::remove_pointer_t<decltype(&::gelsim_##Type##Op)>>::value, __VA_ARGS__},
#define CAPI_FN(Type, Op, Ret, Params, Args) CAPI_ROW(Type, Op, capi::CWidth<Ret Params>::value)
#define CAPI_FZ(Type, Op, Params, Args) CAPI_ROW(Type, Op, capi::CWidth<int32_t Params>::value)
#define CAPI_GET(Type, Op, Ret, Null, Params, Args) \
    CAPI_ROW(Type, Op, capi::CWidth<Ret(T##Type * obj GELSIM_PROC_TAIL Params)>::value)
#define CAPI_DO(Type, Op, Params, Args) \
    CAPI_ROW(Type, Op, capi::CWidth<int32_t(T##Type * obj GELSIM_PROC_TAIL Params)>::value)
#define CAPI_HAND(Type, Op) \
    CAPI_ROW(Type, Op, capi::CWidth<std::remove_pointer_t<decltype(&Gel##Type##Op)>>::value)

const CRow kCRows[] = {GELSIM_PROC_ROWS(CAPI_FN, CAPI_FZ, CAPI_GET, CAPI_DO, CAPI_HAND)};

TEST(CInterface, OneFunctionPerRowAndNothingElse) {
    ASSERT_EQ(std::size(kCRows), kGelFunctionCount);
    ASSERT_EQ(size_t{GELSIM_FUNCTION_COUNT}, kGelFunctionCount);
    std::vector<std::string> expected;
    for (size_t k = 0; k < kGelFunctionCount; ++k) {
        const std::string cName = "gelsim_" + std::string(kGelFunctionNames[k].substr(3));
        EXPECT_EQ(kCRows[k].name, cName);
        EXPECT_EQ(kCRows[k].arity, kCRows[k].expected) << cName;
        expected.push_back(cName);
    }
    // The header declares exactly these, in this order: no function twice, none extra.
    std::ifstream in(GELSIM_C_HEADER);
    ASSERT_TRUE(in) << GELSIM_C_HEADER;
    std::stringstream text;
    text << in.rdbuf();
    const std::string header = text.str();
    std::vector<std::string> declared;
    const std::regex decl(R"(\b(gelsim_[A-Z]\w*)\()");
    for (auto it = std::sregex_iterator(header.begin(), header.end(), decl); it != std::sregex_iterator(); ++it)
        declared.push_back((*it)[1]);
    EXPECT_EQ(declared, expected);
}

class CInterfaceErrors : public BodyWorld {};

// A load that gives NULL and a save that fails both say which file and why.
TEST_F(CInterfaceErrors, FileFailuresNameTheFileAndTheReason) {
    GelsimAdvBody* body = gelsim_AdvBodyCreate();
    ASSERT_EQ(gelsim_AdvBodyMassAdd(body, 100, 100, 1, 5, 0.5f, 1), 0);
    const std::string good = Path("good.plb"), zone = Path("zone.plz"), cut = Path("cut.plb");
    ASSERT_EQ(gelsim_AdvBodySave(body, good.data(), good.size()), GELSIM_OK);
    const float square[] = {0, 0, 50, 0, 50, 50, 0, 50};
    GelsimZone* z = gelsim_ZoneCreate(square, 8, GELSIM_ZONE_FILL, 0.5f, -1, 3);
    ASSERT_EQ(gelsim_ZoneSave(z, zone.data(), zone.size(), 0, 0), GELSIM_OK);
    const Bytes bytes = ReadAll(good);
    WriteAll(cut, Bytes(bytes.begin(), bytes.begin() + 12));
    std::vector<GelsimObject*> made;  // released at the end: releasing is a call, which clears the message
    auto loadBody = [&](const std::string& p) { made.push_back(gelsim_advbody_object(gelsim_AdvBodyLoad(p.data(), p.size(), 0))); };
    auto loadZone = [&](const std::string& p) { made.push_back(gelsim_zone_object(gelsim_ZoneLoad(p.data(), p.size()))); };
    const std::string absent = Path("absent.plb");
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { loadBody(absent); }, absent + ": no such file"},
        {[&] { loadBody(dir); }, dir + ": is a directory"},
        {[&] { loadBody(zone); }, zone + ": not a body file (tag 'ZONE')"},
        {[&] { loadZone(good); }, good + ": not a zone file (tag 'B111')"},
        {[&] { loadBody(cut); }, "Error reading from stream: " + cut + ": ends in the mass count: needs 14 bytes, there are 12"},
        {[&] { gelsim_AdvBodySave(body, dir.data(), dir.size()); }, "Error writing to stream: " + dir + ": is a directory"},
        {[&] { gelsim_ZoneSave(z, "/no/such/x.plz", 14, 0, 0); },
         "Error writing to stream: /no/such/x.plz: No such file or directory"},
    };
    for (const auto& [call, message] : cases) {
        call();
        ASSERT_NE(gelsim_last_error(), nullptr) << message;
        EXPECT_EQ(std::string(gelsim_last_error()), message);
    }
    // A load that finds its file succeeds without a message, and an earlier refusal does not
    // come back with a later NULL of another kind.
    loadBody(absent);
    loadBody(good);
    EXPECT_EQ(gelsim_last_error(), nullptr);
    loadBody(absent);
    EXPECT_EQ(gelsim_ZoneCreate(square, 3, GELSIM_ZONE_FILL, 0.5f, -1, 3), nullptr);
    EXPECT_TRUE(!gelsim_last_error() || std::string(gelsim_last_error()).find(absent) == std::string::npos);
    for (GelsimObject* o : made) gelsim_object_release(o);
    gelsim_zone_release(z);
    gelsim_advbody_release(body);
}

TEST_F(CInterfaceErrors, FailuresComeBackAsCodesAndMessages) {
    GelsimAdvBody* body = gelsim_AdvBodyCreate();
    ASSERT_EQ(gelsim_AdvBodyMassAdd(body, 100, 100, 1, 5, 0.5f, 1), 0);
    ASSERT_EQ(gelsim_AdvBodyMassAdd(body, 100, 120, 1, 5, 0.5f, 1), 1);
    ASSERT_EQ(gelsim_AdvBodyConAddAll(body), GELSIM_OK);
    // Body and zone files that cannot be written or read.
    EXPECT_EQ(gelsim_AdvBodySave(body, dir.data(), dir.size()), GELSIM_ERROR);
    ASSERT_NE(gelsim_last_error(), nullptr);
    EXPECT_EQ(std::string(gelsim_last_error()), "Error writing to stream: " + dir + ": is a directory");
    const float square[] = {0, 0, 50, 0, 50, 50, 0, 50};
    GelsimZone* zone = gelsim_ZoneCreate(square, 8, GELSIM_ZONE_FILL, 0.5f, -1, 3);
    EXPECT_EQ(gelsim_ZoneSave(zone, dir.data(), dir.size(), 0, 0), GELSIM_ERROR);
    EXPECT_NE(gelsim_last_error(), nullptr);
    const std::string zonePath = Path("square.plz");
    ASSERT_EQ(gelsim_ZoneSave(zone, zonePath.data(), zonePath.size(), 0, 0), GELSIM_OK);
    EXPECT_EQ(gelsim_last_error(), nullptr);
    Bytes bytes = ReadAll(zonePath);
    ASSERT_GT(bytes.size(), 16u);
    bytes.resize(bytes.size() / 2);
    WriteAll(zonePath, bytes);
    EXPECT_EQ(gelsim_ZoneLoad(zonePath.data(), zonePath.size()), nullptr);
    EXPECT_NE(gelsim_last_error(), nullptr);
    // Arguments the C side can get wrong.
    EXPECT_EQ(gelsim_ZoneCreate(nullptr, 8, GELSIM_ZONE_FILL, 0.5f, -1, 3), nullptr);
    EXPECT_NE(gelsim_last_error(), nullptr);
    EXPECT_EQ(gelsim_event_hook_add(nullptr, nullptr, 0), GELSIM_ERROR);
    EXPECT_NE(gelsim_last_error(), nullptr);

    // A failure inside a callback belongs to the call the callback made: the step that ran
    // the callback succeeded.
    struct Seen {
        GelsimAdvBody* body;
        std::string dir;
        int failedInside = 0;
        GelsimZone* zone = nullptr;
        GelsimMass* mass = nullptr;
    } seen{body, dir};
    auto failing = [](GelsimColEvent* e, void* user) -> GelsimColEvent* {
        auto* s = static_cast<Seen*>(user);
        if (gelsim_AdvBodySave(s->body, s->dir.data(), s->dir.size()) == GELSIM_ERROR && gelsim_last_error())
            ++s->failedInside;
        return e;
    };
    ASSERT_EQ(gelsim_event_hook_add(failing, &seen, 0), GELSIM_OK);
    // The zone's C response receives the same handles the program holds.
    static Seen* response = nullptr;
    response = &seen;
    ASSERT_EQ(gelsim_ZoneOverrideCollision(zone, [](GelsimZone* z, GelsimMass* m, float, float, float) -> int32_t {
                  response->zone = z;
                  response->mass = m;
                  return 0;
              }),
              GELSIM_OK);
    ASSERT_EQ(gelsim_AdvBodyActivate(body), GELSIM_OK);
    ASSERT_EQ(gelsim_AdvBodyPosition(body, 25, 52), GELSIM_OK);  // mass 0 overlaps the zone's lower edge
    EXPECT_EQ(gelsim_PhysicsUpdate(), GELSIM_OK);
    EXPECT_EQ(gelsim_last_error(), nullptr);
    EXPECT_GT(seen.failedInside, 0);
    EXPECT_EQ(seen.zone, zone);
    EXPECT_EQ(seen.mass, gelsim_AdvBodyMassGet(body, 0));
    EXPECT_EQ(gelsim_event_hook_remove(failing, &seen), 1);

    gelsim_zone_release(zone);
    gelsim_advbody_release(body);
}

}  // namespace
}  // namespace kin::gelsim::test
