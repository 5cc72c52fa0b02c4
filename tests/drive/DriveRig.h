// Test rig: software drives reached through the real transports.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "drive/AspiTransport.h"
#include "drive/DeviceDirectory.h"
#include "drive/SptiTransport.h"
#include "drive/virtual/VirtualDrive.h"

namespace sonarvex::test {

struct DriveRig {
  DeviceDirectory directory{false};
  std::vector<std::shared_ptr<VirtualDrive>> drives;
  SptiTransport spti{directory};
  AspiTransport aspi{directory};
  std::int64_t now = 0;

  explicit DriveRig(std::vector<VirtualDisc> discs = {}, VirtualDriveConfig config = {}) {
    for (auto& disc : discs) AddDrive(std::move(disc), config);
  }

  std::shared_ptr<VirtualDrive> AddDrive(VirtualDisc disc, VirtualDriveConfig config = {}) {
    auto d = std::make_shared<VirtualDrive>(config);
    d->InsertDisc(std::move(disc));
    d->SetClock([this] { return now; });
    std::uint8_t tur[6] = {};
    ScsiRequest r;
    r.cdb = tur;
    r.cdbLength = 6;
    d->Execute(r);  // takes the medium-changed notice of the insertion
    directory.AddVirtual(d);
    drives.push_back(d);
    if (aspi.Loaded()) aspi.Unload();
    aspi.Load();
    aspi.Enumerate();
    return d;
  }

  VirtualDrive& Drive(int i = 0) { return *drives[static_cast<std::size_t>(i)]; }

  Transport& Get(TransportKind kind, int device = 0, std::uint8_t driveType = 0) {
    Transport& t = kind == TransportKind::Spti ? static_cast<Transport&>(spti) : aspi;
    t.SelectDevice(device, driveType);
    return t;
  }
};

inline std::string MakeTempFolder() {
  char tmpl[] = "/tmp/sonarvex-drive-XXXXXX";
  const char* p = mkdtemp(tmpl);
  return p ? std::string(p) : std::string("/tmp");
}

inline std::string KindName(const testing::TestParamInfo<TransportKind>& info) {
  return info.param == TransportKind::Spti ? "Spti" : "Aspi";
}

}  // namespace sonarvex::test
