#include "cli/CliPlay.h"
#include "cli/CliProgress.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "session/Session.h"
#include "drive/Transport.h"
#include "platform/ConsoleDialogs.h"
#include "playback/CallQueue.h"
#include "playback/MediaPlayer.h"
#include "playback/NHandler.h"

namespace sonarvex {
namespace {

// Turns SIGINT/SIGTERM into a call on the player while it plays: the
// signals are blocked for every thread and taken by one waiting thread.
class SignalWatch {
 public:
  explicit SignalWatch(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, &old_);
    thread_ = std::thread([this] {
      const timespec tick{0, 100 * 1000 * 1000};
      while (!done_) {
        int signal = sigtimedwait(&set_, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM) {
          signal_ = signal;
          onSignal_();
          return;
        }
      }
    });
  }
  ~SignalWatch() {
    done_ = true;
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  int Signal() const { return signal_; }

 private:
  std::function<void()> onSignal_;
  sigset_t set_{}, old_{};
  std::atomic<bool> done_{false};
  std::atomic<int> signal_{0};
  std::thread thread_;
};

int SignalStatus(int signal) { return 128 + signal; }

}  // namespace

int RunPlayCommand(Session& session, const PlayRequest& request, std::ostream& out,
                   std::ostream& err) {
  (void)out;
  ConsoleDialogs dialogs;
  if (!request.file.empty()) {
    MediaPlayer& player = session.Media();
    // A file that is not there is said plainly, not as the player's I/O error.
    if (const std::string why = FileProblem(request.file); !why.empty()) {
      err << "Не удалось воспроизвести '" << request.file << "': " << why << "\n";
      return 1;
    }
    if (!player.OpenMediaFile(request.file)) {
      err << "Не удалось воспроизвести '" << request.file << "': " << player.LastError() << "\n";
      return 1;
    }
    SignalWatch watch([&player] { player.InterruptWait(); });
    player.PlayMedia();
    const MediaPlayer::WaitResult result = player.WaitForEnd(-1);
    player.CloseMedia();
    if (watch.Signal()) return SignalStatus(watch.Signal());
    if (result != MediaPlayer::WaitResult::Ended) {
      err << "Воспроизведение '" << request.file << "' прервалось: " << player.LastError() << "\n";
      return 1;
    }
    return 0;
  }

  const auto& drives = session.Drives();
  const int drive = request.drive >= 0 ? request.drive : session.Settings().DriveIndex;
  if (drive >= static_cast<int>(drives.size())) {
    err << (drives.empty() ? std::string("Приводы не найдены.")
                           : "Нет привода с номером " + std::to_string(drive) + " (приводов: " +
                                 std::to_string(drives.size()) + "; их номера выводит команда drives).")
        << "\n";
    return 1;
  }
  if (!session.ReadDisc(drive).present) {
    err << "В приводе " << drive << " нет диска.\n";
    return 1;
  }
  const AlbumRecord& album = session.Album();
  const int count = std::min<int>(session.View().trackCount, kMaxAlbumTracks - 1);
  if (request.track < 1 || request.track > count) {
    err << "Нет дорожки " << request.track << " (дорожек на диске: " << count << ").\n";
    return 1;
  }
  if (!album.Tracks[request.track - 1].AudioFlag) {
    err << "Дорожка " << request.track << " содержит данные, а не звук.\n";
    return 1;
  }
  CallQueue queue;
  session.SetPoster(queue.Poster());
  NHandler& player = session.Digital();
  if (!player.Init(dialogs)) {
    // The player has said so already (once, through the dialogs).
    if (dialogs.LastProblem().empty())
      err << "Звуковое устройство ALSA \"" << session.SoundDevice() << "\" недоступно.\n";
    return 1;
  }
  std::atomic<bool> stop{false};
  SignalWatch watch([&] {
    stop = true;
    queue.Wake();
  });
  if (!player.Play(request.track - 1, album, session.CurrentTransport())) {
    err << "Не удалось воспроизвести дорожку " << request.track << ".\n";
    return 1;
  }
  player.SetBufferVolume(255);  // the track's own samples
  queue.RunUntil([&] { return stop || !player.Running(); });
  const bool failed = player.Position().audioStatus == 0x14;
  player.Stop();
  player.Terminate();
  if (watch.Signal()) return SignalStatus(watch.Signal());
  if (failed) {
    err << "Звуковое устройство отказало во время воспроизведения дорожки " << request.track << ".\n";
    return 1;
  }
  return 0;
}

}  // namespace sonarvex
