#pragma once
// Sounds and channels. Without an audio device everything runs silently after one
// warning line.
#include <cstdint>
#include <string>

#include "platform/Object.h"

namespace kin {

class TChannel : public TObject {
public:
    ~TChannel() override;
    /// Stops playback on this channel.
    void Stop();
    /// True while the sound is still playing.
    bool Playing() const;
    int32_t slot = -1;    // mixer channel, -1 when none
    uint32_t serial = 0;  // start number, so a reused channel is not mistaken for this one
};

class TSound : public TObject {
public:
    /// Loads a WAV from a media name; flags 0. Null when absent or undecodable.
    static Ref<TSound> Load(const std::string& name, int32_t flags = 0);
    ~TSound() override;
    /// Length in seconds.
    float Length() const { return seconds; }
    void* chunk = nullptr;  // the mixer's decoded sample; null when sound is silent
    float seconds = 0.0f;
};

/// Starts sound on a new channel and returns at once; sounds overlap.
Ref<TChannel> PlaySound(TSound* sound);
/// True when a real audio device is open (false: silent fallback).
bool AudioAvailable();

}  // namespace kin
