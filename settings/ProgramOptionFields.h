// The options of sonarvex.ini by dotted names, "Section.Key" as the file
// holds them ("FLAC.Level", "AccurateRip.Server", "Rip.Workers",
// "Rip.Format", "ReadOffset.N" for the drive numbered N): "settings show"
// lists them after the record's fields and "settings set" changes them with
// the checks of the settings dialog. Names are matched in any letter case.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "settings/ProgramOptions.h"

namespace sonarvex {

// Every option in a fixed order as NAME and VALUE texts; one ReadOffset.N
// per drive of driveNames (N: its place there).
std::vector<std::pair<std::string, std::string>> ProgramOptionValues(
    const ProgramOptions& o, const std::vector<std::string>& driveNames);

// Whether "NAME=VALUE" names an option of sonarvex.ini (a dotted name) rather
// than a field of the settings record.
bool IsProgramOptionAssignment(const std::string& assignment);

// Applies "NAME=VALUE" assignments, all or nothing: the first one refused
// leaves o as it was and gives the reason (one line, Russian).
std::optional<std::string> SetProgramOptionFields(ProgramOptions& o,
                                                  const std::vector<std::string>& assignments,
                                                  const std::vector<std::string>& driveNames);

}  // namespace sonarvex
