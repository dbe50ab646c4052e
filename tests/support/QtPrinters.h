#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <ostream>

// GoogleTest printers for Qt values, so that failures show text instead of raw bytes.

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QByteArray& bytes, std::ostream* os) { *os << '"' << bytes.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '[' << list.join(QStringLiteral(", ")).toStdString() << ']';
}
