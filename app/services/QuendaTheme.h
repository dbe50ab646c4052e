#pragma once

#include <QColor>
#include <QString>

class QPalette;

// The theme colours of every screen, in their light and dark values. Pure; any thread.
namespace QuendaTheme {

enum class Scheme { light, dark };

// The colour of a hexadecimal text: every "#" removed, the rest read as an unsigned 32-bit number in base 16
// (red in bits 16-23, green 8-15, blue 0-7, higher bits ignored); 4F5FE7 when the text is not such a number.
QColor colorFromHex(const QString& text);

// The scheme a palette stands for: dark when its window colour is dark.
Scheme scheme(const QPalette& palette);

QColor accent(Scheme scheme);
QColor onAccent(Scheme scheme);
QColor background(Scheme scheme);
QColor surface(Scheme scheme);
QColor sidebar(Scheme scheme);
QColor ink(Scheme scheme);
QColor muted(Scheme scheme);
QColor line(Scheme scheme);
QColor soft(Scheme scheme);
QColor green(Scheme scheme);
// The platform's red for error texts.
QColor systemRed(Scheme scheme);

} // namespace QuendaTheme
