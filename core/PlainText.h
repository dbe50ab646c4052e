#pragma once

#include <QStringView>

/// Character classes and measures shared by the content checks of documents and notes. Pure functions,
/// callable from any thread.
namespace PlainText {

/// A white-space or line-break code unit: space separators (Zs), line separator, paragraph separator,
/// tab, line feed, vertical tab, form feed, carriage return and next line. All of them lie in the
/// Basic Multilingual Plane, so single UTF-16 code units can be tested.
bool isWhiteSpaceOrLineBreak(char16_t unit);

/// `text` without leading and trailing white-space and line-break characters.
QStringView trimmed(QStringView text);

/// True when nothing remains of `text` after trimming.
inline bool isBlank(QStringView text) {
    return trimmed(text).isEmpty();
}

/// The size of `text` in bytes of UTF-8, counted without converting. A surrogate pair counts 4 bytes;
/// a lone surrogate counts 3, the size of the replacement character it is encoded as.
qsizetype utf8Size(QStringView text);

} // namespace PlainText
