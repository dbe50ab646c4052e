#include "app/services/QuendaTheme.h"

#include <QPalette>

namespace QuendaTheme {

QColor colorFromHex(const QString& text) {
    QString digits = text;
    digits.remove(QLatin1Char('#'));
    // An unsigned 32-bit number in base 16 with an optional sign; "-0" is zero, any other negative fails.
    bool negative = false;
    qsizetype i = 0;
    if (!digits.isEmpty() && (digits[0] == QLatin1Char('+') || digits[0] == QLatin1Char('-'))) {
        negative = digits[0] == QLatin1Char('-');
        i = 1;
    }
    quint64 value = 0;
    bool ok = i < digits.size();
    for (; ok && i < digits.size(); ++i) {
        int digit = QChar(digits[i]).isDigit() ? digits[i].digitValue() : -1;
        char16_t c = digits[i].unicode();
        if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c < '0' || c > '9')
            digit = -1;
        if (digit < 0)
            ok = false;
        else
            value = value * 16 + quint64(digit);
        if (value > 0xFFFFFFFFull)
            ok = false;
    }
    if (!ok || (negative && value != 0))
        value = 0x4F5FE7;
    return QColor::fromRgb(int((value >> 16) & 0xFF), int((value >> 8) & 0xFF), int(value & 0xFF));
}

Scheme scheme(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128 ? Scheme::dark : Scheme::light;
}

namespace {

QColor pick(Scheme scheme, const char* light, const char* dark) {
    return colorFromHex(QString::fromLatin1(scheme == Scheme::dark ? dark : light));
}

} // namespace

QColor accent(Scheme s) {
    return pick(s, "4F5FE7", "A6AFFF");
}
QColor onAccent(Scheme s) {
    return pick(s, "FFFFFF", "171A22");
}
QColor background(Scheme s) {
    return pick(s, "F6F5F1", "171A22");
}
QColor surface(Scheme s) {
    return pick(s, "FFFFFF", "222630");
}
QColor sidebar(Scheme s) {
    return pick(s, "EFEEEA", "1D2029");
}
QColor ink(Scheme s) {
    return pick(s, "22262E", "F6F5F1");
}
QColor muted(Scheme s) {
    return pick(s, "696E79", "AFB4C2");
}
QColor line(Scheme s) {
    return pick(s, "E5E4E0", "363B49");
}
QColor soft(Scheme s) {
    return pick(s, "E9EBFF", "292E48");
}
QColor green(Scheme s) {
    return pick(s, "245D50", "85CBB6");
}
QColor systemRed(Scheme s) {
    return pick(s, "FF3B30", "FF453A");
}

} // namespace QuendaTheme
