// The settings record by its field names, for a machine without a display:
// "settings show" lists the fields, "settings set FIELD=VALUE..." changes
// them with the checks of the settings dialog (the same ranges, the same
// folder and format string rules, the same messages), and the one-run
// overrides of the command line (--out, --name, --bitrate, --vbr,
// --ogg-quality) go through the same checks.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "codec/FormatOptions.h"
#include "records/RecordTexts.h"
#include "records/SettingsRecord.h"

namespace sonarvex {

// What the checks need to know of the program; 0 = not known (any index).
struct SettingsLimits {
  int DriveCount = 0;      // DriveIndex < DriveCount
  int AcmFormatCount = 0;  // AcmFormatIndex < AcmFormatCount
};

// Every field in record order, as NAME and VALUE texts (UTF-8). Flags are 0
// or 1; the proxy password is shown as "***" when set.
std::vector<std::pair<std::string, std::string>> SettingsFieldValues(const SettingsRecord& s);

// Applies "FIELD=VALUE" assignments to s, all or nothing: the first value
// refused leaves s as it was and gives the reason (one line, Russian).
// After the assignments the dialog's OK rules apply: NameHasTitle when no
// name part is chosen, ProxyEnabled from the proxy host, VbrEnabled from
// the VBR method, and a format string in use must be valid.
// texts: the full texts kept beside the record; with them the output folder
// may be in any script (without, it must fit code page 1251).
std::optional<std::string> SetSettingsFields(SettingsRecord& s,
                                             const std::vector<std::string>& assignments,
                                             const SettingsLimits& limits = {},
                                             RecordTexts* texts = nullptr);

// The one-run overrides. Each returns the reason when the value is refused.
// kind: the output of the rip, an OutputKind value (0 WAV, 1 MP3, 2 WMA,
// 3 Ogg, 4 FLAC, 5 Opus).
std::optional<std::string> OverrideOutputFolder(SettingsRecord& s, const std::string& folder,
                                                RecordTexts* texts = nullptr);
std::optional<std::string> OverrideNameFormat(SettingsRecord& s, const std::string& format);
// A format that keeps its bitrate beside the record (Opus) sets it in
// options; without them such a bitrate is refused.
std::optional<std::string> OverrideBitrate(SettingsRecord& s, int kind, int kbits,
                                           FormatOptions* options = nullptr);
std::optional<std::string> OverrideVbr(SettingsRecord& s, int kind, int quality);
std::optional<std::string> OverrideOggQuality(SettingsRecord& s, int kind, int position);

}  // namespace sonarvex
