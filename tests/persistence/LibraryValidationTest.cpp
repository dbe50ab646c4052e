#include "persistence/LibraryValidation.h"

#include "LibraryFixtures.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using namespace Fixtures;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
const QString kDigits = QStringLiteral("0123456789abcdef").repeated(4);

struct Case {
    const char* name;
    std::function<void()> check;
    const char16_t* message; ///< nullptr: the check passes
};

void expectOutcome(const Case& c) {
    SCOPED_TRACE(c.name);
    if (!c.message) {
        EXPECT_NO_THROW(c.check());
        return;
    }
    try {
        c.check();
        ADD_FAILURE() << "passed, expected: " << QString::fromUtf16(c.message).toStdString();
    } catch (const QuendaError& error) {
        EXPECT_EQ(error, QuendaError::invalidContent(QString::fromUtf16(c.message)));
    }
}

template <typename Record, typename Mutation> Record with(Record record, Mutation mutate) {
    mutate(record);
    return record;
}

RichTextDocument plainDocument(const QString& text) {
    return RichTextDocument{{RichTextRun{.text = text}}};
}

} // namespace

TEST(LibraryValidationTest, DeckRules) {
    const Case cases[] = {
        {"valid", [] { LibraryValidation::deck(deck()); }, nullptr},
        {"blank name", [] { LibraryValidation::deck(with(deck(), [](Deck& d) { d.name = " \n\t "; })); },
         u"Dai un nome al mazzo."},
        {"blank name wins over bad date",
         [] { LibraryValidation::deck(with(deck(), [](Deck& d) { d.name = "", d.createdAt = at(kNaN); })); },
         u"Dai un nome al mazzo."},
        {"infinite creation",
         [] { LibraryValidation::deck(with(deck(), [](Deck& d) { d.createdAt = at(kInfinity); })); },
         u"Una data non è valida."},
        {"NaN update", [] { LibraryValidation::deck(with(deck(), [](Deck& d) { d.updatedAt = at(kNaN); })); },
         u"Una data non è valida."},
    };
    for (const Case& c : cases)
        expectOutcome(c);
}

TEST(LibraryValidationTest, NoteRules) {
    auto check = [](auto mutate) { return [mutate] { LibraryValidation::note(with(note(), mutate)); }; };
    const Case cases[] = {
        {"valid", check([](Note&) {}), nullptr},
        {"blank front", check([](Note& n) { n.front = "  \n"; }), u"Scrivi il contenuto della domanda."},
        {"blank back", check([](Note& n) { n.back = "   "; }), u"Scrivi una risposta per la carta."},
        {"reversed blank back", check([](Note& n) { n.kind = NoteKind::reversed, n.back = ""; }),
         u"Scrivi una risposta per la carta."},
        {"cloze empty back", check([](Note& n) { n.kind = NoteKind::cloze, n.back = ""; }), nullptr},
        {"image tif", check([](Note& n) { n.imageID = kDigits + ".tif"; }), nullptr},
        {"image upper-case hex", check([](Note& n) { n.imageID = kDigits.toUpper() + ".png"; }),
         u"Il riferimento all’immagine non è valido."},
        {"image 63 digits", check([](Note& n) { n.imageID = kDigits.mid(1) + ".png"; }),
         u"Il riferimento all’immagine non è valido."},
        {"image upper-case extension", check([](Note& n) { n.imageID = kDigits + ".PNG"; }),
         u"Il riferimento all’immagine non è valido."},
        {"image trailing space", check([](Note& n) { n.imageID = kDigits + ".png "; }),
         u"Il riferimento all’immagine non è valido."},
        {"matching documents",
         check([](Note& n) { n.frontDocument = plainDocument(n.front), n.backDocument = plainDocument(n.back); }),
         nullptr},
        {"canonically equivalent front", check([](Note& n) {
             n.front = QString::fromUtf16(u"perch\u00e9");
             n.frontDocument = plainDocument(QString::fromUtf16(u"perche\u0301"));
         }),
         nullptr},
        {"document errors pass through",
         check([](Note& n) { n.frontDocument = plainDocument(QString(QChar(kObjectReplacementCharacter))); }),
         u"Il contenuto contiene un allegato senza immagine o formula."},
        {"front differs by trailing space", check([](Note& n) { n.frontDocument = plainDocument(n.front + " "); }),
         u"Il testo della carta non corrisponde al suo documento formattato."},
        {"back differs", check([](Note& n) { n.backDocument = plainDocument("Milano"); }),
         u"Il testo della carta non corrisponde al suo documento formattato."},
        {"infinite creation", check([](Note& n) { n.createdAt = at(-kInfinity); }), u"Una data non è valida."},
        {"NaN update", check([](Note& n) { n.updatedAt = at(kNaN); }), u"Una data non è valida."},
    };
    for (const Case& c : cases)
        expectOutcome(c);
}

TEST(LibraryValidationTest, MemoryRules) {
    auto check = [](MemoryState base, auto mutate) {
        return [base, mutate] { LibraryValidation::memory(with(base, mutate)); };
    };
    const MemoryState fresh = MemoryState::newCard(at(1'700'000'000));
    const MemoryState seen = reviewedMemory();
    const char16_t* invalid = u"Lo stato di ripasso contiene valori non validi.";
    const char16_t* incomplete = u"La cronologia di una carta è incompleta.";
    const Case cases[] = {
        {"new card with zeros", check(fresh, [](MemoryState&) {}), nullptr},
        {"reviewed card", check(seen, [](MemoryState&) {}), nullptr},
        {"zeros in review stage", check(fresh, [](MemoryState& m) { m.stage = MemoryStage::review; }), incomplete},
        {"difficulty 10", check(seen, [](MemoryState& m) { m.difficulty = 10; }), nullptr},
        {"difficulty 10.5", check(seen, [](MemoryState& m) { m.difficulty = 10.5; }), invalid},
        {"negative stability", check(fresh, [](MemoryState& m) { m.stability = -0.1; }), invalid},
        {"NaN stability", check(fresh, [](MemoryState& m) { m.stability = kNaN; }), invalid},
        {"infinite elapsed", check(fresh, [](MemoryState& m) { m.elapsedDays = kInfinity; }), invalid},
        {"negative scheduled", check(fresh, [](MemoryState& m) { m.scheduledDays = -1; }), invalid},
        {"negative steps", check(fresh, [](MemoryState& m) { m.learningSteps = -1; }), invalid},
        {"lapses above reps", check(seen, [](MemoryState& m) { m.reps = 2, m.lapses = 3; }), invalid},
        {"range wins over date", check(fresh, [](MemoryState& m) { m.reps = -1, m.due = at(kNaN); }), invalid},
        {"NaN due", check(fresh, [](MemoryState& m) { m.due = at(kNaN); }), u"Una data non è valida."},
        {"infinite last review", check(fresh, [](MemoryState& m) { m.lastReview = at(kInfinity); }),
         u"Una data non è valida."},
        {"learning without last review", check(seen, [](MemoryState& m) { m.lastReview.reset(); }), incomplete},
        {"relearning without reps", check(seen, [](MemoryState& m) { m.stage = MemoryStage::relearning, m.reps = 0; }),
         incomplete},
        {"learning with zero stability",
         check(seen, [](MemoryState& m) { m.stage = MemoryStage::learning, m.stability = 0; }), incomplete},
        {"difficulty below 1", check(seen, [](MemoryState& m) { m.difficulty = 0.5; }), incomplete},
    };
    for (const Case& c : cases)
        expectOutcome(c);
}

TEST(LibraryValidationTest, CardsRules) {
    const Note n = note();
    auto check = [n](QList<Flashcard> cards) { return [n, cards] { LibraryValidation::cards(cards, n); }; };
    const Flashcard first = card(n, 0);
    const Flashcard second = card(n, 1);
    const char16_t* duplicate = u"Le carte generate sono mancanti o duplicate.";
    const char16_t* foreign = u"Una carta non appartiene alla nota o al mazzo indicato.";
    const Case cases[] = {
        {"two cards", check({first, second}), nullptr},
        {"none", check({}), duplicate},
        {"same identifier", check({first, with(second, [&](Flashcard& c) { c.id = first.id; })}), duplicate},
        {"same ordinal", check({first, with(second, [](Flashcard& c) { c.ordinal = 0; })}), duplicate},
        {"other note", check({with(first, [](Flashcard& c) { c.noteID = id(0xA0, 9); })}), foreign},
        {"other deck", check({with(first, [](Flashcard& c) { c.deckID = id(0xD0, 9); })}), foreign},
        {"negative ordinal", check({with(first, [](Flashcard& c) { c.ordinal = -1; })}), foreign},
        {"bad memory", check({with(first, [](Flashcard& c) { c.memory.reps = -1; })}),
         u"Lo stato di ripasso contiene valori non validi."},
        {"list order decides",
         check({with(first, [](Flashcard& c) { c.memory.reps = -1; }),
                with(second, [](Flashcard& c) { c.deckID = id(0xD0, 9); })}),
         u"Lo stato di ripasso contiene valori non validi."},
    };
    for (const Case& c : cases)
        expectOutcome(c);
}

TEST(LibraryValidationTest, ReviewRules) {
    const ReviewEvent base = review(card(note()));
    auto check = [base](auto mutate) { return [base, mutate] { LibraryValidation::review(with(base, mutate)); }; };
    const char16_t* parameters = u"I parametri del ripasso non sono validi.";
    const Case cases[] = {
        {"valid", check([](ReviewEvent&) {}), nullptr},
        {"undone", check([](ReviewEvent& e) { e.undoneAt = at(1'700'000'600); }), nullptr},
        {"NaN reviewedAt", check([](ReviewEvent& e) { e.reviewedAt = at(kNaN); }), u"Una data non è valida."},
        {"infinite undoneAt", check([](ReviewEvent& e) { e.undoneAt = at(kInfinity); }), u"Una data non è valida."},
        {"bad before", check([](ReviewEvent& e) { e.before.difficulty = 11; }),
         u"Lo stato di ripasso contiene valori non validi."},
        {"incomplete after", check([](ReviewEvent& e) { e.after.lastReview.reset(); }),
         u"La cronologia di una carta è incompleta."},
        {"no algorithm", check([](ReviewEvent& e) { e.algorithm.clear(); }), parameters},
        {"any algorithm", check([](ReviewEvent& e) { e.algorithm = "x"; }), nullptr},
        {"retention 1", check([](ReviewEvent& e) { e.retention = 1; }), parameters},
        {"retention 0", check([](ReviewEvent& e) { e.retention = 0; }), parameters},
        {"retention NaN", check([](ReviewEvent& e) { e.retention = kNaN; }), parameters},
    };
    for (const Case& c : cases)
        expectOutcome(c);
}

TEST(LibraryValidationTest, SnapshotRules) {
    auto check = [](auto mutate) { return [mutate] { LibraryValidation::snapshot(with(snapshot(), mutate)); }; };
    const char16_t* duplicates = u"Il file contiene identificativi duplicati.";
    const Case cases[] = {
        {"valid", check([](LibrarySnapshot&) {}), nullptr},
        {"empty", [] { LibraryValidation::snapshot(LibrarySnapshot{.libraryID = id(0xF0)}); }, nullptr},
        {"limit 1000", check([](LibrarySnapshot& s) { s.preferences.dailyNewLimit = 1000; }), nullptr},
        {"limit 1001", check([](LibrarySnapshot& s) { s.preferences.dailyNewLimit = 1001; }),
         u"Le impostazioni di ripasso non sono valide."},
        {"limit -1", check([](LibrarySnapshot& s) { s.preferences.dailyNewLimit = -1; }),
         u"Le impostazioni di ripasso non sono valide."},
        {"retention 1", check([](LibrarySnapshot& s) { s.preferences.desiredRetention = 1.0; }),
         u"Le impostazioni di ripasso non sono valide."},
        {"two decks one id", check([](LibrarySnapshot& s) { s.decks.append(s.decks[0]); }), duplicates},
        {"two notes one id",
         check([](LibrarySnapshot& s) { s.notes.append(with(s.notes[0], [](Note& n) { n.front = "Altro"; })); }),
         duplicates},
        {"two reviews one id", check([](LibrarySnapshot& s) { s.reviews.append(s.reviews[0]); }), duplicates},
        {"deck shares id with note", check([](LibrarySnapshot& s) {
             s.decks[0].id = s.notes[0].id, s.notes[0].deckID = s.decks[0].id, s.cards[0].deckID = s.decks[0].id;
         }),
         nullptr},
        {"bad deck", check([](LibrarySnapshot& s) { s.decks[0].name = ""; }), u"Dai un nome al mazzo."},
        {"bad note", check([](LibrarySnapshot& s) { s.notes[0].front = ""; }), u"Scrivi il contenuto della domanda."},
        {"note of missing deck",
         check([](LibrarySnapshot& s) { s.notes[0].deckID = id(0xD0, 9), s.cards[0].deckID = id(0xD0, 9); }),
         u"Il mazzo di una nota non è presente nel file."},
        {"note without cards", check([](LibrarySnapshot& s) { s.cards.clear(), s.reviews.clear(); }),
         u"Le carte generate sono mancanti o duplicate."},
        {"card of another deck", check([](LibrarySnapshot& s) { s.cards[0].deckID = id(0xD0, 9); }),
         u"Una carta non appartiene alla nota o al mazzo indicato."},
        {"card of missing note", check([](LibrarySnapshot& s) {
             s.cards.append(with(s.cards[0], [](Flashcard& c) { c.id = id(0xC0, 9), c.noteID = id(0xA0, 9); }));
         }),
         u"La nota di una carta non è presente nel file."},
        {"bad review", check([](LibrarySnapshot& s) { s.reviews[0].retention = 0; }),
         u"I parametri del ripasso non sono validi."},
        {"review of missing card", check([](LibrarySnapshot& s) { s.reviews[0].cardID = id(0xC0, 9); }),
         u"La carta di un ripasso non è presente nel file."},
    };
    for (const Case& c : cases)
        expectOutcome(c);
}
