#include "recording/Recorder.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "codec/SampleOps.h"
#include "codec/WavSourceReader.h"
#include "drive/AspiTransport.h"
#include "drive/DriveCommands.h"
#include "drive/SptiTransport.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"

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

bool Recorder::SendCUEToCD() {
  if (files_.empty()) return false;
  // A disc holds at most 99 tracks: more cannot be put into a cue sheet.
  if (static_cast<int>(files_.size()) > kMaxTracks) return false;
  trackTable_.assign(1, 0);
  for (const auto& path : files_) {
    WavSourceReader reader;
    if (reader.Open(path, false) != WavSourceReader::kUsable) {
      dialogs_.Message("Невозможно открыть для чтения файл '" + path + "'!", kRecorderMessageCaption,
                       MsgIcon::Error, MsgButtons::Ok);
      return false;
    }
    const auto sectors = static_cast<std::int32_t>(reader.DataByteCount() / kBytesPerSector);
    trackTable_.push_back(trackTable_.back() + sectors);
    reader.Close();
  }
  cueSheet_ = BuildCueSheet(trackTable_);
  return Ok(SendCueSheet(CurrentTransport(), cueSheet_.data(), static_cast<std::uint32_t>(cueSheet_.size() / 8)));
}

std::size_t Recorder::WriteBufferBytes(int sectorsPerWrite) {
  return sectorsPerWrite < 75 ? kSmallBufferBytes
                              : static_cast<std::size_t>(sectorsPerWrite) * kBytesPerSector;
}

bool Recorder::WriteTrack(int index, int sectorsPerWrite, const std::atomic<bool>& cancel) {
  if (cancel.load()) return false;
  if (index < 0 || index >= static_cast<int>(files_.size()) ||
      index + 1 >= static_cast<int>(trackTable_.size()) || sectorsPerWrite <= 0)
    return false;
  WavSourceReader reader;
  if (reader.Open(files_[static_cast<std::size_t>(index)], false) != WavSourceReader::kUsable) return false;
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
    for (std::int32_t lba = -150; lba < 0; lba += 5)
      if (!Ok(WriteSectors(t, buffer.data(), lba, 5, kBytesPerSector))) ++errorCount_;
    WaitReady();
    if (status_) status_(previous);
  }

  std::int32_t current = trackStart;
  std::int32_t count = sectorsPerWrite;
  const double gain = index < static_cast<int>(gains_.size()) ? gains_[static_cast<std::size_t>(index)] : 1.0;
  while (current < trackEnd && !cancel.load()) {
    if (trackEnd - current < count) count = trackEnd - current;
    if (progress_) progress_(current, trackStart, errorCount_, trackEnd);
    const std::uint32_t want = static_cast<std::uint32_t>(count) * kBytesPerSector;
    std::uint32_t got = 0;
    if (!reader.Read(buffer.data(), want, &got)) got = 0;
    if (got < want) std::memset(buffer.data() + got, 0, want - got);
    if (normalize_) ApplyGain(buffer.data(), want, gain);
    if (got == 0) break;
    if (!Ok(WriteSectors(t, buffer.data(), current, static_cast<std::uint16_t>(count), kBytesPerSector)))
      ++errorCount_;
    current += sectorsPerWrite;
  }
  reader.Close();
  return true;
}

bool Recorder::CloseSession() { return Ok(sonarvex::CloseSession(CurrentTransport())); }
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
