// The compression ratio behind the main window's expected MP3 sizes: CD
// audio bytes per compressed byte.
#pragma once

#include "records/SettingsRecord.h"
#include "codec/AudioFormat.h"

namespace sonarvex {

class AcmMp3Writer;

// LAME: 176400 / (kbit/s x 125) for the maximum bitrate with VBR, else the
// bitrate. Infinite when the bitrate is 0.
double LameCompressionRatio(const LameSettings& lame);

// A codec-layer MP3 format with B bytes a second: 176400 / B. Infinite for a
// format without data rate.
double AcmCompressionRatio(const AudioFormatRecord& format);

// FLAC keeps CD audio at about 0.6 of its size (music varies from about
// 0.4 to 0.8).
inline constexpr double kFlacCompressionRatio = 1 / 0.6;

// By UseLame: the LAME ratio, or the ratio of the ACM format AcmFormatIndex
// (infinite when no such format exists). Expected size = bytes / ratio.
double ExpectedCompressionRatio(const SettingsRecord& settings, const AcmMp3Writer& acm);

}  // namespace sonarvex
