// Frame headers, frame lengths, VBR headers and the first-frame rule.
#include "FrameHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace kelpra {
namespace {

FrameHeader Parse(std::vector<uint8_t> bytes, bool vbr = false,
                  HeaderResult expect = HeaderResult::Ok) {
  FrameHeader h;
  EXPECT_EQ(ParseHeader(bytes.data(), bytes.size(), vbr, h), expect);
  return h;
}

TEST(FrameHeaderTest, LengthsAndPcmSizes) {
  // MPEG-1 Layer III 128 kbit/s 44100 Hz stereo.
  FrameHeader h = Parse({0xFF, 0xFB, 0x90, 0x00});
  EXPECT_EQ(h.version, 1);
  EXPECT_EQ(h.layer, 3);
  EXPECT_EQ(h.crc, 0);
  EXPECT_EQ(h.frameLength, 417);
  EXPECT_EQ(h.pcmBytes, 4608);
  EXPECT_EQ(Parse({0xFF, 0xFB, 0x92, 0x00}).frameLength, 418);
  // MPEG-2 Layer III 64 kbit/s 22050 Hz.
  h = Parse({0xFF, 0xF3, 0x80, 0x00});
  EXPECT_EQ(h.version, 2);
  EXPECT_EQ(h.sampleRate, 22050);
  EXPECT_EQ(h.frameLength, 208);
  EXPECT_EQ(h.pcmBytes, 2304);
  // MPEG-1 Layer II 192 kbit/s 48000 Hz.
  EXPECT_EQ(Parse({0xFF, 0xFD, 0xA4, 0x00}).frameLength, 576);
  // Layer I 384 kbit/s 32000 Hz, with CRC.
  h = Parse({0xFF, 0xFE, 0xC8, 0x00});
  EXPECT_EQ(h.frameLength, 576);
  EXPECT_EQ(h.crc, 1);
  EXPECT_EQ(h.pcmBytes, 384 * 4);
  // MPEG-2.5 Layer III 8 kbit/s 8000 Hz mono.
  h = Parse({0xFF, 0xE3, 0x18, 0xC0});
  EXPECT_EQ(h.version, 3);
  EXPECT_EQ(h.sampleRate, 8000);
  EXPECT_EQ(h.channels, 1);
  EXPECT_EQ(h.frameLength, 72);
  EXPECT_EQ(h.pcmBytes, 1152);
  EXPECT_EQ(BitrateKbps(2, 3, 5), 40);
  EXPECT_EQ(FrameLength(1, 3, 0, 44100, 0), 0);  // free format
}

TEST(FrameHeaderTest, RejectsBadHeaders) {
  Parse({0xFF, 0xFB, 0x90}, false, HeaderResult::NoSync);        // too short
  Parse({0xFE, 0xFB, 0x90, 0x00}, false, HeaderResult::NoSync);  // no sync
  Parse({0xFF, 0xDB, 0x90, 0x00}, false, HeaderResult::NoSync);
  Parse({0xFF, 0xFB, 0x0C, 0x00}, false, HeaderResult::Invalid);  // rate index 3
  Parse({0xFF, 0xFB, 0x00, 0x00}, false, HeaderResult::Invalid);  // free format
  Parse({0xFF, 0xFB, 0xF0, 0x00}, false, HeaderResult::Invalid);  // index 15
  Parse({0xFF, 0xF9, 0x90, 0x00}, false, HeaderResult::Invalid);  // layer bits 0
  Parse({0xFF, 0xEB, 0x90, 0x00}, false, HeaderResult::Invalid);  // 2.5 with ID bit
}

std::vector<uint8_t> FrameWithTag(const char* tag, uint32_t a, uint32_t b, uint32_t c) {
  std::vector<uint8_t> f(417, 0);
  f[0] = 0xFF, f[1] = 0xFB, f[2] = 0x90, f[3] = 0x00;
  std::memcpy(f.data() + 36, tag, 4);
  for (int i = 0; i < 4; ++i) {
    f[40 + size_t(i)] = uint8_t(a >> (24 - 8 * i));
    f[44 + size_t(i)] = uint8_t(b >> (24 - 8 * i));
    f[48 + size_t(i)] = uint8_t(c >> (24 - 8 * i));
  }
  return f;
}

TEST(FrameHeaderTest, XingAndVbriHeaders) {
  FrameHeader h = Parse(FrameWithTag("Xing", 3, 1000, 417000), true);
  EXPECT_EQ(h.hasVbrHeader, 1);
  EXPECT_EQ(h.vbrFrames, 1000);
  EXPECT_EQ(h.vbrBytes, 417000);
  EXPECT_EQ(h.frameBitrate, 0);
  EXPECT_EQ(h.bitrate, 128000);
  EXPECT_EQ(h.frameLength, 417);
  EXPECT_EQ(h.minFrameLength, 104);   // 32 kbit/s
  EXPECT_EQ(h.maxFrameLength, 1045);  // 320 kbit/s with padding
  EXPECT_EQ(Parse(FrameWithTag("Xing", 1, 77, 0), true).vbrFrames, 77);  // frame count only
  Parse(FrameWithTag("Xing", 4, 77, 0), true, HeaderResult::Invalid);     // neither count bit
  // VBRI: bytes 10, frames 14 bytes after the tag.
  std::vector<uint8_t> v(417, 0);
  v[0] = 0xFF, v[1] = 0xFB, v[2] = 0x90;
  std::memcpy(v.data() + 36, "VBRI", 4);
  v[36 + 13] = 0x55;
  v[36 + 17] = 0x21;
  h = Parse(v, true);
  EXPECT_EQ(h.vbrBytes, 0x55);
  EXPECT_EQ(h.vbrFrames, 0x21);
  // A tag cut off by the end of the data is not read.
  std::vector<uint8_t> cut = FrameWithTag("Xing", 3, 5, 5);
  cut.resize(44);
  EXPECT_EQ(Parse(cut, true).hasVbrHeader, 0);
  // Without looking for it the tag is ignored.
  EXPECT_EQ(Parse(FrameWithTag("Xing", 0, 0, 0), false).hasVbrHeader, 0);
}

// An Info frame as lame writes it: all four optional fields, then the
// encoder's extension with the delay and padding in bytes 21..23.
std::vector<uint8_t> InfoFrame(int delay, int padding, const char* encoder = "LAME3.100") {
  std::vector<uint8_t> f = FrameWithTag("Info", 15, 128, 53000);
  const size_t ext = 36 + 8 + 4 + 4 + 100 + 4;
  std::memcpy(f.data() + ext, encoder, 9);
  f[ext + 21] = uint8_t(delay >> 4);
  f[ext + 22] = uint8_t((delay & 15) << 4 | padding >> 8);
  f[ext + 23] = uint8_t(padding);
  return f;
}

TEST(FrameHeaderTest, InfoHeaderWithTheEncodersDelayAndPadding) {
  FrameHeader h = Parse(InfoFrame(576, 1350), true);
  EXPECT_EQ(h.hasVbrHeader, 1);
  EXPECT_EQ(h.vbrFrames, 128);
  EXPECT_EQ(h.hasGaplessInfo, 1);
  EXPECT_EQ(h.encoderDelay, 576);
  EXPECT_EQ(h.encoderPadding, 1350);
  // Twelve bits each.
  h = Parse(InfoFrame(4095, 4095), true);
  EXPECT_EQ(h.encoderDelay, 4095);
  EXPECT_EQ(h.encoderPadding, 4095);
  // Without a readable encoder name there is no extension.
  EXPECT_EQ(Parse(InfoFrame(576, 1350, "\x01\x02\x03\x04\x05\x06\x07\x08\x09"), true)
                .hasGaplessInfo,
            0);
  // Fewer optional fields move the extension forward (no table here).
  std::vector<uint8_t> f = FrameWithTag("Xing", 3, 10, 4170);
  std::memcpy(f.data() + 52, "Lavc59.37", 9);
  f[52 + 21] = 0x24, f[52 + 22] = 0x01, f[52 + 23] = 0x00;
  h = Parse(f, true);
  EXPECT_EQ(h.hasGaplessInfo, 1);
  EXPECT_EQ(h.encoderDelay, 0x240);
  EXPECT_EQ(h.encoderPadding, 0x100);
  // An extension cut off by the end of the data is not read.
  std::vector<uint8_t> cut = InfoFrame(576, 1350);
  cut.resize(36 + 120 + 20);
  EXPECT_EQ(Parse(cut, true).hasGaplessInfo, 0);
}

TEST(FrameHeaderTest, FreeFormatLengthFromTheNextHeader) {
  // Layer III at 44100 Hz, bitrate index 0, frames of 400 and 401 bytes.
  auto stream = [](std::vector<int> paddings, size_t base) {
    std::vector<uint8_t> s;
    for (int pad : paddings) {
      std::vector<uint8_t> f(base + size_t(pad), 0);
      f[0] = 0xFF, f[1] = 0xFB, f[2] = uint8_t(pad << 1);
      f[10] = 0xFF, f[11] = 0xFB;  // a false sync inside the frame
      s.insert(s.end(), f.begin(), f.end());
    }
    return s;
  };
  std::vector<uint8_t> s = stream({1, 0, 1, 0}, 400);
  EXPECT_EQ(FindFreeFormatLength(s.data(), s.size()), 400);
  FrameHeader h;
  EXPECT_EQ(ParseHeader(s.data(), s.size(), false, h), HeaderResult::Invalid);
  ASSERT_EQ(ParseHeader(s.data(), s.size(), false, h, 400), HeaderResult::Ok);
  EXPECT_EQ(h.frameLength, 401);
  EXPECT_EQ(h.bitrate, 400 * 8 * 44100 / 1152);
  // Two frames: the second one ends the data.
  s = stream({0, 0}, 300);
  EXPECT_EQ(FindFreeFormatLength(s.data(), s.size()), 300);
  // A header with a bitrate is not free format; a lone free header has no length.
  std::vector<uint8_t> fixed = {0xFF, 0xFB, 0x90, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(FindFreeFormatLength(fixed.data(), fixed.size()), 0);
  std::vector<uint8_t> lone(2000, 0);
  lone[0] = 0xFF, lone[1] = 0xFB;
  EXPECT_EQ(FindFreeFormatLength(lone.data(), lone.size()), 0);
  // Layer I counts in 4-byte slots.
  std::vector<uint8_t> l1;
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> f(96, 0);
    f[0] = 0xFF, f[1] = 0xFF, f[2] = 0x00;
    l1.insert(l1.end(), f.begin(), f.end());
  }
  EXPECT_EQ(FindFreeFormatLength(l1.data(), l1.size()), 96);
}

TEST(FrameHeaderTest, FirstFrame) {
  std::vector<uint8_t> plain = {0xFF, 0xFB, 0x90, 0x00, 1, 2, 3};
  EXPECT_EQ(FindFirstFrame(plain.data(), plain.size()), 0u);
  // ID3v2 then an MPEG-2 stream: no FF FB pair anywhere, decoding starts at 10.
  std::vector<uint8_t> id3 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0, 0xFF, 0xF3, 0x80, 0x00};
  EXPECT_EQ(FindFirstFrame(id3.data(), id3.size()), 10u);
  // The size field honoured when a frame follows it.
  std::vector<uint8_t> sized = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
  sized.resize(30, 0);
  sized.insert(sized.end(), {0xFF, 0xF3, 0x80, 0x00});
  EXPECT_EQ(FindFirstFrame(sized.data(), sized.size()), 30u);
  // A lying size: the first FF FB pair.
  std::vector<uint8_t> lying = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F, 9, 9,
                                0xFF, 0xFB, 0x90, 0x00};
  EXPECT_EQ(FindFirstFrame(lying.data(), lying.size()), 12u);
  // Leading junk without a tag: a header that a second frame follows.
  std::vector<uint8_t> junk(50, 0);
  junk[7] = 0xFF, junk[8] = 0xFB, junk[9] = 0x90;  // a lone false sync
  std::vector<uint8_t> frame(417, 0);
  frame[0] = 0xFF, frame[1] = 0xFB, frame[2] = 0x90;
  junk.insert(junk.end(), frame.begin(), frame.end());
  junk.insert(junk.end(), frame.begin(), frame.end());
  EXPECT_EQ(FindFirstFrame(junk.data(), junk.size()), 50u);
  // Tiny files.
  EXPECT_EQ(FindFirstFrame(reinterpret_cast<const uint8_t*>("ID3"), 3), 3u);
  EXPECT_EQ(FindFirstFrame(nullptr, 0), 0u);
}

}  // namespace
}  // namespace kelpra
