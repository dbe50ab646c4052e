#pragma once

#include "app/services/MathTypesetter.h"

#include <QPainter>

// A typesetter whose layouts have a chosen size and draw one filled rectangle; it records the font size
// it was asked for.
class FakeMathTypesetter : public MathTypesetter {
public:
    QSizeF size{100, 50};
    mutable double lastFontSize = 0;
    mutable int layouts = 0;

    MathParseResult parse(const QString&) const override { return {MathList{}, std::nullopt}; }

    std::unique_ptr<MathLayout> layout(const QString&, double fontSize, const QColor& color) const override {
        lastFontSize = fontSize;
        ++layouts;
        return std::make_unique<Layout>(size, color);
    }

private:
    class Layout : public MathLayout {
    public:
        Layout(QSizeF size, QColor color) : m_size(size), m_color(color) {}
        QSizeF size() const override { return m_size; }
        void draw(QPainter& painter) const override { painter.fillRect(QRectF(QPointF(0, 0), m_size), m_color); }

    private:
        QSizeF m_size;
        QColor m_color;
    };
};
