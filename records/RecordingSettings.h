// The recording window's settings, stored whole as setting/wset.dat (280
// bytes, the raw little-endian image of this record).
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonarvex {

#pragma pack(push, 1)
struct RecordingSettings {
  std::uint8_t DriveIndex;        // selected entry of the drive selector
  std::uint8_t WriteSpeed;        // 255 = maximum, else 32, 16, 8, 4 or 1
  std::uint8_t Priority;          // 0 normal, 1 idle, 2 highest
  std::uint8_t Unused3;
  std::uint16_t SectorsPerWrite;  // little-endian
  std::uint8_t AskBeforeDiscOps;
  std::uint8_t Normalize;
  std::uint8_t MinLevel;          // percent (MinEdit)
  std::uint8_t MaxLevel;          // percent (MaxEdit)
  std::uint8_t SetMinLevel;       // target for files below MinLevel (SetMinEdit)
  std::uint8_t SetMaxLevel;       // target for files above MaxLevel (SetMaxEdit)
  std::uint8_t PlaySound;         // play a sound file when the recording is done
  std::uint8_t DisableNormalizeWhenEqual;
  std::uint8_t SkipCompressedWav;
  char SoundFile[260];            // CP1251, zero-terminated
  std::uint8_t EjectAfterBurn;
  std::uint8_t DeleteWavAfterBurn;
  std::uint8_t AskBeforeDelete;
  std::uint8_t Unused278;
  std::uint8_t LastPage;          // last open page of the settings dialog
};
#pragma pack(pop)

static_assert(sizeof(RecordingSettings) == 280);
static_assert(offsetof(RecordingSettings, DriveIndex) == 0);
static_assert(offsetof(RecordingSettings, WriteSpeed) == 1);
static_assert(offsetof(RecordingSettings, Priority) == 2);
static_assert(offsetof(RecordingSettings, Unused3) == 3);
static_assert(offsetof(RecordingSettings, SectorsPerWrite) == 4);
static_assert(offsetof(RecordingSettings, AskBeforeDiscOps) == 6);
static_assert(offsetof(RecordingSettings, Normalize) == 7);
static_assert(offsetof(RecordingSettings, MinLevel) == 8);
static_assert(offsetof(RecordingSettings, MaxLevel) == 9);
static_assert(offsetof(RecordingSettings, SetMinLevel) == 10);
static_assert(offsetof(RecordingSettings, SetMaxLevel) == 11);
static_assert(offsetof(RecordingSettings, PlaySound) == 12);
static_assert(offsetof(RecordingSettings, DisableNormalizeWhenEqual) == 13);
static_assert(offsetof(RecordingSettings, SkipCompressedWav) == 14);
static_assert(offsetof(RecordingSettings, SoundFile) == 15);
static_assert(offsetof(RecordingSettings, EjectAfterBurn) == 275);
static_assert(offsetof(RecordingSettings, DeleteWavAfterBurn) == 276);
static_assert(offsetof(RecordingSettings, AskBeforeDelete) == 277);
static_assert(offsetof(RecordingSettings, Unused278) == 278);
static_assert(offsetof(RecordingSettings, LastPage) == 279);

// The settings used when wset.dat is missing.
inline RecordingSettings DefaultRecordingSettings() {
  RecordingSettings s{};
  s.WriteSpeed = 255;
  s.SectorsPerWrite = 15;
  s.AskBeforeDiscOps = 1;
  s.MinLevel = 90;
  s.MaxLevel = 98;
  s.SetMinLevel = 90;
  s.SetMaxLevel = 98;
  s.AskBeforeDelete = 1;
  return s;
}

}  // namespace sonarvex
