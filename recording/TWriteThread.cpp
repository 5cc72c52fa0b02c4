#include "recording/TWriteThread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "codec/SampleOps.h"
#include "codec/WavSourceReader.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "recording/Recorder.h"
#include "recording/TrackSource.h"

namespace sonarvex {

TWriteThread::TWriteThread(Recorder& recorder, WriteThreadHost& host, Dialogs& dialogs,
                           const std::atomic<bool>& cancel)
    : recorder_(recorder), host_(host), dialogs_(dialogs), cancel_(cancel) {}

TWriteThread::~TWriteThread() { Wait(); }

void TWriteThread::Start() {
  Wait();
  running_ = true;
  thread_ = std::thread([this] {
    ApplyPriority(settings.Priority);
    Execute();
    running_ = false;
  });
}

void TWriteThread::Wait() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TWriteThread::ApplyPriority(int priority) {
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  if (priority == 1) {
    sched_param p{};
    p.sched_priority = 0;
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &p) != 0) setpriority(PRIO_PROCESS, tid, 19);
  } else if (priority == 2) {
    // The highest a user may take; only a privileged one gets below zero.
    if (setpriority(PRIO_PROCESS, tid, -10) != 0) setpriority(PRIO_PROCESS, tid, 0);
  }
}

bool TWriteThread::PeakPass() {
  auto& gains = recorder_.Gains();
  gains.fill(0.0);
  const auto& table = recorder_.TrackTable();
  std::vector<std::uint8_t> block(176400);
  for (std::size_t i = 0; i < files.size(); ++i) {
    host_.SetStatus(i < names.size() ? names[i] : files[i]);
    // Any file of the compilation, decoded as it is read.
    const auto reader = TrackSource::Open(files[i], recorder_.DecoderFolder(), nullptr);
    if (!reader) {
      dialogs_.Message("Не могу открыть файл " + files[i], kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
      return false;
    }
    const std::int32_t before = i < table.size() ? table[i] : 0;
    const std::int32_t end = i + 1 < table.size() ? table[i + 1] : before;
    std::int16_t peak = 0;
    std::uint64_t left = reader->Bytes(), done = 0;
    while (left > 0) {
      host_.Progress(before + static_cast<std::int32_t>(done / 2352), before, 0, end);
      if (cancel_.load()) return false;
      std::uint32_t got = 0;
      if (!reader->Read(block.data(), static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 176400)), &got) ||
          got == 0)
        break;
      FindPeak(block.data(), got, peak);
      left -= got;
      done += got;
    }
    if (i < gains.size())
      gains[i] = ComputeNormalizeGain(peak, settings.MinLevel, settings.MaxLevel, settings.SetMinLevel,
                                      settings.SetMaxLevel);
  }
  host_.ShowErrorCount(true);
  bool normalize = true;
  if (settings.DisableNormalizeWhenEqual && !files.empty()) {
    const auto first = static_cast<long long>(gains[0] * 1000);
    bool same = true;
    for (std::size_t i = 1; i < files.size() && i < gains.size(); ++i)
      if (static_cast<long long>(gains[i] * 1000) != first) same = false;
    if (same) normalize = false;
  }
  recorder_.SetNormalize(normalize);
  return true;
}

void TWriteThread::Execute() {
  outcome_ = Outcome::None;
  if (mode == kBlankMinimal) {
    recorder_.BlankMinimal();
    recorder_.WaitReady();
  } else if (mode == kBlankFull) {
    recorder_.BlankFull();
    recorder_.WaitReady();
  } else if (mode == kWrite) {
    if (settings.Normalize) {
      host_.SetPhase(kPeakPhase);
      host_.ShowErrorCount(false);
      if (!PeakPass()) {
        outcome_ = Outcome::PeakPassFailed;
        host_.WriteFinished();
        host_.Ended();
        return;
      }
    }
    host_.SetPhase(testWrite ? kTestWritePhase : kWritePhase);
    recorder_.SetSpeed(settings.WriteSpeed);
    recorder_.Lock(true);
    host_.SetStatus(kOpcStatus);
    recorder_.DoOPC();
    recorder_.WaitReady();
    const int perWrite = settings.SectorsPerWrite > 0 ? settings.SectorsPerWrite : 15;
    // A track counts as written only when all of it was; the first failure
    // (or the cancel flag) ends the writing, and the session then stays
    // open: closing it would make a disc of what was never meant to be one.
    std::size_t written = 0;
    std::string failure;
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (cancel_.load()) break;
      host_.SetStatus("Трек " + std::to_string(i + 1) + " - " + (i < names.size() ? names[i] : files[i]));
      if (!recorder_.WriteTrack(static_cast<int>(i), perWrite, cancel_)) {
        failure = recorder_.FailureText();
        break;
      }
      host_.TrackDone(static_cast<int>(i));
      ++written;
    }
    bool closed = false;
    if (written == files.size() && !files.empty()) {
      host_.SetStatus(kLeadOutStatus);
      closed = recorder_.CloseSession();
      if (!closed) failure = recorder_.FailureText();
    }
    outcome_ = closed ? Outcome::Done : failure.empty() ? Outcome::Cancelled : Outcome::Failed;
    verify_ = Verify::NotRun;
    verifyText_.clear();
    if (outcome_ == Outcome::Done && verify && !testWrite) {
      // The disc as the drive reads it, against what was sent to it.
      host_.SetPhase(kVerifyPhase);
      host_.SetStatus(kVerifyPhase);
      std::vector<Recorder::TrackCheck> checks;
      if (!recorder_.VerifyTracks(readOffset, cancel_, checks)) {
        verify_ = Verify::Cancelled;
        verifyText_ = kVerifyCancelledText;
      } else {
        bool same = true;
        for (const auto& c : checks) same = same && c.same;
        verify_ = same ? Verify::Same : Verify::Differs;
        verifyText_ = Recorder::VerifyText(checks);
      }
    }
    recorder_.Lock(false);
    host_.WriteFinished();
    if (verify_ != Verify::NotRun) host_.Verified(verifyText_, verify_ == Verify::Same);
    if (outcome_ == Outcome::Failed) {
      while (!failure.empty() && failure.back() == '.') failure.pop_back();
      dialogs_.Message(testWrite ? "Тестовая запись не завершена: " + failure + "."
                                 : "Запись диска не завершена: " + failure + ". Сессия диска не закрыта.",
                       kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    }
    if (settings.PlaySound) host_.PlaySound(Cp1251ToUtf8(FieldText(settings.SoundFile)));
    const bool complete = outcome_ == Outcome::Done && !testWrite && recorder_.ErrorCount() == 0;
    if (settings.EjectAfterBurn && complete) recorder_.Eject(true);
    // The sources go only after a real disc was written whole (and, when
    // verified, read back the same).
    const bool verifiedOrUnchecked = verify_ == Verify::NotRun || verify_ == Verify::Same;
    if (settings.DeleteWavAfterBurn && complete && verifiedOrUnchecked) {
      const bool keep = settings.AskBeforeDelete &&
                        dialogs_.Message(kDeleteSourcesQuestion, kProgramTitle, MsgIcon::Question,
                                         MsgButtons::YesNo) != IdYes;
      if (!keep) {
        // The WAV files the question names: a FLAC, MP3, Ogg, Opus or WMA
        // file written as it is is the user's own copy and stays.
        for (const auto& f : files)
          if (SniffTrackSource(f) == TrackSourceKind::Wave) std::remove(f.c_str());
        host_.SourcesDeleted();
      }
    }
  }
  if (mode == kBlankMinimal || mode == kBlankFull) host_.CloseBlankWindow();
  host_.Completed();
  host_.Ended();
}

}  // namespace sonarvex
