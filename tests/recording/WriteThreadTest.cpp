// The recording thread on the software recorder: a compilation written and
// read back, cancel during track 2 of 5, test writes that do not eject, the
// peak pass and its failure, blanking, the after-recording actions; and the
// compilation rules (totals, the 79-minute and 76-minute marks, conversion
// of a 22 kHz file, project files, wset.dat).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "codec/AudioFormat.h"
#include "platform/Cp1251.h"
#include "platform/ScriptedDialogs.h"
#include "recording/Compilation.h"
#include "recording/Recorder.h"
#include "recording/TWriteThread.h"
#include "tests/recording/RecordingRig.h"

namespace sonarvex {
namespace {

using test::RecordingRig;

// Records what the thread tells its host.
struct HostLog : WriteThreadHost {
  std::mutex m;
  std::vector<std::string> phases, statuses, events;
  std::vector<int> done;
  std::string status;
  std::function<void(std::int32_t)> onProgress;
  void SetPhase(const std::string& t) override {
    std::lock_guard l(m);
    phases.push_back(t);
  }
  void ShowErrorCount(bool v) override {
    std::lock_guard l(m);
    events.push_back(v ? "errors shown" : "errors hidden");
  }
  std::string SetStatus(const std::string& t) override {
    std::lock_guard l(m);
    statuses.push_back(t);
    std::string old = status;
    status = t;
    return old;
  }
  void Progress(std::int32_t cur, std::int32_t, int, std::int32_t) override {
    if (onProgress) onProgress(cur);
  }
  void TrackDone(int row) override {
    std::lock_guard l(m);
    done.push_back(row);
  }
  void WriteFinished() override { Event("finished"); }
  void PlaySound(const std::string& p) override { Event("play " + p); }
  void SourcesDeleted() override { Event("deleted"); }
  void CloseBlankWindow() override { Event("blank window closed"); }
  void Completed() override { Event("completed"); }
  void Ended() override { Event("ended"); }
  void Verified(const std::string& text, bool same) override {
    Event(std::string(same ? "verified: " : "differs: ") + text);
  }
  void Event(const std::string& e) {
    std::lock_guard l(m);
    events.push_back(e);
  }
};

class WriteThreadTest : public testing::Test {
 protected:
  WriteThreadTest() : rec_(rig_.spti, rig_.aspi, dialogs_) {
    rec_.Create();
    rec_.SelectDevice(rig_.RecorderDevice());
    settings_ = DefaultRecordingSettings();
  }
  std::vector<std::string> MakeFiles(const std::vector<int>& sectors) {
    std::vector<std::string> files;
    for (std::size_t k = 0; k < sectors.size(); ++k) {
      audio_.push_back(test::PatternAudio(static_cast<int>(k), static_cast<std::size_t>(sectors[k]) * 2352));
      files.push_back(test::WriteCdWav(rig_.dir.File("t" + std::to_string(k + 1) + ".wav"), audio_.back()));
    }
    return files;
  }
  // Prepares as the window does on its thread, then runs the thread.
  void Run(TWriteThread& th, const std::vector<std::string>& files, bool test = false) {
    th.files = files;
    for (auto& f : files) th.names.push_back(f.substr(f.find_last_of('/') + 1));
    th.testWrite = test;
    th.settings = settings_;
    ASSERT_TRUE(rec_.SetFiles(files));
    ASSERT_TRUE(rec_.InitWriteProcess(test, [this](std::int32_t c, std::int32_t s, int e, std::int32_t end) {
      host_.Progress(c, s, e, end);
    }));
    ASSERT_TRUE(rec_.SendCUEToCD());
    th.Start();
    th.Wait();
  }

  RecordingRig rig_;
  ScriptedDialogs dialogs_;
  Recorder rec_;
  RecordingSettings settings_;
  HostLog host_;
  std::atomic<bool> cancel_{false};
  std::vector<std::vector<std::uint8_t>> audio_;
};

TEST_F(WriteThreadTest, WritesTheCompilationAndEjects) {
  settings_.EjectAfterBurn = 1;
  settings_.SectorsPerWrite = 38;
  const auto files = MakeFiles({100, 77, 200});
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  Run(th, files);
  EXPECT_EQ(host_.phases, (std::vector<std::string>{"Запись диска ..."}));
  EXPECT_EQ(host_.statuses.front(), "Запись OPC ...");
  EXPECT_EQ(host_.statuses[1], "Трек 1 - t1.wav");
  EXPECT_EQ(host_.statuses.back(), "Запись Lead-Out ...");
  EXPECT_EQ(host_.done, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(host_.events, (std::vector<std::string>{"finished", "completed", "ended"}));
  EXPECT_TRUE(rig_.recorder->TrayOpen());
  EXPECT_FALSE(rig_.recorder->Locked());
  EXPECT_EQ(rig_.recorder->GetStats().writeSpeed, 0xFFFF);
  EXPECT_EQ(rig_.recorder->GetStats().opcs, 1);
  auto bin = ReadFileBytes(BinPathForCue(rig_.cue));
  ASSERT_TRUE(bin);
  std::vector<std::uint8_t> all;
  for (auto& a : audio_) all.insert(all.end(), a.begin(), a.end());
  ASSERT_EQ(bin->size(), all.size());
  EXPECT_EQ(std::memcmp(bin->data(), all.data(), all.size()), 0);
}

TEST_F(WriteThreadTest, CancelDuringTrackTwoOfFiveLeavesTheSessionOpenWithTrackOneDone) {
  const auto files = MakeFiles({100, 300, 100, 100, 100});
  // The user confirms the cancel while track 2 is being written.
  host_.onProgress = [&](std::int32_t cur) {
    if (cur >= 150) cancel_ = true;
  };
  settings_.SectorsPerWrite = 25;
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  Run(th, files);
  // Track 2 was not written whole: only track 1 is shown done, and the
  // session is not closed into a disc of one and a half tracks.
  EXPECT_EQ(host_.done, (std::vector<int>{0}));
  EXPECT_EQ(th.Result(), TWriteThread::Outcome::Cancelled);
  EXPECT_EQ(rig_.recorder->GetStats().sessionsClosed, 0);
  EXPECT_FALSE(rig_.recorder->Locked());
  EXPECT_FALSE(FileExists(rig_.cue));
  EXPECT_EQ(rig_.recorder->Medium(), MediumState::Written);
  const Recorder::DiscState state = rec_.ReadDiscState();
  EXPECT_TRUE(state.ready);
  EXPECT_EQ(state.status, 1);  // incomplete: open
  EXPECT_EQ(host_.events, (std::vector<std::string>{"finished", "completed", "ended"}));
}

TEST_F(WriteThreadTest, TestWriteDoesNotEjectAndLeavesTheDiscBlank) {
  settings_.EjectAfterBurn = 1;
  const auto files = MakeFiles({50});
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  Run(th, files, true);
  EXPECT_EQ(host_.phases, (std::vector<std::string>{"Тестовая запись ..."}));
  EXPECT_FALSE(rig_.recorder->TrayOpen());
  EXPECT_TRUE(rec_.ReadDiscState().Blank());
}

TEST_F(WriteThreadTest, NormalizationPeakPassSetsTheGains) {
  settings_.Normalize = 1;
  const auto files = MakeFiles({40});
  // A quiet file: peak 8192 of 32767 is 25 %, below the lower level 90 %.
  std::vector<std::int16_t> quiet(40 * 588 * 2, 0);
  quiet[10] = 8192;
  test::WriteWav(files[0], quiet, CdAudioFormat);
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  Run(th, files);
  EXPECT_EQ(host_.phases, (std::vector<std::string>{"Расчет пиковых значений ...", "Запись диска ..."}));
  EXPECT_EQ(host_.events.front(), "errors hidden");
  EXPECT_EQ(host_.events[1], "errors shown");
  EXPECT_NEAR(rec_.Gains()[0], 0.90 * 32767 / 8192, 0.01);
  EXPECT_TRUE(rec_.Normalize());
  auto bin = ReadFileBytes(BinPathForCue(rig_.cue));
  ASSERT_TRUE(bin);
  std::int16_t s;
  std::memcpy(&s, bin->data() + 20, 2);
  EXPECT_NEAR(s, 29490, 3);
}

TEST_F(WriteThreadTest, EqualLevelsSwitchNormalizationOff) {
  settings_.Normalize = 1;
  settings_.DisableNormalizeWhenEqual = 1;
  const auto files = MakeFiles({20, 20});
  for (const auto& f : files) {
    std::vector<std::int16_t> quiet(20 * 588 * 2, 0);
    quiet[7] = -12000;
    test::WriteWav(f, quiet, CdAudioFormat);
  }
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  Run(th, files);
  EXPECT_FALSE(rec_.Normalize()) << rec_.Gains()[0] << " " << rec_.Gains()[1];
}

TEST_F(WriteThreadTest, DifferentLevelsKeepNormalizationOn) {
  settings_.Normalize = 1;
  settings_.DisableNormalizeWhenEqual = 1;
  const auto files = MakeFiles({20, 20});
  std::vector<std::int16_t> quiet(20 * 588 * 2, 0);
  quiet[7] = -12000;
  test::WriteWav(files[0], quiet, CdAudioFormat);
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  Run(th, files);
  EXPECT_TRUE(rec_.Normalize());
  EXPECT_GT(rec_.Gains()[0], 2.0);
  EXPECT_LT(rec_.Gains()[1], 1.0);  // the loud file comes down to 98 %
}

TEST_F(WriteThreadTest, MissingFileInThePeakPassSendsNothingAndEnablesTheWindow) {
  settings_.Normalize = 1;
  auto files = MakeFiles({20, 20});
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  th.files = files;
  th.settings = settings_;
  ASSERT_TRUE(rec_.SetFiles(files));
  ASSERT_TRUE(rec_.InitWriteProcess(false, nullptr));
  ASSERT_TRUE(rec_.SendCUEToCD());
  std::filesystem::remove(files[1]);
  dialogs_.ExpectMessage("Не могу открыть файл " + files[1], "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  const auto commands = rig_.recorder->GetStats().commands;
  th.Start();
  th.Wait();
  EXPECT_EQ(rig_.recorder->GetStats().commands, commands);
  EXPECT_EQ(host_.events, (std::vector<std::string>{"errors hidden", "finished", "ended"}));
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
}

TEST_F(WriteThreadTest, AfterRecordingPlaysAndDeletesTheSourcesWhenAnswerIsYes) {
  settings_.PlaySound = 1;
  std::strcpy(settings_.SoundFile, "/tmp/done.wav");
  settings_.DeleteWavAfterBurn = 1;
  const auto files = MakeFiles({20, 20});
  dialogs_.ExpectMessage("Удалить исходные WAV файлы?", "Sonarvex v3.2", MsgIcon::Question, MsgButtons::YesNo,
                         IdYes);
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  Run(th, files);
  EXPECT_EQ(host_.events, (std::vector<std::string>{"finished", "play /tmp/done.wav", "deleted", "completed", "ended"}));
  EXPECT_FALSE(FileExists(files[0]));
  EXPECT_FALSE(FileExists(files[1]));
}

// "Delete the source WAV files" deletes WAV files only: a FLAC file (a
// rip's, say) written as it is stays where it is.
TEST_F(WriteThreadTest, DeletingTheSourceWavFilesKeepsAFlacRow) {
  int rc = 1;
  test::Run("command -v flac >/dev/null", &rc);
  if (rc != 0) GTEST_SKIP() << "flac (Debian package flac) is not installed";
  settings_.DeleteWavAfterBurn = 1;
  settings_.AskBeforeDelete = 0;
  auto files = MakeFiles({20, 20});
  const std::string flac = rig_.dir.File("t2.flac");
  test::Run("flac -s -f -o " + test::Quote(flac) + " " + test::Quote(files[1]) + " && rm " + test::Quote(files[1]),
            &rc);
  ASSERT_EQ(rc, 0);
  files[1] = flac;
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  Run(th, files);
  ASSERT_EQ(th.Result(), TWriteThread::Outcome::Done);
  EXPECT_FALSE(FileExists(files[0]));
  EXPECT_TRUE(FileExists(flac));
}

TEST_F(WriteThreadTest, AnswerNoKeepsTheSources) {
  settings_.DeleteWavAfterBurn = 1;
  const auto files = MakeFiles({20});
  dialogs_.ExpectMessage("Удалить исходные WAV файлы?", "Sonarvex v3.2", MsgIcon::Question, MsgButtons::YesNo, IdNo);
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  Run(th, files);
  EXPECT_TRUE(FileExists(files[0]));
}

// The sources are deleted only after a real disc was written whole.
TEST_F(WriteThreadTest, ATestWriteKeepsTheSourcesAndDoesNotAskAboutThem) {
  settings_.DeleteWavAfterBurn = 1;
  for (int ask : {0, 1}) {
    SCOPED_TRACE(ask);
    settings_.AskBeforeDelete = static_cast<std::uint8_t>(ask);
    const auto files = MakeFiles({20, 20});
    HostLog host;
    TWriteThread th(rec_, host, dialogs_, cancel_);
    th.files = files;
    th.testWrite = true;
    th.settings = settings_;
    ASSERT_TRUE(rec_.SetFiles(files));
    ASSERT_TRUE(rec_.InitWriteProcess(true, nullptr));
    ASSERT_TRUE(rec_.SendCUEToCD());
    th.Start();
    th.Wait();
    EXPECT_EQ(th.Result(), TWriteThread::Outcome::Done);
    EXPECT_TRUE(FileExists(files[0]));
    EXPECT_TRUE(FileExists(files[1]));
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "deleted"), 0);
  }
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;  // no question either
}

TEST_F(WriteThreadTest, ACancelledWriteKeepsTheSources) {
  settings_.DeleteWavAfterBurn = 1;
  settings_.AskBeforeDelete = 0;
  settings_.EjectAfterBurn = 1;
  settings_.SectorsPerWrite = 20;
  const auto files = MakeFiles({100, 100});
  host_.onProgress = [&](std::int32_t cur) {
    if (cur >= 40) cancel_ = true;
  };
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  Run(th, files);
  EXPECT_EQ(th.Result(), TWriteThread::Outcome::Cancelled);
  EXPECT_TRUE(FileExists(files[0]));
  EXPECT_TRUE(FileExists(files[1]));
  EXPECT_TRUE(host_.done.empty());
  EXPECT_FALSE(rig_.recorder->TrayOpen());  // an unfinished disc is not ejected
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
}

TEST_F(WriteThreadTest, AFailedWriteKeepsTheSourcesNamesTheFailureOnceAndLeavesTheDiscOpen) {
  settings_.DeleteWavAfterBurn = 1;
  settings_.AskBeforeDelete = 0;
  settings_.EjectAfterBurn = 1;
  settings_.SectorsPerWrite = 25;
  VirtualDriveFaults faults;
  faults.failWriteAtLba = 130;  // in track 2
  rig_.recorder->SetFaults(faults);
  const auto files = MakeFiles({100, 100, 100});
  dialogs_.ExpectMessage("Запись диска не завершена: трек 2, файл '" + files[1] +
                             "': привод не записал секторы 125–149: ошибка записи. Сессия диска не закрыта.",
                         "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  Run(th, files);
  EXPECT_EQ(th.Result(), TWriteThread::Outcome::Failed);
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  for (const auto& f : files) EXPECT_TRUE(FileExists(f)) << f;
  EXPECT_EQ(host_.done, (std::vector<int>{0}));
  const auto stats = rig_.recorder->GetStats();
  EXPECT_EQ(stats.writeErrors, 1);
  EXPECT_EQ(stats.sessionsClosed, 0);
  EXPECT_EQ(stats.writtenSectors, 150 + 150);  // nothing written after the failure
  EXPECT_FALSE(FileExists(rig_.cue));
  EXPECT_EQ(rec_.ReadDiscState().status, 1);
  EXPECT_FALSE(rig_.recorder->TrayOpen());
  EXPECT_FALSE(rig_.recorder->Locked());
}

TEST_F(WriteThreadTest, AFileCutShortAfterThePreparationFailsItsTrack) {
  const auto files = MakeFiles({60, 60});
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  th.files = files;
  th.settings = settings_;
  ASSERT_TRUE(rec_.SetFiles(files));
  ASSERT_TRUE(rec_.InitWriteProcess(false, nullptr));
  ASSERT_TRUE(rec_.SendCUEToCD());
  std::filesystem::resize_file(files[1], 30 * 2352);
  dialogs_.ExpectMessage("Запись диска не завершена: трек 2, файл '" + files[1] +
                             "': файл кончился раньше, чем при подготовке записи. Сессия диска не закрыта.",
                         "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  th.Start();
  th.Wait();
  EXPECT_EQ(th.Result(), TWriteThread::Outcome::Failed);
  EXPECT_EQ(host_.done, (std::vector<int>{0}));
  EXPECT_EQ(rig_.recorder->GetStats().sessionsClosed, 0);
  std::string why;
  EXPECT_TRUE(dialogs_.Clean(&why)) << why;
}

TEST(WriteThreadBlank, BlanksACdrwAndClosesTheBlankWindow) {
  RecordingRig rig(true);
  ScriptedDialogs dialogs;
  Recorder rec(rig.spti, rig.aspi, dialogs);
  rec.Create();
  rec.SelectDevice(rig.RecorderDevice());
  HostLog host;
  std::atomic<bool> cancel{false};
  TWriteThread th(rec, host, dialogs, cancel);
  th.mode = TWriteThread::kBlankFull;
  th.Start();
  th.Wait();
  EXPECT_EQ(host.events, (std::vector<std::string>{"blank window closed", "completed", "ended"}));
  EXPECT_EQ(rig.recorder->GetStats().blanks, 1);
  EXPECT_EQ(rig.recorder->CommandLog().back()[0], 0x00);  // waited for the drive
}

// Compilation rules.
TEST(CompilationRules, TotalsAndTheTimeMarks) {
  ScriptedDialogs dialogs;
  Compilation c("/nonexistent/", dialogs);
  auto add = [&](std::uint32_t sectors) {
    c.Rows().push_back(CompilationRow{"/x/", "a.wav", sectors * 2352, 2});
  };
  add(79 * 4500 - 1);  // 78:59:74
  EXPECT_FALSE(c.OverLength());
  EXPECT_EQ(c.TimePanelText(), "Время 78:59:74");
  c.Clear();
  add(79 * 4500);  // 79:00:00
  EXPECT_TRUE(c.OverLength());
  c.Clear();
  add(76 * 4500 - 1);  // 75:59:74
  EXPECT_FALSE(c.TimeWarning());
  c.Clear();
  add(76 * 4500);
  EXPECT_TRUE(c.TimeWarning());
  EXPECT_EQ(c.FilePanelText(), "Файлов 1");
  EXPECT_EQ(MegabyteText(42330000), "40.37 Мб");
  EXPECT_EQ(c.SizePanelText(), "Размер " + MegabyteText(76ull * 4500 * 2352));
  EXPECT_EQ(SectorTimeText(1150), "00:15:25");
}

TEST(CompilationRules, MovingRows) {
  ScriptedDialogs dialogs;
  Compilation c("/t/", dialogs);
  for (const char* n : {"a", "b", "c", "d"}) c.Rows().push_back(CompilationRow{"/x/", n, 0, 2});
  auto names = [&] {
    std::string s;
    for (auto& r : c.Rows()) s += r.name;
    return s;
  };
  EXPECT_EQ(c.Move(0, 2), 1);  // before the target
  EXPECT_EQ(names(), "bacd");
  EXPECT_EQ(c.Move(0, 3), 3);  // onto the last row: appended
  EXPECT_EQ(names(), "acdb");
  EXPECT_EQ(c.Move(3, 0), 0);
  EXPECT_EQ(names(), "bacd");
}

TEST(CompilationRules, A22kHzFileIsConvertedIntoTheTemporaryFolder) {
  test::TempDir dir;
  ScriptedDialogs dialogs;
  Compilation c(dir.File("WCDDATF"), dialogs);
  const std::string src = dir.File("low.wav");
  test::WriteWav(src, test::Tone(22050, 2, 22050), MakePcmFormat(22050, 2));
  ASSERT_TRUE(c.AddFile(src, false));
  ASSERT_EQ(c.Rows().size(), 1u);
  EXPECT_EQ(c.Rows()[0].folder, dir.File("WCDDATF") + "/");
  EXPECT_EQ(c.Rows()[0].name, "low.wav");
  EXPECT_NEAR(static_cast<double>(c.Rows()[0].bytes), 176400.0, 2352.0);
  EXPECT_EQ(c.Converted().size(), 1u);
  // Files inside the temporary folder are not added again.
  EXPECT_FALSE(c.AddFile(c.Rows()[0].Path(), false));
  // Skipping compressed files leaves it out.
  Compilation skip(dir.File("WCDDATF2"), dialogs);
  EXPECT_FALSE(skip.AddFile(src, true));
  c.DeleteConverted();
  EXPECT_FALSE(std::filesystem::exists(dir.File("WCDDATF")));
}

TEST(CompilationRules, FoldersAndProjectWithAMissingFile) {
  test::TempDir dir;
  ScriptedDialogs dialogs;
  std::filesystem::create_directories(dir.File("music/sub"));
  std::filesystem::create_directories(dir.File("music/.hidden"));
  const auto a = test::WriteCdWav(dir.File("music/a.wav"), test::PatternAudio(1, 2352 * 3));
  const auto b = test::WriteCdWav(dir.File("music/sub/B.WAV"), test::PatternAudio(2, 2352 * 4));
  test::WriteCdWav(dir.File("music/.hidden/c.wav"), test::PatternAudio(3, 2352));
  test::WriteCdWav(dir.File("music/d.txt"), test::PatternAudio(4, 2352));
  Compilation c(dir.File("WCDDATF"), dialogs);
  EXPECT_EQ(c.AddFolder(dir.File("music"), false), 2);

  const std::string project = dir.File("p.cgp");
  ASSERT_TRUE(SaveProject(project, {a, dir.File("gone.wav"), b}));
  auto text = ReadFileBytes(project);
  EXPECT_EQ(*text, a + "\n" + dir.File("gone.wav") + "\n" + b + "\n");
  auto paths = LoadProject(project);
  ASSERT_TRUE(paths);
  Compilation p(dir.File("WCDDATF"), dialogs);
  for (auto& path : *paths) p.AddFile(path, false);
  ASSERT_EQ(p.Rows().size(), 2u);
  EXPECT_EQ(p.Rows()[1].Path(), b);
  EXPECT_EQ(p.TotalSectors(), 7u);
}

TEST(RecordingSettingsFile, DefaultsRoundTripAndAFailedSave) {
  test::TempDir dir;
  ScriptedDialogs dialogs;
  const std::string folder = dir.File("setting");
  RecordingSettings s = LoadRecordingSettings(folder);
  EXPECT_EQ(s.SectorsPerWrite, 15);
  EXPECT_EQ(s.WriteSpeed, 255);
  EXPECT_EQ(s.AskBeforeDiscOps, 1);
  EXPECT_EQ(s.MinLevel, 90);
  EXPECT_EQ(s.MaxLevel, 98);
  EXPECT_EQ(s.AskBeforeDelete, 1);
  s.SectorsPerWrite = 0x0126;
  s.DriveIndex = 2;
  std::strcpy(s.SoundFile, Utf8ToCp1251("/звук.wav").c_str());
  ASSERT_TRUE(SaveRecordingSettings(folder, s, dialogs));
  auto bytes = ReadFileBytes(folder + "/wset.dat");
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 280u);
  EXPECT_EQ(static_cast<std::uint8_t>((*bytes)[4]), 0x26);  // little-endian
  EXPECT_EQ(static_cast<std::uint8_t>((*bytes)[5]), 0x01);
  EXPECT_EQ((*bytes)[0], 2);
  EXPECT_EQ(static_cast<std::uint8_t>((*bytes)[16]), 0xE7);  // "з" in CP1251
  const RecordingSettings back = LoadRecordingSettings(folder);
  EXPECT_EQ(std::memcmp(&back, &s, sizeof s), 0);

  dialogs.ExpectMessage("Не могу сохранить настройки!!!", "Sonarvex v3.2", MsgIcon::Warning, MsgButtons::Ok);
  EXPECT_FALSE(SaveRecordingSettings("/proc/no/such", s, dialogs));
  std::string why;
  EXPECT_TRUE(dialogs.Clean(&why)) << why;
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

// The verify step after a write: every track read back from the disc and
// compared, sector by sector, with what was sent to the drive.

TEST_F(WriteThreadTest, VerifyAfterWriteFindsEveryTrackTheSame) {
  const auto files = MakeFiles({100, 77, 200});
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  th.verify = true;
  Run(th, files);
  EXPECT_EQ(th.Result(), TWriteThread::Outcome::Done);
  EXPECT_EQ(th.VerifyResult(), TWriteThread::Verify::Same);
  EXPECT_EQ(host_.phases, (std::vector<std::string>{"Запись диска ...", "Проверка записи ..."}));
  EXPECT_EQ(host_.events, (std::vector<std::string>{"finished", "verified: Проверка записи: все дорожки совпадают",
                                                    "completed", "ended"}));
  // Every sector of the disc was read back.
  EXPECT_GE(rig_.recorder->GetStats().audioReads, 377 / 26);
}

TEST_F(WriteThreadTest, VerifyNamesTheTrackAndPositionThatReadBackDifferent) {
  const auto files = MakeFiles({100, 300, 100});
  // The disc reads back one sector wrong: track 2's sector 80 (LBA 180),
  // 00:01.05 into the track.
  VirtualDriveFaults faults;
  faults.corruptSectorLba = 180;
  rig_.recorder->SetFaults(faults);
  settings_.DeleteWavAfterBurn = 1;
  settings_.AskBeforeDelete = 0;
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  th.verify = true;
  Run(th, files);
  EXPECT_EQ(th.Result(), TWriteThread::Outcome::Done);
  EXPECT_EQ(th.VerifyResult(), TWriteThread::Verify::Differs);
  EXPECT_EQ(th.VerifyText(), "Дорожка 2 отличается от источника с позиции 00:01.05");
  EXPECT_NE(std::find(host_.events.begin(), host_.events.end(),
                      "differs: Дорожка 2 отличается от источника с позиции 00:01.05"),
            host_.events.end());
  // The sources of a disc that does not read back as sent are kept.
  for (const auto& f : files) EXPECT_TRUE(FileExists(f)) << f;
}

TEST_F(WriteThreadTest, VerifyReadsWithTheDrivesReadOffset) {
  const auto files = MakeFiles({60, 60});
  VirtualDriveConfig config;
  config.capabilities = VirtualDriveConfig::DefaultCapabilities(true);
  config.simulateWriteTime = false;
  config.readOffsetSamples = 30;
  rig_.recorder->SetConfig(config);
  {
    TWriteThread th(rec_, host_, dialogs_, cancel_);
    th.verify = true;
    th.readOffset = 30;
    Run(th, files);
    EXPECT_EQ(th.VerifyResult(), TWriteThread::Verify::Same) << th.VerifyText();
  }
  // Read without the offset, the same disc is 30 samples off from the start.
  std::vector<Recorder::TrackCheck> checks;
  ASSERT_TRUE(rec_.VerifyTracks(0, cancel_, checks));
  ASSERT_EQ(checks.size(), 2u);
  EXPECT_FALSE(checks[0].same);
  EXPECT_EQ(checks[0].firstBad, 0);
  EXPECT_EQ(Recorder::VerifyText(checks).find("Дорожка 1 отличается от источника с позиции 00:00.00"), 0u);
}

TEST_F(WriteThreadTest, NoVerifyAfterATestWriteOrWhenSwitchedOff) {
  const auto files = MakeFiles({40});
  {
    TWriteThread th(rec_, host_, dialogs_, cancel_);
    th.verify = true;
    Run(th, files, true);
    EXPECT_EQ(th.VerifyResult(), TWriteThread::Verify::NotRun);
  }
  const int readsBefore = rig_.recorder->GetStats().audioReads;
  TWriteThread th(rec_, host_, dialogs_, cancel_);
  th.verify = false;
  Run(th, files);
  EXPECT_EQ(th.Result(), TWriteThread::Outcome::Done);
  EXPECT_EQ(th.VerifyResult(), TWriteThread::Verify::NotRun);
  EXPECT_EQ(rig_.recorder->GetStats().audioReads, readsBefore);
}

}  // namespace
}  // namespace sonarvex
