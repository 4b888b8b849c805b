// Recording a game and playing it back: a headless game recorded through the real event path
// replays to the same world, the file reader survives any damage with a one-line message, and
// the command line refuses what it cannot use.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/Game.h"
#include "app/Replay.h"
#include "app/Scene.h"
#include "gelsim/core/Physics.h"
#include "platform/detail/HeadlessControl.h"
#include "tests/app/GameFixture.h"

using namespace kin;
using kin::gelsim::TPhysics;
using slime::Counters;
using slime::Game;
using slime::ReplayEntry;
using slime::ReplayScript;

namespace {

std::filesystem::path TempFile(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("slime-replay-" + std::to_string(::getpid()) + "-" + name);
}

std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Replay : public slime::test::GameFixture {
protected:
    void TearDown() override {
        Game().recorder = nullptr;
        Game().replay = nullptr;
        GameFixture::TearDown();
        std::error_code ec;
        std::filesystem::remove(file_, ec);
    }
    void Restart() {
        GameFixture::TearDown();
        GameFixture::SetUp();
    }

    // Canvas pixel over world point (x, y) with the current view.
    static void ClickWorld(float x, float y) {
        const float sx = TPhysics::ScreenX(x, y), sy = TPhysics::ScreenY(x, y);
        detail::HeadlessMouseButton(Game().canvas, 1, true, static_cast<int32_t>(sx), static_cast<int32_t>(sy));
    }

    // Plays `steps` ticks through the loop with a recorder attached; before the tick of step
    // s, what `at[s]` does (clicks, repaints, a resize) goes through the headless window.
    // Ends by closing the window; returns the hash taken at the close.
    uint64_t Record(int64_t steps, const std::map<int64_t, std::function<void()>>& at) {
        slime::ReplayWriter writer;
        std::string error;
        EXPECT_TRUE(writer.Open(file_.string(), &error)) << error;
        Game().recorder = &writer;
        for (int64_t s = 0; s < steps; ++s) {
            if (auto it = at.find(s); it != at.end()) it->second();
            // Everything waiting (a repaint, the one a resize asks for) is delivered before the tick.
            do {
                slime::LoopPass();
            } while (QueuedEventCount() > 0);
            Game().timer->Tick();
            slime::LoopPass();
            EXPECT_EQ(Counters().steps, s + 1);
        }
        detail::HeadlessClose(Game().window);
        EXPECT_TRUE(Game().closed);
        EXPECT_FALSE(writer.Writing());
        EXPECT_EQ(writer.Failed(), "");
        Game().recorder = nullptr;
        return Game().finalHash;
    }

    // Replays script headless in a fresh game; returns the hash at the close.
    uint64_t Play(const ReplayScript& script) {
        Restart();
        Game().replay = &script;
        while (slime::ReplayStep()) {
        }
        EXPECT_EQ(Counters().steps, script.endStep);
        slime::CloseGame();
        Game().replay = nullptr;
        return Game().finalHash;
    }

    std::filesystem::path file_ = TempFile("game.txt");
};

// A game with adds, a removal, two clicks within one step, a repaint and a resize (which moves
// the camera, so the same pixels would land elsewhere) replays to the same final world; the
// same recording without one of its clicks does not.
TEST_F(Replay, RecordedGameReplaysToTheSameWorldAndEveryClickCounts) {
    slime::TSlime& slime = *slime::Scene().slime;
    auto blobs = [&slime] {
        int32_t n = 0;
        for (int32_t i = 0; i <= slime.ab->MassMaxIndex(); ++i) n += slime.ab->MassExists(i);
        return n;
    };
    auto topBlob = [&slime](float& x, float& y) {
        y = 1e9f;
        for (int32_t i = 0; i <= slime.ab->MassMaxIndex(); ++i)
            if (slime.ab->MassExists(i) && slime.ab->MassGetY(i) < y) {
                x = slime.ab->MassGetX(i);
                y = slime.ab->MassGetY(i);
            }
    };
    // A pixel whose click adds a blob, searched around the top blob (the n-th one found, so
    // clicks within one step land apart).
    auto addNearTop = [&](int n) {
        float x = 0, y = 0;
        topBlob(x, y);
        for (float dy = -100.0f; dy <= 40.0f; dy += 7.0f)
            for (float dx = -100.0f; dx <= 100.0f; dx += 7.0f) {
                const int32_t px = static_cast<int32_t>(TPhysics::ScreenX(x + dx, y + dy));
                const int32_t py = static_cast<int32_t>(TPhysics::ScreenY(x + dx, y + dy));
                const float wx = TPhysics::SimX(static_cast<float>(px), static_cast<float>(py));
                const float wy = TPhysics::SimY(static_cast<float>(px), static_cast<float>(py));
                if (slime.ReachScan(wx, wy) == slime::TSlime::ClickEffect::Add && n-- == 0) {
                    const int32_t before = blobs();
                    detail::HeadlessMouseButton(Game().canvas, 1, true, px, py);
                    EXPECT_EQ(blobs(), before + 1) << "a click at step " << Counters().steps << " adds a blob";
                    return;
                }
            }
        ADD_FAILURE() << "no place to add a blob near (" << x << ", " << y << ")";
    };
    const std::map<int64_t, std::function<void()>> script = {
        {20, [&] { addNearTop(0); }},
        {45, [&] { Game().canvas->Activate(ACTIVATE_REDRAW); }},
        {60, [&] { addNearTop(0); addNearTop(5); }},
        {90, [&] { detail::HeadlessResize(Game().window, 300, 500); }},
        {120, [&] { addNearTop(2); }},
        {150, [&] { float x = 0, y = 0; topBlob(x, y); ClickWorld(x, y); }},  // removes the top blob
        {200, [&] { addNearTop(1); }},
    };
    const uint64_t recorded = Record(260, script);
    EXPECT_GE(Counters().removeSounds, 1) << "the click on the top blob must remove it";

    ReplayScript played;
    std::string error;
    ASSERT_TRUE(slime::ReadReplay(file_.string(), played, &error)) << error;
    EXPECT_TRUE(played.hasEnd);
    EXPECT_EQ(played.endStep, 260);
    size_t clicks = 0, frames = 0;
    for (const ReplayEntry& e : played.entries) (e.kind == ReplayEntry::Kind::Click ? clicks : frames) += 1;
    EXPECT_EQ(clicks, 6u);
    EXPECT_GE(frames, 2u) << "the repaint and the resize's repaint";

    EXPECT_EQ(Play(played), recorded) << ReadAll(file_);
    EXPECT_EQ(Play(played), recorded) << "a second replay in the same process";

    // Each click left out, one at a time: a world that differs at the end.
    for (size_t k = 0; k < played.entries.size(); ++k) {
        if (played.entries[k].kind != ReplayEntry::Kind::Click) continue;
        ReplayScript without = played;
        without.entries.erase(without.entries.begin() + static_cast<std::ptrdiff_t>(k));
        const uint64_t h = Play(without);
        EXPECT_NE(h, recorded) << "without the click at step " << played.entries[k].step;
    }
}

// Any truncation and any damaged byte of a good recording: read back as a recording that
// still makes sense, or refused with one line naming the file and the line; never a crash.
// A cut inside a line is always refused (its last number may have lost digits).
TEST(ReplayFile, DamageGivesOneLineNamingFileAndLine) {
    const std::string good =
        "slime-tower replay 1\n"
        "frame 0\n"
        "click 12 482.5 3850.25\n"
        "click 12 -0 1e-3\n"
        "\n"
        "frame 40\n"
        "click 41 512 3795.125\n"
        "end 90\n";
    ReplayScript s;
    std::string error;
    ASSERT_TRUE(slime::ParseReplay(good, "g.rec", s, &error)) << error;
    ASSERT_EQ(s.entries.size(), 5u);
    EXPECT_EQ(s.entries[2].y, 1e-3f);
    EXPECT_TRUE(std::signbit(s.entries[2].x));
    EXPECT_EQ(s.endStep, 90);

    auto check = [](const std::string& text, const std::string& what) -> bool {
        ReplayScript r;
        std::string err;
        if (slime::ParseReplay(text, "g.rec", r, &err)) {
            int64_t last = 0;
            for (const ReplayEntry& e : r.entries) {
                EXPECT_TRUE(std::isfinite(e.x) && std::isfinite(e.y)) << what;
                EXPECT_GE(e.step, last) << what;
                last = e.step;
            }
            EXPECT_GE(r.endStep, last) << what;
            EXPECT_LE(r.endStep, 2147483647) << what;
            return true;
        }
        EXPECT_EQ(err.find('\n'), std::string::npos) << what << ": " << err;
        EXPECT_EQ(err.rfind("g.rec:", 0), 0u) << what << ": " << err;
        const size_t colon = err.find(':', 6);
        EXPECT_NE(colon, std::string::npos) << what << ": " << err;
        EXPECT_GT(colon, 6u) << what << ": no line number: " << err;
        for (size_t i = 6; i < colon && colon != std::string::npos; ++i)
            EXPECT_TRUE(err[i] >= '0' && err[i] <= '9') << what << ": " << err;
        EXPECT_TRUE(r.entries.empty()) << what;
        return false;
    };
    for (size_t n = 0; n < good.size(); ++n) {
        const bool ok = check(good.substr(0, n), "cut at " + std::to_string(n));
        const bool atLineEnd = n > 0 && good[n - 1] == '\n';
        EXPECT_EQ(ok, atLineEnd && n > good.find('\n')) << "cut at " << n;
    }
    for (size_t i = 0; i < good.size(); ++i)
        for (const char c : std::string("x-9. \0\n\xff", 8)) {
            std::string bad = good;
            bad[i] = c;
            check(bad, "byte " + std::to_string(i) + " set to " + std::to_string(static_cast<int>(c)));
        }
    for (const char* text : {"slime-tower replay 2\nend 1\n", "slime-tower replay 1\nclick 5 1 2\nframe 4\n",
                             "slime-tower replay 1\nend 5\nframe 6\n", "slime-tower replay 1\nclick 1 nan 2\n",
                             "slime-tower replay 1\nclick 1 1e39 2\n", "slime-tower replay 1\nend 99999999999\n",
                             "slime-tower replay 1\nclick 1 2\n", "slime-tower replay 1\nclick 3 1 2\nend 2\n"})
        EXPECT_FALSE(check(text, text)) << text;
}

// The command line: unknown options, a missing or damaged replay file and nonsense
// combinations end with status 2 and one line on standard error, before any window opens.
TEST(ReplayCommandLine, RefusesWhatItCannotUseWithStatusTwo) {
    const std::filesystem::path damaged = TempFile("damaged.txt");
    {
        std::ofstream(damaged) << "slime-tower replay 1\nclick 4 12.5 x\nend 9\n";
    }
    const std::string missing = TempFile("missing.txt").string();
    const std::string dam = damaged.string();
    const std::vector<std::vector<std::string>> cases = {
        {"--frobnicate"},
        {"--replay"},
        {"--replay", missing, "--headless"},
        {"--replay", dam, "--headless", "--hash"},
        {"--headless"},
        {"--record", "a.txt", "--replay", dam},
        {"extra"},
    };
    for (const auto& args : cases) {
        std::vector<const char*> argv = {"slime-tower"};
        for (const std::string& a : args) argv.push_back(a.c_str());
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        const int status = slime::GameMain(static_cast<int>(argv.size()), argv.data());
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, 2) << args[0];
        EXPECT_EQ(out, "") << args[0];
        ASSERT_FALSE(err.empty()) << args[0];
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
        EXPECT_EQ(err.rfind("slime-tower: ", 0), 0u) << err;
    }
    std::vector<const char*> argv = {"slime-tower", "--replay", dam.c_str(), "--headless"};
    testing::internal::CaptureStderr();
    slime::GameMain(4, argv.data());
    EXPECT_NE(testing::internal::GetCapturedStderr().find(dam + ":2: coordinate \"x\""), std::string::npos);
    std::filesystem::remove(damaged);
    EXPECT_FALSE(std::filesystem::exists("a.txt")) << "a refused command line writes nothing";
}

}  // namespace
