// UTF-8 std::string <-> QString.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace sonarvex {

inline QString Q(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
inline std::string S(const QString& text) { return text.toUtf8().toStdString(); }

// Formats with "%2.2f"-style patterns independently of the user's locale.
QString FormatFixed(const char* format, double value);

}  // namespace sonarvex

class QCoreApplication;

namespace sonarvex {

// Loads Qt's own Russian texts (standard dialogs, edit box menus) into the
// application; false when the translation is not installed.
bool InstallQtRussian(QCoreApplication& app);

}  // namespace sonarvex
