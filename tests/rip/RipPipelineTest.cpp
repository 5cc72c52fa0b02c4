#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "rip/OutputNaming.h"
#include "rip/RipPipeline.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "RipTestDoubles.h"

namespace sonarvex {
namespace {

class RipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-rip-XXXXXX";
    folder_ = std::string(mkdtemp(tmpl)) + "/";
    MakeDirectories(folder_ + "out");
    SetField(s_.OutputFolder, folder_ + "out/");
    s_.NameHasTitle = 1;
    s_.NameHasNumber = 1;
    a_.TrackCount = 3;
    a_.FirstTrackOffset = 150;
    const std::int32_t starts[4] = {0, 300, 1000, 1300};  // the last row is the lead-out
    for (int i = 0; i < 4; ++i) {
      a_.Tracks[i].StartSector = starts[i];
      a_.Tracks[i].AudioFlag = i < 3;
      SetField(a_.Tracks[i].Title, "T" + std::to_string(i + 1));
    }
  }
  void TearDown() override {
    std::filesystem::remove_all(folder_);
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  }
  RipPipeline Make() {
    return RipPipeline(host_, drive_, enc_, dialogs_, s_, a_, tags_, folder_ + "TempFiles/");
  }
  std::string Out(const char* name) { return folder_ + "out/" + name; }
  std::size_t SizeOf(const std::string& p) { return std::filesystem::file_size(p); }

  std::string folder_;
  SettingsRecord s_{};
  AlbumRecord a_{};
  TagBuffer tags_;
  FakeDrive drive_;
  FakeEncoder enc_;
  FakeHost host_{3};
  ScriptedDialogs dialogs_;
};

TEST_F(RipTest, WaveGrabWritesFinalFilesDirectly) {
  host_.ticked = {true, false, true};
  s_.LockTray = 1;
  s_.ReadSpeed = 8;
  s_.OutputKind = 1;
  RipPipeline rip = Make();
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
  EXPECT_EQ(SizeOf(Out("0 - T1.wav")), 4u + 300 * 2352);
  EXPECT_EQ(SizeOf(Out("2 - T3.wav")), 4u + 300 * 2352);
  EXPECT_FALSE(FileExists(Out("1 - T2.wav")));
  EXPECT_FALSE(FileExists(Out("0 - T1.wav.part")));
  EXPECT_EQ(host_.status[0], "Скопирован");
  EXPECT_EQ(host_.status[1], "");
  EXPECT_EQ(host_.images[2], 2);
  EXPECT_EQ(a_.Tracks[0].CopiedFlag, 1);
  EXPECT_EQ(a_.Tracks[1].CopiedFlag, 0);
  EXPECT_EQ(host_.ticked, (std::vector<bool>{false, false, false}));
  // Default chunk 26: 300 sectors = 11 full reads and one of 14.
  int firstTrackReads = 0;
  for (auto& [lba, n] : drive_.reads)
    if (lba < 300) {
      ++firstTrackReads;
      EXPECT_EQ(n, lba == 286 ? 14u : 26u);
    }
  EXPECT_EQ(firstTrackReads, 12);
  EXPECT_EQ(drive_.speeds.front(), 8);
  EXPECT_EQ(drive_.locks, (std::vector<bool>{true, false}));
  // Settings and state are back.
  EXPECT_EQ(s_.OutputKind, 1);
  EXPECT_EQ(s_.CompressOutput, 0);
  EXPECT_EQ(host_.state, WindowState::Idle);
  EXPECT_TRUE(host_.controls);
  EXPECT_TRUE(host_.timer);
  EXPECT_EQ(host_.volume, 200);
  // Percentages climb to 100 and each is shown once.
  // 100 - 274 / (300 / 100) after the first chunk.
  EXPECT_EQ(host_.history.front(), "0:копирование 9%");
  EXPECT_NE(std::find(host_.history.begin(), host_.history.end(), "0:копирование 100%"),
            host_.history.end());
}

TEST_F(RipTest, CompressedThroughTempFileAndOnTheFly) {
  s_.NormalizeEnabled = 1;
  host_.ticked = {false, true, false};
  RipPipeline rip = Make();
  rip.GrabCommand(GrabSender::Mp3Button);
  EXPECT_EQ(enc_.kind, 1);
  ASSERT_EQ(enc_.converted.size(), 1u);
  EXPECT_EQ(enc_.converted[0], folder_ + "TempFiles/T2.wav");
  EXPECT_FALSE(FileExists(enc_.converted[0]));  // the temporary file is gone
  EXPECT_TRUE(FileExists(Out("1 - T2.mp3")));
  EXPECT_EQ(enc_.peak, 999);  // the largest sample value read
  EXPECT_EQ(enc_.finishedBytes, 700u * 2352);
  EXPECT_NE(std::find(host_.history.begin(), host_.history.end(), "1:сжатие 50%"),
            host_.history.end());

  // On the fly: straight into the encoder, no temporary file.
  s_.OnTheFlyEncoding = 1;
  s_.Mp3AsOgg = 1;
  host_.ticked = {true, false, false};
  enc_.converted.clear();
  rip.GrabCommand(GrabSender::Mp3Button);  // the button follows Mp3AsOgg
  EXPECT_EQ(enc_.kind, 3);
  EXPECT_TRUE(enc_.converted.empty());
  EXPECT_EQ(SizeOf(Out("0 - T1.ogg")), 300u * 2352);
  host_.ticked = {true, false, false};
  rip.GrabCommand(GrabSender::Mp3Menu);  // the menu entry always means MP3
  EXPECT_EQ(enc_.kind, 1);
  EXPECT_TRUE(FileExists(Out("0 - T1.mp3")));
}

TEST_F(RipTest, MissingEncodersRefuseToStart) {
  enc_.vorbis = false;
  dialogs_
      .ExpectMessage("Кодирование в WMA невозможно т.к. кодер не установлен.", "Sonarvex v3.2",
                     MsgIcon::Information, MsgButtons::Ok)
      .ExpectMessage("Кодирование в OGG невозможно т.к. нет необходимых библиотек.",
                     "Sonarvex v3.2", MsgIcon::Information, MsgButtons::Ok);
  RipPipeline rip = Make();
  rip.GrabCommand(GrabSender::Wma);
  rip.GrabCommand(GrabSender::Ogg);
  EXPECT_TRUE(drive_.reads.empty());
  EXPECT_TRUE(drive_.locks.empty());
}

TEST_F(RipTest, CopyRanges) {
  RipPipeline rip = Make();
  // Range 00:06:00 .. 00:08:00 of track 2 (sectors 300..1000): 450-150 .. 600-150.
  a_.Tracks[1].RangeFlag = 1;
  a_.Tracks[1].RangeStart = Msf{0, 6, 0};
  a_.Tracks[1].RangeEnd = Msf{0, 8, 0};
  auto r = rip.TrackRange(1);
  EXPECT_EQ(r.Start, 300u);
  EXPECT_EQ(r.End, 450u);
  EXPECT_EQ(a_.Tracks[1].RangeFlag, 1);
  // End 0:00:00 runs to the track's end.
  a_.Tracks[1].RangeEnd = Msf{0, 0, 0};
  r = rip.TrackRange(1);
  EXPECT_EQ(r.End, 1000u);
  // Reversed or empty: the whole track, and the flag is cleared.
  a_.Tracks[1].RangeStart = Msf{0, 9, 0};
  a_.Tracks[1].RangeEnd = Msf{0, 7, 0};
  r = rip.TrackRange(1);
  EXPECT_EQ(r.Start, 300u);
  EXPECT_EQ(r.End, 1000u);
  EXPECT_EQ(a_.Tracks[1].RangeFlag, 0);
  // A start before the track moves to its start.
  a_.Tracks[1].RangeFlag = 1;
  a_.Tracks[1].RangeStart = Msf{0, 0, 0};
  a_.Tracks[1].RangeEnd = Msf{0, 8, 0};
  r = rip.TrackRange(1);
  EXPECT_EQ(r.Start, 300u);
  EXPECT_EQ(r.End, 450u);

  // A short range (under 100 sectors) must not divide by zero.
  a_.Tracks[1].RangeStart = Msf{0, 6, 0};
  a_.Tracks[1].RangeEnd = Msf{0, 6, 50};
  host_.ticked = {false, true, false};
  s_.SectorsPerRead = 7;
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(SizeOf(Out("1 - T2.wav")), 4u + 50 * 2352);
  EXPECT_EQ(drive_.reads.front().second, 7u);
  EXPECT_EQ(host_.status[1], "Скопирован");
}

TEST_F(RipTest, CancelWhileReading) {
  RipPipeline rip = Make();
  // Stop is pressed during the 3rd chunk: No goes on where it stopped, the
  // second time Yes cancels.
  host_.onPump = [&](int n) {
    if (n == 3 || n == 6) host_.state = WindowState::Idle;
  };
  dialogs_
      .ExpectMessage("Вы хотите прервать копироание ???", "Sonarvex v3.2", MsgIcon::Question,
                     MsgButtons::YesNo, IdNo)
      .ExpectMessage("Вы хотите прервать копироание ???", "Sonarvex v3.2", MsgIcon::Question,
                     MsgButtons::YesNo, IdYes);
  s_.EjectAfterCopy = 1;
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Cancelled);
  // Reads went on without a gap or a repeat after the No.
  ASSERT_GE(drive_.reads.size(), 5u);
  for (std::size_t k = 0; k < drive_.reads.size(); ++k) EXPECT_EQ(drive_.reads[k].first, 26 * k);
  EXPECT_EQ(host_.status[0], "Отменено");
  EXPECT_TRUE(host_.ticked[0]);  // stays ticked
  EXPECT_TRUE(host_.ticked[1]);
  EXPECT_FALSE(FileExists(Out("0 - T1.wav")));
  EXPECT_FALSE(FileExists(Out("0 - T1.wav.part")));
  EXPECT_EQ(a_.Tracks[0].CopiedFlag, 0);
  EXPECT_EQ(host_.state, WindowState::Idle);
  EXPECT_TRUE(host_.controls);
  EXPECT_EQ(host_.volume, 200);
  EXPECT_EQ(drive_.locks.back(), false);
  EXPECT_EQ(host_.ejects, 1);  // the after-rip steps still run
}

TEST_F(RipTest, CancelWhileCompressingSkipsToTheNextTrack) {
  RipPipeline rip = Make();
  host_.ticked = {true, true, false};
  bool asked = false;
  host_.onPump = [&](int) {
    if (host_.state == WindowState::Compressing && !asked) {
      asked = true;
      host_.state = WindowState::Idle;
    }
  };
  dialogs_.ExpectMessage("Вы хотите останоить сжатие???", "Sonarvex v3.2", MsgIcon::Question,
                         MsgButtons::YesNo, IdYes);
  rip.GrabCommand(GrabSender::Mp3Menu);
  // The cancelled track leaves no file and is not marked copied.
  EXPECT_FALSE(FileExists(Out("0 - T1.mp3")));
  EXPECT_FALSE(FileExists(Out("0 - T1.mp3.part")));
  EXPECT_EQ(host_.status[0], "Отменено");
  EXPECT_EQ(a_.Tracks[0].CopiedFlag, 0);
  // The next one is done.
  EXPECT_TRUE(FileExists(Out("1 - T2.mp3")));
  EXPECT_EQ(host_.status[1], "Скопирован");
  EXPECT_EQ(host_.state, WindowState::Idle);
}

TEST_F(RipTest, DataTracksAndFailures) {
  a_.Tracks[1].AudioFlag = 0;
  host_.ticked = {false, true, false};
  RipPipeline rip = Make();
  // Nothing but a data track ticked: nothing is copied, and the user is told.
  dialogs_.ExpectMessage(
      "Копировать нечего: среди отмеченных дорожек нет звуковых (дорожки с данными не "
      "копируются).",
      "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::NotStarted);
  EXPECT_TRUE(drive_.reads.empty());  // the ticked data track is skipped
  EXPECT_EQ(host_.status[1], "");

  // A disc that stops answering mid-track: retried, then the grab stops with
  // a message and no file is left.
  a_.Tracks[1].AudioFlag = 1;
  drive_.failFrom = 500;
  host_.ticked = {false, true, true};
  dialogs_.ExpectMessage("Ошибка чтения диска (сектор 482). Копирование прервано.",
                         "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Failed);
  EXPECT_FALSE(FileExists(Out("1 - T2.wav")));
  EXPECT_FALSE(FileExists(Out("1 - T2.wav.part")));
  EXPECT_TRUE(host_.ticked[2]);  // nothing after it was tried
  EXPECT_EQ(host_.state, WindowState::Idle);
  EXPECT_TRUE(host_.controls);

  // A full disk: the write fails, the partial file goes.
  drive_.failFrom.reset();
  enc_.failWrites = true;
  host_.ticked = {true, false, false};
  std::string temp = Out("0 - T1.wav.part");
  dialogs_.ExpectMessage("Не удалось записать файл '" + temp + "': " + std::strerror(ENOSPC) +
                             ". Копирование прервано.",
                         "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_FALSE(FileExists(temp));
  EXPECT_FALSE(FileExists(Out("0 - T1.wav")));
}

// A file that was at an output name before the grab is replaced only when
// the user says so.
TEST_F(RipTest, ExistingOutputIsReplaced) {
  WriteFileAtomically(Out("0 - T1.wav"), "old");
  host_.ticked = {true, false, false};
  dialogs_.ExpectMessage("Файл '" + Out("0 - T1.wav") + "' уже существует. Заменить его?",
                         "Sonarvex v3.2", MsgIcon::Question, MsgButtons::YesYesAllNo, IdYes);
  RipPipeline rip = Make();
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(SizeOf(Out("0 - T1.wav")), 4u + 300 * 2352);
}

TEST_F(RipTest, ExistingOutputsStayUnlessTheUserSaysOtherwise) {
  for (const char* name : {"0 - T1.wav", "1 - T2.wav", "2 - T3.wav"})
    WriteFileAtomically(Out(name), std::string("old ") + name);
  auto question = [&](const char* name, int answer) {
    dialogs_.ExpectMessage("Файл '" + Out(name) + "' уже существует. Заменить его?",
                           "Sonarvex v3.2", MsgIcon::Question, MsgButtons::YesYesAllNo, answer);
  };
  // No: the track is skipped and its file stays; the grab goes on.
  question("0 - T1.wav", IdNo);
  // Yes for all: this one and every later one in the grab, without asking.
  question("1 - T2.wav", IdYesAll);
  RipPipeline rip = Make();
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
  EXPECT_EQ(*ReadFileBytes(Out("0 - T1.wav")), "old 0 - T1.wav");
  EXPECT_EQ(host_.status[0], "Пропущен");
  EXPECT_EQ(a_.Tracks[0].CopiedFlag, 0);
  EXPECT_EQ(SizeOf(Out("1 - T2.wav")), 4u + 700 * 2352);
  EXPECT_EQ(SizeOf(Out("2 - T3.wav")), 4u + 300 * 2352);
  EXPECT_EQ(host_.done, (std::vector<std::string>{Out("1 - T2.wav"), Out("2 - T3.wav")}));

  // Unattended, the file stays and the track takes the next free number.
  host_.ticked = {true, false, false};
  WriteFileAtomically(Out("0 - T1 (2).wav"), "old too");
  RipPipeline numbered = Make();
  numbered.SetExistingFiles(RipPipeline::ExistingFiles::Number);
  numbered.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(*ReadFileBytes(Out("0 - T1.wav")), "old 0 - T1.wav");
  EXPECT_EQ(*ReadFileBytes(Out("0 - T1 (2).wav")), "old too");
  EXPECT_EQ(SizeOf(Out("0 - T1 (3).wav")), 4u + 300 * 2352);
  EXPECT_EQ(host_.done.back(), Out("0 - T1 (3).wav"));
  // With the user's word given beforehand (--overwrite) it is replaced.
  host_.ticked = {true, false, false};
  RipPipeline replacing = Make();
  replacing.SetExistingFiles(RipPipeline::ExistingFiles::Replace);
  replacing.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(SizeOf(Out("0 - T1.wav")), 4u + 300 * 2352);
}

// A file that appears at the name while the track is written (another
// program) is not replaced either.
TEST_F(RipTest, AFileThatAppearsWhileTheTrackIsWrittenStays) {
  host_.ticked = {true, false, false};
  host_.onPump = [&](int pumps) {
    if (pumps == 3) WriteFileAtomically(Out("0 - T1.wav"), "appeared");
  };
  RipPipeline rip = Make();
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
  EXPECT_EQ(*ReadFileBytes(Out("0 - T1.wav")), "appeared");
  EXPECT_EQ(SizeOf(Out("0 - T1 (2).wav")), 4u + 300 * 2352);
  EXPECT_EQ(host_.done, std::vector<std::string>{Out("0 - T1 (2).wav")});
}

TEST_F(RipTest, NoiseCorrectionRereadsSuspectPairs) {
  s_.ReadSpeed = 8;
  RipPipeline rip = Make();
  std::vector<std::uint8_t> a(2352, 0), b(2352, 0);
  // Matching ends: accepted.
  EXPECT_EQ(rip.CheckPair(a.data(), b.data(), 10), 0);
  EXPECT_TRUE(drive_.seeks.empty());
  // A partial match (10 bytes) is suspect: re-read at speed 4; the fake
  // drive's sectors (constant 10 and 11) do not match at all afterwards.
  for (int k = 0; k < 2352; ++k) a[k] = static_cast<std::uint8_t>(k * 7 + 1);
  for (int k = 0; k < 10; k += 2) {
    b[k] = a[2352 - 2 - k];
    b[k + 1] = a[2352 - 1 - k];
  }
  b[10] = static_cast<std::uint8_t>(~a[2352 - 12]);
  EXPECT_EQ(rip.CheckPair(a.data(), b.data(), 10), 0);
  EXPECT_EQ(drive_.seeks, std::vector<std::uint32_t>{10});
  // Read again at 4x, then the speed the grab set is back.
  EXPECT_EQ(drive_.speeds, (std::vector<int>{4, 8}));
  std::uint16_t v;
  std::memcpy(&v, a.data(), 2);
  EXPECT_EQ(v, 10);  // the re-read data replaced the suspect pair
  std::memcpy(&v, b.data(), 2);
  EXPECT_EQ(v, 11);
}

// A drive whose sectors 500 and 501 match partly where they meet on their
// first read (noise correction reads them again); it notes the speed each
// read ran at.
class NoisyPairDrive : public FakeDrive {
 public:
  bool ReadCdda(std::uint8_t* buffer, std::uint32_t lba, std::uint32_t sectors) override {
    readSpeeds.push_back(speeds.empty() ? 0 : speeds.back());
    if (!FakeDrive::ReadCdda(buffer, lba, sectors)) return false;
    if (!noisy || lba > 500 || lba + sectors < 502) return true;
    noisy = false;
    std::uint8_t* a = buffer + (500 - lba) * kBytesPerSector;
    std::uint8_t* b = a + kBytesPerSector;
    for (std::size_t k = 0; k < kBytesPerSector; ++k) a[k] = static_cast<std::uint8_t>(k * 7 + 1);
    for (std::size_t k = 0; k < 10; k += 2) {
      b[k] = a[kBytesPerSector - 2 - k];
      b[k + 1] = a[kBytesPerSector - 1 - k];
    }
    b[10] = static_cast<std::uint8_t>(~a[kBytesPerSector - 12]);
    return true;
  }
  bool noisy = true;
  std::vector<int> readSpeeds;
};

TEST_F(RipTest, NoiseCorrectionPutsTheGrabsReadSpeedBackAfterAReread) {
  NoisyPairDrive drive;
  s_.ReadSpeed = 8;
  s_.NoiseCorrection = 1;
  host_.ticked = {false, true, true};
  RipPipeline rip(host_, drive, enc_, dialogs_, s_, a_, tags_, folder_ + "TempFiles/");
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
  ASSERT_FALSE(drive.noisy);
  EXPECT_EQ(drive.seeks, std::vector<std::uint32_t>{500});
  // One slow reread of the pair; every other read of the grab at its own speed.
  EXPECT_EQ(drive.speeds, (std::vector<int>{8, 4, 8}));
  EXPECT_EQ(std::count(drive.readSpeeds.begin(), drive.readSpeeds.end(), 4), 2);
  EXPECT_EQ(drive.readSpeeds.back(), 8);
  // The pair as read again is what the file holds.
  auto bytes = ReadFileBytes(Out("1 - T2.wav"));
  ASSERT_TRUE(bytes && bytes->size() == 4u + 700 * 2352);
  std::uint16_t v;
  std::memcpy(&v, bytes->data() + 4 + (500 - 300) * kBytesPerSector, 2);
  EXPECT_EQ(v, 500);
}

TEST_F(RipTest, NotEnoughSpaceQuestion) {
  a_.Tracks[2].StartSector = 0x7FFFFFFF;  // claims far more than any disk holds
  a_.Tracks[3].StartSector = 0x7FFFFFFF;
  dialogs_.ExpectMessage("Вы уверены, что вам хватит места на жестком диске?", "Sonarvex",
                         MsgIcon::Warning, MsgButtons::YesNo, IdNo);
  RipPipeline rip = Make();
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_TRUE(drive_.reads.empty());
  EXPECT_TRUE(host_.timer);
}


// The free space a grab asks for is what the ticked tracks take in the
// chosen format, not the whole disc as WAV.
TEST_F(RipTest, FreeSpaceCountsTheTickedTracksOnly) {
  a_.Tracks[2].StartSector = 0x7FFFFF00;  // a last track far larger than any disk
  a_.Tracks[3].StartSector = 0x7FFFFFFF;
  host_.ticked = {true, false, false};
  RipPipeline rip = Make();
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
  EXPECT_EQ(SizeOf(Out("0 - T1.wav")), 4u + 300 * 2352);
}

TEST_F(RipTest, FreeSpaceNeededFollowsTheFormat) {
  host_.ticked = {true, false, true};
  enc_.ratio = 10;
  RipPipeline rip = Make();
  const std::uint64_t audio = 600ull * 2352;
  EXPECT_EQ(rip.NeededBytes(OutputKind::Wav), audio + 2 * 44);
  // Compressed: the files at their ratio, and one track's temporary WAV file.
  EXPECT_EQ(rip.NeededBytes(OutputKind::Mp3), audio / 10 + 2 * 65536 + 300 * 2352 + 44);
  s_.OnTheFlyEncoding = 1;
  EXPECT_EQ(rip.NeededBytes(OutputKind::Mp3), audio / 10 + 2 * 65536);
}

// A chunk that cannot be read is narrowed down to the sector that fails.
TEST_F(RipTest, TheUnreadableSectorItselfIsReported) {
  drive_.badSector = 317;  // in the chunk from 300
  host_.ticked = {false, true, false};
  dialogs_.ExpectMessage(
      "Не удалось прочитать дорожки: 2 (сектор 317). Эти сектора не читаются и после "
      "повторных попыток; дорожки не скопированы.",
      "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
  RipPipeline rip = Make();
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Failed);
  EXPECT_FALSE(FileExists(Out("1 - T2.wav")));
}

}  // namespace
}  // namespace sonarvex
