// Decodes MPEG-1/2/2.5 Layer I, II and III frames into 16-bit PCM. One
// object per file: it holds the bit reservoir, the IMDCT overlap and the
// synthesis state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FrameHeader.h"
#include "JointStereo.h"
#include "Synthesis.h"

namespace kelpra {

class BitReader;

class Mp3Decoder {
 public:
  // `first` is the file's first frame; it fixes the layer, version, sample
  // rate and channel count of the output.
  explicit Mp3Decoder(const FrameHeader& first);

  enum class Result {
    Decoded,      // `pcm` holds the frame's samples
    NoSync,       // no frame header at the address
    Invalid,      // header not valid
    Short,        // too few bytes for even the frame's header and side information
    Incompatible, // a frame of another layer, version or sample rate
    NoData,       // Layer III: main data not yet in the reservoir
    Damaged,      // Layer III: side information that cannot be decoded
  };

  // Decodes the frame at `p` of which `avail` bytes may be read into `pcm`
  // (first.pcmBytes bytes); a frame longer than `avail` is decoded from the
  // bytes there are. `h` receives the frame's header when it parsed.
  Result DecodeFrame(const uint8_t* p, size_t avail, int16_t* pcm, FrameHeader& h);

 private:
  struct GranuleChannel {
    int part23Length = 0, bigValues = 0, globalGain = 0, scalefacCompress = 0;
    int windowSwitching = 0, blockType = 0, mixed = 0;
    int tableSelect[3] = {0, 0, 0};
    int subblockGain[3] = {0, 0, 0};
    int region0Count = 0, region1Count = 0;
    int preflag = 0, scalefacScale = 0, count1Table = 0;
  };
  struct SideInfo {
    int mainDataBegin = 0;
    int scfsi[2][4] = {};
    GranuleChannel gr[2][2];
  };
  bool DecodeLayerI(const FrameHeader& h, const uint8_t* frame, size_t len, int16_t* pcm);
  bool DecodeLayerII(const FrameHeader& h, const uint8_t* frame, size_t len, int16_t* pcm);
  bool DecodeLayerIII(const FrameHeader& h, const uint8_t* frame, size_t len, int16_t* pcm);

  bool ReadSideInfo(const FrameHeader& h, const uint8_t* frame, size_t len, SideInfo& si);
  void ReadScaleFactorsMpeg1(BitReader& br, const GranuleChannel& gc, int gr, int ch,
                             const SideInfo& si);
  void ReadScaleFactorsLsf(BitReader& br, GranuleChannel& gc, int ch, bool intensityRight);
  int GainSegments(const GranuleChannel& gc, const ScaleFactors& sf, int* ends,
                   float* gains) const;
  int DecodeSpectrum(BitReader& br, const GranuleChannel& gc, const ScaleFactors& sf, size_t end,
                     float* xr);
  void Hybrid(const GranuleChannel& gc, int ch, int nz, float (*out)[32]);

  // Synthesis of blocks of 32 subband samples per stream channel into the
  // output's channels (a stereo frame of a mono file is mixed down, a mono
  // frame of a stereo file goes to both channels).
  void SynthesizeBlocks(const float (*sb)[2][32], int blocks, int streamChannels, int16_t* pcm);

  FrameHeader first_;
  bool damaged_ = false;
  int rateIndex_ = 0;
  int lsf_ = 0;
  Synthesis synth_;

  // Layer III state.
  static constexpr size_t kReservoirSize = 8192;
  static constexpr size_t kReservoirPad = 64;
  uint8_t reservoir_[kReservoirSize + kReservoirPad];
  size_t resvLen_ = 0;
  ScaleFactors sf_[2];
  alignas(16) float xr_[2][576];
  alignas(16) float overlap_[2][18][32];  // [line][subband]
  alignas(16) float sbOut_[2][18][32];
};

}  // namespace kelpra
