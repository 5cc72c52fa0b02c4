#include <cmath>

#include "Tables.h"

namespace kelpra {

const BandTable kBandTables[9] = {
    // 44100
    {{0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 52, 62, 74, 90, 110, 134, 162, 196, 238, 288, 342, 418,
      576},
     {0, 4, 8, 12, 16, 22, 30, 40, 52, 66, 84, 106, 136, 192}},
    // 48000
    {{0, 4, 8, 12, 16, 20, 24, 30, 36, 42, 50, 60, 72, 88, 106, 128, 156, 190, 230, 276, 330, 384,
      576},
     {0, 4, 8, 12, 16, 22, 28, 38, 50, 64, 80, 100, 126, 192}},
    // 32000
    {{0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 54, 66, 82, 102, 126, 156, 194, 240, 296, 364, 448, 550,
      576},
     {0, 4, 8, 12, 16, 22, 30, 42, 58, 78, 104, 138, 180, 192}},
    // 22050
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464,
      522, 576},
     {0, 4, 8, 12, 18, 24, 32, 42, 56, 74, 100, 132, 174, 192}},
    // 24000
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 114, 136, 162, 194, 232, 278, 330, 394, 464,
      540, 576},
     {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 136, 180, 192}},
    // 16000
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464,
      522, 576},
     {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192}},
    // 11025: the 16000 Hz table (checked against the reference decoder)
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464,
      522, 576},
     {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192}},
    // 12000: the 16000 Hz table
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464,
      522, 576},
     {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192}},
    // 8000
    {{0, 12, 24, 36, 48, 60, 72, 88, 108, 132, 160, 192, 232, 280, 336, 400, 476, 566, 568, 570,
      572, 574, 576},
     {0, 8, 16, 24, 36, 52, 72, 96, 124, 160, 162, 164, 166, 192}},
};

const uint8_t kPretab[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

const uint8_t kSlen[16][2] = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {3, 0}, {1, 1}, {1, 2}, {1, 3},
                              {2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2}, {3, 3}, {4, 2}, {4, 3}};

const uint8_t kLsfSfbCount[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},
    {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}},
    {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},
    {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};

const double kAliasCi[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};

const double kClassC[17] = {1.33333333333, 1.60000000000, 1.14285714286, 1.77777777777,
                            1.06666666666, 1.03225806452, 1.01587301587, 1.00787401575,
                            1.00392156863, 1.00195694716, 1.00097751711, 1.00048851979,
                            1.00024420024, 1.00012208522, 1.00006103888, 1.00003051851,
                            1.00001525902};
const double kClassD[17] = {0.5,           0.5,           0.25,          0.5,
                            0.125,         0.0625,        0.03125,       0.015625,
                            0.0078125,     0.00390625,    0.001953125,   0.0009765625,
                            0.00048828125, 0.00024414063, 0.00012207031, 0.00006103516,
                            0.00003051758};

namespace {

DerivedTables Compute() {
  DerivedTables t{};
  const double pi = 3.14159265358979323846;
  for (int i = 0; i < 8207; ++i) t.pow43[i] = static_cast<float>(std::pow(double(i), 4.0 / 3.0));
  for (int i = 0; i < 640; ++i) t.gain[i] = static_cast<float>(std::pow(2.0, (i - 512) / 4.0));
  for (int i = 0; i < 8; ++i) {
    const double s = std::sqrt(1.0 + kAliasCi[i] * kAliasCi[i]);
    t.aliasCs[i] = static_cast<float>(1.0 / s);
    t.aliasCa[i] = static_cast<float>(kAliasCi[i] / s);
  }
  // IMDCT windows.
  for (int i = 0; i < 36; ++i) t.imdctWin[0][i] = static_cast<float>(std::sin(pi / 36 * (i + 0.5)));
  for (int i = 0; i < 18; ++i) t.imdctWin[1][i] = t.imdctWin[0][i];
  for (int i = 18; i < 24; ++i) t.imdctWin[1][i] = 1.0f;
  for (int i = 24; i < 30; ++i)
    t.imdctWin[1][i] = static_cast<float>(std::sin(pi / 12 * (i - 18 + 0.5)));
  for (int i = 30; i < 36; ++i) t.imdctWin[1][i] = 0.0f;
  for (int i = 0; i < 12; ++i) t.imdctWin[2][i] = static_cast<float>(std::sin(pi / 12 * (i + 0.5)));
  for (int i = 0; i < 6; ++i) t.imdctWin[3][i] = 0.0f;
  for (int i = 6; i < 12; ++i)
    t.imdctWin[3][i] = static_cast<float>(std::sin(pi / 12 * (i - 6 + 0.5)));
  for (int i = 12; i < 18; ++i) t.imdctWin[3][i] = 1.0f;
  for (int i = 18; i < 36; ++i) t.imdctWin[3][i] = t.imdctWin[0][i];
  for (int v = 0; v < 16; ++v) {
    for (int s = 0; s < 16; ++s) {
      int next = 0;  // index of the next sign bit, MSB first
      for (int k = 0; k < 4; ++k) {
        float q = 0.0f;
        if ((v >> (3 - k)) & 1) q = ((s >> (3 - next++)) & 1) ? -1.0f : 1.0f;
        t.quadValues[v][s][k] = q;
      }
    }
  }
  // Intensity stereo.
  for (int p = 0; p < 7; ++p) {
    if (p == 6) {
      t.isRatio[p][0] = 1.0f;
      t.isRatio[p][1] = 0.0f;
      continue;
    }
    const double r = std::tan(p * pi / 12);
    t.isRatio[p][0] = static_cast<float>(r / (1 + r));
    t.isRatio[p][1] = static_cast<float>(1 / (1 + r));
  }
  for (int s = 0; s < 2; ++s) {
    const double io = std::pow(2.0, -0.25 * (1 + s));
    for (int p = 0; p < 32; ++p) {
      double l = 1, r = 1;
      if (p & 1) l = std::pow(io, (p + 1) / 2);
      else if (p) r = std::pow(io, p / 2);
      t.lsfIs[s][p][0] = static_cast<float>(l);
      t.lsfIs[s][p][1] = static_cast<float>(r);
    }
  }
  for (int i = 0; i < 512; ++i) t.window[i] = static_cast<float>(kDewindow[i] * 32768.0);
  for (int level = 0, n = 32; n >= 2; ++level, n /= 2)
    for (int k = 0; k < n / 2; ++k)
      t.dctCos[level][k] = static_cast<float>(0.5 / std::cos(pi * (2 * k + 1) / (2.0 * n)));
  for (int i = 0; i < 64; ++i) t.layer12Scale[i] = static_cast<float>(std::pow(2.0, 1.0 - i / 3.0));
  return t;
}

}  // namespace

const DerivedTables& Derived() {
  static const DerivedTables tables = Compute();
  return tables;
}

}  // namespace kelpra
