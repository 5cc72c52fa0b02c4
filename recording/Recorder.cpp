#include "recording/Recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "codec/SampleOps.h"
#include "codec/WavSourceReader.h"
#include "drive/AspiTransport.h"
#include "drive/DriveCommands.h"
#include "drive/SptiTransport.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

namespace sonarvex {

namespace {

void Pause1ms() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

void PutMsf(std::uint8_t* e, std::int32_t frames) {
  const auto f = static_cast<std::uint32_t>(frames);
  e[0] = static_cast<std::uint8_t>(f / 4500);
  e[1] = static_cast<std::uint8_t>((f / 75) % 60);
  e[2] = static_cast<std::uint8_t>(f % 75);
}

}  // namespace

Recorder::Recorder(SptiTransport& spti, AspiTransport& aspi, Dialogs& dialogs)
    : spti_(spti), aspi_(aspi), dialogs_(dialogs) {
  gains_.fill(1.0);
}

Recorder::~Recorder() { Destroy(); }

Transport& Recorder::CurrentTransport() {
  return useSpti_ ? static_cast<Transport&>(spti_) : static_cast<Transport&>(aspi_);
}

bool Recorder::Ok(CommandResult result) { return CurrentTransport().Succeeded(result); }

void Recorder::Create() {
  drives_.clear();
  useSpti_ = true;
  if (aspi_.Load()) {
    aspiLoaded_ = true;
    if (aspi_.Enumerate() > 0) useSpti_ = false;
  }
  Transport& t = CurrentTransport();
  // Every device number is tried: a system drive the user may not open
  // keeps its number, and the drives after it are still listed.
  for (int n = 0; n < kProbedNumbers && static_cast<int>(drives_.size()) < kMaxDrives; ++n) {
    if (!t.SelectDevice(n, 0)) continue;
    Drive d;
    d.device = n;
    std::uint8_t inquiry[kInquiryLength] = {};
    Inquiry(t, inquiry);
    d.identification = Cp1251ToUtf8(IdentificationText(inquiry, 28));
    std::uint8_t caps[kCapabilitiesLength] = {};
    ModeSenseCapabilities(t, caps);
    std::memcpy(d.capabilities.data(), caps, kCapabilitiesLength);
    drives_.push_back(std::move(d));
  }
  if (useSpti_) spti_.Close();
  device_ = -1;
  if (!drives_.empty()) {
    t.SelectDevice(drives_.front().device, 0);
    device_ = drives_.front().device;
  }
}

void Recorder::Destroy() {
  if (useSpti_) spti_.Close();
  if (aspiLoaded_) {
    aspi_.Unload();
    aspiLoaded_ = false;
  }
}

const Recorder::Drive* Recorder::CurrentDrive() const {
  for (const auto& d : drives_)
    if (d.device == device_) return &d;
  return nullptr;
}

bool Recorder::SelectDevice(int device) {
  Transport& t = CurrentTransport();
  if (useSpti_) {
    spti_.Close();
    Pause1ms();
    if (!spti_.SelectDevice(device, 0)) {
      Pause1ms();
      if (device_ >= 0) spti_.SelectDevice(device_, 0);
      return false;
    }
  } else if (!t.SelectDevice(device, 0)) {
    if (device_ >= 0) t.SelectDevice(device_, 0);
    return false;
  }
  device_ = device;
  return true;
}

bool Recorder::SetFiles(const std::vector<std::string>& files) {
  if (files.empty()) return false;
  files_ = files;
  return true;
}

bool Recorder::InitWriteProcess(bool testWrite, WriteProgressCallback progress) {
  progress_ = std::move(progress);
  return Ok(ModeSelectWriteParams(CurrentTransport(), 0, 0, testWrite, 2));
}

std::vector<std::uint8_t> Recorder::BuildCueSheet(const std::vector<std::int32_t>& trackTable) {
  const std::size_t n = trackTable.empty() ? 0 : trackTable.size() - 1;
  std::vector<std::uint8_t> cue((n + 3) * 8, 0);
  auto entry = [&](std::size_t i) { return cue.data() + 8 * i; };
  // Lead-in, then track 1's pregap at 00:00:00.
  const std::uint8_t leadIn[8] = {0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0};
  const std::uint8_t pregap[8] = {0x01, 0x01, 0x00, 0x00, 0, 0, 0, 0};
  std::memcpy(entry(0), leadIn, 8);
  std::memcpy(entry(1), pregap, 8);
  for (std::size_t k = 0; k < n; ++k) {
    std::uint8_t* e = entry(2 + k);
    e[0] = 0x01;
    e[1] = static_cast<std::uint8_t>(k + 1);
    e[2] = 0x01;
    PutMsf(e + 5, trackTable[k] + 150);
  }
  std::uint8_t* out = entry(n + 2);
  out[0] = 0x01;
  out[1] = 0xAA;
  out[2] = 0x01;
  out[3] = 0x01;
  PutMsf(out + 5, (n ? trackTable[n] : 0) + 150);
  return cue;
}

bool Recorder::MeasureFile(const std::string& path, std::int32_t* sectors) {
  auto refuse = [&](const std::string& why) {
    dialogs_.Message("Невозможно записать файл '" + path + "': " + why + ".", kRecorderMessageCaption,
                     MsgIcon::Error, MsgButtons::Ok);
    return false;
  };
  // Only a regular file is opened (a pipe or a device would hold the
  // recording up, or never end).
  const int fd = OpenRegularFile(path);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) {
      dialogs_.Message("Невозможно открыть для чтения файл '" + path + "'!", kRecorderMessageCaption,
                       MsgIcon::Error, MsgButtons::Ok);
      return false;
    }
    if (err == EINVAL) return refuse("это не обычный файл");
    return refuse(std::strerror(err));
  }
  struct stat st {};
  const bool statted = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!statted) return refuse(std::strerror(errno));
  WavSourceReader reader;
  if (reader.Open(path, false) != WavSourceReader::kUsable) {
    dialogs_.Message("Невозможно открыть для чтения файл '" + path + "'!", kRecorderMessageCaption,
                     MsgIcon::Error, MsgButtons::Ok);
    return false;
  }
  // What the file holds, not what its header promises.
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  const std::uint64_t held = size > reader.DataStart() ? size - reader.DataStart() : 0;
  const std::uint32_t promised = reader.DataByteCount();
  const std::uint64_t bytes = std::min<std::uint64_t>(promised, held);
  reader.Close();
  if (bytes < kBytesPerSector)
    return refuse(promised >= kBytesPerSector && held == 0 ? "в нём нет звука, хотя заголовок его обещает"
                                                           : "в нём нет звука (ни одного целого сектора)");
  *sectors = static_cast<std::int32_t>(bytes / kBytesPerSector);
  return true;
}

bool Recorder::CheckFiles() {
  std::int32_t sectors = 0;
  for (const auto& path : files_)
    if (!MeasureFile(path, &sectors)) return false;
  return !files_.empty();
}

bool Recorder::SendCUEToCD() {
  if (files_.empty()) return false;
  // A disc holds at most 99 tracks: more cannot be put into a cue sheet.
  if (static_cast<int>(files_.size()) > kMaxTracks) return false;
  trackTable_.assign(1, 0);
  for (const auto& path : files_) {
    std::int32_t sectors = 0;
    if (!MeasureFile(path, &sectors)) {
      trackTable_.assign(1, 0);
      return false;
    }
    trackTable_.push_back(trackTable_.back() + sectors);
  }
  cueSheet_ = BuildCueSheet(trackTable_);
  return Ok(SendCueSheet(CurrentTransport(), cueSheet_.data(), static_cast<std::uint32_t>(cueSheet_.size() / 8)));
}

std::size_t Recorder::WriteBufferBytes(int sectorsPerWrite) {
  return sectorsPerWrite < 75 ? kSmallBufferBytes
                              : static_cast<std::size_t>(sectorsPerWrite) * kBytesPerSector;
}

std::string Recorder::DriveReason() {
  const auto& s = CurrentTransport().LastSense();
  const int key = s[2] & 0x0F, asc = s[12], ascq = s[13];
  std::string text;
  if (key == 0 && asc == 0) text = "привод не ответил";
  else if (asc == 0x3A) text = "в приводе нет диска";
  else if (key == 2 && asc == 0x04) text = "привод не готов";
  else if (asc == 0x21 && ascq == 0x00) text = "сектор за пределами диска (диск заполнен)";
  else if (asc == 0x21 && ascq == 0x02) text = "неверный адрес записи";
  else if (asc == 0x0C) text = "ошибка записи";
  else if (asc == 0x30) text = "диск нельзя записать";
  else if (asc == 0x2C) text = "неверная последовательность команд";
  else {
    char code[48];
    std::snprintf(code, sizeof code, "ошибка привода (%X/%02X/%02X)", key, asc, ascq);
    text = code;
  }
  std::string detail = CurrentTransport().LastDetail();
  while (!detail.empty() && (detail.back() == '.' || detail.back() == ' ')) detail.pop_back();
  if (!detail.empty()) text += ": " + detail;
  return text;
}

bool Recorder::WriteTrack(int index, int sectorsPerWrite, const std::atomic<bool>& cancel) {
  failure_.clear();
  if (cancel.load()) return false;
  if (index < 0 || index >= static_cast<int>(files_.size()) ||
      index + 1 >= static_cast<int>(trackTable_.size()) || sectorsPerWrite <= 0) {
    failure_ = "трек " + std::to_string(index + 1) + " не подготовлен к записи";
    return false;
  }
  const std::string& path = files_[static_cast<std::size_t>(index)];
  const std::string track = "трек " + std::to_string(index + 1) + ", файл '" + path + "': ";
  WavSourceReader reader;
  if (reader.Open(path, false) != WavSourceReader::kUsable) {
    failure_ = track + "файл не открывается для чтения";
    return false;
  }
  Transport& t = CurrentTransport();
  const std::int32_t trackStart = trackTable_[static_cast<std::size_t>(index)];
  const std::int32_t trackEnd = trackTable_[static_cast<std::size_t>(index) + 1];
  std::vector<std::uint8_t> buffer(WriteBufferBytes(sectorsPerWrite));

  if (index == 0) {
    errorCount_ = 0;
    std::string previous;
    if (status_) previous = status_(kLeadInStatus);
    // Track 1's pregap: 150 sectors of silence at LBA -150..-1, in front of
    // the track's first sector at LBA 0, as session at once lays it out.
    std::memset(buffer.data(), 0, kSmallBufferBytes <= buffer.size() ? kSmallBufferBytes : buffer.size());
    for (std::int32_t lba = -150; lba < 0 && failure_.empty(); lba += 5)
      if (!Ok(WriteSectors(t, buffer.data(), lba, 5, kBytesPerSector))) {
        ++errorCount_;
        failure_ = "привод не записал Lead-In: " + DriveReason();
      }
    if (failure_.empty()) WaitReady();
    if (status_) status_(previous);
    if (!failure_.empty()) {
      if (progress_) progress_(trackStart, trackStart, errorCount_, trackEnd);
      return false;
    }
  }

  std::int32_t current = trackStart;
  std::int32_t count = sectorsPerWrite;
  const double gain = index < static_cast<int>(gains_.size()) ? gains_[static_cast<std::size_t>(index)] : 1.0;
  while (current < trackEnd && !cancel.load()) {
    if (trackEnd - current < count) count = trackEnd - current;
    if (progress_) progress_(current, trackStart, errorCount_, trackEnd);
    const std::uint32_t want = static_cast<std::uint32_t>(count) * kBytesPerSector;
    std::uint32_t got = 0;
    errno = 0;
    const bool read = reader.Read(buffer.data(), want, &got);
    if (!read || got < want) {
      // The file ended (or failed) before the track: what follows would be
      // silence the user never recorded.
      const int err = errno;
      failure_ = track + (err != 0 && !read ? std::string("файл не читается: ") + std::strerror(err)
                                            : std::string("файл кончился раньше, чем при подготовке записи"));
      return false;
    }
    if (normalize_) ApplyGain(buffer.data(), want, gain);
    if (!Ok(WriteSectors(t, buffer.data(), current, static_cast<std::uint16_t>(count), kBytesPerSector))) {
      ++errorCount_;
      failure_ = track + "привод не записал секторы " + std::to_string(current) + "–" +
                 std::to_string(current + count - 1) + ": " + DriveReason();
      if (progress_) progress_(current, trackStart, errorCount_, trackEnd);
      return false;
    }
    current += count;
  }
  reader.Close();
  return current >= trackEnd;
}

bool Recorder::CloseSession() {
  failure_.clear();
  if (Ok(sonarvex::CloseSession(CurrentTransport()))) return true;
  failure_ = "привод не закрыл сессию: " + DriveReason();
  return false;
}
bool Recorder::BlankMinimal() { return Ok(BlankDisc(CurrentTransport(), 1)); }
bool Recorder::BlankFull() { return Ok(BlankDisc(CurrentTransport(), 0)); }
bool Recorder::DoOPC() { return Ok(SendOPC(CurrentTransport())); }
bool Recorder::SetSpeed(int factor) { return Ok(SetWriteSpeed(CurrentTransport(), factor)); }
bool Recorder::Lock(bool lock) { return Ok(LockMedium(CurrentTransport(), lock)); }
bool Recorder::Eject(bool eject) { return Ok(StartStopUnit(CurrentTransport(), eject)); }
bool Recorder::IsReady() { return CurrentTransport().TestUnitReady(); }

bool Recorder::MediaChanged() {
  const std::uint8_t state = IsReady() ? 1 : 0;
  const bool changed = state != mediaState_;
  mediaState_ = state;
  return changed;
}

int Recorder::WaitReady() {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitReadyLimitMs_);
  int result;
  while ((result = TestUnitReadySense(CurrentTransport())) == 2) {
    if (std::chrono::steady_clock::now() >= limit) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return result;
}

bool Recorder::DiscInfo(std::uint8_t (&buffer)[kDiscInfoLength]) {
  return Ok(ReadDiscInfo(CurrentTransport(), buffer));
}

int Recorder::Mechanism() { return MechanismStatus(CurrentTransport()); }

Recorder::DiscState Recorder::ReadDiscState() {
  DiscState s;
  s.ready = IsReady();
  if (s.ready) {
    std::uint8_t info[kDiscInfoLength] = {};
    DiscInfo(info);
    s.status = info[2] & 0x03;
    s.erasable = (info[2] & 0x10) != 0;
  }
  return s;
}

}  // namespace sonarvex
