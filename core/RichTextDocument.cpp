#include "core/RichTextDocument.h"

#include "core/MediaIdentifier.h"
#include "core/PlainText.h"
#include "core/QuendaError.h"
#include "core/UriReference.h"

#include <QChar>

namespace {

constexpr qsizetype kMaxRuns = 10'000;
constexpr qsizetype kMaxContentBytes = 1'048'576;
constexpr qsizetype kMaxFormulaBytes = 8'192;
constexpr qsizetype kMaxLinkBytes = 8'192;

[[noreturn]] void fail(const QString& message) {
    throw QuendaError::invalidContent(message);
}

// White space, line breaks (Zs, Zl, Zp and the C0/C1 breaks, which are Cc) and every control or format
// character (Cc, Cf), tested per Unicode scalar so that format characters outside the BMP count too.
bool hasSpaceOrControlCharacter(QStringView text) {
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        char32_t scalar = text[i].unicode();
        if (QChar::isHighSurrogate(scalar) && i + 1 < size && text[i + 1].isLowSurrogate()) {
            scalar = QChar::surrogateToUcs4(text[i].unicode(), text[i + 1].unicode());
            ++i;
        }
        switch (QChar::category(scalar)) {
        case QChar::Separator_Space:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
        case QChar::Other_Control:
        case QChar::Other_Format:
            return true;
        default:
            break;
        }
    }
    return false;
}

bool isUsablePort(QStringView digits) {
    qsizetype significant = 0;
    while (significant < digits.size() && digits[significant] == u'0')
        ++significant;
    const QStringView number = digits.sliced(significant);
    return number.size() <= 5 && number.toInt() <= 65'535;
}

void validateLink(const QString& link) {
    static const QString invalid = QStringLiteral("Il collegamento non è valido.");
    static const QString unsupported = QStringLiteral("Usa un collegamento http, https o mailto valido.");
    if (PlainText::utf8Size(link) > kMaxLinkBytes || hasSpaceOrControlCharacter(link))
        fail(invalid);
    const std::optional<UriReference> reference = UriReference::parse(link);
    if (!reference || !reference->scheme)
        fail(invalid);

    const QString scheme = reference->scheme->toLower();
    const bool hasHost = !reference->host.isEmpty();
    if (scheme == u"http" || scheme == u"https") {
        if (!hasHost)
            fail(unsupported);
    } else if (scheme == u"mailto") {
        if (reference->path.isEmpty() && !hasHost)
            fail(unsupported);
    } else {
        fail(unsupported);
    }
    // A complete URL also needs a port that a connection can use: the grammar allows any digits, but no
    // address opens with a port above 65535, and the platform's URL type refuses one.
    if (reference->port && !reference->port->isEmpty() && !isUsablePort(*reference->port))
        fail(unsupported);
}

void validateAttachment(const RichTextRun& run) {
    if (run.text.size() != 1 || run.text[0] != QChar(kObjectReplacementCharacter) || run.link ||
        (run.imageID && run.latex))
        fail(QStringLiteral("Ogni immagine o formula deve occupare un solo allegato, senza collegamenti."));
    if (run.imageID && !MediaIdentifier::isValid(*run.imageID))
        fail(QStringLiteral("Il riferimento dell’immagine non è valido."));
    if (run.latex && (PlainText::isBlank(*run.latex) || PlainText::utf8Size(*run.latex) > kMaxFormulaBytes))
        fail(QStringLiteral("La formula deve contenere del testo e non superare 8 KiB."));
}

} // namespace

QString RichTextDocument::sourceText() const {
    QString text;
    for (const RichTextRun& run : runs)
        text += run.text;
    return text;
}

QString RichTextDocument::exportText() const {
    QString text;
    for (const RichTextRun& run : runs) {
        if (run.imageID) {
            text += QStringLiteral("[Immagine]");
        } else if (run.latex) {
            text += QStringLiteral("\\(") + *run.latex + QStringLiteral("\\)");
        } else if (run.link && *run.link != run.text) {
            text += run.text + QStringLiteral(" (") + *run.link + u')';
        } else {
            text += run.text;
        }
    }
    return text;
}

QSet<QString> RichTextDocument::mediaIDs() const {
    QSet<QString> ids;
    for (const RichTextRun& run : runs)
        if (run.imageID)
            ids.insert(*run.imageID);
    return ids;
}

void RichTextDocument::validate() const {
    // Counted before any run is read, so that an oversized list costs nothing to refuse.
    if (runs.size() > kMaxRuns)
        fail(QStringLiteral("Il contenuto contiene troppi frammenti di formattazione."));

    qsizetype totalBytes = 0;
    for (const RichTextRun& run : runs) {
        totalBytes += PlainText::utf8Size(run.text);
        if (run.latex)
            totalBytes += PlainText::utf8Size(*run.latex);
        if (run.link)
            totalBytes += PlainText::utf8Size(*run.link);
        if (totalBytes > kMaxContentBytes)
            fail(QStringLiteral("Il contenuto della carta supera il limite di 1 MiB."));

        if (run.isAttachment()) {
            validateAttachment(run);
        } else {
            if (run.text.contains(QChar(kObjectReplacementCharacter)))
                fail(QStringLiteral("Il contenuto contiene un allegato senza immagine o formula."));
            if (run.link)
                validateLink(*run.link);
        }
    }
}
