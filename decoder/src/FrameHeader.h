// The 4-byte MPEG audio frame header, frame lengths, Xing/VBRI headers and
// the position of the first frame in a file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelpra {

struct FrameHeader {
  int version = 0;  // 1 = MPEG-1, 2 = MPEG-2, 3 = MPEG-2.5
  int layer = 0;    // 1, 2, 3
  int crc = 0;      // 1 when a 16-bit CRC follows the header
  int bitrateIndex = 0;
  int sampleRateIndex = 0;
  int padding = 0;
  int privateBit = 0;
  int mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  int modeExtension = 0;
  int copyright = 0, original = 0, emphasis = 0;

  // Derived.
  int sampleRate = 0;     // Hz
  int bitrate = 0;        // bit/s from the header's index
  int frameBitrate = 0;   // bit/s; 0 for the frame carrying a VBR header
  int vbrFrames = 0;      // from a Xing/VBRI header
  int vbrBytes = 0;
  int hasVbrHeader = 0;   // a Xing, Info or VBRI header: the frame carries no audio
  // The encoder's extension of a Xing/Info header: samples the encoder put
  // before the audio and after it (12 bits each).
  int hasGaplessInfo = 0;
  int encoderDelay = 0;
  int encoderPadding = 0;
  // Free format (bitrate index 0): the stream's frame length without padding,
  // found from the distance between two headers; 0 otherwise.
  int freeFormatBytes = 0;
  int frameLength = 0;    // bytes
  int minFrameLength = 0;
  int maxFrameLength = 0;
  int channels = 0;       // of the output: 1 for mono, else 2
  int samplesPerFrame = 0;
  int pcmBytes = 0;       // per frame, 16-bit

  // Index 0..8 into the per-rate tables (MPEG-1, MPEG-2, MPEG-2.5 groups).
  int RateTableIndex() const { return (version - 1) * 3 + sampleRateIndex; }
  int StreamChannels() const { return mode == 3 ? 1 : 2; }
  bool Lsf() const { return version != 1; }
  // Layer III side information bytes.
  int SideInfoBytes() const;
};

enum class HeaderResult { Ok, NoSync, Invalid };

// Parses the header at `p` of which `avail` bytes may be read. The frame's
// length, the VBR header (when `lookForVbr`) and the derived fields are filled.
// A free-format header (bitrate index 0) is valid only with the stream's
// `freeFormatBytes` (see FindFreeFormatLength); its bitrate is derived from it.
HeaderResult ParseHeader(const uint8_t* p, size_t avail, bool lookForVbr, FrameHeader& h,
                         int freeFormatBytes = 0);

// For a free-format header at `p`: the stream's frame length without padding,
// from the distance to the next header of the same stream (confirmed by the
// header after that, or by the end of the data). 0 when there is none.
int FindFreeFormatLength(const uint8_t* p, size_t avail);

// Bitrate in kbit/s of (version, layer, index); 0 for index 0 and 15.
int BitrateKbps(int version, int layer, int index);
int SampleRateHz(int version, int index);
// Frame length in bytes; 0 for free format (bitrate 0).
int FrameLength(int version, int layer, int bitrate, int sampleRate, int padding);

// Offset of the first frame: after a leading ID3v2 tag, else 0.
size_t FindFirstFrame(const uint8_t* data, size_t size);

}  // namespace kelpra
