#include "exchange/CSVExchange.h"

#include "core/QuendaError.h"
#include "core/RichTextDocument.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <functional>

using namespace CSVExchange;

namespace {

const Deck kDeck{*Uuid::fromString("0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5B"), "Lingue", "", "book", "4F5FE7", {}, {}};

QuendaError errorOf(const QString& text) {
    try {
        read(text, kDeck);
    } catch (const QuendaError& error) {
        return error;
    }
    ADD_FAILURE() << "read succeeded";
    return QuendaError::missingRecord();
}

QuendaError invalid(const QString& message) {
    return QuendaError::invalidContent(message);
}

TEST(CSVExchangeTest, StableIdentifiersAreVersion8DigestsOfLengthPrefixedParts) {
    EXPECT_EQ(stableUUID({"ab", "c"}).toString(), "430FB1B4-AC43-816E-8A81-FAB27A1930AB");
    // Lengths count UTF-8 bytes, not characters.
    EXPECT_EQ(stableUUID({"città"}).toString(), "25362B05-3A76-82B2-96F2-11FC2DDDC20B");
}

TEST(CSVExchangeTest, DelimiterIsTheMostFrequentOutsideQuotesInTheFirstRecord) {
    struct Case {
        const char* text;
        char16_t delimiter;
    };
    const Case cases[] = {
        {"a\t\tb,,c\nx,y,z,w", u'\t'},      // ties favour tab, later lines do not count
        {"a,b;c,d", u','},                  // comma beats semicolon on count
        {"a;b;c,d", u';'},
        {"\"a;b;c\",d", u','},              // quoted delimiters do not count
        {"\"x\ny;;;\",d\nz", u','},         // the first record goes on past a quoted line break
        {"plain", u'\t'},
        {"a,b\r;;;;", u','},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(detectDelimiter(QString::fromUtf8(c.text)), QChar(c.delimiter));
    }
}

TEST(CSVExchangeTest, ParserHandlesQuotesLineBreaksAndEnds) {
    struct Case {
        const char* text;
        QList<QStringList> records;
    };
    const Case cases[] = {
        {"a,b\nc,d\n", {{"a", "b"}, {"c", "d"}}},
        {"a,b\r\nc,d", {{"a", "b"}, {"c", "d"}}},
        {"a,b\rc,d\r", {{"a", "b"}, {"c", "d"}}},
        {"\"x\r\ny \"\"q\"\"\",z", {{"x\r\ny \"q\"", "z"}}},
        {"\"a\"  ,b", {{"a", "b"}}},
        {"a,\n\nb,", {{"a", ""}, {""}, {"b", ""}}},
        {"\"\"", {{""}}},
        {",", {{"", ""}}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parse(QString::fromUtf8(c.text), u','), c.records);
    }
}

TEST(CSVExchangeTest, QuoteErrorsNameThePhysicalLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"front,back\n\"two\nlines\",x\nab\"c,d", "Virgolette non valide alla riga 4."},
        {"a,b\r\n\r\n\"c\" x,d", "Virgolette non valide alla riga 3."},
        {"a, \"b\"", "Virgolette non valide alla riga 1."},
        {"a,\"b", "Una cella contiene virgolette aperte senza chiusura."},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(errorOf(QString::fromUtf8(text)), invalid(QString::fromUtf8(message)));
    }
}

TEST(CSVExchangeTest, SemicolonHeaderInItalian) {
    const LibrarySnapshot snapshot = read("\xEF\xBB\xBF" "Domanda;Risposta\ncasa;house\n", kDeck);
    ASSERT_EQ(snapshot.notes.size(), 1);
    const Note& note = snapshot.notes[0];
    EXPECT_EQ(note.front, "casa");
    EXPECT_EQ(note.back, "house");
    EXPECT_EQ(note.kind, NoteKind::basic);
    EXPECT_EQ(note.deckID, kDeck.id);
    EXPECT_EQ(note.id, stableUUID({"quenda-csv-note-v1", kDeck.id.toString(), "basic", "casa", "house", ""}));
    ASSERT_EQ(snapshot.cards.size(), 1);
    EXPECT_EQ(snapshot.cards[0].id, stableUUID({"quenda-csv-card-v1", note.id.toString(), "0"}));
    EXPECT_EQ(snapshot.cards[0].memory, MemoryState::newCard(note.createdAt));
    EXPECT_EQ(snapshot.decks, QList<Deck>{kDeck});
    EXPECT_TRUE(snapshot.reviews.isEmpty());
    EXPECT_EQ(snapshot.preferences, (StudyPreferences{10, 0.9}));
}

TEST(CSVExchangeTest, WithoutHeaderEveryLineIsANote) {
    const LibrarySnapshot snapshot = read("uno,one,\"b;a\"\ndue,two,\n", kDeck);
    ASSERT_EQ(snapshot.notes.size(), 2);
    EXPECT_EQ(snapshot.notes[0].front, "uno");
    EXPECT_EQ(snapshot.notes[0].back, "one");
    EXPECT_EQ(snapshot.notes[0].tags, (QStringList{"a", "b"}));
    EXPECT_EQ(snapshot.notes[1].front, "due");
}

TEST(CSVExchangeTest, HeaderWordsKindsTagsAndIdentifiers) {
    const QString text = "Question\tAnswer\tTags\tTipo\tNote_ID\tcomment\n"
                         "a\tb\tb; a|a\t\t\tignored\n"
                         "c\td\t\t Inversa \t\t\n"
                         "{{c1::Roma}} e {{c2::Parigi}}\t\t\tcloze\t0f2b6c1e-3a4d-4e5f-8a9b-0c1d2e3f4a5c\t\n";
    const LibrarySnapshot snapshot = read(text, kDeck);
    ASSERT_EQ(snapshot.notes.size(), 3);
    EXPECT_EQ(snapshot.notes[0].tags, (QStringList{"a", "b"}));
    EXPECT_EQ(snapshot.notes[1].kind, NoteKind::reversed);
    EXPECT_EQ(snapshot.notes[2].kind, NoteKind::cloze);
    EXPECT_EQ(snapshot.notes[2].id.toString(), "0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5C");
    QList<std::int64_t> ordinals;
    for (const Flashcard& card : snapshot.cards)
        ordinals.append(card.ordinal);
    EXPECT_EQ(ordinals, (QList<std::int64_t>{0, 0, 1, 1, 2}));
    EXPECT_EQ(snapshot.cards[4].id, stableUUID({"quenda-csv-card-v1", "0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5C", "2"}));

    // Reading the same file again gives the same notes and cards.
    const LibrarySnapshot again = read(text, kDeck);
    for (qsizetype i = 0; i < 3; ++i)
        EXPECT_EQ(again.notes[i].id, snapshot.notes[i].id);
    for (qsizetype i = 0; i < snapshot.cards.size(); ++i)
        EXPECT_EQ(again.cards[i].id, snapshot.cards[i].id);
    EXPECT_NE(again.libraryID, snapshot.libraryID);
}

TEST(CSVExchangeTest, DuplicateRows) {
    const LibrarySnapshot snapshot = read("front,back\nx,y\n x , y \nx,z\n", kDeck);
    ASSERT_EQ(snapshot.notes.size(), 2);
    EXPECT_EQ(snapshot.cards.size(), 2);

    const QString id = "0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5D";
    EXPECT_EQ(errorOf("front,back,id\nx,y," + id + "\nx,z," + id + "\n"),
              invalid("Due righe diverse usano lo stesso identificativo di carta."));
}

TEST(CSVExchangeTest, RefusalsNameTheRowAmongNonBlankRecords) {
    const std::pair<QString, QString> cases[] = {
        {"", "Il file non contiene carte da importare."},
        {" \n\t\n", "Il file non contiene carte da importare."},
        {"solo\nuna\n", "Servono almeno due colonne: domanda e risposta."},
        {"a,b,c,d,e,f\n", "Servono almeno due colonne: domanda e risposta."},
        {"front,front,back\n1,2,3\n", "L’intestazione deve contenere una colonna Domanda e una colonna Risposta."},
        {"front,tags\n1,2\n", "L’intestazione deve contenere una colonna Domanda e una colonna Risposta."},
        {"front,back,tag,etichette\n1,2,3,4\n", "L’intestazione contiene colonne duplicate."},
        {"front,back\n\n", "Il file contiene solo l’intestazione, senza carte."},
        {"front,back\n\n\na,b\n\nc\n", "La riga 3 ha 1 colonne; ne erano previste 2."},
        {"front,back,type\na,b,Strano \n", "Il tipo di carta alla riga 2 non è supportato: Strano ."},
        {"front,back,id\na,b,not-an-id\n", "L’identificativo della carta alla riga 2 non è valido."},
        {"a,b\n,c\n", "Riga 2: Scrivi il testo della domanda."},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(errorOf(text), invalid(message));
    }
}

TEST(CSVExchangeTest, SizeAndRecordLimits) {
    EXPECT_EQ(errorOf(QString(33'554'433, u'a')), invalid("Il file di testo supera 32 MB."));
    // Multi-byte characters count by their UTF-8 size.
    EXPECT_EQ(errorOf(QString(16'777'217, u'è')), invalid("Il file di testo supera 32 MB."));

    const QString row = "a,b\n";
    EXPECT_EQ(errorOf(row.repeated(50'003)), invalid("Il file contiene troppe righe."));
    EXPECT_EQ(errorOf(row.repeated(50'002)), invalid("Importa al massimo 50.000 carte per volta."));
    EXPECT_EQ(read("front,back\n" + row.repeated(50'000), kDeck).notes.size(), 1);
}

TEST(CSVExchangeTest, WriteQuotesEveryFieldAndReadsBack) {
    Note plain{.id = *Uuid::fromString("0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5E"), .deckID = kDeck.id,
               .kind = NoteKind::reversed, .front = "Il \"Duomo\"", .back = "Milano,\nItalia"};
    plain.tags = {"arte", "città"};
    Note formatted{.id = *Uuid::fromString("0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5F"), .deckID = kDeck.id,
                   .kind = NoteKind::basic, .front = "link", .back = "b"};
    formatted.frontDocument = RichTextDocument{{RichTextRun{.text = "link", .link = "https://example.com"}}};

    const QString text = write({plain, formatted});
    EXPECT_EQ(text, "front,back,tags,type,id\r\n"
                    "\"Il \"\"Duomo\"\"\",\"Milano,\nItalia\",\"arte;città\",\"reversed\","
                    "\"0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5E\"\r\n"
                    "\"" + formatted.frontDocument->exportText() + "\",\"b\",\"\",\"basic\","
                    "\"0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5F\"\r\n");

    const LibrarySnapshot back = read(text, kDeck);
    ASSERT_EQ(back.notes.size(), 2);
    EXPECT_EQ(back.notes[0].id, plain.id);
    EXPECT_EQ(back.notes[0].front, plain.front);
    EXPECT_EQ(back.notes[0].back, plain.back);
    EXPECT_EQ(back.notes[0].tags, plain.tags);
    EXPECT_EQ(back.notes[0].kind, NoteKind::reversed);
    EXPECT_EQ(back.notes[1].front, formatted.frontDocument->exportText());
}

} // namespace
