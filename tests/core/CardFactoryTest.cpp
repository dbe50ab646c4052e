#include "core/CardFactory.h"
#include "support/Errors.h"

#include "core/QuendaError.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using CardFactory::detail::Cloze;

void PrintTo(const RichTextRun& run, std::ostream* os) {
    *os << '"' << run.text.toStdString() << '"' << (run.bold ? " bold" : "") << (run.italic ? " italic" : "")
        << (run.underline ? " underline" : "") << " style " << int(run.style) << " alignment " << int(run.alignment)
        << (run.link ? " link " + run.link->toStdString() : "") << (run.imageID ? " image" : "")
        << (run.latex ? " formula " + run.latex->toStdString() : "");
}

namespace CardFactory::detail {
void PrintTo(const Cloze& cloze, std::ostream* os) {
    *os << "{range " << cloze.range.location << "+" << cloze.range.length << ", content " << cloze.contentRange.location
        << "+" << cloze.contentRange.length << ", c" << cloze.number << ", \"" << cloze.text.toStdString() << "\", "
        << (cloze.hint ? "\"" + cloze.hint->toStdString() + "\"" : std::string("no hint")) << "}";
}
} // namespace CardFactory::detail
using CardFactory::detail::TextRange;

namespace {

const Instant kNow = Instant::fromReferenceSeconds(800'000'000);
const Uuid kNoteID = Uuid::fromString(std::string_view("0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5B")).value();
const Uuid kDeckID = Uuid::fromString(std::string_view("1A2B3C4D-0000-4000-8000-000000000001")).value();
const Uuid kOtherDeckID = Uuid::fromString(std::string_view("1A2B3C4D-0000-4000-8000-000000000002")).value();

const QString kMismatch =
    QStringLiteral("Il testo della carta non corrisponde al contenuto formattato. Riapri l’editor e salva nuovamente.");
const QString kNoQuestion = QStringLiteral("Scrivi il testo della domanda.");
const QString kNoAnswer = QStringLiteral("Scrivi anche la risposta.");
const QString kNoCloze = QStringLiteral("Nascondi almeno una parola, per esempio {{c1::Tokyo}}.");
const QString kBlankCloze = QStringLiteral("Ogni parola nascosta deve contenere una risposta.");
const QString kHintAttachment = QStringLiteral("Il suggerimento di una parola nascosta può contenere soltanto testo. "
                                               "Inserisci immagini e formule nella risposta.");
const QString kBraces = QStringLiteral(
    "Controlla le parentesi delle parole nascoste. Usa {{c1::risposta}} senza annidare altre parentesi.");
const QString kKindChange = QStringLiteral(
    "Questa modifica rimuoverebbe carte esistenti e i loro ripassi. Mantieni il tipo originale della nota.");
QString removedClozesMessage(const QString& list) {
    return "Mantieni i numeri delle parole nascoste già presenti (" + list +
           "). Rimuoverli o rinumerarli cancellerebbe le carte e i loro ripassi. Puoi modificare il testo o "
           "aggiungere nuovi numeri.";
}

const QString kImageID = QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855.png");
const QString kObject = QString(QChar(kObjectReplacementCharacter));

RichTextRun plain(const QString& text) {
    return RichTextRun{.text = text};
}
RichTextRun bold(const QString& text) {
    return RichTextRun{.text = text, .bold = true};
}
RichTextRun italic(const QString& text) {
    return RichTextRun{.text = text, .italic = true};
}
RichTextRun image() {
    return RichTextRun{.text = kObject, .imageID = kImageID};
}

Note makeNote(NoteKind kind, const QString& front, const QString& back = {}) {
    return Note{.id = kNoteID, .deckID = kDeckID, .kind = kind, .front = front, .back = back};
}

Note formattedCloze(const QList<RichTextRun>& runs, const QString& back = {}) {
    Note note = makeNote(NoteKind::cloze, RichTextDocument{runs}.sourceText(), back);
    note.frontDocument = RichTextDocument{runs};
    return note;
}

// A card with a history, so that reuse can be told apart from re-creation.
Flashcard reviewedCard(std::int64_t ordinal, bool suspended = false) {
    MemoryState memory = MemoryState::newCard(Instant::fromReferenceSeconds(1000));
    memory.stability = 3.5;
    memory.difficulty = 6;
    memory.reps = 4;
    memory.stage = MemoryStage::review;
    memory.lastReview = Instant::fromReferenceSeconds(900);
    return Flashcard{Uuid::createRandom(), kNoteID, kDeckID, ordinal, memory, suspended};
}

Flashcard cardOf(const Note& note, std::int64_t ordinal) {
    return Flashcard{.id = Uuid::createRandom(), .noteID = note.id, .deckID = note.deckID, .ordinal = ordinal};
}

QList<std::int64_t> ordinalsOf(const QList<Flashcard>& cards) {
    QList<std::int64_t> ordinals;
    for (const Flashcard& card : cards)
        ordinals.append(card.ordinal);
    return ordinals;
}

} // namespace

TEST(CardFactoryTest, ParsesClozeMarkers) {
    const QChar loneSurrogate(0xD800);
    // clang-format off
    const struct {
        QString text;
        QList<Cloze> expected;
    } cases[] = {
        {"è {{c1::Tokyo}}.", {{{2, 13}, {8, 5}, 1, "Tokyo", {}}}},
        {"{{c12::Tokyo::città}}", {{{0, 21}, {7, 5}, 12, "Tokyo", "città"}}},
        {"{{c1:: a ::  \n}}", {{{0, 16}, {6, 3}, 1, " a ", {}}}},
        {"{{c1::a::b::c}}", {{{0, 15}, {6, 1}, 1, "a", "b::c"}}},
        {"{{c1:::a}}", {{{0, 10}, {6, 2}, 1, ":a", {}}}},
        {"{{c1::a\nb}}", {{{0, 11}, {6, 3}, 1, "a\nb", {}}}},
        {"😀{{c999::a}}", {{{2, 11}, {10, 1}, 999, "a", {}}}},
        {QString(loneSurrogate) + "{{c1::a}}", {{{1, 9}, {7, 1}, 1, "a", {}}}},
        {"{{c2::a}}{{c1::b}}", {{{0, 9}, {6, 1}, 2, "a", {}}, {{9, 9}, {15, 1}, 1, "b", {}}}},
        {"{{c1::{{c2::x}}}}", {{{6, 9}, {12, 1}, 2, "x", {}}}},
        {"{{c1000::a}} {{c2::b}}", {{{13, 9}, {19, 1}, 2, "b", {}}}},
        {"{{c99999999999999999999999::a}}", {}},
        {"{{c0::a}} {{c01::a}} {{C1::a}} {{c1::}} {{c1::a} {{c1:a}} {{c::a}}", {}},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(CardFactory::detail::parseClozes(c.text), c.expected) << c.text.toStdString();
}

TEST(CardFactoryTest, ValidatedClozesReportTheFirstFailingCheck) {
    // clang-format off
    const struct {
        QString text;
        QString message;
    } cases[] = {
        {"Nessun segno", kNoCloze},
        {"{{c0::a}}", kNoCloze},
        {"{{c1000::a}}", kNoCloze},
        {"{{c1000::a}} {{c1::b}}", kBraces},
        {"{{c1::b}} }}", kBraces},
        {"{{ {{c1::b}}", kBraces},
        {"{{c1::{{c2::x}}}}", kBraces},
        {"{{{c1::b}}{", kBraces},
        {"{{c1::   }}", kBlankCloze},
        {"{{c1::\u00A0\u2028::suggerimento}}", kBlankCloze},
        {"{{c1:: }} {{c2::a::" + kObject + "}}", kBlankCloze},
        {"{{c1::a::" + kObject + "}} }}", kHintAttachment},
        {"{{c1::a::b}} {singola} {{c2::" + kObject + "}}", QString()},
    };
    // clang-format on
    for (const auto& c : cases) {
        const QString message = invalidContentMessage([&] { CardFactory::detail::validatedClozes(c.text); });
        EXPECT_EQ(message, c.message.isEmpty() ? QStringLiteral("<no error>") : c.message) << c.text.toStdString();
    }
}

TEST(CardFactoryTest, ChecksNotesInOrder) {
    const auto withFront = [](Note note, const QList<RichTextRun>& runs) {
        note.frontDocument = RichTextDocument{runs};
        return note;
    };
    const auto withBack = [](Note note, const QList<RichTextRun>& runs) {
        note.backDocument = RichTextDocument{runs};
        return note;
    };
    const Note basic = makeNote(NoteKind::basic, "Domanda", "Risposta");
    // clang-format off
    const struct {
        const char* name;
        Note note;
        QString message;
    } cases[] = {
        {"front document fails validation before the comparison",
         withFront(basic, {plain("altro" + kObject)}), "Il contenuto contiene un allegato senza immagine o formula."},
        {"front document differs", withFront(basic, {plain("Domanda ")}), kMismatch},
        {"back document differs", withBack(basic, {plain("risposta")}), kMismatch},
        {"front document compared before an empty question",
         withFront(makeNote(NoteKind::basic, " ", "r"), {plain("")}), kMismatch},
        {"blank question", makeNote(NoteKind::basic, " \u00A0\u2029\t", ""), kNoQuestion},
        {"blank answer", makeNote(NoteKind::basic, "Domanda", "\n\u3000"), kNoAnswer},
        {"blank answer, reversed", makeNote(NoteKind::reversed, "Domanda", ""), kNoAnswer},
        {"cloze failures pass through", makeNote(NoteKind::cloze, "Domanda", "Risposta"), kNoCloze},
        {"cloze without back", makeNote(NoteKind::cloze, "{{c1::Tokyo}}", ""), QString()},
        {"canonically equivalent document",
         withFront(makeNote(NoteKind::basic, "caf\u00E9", "r"), {plain("cafe\u0301")}), QString()},
        {"documents equal to the fields",
         withBack(withFront(basic, {bold("Dom"), plain("anda")}), {plain("Risposta")}), QString()},
    };
    // clang-format on
    for (const auto& c : cases) {
        const QString message = invalidContentMessage([&] { CardFactory::cards(c.note, {}, kNow); });
        EXPECT_EQ(message, c.message.isEmpty() ? QStringLiteral("<no error>") : c.message) << c.name;
    }
}

TEST(CardFactoryTest, NewNotesGetNewCardsInOrdinalOrder) {
    const Note reversed = makeNote(NoteKind::reversed, "Domanda", "Risposta");
    const QList<Flashcard> cards = CardFactory::cards(reversed, {}, kNow);
    ASSERT_EQ(ordinalsOf(cards), (QList<std::int64_t>{0, 1}));
    for (const Flashcard& card : cards) {
        EXPECT_EQ(card.noteID, kNoteID);
        EXPECT_EQ(card.deckID, kDeckID);
        EXPECT_EQ(card.memory, MemoryState::newCard(kNow));
        EXPECT_FALSE(card.isSuspended);
        EXPECT_FALSE(card.id.isNull());
    }
    EXPECT_NE(cards[0].id, cards[1].id);

    const Note cloze = makeNote(NoteKind::cloze, "{{c2::a}} {{c1::b}} {{c2::c}} {{c10::d}}");
    EXPECT_EQ(ordinalsOf(CardFactory::cards(cloze, {}, kNow)), (QList<std::int64_t>{1, 2, 10}));
}

TEST(CardFactoryTest, EditsKeepExistingCardsAndAddNewOnes) {
    const Flashcard first = reviewedCard(1);
    const Flashcard third = reviewedCard(3, true);
    const Flashcard duplicateOfFirst = reviewedCard(1);
    Flashcard otherNotes = reviewedCard(7);
    otherNotes.noteID = Uuid::createRandom();

    Note note = makeNote(NoteKind::cloze, "{{c1::a}} {{c3::b}} {{c4::c}}");
    note.deckID = kOtherDeckID;
    const QList<Flashcard> cards = CardFactory::cards(note, {otherNotes, third, first, duplicateOfFirst}, kNow);

    ASSERT_EQ(ordinalsOf(cards), (QList<std::int64_t>{1, 3, 4}));
    Flashcard expectedFirst = first;
    expectedFirst.deckID = kOtherDeckID;
    Flashcard expectedThird = third;
    expectedThird.deckID = kOtherDeckID;
    EXPECT_EQ(cards[0], expectedFirst);
    EXPECT_EQ(cards[1], expectedThird);
    EXPECT_EQ(cards[2].memory, MemoryState::newCard(kNow));
    EXPECT_EQ(cards[2].deckID, kOtherDeckID);
    EXPECT_FALSE(cards[2].isSuspended);

    // A basic note may become reversed: its card stays, the backward card is new.
    const Note reversed = makeNote(NoteKind::reversed, "Domanda", "Risposta");
    const Flashcard forward = reviewedCard(0);
    const QList<Flashcard> reversedCards = CardFactory::cards(reversed, {forward}, kNow);
    ASSERT_EQ(ordinalsOf(reversedCards), (QList<std::int64_t>{0, 1}));
    EXPECT_EQ(reversedCards[0], forward);
    EXPECT_EQ(reversedCards[1].memory, MemoryState::newCard(kNow));
}

TEST(CardFactoryTest, RefusesEditsThatRemoveCards) {
    // clang-format off
    const struct {
        Note note;
        QList<std::int64_t> existing;
        QString message;
    } cases[] = {
        {makeNote(NoteKind::cloze, "{{c1::a}}"), {1, 3}, removedClozesMessage("c3")},
        {makeNote(NoteKind::cloze, "{{c1::a}} {{c4::b}}"), {5, 1, 2}, removedClozesMessage("c2, c5")},
        {makeNote(NoteKind::cloze, "{{c1::a}}"), {0}, removedClozesMessage("c0")},
        {makeNote(NoteKind::basic, "Domanda", "Risposta"), {0, 1}, kKindChange},
        {makeNote(NoteKind::basic, "Domanda", "Risposta"), {1}, kKindChange},
        {makeNote(NoteKind::reversed, "Domanda", "Risposta"), {2, 0}, kKindChange},
    };
    // clang-format on
    for (const auto& c : cases) {
        QList<Flashcard> existing;
        for (std::int64_t ordinal : c.existing)
            existing.append(reviewedCard(ordinal));
        EXPECT_EQ(invalidContentMessage([&] { CardFactory::cards(c.note, existing, kNow); }), c.message)
            << c.note.front.toStdString();
    }
}

TEST(CardFactoryTest, ClozeNumbersAreDistinctAndAscending) {
    EXPECT_EQ(CardFactory::clozeNumbers("{{c3::a}} {{c1::b}} {{c3::c}} {{c1000::d}} }}"), (QList<std::int64_t>{1, 3}));
    EXPECT_TRUE(CardFactory::clozeNumbers("nessuno").isEmpty());
}

TEST(CardFactoryTest, PresentsBasicAndReversedSides) {
    Note note = makeNote(NoteKind::reversed, "Domanda", "Risposta");
    note.frontDocument = RichTextDocument{{bold("Domanda")}};
    const CardPresentation forward = CardFactory::presentation(note, cardOf(note, 0));
    EXPECT_EQ(forward, (CardPresentation{"Domanda", "Risposta", {}, note.frontDocument, {}}));
    const CardPresentation backward = CardFactory::presentation(note, cardOf(note, 1));
    EXPECT_EQ(backward, (CardPresentation{"Risposta", "Domanda", {}, {}, note.frontDocument}));

    note.kind = NoteKind::basic;
    EXPECT_EQ(CardFactory::presentation(note, cardOf(note, 0)), forward);
}

TEST(CardFactoryTest, PresentsPlainClozes) {
    // clang-format off
    const struct {
        QString front;
        QString back;
        std::int64_t ordinal;
        QString question;
        QString answer;
        std::optional<QString> hint;
    } cases[] = {
        {"La capitale è {{c1::Tokyo}}.", "", 1, "La capitale è […].", "La capitale è Tokyo.", {}},
        {"La capitale è {{c1::Tokyo::città}}.", "", 1, "La capitale è [città].", "La capitale è Tokyo.", "città"},
        {"{{c1::Tokyo::  }}", "", 1, "[…]", "Tokyo", {}},
        {"{{c2::a::primo}} {{c1::b::x}} {{c2::c}}", "", 2, "[primo] b […]", "a b c", "primo"},
        {"{{c2::a}} {{c1::b::x}} {{c2::c::ultimo}}", "", 2, "[…] b [ultimo]", "a b c", {}},
        {"{{c1::a}} {{c1000::b}}", " \n Nota \n", 1, "[…] {{c1000::b}}", "a {{c1000::b}}\n\nNota", {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        const Note note = makeNote(NoteKind::cloze, c.front, c.back);
        const CardPresentation shown = CardFactory::presentation(note, cardOf(note, c.ordinal));
        EXPECT_EQ(shown, (CardPresentation{c.question, c.answer, c.hint, {}, {}})) << c.front.toStdString();
    }
}

TEST(CardFactoryTest, RendersClozesIntoTheDocumentRuns) {
    // clang-format off
    const struct {
        const char* name;
        QList<RichTextRun> front;
        QList<RichTextRun> question;
        QList<RichTextRun> answer;
    } cases[] = {
        {"bold answer gives a bold placeholder; runs are cut at the marker",
         {plain("Capitale {{c1::"), bold("Tokyo"), plain("}} fine")},
         {plain("Capitale "), bold("[…]"), plain(" fine")},
         {plain("Capitale "), bold("Tokyo"), plain(" fine")}},
        {"a run spanning text and marker keeps its formatting in both pieces",
         {italic("Vedi {{c1::Tokyo}} e")},
         {italic("Vedi "), italic("[…]"), italic(" e")},
         {italic("Vedi "), italic("Tokyo"), italic(" e")}},
        {"formatting changes inside an answer are kept",
         {plain("{{c1::"), bold("To"), italic("kyo"), plain("::città}}")},
         {bold("[città]")},
         {bold("To"), italic("kyo")}},
        {"an image in an answer is hidden by a plain placeholder",
         {plain("{{c1::"), image(), plain("}} dopo")},
         {plain("[…]"), plain(" dopo")},
         {image(), plain(" dopo")}},
        {"a linked answer leaves no link on the placeholder; empty runs are skipped",
         {plain("{{c1::"), plain(""), RichTextRun{.text = "qui", .underline = true, .link = "https://a.it"}, plain("}}")},
         {RichTextRun{.text = "[…]", .underline = true}},
         {RichTextRun{.text = "qui", .underline = true, .link = "https://a.it"}}},
        {"other numbers are revealed on the question side",
         {plain("{{c2::a}} "), bold("{{c1::b}}")},
         {plain("a"), plain(" "), bold("[…]")},
         {plain("a"), plain(" "), bold("b")}},
    };
    // clang-format on
    for (const auto& c : cases) {
        const Note note = formattedCloze(c.front);
        const CardPresentation shown = CardFactory::presentation(note, cardOf(note, 1));
        EXPECT_EQ(shown.questionDocument, RichTextDocument{c.question}) << c.name;
        EXPECT_EQ(shown.answerDocument, RichTextDocument{c.answer}) << c.name;
        EXPECT_EQ(shown.question, RichTextDocument{c.question}.sourceText()) << c.name;
        EXPECT_EQ(shown.answer, RichTextDocument{c.answer}.sourceText()) << c.name;
    }
}

TEST(CardFactoryTest, AppendsTheBackToTheAnswerDocument) {
    const QList<RichTextRun> backRuns{italic(" Nota ")};

    Note note = formattedCloze({plain("{{c1::a}}")}, " Nota ");
    CardPresentation shown = CardFactory::presentation(note, cardOf(note, 1));
    EXPECT_EQ(shown.answerDocument, (RichTextDocument{{plain("a"), plain("\n\n"), plain("Nota")}}));
    EXPECT_EQ(shown.answer, "a\n\nNota");

    note.backDocument = RichTextDocument{backRuns};
    shown = CardFactory::presentation(note, cardOf(note, 1));
    EXPECT_EQ(shown.answerDocument, (RichTextDocument{{plain("a"), plain("\n\n"), italic(" Nota ")}}));
    EXPECT_EQ(shown.answer, "a\n\n Nota ");

    // Without a front document the plain front is rendered; the question stays plain.
    note.frontDocument.reset();
    shown = CardFactory::presentation(note, cardOf(note, 1));
    EXPECT_FALSE(shown.questionDocument.has_value());
    EXPECT_EQ(shown.question, "[…]");
    EXPECT_EQ(shown.answerDocument, (RichTextDocument{{plain("a"), plain("\n\n"), italic(" Nota ")}}));

    // An empty back adds nothing after the revealed front.
    shown = CardFactory::presentation(formattedCloze({plain("{{c1::a}}")}, " \n"), cardOf(note, 1));
    EXPECT_EQ(shown.answerDocument, (RichTextDocument{{plain("a")}}));
    EXPECT_EQ(shown.answer, "a");
}

TEST(CardFactoryTest, RendersADocumentInAnotherNormalizationForm) {
    // The front is composed, the document decomposed: positions differ by one unit before the marker.
    Note note = makeNote(NoteKind::cloze, "caf\u00E9 {{c1::Tokyo}}");
    note.frontDocument = RichTextDocument{{plain("cafe\u0301 {{c1::"), bold("Tokyo"), plain("}}")}};
    ASSERT_EQ(CardFactory::cards(note, {}, kNow).size(), 1);
    const CardPresentation shown = CardFactory::presentation(note, cardOf(note, 1));
    EXPECT_EQ(shown.questionDocument, (RichTextDocument{{plain("cafe\u0301 "), bold("[…]")}}));
    EXPECT_EQ(shown.answerDocument, (RichTextDocument{{plain("cafe\u0301 "), bold("Tokyo")}}));
}

TEST(CardFactoryTest, RunCursorWalksAcrossEmptyRunsAndStopsAtTheEnd) {
    const QList<RichTextRun> runs{plain(""), bold("ab"), plain(""), italic("cd")};
    CardFactory::detail::RunCursor cursor(runs);
    EXPECT_EQ(cursor.currentRun(), bold("ab"));
    EXPECT_EQ(cursor.consume(3, true), (QList<RichTextRun>{bold("ab"), italic("c")}));
    EXPECT_EQ(cursor.currentRun(), italic("cd"));
    EXPECT_TRUE(cursor.consume(3, true).isEmpty());
    EXPECT_EQ(cursor.consume(100, true), QList<RichTextRun>{italic("d")});
    EXPECT_EQ(cursor.position(), 4);
    EXPECT_FALSE(cursor.currentRun().has_value());
}
