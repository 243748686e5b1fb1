// Tones for Beep: one stream to ALSA's default device (which reaches
// PulseAudio or PipeWire where they run). Callers ring the display bell when
// no device opens.
#pragma once

#include <cstdint>
#include <vector>

namespace korvo::platform {

struct Tone {
  uint32_t frequency = 0;  // Hz; 0 is silence
  uint32_t ms = 0;
};

inline constexpr uint32_t kToneRate = 48000;  // samples a second, 16-bit mono

// Plays the tones one after the other as one stream and waits until they are
// out. False when no sound device opens or the stream fails.
bool PlayTones(const std::vector<Tone>& tones);
inline bool Beep(uint32_t frequency, uint32_t ms) { return PlayTones({{frequency, ms}}); }

}  // namespace korvo::platform
