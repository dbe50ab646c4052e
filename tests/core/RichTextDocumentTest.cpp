#include "core/RichTextDocument.h"

#include "core/QuendaError.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

const QString kImageID = QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855.png");
const QString kObject = QString(QChar(kObjectReplacementCharacter));

const QString kTooManyRuns = QStringLiteral("Il contenuto contiene troppi frammenti di formattazione.");
const QString kTooLarge = QStringLiteral("Il contenuto della carta supera il limite di 1 MiB.");
const QString kBadAttachment =
    QStringLiteral("Ogni immagine o formula deve occupare un solo allegato, senza collegamenti.");
const QString kBadImage = QStringLiteral("Il riferimento dell’immagine non è valido.");
const QString kBadFormula = QStringLiteral("La formula deve contenere del testo e non superare 8 KiB.");
const QString kStrayObject = QStringLiteral("Il contenuto contiene un allegato senza immagine o formula.");
const QString kInvalidLink = QStringLiteral("Il collegamento non è valido.");
const QString kUnsupportedLink = QStringLiteral("Usa un collegamento http, https o mailto valido.");

RichTextRun text(const QString& characters) {
    return RichTextRun{.text = characters};
}
RichTextRun image(const QString& id = kImageID) {
    return RichTextRun{.text = kObject, .imageID = id};
}
RichTextRun formula(const QString& latex) {
    return RichTextRun{.text = kObject, .latex = latex};
}
RichTextRun linked(const QString& characters, const QString& link) {
    return RichTextRun{.text = characters, .link = link};
}

QString validationMessage(const RichTextDocument& document) {
    try {
        document.validate();
    } catch (const QuendaError& error) {
        EXPECT_EQ(error.kind(), QuendaError::Kind::InvalidContent);
        return error.message();
    }
    return QString();
}

QString repeated(const QString& unit, qsizetype times) {
    return unit.repeated(times);
}

} // namespace

TEST(RichTextDocumentTest, DerivedTexts) {
    const RichTextDocument document{{text("Vedi "), linked("qui", "https://example.com/a"), image(), formula("x^2")}};
    EXPECT_EQ(document.sourceText(), "Vedi qui" + kObject + kObject);
    EXPECT_EQ(document.exportText(), "Vedi qui (https://example.com/a)[Immagine]\\(x^2\\)");

    const RichTextDocument selfLinked{{linked("https://a.it", "https://a.it")}};
    EXPECT_EQ(selfLinked.exportText(), "https://a.it");
    EXPECT_EQ(RichTextDocument{}.exportText(), "");
}

TEST(RichTextDocumentTest, MediaIDsListEachImageOnce) {
    const QString other = QString(64, u'a') + ".tif";
    const RichTextDocument document{{image(), text("e"), image(), image(other), formula("y")}};
    EXPECT_EQ(document.mediaIDs(), (QSet<QString>{kImageID, other}));
}

TEST(RichTextDocumentTest, RunCountIsCheckedBeforeAnyRun) {
    EXPECT_EQ(validationMessage(RichTextDocument{QList<RichTextRun>(10'000)}), QString());
    QList<RichTextRun> runs(10'001, text(kObject));
    EXPECT_EQ(validationMessage(RichTextDocument{runs}), kTooManyRuns);
    EXPECT_EQ(validationMessage(RichTextDocument{}), QString());
}

TEST(RichTextDocumentTest, ValidateReportsTheFirstFailingCheck) {
    const QString hash = kImageID.left(64);
    // clang-format off
    const struct {
        const char* name;
        QList<RichTextRun> runs;
        QString message;
    } cases[] = {
        // size, summed over the runs in UTF-8
        {"1 MiB of ASCII", {text(repeated("a", 1'048'576))}, {}},
        {"1 MiB and one byte", {text(repeated("a", 1'048'577))}, kTooLarge},
        {"two-byte characters", {text(repeated("é", 524'289))}, kTooLarge},
        {"surrogate pairs count 4 bytes", {text(repeated("😀", 262'144))}, {}},
        {"surrogate pairs and one byte", {text(repeated("😀", 262'144)), text("a")}, kTooLarge},
        {"total over several runs", {text(repeated("a", 600'000)), text(repeated("a", 600'000))}, kTooLarge},
        {"links count", {text(repeated("a", 1'048'570)), linked("x", "http://a.it")}, kTooLarge},
        {"formulas count", {text(repeated("a", 1'048'574)), formula("xy")}, kTooLarge},
        {"image identifiers do not count", {text(repeated("a", 1'048'573)), image()}, {}},
        {"size is checked before the run's own checks", {text(repeated("a", 1'048'576) + kObject)}, kTooLarge},
        {"runs before the limit are checked first", {text(kObject), text(repeated("a", 1'048'577))}, kStrayObject},
        // attachments
        {"image run with text", {RichTextRun{.text = "x", .imageID = kImageID}}, kBadAttachment},
        {"image run with two objects", {RichTextRun{.text = kObject + kObject, .imageID = kImageID}}, kBadAttachment},
        {"linked image", {RichTextRun{.text = kObject, .link = "https://a.it", .imageID = kImageID}}, kBadAttachment},
        {"image and formula", {RichTextRun{.text = kObject, .imageID = kImageID, .latex = "x"}}, kBadAttachment},
        {"attachment shape before identifier", {RichTextRun{.text = "x", .imageID = "bad"}}, kBadAttachment},
        {"upper-case digits", {image(hash.toUpper() + ".png")}, kBadImage},
        {"upper-case extension", {image(hash + ".PNG")}, kBadImage},
        {"63 digits", {image(hash.left(63) + ".png")}, kBadImage},
        {"bmp", {image(hash + ".bmp")}, kBadImage},
        {"trailing line break", {image(kImageID + "\n")}, kBadImage},
        {"tif", {image(hash + ".tif")}, {}},
        {"blank formula", {formula(" \t\u2028\u00A0")}, kBadFormula},
        {"empty formula", {formula("")}, kBadFormula},
        {"formula of 8 KiB", {formula(repeated("é", 4'096))}, {}},
        {"formula over 8 KiB", {formula(repeated("é", 4'096) + "x")}, kBadFormula},
        // plain runs
        {"object between letters", {text("a" + kObject + "b")}, kStrayObject},
        {"stray object before a bad link", {linked("a" + kObject, "ftp://a.it")}, kStrayObject},
        {"empty runs", {text(""), text("")}, {}},
        {"first failing run decides", {image(hash + ".bmp"), formula("")}, kBadImage},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(validationMessage(RichTextDocument{c.runs}), c.message) << c.name;
}

TEST(RichTextDocumentTest, ValidatesLinks) {
    const QString longPath = "https://a.it/";
    // clang-format off
    const struct {
        QString link;
        QString message;
    } cases[] = {
        {"https://example.com/percorso?q=1#frammento", {}},
        {"http://localhost", {}},
        {"HTTPS://Example.COM", {}},
        {"http://[::1]:8080/", {}},
        {"mailto:nome", {}},
        {"MAILTO:nome@example.it?subject=Ciao%20a%20te", {}},
        {"mailto://host", {}},
        {longPath + repeated("a", 8'192 - longPath.size()), {}},
        {longPath + repeated("a", 8'193 - longPath.size()), kInvalidLink},
        {"https://exa mple.com", kInvalidLink},
        {"https://a.it/\u00A0", kInvalidLink},
        {"https://a.it/\u2028", kInvalidLink},
        {"https://a.it/\t", kInvalidLink},
        {"https://a.it/\u0085", kInvalidLink},
        {"https://a.it/\u200B", kInvalidLink},
        {"https://a.it/%zz", kInvalidLink},
        {"https://a.it/città", kInvalidLink},
        {"example.com", kInvalidLink},
        {"//example.com", kInvalidLink},
        {"", kInvalidLink},
        {"http:", kUnsupportedLink},
        {"http://", kUnsupportedLink},
        {"https:///percorso", kUnsupportedLink},
        {"ftp://example.com", kUnsupportedLink},
        {"javascript:alert(1)", kUnsupportedLink},
        {"file:///etc/passwd", kUnsupportedLink},
        {"mailto:", kUnsupportedLink},
        {"mailto:?subject=x", kUnsupportedLink},
        {"http://example.com:99999/", kUnsupportedLink},
        {"http://example.com:000000000065535/", {}},
        {"http://a-.it:/", {}},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(validationMessage(RichTextDocument{{linked("collegamento", c.link)}}), c.message)
            << c.link.toStdString();
}
