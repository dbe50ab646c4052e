#pragma once

#include "app/services/QuendaTheme.h"

#include <QImage>
#include <QWidget>

#include <optional>

// The live preview of a formula source: its picture, or the message explaining why there is none, in a
// rounded box on the theme's surface colour. User-interface thread only.
class MathFormulaView : public QWidget {
    Q_OBJECT

public:
    explicit MathFormulaView(QWidget* parent = nullptr);

    QString latex() const { return m_latex; }
    void setLatex(const QString& latex);

    // Forces a colour scheme; by default it follows the widget's palette.
    void setColorScheme(std::optional<QuendaTheme::Scheme> scheme);
    QuendaTheme::Scheme colorScheme() const;

    // What the view shows: the message (when there is no picture) and the picture.
    std::optional<QString> message() const { return m_message; }
    std::optional<QImage> picture() const { return m_picture; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    QFont messageFont() const;
    QColor messageColor() const;

    QString m_latex;
    std::optional<QuendaTheme::Scheme> m_forcedScheme;
    std::optional<QString> m_message;
    bool m_messageIsError = false;
    std::optional<QImage> m_picture;
};
