#include "app/services/MathFormulaView.h"

#include "app/services/FormulaRenderer.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr double boxMinimumHeight = 90;
constexpr double messagePadding = 20;
constexpr double picturePadding = 16;
constexpr double pictureMaximumHeight = 160;
constexpr double cornerRadius = 12;

const QString tooLargeMessage = QStringLiteral("La formula è troppo grande per l’anteprima.");

} // namespace

MathFormulaView::MathFormulaView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    refresh();
}

void MathFormulaView::setLatex(const QString& latex) {
    if (latex == m_latex && (m_message || m_picture))
        return;
    m_latex = latex;
    refresh();
}

void MathFormulaView::setColorScheme(std::optional<QuendaTheme::Scheme> scheme) {
    m_forcedScheme = scheme;
    refresh();
}

QuendaTheme::Scheme MathFormulaView::colorScheme() const {
    return m_forcedScheme.value_or(QuendaTheme::scheme(palette()));
}

void MathFormulaView::refresh() {
    m_picture.reset();
    m_message.reset();
    m_messageIsError = false;
    if (auto error = FormulaRenderer::error(m_latex)) {
        m_message = *error;
        // The prompt to write something is not an error.
        m_messageIsError = !m_latex.trimmed().isEmpty();
        setAccessibleName(*error);
    } else {
        const bool dark = colorScheme() == QuendaTheme::Scheme::dark;
        const QColor color = QuendaTheme::colorFromHex(dark ? QStringLiteral("F6F5F1") : QStringLiteral("22262E"));
        m_picture = FormulaRenderer::image(m_latex, 24, color, 410);
        if (m_picture) {
            setAccessibleName(QStringLiteral("Formula: ") + m_latex);
        } else {
            m_message = tooLargeMessage;
            setAccessibleName(tooLargeMessage);
        }
    }
    updateGeometry();
    update();
}

QFont MathFormulaView::messageFont() const {
    QFont font = this->font();
    font.setPointSizeF(12);
    return font;
}

QColor MathFormulaView::messageColor() const {
    return m_messageIsError ? QuendaTheme::systemRed(colorScheme()) : QuendaTheme::muted(colorScheme());
}

int MathFormulaView::heightForWidth(int width) const {
    double content = 0;
    if (m_picture) {
        QSizeF size = m_picture->deviceIndependentSize();
        double frameWidth = std::max(1.0, std::min(size.width(), width - 2 * picturePadding));
        double scale = std::min(1.0, frameWidth / size.width());
        content = std::min(size.height() * scale, pictureMaximumHeight) + 2 * picturePadding;
    } else if (m_message) {
        QFontMetricsF metrics(messageFont());
        QRectF bounds = metrics.boundingRect(QRectF(0, 0, std::max(1.0, width - 2 * messagePadding), 10000),
                                             Qt::AlignHCenter | Qt::TextWordWrap, *m_message);
        content = bounds.height() + 2 * messagePadding;
    }
    return int(std::ceil(std::max(boxMinimumHeight, content)));
}

QSize MathFormulaView::sizeHint() const {
    int width = 480;
    return {width, heightForWidth(width)};
}

QSize MathFormulaView::minimumSizeHint() const {
    return {int(2 * messagePadding), int(boxMinimumHeight)};
}

void MathFormulaView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange && !m_forcedScheme)
        refresh();
    QWidget::changeEvent(event);
}

void MathFormulaView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QuendaTheme::Scheme scheme = colorScheme();
    const QRectF bounds = QRectF(rect());

    // The border line lies inside the rounded rectangle.
    QPainterPath box;
    box.addRoundedRect(bounds, cornerRadius, cornerRadius);
    painter.fillPath(box, QuendaTheme::surface(scheme));
    QPen pen(QuendaTheme::line(scheme), 1);
    painter.setPen(pen);
    painter.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5, cornerRadius - 0.5);

    if (m_picture) {
        const QSizeF size = m_picture->deviceIndependentSize();
        const QRectF available = bounds.adjusted(picturePadding, picturePadding, -picturePadding, -picturePadding);
        QSizeF frame(std::min(size.width(), available.width()),
                     std::min({size.height(), pictureMaximumHeight, available.height()}));
        QSizeF fitted = size.scaled(frame, Qt::KeepAspectRatio);
        QRectF target(available.center().x() - fitted.width() / 2, available.center().y() - fitted.height() / 2,
                      fitted.width(), fitted.height());
        painter.drawImage(target, *m_picture);
    } else if (m_message) {
        painter.setFont(messageFont());
        painter.setPen(messageColor());
        painter.drawText(bounds.adjusted(messagePadding, messagePadding, -messagePadding, -messagePadding),
                         Qt::AlignCenter | Qt::TextWordWrap, *m_message);
    }
}
