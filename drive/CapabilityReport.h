// The drive capability report: the lines of the "Информация о приводе"
// window, decoded from the capabilities page and the identification text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sonarvex {

class Transport;

inline constexpr std::size_t kCapabilitiesBufferLength = 34;

struct DriveCapabilities {
  std::string identification;                     // inquiry bytes 8..35 (UTF-8)
  std::uint8_t reply[kCapabilitiesBufferLength] = {};  // mode header + page 2A
  // The system drives that could not be opened (DeviceDirectory::Problems).
  std::vector<std::string> unreachable;
};

// INQUIRY and MODE SENSE of page 2A on the current device; a drive that does
// not answer leaves the reply zero. The drives the transport's directory
// could not open are listed too.
DriveCapabilities QueryCapabilities(Transport& transport);

// Whether the capabilities page of a stored MODE SENSE reply (beginning with
// the 8-byte header) says the drive gives C2 error pointers with READ CD.
bool HasC2Pointers(const std::uint8_t* reply, std::size_t length);
// The same asked of the current device of the transport.
bool DriveHasC2Pointers(Transport& transport);

// The 21 report lines. `reply` is the stored MODE SENSE reply beginning with
// the 8-byte header; bytes beyond `length` read as zero.
std::vector<std::string> CapabilityReportLines(const std::string& identification,
                                               const std::uint8_t* reply, std::size_t length);
// The 21 lines, then, when some system drives could not be opened, an empty
// line, "Недоступные приводы:" and one line a drive (path and reason).
std::vector<std::string> CapabilityReportLines(const DriveCapabilities& caps);

}  // namespace sonarvex
