// The playback tests run without a sound card: before anything uses ALSA,
// HOME points at a temporary folder whose .asoundrc defines
// "sonarvex_capture:FILE=PATH", a device that writes what it is given, raw,
// into PATH and plays it nowhere.
#pragma once

#include <string>

namespace sonarvex::test {

// The temporary home (made once per test process).
const std::string& AlsaTestHome();
// The capture device writing into `file`.
std::string CaptureDevice(const std::string& file);
// Whether ALSA can open the capture device here; *why says why not.
bool CaptureDeviceWorks(std::string* why);

}  // namespace sonarvex::test
