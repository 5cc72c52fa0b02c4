// The kinds of output a grab or a conversion produces, numbered as the
// settings record's OutputKind field stores them. FLAC and Opus are chosen
// per grab or conversion only: the record never stores them (their options
// live in the INI store).
#pragma once

#include <cstdint>

namespace sonarvex {

enum class OutputKind : std::uint8_t { Wav = 0, Mp3 = 1, Wma = 2, Ogg = 3, Flac = 4, Opus = 5 };

// The kind a stored OutputKind value names; unknown values (FLAC's 4 and
// Opus's 5 included, which the record does not store) mean WAV, which no
// encoder writes.
inline OutputKind OutputKindFromRecord(std::uint8_t stored) {
  return stored <= 3 ? static_cast<OutputKind>(stored) : OutputKind::Wav;
}

}  // namespace sonarvex
