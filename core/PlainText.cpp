#include "core/PlainText.h"

#include <QChar>

namespace PlainText {

bool isWhiteSpaceOrLineBreak(char16_t unit) {
    switch (unit) {
    case u'\t':
    case u'\n':
    case u'\v':
    case u'\f':
    case u'\r':
    case u'\u0085':
    case u'\u2028':
    case u'\u2029':
        return true;
    default:
        return QChar::category(char32_t(unit)) == QChar::Separator_Space;
    }
}

QStringView trimmed(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isWhiteSpaceOrLineBreak(text[begin].unicode()))
        ++begin;
    while (end > begin && isWhiteSpaceOrLineBreak(text[end - 1].unicode()))
        --end;
    return text.sliced(begin, end - begin);
}

qsizetype utf8Size(QStringView text) {
    qsizetype bytes = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = text[i].unicode();
        if (unit < 0x80) {
            bytes += 1;
        } else if (unit < 0x800) {
            bytes += 2;
        } else if (QChar::isHighSurrogate(unit) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode())) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3;
        }
    }
    return bytes;
}

} // namespace PlainText
