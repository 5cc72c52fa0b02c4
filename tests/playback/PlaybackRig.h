// A software drive with a disc read into an album record, and a digital
// player on a chosen sound device whose owner thread is the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "drive/AudioReading.h"
#include "drive/DiscModel.h"
#include "drive/virtual/VirtualDisc.h"
#include "platform/ScriptedDialogs.h"
#include "playback/CallQueue.h"
#include "playback/NHandler.h"
#include "tests/drive/DriveRig.h"

namespace sonarvex::test {

struct PlaybackRig {
  DriveRig drives;
  AlbumRecord album{};
  DiscView view;
  CallQueue queue;
  ScriptedDialogs dialogs;
  std::unique_ptr<NHandler> player;

  PlaybackRig(VirtualDisc disc, std::unique_ptr<PcmOutput> output, TransportKind kind = TransportKind::Spti) {
    drives.AddDrive(std::move(disc));
    Transport& t = drives.Get(kind);
    view = ReadDisc(t, 0, 0, dialogs, album);
    player = std::make_unique<NHandler>(std::move(output), queue.Poster());
  }

  Transport& Drive(TransportKind kind = TransportKind::Spti) {
    return kind == TransportKind::Spti ? static_cast<Transport&>(drives.spti) : drives.aspi;
  }

  // The track's audio as the ripping loop reads it.
  std::vector<std::uint8_t> TrackAudio(int track, TransportKind kind = TransportKind::Spti) {
    const std::int32_t start = album.Tracks[track].StartSector;
    const std::int32_t end = album.Tracks[track + 1].StartSector;
    std::vector<std::uint8_t> out;
    EXPECT_TRUE(ReadAudioSectors(Drive(kind), start + album.FirstTrackOffset - 150, end - start, 26, out));
    return out;
  }

  // Runs the owner's side until the player stops (bounded).
  bool RunToEnd(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    return queue.RunUntil([&] { return !player->Running(); }, limit);
  }
};

}  // namespace sonarvex::test
