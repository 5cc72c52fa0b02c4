#include "platform/QtText.h"

#include <cstdio>

namespace sonarvex {

QString FormatFixed(const char* format, double value) {
  // snprintf follows LC_NUMERIC, which Qt applications leave at "C".
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return QString::fromUtf8(buffer);
}

}  // namespace sonarvex
