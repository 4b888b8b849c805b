// Sounds: decoding WAVs from built-in data, silent channels headless, the mixer on the
// window backend with SDL's dummy audio driver, and the fallback when no output opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Media.h"
#include "platform/Sound.h"
#include "platform/System.h"

namespace kin {
namespace {

// A 16-bit stereo PCM WAV of the given length: a quiet sawtooth.
std::vector<uint8_t> MakeWav(double seconds, uint32_t rate = 44100) {
    const uint32_t frames = static_cast<uint32_t>(seconds * rate), dataBytes = frames * 4;
    std::vector<uint8_t> b;
    auto put = [&b](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto tag = [&b](const char* t) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(t[i])); };
    tag("RIFF");
    put(36 + dataBytes, 4);
    tag("WAVE");
    tag("fmt ");
    put(16, 4);
    put(1, 2);  // PCM
    put(2, 2);  // stereo
    put(rate, 4);
    put(rate * 4, 4);
    put(4, 2);
    put(16, 2);
    tag("data");
    put(dataBytes, 4);
    for (uint32_t i = 0; i < frames * 2; ++i) put(static_cast<uint16_t>(static_cast<int16_t>((i / 2 % 100) * 40 - 2000)), 2);
    return b;
}

// Built-in data must outlive its registration: kept here for the whole run.
void Register(const std::string& name, std::vector<uint8_t> bytes) {
    static std::vector<std::vector<uint8_t>> keep;
    keep.push_back(std::move(bytes));
    RegisterIncbin(name, keep.back().data(), static_cast<int64_t>(keep.back().size()));
}

void RegisterTestSounds() {
    Register("test/short.wav", MakeWav(0.25));
    Register("test/long.wav", MakeWav(5.0));
    std::vector<uint8_t> bad = MakeWav(0.1);
    std::memcpy(bad.data() + 8, "WAVX", 4);
    Register("test/bad.wav", bad);
    std::vector<uint8_t> cut = MakeWav(0.1);
    cut.resize(30);
    Register("test/cut.wav", cut);
    Register("test/noise.wav", std::vector<uint8_t>(500, 0x5A));
}

class SoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterTestSounds();
        ASSERT_TRUE(InitServices(Backend::Headless));
    }
    void TearDown() override { ShutdownServices(); }
};

TEST_F(SoundTest, LoadsValidWavsAndRefusesDamagedOnes) {
    Ref<TSound> s = TSound::Load("incbin::test/short.wav", 0);
    ASSERT_TRUE(s);
    EXPECT_NEAR(s->Length(), 0.25f, 0.001f);
    for (const char* name : {"incbin::test/bad.wav", "incbin::test/cut.wav", "incbin::test/noise.wav",
                             "incbin::test/absent.wav", "no/such/file.wav"})
        EXPECT_FALSE(TSound::Load(name, 0)) << name;
    EXPECT_FALSE(AudioAvailable());
    EXPECT_FALSE(PlaySound(nullptr));
}

TEST_F(SoundTest, SilentChannelsOverlapAndOldHandlesStayOld) {
    Ref<TSound> s = TSound::Load("incbin::test/long.wav", 0);
    ASSERT_TRUE(s);
    std::vector<Ref<TChannel>> chans;
    for (int i = 0; i < 16; ++i) chans.push_back(PlaySound(s));
    for (const auto& c : chans) EXPECT_TRUE(c->Playing());
    Ref<TChannel> extra = PlaySound(s);  // every channel busy: dropped
    ASSERT_TRUE(extra);
    EXPECT_FALSE(extra->Playing());
    extra->Stop();

    chans[3]->Stop();
    EXPECT_FALSE(chans[3]->Playing());
    EXPECT_TRUE(chans[4]->Playing());
    Ref<TChannel> reuse = PlaySound(s);  // takes the freed channel
    EXPECT_EQ(reuse->slot, chans[3]->slot);
    EXPECT_FALSE(chans[3]->Playing());
    chans[3]->Stop();  // must not stop the newer sound
    EXPECT_TRUE(reuse->Playing());
}

// The window backend under the dummy drivers opens a real mixer without hardware.
class MixerTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterTestSounds(); }
    void TearDown() override { ShutdownServices(); }
    bool Start() {
        std::string error;
        return InitServices(Backend::Window, &error);
    }
};

TEST_F(MixerTest, PlaysAndStopsThroughTheMixer) {
    if (!Start()) GTEST_SKIP() << "no dummy video driver";
    EXPECT_FALSE(AudioAvailable());  // the dummy driver is no output
    Ref<TSound> s = TSound::Load("incbin::test/long.wav", 0);
    ASSERT_TRUE(s);
    EXPECT_NEAR(s->Length(), 5.0f, 0.01f);
    EXPECT_FALSE(TSound::Load("incbin::test/bad.wav", 0));
    Ref<TChannel> a = PlaySound(s), b = PlaySound(s);
    EXPECT_NE(a->slot, b->slot);
    EXPECT_TRUE(a->Playing());
    EXPECT_TRUE(b->Playing());
    a->Stop();
    EXPECT_FALSE(a->Playing());
    EXPECT_TRUE(b->Playing());
    ShutdownServices();
    // Sounds outlive the mixer and then play silently.
    EXPECT_FALSE(b->Playing());
    Ref<TChannel> late = PlaySound(s);
    EXPECT_TRUE(late);
}

TEST_F(MixerTest, UnusableOutputFallsBackToSilenceWithOneWarning) {
    const char* old = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = old ? old : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    ::testing::internal::CaptureStderr();
    const bool started = Start();
    const std::string err = ::testing::internal::GetCapturedStderr();
    if (old)
        setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    else
        unsetenv("SDL_AUDIODRIVER");
    if (!started) GTEST_SKIP() << "no dummy video driver";
    // Exactly one line of ours (other libraries may add their own chatter).
    const size_t at = err.find("warning: no audio output");
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_EQ(err.find("warning: no audio output", at + 1), std::string::npos) << err;
    const size_t end = err.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    EXPECT_NE(err.substr(at, end - at).find("sound is silent"), std::string::npos) << err;
    EXPECT_FALSE(AudioAvailable());
    Ref<TSound> s = TSound::Load("incbin::test/long.wav", 0);
    ASSERT_TRUE(s);
    EXPECT_TRUE(PlaySound(s)->Playing());
}

}  // namespace
}  // namespace kin
