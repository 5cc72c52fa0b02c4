// The ripping loop with its encoder pool: several tracks compressed at once
// while the drive reads on, with the outcomes of the one-track-at-a-time
// loop. The encoders here hold every compression at a gate, so that the
// tests decide which tracks are compressing when the drive fails, the user
// stops or the disk runs full.
#include <atomic>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "rip/RipPipeline.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ScriptedDialogs.h"
#include "platform/System.h"
#include "RipTestDoubles.h"

namespace sonarvex {
namespace {

// Where the compressions wait until the test lets them go on.
struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  bool open = false;
  int arrived = 0;    // compressions that reached the gate
  std::atomic<int> fullDisks{0};  // writes that failed as on a full disk
  int cancelled = 0;  // compressions that ended cancelled
  int blocksAfterCancel = 0;
  void Open() {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
    cv.notify_all();
  }
  int Arrived() {
    std::lock_guard<std::mutex> lock(mutex);
    return arrived;
  }
};

// Compresses like FakeEncoder, but first reports its start and waits at the
// gate, asking the progress routine meanwhile whether to stop (as a writer
// does before each block). A temporary file whose name holds `failOn` fails
// as a full disk does.
class GatedEncoder : public FakeEncoder {
 public:
  GatedEncoder(Gate& gate, std::string failOn) : gate_(gate), failOn_(std::move(failOn)) {}
  WriteResult ConvertFile(const std::string& wav, const std::string& out, const TrackTags& tag,
                          int p) override {
    int cancel = 0;
    progress(0, 1000, &cancel, 0);
    if (!failOn_.empty() && wav.find(failOn_) != std::string::npos)
      return WriteResult::Failure("Не удалось записать файл '" + out + "': " +
                                  std::strerror(ENOSPC) + ".");
    {
      std::unique_lock<std::mutex> lock(gate_.mutex);
      ++gate_.arrived;
      // The deadline only keeps a broken pool from hanging the suite.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!gate_.open && !cancel && std::chrono::steady_clock::now() < deadline) {
        lock.unlock();
        progress(0, 1000, &cancel, 0);
        lock.lock();
        if (!cancel) gate_.cv.wait_for(lock, std::chrono::milliseconds(2));
      }
      if (cancel) {
        ++gate_.cancelled;
        return WriteResult::Cancel();
      }
    }
    WriteResult r = FakeEncoder::ConvertFile(wav, out, tag, p);
    return r;
  }
  // Encoded on the fly: an output whose name holds `failOn` fails as a full
  // disk does, the writer deleting what it wrote.
  WriteResult Write(const std::uint8_t* d, std::size_t n) override {
    if (!failOn_.empty() && path.find(failOn_) != std::string::npos) {
      const std::string failed = path;
      ++gate_.fullDisks;
      Abort();
      return WriteResult::Failure(WriteFailureText(failed, ENOSPC));
    }
    return FakeEncoder::Write(d, n);
  }

 private:
  Gate& gate_;
  std::string failOn_;
};

// Encodes on the fly, every block held at the gate until it opens: workers
// slower than any drive.
class StallingStreamEncoder : public FakeEncoder {
 public:
  explicit StallingStreamEncoder(Gate& gate) : gate_(gate) {}
  WriteResult Write(const std::uint8_t* d, std::size_t n) override {
    {
      std::unique_lock<std::mutex> lock(gate_.mutex);
      // The deadline only keeps a broken pool from hanging the suite.
      gate_.cv.wait_for(lock, std::chrono::seconds(60), [&] { return gate_.open; });
    }
    return FakeEncoder::Write(d, n);
  }

 private:
  Gate& gate_;
};

class Power : public PowerControl {
 public:
  bool PowerOff() override {
    if (onPowerOff) onPowerOff();
    ++calls;
    return true;
  }
  std::function<void()> onPowerOff;
  int calls = 0;
};

class RipPoolTest : public ::testing::Test {
 protected:
  static constexpr int kTracks = 5;
  void SetUp() override {
    char tmpl[] = "/tmp/sonarvex-pool-XXXXXX";
    folder_ = std::string(mkdtemp(tmpl)) + "/";
    MakeDirectories(folder_ + "out");
    SetField(s_.OutputFolder, folder_ + "out/");
    s_.NameHasTitle = 1;
    s_.NameHasNumber = 1;
    a_.TrackCount = kTracks;
    a_.FirstTrackOffset = 150;
    // Track k holds sectors 200k .. 200k+199; every title is the same, so
    // that the temporary files of waiting tracks would share a name.
    for (int i = 0; i <= kTracks; ++i) {
      a_.Tracks[i].StartSector = 200 * i;
      a_.Tracks[i].AudioFlag = i < kTracks;
      SetField(a_.Tracks[i].Title, "Same");
    }
  }
  void TearDown() override {
    std::filesystem::remove_all(folder_);
    std::string why;
    EXPECT_TRUE(dialogs_.Clean(&why)) << why;
  }
  RipPipeline Make(int workers, std::string failOn = {}) {
    RipPipeline rip(host_, drive_, enc_, dialogs_, s_, a_, tags_, folder_ + "TempFiles/");
    rip.SetEncoderPool(workers, [this, failOn](Dialogs&) -> std::unique_ptr<RipEncoder> {
      ++made_;
      return std::make_unique<GatedEncoder>(gate_, failOn);
    });
    rip.SetPowerControl(&power_);
    // Every track goes through its temporary file here, the last one too,
    // so that the gate holds each compression.
    rip.SetStreamLastTrack(false);
    return rip;
  }
  std::string Out(int i) { return folder_ + "out/" + std::to_string(i) + " - Same.mp3"; }
  // What the "encoder" copied: the WAV marker and the track's sectors.
  bool HoldsTrack(int i) {
    auto bytes = ReadFileBytes(Out(i));
    if (!bytes || bytes->size() != 4 + 200u * 2352) return false;
    for (std::uint32_t s = 0; s < 200; ++s) {
      std::uint16_t v;
      std::memcpy(&v, bytes->data() + 4 + s * 2352, 2);
      if (v != 200 * i + s) return false;
    }
    return true;
  }
  // What an encoder on the fly copied: the track's sectors, no marker.
  bool HoldsTrackStreamed(int i) {
    auto bytes = ReadFileBytes(Out(i));
    if (!bytes || bytes->size() != 200u * 2352) return false;
    for (std::uint32_t s = 0; s < 200; ++s) {
      std::uint16_t v;
      std::memcpy(&v, bytes->data() + s * 2352 + 2350, 2);
      if (v != 200 * i + s) return false;
    }
    return true;
  }
  std::vector<std::string> Files(const std::string& sub) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(folder_ + sub, ec))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  bool Compressing(int row) { return host_.status[row].rfind("сжатие ", 0) == 0; }
  // The first track read after `track`.
  bool ReadAnyOf(int track) {
    for (auto& [lba, n] : drive_.reads)
      if (lba >= 200u * track && lba < 200u * (track + 1)) return true;
    return false;
  }

  std::string folder_;
  SettingsRecord s_{};
  AlbumRecord a_{};
  TagBuffer tags_;
  FakeDrive drive_;
  FakeEncoder enc_;  // the grab's own: temporary WAV files
  FakeHost host_{kTracks};
  ScriptedDialogs dialogs_;
  Gate gate_;
  Power power_;
  int made_ = 0;
};

TEST_F(RipPoolTest, WorkersDefaultToTheProcessorsAndNeverOutnumberTheTracks) {
  RipPipeline rip = Make(0);
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  EXPECT_EQ(rip.WorkersFor(100), cores);
  EXPECT_EQ(rip.WorkersFor(1), 1);
  rip.SetEncoderPool(4, {});
  EXPECT_EQ(rip.WorkersFor(3), 3);
  EXPECT_EQ(rip.WorkersFor(9), 4);
  EXPECT_EQ(rip.WorkersFor(0), 1);
}

TEST_F(RipPoolTest, TwoRowsCompressAtOnceAndEveryTrackEndsInItsOwnFile) {
  s_.NormalizeEnabled = 1;
  host_.ticked = {true, true, true, false, true};
  // Both workers hold a track at the gate: the window shows both rows
  // compressing before either may finish.
  bool bothSeen = false;
  host_.onPump = [&](int) {
    if (!bothSeen && Compressing(0) && Compressing(1)) {
      bothSeen = true;
      gate_.Open();
    }
  };
  s_.ShutdownAfterCopy = 1;
  power_.onPowerOff = [&] {
    // The computer goes off only after the last encoder.
    EXPECT_EQ(host_.done.size(), 4u);
    EXPECT_EQ(Files("TempFiles"), std::vector<std::string>{});
  };
  RipPipeline rip = Make(2);
  rip.GrabCommand(GrabSender::Mp3Menu);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
  EXPECT_TRUE(bothSeen);
  EXPECT_EQ(made_, 2);
  EXPECT_EQ(power_.calls, 1);
  for (int i : {0, 1, 2, 4}) {
    EXPECT_TRUE(HoldsTrack(i)) << i;
    EXPECT_EQ(host_.status[i], "Скопирован") << i;
    EXPECT_EQ(host_.images[i], 2);
    EXPECT_EQ(a_.Tracks[i].CopiedFlag, 1);
  }
  EXPECT_FALSE(FileExists(Out(3)));
  // Finished tracks are reported in the order of the disc, as one at a time.
  EXPECT_EQ(host_.done, (std::vector<std::string>{Out(0), Out(1), Out(2), Out(4)}));
  EXPECT_EQ(host_.ticked, std::vector<bool>(kTracks, false));
  EXPECT_EQ(Files("out"),
            (std::vector<std::string>{"0 - Same.mp3", "1 - Same.mp3", "2 - Same.mp3",
                                      "4 - Same.mp3"}));
  EXPECT_EQ(Files("TempFiles"), std::vector<std::string>{});
  EXPECT_EQ(host_.state, WindowState::Idle);
  EXPECT_TRUE(host_.controls);
  EXPECT_TRUE(host_.timer);
  // Each track was read once, in order, by the one reader.
  for (std::size_t k = 1; k < drive_.reads.size(); ++k)
    EXPECT_GT(drive_.reads[k].first, drive_.reads[k - 1].first);
}

TEST_F(RipPoolTest, TheDriveWaitsOnlyWhileAsManyTracksWaitAsThereAreWorkers) {
  // Two workers hold tracks 0 and 1; tracks 2 and 3 are read and wait; the
  // drive must not read track 4 until a worker is free.
  int quietPumps = 0;
  std::size_t readsSeen = 0;
  bool waited = false;
  host_.onPump = [&](int) {
    if (waited) return;
    quietPumps = drive_.reads.size() == readsSeen ? quietPumps + 1 : 0;
    readsSeen = drive_.reads.size();
    // Reading pumps once per chunk: many pumps without a read mean the
    // reader is waiting.
    if (quietPumps >= 10 && gate_.Arrived() == 2) {
      waited = true;
      EXPECT_TRUE(ReadAnyOf(3));
      EXPECT_FALSE(ReadAnyOf(4));
      gate_.Open();
    }
  };
  RipPipeline rip = Make(2);
  rip.GrabCommand(GrabSender::Mp3Menu);
  EXPECT_TRUE(waited);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
  for (int i = 0; i < kTracks; ++i) EXPECT_TRUE(HoldsTrack(i)) << i;
}

TEST_F(RipPoolTest, AnUnreadableTrackFailsAloneWhileOthersCompress) {
  drive_.badSector = 2 * 200 + 50;  // in track 2, in its read from 426; reported itself
  host_.ticked = {true, true, true, false, false};
  host_.onPump = [&](int) {
    // Tracks 0 and 1 are held at the gate until track 2 has failed.
    if (host_.status[2] == "Ошибка чтения" && gate_.Arrived() == 2) gate_.Open();
  };
  dialogs_.ExpectMessage(
      "Не удалось прочитать дорожки: 3 (сектор 450). Эти сектора не читаются и после "
      "повторных попыток; дорожки не скопированы.",
      "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
  RipPipeline rip = Make(3);
  rip.GrabCommand(GrabSender::Mp3Menu);
  EXPECT_TRUE(HoldsTrack(0));
  EXPECT_TRUE(HoldsTrack(1));
  EXPECT_FALSE(FileExists(Out(2)));
  EXPECT_EQ(host_.status[0], "Скопирован");
  EXPECT_EQ(host_.status[1], "Скопирован");
  EXPECT_EQ(host_.status[2], "Ошибка чтения");
  EXPECT_TRUE(host_.ticked[2]);
  EXPECT_EQ(rip.UnreadableRows(), std::vector<int>{2});
  EXPECT_EQ(Files("TempFiles"), std::vector<std::string>{});
}

TEST_F(RipPoolTest, AFullDiskStopsEveryWorkerAndLeavesNothing) {
  // Track 2's compression fails as a full disk does while 0 and 1 are held.
  host_.onPump = [&](int) {};
  RipPipeline rip = Make(3, "Same (3).wav");
  const std::string part = Out(2) + ".part";
  dialogs_.ExpectMessage("Не удалось записать файл '" + part + "': " + std::strerror(ENOSPC) +
                             ". Копирование прервано.",
                         "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
  s_.ShutdownAfterCopy = 1;
  rip.GrabCommand(GrabSender::Mp3Menu);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Failed);
  EXPECT_EQ(host_.status[2], "Ошибка");
  EXPECT_EQ(host_.status[0], "Отменено");
  EXPECT_EQ(host_.status[1], "Отменено");
  // The reader stopped too: a later track was stopped or never begun.
  for (int i : {3, 4}) EXPECT_TRUE(host_.status[i] == "Отменено" || host_.status[i].empty()) << i;
  EXPECT_GE(gate_.cancelled, 2);
  EXPECT_EQ(Files("out"), std::vector<std::string>{});
  EXPECT_EQ(Files("TempFiles"), std::vector<std::string>{});
  EXPECT_EQ(host_.ticked, std::vector<bool>(kTracks, true));
  EXPECT_EQ(power_.calls, 0);
  EXPECT_EQ(host_.state, WindowState::Idle);
  EXPECT_TRUE(host_.controls);
}

TEST_F(RipPoolTest, StopWhileReadingCancelsTheReaderAndEveryWorker) {
  // Stop while tracks 0 and 1 compress and track 2 is read.
  host_.onPump = [&](int) {
    if (gate_.Arrived() == 2 && ReadAnyOf(2) && host_.state == WindowState::Copying)
      host_.state = WindowState::Idle;
  };
  dialogs_.ExpectMessage("Вы хотите прервать копироание ???", "Sonarvex v3.2", MsgIcon::Question,
                         MsgButtons::YesNo, IdYes);
  s_.ShutdownAfterCopy = 1;
  s_.EjectAfterCopy = 1;
  RipPipeline rip = Make(2);
  rip.GrabCommand(GrabSender::Mp3Menu);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Cancelled);
  EXPECT_EQ(gate_.cancelled, 2);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(host_.status[i], "Отменено") << i;
  EXPECT_FALSE(ReadAnyOf(3));
  EXPECT_EQ(Files("out"), std::vector<std::string>{});
  EXPECT_EQ(Files("TempFiles"), std::vector<std::string>{});
  EXPECT_EQ(host_.ticked, std::vector<bool>(kTracks, true));
  EXPECT_EQ(power_.calls, 0);
  EXPECT_EQ(host_.ejects, 1);
  EXPECT_EQ(host_.state, WindowState::Idle);
  EXPECT_TRUE(host_.controls);
}

TEST_F(RipPoolTest, StopAfterTheLastReadAsksToStopTheCompressions) {
  host_.ticked = {true, true, true, false, false};
  // Everything is read; the first No lets them go on, the second Yes stops them.
  int asked = 0;
  host_.onPump = [&](int) {
    if (host_.state == WindowState::Compressing && gate_.Arrived() == 2 && asked < 2) {
      ++asked;
      host_.state = WindowState::Idle;
    }
  };
  dialogs_
      .ExpectMessage("Вы хотите останоить сжатие???", "Sonarvex v3.2", MsgIcon::Question,
                     MsgButtons::YesNo, IdNo)
      .ExpectMessage("Вы хотите останоить сжатие???", "Sonarvex v3.2", MsgIcon::Question,
                     MsgButtons::YesNo, IdYes);
  RipPipeline rip = Make(2);
  rip.GrabCommand(GrabSender::Mp3Menu);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Cancelled);
  EXPECT_EQ(gate_.cancelled, 2);  // the waiting one is never started
  for (int i = 0; i < 3; ++i) EXPECT_EQ(host_.status[i], "Отменено") << i;
  EXPECT_EQ(Files("out"), std::vector<std::string>{});
  EXPECT_EQ(Files("TempFiles"), std::vector<std::string>{});
  EXPECT_EQ(host_.state, WindowState::Idle);
}

TEST_F(RipPoolTest, WaveGoesTrackByTrackAndStreamedTracksGoToTheWorkers) {
  RipPipeline rip = Make(4);
  rip.GrabCommand(GrabSender::Wave);
  EXPECT_EQ(made_, 0);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done);
  // On the fly: each track is encoded by a worker while the drive reads it;
  // the grab's own encoder writes nothing.
  s_.OnTheFlyEncoding = 1;
  host_.ticked = std::vector<bool>(kTracks, true);
  gate_.Open();
  rip.GrabCommand(GrabSender::Mp3Menu);
  EXPECT_EQ(made_, 4);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done);
  EXPECT_TRUE(enc_.opened.empty());
  for (int i = 0; i < kTracks; ++i) {
    auto bytes = ReadFileBytes(Out(i));
    ASSERT_TRUE(bytes && bytes->size() == 200u * 2352) << i;
    for (std::uint32_t sector = 0; sector < 200; ++sector) {
      std::uint16_t v;
      std::memcpy(&v, bytes->data() + sector * 2352, 2);
      ASSERT_EQ(v, 200 * i + sector) << i;
    }
    EXPECT_EQ(host_.status[i], "Скопирован");
  }
  EXPECT_EQ(Files("TempFiles"), std::vector<std::string>{});
}

TEST_F(RipPoolTest, StreamedTracksFailAloneOrStopTheGrabOnAFullDisk) {
  s_.OnTheFlyEncoding = 1;
  {
    SCOPED_TRACE("an unreadable sector");
    drive_.badSector = 2 * 200 + 50;
    dialogs_.ExpectMessage(
        "Не удалось прочитать дорожки: 3 (сектор 450). Эти сектора не читаются и после "
        "повторных попыток; дорожки не скопированы.",
        "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
    RipPipeline rip = Make(2);
    rip.GrabCommand(GrabSender::Mp3Menu);
    for (int i : {0, 1, 3, 4}) EXPECT_EQ(host_.status[i], "Скопирован") << i;
    EXPECT_EQ(host_.status[2], "Ошибка чтения");
    EXPECT_FALSE(FileExists(Out(2)));
    EXPECT_EQ(Files("out"), (std::vector<std::string>{"0 - Same.mp3", "1 - Same.mp3",
                                                      "3 - Same.mp3", "4 - Same.mp3"}));
    std::filesystem::remove_all(folder_ + "out");
    MakeDirectories(folder_ + "out");
    drive_.badSector.reset();
    drive_.reads.clear();
  }
  {
    SCOPED_TRACE("a full disk");
    host_.ticked = std::vector<bool>(kTracks, true);
    host_.status = std::vector<std::string>(kTracks);
    const std::string part = Out(2) + ".part";
    dialogs_.ExpectMessage("Не удалось записать файл '" + part + "': " + std::strerror(ENOSPC) +
                               ". Копирование прервано.",
                           "Sonarvex v3.2", MsgIcon::Error, MsgButtons::Ok);
    RipPipeline rip = Make(2, "2 - Same.mp3.part");
    // The drive is faster than any worker: track 3 is read only once the
    // worker of track 2 has met the full disk, so that what the reader does
    // after a worker's failure is what is checked, not which thread ran first.
    // The worker counts the full disk just before it returns the failure
    // that the pool then records, so the reader also gives the pool a moment
    // after the count: on a loaded machine the worker may be put aside
    // between the two.
    bool settled = false;
    drive_.beforeRead = [&](std::uint32_t lba) {
      if (lba < 3 * 200 || settled) return;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (gate_.fullDisks.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      settled = true;
    };
    rip.GrabCommand(GrabSender::Mp3Menu);
    drive_.beforeRead = nullptr;
    EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Failed);
    EXPECT_EQ(host_.status[2], "Ошибка");
    EXPECT_FALSE(ReadAnyOf(4));
    for (const auto& f : Files("out")) EXPECT_EQ(f.find(".part"), std::string::npos) << f;
    EXPECT_FALSE(FileExists(Out(2)));
    EXPECT_EQ(Files("TempFiles"), std::vector<std::string>{});
    EXPECT_EQ(host_.state, WindowState::Idle);
  }
}

}  // namespace
}  // namespace sonarvex

namespace sonarvex {
namespace {

// Tracks encoded on the fly by many workers slower than the drive: the audio
// read ahead for them stays within the grab's budget, however many workers
// wait, and every track still comes out whole and in order.
TEST_F(RipPoolTest, StreamedTracksHoldNoMoreThanTheBudgetWhateverTheWorkers) {
  s_.OnTheFlyEncoding = 1;
  constexpr std::size_t kBudget = 256 * 1024;
  constexpr std::size_t kBlock = 26 * kBytesPerSector;  // one read
  RipPipeline rip(host_, drive_, enc_, dialogs_, s_, a_, tags_, folder_ + "TempFiles/");
  rip.SetEncoderPool(kTracks, [this](Dialogs&) -> std::unique_ptr<RipEncoder> {
    ++made_;
    return std::make_unique<StallingStreamEncoder>(gate_);
  });
  rip.SetStreamBudget(kBudget);
  // Without spilling the drive waits for the workers.
  rip.SetStreamSpill(false);
  std::uint64_t readWhileStalled = 0;
  int quietPumps = 0;
  std::size_t readsSeen = 0;
  host_.onPump = [&](int) {
    if (gate_.open) return;
    quietPumps = drive_.reads.size() == readsSeen ? quietPumps + 1 : 0;
    readsSeen = drive_.reads.size();
    // Many pumps without a read: the reader waits for the workers.
    if (quietPumps < 20) return;
    for (const auto& [lba, n] : drive_.reads) readWhileStalled += n * kBytesPerSector;
    gate_.Open();
  };
  rip.GrabCommand(GrabSender::Mp3Menu);
  EXPECT_EQ(made_, kTracks);
  // What waits in the streams, plus the block each worker holds at the
  // gate and the one the reader has in hand.
  EXPECT_GT(readWhileStalled, 0u);
  EXPECT_LE(readWhileStalled, kBudget + (kTracks + 1) * kBlock);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
  for (int i = 0; i < kTracks; ++i) {
    auto bytes = ReadFileBytes(Out(i));
    ASSERT_TRUE(bytes && bytes->size() == 200u * 2352) << i;
    for (std::uint32_t sector = 0; sector < 200; ++sector) {
      std::uint16_t v;
      std::memcpy(&v, bytes->data() + sector * 2352, 2);
      ASSERT_EQ(v, 200 * i + sector) << i;
    }
  }
}

// Tracks encoded on the fly by workers slower than the drive, with spilling
// on: what the budget cannot hold goes to a spill file and the drive reads
// on into the next tracks, each taken by an idle worker; memory stays within
// the budget, every track comes out whole, and no spill file stays behind.
TEST_F(RipPoolTest, SpilledTracksLetTheDriveReadOnWithinTheBudget) {
  s_.OnTheFlyEncoding = 1;
  constexpr std::size_t kBudget = 256 * 1024;
  RipPipeline rip(host_, drive_, enc_, dialogs_, s_, a_, tags_, folder_ + "TempFiles/");
  rip.SetEncoderPool(kTracks, [this](Dialogs&) -> std::unique_ptr<RipEncoder> {
    ++made_;
    return std::make_unique<StallingStreamEncoder>(gate_);
  });
  rip.SetStreamBudget(kBudget);
  std::uint64_t readWhileStalled = 0;
  std::vector<std::string> tempWhileStalled;
  bool readThirdWhileStalled = true;
  int quietPumps = 0;
  std::size_t readsSeen = 0;
  host_.onPump = [&](int) {
    if (gate_.open) return;
    quietPumps = drive_.reads.size() == readsSeen ? quietPumps + 1 : 0;
    readsSeen = drive_.reads.size();
    if (quietPumps < 20) return;
    for (const auto& [lba, n] : drive_.reads) readWhileStalled += n * kBytesPerSector;
    tempWhileStalled = Files("TempFiles");
    readThirdWhileStalled = ReadAnyOf(2);
    gate_.Open();
  };
  rip.GrabCommand(GrabSender::Mp3Menu);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
  // The first track was read whole while its worker stalled, and the second
  // one started on another worker; spilling starts no third encoder (each
  // holds memory of its own): the drive waits then.
  EXPECT_GT(readWhileStalled, 200u * kBytesPerSector);
  EXPECT_FALSE(readThirdWhileStalled);
  EXPECT_GT(rip.StreamPeakBytes(), 0u);
  EXPECT_LE(rip.StreamPeakBytes(), kBudget);
  // The spill files have no names, even while they are in use.
  EXPECT_EQ(tempWhileStalled, std::vector<std::string>{});
  for (int i = 0; i < kTracks; ++i) {
    auto bytes = ReadFileBytes(Out(i));
    ASSERT_TRUE(bytes && bytes->size() == 200u * 2352) << i;
    for (std::uint32_t sector = 0; sector < 200; ++sector)
      for (std::size_t at : {std::size_t{0}, std::size_t{2350}}) {
        std::uint16_t v;
        std::memcpy(&v, bytes->data() + sector * 2352 + at, 2);
        ASSERT_EQ(v, 200 * i + sector) << i;
      }
  }
  EXPECT_EQ(Files("TempFiles"), std::vector<std::string>{});
}

// Counts the encoders that have a track open.
struct OpenCount {
  std::mutex mutex;
  std::condition_variable cv;
  int open = 0, most = 0;
  int started = 0;  // tracks opened in all
  int alone = 0;  // first blocks that waited in vain for the other worker
};

// Encodes on the fly; the first block of each track waits (at most a few
// seconds) until the other worker has opened its track too (or had done so).
class OverlapEncoder : public FakeEncoder {
 public:
  explicit OverlapEncoder(OpenCount& count) : count_(count) {}
  WriteResult Open(const TrackTags& tag, const std::string& out) override {
    {
      std::lock_guard<std::mutex> lock(count_.mutex);
      count_.most = std::max(count_.most, ++count_.open);
      ++count_.started;
      count_.cv.notify_all();
    }
    first_ = true;
    return FakeEncoder::Open(tag, out);
  }
  WriteResult Write(const std::uint8_t* d, std::size_t n) override {
    if (first_) {
      first_ = false;
      std::unique_lock<std::mutex> lock(count_.mutex);
      if (!count_.cv.wait_for(lock, std::chrono::seconds(5), [&] { return count_.started >= 2; }))
        ++count_.alone;
    }
    return FakeEncoder::Write(d, n);
  }
  WriteResult Close() override {
    {
      std::lock_guard<std::mutex> lock(count_.mutex);
      --count_.open;
    }
    return FakeEncoder::Close();
  }

 private:
  OpenCount& count_;
  bool first_ = false;
};

// Two tracks with two workers and a drive faster than either: both workers
// encode at the same time (before, the second track was read only once the
// first one had gone through the budget, and its worker started then).
TEST_F(RipPoolTest, TwoStreamedTracksAreEncodedAtTheSameTime) {
  s_.OnTheFlyEncoding = 1;
  host_.ticked = {true, true, false, false, false};
  OpenCount count;
  RipPipeline rip(host_, drive_, enc_, dialogs_, s_, a_, tags_, folder_ + "TempFiles/");
  rip.SetEncoderPool(2, [&](Dialogs&) -> std::unique_ptr<RipEncoder> {
    return std::make_unique<OverlapEncoder>(count);
  });
  rip.SetStreamBudget(256 * 1024);
  rip.GrabCommand(GrabSender::Mp3Menu);
  EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
  EXPECT_EQ(count.most, 2);
  EXPECT_EQ(count.alone, 0);
  EXPECT_TRUE(HoldsTrackStreamed(0));
  EXPECT_TRUE(HoldsTrackStreamed(1));
  EXPECT_EQ(Files("TempFiles"), std::vector<std::string>{});
}

// A pooled MP3 grab compresses the tracks before the last from their
// temporary files while the drive reads on; the last one is encoded as it
// is read, so that its compression does not begin only when the drive is
// done. Normalised, it needs its peak first and goes through its file too.
TEST_F(RipPoolTest, TheLastTrackIsEncodedAsItIsRead) {
  host_.ticked = {true, true, true, false, false};
  gate_.Open();
  std::vector<std::string> opened, converted;
  std::mutex seen;
  class Noting : public GatedEncoder {
   public:
    Noting(Gate& g, std::mutex& m, std::vector<std::string>& o, std::vector<std::string>& c)
        : GatedEncoder(g, {}), m_(m), o_(o), c_(c) {}
    WriteResult Open(const TrackTags& t, const std::string& out) override {
      {
        std::lock_guard<std::mutex> lock(m_);
        o_.push_back(out);
      }
      return GatedEncoder::Open(t, out);
    }
    WriteResult ConvertFile(const std::string& wav, const std::string& out, const TrackTags& t,
                            int p) override {
      {
        std::lock_guard<std::mutex> lock(m_);
        c_.push_back(out);
      }
      return GatedEncoder::ConvertFile(wav, out, t, p);
    }

   private:
    std::mutex& m_;
    std::vector<std::string>& o_;
    std::vector<std::string>& c_;
  };
  for (bool normalised : {false, true}) {
    SCOPED_TRACE(normalised ? "normalised" : "as read");
    s_.NormalizeEnabled = normalised;
    opened.clear();
    converted.clear();
    std::filesystem::remove_all(folder_ + "out");
    MakeDirectories(folder_ + "out");
    host_.ticked = {true, true, true, false, false};
    RipPipeline rip(host_, drive_, enc_, dialogs_, s_, a_, tags_, folder_ + "TempFiles/");
    rip.SetEncoderPool(2, [&](Dialogs&) -> std::unique_ptr<RipEncoder> {
      return std::make_unique<Noting>(gate_, seen, opened, converted);
    });
    rip.GrabCommand(GrabSender::Mp3Menu);
    EXPECT_EQ(rip.LastOutcome(), RipPipeline::Outcome::Done) << rip.FailureText();
    std::sort(converted.begin(), converted.end());
    if (normalised) {
      EXPECT_EQ(opened, std::vector<std::string>{});
      EXPECT_EQ(converted.size(), 3u);
    } else {
      EXPECT_EQ(opened, std::vector<std::string>{Out(2) + ".part"});
      EXPECT_EQ(converted, (std::vector<std::string>{Out(0) + ".part", Out(1) + ".part"}));
      EXPECT_TRUE(HoldsTrackStreamed(2));
    }
    EXPECT_TRUE(HoldsTrack(0));
    EXPECT_TRUE(HoldsTrack(1));
    EXPECT_EQ(Files("TempFiles"), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace sonarvex
