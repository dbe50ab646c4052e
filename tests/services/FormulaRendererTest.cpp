#include "app/services/FormulaRenderer.h"
#include "app/services/MathParser.h"

#include "FakeMathTypesetter.h"
#include "support/TestApplication.h"

#include <QFile>
#include <QTextStream>

#include <gtest/gtest.h>

#include <map>

namespace {

const QString emptyMessage = QStringLiteral("Scrivi una formula per vedere l’anteprima.");
const QString tooLongMessage = QStringLiteral("La formula è troppo lunga: usa al massimo 8 KiB di testo.");
const QString tooDeepMessage = QStringLiteral("La formula contiene troppe parentesi annidate.");
const QString bracesMessage = QStringLiteral("Controlla le parentesi della formula: una coppia è incompleta.");
const QString unknownMessage = QStringLiteral("La formula contiene un comando LaTeX non supportato.");
const QString delimitersMessage = QStringLiteral("Controlla i delimitatori e le coppie \\left e \\right.");
const QString environmentMessage = QStringLiteral("Controlla l’ambiente matematico, le righe e le colonne.");
const QString otherMessage = QStringLiteral("Non riesco a leggere questa formula. Controlla la sintassi LaTeX.");

struct CorpusLine {
    int number;
    QString label;
    QString source;
};

std::vector<CorpusLine> readCorpus() {
    QFile file(QStringLiteral(QUENDA_SOURCE_DIR "/tests/fixtures/formulas.txt"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    std::vector<CorpusLine> lines;
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    int number = 0;
    while (!in.atEnd()) {
        QString line = in.readLine();
        ++number;
        qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab < 0)
            continue;
        lines.push_back({number, line.left(tab), line.mid(tab + 1)});
    }
    return lines;
}

const std::map<QString, std::pair<MathErrorKind, QString>>& kinds() {
    static const std::map<QString, std::pair<MathErrorKind, QString>> table = {
        {"MismatchedBraces", {MathErrorKind::mismatchedBraces, bracesMessage}},
        {"UnknownCommand", {MathErrorKind::unknownCommand, unknownMessage}},
        {"CharacterNotFound", {MathErrorKind::characterNotFound, bracesMessage}},
        {"MissingDelimiter", {MathErrorKind::missingDelimiter, delimitersMessage}},
        {"InvalidDelimiter", {MathErrorKind::invalidDelimiter, delimitersMessage}},
        {"MissingRight", {MathErrorKind::missingRight, delimitersMessage}},
        {"MissingLeft", {MathErrorKind::missingLeft, delimitersMessage}},
        {"InvalidEnvironment", {MathErrorKind::invalidEnvironment, environmentMessage}},
        {"MissingEnvironment", {MathErrorKind::missingEnvironment, environmentMessage}},
        {"MissingBegin", {MathErrorKind::missingBegin, environmentMessage}},
        {"MissingEnd", {MathErrorKind::missingEnd, environmentMessage}},
        {"InvalidNumberOfColumns", {MathErrorKind::invalidNumberOfColumns, environmentMessage}},
        {"Other", {MathErrorKind::other, otherMessage}},
    };
    return table;
}

class FormulaRendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        FormulaRenderer::setTypesetter(nullptr);
    }
    void TearDown() override { FormulaRenderer::setTypesetter(nullptr); }
};

TEST_F(FormulaRendererTest, CorpusFormulasTypesetOrFailWithTheirKind) {
    auto corpus = readCorpus();
    ASSERT_GT(corpus.size(), 100u);
    for (const auto& line : corpus) {
        SCOPED_TRACE(QStringLiteral("line %1: %2").arg(line.number).arg(line.source).toStdString());
        MathParseResult parsed = MathParser::parse(line.source);
        auto message = FormulaRenderer::error(line.source);
        if (line.label == QLatin1String("OK")) {
            EXPECT_FALSE(parsed.error.has_value());
            EXPECT_EQ(message, std::nullopt);
            auto picture = FormulaRenderer::image(line.source, 24, Qt::black, 410);
            ASSERT_TRUE(picture.has_value());
            EXPECT_GT(picture->width(), 0);
            EXPECT_GT(picture->height(), 0);
            // Something was drawn: at least one pixel is not transparent.
            bool inked = false;
            for (int y = 0; y < picture->height() && !inked; ++y)
                for (int x = 0; x < picture->width() && !inked; ++x)
                    inked = qAlpha(picture->pixel(x, y)) > 0;
            EXPECT_TRUE(inked);
        } else {
            ASSERT_TRUE(line.label.startsWith(QLatin1String("ERR:")));
            auto it = kinds().find(line.label.mid(4));
            ASSERT_NE(it, kinds().end());
            EXPECT_EQ(parsed.error, it->second.first);
            EXPECT_EQ(message, it->second.second);
        }
    }
}

TEST_F(FormulaRendererTest, ParserReportsTheFirstFailureFromTheLeft) {
    // clang-format off
    const std::vector<std::pair<QString, MathErrorKind>> cases = {
        {"{\\left( x }",                         MathErrorKind::missingRight},
        {"\\left( {x \\right)",                  MathErrorKind::mismatchedBraces},
        {"\\begin{matrix} {a & b} \\end{matrix}", MathErrorKind::mismatchedBraces},
        {"\\begin{matrix} \\left( a & b \\right) \\end{matrix}", MathErrorKind::missingRight},
        {"\\alpah \\left(",                       MathErrorKind::unknownCommand},
        {"x^2'",                                  MathErrorKind::other},
        {"\\sqrt",                                MathErrorKind::characterNotFound},
        {"\\begin",                               MathErrorKind::missingEnvironment},
        {"\\end{matrix}",                         MathErrorKind::missingBegin},
        {"\\begin{gathered} a & b \\end{gathered}", MathErrorKind::invalidNumberOfColumns},
        {"\\begin{array} a \\end{array}",         MathErrorKind::invalidNumberOfColumns},
        {"\\left\\alpah x \\right)",              MathErrorKind::unknownCommand},
        {"\\bigl",                                MathErrorKind::missingDelimiter},
        {"a $ b",                                 MathErrorKind::other},
        {"a \\",                                  MathErrorKind::other},
        {"\\hspace{2furlongs}",                   MathErrorKind::other},
        {"x_1_2",                                 MathErrorKind::other},
    };
    // clang-format on
    for (const auto& [source, kind] : cases) {
        SCOPED_TRACE(source.toStdString());
        EXPECT_EQ(MathParser::parse(source).error, kind);
    }
}

TEST_F(FormulaRendererTest, AcceptsCommonConstructsBeyondTheCorpus) {
    const QStringList sources = {
        "\\begin{Vmatrix} a \\\\ b \\end{Vmatrix}",
        "\\begin{rcases} a & b \\\\ c & d \\end{rcases}",
        "\\begin{array}{|l|r|} \\hline a & b \\\\ \\hline \\end{array}",
        "\\bigl( x \\bigr) \\Biggl\\{ y \\Biggr\\}",
        "\\left\\lfloor \\frac{a}{b} \\right\\rfloor \\left\\| v \\right\\|",
        "\\xrightarrow[below]{above} \\overleftarrow{AB} \\overleftrightarrow{CD}",
        "\\vphantom{x} \\hphantom{y} \\mathstrut \\kern2pt \\mkern 3mu",
        "\\operatorname*{argmax}_{x} f \\argmin_y g",
        "x \\pmod{2} \\pod{3} \\mod 4",
        "\\mathbf{A}\\mathcal{B}\\mathbb{1}\\mathfrak{z}\\mathsf{s}\\mathtt{t}\\mathit{u}\\mathrm{v}",
        "{\\rm abc} {\\bf x}",
        "\\displaystyle x \\scriptstyle y \\scriptscriptstyle z",
        "% comment only after\nx",
        "\\text{a \\% b \\{ c \\}}",
        "⟨x⟩ ≤ ∞",
    };
    for (const QString& source : sources) {
        SCOPED_TRACE(source.toStdString());
        EXPECT_EQ(FormulaRenderer::error(source), std::nullopt);
        EXPECT_TRUE(FormulaRenderer::image(source, 24, Qt::black, 410).has_value());
    }
}

TEST_F(FormulaRendererTest, NormalizesDelimitersAndWhiteSpace) {
    // clang-format off
    const std::vector<std::pair<QString, QString>> cases = {
        {"  x  ",           "x"},
        {"\\[ x \\]",       "x"},
        {"\\( x \\)",       "x"},
        {"$$ x $$",         "x"},
        {"$x$",             "x"},
        {"\n$$\n",          ""},
        {"$",               "$"},
        {"\\[x",            "\\[x"},
        {"\\[ $x$ \\]",     "$x$"},  // one pair only
        {"$$x$",            "$x"},   // "$$" does not close: the single dollars do
    };
    // clang-format on
    for (const auto& [source, expected] : cases) {
        SCOPED_TRACE(source.toStdString());
        EXPECT_EQ(FormulaRenderer::normalized(source), expected);
    }
}

TEST_F(FormulaRendererTest, ChecksRunInOrderBeforeTheTypesetter) {
    const QString nested64 = QString(64, QLatin1Char('{')) + QLatin1Char('x') + QString(64, QLatin1Char('}'));
    const QString nested65 = QString(65, QLatin1Char('{')) + QLatin1Char('x') + QString(65, QLatin1Char('}'));
    QString escaped65;
    for (int i = 0; i < 65; ++i)
        escaped65 += QStringLiteral("\\{");
    escaped65 += QLatin1Char('x');
    for (int i = 0; i < 65; ++i)
        escaped65 += QStringLiteral("\\}");
    // 8,192 bytes of UTF-8, with a two-byte character so bytes and not characters are counted.
    const QString limit = QStringLiteral("é") + QString(8190, QLatin1Char('x'));
    const QString overLimit = limit + QLatin1Char('x');

    // clang-format off
    const std::vector<std::pair<QString, std::optional<QString>>> cases = {
        {"",                                   emptyMessage},
        {" \n\t ",                             emptyMessage},
        {"$$",                                 emptyMessage},
        {"\\[ \\]",                            emptyMessage},
        {limit,                                std::nullopt},
        {"  $$ " + limit + " $$  ",            std::nullopt},
        {overLimit,                            tooLongMessage},
        {nested64,                             std::nullopt},
        {nested65,                             tooDeepMessage},
        {nested65 + "\\alpah",                 tooDeepMessage},  // the depth check comes first
        {escaped65,                            std::nullopt},
        {"}}}}{x}",                            bracesMessage},   // negative depth is the typesetter's call
        {"\\frac{a+b}{c",                      bracesMessage},
        {"\\left( x",                          delimitersMessage},
        {"\\unknown",                          unknownMessage},
        {"\\begin{matrx}a\\end{matrx}",        environmentMessage},
        {"x^2^3",                              otherMessage},
    };
    // clang-format on
    for (const auto& [source, expected] : cases) {
        SCOPED_TRACE(source.left(80).toStdString());
        EXPECT_EQ(FormulaRenderer::error(source), expected);
    }
}

TEST_F(FormulaRendererTest, ParseThatYieldsNothingIsAnotherFailure) {
    struct Silent : FakeMathTypesetter {
        MathParseResult parse(const QString&) const override { return {}; }
    } silent;
    FormulaRenderer::setTypesetter(&silent);
    EXPECT_EQ(FormulaRenderer::error(QStringLiteral("x")), otherMessage);
    EXPECT_EQ(FormulaRenderer::image(QStringLiteral("x"), 24, Qt::black, 410), std::nullopt);
}

TEST_F(FormulaRendererTest, ScalesPicturesDownToTheLimits) {
    FakeMathTypesetter fake;
    FormulaRenderer::setTypesetter(&fake);
    struct Case {
        QSizeF layout;
        double maximumWidth;
        QSize points;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{1000, 50},  500, {500, 25}},
        {{100, 600},  410, {50, 300}},
        {{100, 50},   410, {100, 50}},  // never enlarged
        {{100, 50},   10,  {40, 20}},   // the width limit is at least 40
        {{100.2, 50}, 410, {101, 50}},  // sizes round up
    };
    // clang-format on
    int index = 0;
    for (const auto& c : cases) {
        fake.size = c.layout;
        auto picture = FormulaRenderer::image(QStringLiteral("x_%1").arg(index++), 24, Qt::black, c.maximumWidth);
        ASSERT_TRUE(picture.has_value());
        EXPECT_EQ(picture->deviceIndependentSize().toSize(), c.points);
        EXPECT_EQ(picture->size(), c.points * 2);
        EXPECT_EQ(picture->devicePixelRatio(), 2.0);
    }
}

TEST_F(FormulaRendererTest, ClampsTheFontSizeAndRefusesUnusableLayouts) {
    FakeMathTypesetter fake;
    FormulaRenderer::setTypesetter(&fake);
    for (auto [requested, used] : std::vector<std::pair<double, double>>{{200, 96}, {4, 10}, {24, 24}}) {
        ASSERT_TRUE(FormulaRenderer::image(QStringLiteral("x"), requested, Qt::black, 410).has_value());
        EXPECT_EQ(fake.lastFontSize, used);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (QSizeF size : {QSizeF(100000, 10), QSizeF(10, 10000), QSizeF(0, 10), QSizeF(10, -1), QSizeF(nan, 10),
                        QSizeF(10, infinity)}) {
        fake.size = size;
        EXPECT_EQ(FormulaRenderer::image(QStringLiteral("y"), 24, Qt::black, 410), std::nullopt);
    }
    fake.size = {99999, 9999};
    EXPECT_TRUE(FormulaRenderer::image(QStringLiteral("y"), 24, Qt::black, 410).has_value());
}

TEST_F(FormulaRendererTest, CacheSharesPicturesOfTheSameRequest) {
    FakeMathTypesetter fake;
    FormulaRenderer::setTypesetter(&fake);
    for (const char* source : {"x", "\\[ x \\]", "\\(x\\)", "$$x$$", "$x$", "  x "})
        ASSERT_TRUE(FormulaRenderer::image(QString::fromUtf8(source), 24, Qt::black, 410).has_value());
    EXPECT_EQ(fake.layouts, 1);
    EXPECT_EQ(FormulaRenderer::cacheCount(), 1);

    // Light and dark ink, another size, another width: separate entries.
    FormulaRenderer::image(QStringLiteral("x"), 24, QColor(0x22, 0x26, 0x2E), 410);
    FormulaRenderer::image(QStringLiteral("x"), 24, QColor(0xF6, 0xF5, 0xF1), 410);
    FormulaRenderer::image(QStringLiteral("x"), 25, Qt::black, 410);
    FormulaRenderer::image(QStringLiteral("x"), 24, Qt::black, 400);
    EXPECT_EQ(fake.layouts, 5);
    EXPECT_EQ(FormulaRenderer::cacheCount(), 5);
    // The cost of an entry is its bitmap's bytes.
    EXPECT_EQ(FormulaRenderer::cacheCost(), 5 * 200 * 100 * 4);
}

TEST_F(FormulaRendererTest, CacheKeyJoinsItsPartsInOrder) {
    EXPECT_EQ(FormulaRenderer::cacheKey(QStringLiteral("$ a|b $"), 24, QColor(255, 0, 51), 410.5),
              QStringLiteral("a|b|24|410.5|1,0,0.2"));
    EXPECT_EQ(FormulaRenderer::cacheKey(QStringLiteral("x"), 24, QColor(), 410), QStringLiteral("x|24|410|0,0,0"));
}

TEST_F(FormulaRendererTest, CacheHoldsAtMost80EntriesAnd24MiB) {
    FakeMathTypesetter fake;
    FormulaRenderer::setTypesetter(&fake);
    fake.size = {10, 10};
    for (int i = 0; i < 100; ++i)
        FormulaRenderer::image(QStringLiteral("x_{%1}").arg(i), 24, Qt::black, 410);
    EXPECT_EQ(FormulaRenderer::cacheCount(), 80);

    FormulaRenderer::clearCache();
    fake.size = {400, 300}; // 800 × 600 pixels: 1,920,000 bytes each, 13 fit in 24 MiB
    for (int i = 0; i < 20; ++i)
        FormulaRenderer::image(QStringLiteral("y_{%1}").arg(i), 24, Qt::black, 410);
    EXPECT_EQ(FormulaRenderer::cacheCount(), 13);
    EXPECT_LE(FormulaRenderer::cacheCost(), 25165824);
    // The newest entries stay.
    int before = fake.layouts;
    FormulaRenderer::image(QStringLiteral("y_{19}"), 24, Qt::black, 410);
    EXPECT_EQ(fake.layouts, before);
}

} // namespace
