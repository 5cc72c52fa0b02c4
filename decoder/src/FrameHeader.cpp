#include "FrameHeader.h"

#include <cstring>

namespace kelpra {

namespace {

const int16_t kBitrates[2][3][16] = {
    {
        // MPEG-1: Layer I, II, III
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    },
    {
        // MPEG-2 and 2.5
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    },
};

const int kSampleRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

uint32_t Be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

int ClampInt(uint32_t v) { return v > 0x7fffffffu ? 0x7fffffff : static_cast<int>(v); }

}  // namespace

int BitrateKbps(int version, int layer, int index) {
  if (version < 1 || version > 3 || layer < 1 || layer > 3 || index < 0 || index > 15) return 0;
  return kBitrates[version == 1 ? 0 : 1][layer - 1][index];
}

int SampleRateHz(int version, int index) {
  if (version < 1 || version > 3 || index < 0 || index > 2) return 0;
  return kSampleRates[version - 1][index];
}

int FrameLength(int version, int layer, int bitrate, int sampleRate, int padding) {
  if (bitrate <= 0 || sampleRate <= 0) return 0;
  const int64_t br = bitrate;
  switch (layer) {
    case 1:
      return static_cast<int>((12 * br / sampleRate + padding) * 4);
    case 2:
      return static_cast<int>(144 * br / sampleRate + padding);
    case 3:
      if (version == 1) return static_cast<int>(144 * br / sampleRate + padding);
      return static_cast<int>(144 * br / sampleRate / 2 + padding);
    default:
      return 0;
  }
}

int FrameHeader::SideInfoBytes() const {
  if (layer != 3) return 0;
  if (version == 1) return mode == 3 ? 17 : 32;
  return mode == 3 ? 9 : 17;
}

HeaderResult ParseHeader(const uint8_t* p, size_t avail, bool lookForVbr, FrameHeader& out,
                         int freeFormatBytes) {
  if (avail < 4 || p[0] != 0xFF) return HeaderResult::NoSync;
  FrameHeader h;
  if (p[1] >= 0xF0) {
    h.version = (p[1] & 0x08) ? 1 : 2;
  } else if ((p[1] & 0xF0) == 0xE0) {
    // MPEG-2.5; the ID bit set there is a reserved combination.
    if (p[1] & 0x08) return HeaderResult::Invalid;
    h.version = 3;
  } else {
    return HeaderResult::NoSync;
  }
  const int layerBits = (p[1] >> 1) & 3;
  if (layerBits == 0) return HeaderResult::Invalid;
  h.layer = 4 - layerBits;
  h.crc = (p[1] & 1) ? 0 : 1;
  h.bitrateIndex = p[2] >> 4;
  h.sampleRateIndex = (p[2] >> 2) & 3;
  h.padding = (p[2] >> 1) & 1;
  h.privateBit = p[2] & 1;
  h.mode = p[3] >> 6;
  h.modeExtension = (p[3] >> 4) & 3;
  h.copyright = (p[3] >> 3) & 1;
  h.original = (p[3] >> 2) & 1;
  h.emphasis = p[3] & 3;
  if (h.sampleRateIndex == 3 || h.bitrateIndex == 15) return HeaderResult::Invalid;
  if (h.bitrateIndex == 0 && freeFormatBytes <= 0) return HeaderResult::Invalid;

  h.sampleRate = SampleRateHz(h.version, h.sampleRateIndex);
  h.channels = h.mode == 3 ? 1 : 2;
  h.samplesPerFrame = h.layer == 1 ? 384 : (h.layer == 3 && h.version != 1) ? 576 : 1152;
  h.pcmBytes = h.samplesPerFrame * h.channels * 2;
  if (h.bitrateIndex == 0) {
    // Free format: the stream's length, plus one slot of padding.
    h.freeFormatBytes = freeFormatBytes;
    h.frameLength = freeFormatBytes + h.padding * (h.layer == 1 ? 4 : 1);
    h.bitrate = int(int64_t(freeFormatBytes) * 8 * h.sampleRate / h.samplesPerFrame);
  } else {
    h.bitrate = BitrateKbps(h.version, h.layer, h.bitrateIndex) * 1000;
    h.frameLength = FrameLength(h.version, h.layer, h.bitrate, h.sampleRate, h.padding);
  }
  h.frameBitrate = h.bitrate;
  h.minFrameLength = h.maxFrameLength = h.frameLength;

  if (lookForVbr) {
    const size_t at = 4 + 2 * h.crc + h.SideInfoBytes();
    const size_t limit = avail < size_t(h.frameLength) ? avail : size_t(h.frameLength);
    bool found = false;
    if (at + 16 <= limit &&
        (std::memcmp(p + at, "Xing", 4) == 0 || std::memcmp(p + at, "Info", 4) == 0)) {
      const uint32_t flags = Be32(p + at + 4);
      if ((flags & 3) == 0) return HeaderResult::Invalid;
      h.vbrFrames = ClampInt(Be32(p + at + 8));
      h.vbrBytes = ClampInt(Be32(p + at + 12));
      found = true;
      // The encoder's extension follows the fields the flags announce
      // (frames, bytes, a 100-byte table, a quality word): a 9-character
      // encoder name, then at 21..23 the delay and padding, 12 bits each.
      const size_t ext = at + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) +
                         ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
      if (ext + 24 <= limit) {
        bool named = true;
        for (size_t i = 0; i < 9; ++i) named = named && p[ext + i] >= 0x20 && p[ext + i] < 0x7F;
        if (named) {
          h.hasGaplessInfo = 1;
          h.encoderDelay = (p[ext + 21] << 4) | (p[ext + 22] >> 4);
          h.encoderPadding = ((p[ext + 22] & 15) << 8) | p[ext + 23];
        }
      }
    } else if (at + 18 <= limit && std::memcmp(p + at, "VBRI", 4) == 0) {
      h.vbrBytes = ClampInt(Be32(p + at + 10));
      h.vbrFrames = ClampInt(Be32(p + at + 14));
      found = true;
    }
    if (found) {
      h.hasVbrHeader = 1;
      h.frameBitrate = 0;
      const int lo = BitrateKbps(h.version, h.layer, 1) * 1000;
      const int hi = BitrateKbps(h.version, h.layer, 14) * 1000;
      h.minFrameLength = FrameLength(h.version, h.layer, lo, h.sampleRate, 0);
      h.maxFrameLength = FrameLength(h.version, h.layer, hi, h.sampleRate, 1);
    }
  }
  out = h;
  return HeaderResult::Ok;
}

namespace {

// The header bits that stay the same from frame to frame of one stream
// (sync, version, layer, protection, sample rate), and the bitrate index.
bool SameFreeStream(const uint8_t* a, const uint8_t* b) {
  return b[0] == 0xFF && b[1] == a[1] && (b[2] & 0xFC) == (a[2] & 0xFC);
}

}  // namespace

int FindFreeFormatLength(const uint8_t* p, size_t avail) {
  FrameHeader h;
  if (avail < 4 || ParseHeader(p, avail, false, h, 1) != HeaderResult::Ok || h.bitrateIndex != 0)
    return 0;
  const int slot = h.layer == 1 ? 4 : 1;
  // Up to 16 KiB per frame; the header after the next one confirms a find
  // (a sync pattern inside the audio data is not followed by another one at
  // the same distance).
  const size_t limit = avail < 16384 ? avail : 16384;
  for (size_t d = 8; d + 4 <= limit; ++d) {
    if (!SameFreeStream(p, p + d)) continue;
    const int len = int(d) - h.padding * slot;
    if (len <= 0 || len % slot != 0) continue;
    const size_t next = d + size_t(len) + size_t(((p[d + 2] >> 1) & 1) * slot);
    if (next + 4 > avail || SameFreeStream(p, p + next)) return len;
  }
  return 0;
}

namespace {

bool ValidHeaderAt(const uint8_t* data, size_t size, size_t at) {
  if (at >= size) return false;
  FrameHeader h;
  if (ParseHeader(data + at, size - at, false, h) == HeaderResult::Ok) return true;
  return FindFreeFormatLength(data + at, size - at) > 0;
}

}  // namespace

namespace {

// The position of the first frame by the tag rules alone.
size_t TagEnd(const uint8_t* data, size_t size) {
  if (size < 3 || std::memcmp(data, "ID3", 3) != 0) return 0;
  // The tag's own size, when a frame header really follows it.
  if (size >= 10 && (data[6] | data[7] | data[8] | data[9]) < 0x80) {
    size_t tag = 10 + ((size_t(data[6]) << 21) | (size_t(data[7]) << 14) |
                       (size_t(data[8]) << 7) | size_t(data[9]));
    if (data[5] & 0x10) tag += 10;  // footer
    if (ValidHeaderAt(data, size, tag)) return tag;
  }
  // Otherwise the first MPEG-1 Layer III header without CRC.
  for (size_t i = 10; i + 1 < size; ++i)
    if (data[i] == 0xFF && data[i + 1] == 0xFB) return i;
  return size < 10 ? size : 10;
}

}  // namespace

size_t FindFirstFrame(const uint8_t* data, size_t size) {
  const size_t start = TagEnd(data, size);
  if (ValidHeaderAt(data, size, start)) return start;
  // Junk before the first frame: the first header that a second frame of the
  // same kind follows (or that ends the file).
  for (size_t i = start; i + 4 <= size; ++i) {
    if (data[i] != 0xFF) continue;
    FrameHeader a;
    if (ParseHeader(data + i, size - i, false, a) != HeaderResult::Ok) continue;
    const size_t next = i + size_t(a.frameLength);
    if (next == size) return i;
    FrameHeader b;
    if (next < size && ParseHeader(data + next, size - next, false, b) == HeaderResult::Ok &&
        b.version == a.version && b.layer == a.layer && b.sampleRateIndex == a.sampleRateIndex)
      return i;
  }
  return start;
}

}  // namespace kelpra
