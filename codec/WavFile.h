// Plain WAV output: a 48-byte header ("RIFF", "WAVEfmt ", a 20-byte fmt chunk
// holding the whole AudioFormatRecord, "data") followed by the samples.
#pragma once

#include <cstdint>
#include <string>

#include "codec/AudioFormat.h"

namespace sonarvex {

inline constexpr int kInvalidWavHandle = -1;
inline constexpr std::uint32_t kWavHeaderSize = 48;

// Creates (replacing) the file and writes the header with both sizes 0. What
// was at the name is removed first and the new file is created exclusively,
// so a symbolic link there is replaced, never written through. The result is
// a file descriptor open for reading and writing, positioned after the
// header; the caller appends sample data with plain writes (write(2) or
// WriteWavData). kInvalidWavHandle on failure (errno says why).
int CreateWavFile(const std::string& fileName, const AudioFormatRecord& format);

// Appends bytes; false when not everything was written.
bool WriteWavData(int handle, const void* data, std::size_t bytes);

// Patches the data size (offset 44) and the RIFF size (offset 4, data + 40)
// and closes the handle. The format is not rewritten. False (errno set) when
// a patch or the close failed; the handle is closed all the same.
bool FinishWavFile(int handle, std::uint32_t dataBytes, const AudioFormatRecord& format);

// The 48 header bytes for a file of dataBytes sample bytes.
void BuildWavHeader(std::uint8_t out[48], std::uint32_t dataBytes, const AudioFormatRecord& format);

}  // namespace sonarvex
