#include "platform/sound.h"

#include <alsa/asoundlib.h>

#include <cmath>
#include <numbers>

namespace korvo::platform {

namespace {
// Without a device ALSA would print its search to standard error; the caller
// learns of it from the result.
void Quiet(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

bool PlayTones(const std::vector<Tone>& tones) {
  snd_lib_error_set_handler(Quiet);
  std::vector<int16_t> samples;
  for (const Tone& t : tones) {
    const size_t count = static_cast<size_t>(t.ms) * kToneRate / 1000;
    for (size_t i = 0; i < count; ++i) {
      const double phase = 2 * std::numbers::pi * t.frequency * static_cast<double>(i) / kToneRate;
      samples.push_back(t.frequency ? static_cast<int16_t>(std::lround(10000 * std::sin(phase))) : 0);
    }
  }
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) return false;
  bool ok = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kToneRate, 1,
                               500000) == 0;
  for (size_t at = 0; ok && at < samples.size();) {
    snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples.data() + at, samples.size() - at);
    if (n < 0) n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
    if (n < 0) ok = false;
    else at += static_cast<size_t>(n);
  }
  if (ok) snd_pcm_drain(pcm);
  snd_pcm_close(pcm);
  // The parsed configuration is cached for the process; a tone now and then
  // does not need it kept.
  snd_config_update_free_global();
  return ok;
}

}  // namespace korvo::platform
