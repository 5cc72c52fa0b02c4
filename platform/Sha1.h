// SHA-1 (FIPS 180-4) of a byte string: what the MusicBrainz disc identifier
// is made of. Not for anything that needs a secure hash.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace sonarvex {

using Sha1Digest = std::array<std::uint8_t, 20>;

Sha1Digest Sha1(std::string_view data);

}  // namespace sonarvex
