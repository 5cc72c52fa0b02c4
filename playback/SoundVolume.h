// The volume scales the players use: the volume bar (0..255), attenuation in
// hundredths of a decibel (0 full, -10000 silent, the unit of the looping
// buffer and of the media player) and the linear gain applied to samples.
#pragma once

namespace sonarvex {

inline constexpr int kSilentVolume = -10000;  // hundredths of a decibel

// The digital player's curve: v = level / 255 x 10000, attenuation =
// round((v - 10000) / ln v) with ln v taken as 1 when v is 0; 255 gives 0,
// 128 about -584, 1 about -2715, 0 gives -10000. Levels are clamped to 0..255.
int BufferVolumeFromLevel(int level);

// Linear gain of an attenuation in hundredths of a decibel: 10^(h / 2000),
// 1 at 0 and above, exactly 0 at -10000 and below.
double GainFromHundredthsDb(int hundredths);

// The media player's volume for a bar position: position x 10 - 2550
// (0 gives -25.5 dB, 255 full volume).
inline int MediaVolumeFromBar(int position) { return position * 10 - 2550; }

// Scales 16-bit little-endian stereo samples in place by `gain` (0..1),
// rounding to nearest; a gain of 1 leaves the bytes untouched.
void ApplyGain(unsigned char* pcm, long bytes, double gain);

}  // namespace sonarvex
