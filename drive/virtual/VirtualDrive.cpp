#include "drive/virtual/VirtualDrive.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <cstdio>

#include "drive/CommandBlock.h"
#include "drive/virtual/CueImage.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"

namespace sonarvex {

namespace {

constexpr std::size_t kLogLimit = 4096;

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::uint32_t Be16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] << 8 | p[1]); }
std::int32_t Be32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 24 |
                                   static_cast<std::uint32_t>(p[1]) << 16 |
                                   static_cast<std::uint32_t>(p[2]) << 8 | p[3]);
}
void PutBe16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
void PutBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  PutBe16(p + 2, v);
}
// An address in MSF (0, M, S, F) or LBA form.
void PutAddress(std::uint8_t* p, std::int32_t lba, bool msf) {
  if (!msf) {
    PutBe32(p, static_cast<std::uint32_t>(lba));
    return;
  }
  const std::int32_t a = std::max<std::int32_t>(0, lba + 150);
  p[0] = 0;
  p[1] = static_cast<std::uint8_t>(std::min<std::int32_t>(a / 4500, 255));
  p[2] = static_cast<std::uint8_t>((a / 75) % 60);
  p[3] = static_cast<std::uint8_t>(a % 75);
}
void PutText(std::uint8_t* p, const std::string& s, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) p[i] = i < s.size() ? static_cast<std::uint8_t>(s[i]) : ' ';
}

constexpr std::size_t kVendorLength = 8, kProductLength = 16;
constexpr char kEllipsis = '\x85';  // "…" in CP1251

// The file name of an image as the drive list shows it: CP1251, without
// ".cue", control characters as '?', at most `room` characters (the middle
// given up for "…").
std::string ImageLabel(const std::string& imagePath, std::size_t room) {
  std::string name = imagePath.substr(imagePath.find_last_of('/') + 1);
  if (name.size() > 4) {
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (ext == ".cue") name.resize(name.size() - 4);
  }
  name = Utf8ToCp1251(name);
  for (char& c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || u == 0x98) c = '?';
  }
  if (name.size() <= room) return name;
  if (room < 3) return name.substr(0, room);
  const std::size_t tail = room / 3;
  const std::size_t head = room - 1 - tail;
  return name.substr(0, head) + kEllipsis + name.substr(name.size() - tail);
}

std::uint8_t Bcd(int v) { return static_cast<std::uint8_t>((v / 10) << 4 | (v % 10)); }

// The CRC of Q sections (CRC-16, x^16 + x^12 + x^5 + 1, over the 80 bits of
// control, ADR and data, most significant bit first), before inversion.
std::uint16_t QSectionCrc(const std::uint8_t* q) {
  std::uint32_t reg = 0;
  for (int bit = 0; bit < 80 + 16; ++bit) {
    const int in = bit < 80 ? (q[bit / 8] >> (7 - bit % 8)) & 1 : 0;
    reg = reg << 1 | static_cast<std::uint32_t>(in);
    if (reg & 0x10000) reg ^= 0x11021;
  }
  return static_cast<std::uint16_t>(reg);
}

// Bits written most significant first into q[1..8].
class QBits {
 public:
  explicit QBits(std::uint8_t* q) : q_(q) {}
  void Put(int value, int bits) {
    for (int b = bits - 1; b >= 0; --b, ++at_)
      if ((value >> b) & 1) q_[1 + at_ / 8] |= static_cast<std::uint8_t>(0x80 >> (at_ % 8));
  }

 private:
  std::uint8_t* q_;
  int at_ = 0;
};

}  // namespace

void FormattedSubQ(const VirtualDisc& disc, std::int32_t lba, std::uint8_t (&q)[16]) {
  std::memset(q, 0, sizeof q);
  const VirtualTrack* track = nullptr;
  int index = 1;
  for (const auto& t : disc.tracks)
    if (t.pregapSectors > 0 && lba >= t.startLba - t.pregapSectors && lba < t.startLba) {
      track = &t;
      index = 0;
      break;
    }
  if (!track) {
    track = disc.TrackAt(lba);
    // INDEX 02 and later: the relative time still counts from INDEX 01.
    if (track)
      for (std::int32_t at : track->indexLbas)
        if (lba >= at) ++index;
  }
  if (!track && !disc.tracks.empty() && lba < disc.tracks.front().startLba) {
    track = &disc.tracks.front();
    index = 0;
  }
  const std::int32_t absolute = std::max<std::int32_t>(0, lba + 150);
  const int control = track ? track->control & 0x0F : disc.tracks.empty() ? 0 : disc.tracks.back().control & 0x0F;
  // Only codes of their right length are recorded (a disc built in code may
  // hold anything there).
  if (track && disc.catalog.size() == 13 && absolute % 100 == kCatalogQPhase) {
    q[0] = static_cast<std::uint8_t>(control << 4 | 2);
    QBits bits(q);
    for (char c : disc.catalog) bits.Put(c - '0', 4);
    q[9] = Bcd(absolute % 75);
  } else if (track && index != 0 && track->isrc.size() == 12 && absolute % 100 == kIsrcQPhase) {
    q[0] = static_cast<std::uint8_t>(control << 4 | 3);
    QBits bits(q);
    for (int i = 0; i < 5; ++i) bits.Put(track->isrc[static_cast<std::size_t>(i)] - '0', 6);
    bits.Put(0, 2);
    for (int i = 5; i < 12; ++i) bits.Put(track->isrc[static_cast<std::size_t>(i)] - '0', 4);
    q[9] = Bcd(absolute % 75);
  } else {
    // The lead-out (and anything beyond the tracks) is track AA.
    const bool leadOut = !track;
    const std::int32_t relative = leadOut ? std::max(0, lba - disc.leadOutLba)
                                  : index == 0 ? track->startLba - lba
                                               : lba - track->startLba;
    q[0] = static_cast<std::uint8_t>(control << 4 | 1);
    q[1] = leadOut ? 0xAA : Bcd(track->number);
    q[2] = Bcd(index);
    q[3] = Bcd(std::min(relative / 4500, 99));
    q[4] = Bcd((relative / 75) % 60);
    q[5] = Bcd(relative % 75);
    q[7] = Bcd(std::min(absolute / 4500, 99));
    q[8] = Bcd((absolute / 75) % 60);
    q[9] = Bcd(absolute % 75);
  }
  const std::uint16_t crc = static_cast<std::uint16_t>(~QSectionCrc(q));
  q[10] = static_cast<std::uint8_t>(crc >> 8);
  q[11] = static_cast<std::uint8_t>(crc);
}

std::array<std::uint8_t, 20> VirtualDriveConfig::DefaultCapabilities(bool recorder) {
  std::array<std::uint8_t, 20> p{};
  p[0] = 0x2A;
  p[1] = 0x12;
  p[2] = 0x03;                  // reads CD-R, CD-RW
  p[3] = recorder ? 0x07 : 0;   // writes CD-R, CD-RW, test write
  p[4] = 0x41;                  // audio play, multi-session
  // CD-DA read commands, C2 error pointers; a recorder also takes the R-W
  // sub-channel (CD-Text in the lead-in).
  p[5] = recorder ? 0x15 : 0x11;
  p[6] = 0x29;                  // lock, eject, tray loader
  p[7] = 0x03;                  // separate volume and mute per channel
  PutBe16(&p[8], 7056);         // 40x
  PutBe16(&p[10], 256);         // volume levels
  PutBe16(&p[12], 2048);        // buffer, kilobytes
  PutBe16(&p[14], 7056);
  PutBe16(&p[18], recorder ? 7056 : 0);
  return p;
}

int ReadFormOfBlock(const std::uint8_t* cdb, int cdbLength) {
  switch (cdb[0]) {
    case 0xBE: {
      if (cdbLength != 12) return -1;
      // Bits 2-1 of byte 9 ask for the C2 error information after the data.
      const std::uint8_t fields = cdb[9] & 0xF9;
      if ((cdb[1] & 0x1C) == 0x04 && fields == 0x10) return 0;
      if ((cdb[1] & 0x1C) == 0x00 && fields == 0xF8) return 7;
      if ((cdb[1] & 0x1C) == 0x00 && fields == 0x10) return 8;
      return -1;
    }
    case 0xD4: return cdbLength == 10 ? 1 : cdbLength == 12 ? 2 : -1;
    case 0xD5: return cdbLength == 10 ? 3 : -1;
    case 0xA8: return cdbLength == 12 ? 4 : -1;
    case 0xD8: return cdbLength == 12 ? 5 : -1;
    case 0x28: return cdbLength == 10 ? 6 : -1;
    default: return -1;
  }
}

VirtualDrive::VirtualDrive(VirtualDriveConfig config) : config_(std::move(config)), clock_(SteadyMs) {}

VirtualDrive::~VirtualDrive() = default;

std::shared_ptr<VirtualDrive> VirtualDrive::FromCueImage(const std::string& cuePath,
                                                         std::string* error,
                                                         VirtualDriveConfig config) {
  auto drive = std::make_shared<VirtualDrive>(std::move(config));
  drive->imagePath_ = cuePath;
  drive->NameAfterImage("CD", cuePath);
  if (auto disc = LoadCueImage(cuePath, error)) {
    drive->disc_ = std::move(*disc);
    drive->medium_ = MediumState::Complete;
  }
  return drive;
}

void VirtualDrive::SetBurnTarget(std::string cuePath, bool rewritable) {
  NameAfterImage(rewritable ? "CD-RW" : "CD-R", cuePath);
  std::lock_guard lock(mutex_);
  burnTarget_ = std::move(cuePath);
  rewritable_ = rewritable;
  LoadBurnMedium();
}

void VirtualDrive::LoadBurnMedium() {
  AbortBurn();
  disc_.reset();
  medium_ = MediumState::Blank;
  if (!FileExists(burnTarget_)) return;
  // A written image: the disc is complete (readable when the image loads).
  medium_ = MediumState::Complete;
  std::string error;
  if (auto disc = LoadCueImage(burnTarget_, &error)) disc_ = std::move(*disc);
}

void VirtualDrive::AbortBurn() {
  if (burn_.bin) burn_.bin->Abort();
  const int writeType = burn_.writeType, blockType = burn_.blockType;
  const bool testWrite = burn_.testWrite;
  burn_ = BurnState{};
  // The write parameters page stays as selected.
  burn_.writeType = writeType;
  burn_.blockType = blockType;
  burn_.testWrite = testWrite;
  if (medium_ == MediumState::Written) medium_ = MediumState::Blank;
}

MediumState VirtualDrive::Medium() const {
  std::lock_guard lock(mutex_);
  return trayOpen_ ? MediumState::None : medium_;
}

bool VirtualDrive::Erasable() const {
  std::lock_guard lock(mutex_);
  return rewritable_;
}

std::string VirtualDrive::Identification() const {
  std::lock_guard lock(mutex_);
  std::uint8_t text[kVendorLength + kProductLength];
  PutText(text, config_.vendor, kVendorLength);
  PutText(text + kVendorLength, config_.product, kProductLength);
  return std::string(reinterpret_cast<const char*>(text), sizeof text);
}

void VirtualDrive::NameAfterImage(const std::string& kind, const std::string& imagePath) {
  std::lock_guard lock(mutex_);
  config_.vendor = "Virtual";
  config_.product = kind + " ";
  const std::size_t room = kProductLength > config_.product.size() ? kProductLength - config_.product.size() : 0;
  config_.product += ImageLabel(imagePath, room);
  imageProduct_ = config_.product;
  namedAfterImage_ = true;
}

bool VirtualDrive::NamedAfterImage() const {
  std::lock_guard lock(mutex_);
  return namedAfterImage_;
}

void VirtualDrive::NumberName(int n) {
  std::lock_guard lock(mutex_);
  const std::string suffix = " " + std::to_string(n);
  std::string product = (namedAfterImage_ ? imageProduct_ : config_.product).substr(0, kProductLength);
  while (!product.empty() && product.back() == ' ') product.pop_back();
  if (product.size() + suffix.size() > kProductLength) product.resize(kProductLength - suffix.size());
  config_.product = product + suffix;
}

void VirtualDrive::InsertDisc(VirtualDisc disc) {
  std::lock_guard lock(mutex_);
  AbortBurn();
  disc_ = std::move(disc);
  medium_ = MediumState::Complete;
  trayOpen_ = false;
  mediumChanged_ = true;
  play_ = {};
}

void VirtualDrive::RemoveDisc() {
  std::lock_guard lock(mutex_);
  AbortBurn();
  disc_.reset();
  medium_ = MediumState::None;
  trayOpen_ = true;
  play_ = {};
}

bool VirtualDrive::TrayOpen() const {
  std::lock_guard lock(mutex_);
  return trayOpen_;
}
bool VirtualDrive::HasDisc() const {
  std::lock_guard lock(mutex_);
  return medium_ != MediumState::None && !trayOpen_;
}
bool VirtualDrive::Locked() const {
  std::lock_guard lock(mutex_);
  return locked_;
}

void VirtualDrive::Unplug() {
  std::lock_guard lock(mutex_);
  attached_ = false;
  wake_.notify_all();
}
void VirtualDrive::Plug() {
  std::lock_guard lock(mutex_);
  attached_ = true;
}
bool VirtualDrive::Attached() const {
  std::lock_guard lock(mutex_);
  return attached_;
}

void VirtualDrive::SetFaults(const VirtualDriveFaults& faults) {
  std::lock_guard lock(mutex_);
  faults_ = faults;
  flakyReads_.clear();
  wake_.notify_all();
}
void VirtualDrive::SetConfig(const VirtualDriveConfig& config) {
  std::lock_guard lock(mutex_);
  config_ = config;
}
void VirtualDrive::SetReadPacing(std::function<std::int64_t()> clockUs,
                                 std::function<void(std::int64_t us)> wait) {
  std::lock_guard lock(mutex_);
  readClockUs_ = std::move(clockUs);
  readWait_ = std::move(wait);
}

void VirtualDrive::SetClock(std::function<std::int64_t()> clockMs) {
  std::lock_guard lock(mutex_);
  clock_ = clockMs ? std::move(clockMs) : std::function<std::int64_t()>(SteadyMs);
}

VirtualDrive::Stats VirtualDrive::GetStats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}
std::vector<std::vector<std::uint8_t>> VirtualDrive::CommandLog() const {
  std::lock_guard lock(mutex_);
  return log_;
}

bool VirtualDrive::SetVolume(std::uint8_t volume) {
  std::lock_guard lock(mutex_);
  stats_.volume.fill(volume);
  return true;
}

void VirtualDrive::Check(ScsiOutcome& out, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  out.status = 2;
  SetSense(out.sense, key, asc, ascq);
}

void VirtualDrive::Good(ScsiOutcome& out, const ScsiRequest& r, std::uint32_t transferred) {
  out.status = 0;
  out.sense.fill(0);
  out.residual = r.length > transferred ? r.length - transferred : 0;
}

void VirtualDrive::Reply(const ScsiRequest& r, ScsiOutcome& out, const std::uint8_t* data,
                         std::size_t size) {
  const std::size_t n = r.data ? std::min<std::size_t>(size, r.length) : 0;
  if (n) std::memcpy(r.data, data, n);
  Good(out, r, static_cast<std::uint32_t>(n));
}

bool VirtualDrive::MediumReady(ScsiOutcome& out) {
  if (trayOpen_) {
    Check(out, 2, 0x3A, 0x02);
    return false;
  }
  if (medium_ == MediumState::None) {
    Check(out, 2, 0x3A, 0x01);
    return false;
  }
  return true;
}

// A medium with something to read: a blank disc or one being written has no
// table of contents and no sectors a reader may ask for.
bool VirtualDrive::DiscReadable(ScsiOutcome& out) {
  if (!MediumReady(out)) return false;
  if (!disc_ || medium_ != MediumState::Complete) {
    Check(out, 5, 0x24, 0x00);
    return false;
  }
  return true;
}

void VirtualDrive::UpdatePlay() {
  if (!play_.playing || play_.paused) return;
  const std::int64_t elapsed = std::max<std::int64_t>(0, clock_() - play_.startedMs);
  const std::int64_t pos = play_.startLba + elapsed * 75 / 1000;
  if (pos >= play_.endLba) {
    play_.playing = false;
    play_.completedPending = true;
    play_.positionLba = play_.endLba;
  } else {
    play_.positionLba = static_cast<std::int32_t>(pos);
  }
}

ScsiOutcome VirtualDrive::Execute(const ScsiRequest& r) {
  std::unique_lock lock(mutex_);
  ScsiOutcome out;
  if (!r.cdb || r.cdbLength < 6 || r.cdbLength > 16) return out;
  ++stats_.commands;
  if (log_.size() >= kLogLimit) log_.erase(log_.begin());
  log_.emplace_back(r.cdb, r.cdb + r.cdbLength);
  if (!attached_) return out;
  if (faults_.neverAnswer) {
    const auto limit = std::chrono::milliseconds(r.timeoutMs > 0 ? r.timeoutMs : 30000);
    wake_.wait_for(lock, limit, [&] { return !faults_.neverAnswer || !attached_; });
    if (faults_.neverAnswer || !attached_) {
      out.timedOut = faults_.neverAnswer;
      return out;
    }
  }
  out.delivered = true;
  const std::uint8_t op = r.cdb[0];
  if (faults_.notReadyCommands > 0 && op != 0x12 && op != 0x03) {
    --faults_.notReadyCommands;
    Check(out, 2, 0x04, 0x01);
    lastSense_ = out.sense;
    return out;
  }
  UpdatePlay();

  const int form = ReadFormOfBlock(r.cdb, r.cdbLength);
  if (form >= 0) {
    DoRead(r, out, form, lock);
  } else {
    switch (op) {
      case 0x00:  // TEST UNIT READY
        if (!MediumReady(out)) break;
        if (mediumChanged_) {
          mediumChanged_ = false;
          Check(out, 6, 0x28, 0x00);
          break;
        }
        Good(out, r, 0);
        break;
      case 0x03: {  // REQUEST SENSE
        std::uint8_t s[18];
        std::memcpy(s, lastSense_.data(), sizeof s);
        Reply(r, out, s, std::min<std::size_t>(sizeof s, r.cdb[4]));
        break;
      }
      case 0x12: DoInquiry(r, out); break;
      case 0x1B: DoStartStop(r, out); break;
      case 0x1E:  // PREVENT/ALLOW MEDIUM REMOVAL
        locked_ = (r.cdb[4] & 0x03) != 0;
        Good(out, r, 0);
        break;
      case 0x25: {  // READ CAPACITY
        if (!DiscReadable(out)) break;
        std::uint8_t c[8];
        PutBe32(c, static_cast<std::uint32_t>(std::max(0, disc_->leadOutLba - 1)));
        PutBe32(c + 4, 2048);
        Reply(r, out, c, sizeof c);
        break;
      }
      case 0x2B: {  // SEEK
        if (!DiscReadable(out)) break;
        const std::int32_t lba = Be32(r.cdb + 2);
        if (lba < 0 || lba >= disc_->leadOutLba) {
          Check(out, 5, 0x21, 0x00);
          break;
        }
        play_ = {};
        play_.positionLba = lba;
        Good(out, r, 0);
        break;
      }
      case 0x42: DoSubChannel(r, out); break;
      case 0x43: DoReadToc(r, out); break;
      case 0x47: DoPlay(r, out); break;
      case 0x4B:  // PAUSE/RESUME
        if (!DiscReadable(out)) break;
        if (r.cdb[8] & 1) {
          if (play_.paused) {
            play_.paused = false;
            play_.playing = true;
            play_.startLba = play_.positionLba;
            play_.startedMs = clock_();
          }
        } else if (play_.playing) {
          play_.paused = true;
        }
        Good(out, r, 0);
        break;
      case 0x4E:  // STOP PLAY/SCAN
        play_.playing = false;
        play_.paused = false;
        play_.completedPending = false;
        Good(out, r, 0);
        break;
      case 0x51: DoDiscInfo(r, out); break;
      case 0x55: DoModeSelect(r, out); break;
      case 0x5A: DoModeSense(r, out); break;
      case 0xBB:  // SET CD SPEED
        stats_.readSpeed = static_cast<std::uint16_t>(Be16(r.cdb + 2));
        stats_.writeSpeed = static_cast<std::uint16_t>(Be16(r.cdb + 4));
        Good(out, r, 0);
        break;
      case 0xBD: DoMechanismStatus(r, out); break;
      case 0x2A: DoWrite(r, out, lock); break;
      case 0x35:  // SYNCHRONIZE CACHE
        if (!MediumReady(out)) break;
        Good(out, r, 0);
        break;
      case 0x54:  // SEND OPC INFORMATION
        if (!MediumReady(out)) break;
        if (!IsRecorder()) {
          Check(out, 5, 0x20, 0x00);
          break;
        }
        ++stats_.opcs;
        Good(out, r, 0);
        break;
      case 0x5B: DoCloseSession(r, out, lock); break;
      case 0x5D: DoSendCueSheet(r, out); break;
      case 0xA1: DoBlank(r, out, lock); break;
      default:
        Check(out, 5, 0x20, 0x00);
        break;
    }
  }
  lastSense_ = out.sense;
  return out;
}

void VirtualDrive::DoInquiry(const ScsiRequest& r, ScsiOutcome& out) {
  std::uint8_t d[96] = {};
  d[0] = 0x05;  // CD/DVD device
  d[1] = 0x80;  // removable
  d[2] = 0x05;
  d[3] = 0x32;
  d[4] = 91;
  PutText(d + 8, config_.vendor, 8);
  PutText(d + 16, config_.product, 16);
  PutText(d + 32, config_.revision, 4);
  const std::size_t alloc = Be16(r.cdb + 3);
  Reply(r, out, d, std::min<std::size_t>(sizeof d, alloc));
}

void VirtualDrive::DoReadToc(const ScsiRequest& r, ScsiOutcome& out) {
  if (!DiscReadable(out)) return;
  const bool msf = (r.cdb[1] & 0x02) != 0;
  int format = r.cdb[2] & 0x0F;
  if (format == 0) format = r.cdb[9] >> 6;
  const int startTrack = r.cdb[6];
  const std::size_t alloc = Be16(r.cdb + 7);
  if (format == 5) {
    // CD-Text from the lead-in. A disc without it: ILLEGAL REQUEST, INVALID
    // FIELD IN CDB, as most drives answer (some give a header alone; the
    // program takes both for "none").
    const auto& tracks = disc_->tracks;
    std::vector<std::uint8_t> packs =
        tracks.empty() ? std::vector<std::uint8_t>()
                       : EncodeCdTextPacks(disc_->cdText, tracks.front().number, tracks.back().number);
    if (packs.empty()) {
      Check(out, 5, 0x24, 0x00);
      return;
    }
    std::vector<std::uint8_t> answer(4, 0);
    PutBe16(answer.data(), static_cast<std::uint32_t>(packs.size() + 2));
    answer.insert(answer.end(), packs.begin(), packs.end());
    Reply(r, out, answer.data(), std::min(answer.size(), alloc));
    return;
  }
  if (disc_->rawToc) {
    Reply(r, out, disc_->rawToc->data(), std::min(disc_->rawToc->size(), alloc));
    return;
  }
  const auto& tracks = disc_->tracks;
  if (tracks.empty()) {
    Check(out, 5, 0x24, 0x00);
    return;
  }
  std::vector<std::uint8_t> toc(4);
  if (format == 0) {
    toc[2] = static_cast<std::uint8_t>(tracks.front().number);
    toc[3] = static_cast<std::uint8_t>(tracks.back().number);
    if (startTrack != 0xAA && startTrack > tracks.back().number) {
      Check(out, 5, 0x24, 0x00);
      return;
    }
    auto entry = [&](int number, std::uint8_t control, std::int32_t lba) {
      std::uint8_t e[8] = {};
      e[1] = static_cast<std::uint8_t>(0x10 | control);
      e[2] = static_cast<std::uint8_t>(number);
      PutAddress(e + 4, lba, msf);
      toc.insert(toc.end(), e, e + 8);
    };
    if (startTrack != 0xAA)
      for (const auto& t : tracks)
        if (t.number >= startTrack) entry(t.number, t.control, t.startLba);
    entry(0xAA, tracks.back().control, disc_->leadOutLba);
  } else if (format == 1) {
    const int last = disc_->Sessions();
    toc[2] = 1;
    toc[3] = static_cast<std::uint8_t>(last);
    const VirtualTrack* first = nullptr;
    for (const auto& t : tracks)
      if (t.session == last) {
        first = &t;
        break;
      }
    std::uint8_t e[8] = {};
    e[1] = static_cast<std::uint8_t>(0x10 | first->control);
    e[2] = static_cast<std::uint8_t>(first->number);
    PutAddress(e + 4, first->startLba, msf);
    toc.insert(toc.end(), e, e + 8);
  } else {
    Check(out, 5, 0x24, 0x00);
    return;
  }
  PutBe16(toc.data(), static_cast<std::uint32_t>(toc.size() - 2));
  Reply(r, out, toc.data(), std::min(toc.size(), alloc));
}

void VirtualDrive::DoRead(const ScsiRequest& r, ScsiOutcome& out, int form,
                          std::unique_lock<std::mutex>& lock) {
  if (!(config_.acceptedReadForms & (1u << form))) {
    Check(out, 5, 0x20, 0x00);
    return;
  }
  // READ CD with the formatted Q sub-channel: 16 bytes after each sector.
  const bool withQ = r.cdb[0] == 0xBE && (r.cdb[10] & 0x07) == 0x02;
  if (withQ && !config_.subChannelData) {
    Check(out, 5, 0x24, 0x00);
    return;
  }
  // READ CD's error field: 01b the 294 bytes of C2 error pointers after each
  // sector, 10b those and the block error byte with a pad byte (296); only
  // for a drive whose capabilities page says it has C2 pointers.
  const int errorField = r.cdb[0] == 0xBE ? (r.cdb[9] >> 1) & 0x03 : 0;
  const bool hasC2 = (config_.capabilities[5] & 0x10) != 0;
  if (errorField == 3 || (errorField != 0 && !hasC2)) {
    Check(out, 5, 0x24, 0x00);
    return;
  }
  const std::uint32_t c2Bytes = errorField == 1 ? kC2PointerBytes : errorField == 2 ? kC2PointerBytes + 2 : 0;
  if (!DiscReadable(out)) return;
  const std::int32_t lba = Be32(r.cdb + 2);
  std::uint32_t count;
  switch (form) {
    case 2: case 4: case 5: count = Be16(r.cdb + 8); break;
    case 0: case 7: case 8:
      count = static_cast<std::uint32_t>(r.cdb[6]) << 16 | Be16(r.cdb + 7);
      break;
    default: count = Be16(r.cdb + 7); break;
  }
  play_.playing = false;
  play_.paused = false;
  ++stats_.audioReads;
  const int readNo = stats_.audioReads;
  if (faults_.removeMediumAfterReads >= 0 && readNo > faults_.removeMediumAfterReads) {
    disc_.reset();
    medium_ = MediumState::None;
    trayOpen_ = true;
    Check(out, 2, 0x3A, 0x02);
    return;
  }
  if (count == 0) {
    Good(out, r, 0);
    return;
  }
  if (lba < 0 || static_cast<std::int64_t>(lba) + count > disc_->leadOutLba) {
    Check(out, 5, 0x21, 0x00);
    return;
  }
  if (faults_.failEveryNthRead > 0 && readNo % faults_.failEveryNthRead == 0) {
    Check(out, 3, 0x11, 0x00);
    return;
  }
  if (faults_.failReadsFirst >= 0 && lba <= faults_.failReadsLast &&
      lba + static_cast<std::int32_t>(count) - 1 >= faults_.failReadsFirst) {
    Check(out, 3, 0x11, 0x00);
    return;
  }
  const bool jitter = faults_.jitterBytes != 0 && readNo % 2 == 0;
  std::uint32_t limit = r.data ? r.length : 0;
  limit = limit > faults_.shortReadBytes ? limit - faults_.shortReadBytes : 0;
  std::uint32_t written = 0;
  std::vector<std::uint8_t> raw(kRawSectorBytes * 2);
  for (std::uint32_t i = 0; i < count && written < limit; ++i) {
    const std::int32_t at = lba + static_cast<std::int32_t>(i);
    const VirtualTrack* track = disc_->TrackAt(at);
    // Sectors before the first track are its pregap, and readable.
    if (!track && at >= 0 && !disc_->tracks.empty() && at < disc_->tracks.front().startLba)
      track = &disc_->tracks.front();
    if (!track) {
      Check(out, 5, 0x21, 0x00);
      return;
    }
    if (!track->Audio() && form == 0) {
      Check(out, 5, 0x64, 0x00);
      return;
    }
    const std::uint8_t* data = raw.data();
    std::uint32_t size = kRawSectorBytes;
    if (jitter) {
      // The sector as read from a position shifted by jitterBytes.
      const int shift = faults_.jitterBytes;
      const std::int32_t first = at + (shift < 0 ? -1 : 0);
      bool ok = first >= 0 && first + 1 < disc_->leadOutLba && disc_->read(first, raw.data()) &&
                disc_->read(first + 1, raw.data() + kRawSectorBytes);
      if (!ok) {
        Check(out, 3, 0x11, 0x00);
        return;
      }
      const int offset = ((shift % kRawSectorBytes) + kRawSectorBytes) % kRawSectorBytes;
      data = raw.data() + offset;
    } else if (config_.readOffsetSamples != 0 && track->Audio()) {
      // The sector as a drive with a read offset delivers it.
      const std::int64_t from = static_cast<std::int64_t>(at) * kRawSectorBytes -
                                static_cast<std::int64_t>(config_.readOffsetSamples) * 4;
      std::vector<std::uint8_t> source(kRawSectorBytes);
      std::fill(raw.begin(), raw.begin() + kRawSectorBytes, 0);
      for (std::int64_t done = 0; done < kRawSectorBytes;) {
        const std::int64_t pos = from + done;
        const std::int64_t sector = pos >= 0 ? pos / kRawSectorBytes : -((-pos + kRawSectorBytes - 1) / kRawSectorBytes);
        const std::int64_t within = pos - sector * kRawSectorBytes;
        const std::int64_t n = std::min<std::int64_t>(kRawSectorBytes - within, kRawSectorBytes - done);
        if (sector >= 0 && sector < disc_->leadOutLba) {
          if (!disc_->read(static_cast<std::int32_t>(sector), source.data())) {
            Check(out, 3, 0x11, 0x00);
            return;
          }
          std::memcpy(raw.data() + done, source.data() + within, static_cast<std::size_t>(n));
        }
        done += n;
      }
    } else if (!disc_->read(at, raw.data())) {
      Check(out, 3, 0x11, 0x00);
      return;
    }
    if (!track->Audio() && form == 8) {
      data += 16;
      size = 2048;
    }
    const std::uint32_t n = std::min(size, limit - written);
    std::memcpy(r.data + written, data, n);
    if (at == faults_.corruptSectorLba)
      for (std::uint32_t k = 100; k < n; k += 397) r.data[written + k] ^= 0x5A;
    // A flaky sector read wrong this time: the bytes changed, and which ones
    // they are for the C2 pointers.
    bool wrong = false;
    std::uint8_t change = 0;
    if (faults_.flakyFirst != VirtualDriveFaults::kNever && at >= faults_.flakyFirst &&
        at <= faults_.flakyLast) {
      const int readOfSector = flakyReads_[at]++;
      wrong = faults_.flakyWrongReads < 0 || readOfSector < faults_.flakyWrongReads;
      const int k = faults_.flakySameWrong ? 0 : readOfSector;
      change = static_cast<std::uint8_t>(1 + (0x5A + k) % 255);
    }
    if (wrong)
      for (std::uint32_t k = kFlakyFirstByte; k < n; k += kFlakyByteStep) r.data[written + k] ^= change;
    written += n;
    if (c2Bytes != 0 && written < limit) {
      std::uint8_t c2[kC2PointerBytes + 2] = {};
      if (wrong && faults_.flakyC2) {
        for (std::uint32_t k = kFlakyFirstByte; k < static_cast<std::uint32_t>(kRawSectorBytes); k += kFlakyByteStep)
          c2[k / 8] |= static_cast<std::uint8_t>(0x80 >> (k % 8));
        c2[kC2PointerBytes] = 0xFF;  // the block error byte: some pointer is set
      }
      const std::uint32_t m = std::min(c2Bytes, limit - written);
      std::memcpy(r.data + written, c2, m);
      written += m;
    }
    if (withQ && written < limit) {
      std::uint8_t q[16];
      FormattedSubQ(*disc_, at, q);
      const std::uint32_t m = std::min<std::uint32_t>(sizeof q, limit - written);
      std::memcpy(r.data + written, q, m);
      written += m;
    }
  }
  PaceRead(lock, count);
  Good(out, r, written);
}

// The read speed as a factor of 1x: the drive's own, or the lower one the
// host set (SET CD SPEED gives kB/s of 1000 bytes; 0 and FFFFh: the most).
int VirtualDrive::ReadFactor() const {
  int factor = config_.readSpeedFactor;
  if (factor <= 0) return 0;
  const std::uint32_t kb = stats_.readSpeed;
  if (kb != 0 && kb != 0xFFFF) {
    const int asked = std::max<int>(1, static_cast<int>((kb * 1000 + 88200) / 176400));
    factor = std::min(factor, asked);
  }
  return factor;
}

// A read takes the time the drive's speed gives its sectors. Reads that
// follow each other closely stream on from where the last one ended, so
// that a whole disc takes its length divided by the speed, however it is
// split into reads; a pause of the host is not made up for.
void VirtualDrive::PaceRead(std::unique_lock<std::mutex>& lock, std::uint32_t sectors) {
  const int factor = ReadFactor();
  if (factor <= 0 || sectors == 0) return;
  const std::int64_t nowUs =
      readClockUs_ ? readClockUs_()
                   : std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
  readsDoneUs_ = std::max(readsDoneUs_, nowUs) +
                 static_cast<std::int64_t>(sectors) * 1000000 / (75 * factor);
  const std::int64_t wait = readsDoneUs_ - nowUs;
  if (wait <= 0) return;
  stats_.readWaitUs += wait;
  if (readWait_) {
    auto waitFor = readWait_;
    lock.unlock();
    waitFor(wait);
    lock.lock();
  } else {
    wake_.wait_for(lock, std::chrono::microseconds(wait), [&] { return !attached_; });
  }
}

void VirtualDrive::DoPlay(const ScsiRequest& r, ScsiOutcome& out) {
  if (!DiscReadable(out)) return;
  const std::uint8_t* c = r.cdb;
  std::int32_t start = c[3] == 0xFF && c[4] == 0xFF && c[5] == 0xFF
                           ? play_.positionLba
                           : c[3] * 4500 + c[4] * 75 + c[5] - 150;
  std::int32_t end = c[6] * 4500 + c[7] * 75 + c[8] - 150;
  if (start == end) {
    Good(out, r, 0);
    return;
  }
  if (start > end) {
    Check(out, 5, 0x24, 0x00);
    return;
  }
  if (start < 0 || start >= disc_->leadOutLba) {
    Check(out, 5, 0x21, 0x00);
    return;
  }
  const VirtualTrack* track = disc_->TrackAt(start);
  if (!track || !track->Audio()) {
    Check(out, 5, 0x64, 0x00);
    return;
  }
  play_ = {};
  play_.playing = true;
  play_.startLba = start;
  play_.endLba = std::min(end, disc_->leadOutLba);
  play_.positionLba = start;
  play_.startedMs = clock_();
  Good(out, r, 0);
}

void VirtualDrive::DoSubChannel(const ScsiRequest& r, ScsiOutcome& out) {
  if (!DiscReadable(out)) return;
  const bool msf = (r.cdb[1] & 0x02) != 0;
  const bool subQ = (r.cdb[2] & 0x40) != 0;
  const std::size_t alloc = Be16(r.cdb + 7);
  // The catalogue number (02h) and a track's ISRC (03h).
  const bool code = subQ && (r.cdb[3] == 0x02 || r.cdb[3] == 0x03);
  const VirtualTrack* isrcTrack = nullptr;
  if (code) {
    if (!config_.subChannelData) {
      Check(out, 5, 0x24, 0x00);
      return;
    }
    if (r.cdb[3] == 0x03) {
      for (const auto& t : disc_->tracks)
        if (t.number == r.cdb[6]) isrcTrack = &t;
      if (!isrcTrack) {
        Check(out, 5, 0x24, 0x00);
        return;
      }
    }
  }
  std::uint8_t d[24] = {};
  if (play_.playing && !play_.paused) d[1] = 0x11;
  else if (play_.paused) d[1] = 0x12;
  else if (play_.completedPending) {
    d[1] = 0x13;
    play_.completedPending = false;
  } else {
    d[1] = 0x15;
  }
  std::size_t size = 4;
  if (subQ && r.cdb[3] == 0x01) {
    const std::int32_t pos = play_.positionLba;
    const VirtualTrack* track = disc_->TrackAt(std::min(pos, disc_->leadOutLba - 1));
    PutBe16(d + 2, 12);
    d[4] = 0x01;
    d[5] = static_cast<std::uint8_t>(0x10 | (track ? track->control : 0));
    d[6] = static_cast<std::uint8_t>(track ? track->number : 0);
    d[7] = 1;
    PutAddress(d + 8, pos, msf);
    const std::int32_t rel = track ? pos - track->startLba : 0;
    if (msf) {
      d[12] = 0;
      d[13] = static_cast<std::uint8_t>(rel / 4500);
      d[14] = static_cast<std::uint8_t>((rel / 75) % 60);
      d[15] = static_cast<std::uint8_t>(rel % 75);
    } else {
      PutBe32(d + 12, static_cast<std::uint32_t>(rel));
    }
    size = 16;
  } else if (code) {
    PutBe16(d + 2, 20);
    d[4] = r.cdb[3];
    if (r.cdb[3] == 0x02) {
      if (disc_->catalog.size() == 13) {
        d[8] = 0x80;  // MCVAL
        std::memcpy(d + 9, disc_->catalog.data(), 13);
      }
    } else {
      const bool valid = isrcTrack->isrc.size() == 12;
      d[5] = static_cast<std::uint8_t>((valid ? 0x30 : 0x10) | isrcTrack->control);
      d[6] = static_cast<std::uint8_t>(isrcTrack->number);
      if (valid) {
        d[8] = 0x80;  // TCVAL
        std::memcpy(d + 9, isrcTrack->isrc.data(), 12);
      }
    }
    size = 24;
  }
  Reply(r, out, d, std::min(size, alloc));
}

void VirtualDrive::DoStartStop(const ScsiRequest& r, ScsiOutcome& out) {
  const bool loej = (r.cdb[4] & 0x02) != 0;
  const bool start = (r.cdb[4] & 0x01) != 0;
  if (!loej) {
    Good(out, r, 0);
    return;
  }
  if (!start) {
    if (locked_) {
      Check(out, 5, 0x53, 0x02);
      return;
    }
    play_ = {};
    AbortBurn();
    trayOpen_ = true;
    Good(out, r, 0);
    return;
  }
  if (trayOpen_) {
    trayOpen_ = false;
    if (!burnTarget_.empty()) {
      LoadBurnMedium();
    } else if (!imagePath_.empty()) {
      std::string error;
      auto disc = LoadCueImage(imagePath_, &error);
      if (disc) disc_ = std::move(*disc);
      else disc_.reset();
      medium_ = disc_ ? MediumState::Complete : MediumState::None;
    }
    if (medium_ != MediumState::None) mediumChanged_ = true;
  }
  Good(out, r, 0);
}

void VirtualDrive::DoModeSense(const ScsiRequest& r, ScsiOutcome& out) {
  const int page = r.cdb[2] & 0x3F;
  if (page != 0x2A && page != 0x3F) {
    Check(out, 5, 0x24, 0x00);
    return;
  }
  std::uint8_t d[8 + 20] = {};
  PutBe16(d, sizeof d - 2);
  std::memcpy(d + 8, config_.capabilities.data(), config_.capabilities.size());
  const std::size_t alloc = Be16(r.cdb + 7);
  Reply(r, out, d, std::min<std::size_t>(sizeof d, alloc));
}

void VirtualDrive::DoModeSelect(const ScsiRequest& r, ScsiOutcome& out) {
  const std::size_t length = std::min<std::size_t>(Be16(r.cdb + 7), r.data ? r.length : 0);
  if (length < 8) {
    if (length == 0) Good(out, r, 0);
    else Check(out, 5, 0x1A, 0x00);
    return;
  }
  const std::uint8_t* p = r.data;
  std::size_t at = 8 + Be16(p + 6);  // after the header and the block descriptors
  while (at + 2 <= length) {
    const int code = p[at] & 0x3F;
    const std::size_t pageLength = p[at + 1];
    if (at + 2 + pageLength > length) {
      Check(out, 5, 0x26, 0x00);
      return;
    }
    if (code == 0x0E && pageLength >= 10) {
      stats_.volume[0] = p[at + 9];
      stats_.volume[1] = p[at + 11];
    } else if (code == 0x05 && IsRecorder()) {
      if (pageLength < 0x0E) {
        Check(out, 5, 0x26, 0x00);
        return;
      }
      const int writeType = p[at + 2] & 0x0F;
      const bool testWrite = (p[at + 2] & 0x10) != 0;
      const int blockType = p[at + 4] & 0x0F;
      // Packet, track at once, session at once, raw; test writes only where
      // the capabilities page offers them.
      if (writeType > 3 || (testWrite && !(config_.capabilities[3] & 0x04))) {
        Check(out, 5, 0x26, 0x00);
        return;
      }
      burn_.writeType = writeType;
      burn_.testWrite = testWrite;
      burn_.blockType = blockType;
      stats_.writeType = writeType;
      stats_.testWrite = testWrite;
    } else if (code != 0x05) {
      Check(out, 5, 0x26, 0x00);
      return;
    }
    at += 2 + pageLength;
  }
  Good(out, r, static_cast<std::uint32_t>(length));
}

void VirtualDrive::DoMechanismStatus(const ScsiRequest& r, ScsiOutcome& out) {
  std::uint8_t d[8] = {};
  const bool playing = play_.playing && !play_.paused;
  d[1] = static_cast<std::uint8_t>((playing ? 1 : 0) << 5 | (trayOpen_ ? 0x10 : 0));
  const std::uint32_t lba = static_cast<std::uint32_t>(std::max(0, play_.positionLba));
  d[2] = static_cast<std::uint8_t>(lba >> 16);
  d[3] = static_cast<std::uint8_t>(lba >> 8);
  d[4] = static_cast<std::uint8_t>(lba);
  const std::size_t alloc = Be16(r.cdb + 8);
  Reply(r, out, d, std::min<std::size_t>(sizeof d, alloc));
}

void VirtualDrive::DoDiscInfo(const ScsiRequest& r, ScsiOutcome& out) {
  if (!MediumReady(out)) return;
  std::uint8_t d[34] = {};
  PutBe16(d, 32);
  const std::size_t alloc = Be16(r.cdb + 7);
  const std::uint8_t erasable = rewritable_ ? 0x10 : 0x00;
  if (medium_ != MediumState::Complete || !disc_) {
    // Blank: disc status 0, last session empty; being written: status 1
    // (incomplete), session incomplete.
    const bool open = medium_ == MediumState::Written;
    d[2] = static_cast<std::uint8_t>(erasable | (open ? 0x05 : 0x00));
    if (medium_ == MediumState::Complete) d[2] = static_cast<std::uint8_t>(erasable | 0x0E);
    d[3] = 1;
    d[4] = 1;
    d[5] = 1;
    d[6] = 1;
    d[7] = 0x20;  // unrestricted use
    // Lead-in start 97:26:66 of a typical blank, last possible lead-out 79:59:74.
    d[17] = 97;
    d[18] = 26;
    d[19] = 66;
    const std::int32_t last = std::max<std::int32_t>(0, config_.lastLeadOutLba + 150);
    d[21] = static_cast<std::uint8_t>(std::min<std::int32_t>(last / 4500, 255));
    d[22] = static_cast<std::uint8_t>((last / 75) % 60);
    d[23] = static_cast<std::uint8_t>(last % 75);
    Reply(r, out, d, std::min<std::size_t>(sizeof d, alloc));
    return;
  }
  d[2] = static_cast<std::uint8_t>(0x0E | erasable);  // complete disc, last session complete
  const auto& tracks = disc_->tracks;
  const int sessions = disc_->Sessions();
  d[3] = static_cast<std::uint8_t>(tracks.empty() ? 1 : tracks.front().number);
  d[4] = static_cast<std::uint8_t>(sessions);
  for (const auto& t : tracks)
    if (t.session == sessions) {
      if (!d[5]) d[5] = static_cast<std::uint8_t>(t.number);
      d[6] = static_cast<std::uint8_t>(t.number);
    }
  std::memset(d + 16, 0xFF, 8);
  Reply(r, out, d, std::min<std::size_t>(sizeof d, alloc));
}


// Time passes for a writing or blanking drive without holding up the other
// commands (which a real drive would answer in between, or queue).
void VirtualDrive::Busy(std::unique_lock<std::mutex>& lock, std::int64_t ms) {
  if (!config_.simulateWriteTime || ms <= 0) return;
  wake_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return !attached_; });
}

// The write speed as a factor of 1x (176 kB/s); the highest the drive offers
// when the host asked for the maximum.
int VirtualDrive::WriteFactor() const {
  std::uint32_t kb = stats_.writeSpeed;
  const std::uint32_t max = Be16(config_.capabilities.data() + 18);
  if (kb == 0 || kb == 0xFFFF || (max && kb > max)) kb = max ? max : 7056;
  return std::max<int>(1, static_cast<int>(kb / 176));
}

void VirtualDrive::DoSendCueSheet(const ScsiRequest& r, ScsiOutcome& out) {
  if (!MediumReady(out)) return;
  if (!IsRecorder()) {
    Check(out, 5, 0x20, 0x00);
    return;
  }
  if (medium_ != MediumState::Blank) {
    Check(out, 5, 0x30, 0x05);  // cannot write this medium
    return;
  }
  // A cue sheet belongs to session at once with raw audio blocks.
  if (burn_.writeType != 2 || burn_.blockType != 0) {
    Check(out, 5, 0x2C, 0x00);
    return;
  }
  const std::uint32_t size = static_cast<std::uint32_t>(r.cdb[6]) << 16 | Be16(r.cdb + 7);
  if (!r.data || size > r.length) {
    Check(out, 5, 0x24, 0x00);
    return;
  }
  CueSheetProblem problem;
  auto layout = CheckCueSheet(r.data, size, &problem);
  if (!layout) {
    Check(out, 5, problem.asc, problem.ascq);
    return;
  }
  AbortBurn();
  burn_.cue = std::move(*layout);
  // With CD-Text the host writes the lead-in first.
  burn_.nextLba = burn_.cue->cdTextLeadIn ? kBlankLeadInStartLba : burn_.cue->firstLba;
  ++stats_.cueSheets;
  Good(out, r, size);
}

void VirtualDrive::DoWrite(const ScsiRequest& r, ScsiOutcome& out, std::unique_lock<std::mutex>& lock) {
  if (!MediumReady(out)) return;
  if (!IsRecorder()) {
    Check(out, 5, 0x20, 0x00);
    return;
  }
  if (!burn_.cue) {
    if (medium_ == MediumState::Complete) Check(out, 5, 0x30, 0x05);
    else Check(out, 5, 0x2C, 0x00);  // no cue sheet: nothing to write into
    return;
  }
  const std::int32_t lba = Be32(r.cdb + 2);
  const std::uint32_t count = Be16(r.cdb + 7);
  ++stats_.writes;
  if (faults_.removeMediumAfterWrites >= 0 && stats_.writes > faults_.removeMediumAfterWrites) {
    AbortBurn();
    disc_.reset();
    medium_ = MediumState::None;
    trayOpen_ = true;
    Check(out, 2, 0x3A, 0x00);
    return;
  }
  if (count == 0) {
    Good(out, r, 0);
    return;
  }
  // The lead-in (before track 1's pregap) takes 96 bytes of R-W sub-channel
  // a block, the program area raw 2352-byte audio.
  const bool leadIn = burn_.cue->cdTextLeadIn && lba < -150;
  const std::uint32_t blockBytes = leadIn ? static_cast<std::uint32_t>(kRwBlockBytes) : kRawSectorBytes;
  if (!r.data || r.length != count * blockBytes) {
    Check(out, 5, 0x24, 0x00);
    return;
  }
  if (leadIn && static_cast<std::int64_t>(lba) + count > -150) {
    Check(out, 5, 0x21, 0x02);  // a write across the end of the lead-in
    return;
  }
  // Session at once: every block in order, from the first track's pregap to
  // the lead-out.
  if (lba != burn_.nextLba || static_cast<std::int64_t>(lba) + count > burn_.cue->leadOutLba) {
    Check(out, 5, 0x21, 0x02);  // invalid address for write
    return;
  }
  // The blank holds no more than it holds.
  if (static_cast<std::int64_t>(lba) + count > config_.lastLeadOutLba) {
    Check(out, 5, 0x21, 0x00);
    return;
  }
  if (!burn_.started) {
    burn_.started = true;
    if (!burn_.testWrite) {
      const std::string binPath = BinPathForCue(burnTarget_) + ".part";
      RemoveStalePartial(binPath);
      burn_.bin = std::make_unique<OutputFile>();
      if (WriteResult created = burn_.bin->Create(binPath); !created) {
        burn_.bin.reset();
        burn_.started = false;
        Check(out, 3, 0x0C, 0x00);
        out.detail = created.message;
        return;
      }
      medium_ = MediumState::Written;
    }
  }
  if (leadIn) {
    for (std::uint32_t b = 0; b < count; ++b)
      for (std::size_t p = 0; p < 4; ++p) {
        std::array<std::uint8_t, 18> pack{};
        RwSymbolsToPack(r.data + b * kRwBlockBytes + p * kRwPackSymbols, pack.data());
        const std::uint16_t crc = CdTextPackCrc(pack.data());
        if (pack[16] != (crc >> 8) || pack[17] != (crc & 0xFF) || pack[0] < 0x80 || pack[0] > 0x8F) continue;
        burn_.leadInPacks.emplace(((pack[3] >> 4) & 0x07) * 256 + pack[2], pack);
      }
    burn_.nextLba = lba + static_cast<std::int32_t>(count);
    // The program area follows (from track 1's pregap, or its INDEX 01).
    if (burn_.nextLba == -150) burn_.nextLba = burn_.cue->firstLba;
    stats_.writtenSectors += static_cast<int>(count);
    Busy(lock, static_cast<std::int64_t>(count) * 1000 / (75 * WriteFactor()));
    Good(out, r, r.length);
    return;
  }
  const bool fail = faults_.failWriteAtLba != VirtualDriveFaults::kNever &&
                    faults_.failWriteAtLba >= lba &&
                    faults_.failWriteAtLba < lba + static_cast<std::int32_t>(count);
  WriteResult stored;
  if (burn_.bin) {
    // The pregap before LBA 0 has no place in the image; a failed write
    // leaves its sectors silent, as the laser left them unusable.
    const std::int32_t skip = std::max<std::int32_t>(0, -lba);
    if (skip < static_cast<std::int32_t>(count)) {
      const std::size_t bytes = static_cast<std::size_t>(count - static_cast<std::uint32_t>(skip)) * kRawSectorBytes;
      if (fail) {
        std::vector<std::uint8_t> zero(bytes, 0);
        stored = burn_.bin->Write(zero.data(), bytes);
      } else {
        stored = burn_.bin->Write(r.data + static_cast<std::size_t>(skip) * kRawSectorBytes, bytes);
      }
    }
  }
  burn_.nextLba = lba + static_cast<std::int32_t>(count);
  stats_.writtenSectors += static_cast<int>(count);
  Busy(lock, static_cast<std::int64_t>(count) * 1000 / (75 * WriteFactor()));
  if (fail || !stored) {
    ++stats_.writeErrors;
    Check(out, 3, 0x0C, 0x00);
    // The image file could not take the sectors (its file system is full,
    // say): the reason goes with the sense.
    if (!stored) out.detail = stored.message;
    return;
  }
  Good(out, r, r.length);
}

void VirtualDrive::DoCloseSession(const ScsiRequest& r, ScsiOutcome& out,
                                  std::unique_lock<std::mutex>& lock) {
  if (!MediumReady(out)) return;
  if (!IsRecorder()) {
    Check(out, 5, 0x20, 0x00);
    return;
  }
  ++stats_.sessionsClosed;
  if (!burn_.cue || !burn_.started || burn_.testWrite) {
    // Nothing written (or a test write): the disc stays as it was.
    AbortBurn();
    Good(out, r, 0);
    return;
  }
  Busy(lock, 500);
  const CueSheetLayout cue = *burn_.cue;
  const std::int32_t end = std::min(burn_.nextLba, cue.leadOutLba);
  if (end <= 0 || !burn_.bin) {
    // Only the pregap was written: no track to close.
    AbortBurn();
    Good(out, r, 0);
    return;
  }
  // A session closed early (the host stopped writing) ends where the data
  // ends: the tracks not reached are not on the disc.
  const std::string binPath = BinPathForCue(burnTarget_);
  const std::string partPath = burn_.bin->Path();
  WriteResult done = burn_.bin->Finish(true);
  burn_.bin.reset();
  bool renamed = false;
  if (done.Ok()) {
    renamed = std::rename(partPath.c_str(), binPath.c_str()) == 0;
    if (!renamed) done = WriteResult::Failure(CreateFailureText(binPath, errno));
  }
  if (done.Ok()) {
    ClearOwnMark(binPath);
    const std::string binName = binPath.substr(binPath.find_last_of('/') + 1);
    // The CD-Text the lead-in carried, as a drive reading the disc would
    // take it.
    std::optional<CdText> text;
    if (!burn_.leadInPacks.empty()) {
      std::vector<std::uint8_t> answer(4, 0);
      for (const auto& [key, pack] : burn_.leadInPacks) answer.insert(answer.end(), pack.begin(), pack.end());
      PutBe16(answer.data(), static_cast<std::uint32_t>(answer.size() - 2));
      text = ParseCdTextAnswer(answer.data(), answer.size());
    }
    if (!WriteFileAtomically(burnTarget_, WrittenCueText(cue, end, binName, text ? &*text : nullptr)))
      done = WriteResult::Failure(CreateFailureText(burnTarget_, errno));
  }
  if (!done.Ok()) {
    std::remove(renamed ? binPath.c_str() : partPath.c_str());
    AbortBurn();
    // The session stays open: the disc is neither blank nor complete.
    medium_ = MediumState::Written;
    Check(out, 3, 0x0C, 0x00);
    out.detail = done.message;
    return;
  }
  burn_.cue.reset();
  burn_.started = false;
  LoadBurnMedium();
  Good(out, r, 0);
}

void VirtualDrive::DoBlank(const ScsiRequest& r, ScsiOutcome& out, std::unique_lock<std::mutex>& lock) {
  if (!MediumReady(out)) return;
  if (!IsRecorder()) {
    Check(out, 5, 0x20, 0x00);
    return;
  }
  if (!rewritable_) {
    Check(out, 5, 0x30, 0x05);  // a CD-R cannot be blanked
    return;
  }
  const int type = r.cdb[1] & 0x07;
  if (type > 1) {
    Check(out, 5, 0x24, 0x00);
    return;
  }
  ++stats_.blanks;
  Busy(lock, type == 0 ? 3000 : 1000);
  AbortBurn();
  const std::string binPath = BinPathForCue(burnTarget_);
  std::remove(burnTarget_.c_str());
  std::remove(binPath.c_str());
  RemoveStalePartial(binPath + ".part");
  disc_.reset();
  medium_ = MediumState::Blank;
  Good(out, r, 0);
}

}  // namespace sonarvex
