// The software drive's command interpreter. The input is a drive set-up
// followed by a script of commands:
//   byte 0      bit 0 recorder capabilities, bit 1 no disc at the start,
//               bits 2..3 commands answering "becoming ready",
//               bits 4..5 a short read of that many x 100 bytes,
//               bit 6 jittered reads, bit 7 medium removed after 3 reads
//   bytes 1..2  accepted read forms (9 bits)
// then each command:
//   byte        0xFF: a tray/plug action chosen by the next byte;
//               else bits 0..1 block length (6, 10, 12, 16),
//               bits 2..3 direction (none, in, out, in), bits 4..7 clock step
//   2 bytes     transfer length, little-endian (at most 0xFFFF)
//   block bytes, then for data out the bytes sent (zero-padded).
// The drive must never write outside the buffer, and its replies must be
// consistent (see Check).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "drive/ScsiDevice.h"
#include "drive/virtual/VirtualDisc.h"
#include "drive/virtual/VirtualDrive.h"

namespace {

using namespace sonarvex;

struct Reader {
  const std::uint8_t* p;
  std::size_t n;
  bool Empty() const { return n == 0; }
  std::uint8_t Byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
};

void Check(const ScsiRequest& r, const ScsiOutcome& out) {
  if (!out.delivered) {
    if (out.status != 0) __builtin_trap();
    return;
  }
  if (out.residual > r.length) __builtin_trap();
  if (out.status == 2) {
    // CHECK CONDITION carries fixed-format sense with a key.
    if ((out.sense[0] & 0x7E) != 0x70) __builtin_trap();
    if (SenseKey(out.sense.data()) == 0) __builtin_trap();
  } else if (out.status != 0) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  const std::uint8_t setup = in.Byte();
  VirtualDriveConfig config;
  config.acceptedReadForms = static_cast<std::uint16_t>((in.Byte() | in.Byte() << 8) & 0x1FF);
  config.capabilities = VirtualDriveConfig::DefaultCapabilities(setup & 1);
  auto drive = std::make_shared<VirtualDrive>(config);
  std::int64_t now = 0;
  drive->SetClock([&now] { return now; });
  auto disc = [] { return BuildDisc({{900, 0, 1}, {450, 0, 1}, {300, 4, 2}}, 0); };
  if (!(setup & 2)) drive->InsertDisc(disc());
  VirtualDriveFaults faults;
  faults.notReadyCommands = setup >> 2 & 3;
  faults.shortReadBytes = (setup >> 4 & 3) * 100u;
  faults.jitterBytes = setup & 0x40 ? 4 : 0;
  faults.removeMediumAfterReads = setup & 0x80 ? 3 : -1;
  drive->SetFaults(faults);

  for (int commands = 0; commands < 64 && !in.Empty(); ++commands) {
    const std::uint8_t head = in.Byte();
    if (head == 0xFF) {
      switch (in.Byte() & 7) {
        case 0: drive->RemoveDisc(); break;
        case 1: drive->InsertDisc(disc()); break;
        case 2: drive->Unplug(); break;
        case 3: drive->Plug(); break;
        case 4: now += 60000; break;
        default: break;
      }
      continue;
    }
    static constexpr int kLengths[4] = {6, 10, 12, 16};
    std::uint8_t cdb[16] = {};
    ScsiRequest r;
    r.cdbLength = kLengths[head & 3];
    const int dir = head >> 2 & 3;
    r.direction = dir == 2 ? DataDirection::Out : dir == 0 ? DataDirection::None : DataDirection::In;
    now += (head >> 4) * 250;
    r.length = static_cast<std::uint32_t>(in.Byte() | in.Byte() << 8);
    for (int i = 0; i < r.cdbLength; ++i) cdb[i] = in.Byte();
    r.cdb = cdb;
    // The buffer is exactly as long as the transfer, so an overrun shows.
    std::unique_ptr<std::uint8_t[]> buffer;
    if (r.length > 0) {
      buffer = std::make_unique<std::uint8_t[]>(r.length);
      if (r.direction == DataDirection::Out)
        for (std::uint32_t i = 0; i < r.length && !in.Empty(); ++i) buffer[i] = in.Byte();
    }
    if (r.direction == DataDirection::None) r.length = 0;
    r.data = r.length ? buffer.get() : nullptr;
    const ScsiOutcome out = drive->Execute(r);
    Check(r, out);
  }
  (void)drive->GetStats();
  (void)drive->CommandLog();
  return 0;
}
