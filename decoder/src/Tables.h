// Constant tables of the decoder: the generated ones (Huffman codes, synthesis
// window, Layer II allocation) and the small ones written out here, plus the
// tables derived from them once per process.
#pragma once

#include <cstdint>

namespace kelpra {

// One Huffman table in kHuffLut (see the generator for the entry layout).
struct HuffTable {
  uint16_t offset;
  uint8_t rootBits;
  uint8_t linbits;
  uint8_t present;  // 0 for table 0 and the unused selections 4 and 14
};

struct AllocEntry {
  uint16_t steps;  // 0 = no allocation
  uint8_t bits;    // bits per code word (one code word per 3 samples when grouped)
  uint8_t grouped;
  uint8_t quant;   // index into the requantisation classes
};

struct AllocTable {
  int sblimit;
  uint8_t nbal[32];
  AllocEntry entries[32][16];
};

extern const uint16_t kHuffLut[];
extern const HuffTable kHuffTables[34];
extern const double kDewindow[512];
extern const AllocTable kAllocTables[5];

// Scale-factor band boundaries of one sample rate.
struct BandTable {
  int16_t longBands[23];
  int16_t shortBands[14];
};

// Index: 0..2 MPEG-1 (44100, 48000, 32000), 3..5 MPEG-2 (22050, 24000, 16000),
// 6..8 MPEG-2.5 (11025, 12000, 8000).
extern const BandTable kBandTables[9];
extern const uint8_t kPretab[22];
extern const uint8_t kSlen[16][2];
extern const uint8_t kLsfSfbCount[6][3][4];
extern const double kAliasCi[8];
extern const double kClassC[17];
extern const double kClassD[17];

// Tables computed from formulas once per process.
struct DerivedTables {
  float pow43[8207];        // |x|^(4/3)
  float gain[640];          // 2^((i - 512) / 4)
  float aliasCs[8], aliasCa[8];
  float imdctWin[4][36];    // block types 0..3 (type 2: the 12-point window in [0..11])
  // Count-1 quadruples: the four values (-1, 0, 1) of code value v with the
  // next four bits s holding the signs of its non-zero values in order.
  alignas(16) float quadValues[16][16][4];
  float window[512];        // synthesis window scaled to 16-bit full scale
  float dctCos[5][16];      // 1 / (2 cos) factors of the 32-point DCT stages
  float layer12Scale[64];   // Layer I/II scale factors 2^(1 - i/3)
};

const DerivedTables& Derived();

}  // namespace kelpra
