#include "platform/ui/QtText.h"

#include <cstdio>

namespace sonarvex {

QString FormatFixed(const char* format, double value) {
  // snprintf follows LC_NUMERIC, which Qt applications leave at "C".
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return QString::fromUtf8(buffer);
}

}  // namespace sonarvex

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace sonarvex {

bool InstallQtRussian(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), "qtbase", "_",
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace sonarvex
