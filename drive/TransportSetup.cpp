#include "drive/TransportSetup.h"

#include "drive/AspiTransport.h"
#include "drive/DriveCommands.h"
#include "drive/SptiTransport.h"
#include "platform/Cp1251.h"
#include "platform/Dialogs.h"

namespace sonarvex {

bool ChooseTransportAtStartup(AspiTransport& aspi, Dialogs& dialogs, TransportFlags& flags,
                              std::uint8_t& useSpti) {
  flags.aspiUsable = true;
  if (!aspi.Load()) {
    if (flags.platformIsNt) {
      flags.aspiUsable = false;
    } else {
      dialogs.Message(kAspiLoadFailed, kProgramTitle, MsgIcon::Error, MsgButtons::Ok);
      return false;
    }
  } else if (aspi.Enumerate() == 0) {
    if (flags.platformIsNt) {
      flags.aspiUsable = false;
      dialogs.Message(kAspiNtBroken, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
      return true;  // the stored choice stays as loaded
    }
    dialogs.Message(kAspiNoDrive, kProgramTitle, MsgIcon::Error, MsgButtons::Ok);
    aspi.Unload();
    return false;
  }
  if (!flags.platformIsNt) useSpti = 0;
  if (!flags.aspiUsable) useSpti = 1;
  if (!flags.platformIsNt) useSpti = 0;
  return true;
}

void ChooseTransportAfterSettings(SptiTransport& spti, const TransportFlags& flags,
                                  std::uint8_t& useSpti) {
  if (!useSpti && !flags.aspiUsable) useSpti = 1;
  if (useSpti && !flags.platformIsNt) useSpti = 0;
  if (!useSpti && flags.platformIsNt) {
    spti.SetCDVolume(255);
    spti.Close();
  }
}

Transport& ActiveTransport(SptiTransport& spti, AspiTransport& aspi, std::uint8_t useSpti) {
  if (useSpti) return spti;
  return aspi;
}

std::vector<DriveEntry> BuildDriveList(Transport& active, const std::uint8_t* driveTypes,
                                       int& driveIndex) {
  std::vector<DriveEntry> list;
  const int stored = driveIndex >= 0 && driveIndex < 16 ? driveIndex : 0;
  const std::uint8_t type = driveTypes ? driveTypes[stored] : 0;
  const bool spti = active.Kind() == TransportKind::Spti;
  for (int n = 0; n < kMaxDriveNumbers; ++n) {
    if (!active.SelectDevice(n, type)) continue;
    if (spti) active.SetCDVolume(255);
    std::uint8_t inquiry[kInquiryLength] = {};
    if (!active.Succeeded(Inquiry(active, inquiry))) continue;
    list.push_back(DriveEntry{n, Cp1251ToUtf8(IdentificationText(inquiry, 24))});
  }
  if (spti) active.Close();
  if (driveIndex >= static_cast<int>(list.size())) driveIndex = static_cast<int>(list.size()) - 1;
  if (driveIndex < 0) driveIndex = list.empty() ? -1 : 0;
  if (driveIndex >= 0) {
    const std::uint8_t t = driveTypes && driveIndex < 16 ? driveTypes[driveIndex] : 0;
    active.SelectDevice(list[static_cast<std::size_t>(driveIndex)].device, t);
  }
  return list;
}

}  // namespace sonarvex
