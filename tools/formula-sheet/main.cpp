// formula-sheet CORPUS OUT.png
//
// Renders every source of CORPUS (one per line, optionally behind a label and a tab) at font size 24 and
// maximum width 410 into one contact-sheet PNG, and prints one line per source: its line number, then
// "OK <width>x<height>" (the picture's size in points) or "ERR <message>".
//
// formula-sheet --preview OUT.png SOURCE...
//
// Renders the formula preview of each SOURCE in the light and the dark scheme, one row per source.

#include "app/services/FormulaRenderer.h"
#include "app/services/MathFormulaView.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

int renderPreviews(const char* out, int count, char** sources) {
    const int width = 480, gap = 12;
    std::vector<QImage> tiles;
    int height = gap;
    for (int i = 0; i < count; ++i) {
        for (auto scheme : {QuendaTheme::Scheme::light, QuendaTheme::Scheme::dark}) {
            MathFormulaView view;
            view.setColorScheme(scheme);
            view.setLatex(QString::fromUtf8(sources[i]));
            view.resize(width, view.heightForWidth(width));
            QImage tile(view.size() * 2, QImage::Format_ARGB32_Premultiplied);
            tile.setDevicePixelRatio(2);
            tile.fill(QuendaTheme::background(scheme));
            view.render(&tile, QPoint(), QRegion(), QWidget::DrawChildren);
            tiles.push_back(tile);
        }
        height += int(tiles.back().deviceIndependentSize().height()) + gap;
    }
    QImage sheet(2 * (2 * width + 3 * gap), 2 * height, QImage::Format_ARGB32_Premultiplied);
    sheet.setDevicePixelRatio(2);
    sheet.fill(Qt::gray);
    QPainter painter(&sheet);
    int y = gap;
    for (size_t i = 0; i + 1 < tiles.size(); i += 2) {
        painter.drawImage(QPointF(gap, y), tiles[i]);
        painter.drawImage(QPointF(2 * gap + width, y), tiles[i + 1]);
        y += int(tiles[i].deviceIndependentSize().height()) + gap;
    }
    painter.end();
    return sheet.save(QString::fromLocal8Bit(out)) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc >= 3 && QByteArray(argv[1]) == "--preview")
        return renderPreviews(argv[2], argc - 3, argv + 3);
    if (argc != 3) {
        std::fprintf(stderr, "usage: formula-sheet CORPUS OUT.png\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    struct Row {
        int line;
        QString label;
        std::optional<QImage> picture;
        QString message;
    };
    std::vector<Row> rows;
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    int lineNumber = 0;
    const QColor ink(0x22, 0x26, 0x2E);
    while (!in.atEnd()) {
        QString line = in.readLine();
        ++lineNumber;
        if (line.trimmed().isEmpty())
            continue;
        QString label, source = line;
        if (qsizetype tab = line.indexOf(QLatin1Char('\t')); tab >= 0) {
            label = line.left(tab);
            source = line.mid(tab + 1);
        }
        Row row{lineNumber, label, std::nullopt, {}};
        if (auto error = FormulaRenderer::error(source)) {
            row.message = *error;
            std::printf("%d ERR %s\n", lineNumber, qPrintable(*error));
        } else {
            row.picture = FormulaRenderer::image(source, 24, ink, 410);
            if (row.picture) {
                QSizeF size = row.picture->deviceIndependentSize();
                std::printf("%d OK %dx%d\n", lineNumber, int(std::lround(size.width())),
                            int(std::lround(size.height())));
            } else {
                row.message = QStringLiteral("(nessuna immagine)");
                std::printf("%d ERR (no picture)\n", lineNumber);
            }
        }
        rows.push_back(std::move(row));
    }

    // Two columns of cells, each with its line number and label above the picture or message.
    const int cellWidth = 440, labelHeight = 18, padding = 8, columns = 2;
    std::vector<int> heights;
    for (const Row& row : rows)
        heights.push_back(labelHeight + padding +
                          (row.picture ? int(std::ceil(row.picture->deviceIndependentSize().height())) : 20));
    int totalHeight = padding;
    std::vector<int> rowTops;
    for (size_t i = 0; i < rows.size(); i += columns) {
        rowTops.push_back(totalHeight);
        int h = heights[i];
        if (i + 1 < rows.size())
            h = std::max(h, heights[i + 1]);
        totalHeight += h + padding;
    }
    QImage sheet(2 * columns * cellWidth, 2 * std::max(totalHeight, 1), QImage::Format_ARGB32_Premultiplied);
    sheet.setDevicePixelRatio(2);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPointSizeF(8);
    painter.setFont(font);
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        int x = int(i % columns) * cellWidth + padding, y = rowTops[i / columns];
        painter.setPen(QColor(0x99, 0x99, 0x99));
        painter.drawText(QRectF(x, y, cellWidth - 2 * padding, labelHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::number(row.line) + QLatin1Char(' ') + row.label);
        if (row.picture) {
            QSizeF size = row.picture->deviceIndependentSize();
            painter.setPen(QColor(0xEE, 0xEE, 0xEE));
            painter.drawRect(QRectF(QPointF(x, y + labelHeight), size));
            painter.drawImage(QRectF(QPointF(x, y + labelHeight), size), *row.picture);
        } else {
            painter.setPen(QColor(0xC0, 0x30, 0x30));
            painter.drawText(QRectF(x, y + labelHeight, cellWidth - 2 * padding, 20), Qt::AlignLeft, row.message);
        }
    }
    painter.end();
    if (!sheet.save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
