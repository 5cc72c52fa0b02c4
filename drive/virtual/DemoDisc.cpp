#include "drive/virtual/DemoDisc.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "drive/virtual/VirtualDisc.h"
#include "platform/Files.h"

namespace sonarvex {

namespace {

constexpr double kRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;

double Envelope(double t, double length) {
  const double fade = 0.05;
  double e = 1.0;
  if (t < fade) e = t / fade;
  if (length - t < fade) e = std::min(e, (length - t) / fade);
  return std::max(0.0, e);
}

// One stereo sample (-1..1) of a track at time t.
void Sample(int track, double t, double length, double* left, double* right) {
  double l = 0, r = 0;
  switch (track) {
    case 0: {  // A major chord with a slow tremolo
      const double trem = 0.8 + 0.2 * std::sin(2 * kPi * 4.0 * t);
      const double a = std::sin(2 * kPi * 440.0 * t), cs = std::sin(2 * kPi * 554.37 * t),
                   e = std::sin(2 * kPi * 659.25 * t);
      l = trem * (0.5 * a + 0.3 * cs);
      r = trem * (0.5 * a + 0.3 * e);
      break;
    }
    case 1: {  // arpeggio, a note every quarter second
      static const double notes[] = {261.63, 329.63, 392.0, 523.25};
      const int k = static_cast<int>(t * 4) % 4;
      const double local = std::fmod(t, 0.25);
      const double v = std::sin(2 * kPi * notes[k] * t) * std::exp(-6.0 * local);
      l = 0.7 * v;
      r = 0.7 * std::sin(2 * kPi * notes[(k + 2) % 4] * t) * std::exp(-6.0 * local);
      break;
    }
    case 2: {  // a slow sweep moving between the channels
      const double f = 200.0 + 600.0 * t / length;
      const double phase = 2 * kPi * (200.0 * t + 300.0 * t * t / length);
      (void)f;
      const double pan = 0.5 + 0.5 * std::sin(2 * kPi * 0.25 * t);
      const double v = 0.6 * std::sin(phase);
      l = v * pan;
      r = v * (1 - pan);
      break;
    }
    default: {  // bells every two seconds
      const double local = std::fmod(t, 2.0);
      const double v = std::exp(-2.5 * local) *
                       (0.5 * std::sin(2 * kPi * 880.0 * local) +
                        0.3 * std::sin(2 * kPi * 1320.0 * local) +
                        0.2 * std::sin(2 * kPi * 2217.0 * local));
      l = 0.8 * v;
      r = 0.8 * std::exp(-2.5 * local) * std::sin(2 * kPi * 660.0 * local);
      break;
    }
  }
  const double e = Envelope(t, length);
  *left = l * e;
  *right = r * e;
}

void PutSample(std::string& out, double v) {
  const auto s = static_cast<std::int16_t>(std::lround(std::max(-1.0, std::min(1.0, v)) * 32000.0));
  out.push_back(static_cast<char>(s & 0xFF));
  out.push_back(static_cast<char>((s >> 8) & 0xFF));
}

std::string Time(int frames) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", frames / 4500, (frames / 75) % 60, frames % 75);
  return buf;
}

}  // namespace

std::string WriteDemoDisc(const std::string& folder, std::string* error) {
  if (!MakeDirectories(folder)) {
    if (error) *error = "cannot create " + folder;
    return {};
  }
  std::string bin;
  std::string cue = "REM Sonarvex demo disc\nPERFORMER \"Sonarvex\"\nTITLE \"Demo\"\n";
  cue += "REM SESSION 01\nFILE \"" + std::string(kDemoBinName) + "\" BINARY\n";
  int fileSectors = 0;
  for (int k = 0; k < DemoDiscLayout::kAudioTracks; ++k) {
    const int seconds = DemoDiscLayout::kTrackSeconds[k];
    const int samples = seconds * 44100;
    char head[64];
    std::snprintf(head, sizeof head, "  TRACK %02d AUDIO\n", k + 1);
    cue += head;
    cue += "    INDEX 01 " + Time(fileSectors) + "\n";
    for (int i = 0; i < samples; ++i) {
      double l, r;
      Sample(k, i / kRate, seconds, &l, &r);
      PutSample(bin, l);
      PutSample(bin, r);
    }
    fileSectors += seconds * 75;
  }
  // The data track of the second session starts after the first session's
  // lead-out and the second lead-in.
  const int dataLba = fileSectors + kSessionGapFrames;
  cue += "REM SESSION 02\n";
  char head[64];
  std::snprintf(head, sizeof head, "  TRACK %02d MODE1/2352\n", DemoDiscLayout::kAudioTracks + 1);
  cue += head;
  cue += "    INDEX 01 " + Time(fileSectors) + "\n";
  std::uint8_t sector[kRawSectorBytes];
  for (int i = 0; i < DemoDiscLayout::kDataSectors; ++i) {
    SyntheticDataSector(dataLba + i, sector);
    bin.append(reinterpret_cast<const char*>(sector), sizeof sector);
  }
  const std::string binPath = JoinPath(folder, kDemoBinName);
  const std::string cuePath = JoinPath(folder, kDemoCueName);
  if (!WriteFileAtomically(binPath, bin) || !WriteFileAtomically(cuePath, cue)) {
    if (error) *error = "cannot write " + cuePath;
    return {};
  }
  return cuePath;
}

}  // namespace sonarvex
