// Stand-ins for the ripping loop's drive, encoder and window in tests.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "rip/RipPipeline.h"
#include "platform/SafeFile.h"

namespace sonarvex {

// A disc whose sector n holds the value n in every sample.
class FakeDrive : public RipDrive {
 public:
  bool ReadCdda(std::uint8_t* buffer, std::uint32_t lba, std::uint32_t sectors) override {
    if (beforeRead) beforeRead(lba);
    reads.push_back({lba, sectors});
    if (failFrom && lba + sectors > *failFrom) return false;
    if (badSector && lba <= *badSector && *badSector < lba + sectors) return false;
    for (std::uint32_t s = 0; s < sectors; ++s) {
      std::uint16_t v = static_cast<std::uint16_t>(lba + s);
      for (int k = 0; k < kBytesPerSector / 2; ++k)
        std::memcpy(buffer + s * kBytesPerSector + 2 * k, &v, 2);
    }
    return true;
  }
  void SetReadSpeed(int f) override { speeds.push_back(f); }
  void LockMedium(bool l) override { locks.push_back(l); }
  void Seek(std::uint32_t lba) override { seeks.push_back(lba); }
  // A disc that stops answering from failFrom on is no longer ready; one
  // with a bad sector still is.
  bool MediumReady() override { return !failFrom; }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> reads;
  std::vector<int> speeds;
  std::vector<bool> locks;
  std::vector<std::uint32_t> seeks;
  std::optional<std::uint32_t> failFrom;
  std::optional<std::uint32_t> badSector;
  // Runs before each read (a test holds the drive here until a worker got
  // where it must).
  std::function<void(std::uint32_t lba)> beforeRead;
};

// Writes WAV data raw (header "WAVE") and "encodes" by copying. Files are
// created exclusively, as the real writers create them.
class FakeEncoder : public RipEncoder {
 public:
  bool Available(OutputKind k) override {
    return k == OutputKind::Wma ? wma : k == OutputKind::Ogg ? vorbis : k != OutputKind::Flac;
  }
  void Configure(const SettingsRecord&, OutputKind k, const FormatOptions&,
                 std::function<void(std::uint64_t, std::uint64_t, int*, int)> p) override {
    kind = static_cast<int>(k);
    progress = std::move(p);
  }
  WriteResult Open(const TrackTags&, const std::string& out) override {
    opened.push_back(out);
    return Create(out);
  }
  WriteResult Write(const std::uint8_t* d, std::size_t n) override { return Put(d, n); }
  WriteResult Close() override { return Finish(); }
  void Abort() override { Drop(); }
  WriteResult ConvertFile(const std::string& wav, const std::string& out, const TrackTags&,
                          int p) override {
    peak = p;
    converted.push_back(wav);
    int cancel = 0;
    for (std::uint64_t done = 0; done <= 1000 && !cancel; done += 250) progress(done, 1000, &cancel, 0);
    if (cancel) return WriteResult::Cancel();
    if (failConvert) return WriteResult::Failure("Не удалось записать файл '" + out + "': " +
                                                 std::strerror(ENOSPC) + ".");
    // Created exclusively, as the real writers create their files.
    std::ifstream in(wav, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int fd = CreateExclusiveFile(out);
    if (fd < 0) return WriteResult::Failure(CreateFailureText(out, errno));
    const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    if (!written) return WriteResult::Failure(WriteFailureText(out, EIO));
    return {};
  }
  WriteResult CreateWav(const std::string& path, bool) override {
    if (WriteResult r = Create(path); !r) return r;
    return Put(reinterpret_cast<const std::uint8_t*>("WAVE"), 4);
  }
  WriteResult WriteWav(const std::uint8_t* d, std::size_t n) override { return Put(d, n); }
  WriteResult FinishWav(std::uint64_t bytes) override {
    finishedBytes = bytes;
    return Finish();
  }
  void AbortWav() override { Drop(); }
  void FindPeak(const std::uint8_t* d, std::size_t n, int& p) override {
    for (std::size_t k = 0; k + 1 < n; k += 2) {
      std::int16_t v;
      std::memcpy(&v, d + k, 2);
      p = std::max(p, std::abs(static_cast<int>(v)));
    }
  }
  double ExpectedRatio(const SettingsRecord&, OutputKind, const FormatOptions&) override {
    return ratio;
  }
  bool wma = false, vorbis = true, failWrites = false, failConvert = false;
  double ratio = 1;
  int kind = -1, peak = -1;
  std::uint64_t finishedBytes = 0;
  FILE* file = nullptr;
  std::string path;
  std::vector<std::string> opened, converted;
  std::function<void(std::uint64_t, std::uint64_t, int*, int)> progress;

 private:
  WriteResult Create(const std::string& p) {
    int fd = CreateExclusiveFile(p);
    if (fd < 0) return WriteResult::Failure(CreateFailureText(p, errno));
    file = fdopen(fd, "wb");
    path = p;
    return {};
  }
  WriteResult Put(const std::uint8_t* d, std::size_t n) {
    if (failWrites || !file || fwrite(d, 1, n, file) != n) {
      Drop();
      return WriteResult::Failure(WriteFailureText(path, ENOSPC));
    }
    return {};
  }
  WriteResult Finish() {
    if (!file) return WriteResult::Failure("not open");
    fclose(file);
    file = nullptr;
    return {};
  }
  void Drop() {
    if (!file) return;
    fclose(file);
    file = nullptr;
    ::unlink(path.c_str());
  }
};

// Records what the rip shows; the free-space question is answered Yes (the
// rip is to run into the full disk), every other one No, as a script would.
class FullDiskDialogs : public WindowlessDialogs {
 public:
  int Message(const std::string& text, const std::string&, MsgIcon, MsgButtons) override {
    if (text == "Вы уверены, что вам хватит места на жестком диске?") return IdYes;
    shown.push_back(text);
    return IdNo;
  }
  std::vector<std::string> shown;
};

// The window: every row ticked at first; records what the loop tells it.
class FakeHost : public RipHost {
 public:
  explicit FakeHost(int rows) : ticked(rows, true), status(rows), images(rows, 1) {}
  int RowCount() override { return static_cast<int>(ticked.size()); }
  bool RowTicked(int r) override { return ticked[r]; }
  void SetRowTicked(int r, bool on) override { ticked[r] = on; }
  void SetRowStatus(int r, const std::string& t) override {
    status[r] = t;
    history.push_back(std::to_string(r) + ":" + t);
  }
  void SetRowImage(int r, int i) override { images[r] = i; }
  void SelectRow(int) override {}
  std::string RowCaption(int r) override { return "row" + std::to_string(r); }
  void SetCaption(const std::string& t) override { caption = t; }
  void Pump() override {
    ++pumps;
    if (onPump) onPump(pumps);
  }
  WindowState State() override { return state; }
  void SetState(WindowState s) override { state = s; }
  void Stop() override { state = WindowState::Idle; }
  void SetControlsEnabled(bool on) override { controls = on; }
  void SetTimerEnabled(bool on) override { timer = on; }
  void SetVolume(int v) override { volume = v; }
  int VolumePosition() override { return volumePosition; }
  void Eject() override { ++ejects; }
  bool OutputFolderMissing(const std::string&) override { return false; }
  void TrackDone(int, const std::string& path) override { done.push_back(path); }
  std::vector<bool> ticked;
  std::vector<std::string> done;
  std::vector<std::string> status, history;
  std::vector<int> images;
  std::string caption;
  WindowState state = WindowState::Idle;
  bool controls = true, timer = true;
  int volume = 0, pumps = 0, ejects = 0;
  int volumePosition = 200;  // the window's volume bar
  std::function<void(int)> onPump;
};

}  // namespace sonarvex
