// Layer III joint stereo: mid/side and intensity stereo of one granule, and
// the scale-factor layout of the lower sampling frequencies (MPEG-2 and 2.5),
// whose right channel carries the intensity positions in a layout of its own.
#pragma once

#include <cstdint>

#include "Tables.h"

namespace kelpra {

// The scale factors of one granule channel. In an intensity-stereo frame the
// right channel's values above the intensity bound are intensity positions.
struct ScaleFactors {
  int l[22];     // long bands; band 21 has none of its own
  int s[13][3];  // short bands per window; band 12 has none of its own
  int intensityScale;  // lower sampling frequencies: the right channel's intensity_scale
};

// How the scale factors of a lower-sampling-frequency granule channel are
// coded: the bit length of each of the four partitions, the row of the
// partition table (0..2 normal, 3..5 for the intensity-coded right channel),
// the pre-emphasis flag and the intensity scale.
struct LsfScaleFactorLayout {
  int slen[4];
  int table;
  int preflag;
  int intensityScale;
};

// The layout given by scalefac_compress. `intensityRight`: the right channel
// of a frame with intensity stereo (mode extension 1 or 3), whose 9-bit value
// holds intensity_scale in its lowest bit and the compressed lengths above it.
LsfScaleFactorLayout LsfLayout(int scalefacCompress, bool intensityRight);

// The left and right factors of intensity position `pos` in a lower-sampling-
// frequency stream with the given intensity scale. Returns false for a
// position that has no factors (16 and above, possible only in 5-bit fields):
// such a band is decoded as an ordinary stereo band.
bool LsfIntensityFactors(int pos, int intensityScale, float& kl, float& kr);

// The same for an MPEG-1 stream: positions 0..6; 7 and above are illegal.
bool Mpeg1IntensityFactors(int pos, float& kl, float& kr);

struct JointStereoGranule {
  bool midSide = false;
  bool intensity = false;
  bool lsf = false;
  const BandTable* bands = nullptr;
  // The right channel's block type and mixed flag (both channels of a joint
  // stereo granule share them).
  int blockType = 0;
  int mixed = 0;
};

// Turns the two coded spectra `l` and `r` (576 lines each, short blocks in
// coded order: band, window, line) into left and right. `right` holds the
// right channel's scale factors (the intensity positions). `nz[ch]`: on entry
// the number of leading lines of each channel that may be non-zero, on return
// the same for the output.
void ApplyJointStereo(const JointStereoGranule& g, const ScaleFactors& right, float* l, float* r,
                      int* nz);

}  // namespace kelpra
