#pragma once
// The system's strings are 8-bit; Qt's are UTF-16. Texts cross over here, in
// the process's 8-bit encoding both ways.

#include <QString>
#include <string>

namespace tersify::gui {

inline QString ToQString(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQString(const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The text as a widget shows it: each CR LF becomes one line break.
inline QString ToDisplayText(const std::string& text) {
  QString shown = ToQString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

}  // namespace tersify::gui
