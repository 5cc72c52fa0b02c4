// Polyphase synthesis filterbank: 32 subband samples in, 32 PCM samples out,
// per channel, with 16-bit output (truncated toward zero, clipped).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelpra {

class Synthesis {
 public:
  Synthesis() { Reset(); }
  void Reset();

  // One block per stream channel: `in[ch]` holds 32 subband samples. Writes
  // 32 samples per output channel to `out`, interleaved when there are two.
  // Each stream channel has its own filter state; when the output has another
  // channel count than the stream, the filtered channels are mixed with the
  // constant-power factor 1/sqrt(2) (FFmpeg's convention, which the decoder
  // is measured against).
  void Block(const float* const in[2], int streamChannels, int outChannels, int16_t* out);
  void Block(const float* const in[2], int channels, int16_t* out) {
    Block(in, channels, channels, out);
  }

  // `count` blocks in a row: block b of stream channel ch is the 32 floats at
  // in_ch + b * stride (`in1` is unused for one stream channel); the PCM of
  // the blocks follows each other in `out`.
  void Blocks(const float* in0, const float* in1, size_t stride, int count, int streamChannels,
              int outChannels, int16_t* out);

  // 32-point DCT-II: out[j] = sum_k in[k] cos(pi j (2k + 1) / 64).
  static void Dct32(const float* in, float* out);
  static int16_t ToPcm(float sum);

 private:
  // Matrixing, windowing and PCM output of one block from the DCT outputs
  // `a[ch]` of each stream channel.
  void Window(const float (*a)[32], int streamChannels, int outChannels, int16_t* out);

  // 16 blocks per channel; each holds the 64 matrixed values of one block
  // (the first 32 used at even ages, the last 32 at odd ages).
  alignas(16) float v_[2][16][64];
  int pos_[2] = {0, 0};
};

}  // namespace kelpra
