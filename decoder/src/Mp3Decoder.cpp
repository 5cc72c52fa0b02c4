#include "Mp3Decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "BitReader.h"
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
  switch (ParseHeader(p, avail, false, h)) {
    case HeaderResult::NoSync:
      return Result::NoSync;
    case HeaderResult::Invalid:
      return Result::Invalid;
    case HeaderResult::Ok:
      break;
  }
  out = h;
  if (h.frameLength <= 0 || size_t(h.frameLength) > avail) return Result::Short;
  if (h.layer != first_.layer || h.version != first_.version ||
      h.sampleRateIndex != first_.sampleRateIndex)
    return Result::Incompatible;
  bool ok = false;
  switch (h.layer) {
    case 1:
      ok = DecodeLayerI(h, p, size_t(h.frameLength), pcm);
      break;
    case 2:
      ok = DecodeLayerII(h, p, size_t(h.frameLength), pcm);
      break;
    default:
      ok = DecodeLayerIII(h, p, size_t(h.frameLength), pcm);
      break;
  }
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
      g.bigValues = std::min(int(br.Get(9)), 288);
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
    }
  }
  return true;
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
  int slen[4] = {0, 0, 0, 0};
  int table = 0;
  int preflag = 0;
  int sfc = gc.scalefacCompress;
  if (!intensityRight) {
    if (sfc < 400) {
      slen[0] = (sfc >> 4) / 5;
      slen[1] = (sfc >> 4) % 5;
      slen[2] = (sfc & 15) >> 2;
      slen[3] = sfc & 3;
      table = 0;
    } else if (sfc < 500) {
      sfc -= 400;
      slen[0] = (sfc >> 2) / 5;
      slen[1] = (sfc >> 2) % 5;
      slen[2] = sfc & 3;
      table = 1;
    } else {
      sfc -= 500;
      slen[0] = sfc / 3;
      slen[1] = sfc % 3;
      table = 2;
      preflag = 1;
    }
    sf.intensityScale = 0;
  } else {
    sf.intensityScale = sfc & 1;
    int isc = sfc >> 1;
    if (isc < 180) {
      slen[0] = isc / 36;
      slen[1] = (isc % 36) / 6;
      slen[2] = (isc % 36) % 6;
      table = 3;
    } else if (isc < 244) {
      isc -= 180;
      slen[0] = (isc % 64) >> 4;
      slen[1] = (isc % 16) >> 2;
      slen[2] = isc % 4;
      table = 4;
    } else {
      isc -= 244;
      slen[0] = isc / 3;
      slen[1] = isc % 3;
      table = 5;
    }
  }
  // The preflag of MPEG-2 comes from the scale-factor compression.
  gc.preflag = preflag;

  const int cls = gc.blockType == 2 ? (gc.mixed ? 2 : 1) : 0;
  int values[40];
  int maxes[40];
  int n = 0;
  for (int part = 0; part < 4; ++part) {
    const int count = kLsfSfbCount[table][cls][part];
    const int bits = std::min(slen[part], 15);
    for (int i = 0; i < count && n < 40; ++i, ++n) {
      values[n] = int(br.Get(bits));
      maxes[n] = (1 << bits) - 1;
    }
  }
  for (; n < 40; ++n) values[n] = 0, maxes[n] = 0;

  int k = 0;
  if (gc.blockType == 2) {
    int sfb = 0;
    if (gc.mixed) {
      for (; sfb < 6; ++sfb, ++k) sf.l[sfb] = values[k], sf.lMax[sfb] = maxes[k];
      sfb = 3;
    }
    for (; sfb < 12; ++sfb) {
      for (int w = 0; w < 3; ++w, ++k) sf.s[sfb][w] = values[k];
      sf.sMax[sfb] = maxes[k - 1];
    }
    sf.s[12][0] = sf.s[12][1] = sf.s[12][2] = 0;
    sf.sMax[12] = sf.sMax[11];
  } else {
    for (int sfb = 0; sfb < 21; ++sfb, ++k) sf.l[sfb] = values[k], sf.lMax[sfb] = maxes[k];
    sf.l[21] = 0;
    sf.lMax[21] = sf.lMax[20];
  }
}

namespace {

// Decodes one Huffman code word of table `t` from the 32 bits at the reader.
inline unsigned HuffWord(BitReader& br, const HuffTable& t) {
  uint32_t w = br.Peek32();
  int nb = t.rootBits;
  const uint16_t* base = kHuffLut + t.offset;
  uint16_t e = base[w >> (32 - nb)];
  int used = 0;
  while (e & 0x8000) {
    used += nb;
    w <<= nb;
    nb = (e >> 12) & 7;
    e = base[(e & 0xfff) + (w >> (32 - nb))];
  }
  used += (e >> 8) & 15;
  br.Skip(size_t(used));
  return e & 0xff;
}

}  // namespace

// Returns the number of spectral values decoded (the rest are zero).
int Mp3Decoder::DecodeHuffman(BitReader& br, const GranuleChannel& gc, size_t end, int* ix) {
  const BandTable& bt = kBandTables[rateIndex_];
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

  int i = 0;
  for (int r = 0; r < 3; ++r) {
    const int sel = gc.tableSelect[r];
    const HuffTable& t = kHuffTables[sel & 31];
    const int stop = bounds[r + 1];
    if (!t.present) {
      // Table 0 (all zero) or a selection that does not exist: no bits.
      for (; i < stop; ++i) ix[i] = 0;
      continue;
    }
    const int linbits = t.linbits;
    for (; i < stop; i += 2) {
      if (br.Pos() > end) {
        for (; i < stop; ++i) ix[i] = 0;
        break;
      }
      const unsigned v = HuffWord(br, t);
      int x = int(v >> 4), y = int(v & 15);
      if (x) {
        if (x == 15 && linbits) x += int(br.Get(linbits));
        if (br.Bit()) x = -x;
      }
      if (y) {
        if (y == 15 && linbits) y += int(br.Get(linbits));
        if (br.Bit()) y = -y;
      }
      ix[i] = x;
      ix[i + 1] = y;
    }
  }

  // Count-1 region: quadruples until the granule's Huffman data end.
  const HuffTable& qt = kHuffTables[32 + gc.count1Table];
  while (i + 4 <= 576 && br.Pos() < end) {
    const unsigned v = HuffWord(br, qt);
    int q[4] = {int((v >> 3) & 1), int((v >> 2) & 1), int((v >> 1) & 1), int(v & 1)};
    for (int k = 0; k < 4; ++k)
      if (q[k] && br.Bit()) q[k] = -1;
    if (br.Pos() > end) break;  // the last quadruple overran the Huffman data: dropped
    ix[i] = q[0];
    ix[i + 1] = q[1];
    ix[i + 2] = q[2];
    ix[i + 3] = q[3];
    i += 4;
  }
  return i;
}

void Mp3Decoder::Requantize(const GranuleChannel& gc, const ScaleFactors& sf, const int* ix,
                            int count, float* xr) {
  const DerivedTables& d = Derived();
  const BandTable& bt = kBandTables[rateIndex_];
  const int shift = 1 + gc.scalefacScale;
  const int base = gc.globalGain - 210 + 512;
  auto value = [&](int q, float g) {
    const int a = std::min(q < 0 ? -q : q, 8206);
    const float m = d.pow43[a] * g;
    return q < 0 ? -m : m;
  };
  auto gainAt = [&](int e) { return d.gain[std::clamp(e, 0, 639)]; };

  int i = 0;
  if (gc.blockType != 2 || gc.mixed) {
    const int longBands = gc.blockType == 2 ? (lsf_ ? 6 : 8) : 22;
    const int longEnd = gc.blockType == 2 ? bt.longBands[longBands] : 576;
    for (int b = 0; b < longBands && i < count; ++b) {
      const int pre = gc.preflag ? kPretab[b] : 0;
      const float g = gainAt(base - ((sf.l[b] + pre) << shift));
      const int e = std::min(int(bt.longBands[b + 1]), count);
      for (; i < e; ++i) xr[i] = value(ix[i], g);
    }
    i = std::min(i, longEnd);
  }
  if (gc.blockType == 2) {
    for (int b = gc.mixed ? 3 : 0; b < 13 && i < count; ++b) {
      const int width = bt.shortBands[b + 1] - bt.shortBands[b];
      for (int w = 0; w < 3 && i < count; ++w) {
        const float g = gainAt(base - 8 * gc.subblockGain[w] - (sf.s[b][w] << shift));
        const int e = std::min(i + width, count);
        for (; i < e; ++i) xr[i] = value(ix[i], g);
      }
    }
  }
  for (; i < 576; ++i) xr[i] = 0.0f;
}

namespace {

// Index after the last non-zero value of x[0..n).
int LastNonZero(const float* x, int n) {
  while (n > 0 && x[n - 1] == 0.0f) --n;
  return n;
}

}  // namespace

void Mp3Decoder::Stereo(const FrameHeader& h, const GranuleChannel& gcR, int* nz) {
  const bool ms = h.mode == 1 && (h.modeExtension & 2);
  const bool intensity = h.mode == 1 && (h.modeExtension & 1);
  if (!ms && !intensity) return;
  const DerivedTables& d = Derived();
  const BandTable& bt = kBandTables[rateIndex_];
  float* l = xr_[0];
  float* r = xr_[1];
  const float inv = static_cast<float>(1.0 / std::sqrt(2.0));

  auto msRange = [&](int from, int to) {
    for (int i = from; i < to; ++i) {
      const float m = l[i], s = r[i];
      l[i] = (m + s) * inv;
      r[i] = (m - s) * inv;
    }
  };
  const ScaleFactors& sfR = sf_[1];
  // Applies intensity stereo to [from, to) with the band's position `pos`.
  auto isRange = [&](int from, int to, int pos, int maxPos) {
    float kl, kr;
    if (!lsf_) {
      if (pos >= 7) {
        if (ms) msRange(from, to);
        return;
      }
      kl = d.isRatio[pos][0];
      kr = d.isRatio[pos][1];
    } else {
      if (pos == maxPos) {
        if (ms) msRange(from, to);
        return;
      }
      const int p = std::min(pos, 31);
      kl = d.lsfIs[sfR.intensityScale][p][0];
      kr = d.lsfIs[sfR.intensityScale][p][1];
    }
    for (int i = from; i < to; ++i) {
      const float v = l[i];
      l[i] = v * kl;
      r[i] = v * kr;
    }
  };

  if (!intensity) {
    msRange(0, std::max(nz[0], nz[1]));
  } else if (gcR.blockType != 2) {
    // Long blocks: intensity above the last non-zero band of the right channel.
    const int last = LastNonZero(r, nz[1]);
    int b = 0;  // first band above the right channel's last non-zero value
    if (last > 0) {
      while (b < 22 && bt.longBands[b + 1] < last) ++b;
      ++b;
    }
    const int isStart = b >= 22 ? 576 : bt.longBands[b];
    if (ms) msRange(0, isStart);
    for (; b < 22; ++b) {
      const int src = b == 21 ? 20 : b;
      isRange(bt.longBands[b], bt.longBands[b + 1], sfR.l[src], sfR.lMax[src]);
    }
  } else {
    // Short (or mixed) blocks, in coded order: per window.
    const int firstShort = gcR.mixed ? 3 : 0;
    const int longEnd = gcR.mixed ? bt.longBands[lsf_ ? 6 : 8] : 0;
    bool shortHasData = false;
    for (int w = 0; w < 3; ++w) {
      int lastBand = firstShort - 1;
      for (int b = firstShort; b < 13; ++b) {
        const int width = bt.shortBands[b + 1] - bt.shortBands[b];
        const int start = 3 * bt.shortBands[b] + w * width;
        for (int i = start; i < start + width; ++i)
          if (r[i] != 0.0f) {
            lastBand = b;
            break;
          }
      }
      if (lastBand >= firstShort) shortHasData = true;
      for (int b = firstShort; b < 13; ++b) {
        const int width = bt.shortBands[b + 1] - bt.shortBands[b];
        const int start = 3 * bt.shortBands[b] + w * width;
        if (b <= lastBand) {
          if (ms) msRange(start, start + width);
        } else {
          const int src = b == 12 ? 11 : b;
          isRange(start, start + width, sfR.s[src][w], sfR.sMax[src]);
        }
      }
    }
    if (gcR.mixed) {
      const int longBands = lsf_ ? 6 : 8;
      int first = longBands;
      if (!shortHasData) {
        const int last = LastNonZero(r, longEnd);
        first = 0;
        if (last > 0) {
          while (first < longBands && bt.longBands[first + 1] < last) ++first;
          ++first;
        }
      }
      if (ms) msRange(0, bt.longBands[first]);
      for (int b = first; b < longBands; ++b)
        isRange(bt.longBands[b], bt.longBands[b + 1], sfR.l[b], sfR.lMax[b]);
    }
  }
  nz[0] = nz[1] = std::max(nz[0], nz[1]);
}

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

  for (int sb = 0; sb < 32; ++sb) {
    float* ov = overlap_[ch][sb];
    float res[18];
    if (sb >= active) {
      for (int i = 0; i < 18; ++i) res[i] = ov[i], ov[i] = 0.0f;
    } else if (sb < longSubbands) {
      const int type = (gc.blockType == 2 || (gc.mixed && sb < 2)) ? 0 : gc.blockType;
      const float* win = d.imdctWin[type];
      const float* x = xr + 18 * sb;
      float t[18];
      for (int n = 0; n < 18; ++n) {
        float s = 0.0f;
        const float* c = d.dct4_18[n];
        for (int k = 0; k < 18; ++k) s += x[k] * c[k];
        t[n] = s;
      }
      // The 36 outputs from the 18 of the DCT-IV.
      float y[36];
      for (int i = 0; i < 9; ++i) y[i] = t[9 + i];
      for (int i = 9; i < 27; ++i) y[i] = -t[26 - i];
      for (int i = 27; i < 36; ++i) y[i] = -t[i - 27];
      for (int i = 0; i < 18; ++i) {
        res[i] = ov[i] + win[i] * y[i];
        ov[i] = win[i + 18] * y[i + 18];
      }
    } else {
      const float* win = d.imdctWin[2];
      const float* x = xr + 18 * sb;
      float z[36] = {};
      for (int w = 0; w < 3; ++w) {
        float t[6];
        for (int n = 0; n < 6; ++n) {
          float s = 0.0f;
          for (int k = 0; k < 6; ++k) s += x[3 * k + w] * d.dct4_6[n][k];
          t[n] = s;
        }
        float y[12];
        for (int i = 0; i < 3; ++i) y[i] = t[3 + i];
        for (int i = 3; i < 9; ++i) y[i] = -t[8 - i];
        for (int i = 9; i < 12; ++i) y[i] = -t[i - 9];
        for (int i = 0; i < 12; ++i) z[6 + 6 * w + i] += y[i] * win[i];
      }
      for (int i = 0; i < 18; ++i) {
        res[i] = ov[i] + z[i];
        ov[i] = z[18 + i];
      }
    }
    // Frequency inversion of the odd subbands.
    if (sb & 1)
      for (int i = 1; i < 18; i += 2) res[i] = -res[i];
    for (int i = 0; i < 18; ++i) out[i][sb] = res[i];
  }
}

bool Mp3Decoder::DecodeLayerIII(const FrameHeader& h, const uint8_t* frame, size_t len,
                                int16_t* pcm) {
  SideInfo si;
  if (!ReadSideInfo(h, frame, len, si)) return false;
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

  if (size_t(si.mainDataBegin) > before) return false;  // reservoir not yet filled
  const size_t startBit = (before - size_t(si.mainDataBegin)) * 8;
  const size_t endBit = resvLen_ * 8;
  BitReader br(reservoir_, resvLen_ + kReservoirPad);

  const int nch = h.StreamChannels();
  const int granules = h.Lsf() ? 1 : 2;
  const bool intensity = h.mode == 1 && (h.modeExtension & 1);
  int ix[576];
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
      if (br.Pos() <= partEnd) count = DecodeHuffman(br, gc, partEnd, ix);
      Requantize(gc, sf_[ch], ix, count, xr_[ch]);
      nz[ch] = LastNonZero(xr_[ch], count);
      pos += size_t(gc.part23Length);
    }
    if (nch == 2) Stereo(h, si.gr[gr][1], nz);
    for (int ch = 0; ch < nch; ++ch) Hybrid(si.gr[gr][ch], ch, nz[ch], sbOut_[ch]);
    int16_t* out = pcm + gr * 576 * first_.channels;
    for (int t = 0; t < 18; ++t)
      SynthBlock(sbOut_[0][t], sbOut_[1][t], nch, out + t * 32 * first_.channels);
  }
  return true;
}

}  // namespace kelpra
