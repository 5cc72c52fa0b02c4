// The recording layer on the software recorder: the drive list and its
// transport, the track table and cue sheet bytes, the writes of a track
// (pregap at -150, sectors per write, buffer size), normalization, cancel,
// write errors, test writes, blanking, and the bounded wait.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "codec/SampleOps.h"
#include "drive/DriveCommands.h"
#include "drive/virtual/VirtualRecorder.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "recording/Recorder.h"
#include "tests/recording/RecordingRig.h"

namespace sonarvex {
namespace {

using test::RecordingRig;

std::vector<std::vector<std::uint8_t>> Writes(VirtualDrive& d) {
  std::vector<std::vector<std::uint8_t>> w;
  for (auto& b : d.CommandLog())
    if (b[0] == 0x2A) w.push_back(b);
  return w;
}
// Where a WAV file's audio starts (after "data" and its size).
std::size_t AudioStart(const std::string& wav) {
  const auto bytes = ReadFileBytes(wav);
  const auto at = bytes ? bytes->find("data") : std::string::npos;
  return at == std::string::npos ? 0 : at + 8;
}

std::int32_t Lba(const std::vector<std::uint8_t>& b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[2]) << 24 | b[3] << 16 | b[4] << 8 | b[5]);
}
int Count(const std::vector<std::uint8_t>& b) { return b[7] << 8 | b[8]; }

// The recording layer on the rig, created, with the recorder selected.
struct RecorderRig : RecordingRig {
  explicit RecorderRig(bool rewritable = false) : RecordingRig(rewritable) {
    rec.Create();
    selected = rec.SelectDevice(RecorderDevice());
  }
  ScriptedDialogs dialogs;
  Recorder rec{spti, aspi, dialogs};
  bool selected = false;
};

TEST(Recorder, ListsTheDrivesOnTheGenericTransportWithTheirCapabilities) {
  RecordingRig rig;
  ScriptedDialogs dialogs;
  Recorder rec(rig.spti, rig.aspi, dialogs);
  rec.Create();
  EXPECT_FALSE(rec.UsesSpti());  // the generic layer found drives
  ASSERT_EQ(rec.DeviceCount(), 2);
  EXPECT_EQ(rec.Drives()[0].device, 0);
  EXPECT_FALSE(rec.Drives()[0].CanWriteCdr());
  EXPECT_TRUE(rec.Drives()[1].CanWriteCdr());
  EXPECT_TRUE(rec.Drives()[1].CanTestWrite());
  EXPECT_EQ(rec.Drives()[1].identification.size(), 28u);
  EXPECT_EQ(rec.Drives()[1].identification.substr(0, 8), "Virtual ");
  EXPECT_EQ(rec.Drives()[1].identification.substr(24), "1.0 ");
  EXPECT_EQ(rec.CurrentDevice(), 0);
  EXPECT_TRUE(rec.SelectDevice(1));
  EXPECT_FALSE(rec.SelectDevice(5));
  EXPECT_EQ(rec.CurrentDevice(), 1);  // the previous device stays selected
  EXPECT_TRUE(rec.ReadDiscState().Blank());
}

TEST(Recorder, TrackTableAndCueSheetOfTwoFiles) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  ASSERT_TRUE(rig.selected);
  // 1000 sectors and 100 bytes (the odd bytes are not recorded), 2000 sectors.
  const auto a = test::WriteCdWav(rig.dir.File("a.wav"), test::PatternAudio(1, 1000 * 2352 + 100));
  const auto b = test::WriteCdWav(rig.dir.File("b.wav"), test::PatternAudio(2, 2000 * 2352));
  EXPECT_FALSE(rec.SetFiles({}));
  ASSERT_TRUE(rec.SetFiles({a, b}));
  ASSERT_TRUE(rec.InitWriteProcess(false, nullptr));
  ASSERT_TRUE(rec.SendCUEToCD());
  EXPECT_EQ(rec.TrackTable(), (std::vector<std::int32_t>{0, 1000, 3000}));
  const std::vector<std::uint8_t> expected = {
      0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x0F, 0x19,
      0x01, 0xAA, 0x01, 0x01, 0x00, 0x00, 0x2A, 0x00};
  EXPECT_EQ(rec.CueSheet(), expected);
  // The blocks the drive received: write parameters, then the cue sheet of 40 bytes.
  const auto log = rig.recorder->CommandLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], (std::vector<std::uint8_t>{0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}));
  EXPECT_EQ(log.back(), (std::vector<std::uint8_t>{0x5D, 0, 0, 0, 0, 0, 0, 0, 40, 0}));
  EXPECT_EQ(rig.recorder->GetStats().writeType, 2);
  EXPECT_EQ(rig.recorder->GetStats().cueSheets, 1);
}

// A cue sheet's marks: track 1 after 32 sectors of PREGAP silence, an
// INDEX 02 20 sectors into track 2, track 3's INDEX 00 the last 15 sectors
// of track 2's file. The cue sheet carries them, the disc holds every file
// whole with the silence before track 1, and the image keeps the marks.
TEST(Recorder, PregapsAndIndexPointsOfASheetGoIntoTheCueSheetAndOntoTheDisc) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  const auto pa = test::PatternAudio(1, 100 * 2352), pb = test::PatternAudio(2, 60 * 2352),
             pc = test::PatternAudio(3, 80 * 2352);
  const auto a = test::WriteCdWav(rig.dir.File("a.wav"), pa);
  const auto b = test::WriteCdWav(rig.dir.File("b.wav"), pb);
  const auto c = test::WriteCdWav(rig.dir.File("c.wav"), pc);
  TrackGaps ga, gb, gc;
  ga.pregap = 32;
  gb.indices = {20};
  gc.previousFile = b;
  gc.previousTail = 15;
  ASSERT_TRUE(rec.SetFiles({a, b, c}, {ga, gb, gc}));
  ASSERT_TRUE(rec.InitWriteProcess(false, nullptr));
  ASSERT_TRUE(rec.SendCUEToCD());
  EXPECT_EQ(rec.TrackTable(), (std::vector<std::int32_t>{0, 132, 177, 272}));
  const std::vector<std::uint8_t> expected = {
      0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,  // lead-in
      0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // track 1, INDEX 00 at 00:00:00
      0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x20,  // INDEX 01 at 00:02:32 (LBA 32)
      0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x03, 0x39,  // track 2 at LBA 132
      0x01, 0x02, 0x02, 0x00, 0x00, 0x00, 0x04, 0x02,  // its INDEX 02 at LBA 152
      0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x04, 0x1B,  // track 3's pregap from LBA 177
      0x01, 0x03, 0x01, 0x00, 0x00, 0x00, 0x04, 0x2A,  // track 3 at LBA 192
      0x01, 0xAA, 0x01, 0x01, 0x00, 0x00, 0x05, 0x2F};  // lead-out at LBA 272
  EXPECT_EQ(rec.CueSheet(), expected);
  std::atomic<bool> cancel{false};
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(rec.WriteTrack(i, 7, cancel)) << rec.FailureText();
  ASSERT_TRUE(rec.CloseSession()) << rec.FailureText();
  const auto bin = ReadFileBytes(BinPathForCue(rig.cue));
  ASSERT_TRUE(bin);
  std::string want(32 * 2352, '\0');
  want.append(pa.begin(), pa.end());
  want.append(pb.begin(), pb.end());
  want.append(pc.begin(), pc.end());
  EXPECT_TRUE(*bin == want) << "the image is not the silence and the three files in order";
  const auto text = ReadFileBytes(rig.cue);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "FILE \"out.bin\" BINARY\n"
            "  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:00:32\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:01:57\n    INDEX 02 00:02:02\n"
            "  TRACK 03 AUDIO\n    INDEX 00 00:02:27\n    INDEX 01 00:02:42\n");

  // Moved away from the file it was the end of, track 3's pregap is no
  // longer its own: b's last sectors stay b's track's audio.
  ASSERT_TRUE(rec.SetFiles({a, c, b}, {ga, gc, gb}));
  Recorder::DiscPlan plan;
  std::string why;
  int file = -1;
  ASSERT_TRUE(Recorder::PlanDisc({a, c, b}, {100, 80, 60}, {ga, gc, gb}, plan, &why, &file)) << why;
  EXPECT_EQ(plan.trackTable, (std::vector<std::int32_t>{0, 132, 212, 272}));
  EXPECT_EQ(plan.marks[1].index0, Recorder::TrackMarks::kNone);
  EXPECT_EQ(plan.marks[1].index1, 132);
  EXPECT_EQ(plan.marks[2].indices, (std::vector<std::int32_t>{232}));
  // A mark beyond its file's audio is refused, naming the file.
  TrackGaps late;
  late.index1 = 80;
  EXPECT_FALSE(Recorder::PlanDisc({a, c}, {100, 80}, {ga, late}, plan, &why, &file));
  EXPECT_EQ(file, 1);
  EXPECT_EQ(why, "INDEX 01 трека лежит за концом файла");
}

TEST(Recorder, MissingFileStopsThePreparationWithItsMessage) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  ScriptedDialogs& dialogs = rig.dialogs;
  const std::string missing = rig.dir.File("gone.wav");
  dialogs.ExpectMessage("Невозможно открыть для чтения файл '" + missing + "'!", "Sonarvex", MsgIcon::Error,
                        MsgButtons::Ok);
  const auto a = test::WriteCdWav(rig.dir.File("a.wav"), test::PatternAudio(1, 10 * 2352));
  rec.SetFiles({a, missing});
  EXPECT_FALSE(rec.SendCUEToCD());
  EXPECT_EQ(rig.recorder->GetStats().cueSheets, 0);
  std::string why;
  EXPECT_TRUE(dialogs.Clean(&why)) << why;
}

// A header with no audio behind it, an empty data chunk, a folder, a pipe:
// each is named with the reason before the drive is given anything to do.
TEST(Recorder, EveryFileIsCheckedBeforeTheDriveIsUsed) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  ScriptedDialogs& dialogs = rig.dialogs;
  const auto good = test::WriteCdWav(rig.dir.File("good.wav"), test::PatternAudio(1, 10 * 2352));
  // A header that promises five minutes, and nothing after it.
  const auto promised = test::WriteCdWav(rig.dir.File("promised.wav"), test::PatternAudio(2, 2352));
  std::filesystem::resize_file(promised, AudioStart(promised));
  {
    auto bytes = *ReadFileBytes(promised);
    const std::uint32_t claimed = 5u * 4500 * 2352;
    std::memcpy(&bytes[bytes.size() - 4], &claimed, 4);
    WriteFileAtomically(promised, bytes);
  }
  const auto empty = test::WriteCdWav(rig.dir.File("empty.wav"), {});
  const auto crumb = test::WriteCdWav(rig.dir.File("crumb.wav"), test::PatternAudio(3, 2000));
  const std::string folder = rig.dir.File("folder.wav");
  std::filesystem::create_directories(folder);
  const std::string fifo = rig.dir.File("pipe.wav");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {promised, "в нём нет звука, хотя заголовок его обещает"},
      {empty, "в нём нет звука (ни одного целого сектора)"},
      {crumb, "в нём нет звука (ни одного целого сектора)"},
      {folder, "это не обычный файл"},
      {fifo, "это не обычный файл"},
  };
  const int commands = rig.recorder->GetStats().commands;
  for (const auto& [path, why] : cases) {
    SCOPED_TRACE(path);
    dialogs.ExpectMessage("Невозможно записать файл '" + path + "': " + why + ".", "Sonarvex", MsgIcon::Error,
                          MsgButtons::Ok);
    rec.SetFiles({good, path});
    EXPECT_FALSE(rec.CheckFiles());
    dialogs.ExpectMessage("Невозможно записать файл '" + path + "': " + why + ".", "Sonarvex", MsgIcon::Error,
                          MsgButtons::Ok);
    EXPECT_FALSE(rec.SendCUEToCD());
  }
  std::string why;
  EXPECT_TRUE(dialogs.Clean(&why)) << why;
  EXPECT_EQ(rig.recorder->GetStats().commands, commands);  // nothing sent
  EXPECT_EQ(rig.recorder->GetStats().writes, 0);
  rec.SetFiles({good});
  EXPECT_TRUE(rec.CheckFiles());
}

TEST(Recorder, AFileShorterThanItsHeaderIsMeasuredByWhatItHolds) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  const auto a = test::WriteCdWav(rig.dir.File("a.wav"), test::PatternAudio(1, 100 * 2352));
  std::filesystem::resize_file(a, AudioStart(a) + 40 * 2352 + 100);
  rec.SetFiles({a});
  ASSERT_TRUE(rec.InitWriteProcess(false, nullptr));
  ASSERT_TRUE(rec.SendCUEToCD());
  EXPECT_EQ(rec.TrackTable(), (std::vector<std::int32_t>{0, 40}));
  std::atomic<bool> cancel{false};
  EXPECT_TRUE(rec.WriteTrack(0, 15, cancel)) << rec.FailureText();
  EXPECT_TRUE(rec.CloseSession()) << rec.FailureText();
}

TEST(Recorder, WritesThePregapAtMinus150ThenTheTrackInBlocksOfTheSetSize) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  const auto audio = test::PatternAudio(3, 100 * 2352);
  const auto a = test::WriteCdWav(rig.dir.File("a.wav"), audio);
  rec.SetFiles({a});
  std::vector<std::string> statuses;
  std::string line = "before";
  rec.SetStatusCallback([&](const std::string& text) {
    statuses.push_back(text);
    std::string old = line;
    line = text;
    return old;
  });
  std::vector<std::int32_t> progress;
  ASSERT_TRUE(rec.InitWriteProcess(false, [&](std::int32_t cur, std::int32_t start, int errors, std::int32_t end) {
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 100);
    EXPECT_EQ(errors, 0);
    progress.push_back(cur);
  }));
  ASSERT_TRUE(rec.SendCUEToCD());
  std::atomic<bool> cancel{false};
  ASSERT_TRUE(rec.WriteTrack(0, 38, cancel));
  EXPECT_EQ(statuses, (std::vector<std::string>{"Запись Lead-In ...", "before"}));
  EXPECT_EQ(line, "before");
  const auto writes = Writes(*rig.recorder);
  ASSERT_EQ(writes.size(), 33u);
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(Lba(writes[static_cast<std::size_t>(i)]), -150 + 5 * i);
    EXPECT_EQ(Count(writes[static_cast<std::size_t>(i)]), 5);
  }
  EXPECT_EQ(writes[0][2], 0xFF);  // -150 as a 32-bit LBA: FF FF FF 6A
  EXPECT_EQ(writes[0][5], 0x6A);
  EXPECT_EQ(Count(writes[30]), 38);
  EXPECT_EQ(Count(writes[31]), 38);
  EXPECT_EQ(Count(writes[32]), 24);
  EXPECT_EQ(Lba(writes[32]), 76);
  EXPECT_EQ(progress, (std::vector<std::int32_t>{0, 38, 76}));
  ASSERT_TRUE(rec.CloseSession());

  // The disc holds the file's audio from LBA 0.
  std::string error;
  auto written = VirtualDrive::FromCueImage(rig.cue, &error);
  ASSERT_TRUE(written->HasDisc()) << error;
  auto bin = ReadFileBytes(BinPathForCue(rig.cue));
  ASSERT_TRUE(bin);
  ASSERT_EQ(bin->size(), audio.size());
  EXPECT_EQ(std::memcmp(bin->data(), audio.data(), audio.size()), 0);
}

TEST(Recorder, BufferSizeFollowsTheSectorsPerWrite) {
  EXPECT_EQ(Recorder::WriteBufferBytes(10), 176400u);
  EXPECT_EQ(Recorder::WriteBufferBytes(74), 176400u);
  EXPECT_EQ(Recorder::WriteBufferBytes(75), 75u * 2352);
  EXPECT_EQ(Recorder::WriteBufferBytes(100), 100u * 2352);
}

TEST(Recorder, NormalizeAppliesTheFilesGainWhileWriting) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  auto audio = test::PatternAudio(4, 20 * 2352);
  // Keep the samples small so a gain of 2 does not clip.
  for (std::size_t i = 1; i < audio.size(); i += 2) audio[i] = static_cast<std::uint8_t>(audio[i] & 0x0F);
  const auto a = test::WriteCdWav(rig.dir.File("a.wav"), audio);
  rec.SetFiles({a});
  rec.SetNormalize(true);
  rec.Gains()[0] = 2.0;
  ASSERT_TRUE(rec.InitWriteProcess(false, nullptr));
  ASSERT_TRUE(rec.SendCUEToCD());
  std::atomic<bool> cancel{false};
  ASSERT_TRUE(rec.WriteTrack(0, 15, cancel));
  ASSERT_TRUE(rec.CloseSession());
  auto expected = audio;
  ApplyGain(expected.data(), expected.size(), 2.0);
  auto bin = ReadFileBytes(BinPathForCue(rig.cue));
  ASSERT_TRUE(bin);
  ASSERT_EQ(bin->size(), expected.size());
  EXPECT_EQ(std::memcmp(bin->data(), expected.data(), expected.size()), 0);
}

TEST(Recorder, CancelledBeforeTheTrackWritesNothingAndStopsWithinATrack) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  const auto a = test::WriteCdWav(rig.dir.File("a.wav"), test::PatternAudio(1, 300 * 2352));
  rec.SetFiles({a});
  std::atomic<bool> cancel{true};
  std::atomic<bool>* flag = &cancel;
  ASSERT_TRUE(rec.InitWriteProcess(false, [&](std::int32_t cur, std::int32_t, int, std::int32_t) {
    if (cur >= 60) flag->store(true);
  }));
  ASSERT_TRUE(rec.SendCUEToCD());
  EXPECT_FALSE(rec.WriteTrack(0, 30, cancel));
  EXPECT_TRUE(Writes(*rig.recorder).empty());
  cancel = false;
  // Stopped within the track: not written, and no failure to name.
  EXPECT_FALSE(rec.WriteTrack(0, 30, cancel));
  EXPECT_EQ(rec.FailureText(), "");
  // The pregap and the writes at 0, 30, 60: the flag stops the next one.
  EXPECT_EQ(Writes(*rig.recorder).size(), 30u + 3u);
}

TEST(Recorder, AWriteErrorIsCountedAndStopsTheTrackNamingItsSectors) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  VirtualDriveFaults faults;
  faults.failWriteAtLba = 40;
  rig.recorder->SetFaults(faults);
  const auto a = test::WriteCdWav(rig.dir.File("a.wav"), test::PatternAudio(1, 100 * 2352));
  rec.SetFiles({a});
  std::vector<int> errors;
  ASSERT_TRUE(rec.InitWriteProcess(false, [&](std::int32_t, std::int32_t, int e, std::int32_t) { errors.push_back(e); }));
  ASSERT_TRUE(rec.SendCUEToCD());
  std::atomic<bool> cancel{false};
  // A disc written at once has no place for the sectors later: the first
  // failed write ends the track, which is then not written.
  EXPECT_FALSE(rec.WriteTrack(0, 25, cancel));
  EXPECT_EQ(errors, (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(rec.ErrorCount(), 1);
  EXPECT_EQ(Writes(*rig.recorder).size(), 30u + 2u);  // not repeated, none after it
  EXPECT_EQ(rec.FailureText(), "трек 1, файл '" + a + "': привод не записал секторы 25–49: ошибка записи");
}

TEST(Recorder, TestWriteLeavesTheDiscBlank) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  const auto a = test::WriteCdWav(rig.dir.File("a.wav"), test::PatternAudio(1, 50 * 2352));
  rec.SetFiles({a});
  ASSERT_TRUE(rec.InitWriteProcess(true, nullptr));
  EXPECT_TRUE(rig.recorder->GetStats().testWrite);
  ASSERT_TRUE(rec.SendCUEToCD());
  std::atomic<bool> cancel{false};
  ASSERT_TRUE(rec.WriteTrack(0, 15, cancel));
  ASSERT_TRUE(rec.CloseSession());
  EXPECT_TRUE(rec.ReadDiscState().Blank());
  EXPECT_FALSE(FileExists(rig.cue));
}

TEST(Recorder, BlankingACdrwAndTheDiscState) {
  RecorderRig rig(true);
  Recorder& rec = rig.rec;
  Recorder::DiscState s = rec.ReadDiscState();
  EXPECT_TRUE(s.Blank());
  EXPECT_TRUE(s.erasable);
  const auto a = test::WriteCdWav(rig.dir.File("a.wav"), test::PatternAudio(1, 50 * 2352));
  rec.SetFiles({a});
  ASSERT_TRUE(rec.InitWriteProcess(false, nullptr));
  ASSERT_TRUE(rec.SendCUEToCD());
  std::atomic<bool> cancel{false};
  ASSERT_TRUE(rec.WriteTrack(0, 15, cancel));
  ASSERT_TRUE(rec.CloseSession());
  s = rec.ReadDiscState();
  EXPECT_EQ(s.status, 2);
  EXPECT_FALSE(s.Blank());
  ASSERT_TRUE(rec.BlankMinimal());
  EXPECT_EQ(rec.WaitReady(), 0);
  EXPECT_TRUE(rec.ReadDiscState().Blank());
  EXPECT_TRUE(rec.BlankFull());
  EXPECT_EQ(rig.recorder->GetStats().blanks, 2);
}

TEST(Recorder, WaitReadyGivesUpAtItsBound) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  VirtualDriveFaults faults;
  faults.notReadyCommands = 3;
  rig.recorder->SetFaults(faults);
  EXPECT_EQ(rec.WaitReady(), 0);  // becoming ready three times, then ready
  faults.notReadyCommands = 1000000;
  rig.recorder->SetFaults(faults);
  rec.SetWaitReadyLimitMs(300);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(rec.WaitReady(), 2);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 290);
  EXPECT_LT(ms, 1500);
}

TEST(Recorder, MechanismLockEjectAndMediaChange) {
  RecorderRig rig;
  Recorder& rec = rig.rec;
  EXPECT_TRUE(rec.MediaChanged());  // first look
  EXPECT_FALSE(rec.MediaChanged());
  EXPECT_EQ(rec.Mechanism(), 1);
  EXPECT_TRUE(rec.Lock(true));
  EXPECT_FALSE(rec.Eject(true));
  EXPECT_TRUE(rec.Lock(false));
  EXPECT_TRUE(rec.Eject(true));
  EXPECT_EQ(rec.Mechanism(), 5);
  EXPECT_TRUE(rec.MediaChanged());
  EXPECT_TRUE(rec.Eject(false));
  EXPECT_FALSE(rec.IsReady());  // the drive reports the new medium once
  EXPECT_EQ(rec.WaitReady(), 0);
  EXPECT_TRUE(rec.ReadDiscState().Blank());
  EXPECT_TRUE(rec.SetSpeed(4));
  EXPECT_EQ(rig.recorder->GetStats().writeSpeed, 705);
  EXPECT_TRUE(rec.DoOPC());
}

TEST(Recorder, PassThroughWhenTheGenericLayerFindsNothing) {
  // With no drive at all the generic layer reports none, and the recording
  // layer stays on pass-through with an empty list.
  DeviceDirectory directory(false);
  SptiTransport spti(directory);
  AspiTransport aspi(directory);
  ScriptedDialogs dialogs;
  Recorder rec(spti, aspi, dialogs);
  rec.Create();
  EXPECT_TRUE(rec.UsesSpti());
  EXPECT_EQ(rec.DeviceCount(), 0);
  EXPECT_EQ(rec.CurrentDrive(), nullptr);
}

}  // namespace
}  // namespace sonarvex
