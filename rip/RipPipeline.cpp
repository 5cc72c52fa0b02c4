#include "rip/RipPipeline.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "rip/OutputNaming.h"
#include "rip/RipLog.h"
#include "rip/SecureReader.h"
#include "codec/FileTagUpdate.h"
#include "codec/FormatRegistry.h"
#include "codec/ReplayGain.h"
#include "codec/SampleOps.h"
#include "platform/Cp1251.h"
#include "records/TextFields.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/SafeFile.h"
#include "platform/System.h"

namespace sonarvex {
namespace {

constexpr const char* kAskCancelCopy = "Вы хотите прервать копироание ???";
constexpr const char* kAskCancelCompress = "Вы хотите останоить сжатие???";
constexpr const char* kNoSpace = "Вы уверены, что вам хватит места на жестком диске?";
constexpr int kChunkDefault = 26;
// Spilling starts a track's encoder only while fewer than this many run:
// each running encoder holds memory of its own (FLAC with verification some
// 4 MiB), and a 70-minute rip with 8 workers is to take no more than it did
// without spilling.
constexpr std::size_t kMostSpillingEncoders = 2;
constexpr const char* kAborted = "Копирование прервано.";
constexpr const char* kUnreadableStatus = "Ошибка чтения";
constexpr const char* kSkippedStatus = "Пропущен";
constexpr const char* kSuspectStatus = "подозрительно";
constexpr const char* kNothingToCopy =
    "Копировать нечего: среди отмеченных дорожек нет звуковых (дорожки с данными не "
    "копируются).";

// Percent done of a range: the classic x / (total / 100), which needs total
// of at least 100; shorter ranges are computed directly.
unsigned PercentDone(std::uint64_t remaining, std::uint64_t total) {
  if (total == 0) return 100;
  std::uint64_t done = remaining >= total ? 0 : total - remaining;
  std::uint64_t p = total >= 100 ? 100 - std::min<std::uint64_t>(100, remaining / (total / 100))
                                 : done * 100 / total;
  return static_cast<unsigned>(std::min<std::uint64_t>(p, 100));
}

// Percent of a compression that has done `done` of `total`.
int CompressedPercent(std::uint64_t done, std::uint64_t total) {
  const std::uint64_t p = total >= 100 ? done / (total / 100) : total > 0 ? done * 100 / total : 0;
  return static_cast<int>(std::min<std::uint64_t>(p, 100));
}

std::string ParentFolder(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == 0) return "/";
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Two folder paths that differ at most in a trailing '/'.
bool SameFolder(std::string a, std::string b) {
  while (a.size() > 1 && a.back() == '/') a.pop_back();
  while (b.size() > 1 && b.back() == '/') b.pop_back();
  return a == b;
}

}  // namespace

OutputKind GrabKind(GrabSender sender, const SettingsRecord& settings) {
  return sender.mp3Button && settings.Mp3AsOgg ? OutputKind::Ogg : sender.kind;
}

RipPipeline::RipPipeline(RipHost& host, RipDrive& drive, RipEncoder& encoder, Dialogs& dialogs,
                         SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags,
                         std::string tempFolder)
    : host_(host),
      drive_(drive),
      encoder_(encoder),
      dialogs_(dialogs),
      settings_(settings),
      album_(album),
      tags_(tags),
      tempFolder_(std::move(tempFolder)),
      kind_(OutputKindFromRecord(settings.OutputKind)),
      compress_(settings.CompressOutput != 0),
      readSpeed_(settings.ReadSpeed) {
  if (!tempFolder_.empty() && tempFolder_.back() != '/') tempFolder_ += '/';
}

RipPipeline::~RipPipeline() = default;

bool RipPipeline::CheckFreeSpace(std::uint64_t needed, const std::string& folder) {
  auto free = FreeBytes(folder);
  if (!free) return true;  // cannot tell: go on
  if (needed < *free) return true;
  return dialogs_.Message(kNoSpace, "Sonarvex", MsgIcon::Warning, MsgButtons::YesNo) == IdYes;
}

std::uint64_t RipPipeline::NeededBytes(OutputKind kind) {
  std::uint64_t audio = 0, largest = 0, files = 0;
  for (int i = 0, rows = TrackRows(); i < rows; ++i) {
    if (!host_.RowTicked(i) || !album_.Tracks[i].AudioFlag) continue;
    const Range r = TrackRange(i);
    const std::uint64_t bytes = static_cast<std::uint64_t>(r.End - r.Start) * kBytesPerSector;
    audio += bytes;
    largest = std::max(largest, bytes);
    ++files;
  }
  // Uncompressed (WAV): the audio and each file's header.
  if (!FormatFor(kind).compressed) return audio + files * 44;
  double ratio = encoder_.ExpectedRatio(settings_, kind, formatOptions_);
  // A ratio that cannot be told counts the audio whole.
  if (!(ratio >= 1) || ratio > 1000) ratio = 1;
  // Each file's tags and headers: a little room of its own.
  std::uint64_t needed = static_cast<std::uint64_t>(static_cast<double>(audio) / ratio) +
                         files * 64 * 1024;
  if (!EncodesWhileReading(kind)) needed += largest + 44;
  return needed;
}

void RipPipeline::GrabCommand(GrabSender sender) {
  outcome_ = Outcome::NotStarted;
  failure_.clear();
  // A format whose library is missing says so before anything is read: its
  // writer is made (and its library loaded) now, at the first grab that
  // needs it; a WAV grab makes none.
  const OutputFormat& format = FormatFor(GrabKind(sender, settings_));
  const bool available = !format.compressed || encoder_.Available(format.kind);
  if (format.missingText != nullptr && !available) {
    dialogs_.Message(format.missingText, kProgramTitle, MsgIcon::Information, MsgButtons::Ok);
    return;
  }
  // A grab with no ticked audio track would copy nothing: say so.
  bool anyAudio = false;
  for (int i = 0, rows = TrackRows(); i < rows && !anyAudio; ++i)
    anyAudio = host_.RowTicked(i) && album_.Tracks[i].AudioFlag;
  if (!anyAudio) {
    failure_ = kNothingToCopy;
    dialogs_.Message(kNothingToCopy, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    return;
  }
  if (!CheckFreeSpace(NeededBytes(GrabKind(sender, settings_)),
                      OutputFolderText(settings_, settingsTexts_)))
    return;

  host_.SetTimerEnabled(false);
  readSpeed_ = settings_.ReadSpeed;
  drive_.SetReadSpeed(readSpeed_);
  if (settings_.LockTray) drive_.LockMedium(true);
  // The kind of this grab is handed down; the settings record keeps the
  // user's choice.
  kind_ = GrabKind(sender, settings_);
  compress_ = FormatFor(kind_).compressed;
  encoder_.Configure(settings_, kind_, formatOptions_,
                     [this](std::uint64_t done, std::uint64_t total, int* cancel, int mode) {
                       CompressionProgress(done, total, cancel, mode);
                     });
  CopyTracks();
  drive_.LockMedium(false);
  if (settings_.EjectAfterCopy && outcome_ != Outcome::NotStarted) host_.Eject();
}

bool RipPipeline::EncodesWhileReading(OutputKind kind) const {
  if (settings_.OnTheFlyEncoding) return true;
  // Lossless output keeps pace with the drive: no temporary WAV file is
  // written and read again, unless the audio is to be normalised (which
  // needs the whole track's peak before the first sample is written).
  return FormatFor(kind).lossless && FormatFor(kind).compressed && !settings_.NormalizeEnabled;
}

int RipPipeline::TrackRows() {
  return std::max(0, std::min<int>({host_.RowCount(), album_.TrackCount, kMaxAlbumTracks - 1}));
}

RipPipeline::Range RipPipeline::TrackRange(int i) {
  AlbumTrackEntry& e = album_.Tracks[i];
  const std::uint32_t entryStart = static_cast<std::uint32_t>(e.StartSector);
  const std::uint32_t entryEnd = static_cast<std::uint32_t>(album_.Tracks[i + 1].StartSector);
  Range r{entryStart, entryEnd};
  if (e.RangeFlag) {
    auto sector = [&](Msf m) {
      return static_cast<std::uint32_t>((m.minute * 60 + m.second) * 75 + m.frame) -
             album_.FirstTrackOffset;
    };
    r.Start = sector(e.RangeStart);
    bool endZero = e.RangeEnd.minute == 0 && e.RangeEnd.second == 0 && e.RangeEnd.frame == 0;
    r.End = endZero ? entryEnd : sector(e.RangeEnd);
    if (r.Start < entryStart || r.Start > entryEnd) r.Start = entryStart;
    if (r.End <= r.Start || r.End > entryEnd) {
      r = {entryStart, entryEnd};
      e.RangeFlag = 0;
    }
  }
  return r;
}

int RipPipeline::CheckPair(std::uint8_t* a, std::uint8_t* b, std::uint32_t sector) {
  host_.Pump();
  std::size_t m = 0;
  for (std::size_t k = 0; k < kBytesPerSector / 2; ++k) {
    const std::uint8_t* wa = a + kBytesPerSector - 2 * (k + 1);
    const std::uint8_t* wb = b + 2 * k;
    if (wa[0] != wb[0] || wa[1] != wb[1]) break;
    m += 2;
  }
  if (m == 0 || m >= kBytesPerSector / 2) return 0;
  if (rereading_) return 1;
  // The pair is read again slowly; the grab's own speed comes back after
  // it (after the chunk, when a whole chunk is checked).
  if (!slowedForReread_) {
    drive_.SetReadSpeed(4);
    slowedForReread_ = true;
  }
  drive_.Seek(sector);
  drive_.ReadCdda(a, sector, 1);
  drive_.ReadCdda(b, sector + 1, 1);
  rereading_ = true;
  int result = CheckPair(a, b, sector);
  rereading_ = false;
  if (!checkingChunk_) RestoreReadSpeed();
  return result;
}

void RipPipeline::RestoreReadSpeed() {
  if (!slowedForReread_) return;
  slowedForReread_ = false;
  drive_.SetReadSpeed(readSpeed_);
}

int RipPipeline::CheckChunk(std::uint8_t* buffer, std::uint32_t count, std::uint32_t chunkStart) {
  int sum = 0;
  checkingChunk_ = true;
  for (std::uint32_t n = 0; n + 1 < count; ++n)
    sum += CheckPair(buffer + n * kBytesPerSector, buffer + (n + 1) * kBytesPerSector,
                     chunkStart + n);
  checkingChunk_ = false;
  RestoreReadSpeed();
  return sum;
}

void RipPipeline::CompressionProgress(std::uint64_t done, std::uint64_t total, int* cancel, int) {
  host_.Pump();
  if (host_.Interrupted()) {
    if (cancel) *cancel = 1;
    return;
  }
  if (host_.State() != WindowState::Compressing) {
    if (dialogs_.Message(kAskCancelCompress, kProgramTitle, MsgIcon::Question,
                         MsgButtons::YesNo) == IdYes) {
      if (cancel) *cancel = 1;
      return;
    }
    host_.SetState(WindowState::Compressing);
  }
  const int percent = CompressedPercent(done, total);
  if (percent != lastCompressionPercent_) {
    host_.SetRowStatus(compressionRow_, "сжатие " + std::to_string(percent) + "%");
    lastCompressionPercent_ = static_cast<std::int16_t>(percent);
    TrackProgress(compressionRow_, 1, percent / 100.0);
  }
}

void RipPipeline::Fail(const std::string& text, bool stopEncoders) {
  if (pool_) {
    FailPooled(text, stopEncoders);
    return;
  }
  outcome_ = Outcome::Failed;
  failure_ = text;
  dialogs_.Message(text, kProgramTitle, MsgIcon::Error, MsgButtons::Ok);
}

// The audio the streams of one grab hold together, waiting for their
// workers: however many workers there are, the reader waits while all of it
// is taken, so that a grab's memory does not grow with its workers or with
// the length of its tracks.
struct RipPipeline::StreamBudget {
  explicit StreamBudget(std::size_t bytes) : total(bytes) {}
  const std::size_t total;
  std::mutex mutex;
  std::condition_variable room;  // a stream gave some back
  std::size_t held = 0;
  std::size_t peak = 0;  // the most held at once
  // Whether a block fits; a block fits an empty budget whatever its size,
  // so that a budget smaller than one block still lets the grab go on.
  bool Fits(std::size_t bytes) const { return held == 0 || held + bytes <= total; }
};

// The audio of a track being read, on its way to the worker that encodes it
// on the fly: blocks in the order read, taken from the grab's budget. When
// the budget is taken and waiting would keep a worker idle, the rest of the
// track goes to a spill file in the temporary folder instead, and the drive
// reads on into the next track; the worker then reads the track's audio
// back from that file, in order. The spill file has no name (or loses it
// at once): nothing of it stays behind, whatever way the grab ends.
class PcmStream {
 public:
  PcmStream(std::shared_ptr<RipPipeline::StreamBudget> budget, std::string spillFolder)
      : budget_(std::move(budget)), spillFolder_(std::move(spillFolder)) {}
  ~PcmStream() {
    {
      std::lock_guard<std::mutex> lock(budget_->mutex);
      Release();
    }
    if (spillFd_ >= 0) ::close(spillFd_);
  }
  // Hands a block to the worker; while the budget is taken, runs `idle`
  // (the window stays alive) between short waits, or spills the block when
  // `maySpill` says that helps. False when the stream was aborted (the
  // worker failed or was stopped).
  bool Push(std::vector<std::uint8_t> block, const std::function<void()>& idle,
            const std::function<bool()>& maySpill = {}) {
    RipPipeline::StreamBudget& b = *budget_;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(b.mutex);
        if (aborted_) return false;
        if (!spilling_ && b.Fits(block.size())) {
          b.held += block.size();
          b.peak = std::max(b.peak, b.held);
          queued_ += block.size();
          segments_.push_back({std::move(block), 0, 0});
          ready_.notify_all();
          return true;
        }
      }
      // Once a track spills, the rest of it follows into the file.
      if (!spillFolder_.empty() && !spillFailed_ && (spilling_ || (maySpill && maySpill()))) {
        if (Spill(block)) {
          std::lock_guard<std::mutex> lock(b.mutex);
          if (aborted_) return false;
          segments_.push_back({{}, spillEnd_, block.size()});
          spillEnd_ += block.size();
          spilling_ = true;
          ready_.notify_all();
          return true;
        }
        // A spill file that cannot be written (a full disk): the block
        // waits for room in the budget instead, after what was spilled.
        spillFailed_ = true;
        spilling_ = false;
      }
      {
        std::unique_lock<std::mutex> lock(b.mutex);
        if (aborted_) return false;
        if (b.Fits(block.size())) continue;
        b.room.wait_for(lock, std::chrono::milliseconds(40));
        if (b.Fits(block.size()) && !aborted_) continue;
      }
      if (idle) idle();
    }
  }
  bool Aborted() {
    std::lock_guard<std::mutex> lock(budget_->mutex);
    return aborted_;
  }
  // Whether some of the track went to the spill file.
  bool Spilled() {
    std::lock_guard<std::mutex> lock(budget_->mutex);
    return spillEnd_ > 0;
  }
  // The track has been read whole.
  void Close() {
    std::lock_guard<std::mutex> lock(budget_->mutex);
    closed_ = true;
    ready_.notify_all();
  }
  // Nothing more comes: the reader or the worker gave up. What waits is
  // dropped and its room given back.
  void Abort() {
    std::lock_guard<std::mutex> lock(budget_->mutex);
    aborted_ = true;
    Release();
    ready_.notify_all();
  }
  // The next block; false at the end of the track (`*aborted` tells why;
  // `*failure` says why a spilled block could not be read back).
  bool Pop(std::vector<std::uint8_t>& block, bool* aborted, std::string* failure) {
    RipPipeline::StreamBudget& b = *budget_;
    std::unique_lock<std::mutex> lock(b.mutex);
    ready_.wait(lock, [&] { return aborted_ || closed_ || !segments_.empty(); });
    *aborted = aborted_;
    if (aborted_ || segments_.empty()) return false;
    Segment segment = std::move(segments_.front());
    segments_.pop_front();
    if (segment.fileBytes == 0) {
      block = std::move(segment.block);
      queued_ -= block.size();
      b.held -= block.size();
      b.room.notify_all();
      return true;
    }
    // Written before it was queued: read back without the lock.
    lock.unlock();
    block.resize(segment.fileBytes);
    std::size_t got = 0;
    while (got < block.size()) {
      const ssize_t n = ::pread(spillFd_, block.data() + got, block.size() - got,
                                static_cast<off_t>(segment.fileOffset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *failure = "Не удалось прочитать временный файл в папке '" + spillFolder_ +
                   "': " + std::strerror(n < 0 ? errno : EIO) + ".";
        return false;
      }
      got += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  struct Segment {
    std::vector<std::uint8_t> block;  // in memory, or
    std::uint64_t fileOffset;         // in the spill file
    std::size_t fileBytes;
  };
  // Reader only: appends the block to the spill file (made on first use).
  bool Spill(const std::vector<std::uint8_t>& block) {
    if (spillFd_ < 0) {
#ifdef O_TMPFILE
      spillFd_ = ::open(spillFolder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
      if (spillFd_ < 0) {
        std::string name = spillFolder_ + "spill-XXXXXX";
        spillFd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (spillFd_ >= 0) ::unlink(name.c_str());
      }
      if (spillFd_ < 0) return false;
    }
    std::size_t put = 0;
    while (put < block.size()) {
      const ssize_t n = ::pwrite(spillFd_, block.data() + put, block.size() - put,
                                 static_cast<off_t>(spillEnd_ + put));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      put += static_cast<std::size_t>(n);
    }
    return true;
  }
  // Under the budget's lock.
  void Release() {
    budget_->held -= queued_;
    queued_ = 0;
    segments_.clear();
    budget_->room.notify_all();
  }

  const std::shared_ptr<RipPipeline::StreamBudget> budget_;
  const std::string spillFolder_;  // empty: the reader only waits
  std::condition_variable ready_;
  std::deque<Segment> segments_;
  std::size_t queued_ = 0;
  bool closed_ = false, aborted_ = false;
  // The spill file: written by the reader, read back by the worker.
  int spillFd_ = -1;
  std::uint64_t spillEnd_ = 0;  // under the lock once the file is in use
  bool spilling_ = false, spillFailed_ = false;  // reader only
};

// One track on its way through the grab. The grab's thread fills it; in a
// pooled grab a worker then compresses it, writing only `result` (under the
// pool's lock) and the progress counters.
struct RipPipeline::TrackJob {
  int row = 0;
  std::string out, partial, temp;
  std::string name;      // the output name before any number was added
  bool replace = false;  // the file at `out` may be replaced (the user said so)
  // The partial and temporary files are this run's until the hold ends:
  // their locks outlast their writers' closing them.
  FileLockHold partialLock, tempLock;
  // The folders this track makes, removed again when it leaves nothing.
  std::vector<std::string> madeFolders;
  TrackTags tag;
  bool compress = false, onTheFly = false;
  int peak = 0;
  // Encoded on the fly by a worker of the pool: the audio as it is read,
  // its length, and whether the reader gave the track up (it has said why).
  std::shared_ptr<PcmStream> stream;
  std::shared_ptr<LoudnessMeter> meter;  // measured by the worker
  std::uint64_t streamBytes = 0;
  std::atomic<bool> readerGaveUp{false};
  WriteResult result;
  std::atomic<std::uint64_t> done{0}, total{0};
  std::atomic<bool> started{false};
  bool finished = false;  // under the pool's lock
  int shownPercent = -1;  // grab thread only
  // In a pooled grab other tracks may still be going to the folders this
  // one made: they are removed, where empty, when the grab ends.
  std::vector<std::string>* deferFolders = nullptr;

  void RemoveMadeFolders() const {
    if (deferFolders)
      deferFolders->insert(deferFolders->end(), madeFolders.begin(), madeFolders.end());
    else
      for (const auto& f : madeFolders) RemoveEmptyDirectory(f);
  }
};

// Message boxes of the workers' encoders: kept until the grab's thread
// shows them.
class RipPipeline::PoolDialogs : public WindowlessDialogs {
 public:
  int Message(const std::string& text, const std::string& caption, MsgIcon icon,
              MsgButtons) override {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back({text, caption, icon});
    return IdOk;
  }
  struct Shown {
    std::string text, caption;
    MsgIcon icon;
  };
  std::vector<Shown> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Shown> out;
    out.swap(pending_);
    return out;
  }

 private:
  std::mutex mutex_;
  std::vector<Shown> pending_;
};

// The workers that compress finished temporary WAV files. Each has its own
// encoder; a job is taken by the first free worker. Everything the workers
// share with the grab's thread is under mutex_ or atomic.
class RipPipeline::EncoderPool {
 public:
  using Job = std::shared_ptr<TrackJob>;
  EncoderPool(std::vector<std::unique_ptr<RipEncoder>> encoders, const SettingsRecord& settings,
              OutputKind kind, const FormatOptions& options)
      : encoders_(std::move(encoders)), settings_(settings), kind_(kind), options_(options) {
    for (auto& e : encoders_) threads_.emplace_back([this, enc = e.get()] { Run(*enc); });
  }
  ~EncoderPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
  }

  void Submit(Job job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      order_.push_back(job);
      queue_.push_back(std::move(job));
      ++outstanding_;
    }
    wake_.notify_one();
  }
  bool IsFinished(const Job& job) {
    std::lock_guard<std::mutex> lock(mutex_);
    return job->finished || std::find(queue_.begin(), queue_.end(), job) != queue_.end();
  }
  bool FailedJob(const Job& job) {
    std::lock_guard<std::mutex> lock(mutex_);
    return job->finished && job->result.Failed();
  }
  // Jobs no worker has taken yet.
  std::size_t Waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
  }
  // Whether a worker has nothing to do (nor a job waiting for it) and
  // fewer than `most` jobs run: each running encoder holds memory of its
  // own, so that spilling starts no more of them than that.
  bool WorkerIdle(std::size_t most) {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_.size() + queue_.size() < std::min(threads_.size(), most);
  }
  // Jobs submitted and not yet taken back with TakeFinished.
  std::size_t Outstanding() {
    std::lock_guard<std::mutex> lock(mutex_);
    return outstanding_;
  }
  // The finished jobs, in the order they were submitted: a job that ends
  // before an earlier one is handed back after it, so that tracks are
  // completed in the order of the disc.
  std::vector<Job> TakeFinished() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Job> out;
    while (!order_.empty() && order_.front()->finished) {
      out.push_back(order_.front());
      order_.pop_front();
    }
    outstanding_ -= out.size();
    return out;
  }
  // The first compression that failed (the others are stopped at once).
  std::string TakeFailure() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    text.swap(failure_);
    return text;
  }
  // The jobs being compressed now, for their percentages.
  std::vector<Job> Running() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
  }
  // Every running compression stops before its next block; waiting jobs
  // end cancelled without being started.
  void CancelAll() { cancel_.store(true); }
  bool Cancelling() const { return cancel_.load(); }
  // Until a job finishes, at most for the given time (the grab's thread
  // keeps the window alive meanwhile).
  void WaitForChange(std::chrono::milliseconds most) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, most, [&] { return changed(); });
  }

 private:
  void Run(RipEncoder& encoder) {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) return;
        job = queue_.front();
        queue_.pop_front();
        running_.push_back(job);
      }
      WriteResult r = WriteResult::Cancel();
      if (job->stream) {
        r = Stream(encoder, *job);
      } else if (!cancel_.load()) {
        TrackJob* j = job.get();
        encoder.Configure(settings_, kind_, options_,
                          [this, j](std::uint64_t done, std::uint64_t total, int* cancel, int) {
                            j->total.store(total);
                            j->done.store(done);
                            j->started.store(true);
                            if (cancel && cancel_.load()) *cancel = 1;
                          });
        r = encoder.ConvertFile(job->temp, job->partial, job->tag, job->peak);
      }
      if (!job->stream) ::unlink(job->temp.c_str());
      // A writer may keep what it wrote when cancelled: nothing of the track stays.
      if (r.Cancelled()) ::unlink(job->partial.c_str());
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (r.Failed()) {
          // A full disk fails every other track too: all of them stop now.
          if (!failedOnce_) failure_ = r.message;
          failedOnce_ = true;
          cancel_.store(true);
        }
        job->result = std::move(r);
        job->finished = true;
        running_.erase(std::find(running_.begin(), running_.end(), job));
        ++changes_;
      }
      changed_.notify_all();
    }
  }

  // Encodes a track on the fly from its stream as the drive reads it.
  WriteResult Stream(RipEncoder& encoder, TrackJob& job) {
    PcmStream& stream = *job.stream;
    if (cancel_.load() || stream.Aborted()) {
      stream.Abort();
      return WriteResult::Cancel();
    }
    encoder.Configure(settings_, kind_, options_, nullptr);
    job.total.store(job.streamBytes);
    job.started.store(true);
    WriteResult r = encoder.Open(job.tag, job.partial);
    if (!r) {
      stream.Abort();
      return r;
    }
    std::vector<std::uint8_t> block;
    bool aborted = false;
    std::string failure;
    std::uint64_t done = 0;
    while (stream.Pop(block, &aborted, &failure)) {
      if (cancel_.load()) {
        aborted = true;
        break;
      }
      if (job.meter) job.meter->Add(block.data(), block.size());
      r = encoder.Write(block.data(), block.size());
      if (!r) {
        stream.Abort();
        return r;  // the writer has deleted the file
      }
      done += block.size();
      job.done.store(done);
    }
    if (!failure.empty()) {
      stream.Abort();
      encoder.Abort();
      return WriteResult::Failure(failure);
    }
    if (aborted || cancel_.load()) {
      stream.Abort();
      encoder.Abort();
      return WriteResult::Cancel();
    }
    return encoder.Close();
  }

  std::vector<std::unique_ptr<RipEncoder>> encoders_;
  const SettingsRecord settings_;
  const OutputKind kind_;
  const FormatOptions options_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_, changed_;
  // Whether anything finished since the grab's thread last looked.
  bool changed() {
    if (changes_ == seenChanges_) return false;
    seenChanges_ = changes_;
    return true;
  }

  std::deque<Job> queue_, order_;
  std::vector<Job> running_;
  std::string failure_;
  bool failedOnce_ = false;
  std::uint64_t changes_ = 0, seenChanges_ = 0;
  std::size_t outstanding_ = 0;
  bool closing_ = false;
  std::atomic<bool> cancel_{false};
};

void RipPipeline::ForgetTrack(const TrackJob& job) {
  TrackOver(job.row);
  writtenInGrab_.erase(job.out);
  tempsInUse_.erase(job.temp);
}

namespace {

bool Exists(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0;
}

// rename(2) that refuses to replace: EEXIST when something is at `to`.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without it: a hard link is made only where nothing is.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  // Nor links (FAT): look, then rename.
  if (Exists(to)) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

RipPipeline::TrackResult RipPipeline::ChooseOutput(TrackJob& job, const std::string& name) {
  constexpr int kMostNumbers = 999;
  for (int n = 1; n <= kMostNumbers; ++n) {
    const std::string candidate = n == 1 ? name : NumberedOutputPath(name, n);
    // Two tracks of one grab never share a file: the later one is numbered.
    if (writtenInGrab_.count(candidate) != 0) continue;
    const std::string partial = candidate + kPartialSuffix;
    // A partial file left by an earlier run is removed only when it is
    // recognisably the program's own and no running writer holds it;
    // anything else there (a link above all) stops the track untouched.
    switch (RemoveStalePartial(partial)) {
      case StaleFile::None:
      case StaleFile::Removed:
        break;
      case StaleFile::InUse:
        // Another run is writing this name now: it stays that run's.
        continue;
      case StaleFile::Foreign:
        Fail("Файл '" + partial + "' уже существует и создан не этой программой. " + kAborted,
             false);
        return TrackResult::Failed;
      case StaleFile::Error:
        Fail(CreateFailureText(partial, errno) + " " + kAborted, false);
        return TrackResult::Failed;
    }
    bool replace = false;
    if (Exists(candidate)) {
      // A file that was there before: replaced only with the user's word.
      if (existing_ == ExistingFiles::Number) continue;
      replace = existing_ == ExistingFiles::Replace || replaceAll_;
      if (!replace) {
        const int answer =
            dialogs_.Message("Файл '" + candidate + "' уже существует. Заменить его?",
                             kProgramTitle, MsgIcon::Question, MsgButtons::YesYesAllNo);
        if (answer == IdYesAll) replaceAll_ = true;
        if (answer != IdYes && answer != IdYesAll) {
          host_.SetRowStatus(job.row, kSkippedStatus);
          return TrackResult::Skipped;
        }
        replace = true;
      }
    }
    job.name = name;
    job.out = candidate;
    job.partial = partial;
    job.replace = replace;
    job.partialLock = FileLockHold(partial);
    writtenInGrab_.insert(candidate);
    return TrackResult::Copied;
  }
  Fail("Не удалось подобрать свободное имя для файла '" + name + "'. " + kAborted, false);
  return TrackResult::Failed;
}

bool RipPipeline::RenameIntoPlace(TrackJob& job) {
  if (job.replace) return ::rename(job.partial.c_str(), job.out.c_str()) == 0;
  if (RenameNoReplace(job.partial, job.out)) return true;
  if (errno != EEXIST) return false;
  // A file appeared at the name while the track was written: it stays, and
  // the track takes the next free numbered name.
  for (int n = 2; n <= 999; ++n) {
    const std::string candidate = NumberedOutputPath(job.name, n);
    if (writtenInGrab_.count(candidate) != 0 || Exists(candidate + kPartialSuffix)) continue;
    if (RenameNoReplace(job.partial, candidate)) {
      writtenInGrab_.erase(job.out);
      writtenInGrab_.insert(candidate);
      job.out = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

RipPipeline::TrackResult RipPipeline::PrepareTrack(int i, TrackJob& job) {
  job.row = i;
  if (pool_) job.deferFolders = &deferredFolders_;
  host_.SelectRow(i);
  host_.SetCaption(std::string(kProgramTitle) + " - " + host_.RowCaption(i));

  // A fresh account has no music folder yet: the default output folder is
  // made when it is first used rather than failing the first rip.
  const std::string folderNative = OutputFolderText(settings_, settingsTexts_);
  if (!DirectoryExists(folderNative) && SameFolder(folderNative, DefaultOutputFolder()))
    MakeDirectories(folderNative);

  // The name takes the extension of this grab's kind; the settings record
  // itself keeps the user's choice.
  SettingsRecord namingSettings = settings_;
  namingSettings.OutputKind = static_cast<std::uint8_t>(kind_);
  NamingInput naming{namingSettings, album_, tags_, albumTexts_, settingsTexts_};
  std::string outNaming = BuildOutputPath(i, naming, [&](const std::string& folder) {
    const bool chosen = host_.OutputFolderMissing(folder);
    namingSettings = settings_;  // the folder the user chose
    namingSettings.OutputKind = static_cast<std::uint8_t>(kind_);
    return chosen;
  });
  if (outNaming.empty()) {
    failure_ = MissingFolderMessage(OutputFolderText(settings_, settingsTexts_));
    stopReading_ = true;
    return TrackResult::Failed;
  }
  const std::string name = ToNativePath(outNaming);
  for (std::string f = ParentFolder(name); !f.empty() && f != "." && !DirectoryExists(f);
       f = ParentFolder(f)) {
    job.madeFolders.push_back(f);
    if (f.find('/') == std::string::npos) break;
  }
  MakeDirectories(tempFolder_);
  if (!MakeDirectories(ParentFolder(name))) {
    const int err = errno;
    job.RemoveMadeFolders();
    Fail("Не удалось создать папку '" + ParentFolder(name) + "': " + std::strerror(err) + ". " +
             kAborted,
         false);
    return TrackResult::Failed;
  }
  if (TrackResult chosen = ChooseOutput(job, name); chosen != TrackResult::Copied) {
    job.RemoveMadeFolders();
    return chosen;
  }
  const std::string partial = job.partial;
  const RecordTexts noTexts;
  std::string tempName =
      FilterFileName(TrackTitleText(album_, albumTexts_ ? *albumTexts_ : noTexts, i) + ".wav");
  std::replace(tempName.begin(), tempName.end(), '\\', '_');
  if (tempName.find_first_not_of('.') == std::string::npos) tempName = "_";
  std::string temp = tempFolder_ + tempName;
  // Tracks of one title wait side by side for the pool: each has its own
  // file; so has another run that shares the temporary folder.
  for (int n = 2; tempsInUse_.count(temp) != 0 || LockedByAnotherWriter(temp); ++n)
    temp = tempFolder_ + NumberedOutputPath(tempName, n);
  job.compress = compress_;
  // In a pooled grab the last track is encoded as it is read as well: its
  // compression would otherwise only begin when the drive is done.
  job.onTheFly = compress_ && (EncodesWhileReading() || (pool_ && streamLastTrack_ &&
                                                         !moreToRead_ && !settings_.NormalizeEnabled));
  // The temporary folder is the program's own: whatever has the temporary
  // file's name there is replaced (a link itself, never its target).
  if (job.compress && !job.onTheFly && !RemoveForReplacement(temp)) {
    Fail(CreateFailureText(temp, errno) + " " + kAborted);
    job.RemoveMadeFolders();
    return TrackResult::Failed;
  }
  if (!job.compress) temp = partial;
  job.temp = temp;
  if (job.compress && !job.onTheFly) job.tempLock = FileLockHold(temp);
  if (job.compress && !job.onTheFly) tempsInUse_.insert(temp);
  job.tag = tags_.GetTags(i, album_.TrackCount);
  return TrackResult::Copied;
}

std::uint32_t RipPipeline::FirstUnreadableSector(std::uint32_t start, std::uint32_t count) {
  // Halves the failing piece while a half of it fails; the first sector
  // that fails alone is the one. Reads that succeed now and then do not
  // hide it: each piece is tried twice before it counts as readable.
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count) * kBytesPerSector);
  auto fails = [&](std::uint32_t from, std::uint32_t n) {
    for (int attempt = 0; attempt < 2; ++attempt)
      if (drive_.ReadCdda(buffer.data(), from, n)) return false;
    return true;
  };
  std::uint32_t from = start, n = count;
  while (n > 1) {
    host_.Pump();
    if (host_.Interrupted()) break;
    const std::uint32_t half = n / 2;
    if (fails(from, half)) {
      n = half;
    } else if (fails(from + half, n - half)) {
      from += half;
      n -= half;
    } else {
      // Each half reads alone: the chunk as a whole is what fails.
      return from;
    }
  }
  return from;
}

RipPipeline::TrackResult RipPipeline::ReadTrack(TrackJob& job) {
  const int i = job.row;
  Range range = TrackRange(i);
  std::uint32_t start = range.Start;
  const std::uint32_t end = range.End;
  const std::uint32_t total = end - start;
  unsigned lastPercent = 0;
  int& peak = job.peak;
  peak = 0;
  const std::uint32_t chunk = settings_.SectorsPerRead ? settings_.SectorsPerRead : kChunkDefault;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(chunk) * kBytesPerSector);
  const bool onTheFly = job.onTheFly;
  // The loudness of what the writer gets, measured as it is read.
  LoudnessMeter* meter = nullptr;
  const TagStyle tagStyle = FormatFor(kind_).tags;
  if (replayGain_ && (tagStyle == TagStyle::VorbisComments || tagStyle == TagStyle::Id3v2)) {
    auto& m = meters_[i];
    m = std::make_shared<LoudnessMeter>();
    if (m->Valid()) meter = m.get();
    // A worker that encodes the track on the fly measures it too, off the
    // drive's thread.
    if (meter && job.stream) {
      job.meter = m;
      meter = nullptr;
    }
  }
  if (watcher_) {
    const std::uint32_t whole = static_cast<std::uint32_t>(album_.Tracks[i].StartSector);
    const std::uint32_t wholeEnd = static_cast<std::uint32_t>(album_.Tracks[i + 1].StartSector);
    watcher_->TrackReading(i, start, end, start == whole && end == wholeEnd);
  }

  // Closes and deletes what this track has written so far.
  PcmStream* stream = job.stream.get();
  auto discard = [&] {
    if (stream) {
      job.readerGaveUp.store(true);
      stream->Abort();
    } else if (onTheFly)
      encoder_.Abort();
    else
      encoder_.AbortWav();
    job.RemoveMadeFolders();
  };
  auto failed = [&](const WriteResult& r) {
    discard();
    Fail(r.message + " " + kAborted);
    return TrackResult::Failed;
  };
  auto cancelled = [&] {
    host_.SetRowStatus(i, "Отменено");
    discard();
    return TrackResult::Cancelled;
  };

  WriteResult opened = stream     ? WriteResult{}
                       : onTheFly ? encoder_.Open(job.tag, job.partial)
                                  : encoder_.CreateWav(job.temp, !job.compress);
  if (!opened) {
    job.RemoveMadeFolders();
    if (opened.Cancelled()) {
      host_.SetRowStatus(i, "Отменено");
      return TrackResult::Cancelled;
    }
    Fail((opened.message.empty() ? CreateFailureText(onTheFly ? job.partial : job.temp, 0)
                                 : opened.message) +
         " " + kAborted);
    return TrackResult::Failed;
  }
  const std::uint32_t d = album_.FirstTrackOffset;
  // Secure reading of the blocks; what it finds is kept for the track.
  std::unique_ptr<SecureReader> secure;
  if (secure_) {
    SecureReader::Options so;
    so.rereads = secureRereads_;
    so.c2 = secureC2_;
    secure = std::make_unique<SecureReader>(drive_, so);
    secure->SetKeepGoing([this] {
      host_.Pump();
      return !host_.Interrupted();
    });
  }
  std::vector<std::uint32_t> suspect;
  int reread = 0;
  // Test and copy reads the track twice: the test pass only for its CRC32.
  const int passes = testAndCopy_ ? 2 : 1;
  std::uint32_t passCrc[2] = {0, 0};
  for (int pass = 0; pass < passes; ++pass) {
    const bool testing = pass + 1 < passes;
    start = range.Start;
    lastPercent = 0;
    suspect.clear();
    reread = 0;
    while (start < end) {
      host_.Pump();
      if (host_.Interrupted()) return cancelled();
      if (pool_) {
        ServicePool();
        // A failure of another track stopped the grab.
        if (stopReading_) return cancelled();
      }
      if (host_.State() != WindowState::Copying) {
        if (dialogs_.Message(kAskCancelCopy, kProgramTitle, MsgIcon::Question, MsgButtons::YesNo) ==
            IdYes)
          return cancelled();
        host_.SetState(WindowState::Copying);
      }
      const std::uint32_t count = std::min(chunk, end - start);
      SecureReadResult block;
      auto read = [&] {
        if (!secure) return drive_.ReadCdda(buffer.data(), start, count);
        block = secure->ReadBlock(buffer.data(), start, count);
        return block.ok;
      };
      bool ok = read();
      for (int attempt = 0; !ok && attempt < readRetries_ && !host_.Interrupted(); ++attempt) {
        if (watcher_) watcher_->TrackRetry(i);
        host_.Pump();
        ok = read();
      }
      if (host_.Interrupted() || block.cancelled) return cancelled();
      if (!ok) {
        discard();
        if (!drive_.MediumReady()) {
          // The disc is gone or was changed: no later track can be read either.
          Fail("Ошибка чтения диска (сектор " + std::to_string(start) + "). Копирование прервано.",
               false);
          return TrackResult::Failed;
        }
        // A sector that cannot be read fails this track alone; the user is
        // told which one, not where its chunk began.
        const std::uint32_t bad = FirstUnreadableSector(start, count);
        host_.SetRowStatus(i, kUnreadableStatus);
        if (watcher_) watcher_->TrackUnreadable(i, bad);
        unreadableRows_.push_back(i);
        unreadableSectors_.push_back(bad);
        return TrackResult::Unreadable;
      }
      suspect.insert(suspect.end(), block.suspect.begin(), block.suspect.end());
      reread += block.reread;
      // Secure reads are checked already; noise correction would replace
      // their sectors with plain reads.
      if (!secure && settings_.NoiseCorrection && total - d >= end - start && end - start > d)
        CheckChunk(buffer.data(), count, start);
      const std::size_t bytes = static_cast<std::size_t>(count) * kBytesPerSector;
      if (testAndCopy_) passCrc[pass] = Crc32(passCrc[pass], buffer.data(), bytes);
      start += chunk;
      unsigned percent = PercentDone(start >= end ? 0 : end - start, total);
      if (testing) {
        if (percent != lastPercent) {
          host_.SetRowStatus(i, "проверка " + std::to_string(percent) + "%");
          lastPercent = percent;
          TrackProgress(i, percent / 200.0, 0);
        }
        continue;
      }
      if (watcher_) watcher_->TrackAudio(i, buffer.data(), bytes);
      if (meter) meter->Add(buffer.data(), bytes);
      if (settings_.NormalizeEnabled) encoder_.FindPeak(buffer.data(), bytes, peak);
      if (stream) {
        // The worker's failure (a full disk) is told by the pool.
        // A track the budget cannot hold spills when the drive has more
        // to read and a worker is idle meanwhile: the drive reads on.
        if (!stream->Push(
                std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + bytes),
                [&] {
                  host_.Pump();
                  ServicePool();
                },
                [&] { return moreToRead_ && pool_->WorkerIdle(kMostSpillingEncoders); }))
          return cancelled();
      } else {
        WriteResult written = onTheFly ? encoder_.Write(buffer.data(), bytes)
                                       : encoder_.WriteWav(buffer.data(), bytes);
        if (!written) return failed(written);
      }
      if (percent != lastPercent) {
        host_.SetRowStatus(i, "копирование " + std::to_string(percent) + "%");
        lastPercent = percent;
        // Encoded on the fly, what is read is compressed as well; after a
        // test pass the reading is half done.
        const double read = testAndCopy_ ? 0.5 + percent / 200.0 : percent / 100.0;
        TrackProgress(i, read, job.onTheFly ? read : 0);
      }
    }
  }
  if (secure) {
    if (watcher_) watcher_->TrackSecureRead(i, reread, suspect);
    if (!suspect.empty()) suspectRows_[i] = suspect;
  }
  if (testAndCopy_) {
    if (watcher_) watcher_->TrackTestAndCopy(i, passCrc[0], passCrc[1]);
    if (passCrc[0] != passCrc[1]) suspectRows_[i];
  }
  if (stream) {
    stream->Close();
    return TrackResult::Copied;
  }
  WriteResult closed = onTheFly
                           ? encoder_.Close()
                           : encoder_.FinishWav(static_cast<std::uint64_t>(total) * kBytesPerSector);
  if (!closed) return failed(closed);
  return TrackResult::Copied;
}

RipPipeline::TrackResult RipPipeline::CompleteTrack(TrackJob& job) {
  const int i = job.row;
  const std::string& partial = job.partial;
  // The file at the partial name must still be the one this run wrote:
  // nothing else is ever put under the track's name.
  if (job.partialLock.LostFile()) {
    job.RemoveMadeFolders();
    Fail("Файл '" + partial + "' был удалён или заменён, пока дорожка записывалась. " + kAborted);
    return TrackResult::Failed;
  }
  // The finished file is no partial file any more; a rename replaces a link
  // at the final name, never following it.
  ClearOwnMark(partial);
  if (!RenameIntoPlace(job)) {
    const int err = errno;
    ::unlink(partial.c_str());
    job.RemoveMadeFolders();
    Fail("Не удалось переименовать файл '" + partial + "' в '" + job.out + "': " +
         std::strerror(err) + ". " + kAborted);
    return TrackResult::Failed;
  }
  job.partialLock.Release();
  if (replayGain_) {
    CopiedFile& copied = copiedFiles_[i];
    copied.path = job.out;
    // A file compressed from the temporary WAV file was normalised on the way.
    copied.gain = 1.0;
    if (job.compress && !job.onTheFly && settings_.NormalizeEnabled) {
      const double g = ComputeNormalizeGain(
          static_cast<std::int16_t>(std::clamp(job.peak, 0, 32767)), settings_.NormLowThreshold,
          settings_.NormHighThreshold, settings_.NormLowTarget, settings_.NormHighTarget);
      if (g > 0) copied.gain = g;
    }
  }
  // A track with places that never read the same twice is there, but not
  // to be trusted.
  host_.SetRowStatus(i, suspectRows_.count(i) ? kSuspectStatus : "Скопирован");
  TrackOver(i);
  host_.SetRowImage(i, 2);
  album_.Tracks[i].CopiedFlag = 1;
  host_.SetRowTicked(i, false);
  if (watcher_) watcher_->TrackCopied(i, job.out);
  host_.TrackDone(i, job.out);
  return TrackResult::Copied;
}

RipPipeline::TrackResult RipPipeline::CopyTrack(int i) {
  TrackJob job;
  TrackResult r = PrepareTrack(i, job);
  if (r == TrackResult::Copied) r = ReadTrack(job);
  if (r != TrackResult::Copied) {
    ForgetTrack(job);
    return r;
  }
  tempsInUse_.erase(job.temp);
  if (job.compress && !job.onTheFly) {
    compressionRow_ = i;
    host_.SetState(WindowState::Compressing);
    WriteResult converted = encoder_.ConvertFile(job.temp, job.partial, job.tag, job.peak);
    if (host_.State() == WindowState::Compressing) host_.SetState(WindowState::Copying);
    ::unlink(job.temp.c_str());
    if (converted.Cancelled()) {
      // Cancelled while compressing: the track is not copied.
      ::unlink(job.partial.c_str());
      job.RemoveMadeFolders();
      ForgetTrack(job);
      host_.SetRowStatus(i, "Отменено");
      host_.SetState(WindowState::Copying);
      return TrackResult::CompressionCancelled;
    }
    if (!converted) {
      // The writer has deleted what it wrote.
      job.RemoveMadeFolders();
      ForgetTrack(job);
      Fail(converted.message + " " + kAborted);
      return TrackResult::Failed;
    }
  }
  r = CompleteTrack(job);
  if (r != TrackResult::Copied) ForgetTrack(job);
  return r;
}

void RipPipeline::TrackProgress(int row, double read, double compressed) {
  auto it = progress_.find(row);
  if (it == progress_.end()) return;
  it->second.read = std::max(it->second.read, read);
  it->second.compressed = std::max(it->second.compressed, compressed);
  double done = 0, total = 0;
  for (const auto& [r, p] : progress_) {
    total += p.weight;
    done += p.weight * (compress_ ? (p.read + p.compressed) / 2 : p.read);
  }
  const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
  if (percent != shownOverall_) {
    shownOverall_ = percent;
    host_.SetOverallProgress(percent);
  }
}

void RipPipeline::FinishGrab(bool normalEnd) {
  host_.SetOverallProgress(-1);
  // What is reported of the grab (the database is asked, the log written)
  // is done while the window still counts as copying, and before the
  // computer may go off.
  if (watcher_) watcher_->GrabEnding(normalEnd);
  host_.SetVolume(host_.VolumePosition());
  if (normalEnd) host_.SetState(WindowState::Idle);
  host_.SetControlsEnabled(true);
  host_.SetTimerEnabled(true);
  if (settings_.HighPriority) SetHighPriority(false);
  if (normalEnd && settings_.ShutdownAfterCopy && power_) power_->PowerOff();
}

int RipPipeline::WorkersFor(int tracks) const {
  int n = workers_;
  if (n <= 0) n = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return std::max(1, std::min(n, tracks));
}

void RipPipeline::FailPooled(const std::string& text, bool stopEncoders) {
  if (pooledFailure_.empty()) pooledFailure_ = text;
  stopReading_ = true;
  if (stopEncoders) pool_->CancelAll();
}

void RipPipeline::ServicePool() {
  for (const auto& m : poolDialogs_->Take())
    if (shownPoolMessages_.insert(m.text).second)
      dialogs_.Message(m.text, m.caption, m.icon, MsgButtons::Ok);
  const std::string failure = pool_->TakeFailure();
  if (!failure.empty()) FailPooled(failure + " " + kAborted, true);
  for (const auto& job : pool_->TakeFinished()) {
    tempsInUse_.erase(job->temp);
    // A track the drive could not read (or the reader stopped) has been
    // answered for by the reader; its worker only let it go.
    if (job->readerGaveUp.load()) {
      ::unlink(job->partial.c_str());
      if (job->result.Failed()) host_.SetRowStatus(job->row, "Ошибка");
      continue;
    }
    if (job->result.Ok()) {
      if (CompleteTrack(*job) != TrackResult::Copied) {
        ForgetTrack(*job);
        host_.SetRowStatus(job->row, "Ошибка");
      }
      continue;
    }
    job->RemoveMadeFolders();
    ForgetTrack(*job);
    if (job->result.Cancelled()) {
      host_.SetRowStatus(job->row, "Отменено");
      compressionCancelled_ = true;
    } else {
      // The writer has deleted what it wrote; the pool has stopped the
      // others already.
      host_.SetRowStatus(job->row, "Ошибка");
      FailPooled(job->result.message + " " + kAborted, true);
    }
  }
  for (const auto& job : pool_->Running()) {
    // A track the reader gave up keeps the reader's word in its row.
    if (!job->started.load() || job->readerGaveUp.load()) continue;
    const int percent = CompressedPercent(job->done.load(), job->total.load());
    if (percent != job->shownPercent) {
      job->shownPercent = percent;
      host_.SetRowStatus(job->row, "сжатие " + std::to_string(percent) + "%");
      TrackProgress(job->row, 1, percent / 100.0);
    }
  }
}

void RipPipeline::CopyTracksPooled(const std::vector<int>& rows, int workers) {
  PoolDialogs poolDialogs;
  std::vector<std::unique_ptr<RipEncoder>> encoders;
  // Each worker's writer of this grab's format is made here, on the grab's
  // thread; what that says (a missing library) the program's own encoder
  // has said already.
  for (int k = 0; k < workers; ++k) {
    encoders.push_back(makeEncoder_(poolDialogs));
    if (compress_) encoders.back()->Available(kind_);
  }
  poolDialogs.Take();
  shownPoolMessages_.clear();
  stopReading_ = false;
  compressionCancelled_ = false;
  pooledFailure_.clear();
  deferredFolders_.clear();
  tempsInUse_.clear();
  bool cancelled = false;
  bool failed = false;
  {
    EncoderPool pool(std::move(encoders), settings_, kind_, formatOptions_);
    pool_ = &pool;
    const auto budget = std::make_shared<StreamBudget>(streamBudget_);
    poolDialogs_ = &poolDialogs;
    // Keeps the window alive until `done` says so. A change of the window
    // state away from `own` asks `question`; Yes stops every worker.
    auto await = [&](const std::function<bool()>& done, WindowState own, const char* question) {
      while (!done()) {
        host_.Pump();
        if (host_.Interrupted() && !pool.Cancelling()) {
          cancelled = true;
          stopReading_ = true;
          pool.CancelAll();
        }
        if (question && !pool.Cancelling() && host_.State() != own) {
          if (dialogs_.Message(question, kProgramTitle, MsgIcon::Question, MsgButtons::YesNo) ==
              IdYes) {
            pool.CancelAll();
            stopReading_ = true;
            if (own == WindowState::Copying) cancelled = true;
          } else {
            host_.SetState(own);
          }
        }
        ServicePool();
        if (!done()) pool.WaitForChange(std::chrono::milliseconds(40));
      }
    };
    for (std::size_t k = 0; k < rows.size(); ++k) {
      const int i = rows[k];
      if (stopReading_) break;
      if (!host_.RowTicked(i)) continue;
      moreToRead_ = std::any_of(rows.begin() + static_cast<std::ptrdiff_t>(k) + 1, rows.end(),
                                [&](int later) { return host_.RowTicked(later); });
      auto job = std::make_shared<TrackJob>();
      TrackResult r = PrepareTrack(i, *job);
      // Encoded on the fly, a worker takes the track as the drive reads it.
      const bool streamed = r == TrackResult::Copied && job->onTheFly;
      if (streamed) {
        const Range range = TrackRange(i);
        job->stream = std::make_shared<PcmStream>(budget, spill_ ? tempFolder_ : std::string());
        job->streamBytes = static_cast<std::uint64_t>(range.End - range.Start) * kBytesPerSector;
        pool.Submit(job);
      }
      if (r == TrackResult::Copied) r = ReadTrack(*job);
      if (r != TrackResult::Copied && streamed) {
        job->readerGaveUp.store(true);
        job->stream->Abort();
        // Its worker lets it go at once; a failure of that worker (a full
        // disk) is what stopped the reader, not the user.
        await([&] { return pool.IsFinished(job); }, WindowState::Copying, nullptr);
        ServicePool();
        if (pool.FailedJob(job)) host_.SetRowStatus(i, "Ошибка");
      }
      if (r == TrackResult::Copied) {
        if (!streamed) pool.Submit(job);
        // The drive waits for the encoders only while `workers` read tracks
        // wait for them.
        await([&] { return stopReading_ || pool.Waiting() < static_cast<std::size_t>(workers); },
              WindowState::Copying, kAskCancelCopy);
        continue;
      }
      ForgetTrack(*job);
      if (r == TrackResult::Cancelled) {
        // Stopped by the user or by the failure of another track.
        if (!stopReading_) cancelled = true;
        stopReading_ = true;
        pool.CancelAll();
      } else if (r == TrackResult::Failed) {
        host_.SetRowStatus(i, "Ошибка");
        failed = true;
        stopReading_ = true;
      }
    }
    // Every worker ends before the grab does.
    const bool compressing = !cancelled && !pool.Cancelling();
    if (compressing) host_.SetState(WindowState::Compressing);
    await([&] { return pool.Outstanding() == 0; }, WindowState::Compressing,
          compressing ? kAskCancelCompress : nullptr);
    if (compressing && host_.State() == WindowState::Compressing)
      host_.SetState(WindowState::Copying);
    pool_ = nullptr;
    poolDialogs_ = nullptr;
    std::lock_guard<std::mutex> lock(budget->mutex);
    streamPeak_ = budget->peak;
  }
  for (const auto& f : deferredFolders_) RemoveEmptyDirectory(f);
  deferredFolders_.clear();
  tempsInUse_.clear();
  if (cancelled) {
    outcome_ = Outcome::Cancelled;
    FinishGrab(false);
    return;
  }
  if (!pooledFailure_.empty() || failed) {
    if (!pooledFailure_.empty()) Fail(pooledFailure_);
    outcome_ = Outcome::Failed;
    host_.SetState(WindowState::Idle);
    FinishGrab(false);
    return;
  }
  if (compressionCancelled_) outcome_ = Outcome::Cancelled;
  if (!WriteReplayGain()) {
    host_.SetState(WindowState::Idle);
    FinishGrab(false);
    return;
  }
  ReportUnreadable();
  FinishGrab(true);
}

void RipPipeline::ReportUnreadable() {
  if (unreadableRows_.empty()) return;
  // The other tracks are done; the user learns which ones could not be read.
  std::string list;
  for (std::size_t k = 0; k < unreadableRows_.size(); ++k) {
    if (k) list += ", ";
    list += std::to_string(TrackNumberOfRow(album_, unreadableRows_[k])) + " (сектор " +
            std::to_string(unreadableSectors_[k]) + ")";
  }
  Fail("Не удалось прочитать дорожки: " + list +
       ". Эти сектора не читаются и после повторных попыток; дорожки не скопированы.");
}

void RipPipeline::CopyTracks() {
  WindowState state = host_.State();
  if (state == WindowState::Searching || state == WindowState::FileList) return;
  if (settings_.HighPriority) SetHighPriority(true);
  if (state != WindowState::Idle) host_.Stop();
  host_.SetState(WindowState::Copying);
  host_.SetControlsEnabled(false);
  host_.SetTimerEnabled(false);
  host_.SetVolume(255);
  outcome_ = Outcome::Done;
  writtenInGrab_.clear();
  replaceAll_ = false;
  tempsInUse_.clear();
  unreadableRows_.clear();
  unreadableSectors_.clear();
  suspectRows_.clear();
  meters_.clear();
  copiedFiles_.clear();
  std::vector<int> rows;
  for (int i = 0, n = TrackRows(); i < n; ++i)
    if (host_.RowTicked(i) && album_.Tracks[i].AudioFlag) rows.push_back(i);
  if (watcher_) watcher_->GrabStarted(kind_, rows);
  progress_.clear();
  shownOverall_ = -1;
  for (int i : rows) {
    const Range r = TrackRange(i);
    progress_[i].weight = std::max<double>(1, static_cast<double>(r.End) - r.Start);
  }
  host_.SetOverallProgress(0);
  // Finished temporary files, or the audio of tracks encoded on the fly,
  // are compressed by the pool; WAV output goes track by track.
  const bool pooled = makeEncoder_ && compress_;
  const int workers = pooled ? WorkersFor(static_cast<int>(rows.size())) : 1;
  if (workers > 1) {
    CopyTracksPooled(rows, workers);
    return;
  }
  for (int i : rows) {
    if (!host_.RowTicked(i)) continue;
    TrackResult r = CopyTrack(i);
    if (r == TrackResult::Cancelled || host_.Interrupted()) {
      outcome_ = Outcome::Cancelled;
      FinishGrab(false);
      return;
    }
    if (r == TrackResult::CompressionCancelled) outcome_ = Outcome::Cancelled;
    if (r == TrackResult::Failed) {
      outcome_ = Outcome::Failed;
      host_.SetRowStatus(i, "Ошибка");
      host_.SetState(WindowState::Idle);
      FinishGrab(false);
      return;
    }
  }
  if (!WriteReplayGain()) {
    host_.SetState(WindowState::Idle);
    FinishGrab(false);
    return;
  }
  ReportUnreadable();
  FinishGrab(true);
}

bool RipPipeline::WriteReplayGain() {
  if (!replayGain_ || copiedFiles_.empty()) return true;
  const TagStyle style = FormatFor(kind_).tags;
  if (style != TagStyle::VorbisComments && style != TagStyle::Id3v2) return true;
  // The album is every track this grab copied, measured together.
  std::vector<const LoudnessMeter*> album;
  double albumPeak = 0;
  for (const auto& [row, copied] : copiedFiles_) {
    const auto m = meters_.find(row);
    if (m == meters_.end() || !m->second->Valid()) continue;
    album.push_back(m->second.get());
    albumPeak = std::max(albumPeak, m->second->Peak() * copied.gain);
  }
  // Normalised tracks each had their own gain: the album is measured as read.
  const std::optional<double> albumLoudness = AlbumLoudness(album);
  for (const auto& [row, copied] : copiedFiles_) {
    const auto m = meters_.find(row);
    // The gain belongs to the audio: written whether or not the track's
    // tags are on (a disc without titles has them off).
    if (m == meters_.end() || !m->second->Valid()) continue;
    const double gainDb = 20 * std::log10(copied.gain);
    ReplayGainValues v;
    if (const auto loudness = m->second->Loudness()) v.trackGain = ReplayGainFor(*loudness) - gainDb;
    v.trackPeak = m->second->Peak() * copied.gain;
    v.album = true;
    if (albumLoudness) v.albumGain = ReplayGainFor(*albumLoudness) - gainDb;
    v.albumPeak = albumPeak;
    // Opus players read the gain as R128_TRACK_GAIN / R128_ALBUM_GAIN, to
    // -23 LUFS in 1/256 dB over the header's output gain (which stays 0).
    TagPairs tags;
    if (kind_ == OutputKind::Opus) {
      if (const auto loudness = m->second->Loudness())
        tags.emplace_back("R128_TRACK_GAIN", R128GainText(*loudness + gainDb));
      if (albumLoudness) tags.emplace_back("R128_ALBUM_GAIN", R128GainText(*albumLoudness + gainDb));
    } else {
      tags = ReplayGainTags(v);
    }
    if (tags.empty()) continue;
    const WriteResult r = style == TagStyle::Id3v2 ? SetId3v2UserTexts(copied.path, tags)
                          : kind_ == OutputKind::Flac ? SetFlacComments(copied.path, tags)
                                                      : SetOggComments(copied.path, tags);
    if (!r) {
      host_.SetRowStatus(row, "Ошибка");
      Fail(r.message);
      return false;
    }
  }
  return true;
}

}  // namespace sonarvex
