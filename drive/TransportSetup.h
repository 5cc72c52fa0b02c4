// Choosing between the two transports at start-up and after the settings
// dialog, and building the main window's drive list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sonarvex {

class AspiTransport;
class Dialogs;
class SptiTransport;
class Transport;

inline constexpr const char* kAspiLoadFailed =
    "Не удалось загрузить библиотеку WNASPI32.DLL\nПереустановите  ASPI Manager!!!";
inline constexpr const char* kAspiNtBroken =
    "ASPI Manager для NT установлен не корректно!\nСрочно переустановить!!!";
inline constexpr const char* kAspiNoDrive =
    "Программа не нашла устройство CDROM.\nПереустановите ASPI Manager.";

struct TransportFlags {
  // Linux always has the pass-through interface; false only in tests of the
  // other branch.
  bool platformIsNt = true;
  bool aspiUsable = true;
};

// The start-up choice. Loads and enumerates the generic transport, shows the
// messages, and adjusts useSpti (the setting). Returns false when the program
// must end (only possible when platformIsNt is false).
bool ChooseTransportAtStartup(AspiTransport& aspi, Dialogs& dialogs, TransportFlags& flags,
                              std::uint8_t& useSpti);

// After the settings dialog changed the choice.
void ChooseTransportAfterSettings(SptiTransport& spti, const TransportFlags& flags,
                                  std::uint8_t& useSpti);

// The transport the setting selects.
Transport& ActiveTransport(SptiTransport& spti, AspiTransport& aspi, std::uint8_t useSpti);

struct DriveEntry {
  int device = 0;    // the number/index to select on the active transport
  std::string name;  // inquiry bytes 8..31 (UTF-8), trailing blanks kept
};

inline constexpr int kMaxDriveNumbers = 8;

// Probes device numbers 0..7 on the active transport (on SPTI each opened
// device also gets volume 255) and lists those that answer INQUIRY. Then
// closes the SPTI device, puts driveIndex into range (the last entry when it
// is beyond it; -1 when the list is empty) and selects that drive with its
// stored drive type. driveTypes: the settings' per-drive types (16).
std::vector<DriveEntry> BuildDriveList(Transport& active, const std::uint8_t* driveTypes,
                                       int& driveIndex);

}  // namespace sonarvex
