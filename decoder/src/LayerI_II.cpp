// Layer I and Layer II decoding: bit allocation, scale factors and samples to
// 32-subband blocks for the synthesis.
#include <algorithm>
#include <cstring>

#include "BitReader.h"
#include "Mp3Decoder.h"
#include "Tables.h"

namespace kelpra {

void Mp3Decoder::SynthesizeBlocks(const float (*sb)[2][32], int blocks, int streamChannels,
                                  int16_t* pcm) {
  synth_.Blocks(sb[0][0], sb[0][1], 64, blocks, streamChannels, first_.channels, pcm);
}

bool Mp3Decoder::DecodeLayerI(const FrameHeader& h, const uint8_t* frame, size_t len,
                              int16_t* pcm) {
  const size_t start = 4 + 2 * size_t(h.crc);
  if (start >= len) return false;
  BitReader br(frame + start, len - start);
  const DerivedTables& d = Derived();
  const int nch = h.StreamChannels();
  const int bound = h.mode == 1 ? 4 * (h.modeExtension + 1) : 32;

  int alloc[2][32] = {};
  int scf[2][32] = {};
  for (int sb = 0; sb < 32; ++sb) {
    if (sb < bound) {
      for (int ch = 0; ch < nch; ++ch) alloc[ch][sb] = int(br.Get(4));
    } else {
      alloc[0][sb] = alloc[1][sb] = int(br.Get(4));
    }
    // 15 is a forbidden allocation.
    for (int ch = 0; ch < 2; ++ch)
      if (alloc[ch][sb] == 15) alloc[ch][sb] = 0;
  }
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (alloc[ch][sb]) scf[ch][sb] = int(br.Get(6));

  alignas(16) float blocks[12][2][32];
  auto requant = [&](uint32_t v, int nb) {
    // Fraction with the most significant bit inverted, scaled to 2^nb - 1 steps.
    const int t = int(v) - (1 << (nb - 1)) + 1;
    return 2.0f * float(t) / float((1 << nb) - 1);
  };
  for (int s = 0; s < 12; ++s) {
    for (int sb = 0; sb < 32; ++sb) {
      if (sb < bound) {
        for (int ch = 0; ch < nch; ++ch) {
          const int nb = alloc[ch][sb] + 1;
          blocks[s][ch][sb] =
              alloc[ch][sb] ? requant(br.Get(nb), nb) * d.layer12Scale[scf[ch][sb]] : 0.0f;
        }
      } else {
        const int nb = alloc[0][sb] + 1;
        const float v = alloc[0][sb] ? requant(br.Get(nb), nb) : 0.0f;
        for (int ch = 0; ch < nch; ++ch) blocks[s][ch][sb] = v * d.layer12Scale[scf[ch][sb]];
      }
    }
  }
  SynthesizeBlocks(blocks, 12, nch, pcm);
  return true;
}

bool Mp3Decoder::DecodeLayerII(const FrameHeader& h, const uint8_t* frame, size_t len,
                               int16_t* pcm) {
  const size_t start = 4 + 2 * size_t(h.crc);
  if (start >= len) return false;
  BitReader br(frame + start, len - start);
  const DerivedTables& d = Derived();
  const int nch = h.StreamChannels();

  int table;
  if (h.Lsf()) {
    table = 4;
  } else {
    const int perChannel = h.bitrate / 1000 / nch;
    if (perChannel <= 48)
      table = h.sampleRate == 32000 ? 3 : 2;
    else if (perChannel <= 80)
      table = 0;
    else
      table = h.sampleRate == 48000 ? 0 : 1;
  }
  const AllocTable& at = kAllocTables[table];
  const int sblimit = std::clamp(at.sblimit, 0, 32);
  const int bound = h.mode == 1 ? std::min(4 * (h.modeExtension + 1), sblimit) : sblimit;

  const AllocEntry* alloc[2][32] = {};
  for (int sb = 0; sb < sblimit; ++sb) {
    const int nbal = at.nbal[sb];
    if (sb < bound) {
      for (int ch = 0; ch < nch; ++ch) alloc[ch][sb] = &at.entries[sb][br.Get(nbal) & 15];
    } else {
      alloc[0][sb] = alloc[1][sb] = &at.entries[sb][br.Get(nbal) & 15];
    }
    for (int ch = 0; ch < 2; ++ch)
      if (alloc[ch][sb] && alloc[ch][sb]->steps == 0) alloc[ch][sb] = nullptr;
  }
  int scfsi[2][32] = {};
  for (int sb = 0; sb < sblimit; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (alloc[ch][sb]) scfsi[ch][sb] = int(br.Get(2));
  int scf[2][32][3] = {};
  for (int sb = 0; sb < sblimit; ++sb) {
    for (int ch = 0; ch < nch; ++ch) {
      if (!alloc[ch][sb]) continue;
      int* s = scf[ch][sb];
      switch (scfsi[ch][sb]) {
        case 0:
          s[0] = int(br.Get(6));
          s[1] = int(br.Get(6));
          s[2] = int(br.Get(6));
          break;
        case 1:
          s[0] = s[1] = int(br.Get(6));
          s[2] = int(br.Get(6));
          break;
        case 2:
          s[0] = s[1] = s[2] = int(br.Get(6));
          break;
        default:
          s[0] = int(br.Get(6));
          s[1] = s[2] = int(br.Get(6));
          break;
      }
    }
  }

  // Reads the three samples of one subband and requantises them to [-1, 1).
  auto readTriple = [&](const AllocEntry& e, float out[3]) {
    uint32_t v[3];
    int nb;
    if (e.grouped) {
      uint32_t c = br.Get(e.bits);
      const uint32_t steps = e.steps;
      for (int k = 0; k < 3; ++k) {
        v[k] = c % steps;
        c /= steps;
      }
      nb = steps <= 3 ? 2 : steps <= 5 ? 3 : 4;
    } else {
      nb = e.bits;
      for (int k = 0; k < 3; ++k) v[k] = br.Get(nb);
    }
    const int q = std::min<int>(e.quant, 16);
    const float c = float(kClassC[q]);
    const float dd = float(kClassD[q]);
    const float half = float(1 << (nb - 1));
    for (int k = 0; k < 3; ++k) out[k] = c * ((float(v[k]) - half) / half + dd);
  };

  alignas(16) float blocks[36][2][32];
  std::memset(blocks, 0, sizeof blocks);
  for (int g = 0; g < 12; ++g) {
    const int part = g / 4;
    for (int sb = 0; sb < sblimit; ++sb) {
      float v[3];
      if (sb < bound) {
        for (int ch = 0; ch < nch; ++ch) {
          if (!alloc[ch][sb]) continue;
          readTriple(*alloc[ch][sb], v);
          const float f = d.layer12Scale[scf[ch][sb][part]];
          for (int k = 0; k < 3; ++k) blocks[3 * g + k][ch][sb] = v[k] * f;
        }
      } else if (alloc[0][sb]) {
        readTriple(*alloc[0][sb], v);
        for (int ch = 0; ch < nch; ++ch) {
          const float f = d.layer12Scale[scf[ch][sb][part]];
          for (int k = 0; k < 3; ++k) blocks[3 * g + k][ch][sb] = v[k] * f;
        }
      }
    }
  }
  SynthesizeBlocks(blocks, 36, nch, pcm);
  return true;
}

}  // namespace kelpra
