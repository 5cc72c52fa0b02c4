#include "drive/virtual/VirtualDisc.h"

#include <cstring>

namespace sonarvex {

const VirtualTrack* VirtualDisc::TrackAt(std::int32_t lba) const {
  for (const auto& t : tracks)
    if (lba >= t.startLba && lba < t.startLba + t.sectors) return &t;
  return nullptr;
}

void SyntheticAudioSector(std::int32_t lba, std::uint8_t* out) {
  std::uint32_t x = static_cast<std::uint32_t>(lba) * 2654435761u + 12345u;
  for (int i = 0; i < kRawSectorBytes; i += 4) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    std::memcpy(out + i, &x, 4);
  }
}

namespace {
std::uint8_t Bcd(int v) { return static_cast<std::uint8_t>((v / 10) << 4 | (v % 10)); }
}  // namespace

void SyntheticDataSector(std::int32_t lba, std::uint8_t* out) {
  std::memset(out, 0, kRawSectorBytes);
  out[0] = 0x00;
  std::memset(out + 1, 0xFF, 10);
  out[11] = 0x00;
  const std::int32_t a = lba + 150;
  out[12] = Bcd(a / 4500);
  out[13] = Bcd((a / 75) % 60);
  out[14] = Bcd(a % 75);
  out[15] = 0x01;
  for (int i = 0; i < 2048; ++i) out[16 + i] = static_cast<std::uint8_t>((lba + i) & 0xFF);
}

VirtualDisc BuildDisc(const std::vector<TrackLayout>& layout, std::int32_t firstLba) {
  VirtualDisc disc;
  std::int32_t lba = firstLba;
  int session = layout.empty() ? 1 : layout.front().session;
  int number = 1;
  for (const auto& s : layout) {
    if (s.session != session) {
      lba += kSessionGapFrames;
      session = s.session;
    }
    VirtualTrack t;
    t.number = number++;
    t.control = s.control;
    t.session = s.session;
    t.startLba = lba;
    t.sectors = s.sectors;
    disc.tracks.push_back(t);
    lba += s.sectors;
  }
  disc.leadOutLba = lba;
  disc.description = "built disc";
  auto tracks = disc.tracks;
  disc.read = [tracks](std::int32_t at, std::uint8_t* out) {
    for (const auto& t : tracks)
      if (at >= t.startLba && at < t.startLba + t.sectors) {
        if (t.Audio())
          SyntheticAudioSector(at, out);
        else
          SyntheticDataSector(at, out);
        return true;
      }
    return false;
  };
  return disc;
}

VirtualDisc BuildAudioDisc(const std::vector<std::int32_t>& trackSectors) {
  std::vector<TrackLayout> layout;
  for (auto n : trackSectors) layout.push_back(TrackLayout{n, 0, 1});
  return BuildDisc(layout);
}

}  // namespace sonarvex
