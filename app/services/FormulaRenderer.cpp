#include "app/services/FormulaRenderer.h"

#include "app/services/MathTypesetter.h"

#include <QPainter>

#include <cmath>
#include <list>
#include <mutex>
#include <unordered_map>

namespace FormulaRenderer {
namespace {

constexpr int maximumBytes = 8192;
constexpr int maximumBraceDepth = 64;
constexpr int cacheEntries = 80;
constexpr qint64 cacheCostLimit = 25165824; // 24 MiB of bitmaps

const QString emptyMessage = QStringLiteral("Scrivi una formula per vedere l’anteprima.");
const QString tooLongMessage = QStringLiteral("La formula è troppo lunga: usa al massimo 8 KiB di testo.");
const QString tooDeepMessage = QStringLiteral("La formula contiene troppe parentesi annidate.");
const QString bracesMessage = QStringLiteral("Controlla le parentesi della formula: una coppia è incompleta.");
const QString unknownCommandMessage = QStringLiteral("La formula contiene un comando LaTeX non supportato.");
const QString delimitersMessage = QStringLiteral("Controlla i delimitatori e le coppie \\left e \\right.");
const QString environmentMessage = QStringLiteral("Controlla l’ambiente matematico, le righe e le colonne.");
const QString otherMessage = QStringLiteral("Non riesco a leggere questa formula. Controlla la sintassi LaTeX.");

QString messageFor(MathErrorKind kind) {
    switch (kind) {
    case MathErrorKind::mismatchedBraces:
    case MathErrorKind::characterNotFound:
        return bracesMessage;
    case MathErrorKind::unknownCommand:
        return unknownCommandMessage;
    case MathErrorKind::missingDelimiter:
    case MathErrorKind::invalidDelimiter:
    case MathErrorKind::missingRight:
    case MathErrorKind::missingLeft:
        return delimitersMessage;
    case MathErrorKind::invalidEnvironment:
    case MathErrorKind::missingEnvironment:
    case MathErrorKind::missingBegin:
    case MathErrorKind::missingEnd:
    case MathErrorKind::invalidNumberOfColumns:
        return environmentMessage;
    case MathErrorKind::other:
        break;
    }
    return otherMessage;
}

// A least-recently-used cache bounded by entry count and total cost.
class PictureCache {
public:
    const QImage* find(const QString& key) {
        auto it = m_index.find(key);
        if (it == m_index.end())
            return nullptr;
        m_order.splice(m_order.begin(), m_order, it->second);
        return &it->second->image;
    }

    void insert(const QString& key, const QImage& image, qint64 cost) {
        if (cost > cacheCostLimit)
            return;
        if (auto it = m_index.find(key); it != m_index.end()) {
            m_cost -= it->second->cost;
            m_order.erase(it->second);
            m_index.erase(it);
        }
        m_order.push_front({key, image, cost});
        m_index[key] = m_order.begin();
        m_cost += cost;
        while (int(m_order.size()) > cacheEntries || m_cost > cacheCostLimit) {
            const Entry& oldest = m_order.back();
            m_cost -= oldest.cost;
            m_index.erase(oldest.key);
            m_order.pop_back();
        }
    }

    void clear() {
        m_order.clear();
        m_index.clear();
        m_cost = 0;
    }

    int count() const { return int(m_order.size()); }
    qint64 cost() const { return m_cost; }

private:
    struct Entry {
        QString key;
        QImage image;
        qint64 cost;
    };
    std::list<Entry> m_order;
    std::unordered_map<QString, std::list<Entry>::iterator> m_index;
    qint64 m_cost = 0;
};

std::mutex& lock() {
    static std::mutex mutex;
    return mutex;
}

PictureCache& cache() {
    static PictureCache instance;
    return instance;
}

MathTypesetter* replacement = nullptr;

MathTypesetter& typesetter() {
    return replacement ? *replacement : defaultMathTypesetter();
}

QColor deviceColor(const QColor& color) {
    if (!color.isValid())
        return QColor(Qt::black);
    QColor rgb = color.toRgb();
    return rgb.isValid() ? rgb : QColor(Qt::black);
}

QString keyFor(const QString& normalizedSource, double fontSize, const QColor& rgb, double maximumWidth) {
    return normalizedSource + QLatin1Char('|') + QString::number(fontSize) + QLatin1Char('|') +
           QString::number(maximumWidth) + QLatin1Char('|') + QString::number(rgb.redF()) + QLatin1Char(',') +
           QString::number(rgb.greenF()) + QLatin1Char(',') + QString::number(rgb.blueF());
}

std::optional<QString> errorUnlocked(const QString& source) {
    const QString s = normalized(source);
    if (s.isEmpty())
        return emptyMessage;
    // Count UTF-8 bytes without converting: only the count matters.
    qint64 bytes = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        char16_t c = s[i].unicode();
        if (c < 0x80)
            bytes += 1;
        else if (c < 0x800)
            bytes += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < s.size() && QChar::isLowSurrogate(s[i + 1].unicode())) {
            bytes += 4;
            ++i;
        } else
            bytes += 3;
    }
    if (bytes > maximumBytes)
        return tooLongMessage;
    // Deep nesting is refused before the typesetter sees it; escaped braces do not count.
    int depth = 0;
    bool escaped = false;
    for (QChar c : s) {
        if (escaped) {
            escaped = false;
            continue;
        }
        if (c == QLatin1Char('\\'))
            escaped = true;
        else if (c == QLatin1Char('{'))
            ++depth;
        else if (c == QLatin1Char('}'))
            --depth;
        if (depth > maximumBraceDepth)
            return tooDeepMessage;
    }
    MathParseResult parsed = typesetter().parse(s);
    if (parsed.error)
        return messageFor(*parsed.error);
    if (!parsed.list)
        return otherMessage;
    return std::nullopt;
}

} // namespace

QString normalized(const QString& source) {
    QString text = source.trimmed();
    static const std::pair<QLatin1String, QLatin1String> pairs[] = {
        {QLatin1String("\\["), QLatin1String("\\]")},
        {QLatin1String("\\("), QLatin1String("\\)")},
        {QLatin1String("$$"), QLatin1String("$$")},
        {QLatin1String("$"), QLatin1String("$")},
    };
    for (const auto& [open, close] : pairs) {
        if (text.size() >= open.size() + close.size() && text.startsWith(open) && text.endsWith(close))
            return text.mid(open.size(), text.size() - open.size() - close.size()).trimmed();
    }
    return text;
}

std::optional<QString> error(const QString& source) {
    std::lock_guard guard(lock());
    return errorUnlocked(source);
}

QString cacheKey(const QString& latex, double fontSize, const QColor& color, double maximumWidth) {
    return keyFor(normalized(latex), fontSize, deviceColor(color), maximumWidth);
}

std::optional<QImage> image(const QString& latex, double fontSize, const QColor& color, double maximumWidth) {
    std::lock_guard guard(lock());
    if (errorUnlocked(latex))
        return std::nullopt;
    const QColor rgb = deviceColor(color);
    const QString source = normalized(latex);
    const QString key = keyFor(source, fontSize, rgb, maximumWidth);
    if (const QImage* cached = cache().find(key))
        return *cached;

    double size = std::isnan(fontSize) ? 10.0 : std::clamp(fontSize, 10.0, 96.0);
    std::unique_ptr<MathLayout> layout = typesetter().layout(source, size, rgb);
    if (!layout)
        return std::nullopt;
    const double w = layout->size().width(), h = layout->size().height();
    if (!std::isfinite(w) || !std::isfinite(h) || !(w > 0) || !(h > 0) || !(w < 100000) || !(h < 10000))
        return std::nullopt;
    const double widthLimit = maximumWidth > 40 ? maximumWidth : 40; // NaN falls back to 40 as well
    const double k = std::min({1.0, widthLimit / w, 300.0 / h});
    const int pointWidth = int(std::ceil(w * k)), pointHeight = int(std::ceil(h * k));
    const int pixelWidth = std::max(1, 2 * pointWidth), pixelHeight = std::max(1, 2 * pointHeight);
    QImage bitmap(pixelWidth, pixelHeight, QImage::Format_ARGB32_Premultiplied);
    if (bitmap.isNull())
        return std::nullopt;
    bitmap.fill(Qt::transparent);
    {
        QPainter painter(&bitmap);
        if (!painter.isActive())
            return std::nullopt;
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.scale(2 * k, 2 * k);
        layout->draw(painter);
    }
    bitmap.setDevicePixelRatio(2);
    cache().insert(key, bitmap, qint64(pixelWidth) * pixelHeight * 4);
    return bitmap;
}

void setTypesetter(MathTypesetter* typesetter) {
    std::lock_guard guard(lock());
    replacement = typesetter;
    cache().clear();
}

void clearCache() {
    std::lock_guard guard(lock());
    cache().clear();
}

int cacheCount() {
    std::lock_guard guard(lock());
    return cache().count();
}

qint64 cacheCost() {
    std::lock_guard guard(lock());
    return cache().cost();
}

} // namespace FormulaRenderer
