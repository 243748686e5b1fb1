// Tones go out as one stream through ALSA's default device: pointed at a
// file, the stream holds each tone at its pitch and length, and the gaps.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/sound.h"
#include "tests/support/sandbox.h"

namespace korvo::platform {
namespace {

struct Segment {
  bool tone;
  size_t samples;
  size_t crossings;  // sign changes within the segment
};

// Splits the samples into tones and silences: silence is a run of at least
// a millisecond of zero samples (a sine meets zero only at single samples).
std::vector<Segment> Segments(const std::vector<int16_t>& s) {
  const size_t minSilence = kToneRate / 1000;
  std::vector<Segment> out;
  auto add = [&](bool tone, size_t from, size_t to) {
    if (to <= from) return;
    Segment seg{tone, to - from, 0};
    int last = 0;
    for (size_t k = from; k < to; ++k) {
      const int sign = s[k] > 0 ? 1 : (s[k] < 0 ? -1 : 0);
      if (sign != 0 && last != 0 && sign != last) ++seg.crossings;
      if (sign != 0) last = sign;
    }
    out.push_back(seg);
  };
  size_t toneStart = 0;
  for (size_t i = 0; i < s.size();) {
    if (s[i] != 0) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < s.size() && s[j] == 0) ++j;
    if (j - i >= minSilence) {
      add(true, toneStart, i);
      add(false, i, j);
      toneStart = j;
    }
    i = j;
  }
  add(true, toneStart, s.size());
  return out;
}

TEST(Sound, ThreeTonesWithGapsAsOneStream) {
  test::Sandbox sandbox;
  const std::string out = sandbox.path("tones.raw").string();
  const std::string conf = sandbox.path("asound.conf").string();
  test::Sandbox::writeFile(conf, "pcm.!default { type file slave.pcm { type null } file \"" + out +
                                     "\" format \"raw\" }\n");
  sandbox.setEnv("ALSA_CONFIG_PATH", conf);

  ASSERT_TRUE(PlayTones({{800, 300}, {0, 50}, {800, 300}, {0, 50}, {1000, 300}}));
  const std::string bytes = test::Sandbox::readFile(out);
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);

  std::vector<Segment> parts = Segments(samples);
  // The device may pad the end with silence.
  while (!parts.empty() && !parts.back().tone) parts.pop_back();
  ASSERT_EQ(parts.size(), 5u);
  const size_t ms = kToneRate / 1000;
  const struct {
    bool tone;
    size_t lengthMs;
    size_t hz;
  } expected[] = {{true, 300, 800}, {false, 50, 0}, {true, 300, 800}, {false, 50, 0}, {true, 300, 1000}};
  for (size_t k = 0; k < 5; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(parts[k].tone, expected[k].tone);
    // Zeros at a tone's edges may fall to the gap: within a millisecond.
    EXPECT_NEAR(static_cast<double>(parts[k].samples), static_cast<double>(expected[k].lengthMs * ms),
                static_cast<double>(ms));
    if (expected[k].tone) {
      // Two crossings a cycle: the pitch within 1%.
      const double hz = parts[k].crossings / 2.0 / (expected[k].lengthMs / 1000.0);
      EXPECT_NEAR(hz, static_cast<double>(expected[k].hz), expected[k].hz * 0.01);
    }
  }
}

TEST(Sound, NoDeviceIsReported) {
  test::Sandbox sandbox;
  const std::string conf = sandbox.path("asound.conf").string();
  test::Sandbox::writeFile(conf, "pcm.!default { type hw card 99 }\n");
  sandbox.setEnv("ALSA_CONFIG_PATH", conf);
  EXPECT_FALSE(Beep(800, 300));
}

}  // namespace
}  // namespace korvo::platform
