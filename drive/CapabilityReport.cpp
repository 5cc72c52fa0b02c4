#include "drive/CapabilityReport.h"

#include "drive/AspiTransport.h"
#include "drive/DeviceDirectory.h"
#include "drive/DriveCommands.h"
#include "drive/SptiTransport.h"
#include "drive/Transport.h"
#include "platform/Cp1251.h"

namespace sonarvex {

DriveCapabilities QueryCapabilities(Transport& transport) {
  DriveCapabilities caps;
  std::uint8_t inquiry[kInquiryLength] = {};
  Inquiry(transport, inquiry);
  caps.identification = Cp1251ToUtf8(IdentificationText(inquiry, 28));
  ModeSenseCapabilities(transport, caps.reply);
  if (const auto* spti = dynamic_cast<const SptiTransport*>(&transport))
    caps.unreachable = spti->Directory().Problems();
  else if (const auto* aspi = dynamic_cast<const AspiTransport*>(&transport))
    caps.unreachable = aspi->Directory().Problems();
  return caps;
}

bool HasC2Pointers(const std::uint8_t* reply, std::size_t length) {
  // Page byte 5, bit 4 (the page starts after the 8-byte header); the page
  // code must be the capabilities page's, so that a drive that answered
  // something else is not taken at its word.
  return reply && length > 13 && (reply[8] & 0x3F) == 0x2A && (reply[13] & 0x10) != 0;
}

bool DriveHasC2Pointers(Transport& transport) {
  std::uint8_t reply[kCapabilitiesBufferLength] = {};
  if (!transport.Succeeded(ModeSenseCapabilities(transport, reply))) return false;
  return HasC2Pointers(reply, sizeof reply);
}

std::vector<std::string> CapabilityReportLines(const std::string& identification,
                                               const std::uint8_t* reply, std::size_t length) {
  auto byte = [&](std::size_t at) -> std::uint8_t { return at < length && reply ? reply[at] : 0; };
  auto flag = [&](const char* label, std::size_t at, int bit) {
    return std::string(label) + ((byte(at) >> bit & 1) ? "Да" : "Нет");
  };
  std::vector<std::string> lines;
  lines.push_back("Привод : " + identification);
  lines.emplace_back();
  lines.push_back(flag("Чтение CD-DA      :       ", 13, 0));
  lines.push_back(flag("Чтение CD-R       :       ", 10, 0));
  lines.push_back(flag("Чтение CD-RW      :       ", 10, 1));
  lines.push_back(flag("Чтение мультисессионых CD:", 12, 6));
  lines.push_back(flag("Чтение DVD-ROM    :       ", 10, 3));
  lines.push_back(flag("Чтение DVD-R      :       ", 10, 4));
  lines.push_back(flag("Чтение DVD-RAM    :       ", 10, 5));
  lines.emplace_back();
  lines.push_back(flag("Запись CD-R       :       ", 11, 0));
  lines.push_back(flag("Запись CD-RW      :       ", 11, 1));
  lines.push_back(flag("Запись DVD-R      :       ", 11, 4));
  lines.push_back(flag("Запись DVD-RAM    :       ", 11, 5));
  lines.emplace_back();
  lines.push_back(flag("Тестовая запись   :       ", 11, 2));
  lines.push_back(flag("Воспроизв. звука  :       ", 12, 0));
  lines.push_back(flag("Возможность блокировки :  ", 14, 0));
  lines.push_back(flag("Извлечение дисков :       ", 14, 3));
  lines.emplace_back();
  const int kb = byte(20) << 8 | byte(21);
  lines.push_back("Размер буфера     :       " + std::to_string(kb) + " Kb");
  return lines;
}

std::vector<std::string> CapabilityReportLines(const DriveCapabilities& caps) {
  auto lines = CapabilityReportLines(caps.identification, caps.reply, sizeof caps.reply);
  if (!caps.unreachable.empty()) {
    lines.emplace_back();
    lines.push_back(kUnreachableDrivesReportHeading);
    lines.insert(lines.end(), caps.unreachable.begin(), caps.unreachable.end());
  }
  return lines;
}

}  // namespace sonarvex
