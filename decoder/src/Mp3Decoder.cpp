#include "Mp3Decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "BitReader.h"
#include "Imdct.h"
#include "Tables.h"

namespace kelpra {

Mp3Decoder::Mp3Decoder(const FrameHeader& first) : first_(first) {
  rateIndex_ = std::clamp(first.RateTableIndex(), 0, 8);
  lsf_ = first.Lsf() ? 1 : 0;
  std::memset(reservoir_, 0, sizeof reservoir_);
  std::memset(sf_, 0, sizeof sf_);
  std::memset(xr_, 0, sizeof xr_);
  std::memset(overlap_, 0, sizeof overlap_);
  std::memset(sbOut_, 0, sizeof sbOut_);
  Derived();  // build the derived tables before the first frame
}

Mp3Decoder::Result Mp3Decoder::DecodeFrame(const uint8_t* p, size_t avail, int16_t* pcm,
                                           FrameHeader& out) {
  FrameHeader h;
  switch (ParseHeader(p, avail, false, h, first_.freeFormatBytes)) {
    case HeaderResult::NoSync:
      return Result::NoSync;
    case HeaderResult::Invalid:
      return Result::Invalid;
    case HeaderResult::Ok:
      break;
  }
  out = h;
  if (h.frameLength <= 0) return Result::Invalid;
  if (h.layer != first_.layer || h.version != first_.version ||
      h.sampleRateIndex != first_.sampleRateIndex)
    return Result::Incompatible;
  // A frame cut short by the end of the data is decoded from the bytes it
  // has (what is missing reads as zero bits) when its header and side
  // information are complete.
  size_t len = size_t(h.frameLength);
  if (len > avail) {
    if (avail < 4 + 2 * size_t(h.crc) + size_t(h.SideInfoBytes()) + 1) return Result::Short;
    len = avail;
  }
  bool ok = false;
  damaged_ = false;
  switch (h.layer) {
    case 1:
      ok = DecodeLayerI(h, p, len, pcm);
      break;
    case 2:
      ok = DecodeLayerII(h, p, len, pcm);
      break;
    default:
      ok = DecodeLayerIII(h, p, len, pcm);
      break;
  }
  if (damaged_) return Result::Damaged;
  return ok ? Result::Decoded : Result::NoData;
}

// ---------------------------------------------------------------------------
// Layer III

bool Mp3Decoder::ReadSideInfo(const FrameHeader& h, const uint8_t* frame, size_t len,
                              SideInfo& si) {
  const size_t start = 4 + 2 * size_t(h.crc);
  const size_t bytes = size_t(h.SideInfoBytes());
  if (start + bytes > len) return false;
  BitReader br(frame + start, bytes);
  const int nch = h.StreamChannels();
  const int granules = h.Lsf() ? 1 : 2;
  bool damaged = false;
  if (!h.Lsf()) {
    si.mainDataBegin = int(br.Get(9));
    br.Skip(nch == 1 ? 5 : 3);
    for (int ch = 0; ch < nch; ++ch)
      for (int b = 0; b < 4; ++b) si.scfsi[ch][b] = int(br.Bit());
  } else {
    si.mainDataBegin = int(br.Get(8));
    br.Skip(nch == 1 ? 1 : 2);
  }
  for (int gr = 0; gr < granules; ++gr) {
    for (int ch = 0; ch < nch; ++ch) {
      GranuleChannel& g = si.gr[gr][ch];
      g.part23Length = int(br.Get(12));
      g.bigValues = int(br.Get(9));
      g.globalGain = int(br.Get(8));
      g.scalefacCompress = int(br.Get(h.Lsf() ? 9 : 4));
      g.windowSwitching = int(br.Bit());
      if (g.windowSwitching) {
        g.blockType = int(br.Get(2));
        g.mixed = int(br.Bit());
        g.tableSelect[0] = int(br.Get(5));
        g.tableSelect[1] = int(br.Get(5));
        g.tableSelect[2] = 0;
        for (int w = 0; w < 3; ++w) g.subblockGain[w] = int(br.Get(3));
        g.region0Count = (g.blockType == 2 && !g.mixed) ? 8 : 7;
        g.region1Count = 36;
        // A window switch to block type 0 is not allowed; it decodes as a
        // plain long block. The mixed flag of a start or stop block keeps
        // the normal window in the two lowest subbands.
      } else {
        g.blockType = 0;
        g.mixed = 0;
        for (int r = 0; r < 3; ++r) g.tableSelect[r] = int(br.Get(5));
        g.subblockGain[0] = g.subblockGain[1] = g.subblockGain[2] = 0;
        g.region0Count = int(br.Get(4));
        g.region1Count = int(br.Get(3));
      }
      g.preflag = h.Lsf() ? 0 : int(br.Bit());
      g.scalefacScale = int(br.Bit());
      g.count1Table = int(br.Bit());
      // More big values than lines, or a window switch to the normal block
      // type: the side information is damaged.
      if (g.bigValues > 288 || (g.windowSwitching && g.blockType == 0)) damaged = true;
    }
  }
  return !damaged;
}

void Mp3Decoder::ReadScaleFactorsMpeg1(BitReader& br, const GranuleChannel& gc, int gr, int ch,
                                       const SideInfo& si) {
  ScaleFactors& sf = sf_[ch];
  const int slen1 = kSlen[gc.scalefacCompress & 15][0];
  const int slen2 = kSlen[gc.scalefacCompress & 15][1];
  if (gc.blockType == 2) {
    int sfb = 0;
    if (gc.mixed) {
      for (; sfb < 8; ++sfb) sf.l[sfb] = int(br.Get(slen1));
      sfb = 3;
    }
    for (; sfb < 6; ++sfb)
      for (int w = 0; w < 3; ++w) sf.s[sfb][w] = int(br.Get(slen1));
    for (; sfb < 12; ++sfb)
      for (int w = 0; w < 3; ++w) sf.s[sfb][w] = int(br.Get(slen2));
    sf.s[12][0] = sf.s[12][1] = sf.s[12][2] = 0;
  } else {
    static const int kGroups[5] = {0, 6, 11, 16, 21};
    for (int g = 0; g < 4; ++g) {
      if (gr == 1 && si.scfsi[ch][g]) continue;  // reused from granule 0
      const int slen = g < 2 ? slen1 : slen2;
      for (int sfb = kGroups[g]; sfb < kGroups[g + 1]; ++sfb) sf.l[sfb] = int(br.Get(slen));
    }
    sf.l[21] = 0;
  }
}

void Mp3Decoder::ReadScaleFactorsLsf(BitReader& br, GranuleChannel& gc, int ch,
                                     bool intensityRight) {
  ScaleFactors& sf = sf_[ch];
  const LsfScaleFactorLayout layout = LsfLayout(gc.scalefacCompress, intensityRight);
  sf.intensityScale = layout.intensityScale;
  // The preflag of MPEG-2 comes from the scale-factor compression.
  gc.preflag = layout.preflag;

  const int cls = gc.blockType == 2 ? (gc.mixed ? 2 : 1) : 0;
  int values[40];
  int n = 0;
  for (int part = 0; part < 4; ++part) {
    const int count = kLsfSfbCount[layout.table][cls][part];
    const int bits = layout.slen[part];
    for (int i = 0; i < count && n < 40; ++i, ++n) values[n] = int(br.Get(bits));
  }
  for (; n < 40; ++n) values[n] = 0;

  int k = 0;
  if (gc.blockType == 2) {
    int sfb = 0;
    if (gc.mixed) {
      for (; sfb < 6; ++sfb, ++k) sf.l[sfb] = values[k];
      sfb = 3;
    }
    for (; sfb < 12; ++sfb) {
      for (int w = 0; w < 3; ++w, ++k) sf.s[sfb][w] = values[k];
    }
    sf.s[12][0] = sf.s[12][1] = sf.s[12][2] = 0;
  } else {
    for (int sfb = 0; sfb < 21; ++sfb, ++k) sf.l[sfb] = values[k];
    sf.l[21] = 0;
  }
}

namespace {

// Resolves a Huffman code word from the left-aligned bits `w`: returns the
// leaf entry (value in bits 0..7, number of signs in bits 12..14) and adds
// the code's length to `used`.
inline unsigned HuffLeaf(const uint16_t* base, int rootBits, uint64_t w, int& used) {
  unsigned e = base[w >> (64 - rootBits)];
  if (__builtin_expect(e & 0x8000, 0)) {
    int nb = rootBits;
    do {
      used += nb;
      w <<= nb;
      nb = (e >> 12) & 7;
      e = base[(e & 0xfff) + unsigned(w >> (64 - nb))];
    } while (e & 0x8000);
  }
  used += (e >> 8) & 15;
  return e;
}

}  // namespace

// Gain of each stretch of lines that shares one scale factor, in coded order
// (long bands, then per short band its three windows).
int Mp3Decoder::GainSegments(const GranuleChannel& gc, const ScaleFactors& sf, int* ends,
                             float* gains) const {
  const DerivedTables& d = Derived();
  const BandTable& bt = kBandTables[rateIndex_];
  const int shift = 1 + gc.scalefacScale;
  const int base = gc.globalGain - 210 + 512;
  auto gainAt = [&](int e) { return d.gain[std::clamp(e, 0, 639)]; };
  int n = 0;
  if (gc.blockType != 2 || gc.mixed) {
    const int longBands = gc.blockType == 2 ? (lsf_ ? 6 : 8) : 22;
    for (int b = 0; b < longBands; ++b) {
      const int pre = gc.preflag ? kPretab[b] : 0;
      ends[n] = bt.longBands[b + 1];
      gains[n++] = gainAt(base - ((sf.l[b] + pre) << shift));
    }
  }
  if (gc.blockType == 2) {
    for (int b = gc.mixed ? 3 : 0; b < 13; ++b) {
      const int width = bt.shortBands[b + 1] - bt.shortBands[b];
      for (int w = 0; w < 3; ++w) {
        ends[n] = 3 * bt.shortBands[b] + (w + 1) * width;
        gains[n++] = gainAt(base - 8 * gc.subblockGain[w] - (sf.s[b][w] << shift));
      }
    }
  }
  return n;
}

// Decodes the granule's Huffman data and requantises it into `xr` (all 576
// lines; those not coded are zero). Returns the number of lines decoded.
int Mp3Decoder::DecodeSpectrum(BitReader& br, const GranuleChannel& gc, const ScaleFactors& sf,
                               size_t end, float* xr) {
  const BandTable& bt = kBandTables[rateIndex_];
  const DerivedTables& d = Derived();
  const float* pow43 = d.pow43;
  int region1, region2;
  if (gc.windowSwitching) {
    region1 = (gc.blockType == 2 && !gc.mixed) ? 3 * bt.shortBands[3] : bt.longBands[8];
    region2 = 576;
  } else {
    region1 = bt.longBands[std::min(gc.region0Count + 1, 22)];
    region2 = bt.longBands[std::min(gc.region0Count + gc.region1Count + 2, 22)];
  }
  const int bigEnd = gc.bigValues * 2;
  region1 = std::min(region1, bigEnd);
  region2 = std::clamp(region2, region1, bigEnd);
  const int bounds[4] = {0, region1, region2, bigEnd};

  int segEnd[40];
  float segGain[40];
  const int segments = GainSegments(gc, sf, segEnd, segGain);
  segEnd[segments] = 576;  // not reached: the segments cover all lines
  segGain[segments] = 0.0f;
  int seg = 0;

  // Bit cache: `cache` holds the stream from bit `pos` on, left-aligned, of
  // which the top `avail` bits are valid (at least as many as the next step
  // may consume, refilled otherwise).
  size_t pos = br.Pos();
  uint64_t cache = br.Peek57At(pos);
  int avail = 57;
  auto consume = [&](int n) {
    cache <<= n;
    avail -= n;
    pos += size_t(n);
  };
  auto need = [&](int n) {
    if (avail < n) {
      cache = br.Peek57At(pos);
      avail = 57;
    }
  };

  int i = 0;
  // Big values: pairs. Scale-factor bands and regions hold even numbers of
  // lines, so a pair never straddles a change of gain.
  for (int r = 0; r < 3; ++r) {
    const int stop = bounds[r + 1];
    const HuffTable& t = kHuffTables[gc.tableSelect[r] & 31];
    if (!t.present) {
      // Table 0 (all zero) or a selection that does not exist: no bits.
      for (; i < stop; ++i) xr[i] = 0.0f;
      while (seg < segments && segEnd[seg] <= i) ++seg;
      continue;
    }
    const uint16_t* lut = kHuffLut + t.offset;
    const int root = t.rootBits;
    const int linbits = t.linbits;
    while (i < stop) {
      const int e = std::min(segEnd[seg], stop);
      const float gs[2] = {segGain[seg], -segGain[seg]};
      if (linbits == 0) {
        for (; i < e; i += 2) {
          if (pos > end) goto overrun;
          need(21);  // a code word of up to 19 bits and two signs
          int used = 0;
          const unsigned e = HuffLeaf(lut, root, cache, used);
          const unsigned x = (e >> 4) & 15, y = e & 15;
          const unsigned nx = x != 0, ny = y != 0;
          const uint64_t signs = cache << used;
          const unsigned sx = unsigned(signs >> 63) & nx;
          const unsigned sy = unsigned((signs << nx) >> 63) & ny;
          consume(used + int((e >> 12) & 7));  // the code word and its signs
          xr[i] = pow43[x] * gs[sx];
          xr[i + 1] = pow43[y] * gs[sy];
        }
      } else {
        for (; i < e; i += 2) {
          if (pos > end) goto overrun;
          need(33);  // a code word, the first value's escape and sign
          int used = 0;
          const unsigned v = HuffLeaf(lut, root, cache, used) & 0xff;
          consume(used);
          unsigned x = v >> 4, y = v & 15;
          if (x == 15) {
            x += unsigned(cache >> (64 - linbits));
            consume(linbits);
          }
          const unsigned nx = x != 0;
          const unsigned sx = unsigned(cache >> 63) & nx;
          consume(int(nx));
          if (y == 15) {
            need(14);
            y += unsigned(cache >> (64 - linbits));
            consume(linbits);
          }
          const unsigned ny = y != 0;
          const unsigned sy = unsigned(cache >> 63) & ny;
          consume(int(ny));
          xr[i] = pow43[x] * gs[sx];
          xr[i + 1] = pow43[y] * gs[sy];
        }
      }
      if (i >= segEnd[seg]) ++seg;
    }
  }

  {
    // Count-1 region: quadruples until the granule's Huffman data end.
    const HuffTable& qt = kHuffTables[32 + gc.count1Table];
    const uint16_t* lut = kHuffLut + qt.offset;
    const int root = qt.rootBits;
    while (i + 4 <= 576 && pos < end) {
      need(10);  // up to 6 bits of code word and four signs
      int used = 0;
      const unsigned e = HuffLeaf(lut, root, cache, used);
      // The signs of the non-zero values follow the code word.
      const float* q = d.quadValues[e & 15][unsigned((cache << used) >> 60)];
      used += int((e >> 12) & 7);
      float g[4];
      if (__builtin_expect(i + 4 <= segEnd[seg], 1)) {
        g[0] = g[1] = g[2] = g[3] = segGain[seg];
      } else {
        for (int k = 0; k < 4; ++k) {
          while (i + k >= segEnd[seg]) ++seg;
          g[k] = segGain[seg];
        }
      }
      consume(used);
      if (pos > end) break;  // the last quadruple overran the Huffman data: dropped
      for (int k = 0; k < 4; ++k) xr[i + k] = q[k] * g[k];
      i += 4;
      if (i >= segEnd[seg]) ++seg;
    }
  }
  br.SetPos(pos);
  for (int k = i; k < 576; ++k) xr[k] = 0.0f;
  return i;

overrun:
  // The Huffman data ended inside the big values: the rest are zero.
  for (; i < 576; ++i) xr[i] = 0.0f;
  br.SetPos(pos);
  return bigEnd;
}

namespace {

// Index after the last non-zero value of x[0..n).
int LastNonZero(const float* x, int n) {
  while (n > 0 && x[n - 1] == 0.0f) --n;
  return n;
}

}  // namespace

void Mp3Decoder::Hybrid(const GranuleChannel& gc, int ch, int nz, float (*out)[32]) {
  const DerivedTables& d = Derived();
  const BandTable& bt = kBandTables[rateIndex_];
  float* xr = xr_[ch];

  // Reorder short blocks from (band, window, line) to (subband, line, window).
  int longSubbands = 32;
  if (gc.blockType == 2) {
    alignas(16) float tmp[576];
    const int firstShort = gc.mixed ? 3 : 0;
    const int start = 3 * bt.shortBands[firstShort];
    for (int b = firstShort; b < 13; ++b) {
      const int width = bt.shortBands[b + 1] - bt.shortBands[b];
      const int s = 3 * bt.shortBands[b];
      for (int w = 0; w < 3; ++w)
        for (int j = 0; j < width; ++j) tmp[s + 3 * j + w] = xr[s + w * width + j];
    }
    std::memcpy(xr + start, tmp + start, sizeof(float) * size_t(576 - start));
    longSubbands = gc.mixed ? start / 18 : 0;
    // The reordering spreads a band over its full width.
    int b = 0;
    while (b < 13 && 3 * bt.shortBands[b + 1] < nz) ++b;
    nz = std::max(nz, b < 13 ? 3 * int(bt.shortBands[b + 1]) : 576);
  }

  // Alias reduction between long-block subbands.
  int active = std::min(32, (nz + 17) / 18);
  // Boundaries 1..31 for long blocks, only those inside the long part of a
  // mixed block, none for short blocks.
  const int aliasBounds = gc.blockType == 2 ? (gc.mixed ? longSubbands - 1 : 0) : 31;
  const int lastBound = std::min(aliasBounds, std::min(active, 31));
  for (int sb = 1; sb <= lastBound; ++sb) {
    float* a = xr + 18 * sb;
    for (int i = 0; i < 8; ++i) {
      const float lo = a[-1 - i], hi = a[i];
      a[-1 - i] = lo * d.aliasCs[i] - hi * d.aliasCa[i];
      a[i] = hi * d.aliasCs[i] + lo * d.aliasCa[i];
    }
  }
  if (aliasBounds > 0) active = std::min(32, active + 1);

  // The window of each subband.
  uint8_t kind[32];
  for (int sb = 0; sb < 32; ++sb) {
    if (gc.blockType == 2)
      kind[sb] = sb < longSubbands ? kLongWindow : kShortWindows;
    else
      kind[sb] = uint8_t((gc.mixed && sb < 2) ? kLongWindow : gc.blockType);
  }
  InverseMdct(xr, kind, active, overlap_[ch], out);
}

bool Mp3Decoder::DecodeLayerIII(const FrameHeader& h, const uint8_t* frame, size_t len,
                                int16_t* pcm) {
  SideInfo si;
  const bool sideInfoOk = ReadSideInfo(h, frame, len, si);
  if (!sideInfoOk && len < 4 + 2 * size_t(h.crc) + size_t(h.SideInfoBytes())) {
    damaged_ = true;
    return false;
  }
  const size_t mdStart = 4 + 2 * size_t(h.crc) + size_t(h.SideInfoBytes());
  const size_t mdBytes = len - mdStart;

  // Append this frame's main data to the reservoir.
  if (resvLen_ > 6692) {
    const size_t keep = std::min<size_t>(resvLen_, 511);
    std::memmove(reservoir_, reservoir_ + resvLen_ - keep, keep);
    resvLen_ = keep;
  }
  const size_t before = resvLen_;
  const size_t add = std::min(mdBytes, kReservoirSize - resvLen_);
  std::memcpy(reservoir_ + resvLen_, frame + mdStart, add);
  resvLen_ += add;
  std::memset(reservoir_ + resvLen_, 0, kReservoirPad);

  // A frame with damaged side information still carries main data that the
  // following frames may use.
  if (!sideInfoOk) {
    damaged_ = true;
    return false;
  }
  if (size_t(si.mainDataBegin) > before) return false;  // reservoir not yet filled
  const size_t startBit = (before - size_t(si.mainDataBegin)) * 8;
  const size_t endBit = resvLen_ * 8;
  BitReader br(reservoir_, resvLen_ + kReservoirPad);

  const int nch = h.StreamChannels();
  const int granules = h.Lsf() ? 1 : 2;
  const bool intensity = h.mode == 1 && (h.modeExtension & 1);
  size_t pos = startBit;
  for (int gr = 0; gr < granules; ++gr) {
    int nz[2] = {0, 0};
    for (int ch = 0; ch < nch; ++ch) {
      GranuleChannel& gc = si.gr[gr][ch];
      const size_t partEnd = std::min(pos + size_t(gc.part23Length), endBit);
      br.SetPos(std::min(pos, endBit));
      if (h.Lsf())
        ReadScaleFactorsLsf(br, gc, ch, intensity && ch == 1);
      else
        ReadScaleFactorsMpeg1(br, gc, gr, ch, si);
      int count = 0;
      if (br.Pos() <= partEnd)
        count = DecodeSpectrum(br, gc, sf_[ch], partEnd, xr_[ch]);
      else
        std::memset(xr_[ch], 0, sizeof xr_[ch]);
      nz[ch] = LastNonZero(xr_[ch], count);
      pos += size_t(gc.part23Length);
    }
    if (nch == 2 && h.mode == 1) {
      JointStereoGranule js;
      js.midSide = (h.modeExtension & 2) != 0;
      js.intensity = intensity;
      js.lsf = lsf_ != 0;
      js.bands = &kBandTables[rateIndex_];
      js.blockType = si.gr[gr][1].blockType;
      js.mixed = si.gr[gr][1].mixed;
      ApplyJointStereo(js, sf_[1], xr_[0], xr_[1], nz);
    }
    for (int ch = 0; ch < nch; ++ch) Hybrid(si.gr[gr][ch], ch, nz[ch], sbOut_[ch]);
    int16_t* out = pcm + gr * 576 * first_.channels;
    synth_.Blocks(sbOut_[0][0], sbOut_[1][0], 32, 18, nch, first_.channels, out);
  }
  return true;
}

}  // namespace kelpra
