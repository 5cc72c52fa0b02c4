// What the encoder and conversion benchmarks share: music-like test audio,
// a program run to its end, and the wall time of a piece of work.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sonarvex::bench {

// A CD-format WAV of `seconds` of music-like material: a few drifting
// partials with noise, so that encoders have real work to do. Exits the
// benchmark when the file cannot be made.
void MakeMusicWav(const std::string& path, int seconds);

// Runs the program args[0] (looked up in PATH) with the arguments and waits
// for it; true when it ran and exited with 0.
bool RunProgram(const std::vector<std::string>& args);

// The seconds `work` took on the monotonic clock.
double Seconds(const std::function<void()>& work);

}  // namespace sonarvex::bench
