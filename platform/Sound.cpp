// Sounds and channels.
//
// With an open mixer each play takes a free mixer channel. Without one (headless, or no
// usable output at all) sounds are still decoded, so a bad file is refused the same way,
// and then "play" silently on 16 virtual channels that end after the sound's length.
// A channel handle carries its slot and the start number it got; a slot reused by a
// later sound has a different number, so an old handle can neither stop nor report the
// newer sound.
#include "platform/Sound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Stream.h"
#include "platform/System.h"
#include "platform/detail/ServiceState.h"

namespace kin {
namespace {

constexpr int32_t CHANNELS = 16;
constexpr int64_t MAX_SOUND_BYTES = 256 << 20;

struct SoundState {
    bool mixerOpen = false;
    bool device = false;  // a real output (not the silent dummy driver)
    uint32_t slotSerial[CHANNELS] = {};
    int64_t silentEnd[CHANNELS] = {};  // Millisecs() when a silent channel is done
    uint32_t nextSerial = 1;
    std::vector<TSound*> sounds;  // live sounds, whose mixer data goes when the mixer closes
};

SoundState g_sound;

bool TryOpenMixer() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    if (Mix_OpenAudio(MIX_DEFAULT_FREQUENCY, MIX_DEFAULT_FORMAT, MIX_DEFAULT_CHANNELS, 1024) != 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    return true;
}

std::string OneLine(const char* s) {
    std::string r = s ? s : "";
    std::replace(r.begin(), r.end(), '\n', ' ');
    std::replace(r.begin(), r.end(), '\r', ' ');
    return r.empty() ? "unknown reason" : r;
}

std::vector<uint8_t> ReadAll(TStream& s) {
    std::vector<uint8_t> bytes;
    const int64_t size = s.Size();
    if (size > MAX_SOUND_BYTES) return {};
    if (size > 0) bytes.reserve(static_cast<size_t>(size));
    uint8_t block[65536];
    for (;;) {
        const int64_t n = s.Read(block, sizeof block);
        if (n <= 0) break;
        if (static_cast<int64_t>(bytes.size()) + n > MAX_SOUND_BYTES) return {};
        bytes.insert(bytes.end(), block, block + n);
    }
    return bytes;
}

int32_t BytesPerFrame(Uint16 format, int channels) {
    return static_cast<int32_t>(SDL_AUDIO_BITSIZE(format) / 8) * std::max(channels, 1);
}

bool SlotMatches(int32_t slot, uint32_t serial) {
    return slot >= 0 && slot < CHANNELS && serial != 0 && g_sound.slotSerial[slot] == serial;
}

}  // namespace

namespace detail {

void OpenSound(bool device) {
    if (g_sound.mixerOpen) return;
    std::fill(std::begin(g_sound.slotSerial), std::end(g_sound.slotSerial), 0u);
    std::fill(std::begin(g_sound.silentEnd), std::end(g_sound.silentEnd), int64_t{0});
    if (!device) return;
    bool ok;
    {
        // The sound libraries underneath complain about missing hardware on their own;
        // the single warning line below replaces that.
        detail::QuietStderr quiet;
        ok = TryOpenMixer();
    }
    if (!ok) {
        std::fprintf(stderr, "warning: no audio output (%s); sound is silent\n", OneLine(SDL_GetError()).c_str());
        // The dummy driver keeps the mixer and its timing without any hardware.
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
        ok = TryOpenMixer();
        SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    }
    if (!ok) return;  // no mixer at all: decoded-only, silent channels
    g_sound.mixerOpen = true;
    const char* driver = SDL_GetCurrentAudioDriver();
    g_sound.device = driver && SDL_strcmp(driver, "dummy") != 0 && SDL_strcmp(driver, "disk") != 0;
    Mix_AllocateChannels(CHANNELS);
    // Channels sum without headroom: half volume lets two squelches overlap unclipped.
    Mix_Volume(-1, MIX_MAX_VOLUME / 2);
}

void CloseSound() {
    if (g_sound.mixerOpen) {
        Mix_HaltChannel(-1);
        for (TSound* s : g_sound.sounds) {
            if (s->chunk) Mix_FreeChunk(static_cast<Mix_Chunk*>(s->chunk));
            s->chunk = nullptr;
        }
        Mix_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    g_sound.mixerOpen = false;
    g_sound.device = false;
    std::fill(std::begin(g_sound.slotSerial), std::end(g_sound.slotSerial), 0u);
    std::fill(std::begin(g_sound.silentEnd), std::end(g_sound.silentEnd), int64_t{0});
}

}  // namespace detail

TChannel::~TChannel() = default;

void TChannel::Stop() {
    if (!SlotMatches(slot, serial)) return;
    if (g_sound.mixerOpen)
        Mix_HaltChannel(slot);
    else
        g_sound.silentEnd[slot] = 0;
}

bool TChannel::Playing() const {
    if (!SlotMatches(slot, serial)) return false;
    if (g_sound.mixerOpen) return Mix_Playing(slot) != 0;
    return g_sound.silentEnd[slot] > Millisecs();
}

Ref<TSound> TSound::Load(const std::string& name, int32_t) {
    Ref<TStream> stream = OpenMedia(name);
    if (!stream) return nullptr;
    const std::vector<uint8_t> bytes = ReadAll(*stream);
    if (bytes.empty()) return nullptr;
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    if (!rw) return nullptr;

    Ref<TSound> sound = MakeRef<TSound>();
    if (g_sound.mixerOpen) {
        Mix_Chunk* chunk = Mix_LoadWAV_RW(rw, 1);
        if (!chunk) return nullptr;
        int freq = 0, channels = 0;
        Uint16 format = 0;
        Mix_QuerySpec(&freq, &format, &channels);
        sound->chunk = chunk;
        sound->seconds = freq > 0 ? static_cast<float>(chunk->alen) /
                                        static_cast<float>(freq * BytesPerFrame(format, channels))
                                  : 0.0f;
    } else {
        SDL_AudioSpec wav{};
        Uint8* buf = nullptr;
        Uint32 len = 0;
        if (!SDL_LoadWAV_RW(rw, 1, &wav, &buf, &len)) return nullptr;
        SDL_FreeWAV(buf);
        sound->seconds = wav.freq > 0 ? static_cast<float>(len) /
                                             static_cast<float>(wav.freq * BytesPerFrame(wav.format, wav.channels))
                                       : 0.0f;
    }
    g_sound.sounds.push_back(sound.Get());
    return sound;
}

TSound::~TSound() {
    auto& v = g_sound.sounds;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
    // Freeing a chunk halts the channels that still play it.
    if (chunk && g_sound.mixerOpen) Mix_FreeChunk(static_cast<Mix_Chunk*>(chunk));
    chunk = nullptr;
}

Ref<TChannel> PlaySound(TSound* sound) {
    if (!sound) return nullptr;
    Ref<TChannel> ch = MakeRef<TChannel>();
    int32_t slot = -1;
    if (g_sound.mixerOpen) {
        if (!sound->chunk) return ch;
        slot = Mix_PlayChannel(-1, static_cast<Mix_Chunk*>(sound->chunk), 0);
        if (slot >= CHANNELS) {
            Mix_HaltChannel(slot);
            slot = -1;
        }
    } else {
        const int64_t now = Millisecs();
        for (int32_t i = 0; i < CHANNELS && slot < 0; ++i)
            if (g_sound.silentEnd[i] <= now) slot = i;
        if (slot >= 0)
            g_sound.silentEnd[slot] = now + static_cast<int64_t>(std::ceil(std::clamp(sound->seconds, 0.0f, 1.0e9f) * 1000.0f));
    }
    if (slot < 0) return ch;  // every channel busy: the sound is dropped
    ch->slot = slot;
    ch->serial = g_sound.nextSerial++;
    if (g_sound.nextSerial == 0) g_sound.nextSerial = 1;
    g_sound.slotSerial[slot] = ch->serial;
    return ch;
}

bool AudioAvailable() { return g_sound.mixerOpen && g_sound.device; }

}  // namespace kin
