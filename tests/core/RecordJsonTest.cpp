#include "core/RecordJson.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

const Uuid kDeckID = *Uuid::fromString(std::string_view("0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5B"));
const Uuid kNoteID = *Uuid::fromString(std::string_view("11111111-2222-4333-8444-555555555555"));
const Uuid kCardID = *Uuid::fromString(std::string_view("AAAAAAAA-BBBB-4CCC-9DDD-EEEEEEEEEEEE"));
const Uuid kReviewID = *Uuid::fromString(std::string_view("01234567-89AB-4CDE-AF01-23456789ABCD"));
const QString kImage = QStringLiteral("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef.png");

Instant at(double referenceSeconds) {
    return Instant::fromReferenceSeconds(referenceSeconds);
}

RichTextDocument richDocument() {
    return RichTextDocument{{
        RichTextRun{.text = QStringLiteral("Vedi \"qui\"\n\t\\"),
                    .bold = true,
                    .style = RichTextStyle::heading,
                    .alignment = RichTextAlignment::center},
        RichTextRun{.text = QStringLiteral("link"),
                    .italic = true,
                    .underline = true,
                    .style = RichTextStyle::caption,
                    .alignment = RichTextAlignment::trailing,
                    .link = QStringLiteral("https://example.org/?a=1&b=\u00e8")},
        RichTextRun{.text = QString(QChar(kObjectReplacementCharacter)), .imageID = kImage},
        RichTextRun{.text = QString(QChar(kObjectReplacementCharacter)), .latex = QStringLiteral("\\frac{1}{2}")},
    }};
}

Note richNote() {
    const RichTextDocument front = richDocument();
    return Note{.id = kNoteID,
                .deckID = kDeckID,
                .kind = NoteKind::cloze,
                .front = front.sourceText(),
                .back = QStringLiteral("retro \U0001F600 \u00e0\u00e8"),
                .tags = {QStringLiteral("a"), QString()},
                .imageID = kImage,
                .frontDocument = front,
                .backDocument = RichTextDocument{},
                .createdAt = at(-12345.678),
                .updatedAt = at(7.25e8)};
}

Note plainNote() {
    return Note{.id = kNoteID,
                .deckID = kDeckID,
                .front = QStringLiteral("Domanda"),
                .back = QStringLiteral("Risposta"),
                .createdAt = at(0),
                .updatedAt = at(1)};
}

MemoryState reviewedState(double seed) {
    return MemoryState{.due = at(seed * 1e3),
                       .stability = 0.1 * seed,
                       .difficulty = 1e-300 + seed,
                       .elapsedDays = -0.0,
                       .scheduledDays = 1.0 / 3.0,
                       .learningSteps = 2,
                       .reps = 1LL << 53,
                       .lapses = -7,
                       .stage = MemoryStage::relearning,
                       .lastReview = at(seed)};
}

ReviewEvent review(std::optional<Instant> undoneAt = std::nullopt) {
    return ReviewEvent{.id = kReviewID,
                       .cardID = kCardID,
                       .reviewedAt = at(786543210.123456789),
                       .rating = ReviewRating::hard,
                       .before = MemoryState::newCard(at(-1.5)),
                       .after = reviewedState(3.7),
                       .algorithm = QStringLiteral("fsrs-6-default-v1"),
                       .retention = 0.9,
                       .undoneAt = undoneAt};
}

Flashcard card() {
    return Flashcard{.id = kCardID,
                     .noteID = kNoteID,
                     .deckID = kDeckID,
                     .ordinal = 999,
                     .memory = reviewedState(42.0),
                     .isSuspended = true};
}

Deck deck() {
    return Deck{.id = kDeckID,
                .name = QStringLiteral("Italiano \u2019"),
                .subtitle = QString(),
                .symbol = QStringLiteral("book.closed"),
                .colorHex = QStringLiteral("4F5FE7"),
                .createdAt = at(1e-9),
                .updatedAt = at(4e9)};
}

// A library with awkward doubles everywhere: values with no short decimal form, tiny and huge
// magnitudes, negative zero and times far from the epochs.
LibrarySnapshot library(int notes = 5) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> seconds(-3e9, 3e9);
    auto awkward = [&](int i) {
        const double values[] = {0.1, 1e-300, -0.0, 5e-324, 1.7976931348623157e308, 1.0 / 3.0, seconds(random)};
        return values[i % 7];
    };
    LibrarySnapshot snapshot{.libraryID = kDeckID, .decks = {deck()}, .preferences = {0, 0.95}};
    for (int i = 0; i < notes; ++i) {
        Note note = i % 2 ? richNote() : plainNote();
        note.id = Uuid::createRandom();
        note.createdAt = at(seconds(random));
        snapshot.notes.append(note);
        Flashcard c = card();
        c.id = Uuid::createRandom();
        c.noteID = note.id;
        c.memory.stability = awkward(i);
        c.memory.difficulty = awkward(i + 1);
        c.memory.due = at(seconds(random));
        c.memory.lastReview = i % 3 ? std::optional(at(seconds(random))) : std::nullopt;
        snapshot.cards.append(c);
        ReviewEvent r = review(i % 2 ? std::optional(at(seconds(random))) : std::nullopt);
        r.id = Uuid::createRandom();
        r.after = c.memory;
        r.retention = awkward(i + 2);
        snapshot.reviews.append(r);
    }
    return snapshot;
}

template <class T> T roundTrip(const T& record, JsonForm form) {
    return RecordJson::decode<T>(RecordJson::encode(record, form), form);
}

QJsonObject parsed(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << json.constData();
    return document.object();
}

// The keys of every object in `json` must appear in byte order.
void expectSortedKeys(const QByteArray& json) {
    // QJsonObject sorts its keys, so walk the raw text instead: record the keys of each open object.
    std::vector<std::vector<std::string>> open;
    bool inString = false;
    std::string current;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\') {
                current += json[++i];
            } else if (c == '"') {
                inString = false;
                if (i + 1 < json.size() && json[i + 1] == ':' && !open.empty())
                    open.back().push_back(current);
            } else {
                current += c;
            }
        } else if (c == '"') {
            inString = true;
            current.clear();
        } else if (c == '{') {
            open.emplace_back();
        } else if (c == '}') {
            const auto& keys = open.back();
            EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << json.constData();
            open.pop_back();
        }
    }
}

} // namespace

// ------------------------------------------------------------------------------------------------
// Round trips

TEST(RecordJsonTest, DatabaseFormRoundTripsEveryRecordBitExactly) {
    const LibrarySnapshot snapshot = library(12);
    const LibrarySnapshot back = roundTrip(snapshot, JsonForm::database);
    EXPECT_EQ(back, snapshot);
    // operator== says -0.0 == 0.0; the bits must survive too.
    for (qsizetype i = 0; i < snapshot.cards.size(); ++i) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(back.cards[i].memory.stability),
                  std::bit_cast<std::uint64_t>(snapshot.cards[i].memory.stability));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(back.reviews[i].after.elapsedDays), std::bit_cast<std::uint64_t>(-0.0));
    }
    EXPECT_EQ(roundTrip(deck(), JsonForm::database), deck());
    EXPECT_EQ(roundTrip(richNote(), JsonForm::database), richNote());
    EXPECT_EQ(roundTrip(plainNote(), JsonForm::database), plainNote());
    EXPECT_EQ(roundTrip(card(), JsonForm::database), card());
    EXPECT_EQ(roundTrip(review(at(1.5)), JsonForm::database), review(at(1.5)));
    EXPECT_EQ(roundTrip(reviewedState(1), JsonForm::database), reviewedState(1));
    EXPECT_EQ(roundTrip(StudyPreferences{}, JsonForm::database), StudyPreferences{});
    EXPECT_EQ(roundTrip(richDocument(), JsonForm::database), richDocument());
    EXPECT_EQ(roundTrip(kCardID, JsonForm::database), kCardID);
}

TEST(RecordJsonTest, PackageFormRoundTripsToTheMillisecond) {
    const LibrarySnapshot snapshot = library(12);
    const LibrarySnapshot back = roundTrip(snapshot, JsonForm::package);
    ASSERT_EQ(back.reviews.size(), snapshot.reviews.size());
    auto near = [](Instant a, Instant b) { return std::fabs(a.secondsSince(b)) < 1e-3; };
    for (qsizetype i = 0; i < snapshot.reviews.size(); ++i) {
        EXPECT_TRUE(near(back.reviews[i].reviewedAt, snapshot.reviews[i].reviewedAt));
        EXPECT_TRUE(near(back.cards[i].memory.due, snapshot.cards[i].memory.due));
        EXPECT_EQ(back.reviews[i].undoneAt.has_value(), snapshot.reviews[i].undoneAt.has_value());
        // Floats other than times are exact in both forms.
        EXPECT_EQ(back.reviews[i].retention, snapshot.reviews[i].retention);
        EXPECT_EQ(back.notes[i].frontDocument, snapshot.notes[i].frontDocument);
    }
    // Times on whole milliseconds come back exactly.
    const Deck d = Deck{.id = kDeckID,
                        .createdAt = Instant::fromUnixMilliseconds(1733875200123.0),
                        .updatedAt = Instant::fromUnixMilliseconds(-5.0)};
    EXPECT_EQ(roundTrip(d, JsonForm::package), d);
}

TEST(RecordJsonTest, TimeZeroIsTheReferenceDateInBothForms) {
    const Deck d{.id = kDeckID, .createdAt = at(0), .updatedAt = at(-1.5)};
    const QJsonObject database = parsed(RecordJson::encode(d, JsonForm::database));
    EXPECT_EQ(database["createdAt"].toDouble(), 0.0);
    EXPECT_EQ(database["updatedAt"].toDouble(), -1.5);
    const QByteArray package = RecordJson::encode(d, JsonForm::package);
    EXPECT_TRUE(package.contains("\"createdAt\":978307200000")) << package.constData();
    EXPECT_TRUE(package.contains("\"updatedAt\":978307198500")) << package.constData();
    EXPECT_EQ(RecordJson::decode<Deck>(package, JsonForm::package), d);
}

// ------------------------------------------------------------------------------------------------
// Shape of the output

TEST(RecordJsonTest, PackageFormSortsEveryObjectsKeysAndDatabaseFormKeepsFieldOrder) {
    const LibrarySnapshot snapshot = library(4);
    expectSortedKeys(RecordJson::encode(snapshot, JsonForm::package));
    const QByteArray database = RecordJson::encode(review(), JsonForm::database);
    EXPECT_TRUE(database.startsWith("{\"id\":\"01234567-89AB-4CDE-AF01-23456789ABCD\",\"cardID\":"))
        << database.constData();
}

TEST(RecordJsonTest, WritesExactlyTheFieldNamesAndLeavesAbsentOptionalsOut) {
    using Keys = QStringList;
    auto keys = [](const QByteArray& json) {
        Keys k = parsed(json).keys();
        k.sort();
        return k;
    };
    const QByteArray plain = RecordJson::encode(plainNote(), JsonForm::database);
    EXPECT_FALSE(plain.contains("null"));
    EXPECT_EQ(keys(plain), (Keys{"back", "createdAt", "deckID", "front", "id", "kind", "tags", "updatedAt"}));
    EXPECT_EQ(keys(RecordJson::encode(richNote(), JsonForm::database)),
              (Keys{"back", "backDocument", "createdAt", "deckID", "front", "frontDocument", "id", "imageID", "kind",
                    "tags", "updatedAt"}));
    EXPECT_EQ(keys(RecordJson::encode(MemoryState::newCard(at(0)), JsonForm::database)),
              (Keys{"difficulty", "due", "elapsedDays", "lapses", "learningSteps", "reps", "scheduledDays", "stability",
                    "stage"}));
    EXPECT_EQ(keys(RecordJson::encode(review(), JsonForm::database)),
              (Keys{"after", "algorithm", "before", "cardID", "id", "rating", "retention", "reviewedAt"}));
    EXPECT_EQ(keys(RecordJson::encode(card(), JsonForm::database)),
              (Keys{"deckID", "id", "isSuspended", "memory", "noteID", "ordinal"}));
    EXPECT_EQ(keys(RecordJson::encode(deck(), JsonForm::database)),
              (Keys{"colorHex", "createdAt", "id", "name", "subtitle", "symbol", "updatedAt"}));
    EXPECT_EQ(keys(RecordJson::encode(library(1), JsonForm::database)),
              (Keys{"cards", "decks", "libraryID", "notes", "preferences", "reviews"}));
    EXPECT_EQ(keys(RecordJson::encode(RichTextRun{}, JsonForm::database)),
              (Keys{"alignment", "bold", "italic", "style", "text", "underline"}));

    const QJsonObject note = parsed(RecordJson::encode(richNote(), JsonForm::database));
    EXPECT_EQ(note["kind"].toString(), "cloze");
    EXPECT_EQ(note["deckID"].toString(), "0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5B");
    const QJsonObject image = note["frontDocument"]["runs"][2].toObject();
    EXPECT_EQ(image.keys(), (Keys{"alignment", "bold", "imageID", "italic", "style", "text", "underline"}));
    const QJsonObject reviewed = parsed(RecordJson::encode(review(), JsonForm::database));
    EXPECT_EQ(reviewed["rating"].toInt(), 2);
    EXPECT_EQ(reviewed["after"]["stage"].toInt(), 3);
}

// ------------------------------------------------------------------------------------------------
// Reading

namespace {

enum class Record { deck, note, card, review, preferences, document, snapshot };

// Applies `value` at the dotted `path` of the JSON object (Undefined removes the key).
QJsonObject patched(QJsonObject object, QStringView path, const QJsonValue& value) {
    const qsizetype dot = path.indexOf(u'.');
    const QString key = (dot < 0 ? path : path.left(dot)).toString();
    if (dot < 0) {
        if (value.isUndefined())
            object.remove(key);
        else
            object[key] = value;
        return object;
    }
    const QStringView rest = path.mid(dot + 1);
    if (object[key].isArray()) {
        QJsonArray array = object[key].toArray();
        const qsizetype next = rest.indexOf(u'.');
        const int index = rest.left(next).toInt();
        array[index] = patched(array[index].toObject(), rest.mid(next + 1), value);
        object[key] = array;
    } else {
        object[key] = patched(object[key].toObject(), rest, value);
    }
    return object;
}

QByteArray validJson(Record record) {
    switch (record) {
    case Record::deck:
        return RecordJson::encode(deck(), JsonForm::database);
    case Record::note:
        return RecordJson::encode(richNote(), JsonForm::database);
    case Record::card:
        return RecordJson::encode(card(), JsonForm::database);
    case Record::review:
        return RecordJson::encode(review(at(5)), JsonForm::database);
    case Record::preferences:
        return RecordJson::encode(StudyPreferences{}, JsonForm::database);
    case Record::document:
        return RecordJson::encode(richDocument(), JsonForm::database);
    case Record::snapshot:
        return RecordJson::encode(library(2), JsonForm::database);
    }
    return {};
}

void decode(Record record, const QByteArray& json) {
    switch (record) {
    case Record::deck:
        RecordJson::decode<Deck>(json, JsonForm::database);
        break;
    case Record::note:
        RecordJson::decode<Note>(json, JsonForm::database);
        break;
    case Record::card:
        RecordJson::decode<Flashcard>(json, JsonForm::database);
        break;
    case Record::review:
        RecordJson::decode<ReviewEvent>(json, JsonForm::database);
        break;
    case Record::preferences:
        RecordJson::decode<StudyPreferences>(json, JsonForm::database);
        break;
    case Record::document:
        RecordJson::decode<RichTextDocument>(json, JsonForm::database);
        break;
    case Record::snapshot:
        RecordJson::decode<LibrarySnapshot>(json, JsonForm::database);
        break;
    }
}

QByteArray withPatch(Record record, const char* path, const QJsonValue& value) {
    return QJsonDocument(patched(parsed(validJson(record)), QString::fromLatin1(path), value))
        .toJson(QJsonDocument::Compact);
}

struct Patch {
    Record record;
    const char* path;
    QJsonValue value; // Undefined: the key is removed
};

} // namespace

TEST(RecordJsonTest, RefusesRecordsThatBreakTheRules) {
    const QJsonValue missing(QJsonValue::Undefined);
    const QJsonValue null(QJsonValue::Null);
    const QString lowerButBroken = QStringLiteral("0f2b6c1e-3a4d-4e5f-8a9b-0c1d2e3f4a5");
    // clang-format off
    const std::vector<Patch> patches = {
        // missing required keys and nulls where a value is required
        {Record::deck, "name", missing},                {Record::deck, "createdAt", null},
        {Record::note, "tags", missing},                {Record::note, "kind", null},
        {Record::card, "memory", missing},              {Record::card, "memory.due", missing},
        {Record::card, "isSuspended", null},            {Record::review, "after", null},
        {Record::review, "before.stability", missing},  {Record::review, "algorithm", missing},
        {Record::preferences, "dailyNewLimit", missing},{Record::document, "runs", missing},
        {Record::document, "runs.0.bold", missing},     {Record::document, "runs.1.style", null},
        {Record::snapshot, "preferences", missing},     {Record::snapshot, "reviews", null},
        {Record::snapshot, "notes.0.front", missing},
        // wrong JSON types
        {Record::deck, "name", 5},                      {Record::deck, "createdAt", "0"},
        {Record::deck, "updatedAt", true},              {Record::note, "tags", "a"},
        {Record::note, "tags", QJsonArray{"a", 1}},     {Record::note, "frontDocument", QJsonArray{}},
        {Record::note, "imageID", 3},                   {Record::card, "isSuspended", 1},
        {Record::card, "ordinal", "0"},                 {Record::card, "ordinal", 0.5},
        {Record::card, "ordinal", 1e19},                {Record::card, "memory", QJsonArray{}},
        {Record::review, "retention", "0.9"},           {Record::review, "undoneAt", "2024"},
        {Record::review, "before.lastReview", false},   {Record::document, "runs", QJsonObject{}},
        {Record::document, "runs.0.link", 1},           {Record::document, "runs.2.latex", QJsonArray{}},
        {Record::snapshot, "decks", QJsonObject{}},     {Record::snapshot, "cards.0.memory.reps", 2.5},
        // identifiers
        {Record::deck, "id", ""},                       {Record::deck, "id", lowerButBroken},
        {Record::card, "noteID", "{11111111-2222-4333-8444-555555555555}"},
        {Record::review, "cardID", "AAAAAAAABBBB4CCC9DDDEEEEEEEEEEEE"},
        {Record::snapshot, "libraryID", "0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5G"},
        // enumerations
        {Record::note, "kind", "Basic"},                {Record::note, "kind", ""},
        {Record::card, "memory.stage", 4},              {Record::card, "memory.stage", -1},
        {Record::card, "memory.stage", "new"},          {Record::review, "rating", 0},
        {Record::review, "rating", 5},                  {Record::review, "after.stage", 1.5},
        {Record::document, "runs.0.style", "Body"},     {Record::document, "runs.0.alignment", "left"},
        {Record::document, "runs.0.style", "title"},
    };
    // clang-format on
    for (const Patch& patch : patches) {
        const QByteArray json = withPatch(patch.record, patch.path, patch.value);
        try {
            decode(patch.record, json);
            ADD_FAILURE() << "accepted " << patch.path << " in " << json.constData();
        } catch (const JsonError& error) {
            EXPECT_EQ(error.description(),
                      QStringLiteral("Impossibile leggere i dati perché non sono nel formato corretto."));
            EXPECT_EQ(error.direction(), JsonError::Direction::reading);
        }
    }
}

TEST(RecordJsonTest, RefusesDocumentsThatAreNotOneJsonObject) {
    const QByteArray valid = validJson(Record::deck);
    for (const QByteArray& json :
         {QByteArray(), QByteArray("   "), valid + "x", valid + "{}", valid.chopped(1), QByteArray("[") + valid + "]",
          QByteArray("null"), QByteArray("\"deck\""), QByteArray(valid).replace("Italiano", "Itali\xff\xfeno"),
          QByteArray(valid).replace("Italiano", "Itali\\ud800no"), QByteArray(valid).replace("4F5FE7", "4F5F\x01")})
        EXPECT_THROW(RecordJson::decode<Deck>(json, JsonForm::database), JsonError) << json.constData();
}

TEST(RecordJsonTest, ReadsLenientlyWhereTheFormAllows) {
    // Optional keys null or missing, unknown keys, either letter case in identifiers, integral floats.
    QJsonObject note = parsed(validJson(Record::note));
    for (const char* key : {"imageID", "frontDocument", "backDocument"})
        note[key] = QJsonValue::Null;
    note["deckID"] = "0f2b6c1e-3a4d-4e5f-8a9b-0c1d2e3f4a5b";
    note["comment"] = QJsonObject{{"kind", "Basic"}};
    const Note decoded =
        RecordJson::decode<Note>(QJsonDocument(note).toJson(QJsonDocument::Compact), JsonForm::database);
    EXPECT_EQ(decoded.deckID, kDeckID);
    EXPECT_FALSE(decoded.imageID || decoded.frontDocument || decoded.backDocument);
    const QByteArray again = RecordJson::encode(decoded, JsonForm::database);
    EXPECT_FALSE(again.contains("imageID") || again.contains("Document") || again.contains("null"));

    const QByteArray state = "{\"due\":1,\"stability\":2,\"difficulty\":3,\"elapsedDays\":0,\"scheduledDays\":0,"
                             "\"learningSteps\":3.0,\"reps\":-9223372036854775808,\"lapses\":1e3,\"stage\":2.0,"
                             "\"lastReview\":null}";
    const MemoryState memory = RecordJson::decode<MemoryState>(state, JsonForm::database);
    EXPECT_EQ(memory.learningSteps, 3);
    EXPECT_EQ(memory.reps, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(memory.lapses, 1000);
    EXPECT_EQ(memory.stage, MemoryStage::review);
    EXPECT_EQ(memory.stability, 2.0);
    EXPECT_FALSE(memory.lastReview.has_value());
    EXPECT_EQ(memory.due, at(1));

    // Of two equal keys the first counts.
    EXPECT_EQ(RecordJson::decode<StudyPreferences>("{\"dailyNewLimit\":1,\"desiredRetention\":0.5,\"dailyNewLimit\":"
                                                   "\"x\"}",
                                                   JsonForm::package)
                  .dailyNewLimit,
              1);
}

TEST(RecordJsonTest, RefusesToWriteNonFiniteFloatsAndTimes) {
    const double bad[] = {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN()};
    std::vector<std::function<void(double)>> writes = {
        [](double v) {
            RecordJson::encode(StudyPreferences{10, v}, JsonForm::database);
        },
        [](double v) { RecordJson::encode(Deck{.updatedAt = at(v)}, JsonForm::package); },
        [](double v) {
            ReviewEvent r = review();
            r.after.lastReview = at(v);
            RecordJson::encode(r, JsonForm::database);
        },
        [](double v) {
            LibrarySnapshot s = library(3);
            s.cards[2].memory.scheduledDays = v;
            RecordJson::encode(s, JsonForm::package);
        },
        [](double v) {
            ReviewEvent r = review();
            r.undoneAt = at(v);
            RecordJson::encode(r, JsonForm::package);
        },
    };
    for (double v : bad) {
        for (const auto& write : writes) {
            try {
                write(v);
                ADD_FAILURE() << "wrote " << v;
            } catch (const JsonError& error) {
                EXPECT_EQ(error.description(),
                          QStringLiteral("Impossibile scrivere i dati perché non sono nel formato corretto."));
            }
        }
    }
    // A finite time too large for milliseconds cannot be written in package form either.
    EXPECT_THROW(RecordJson::encode(Deck{.createdAt = at(1e308)}, JsonForm::package), JsonError);
    EXPECT_NO_THROW(RecordJson::encode(Deck{.createdAt = at(1e308)}, JsonForm::database));
}

TEST(RecordJsonTest, ReusedDecoderReadsDocumentsOfAnySizeInTurn) {
    RecordJsonDecoder decoder;
    const LibrarySnapshot big = library(300);
    const QByteArray bigJson = RecordJson::encode(big, JsonForm::package);
    EXPECT_EQ(decoder.decode<Flashcard>(RecordJson::encode(card(), JsonForm::database), JsonForm::database), card());
    const LibrarySnapshot decoded = decoder.decode<LibrarySnapshot>(bigJson, JsonForm::package);
    ASSERT_EQ(decoded.notes.size(), big.notes.size());
    EXPECT_EQ(decoded.notes.back().frontDocument, big.notes.back().frontDocument);
    EXPECT_THROW(decoder.decode<Flashcard>("{\"id\":", JsonForm::database), JsonError);
    EXPECT_EQ(decoder.decode<ReviewEvent>(RecordJson::encode(review(), JsonForm::database), JsonForm::database),
              review());
}

TEST(RecordJsonTest, IntegerFieldsTakeOnlyExactSixtyFourBitIntegers) {
    auto reps = [](const char* number) -> std::optional<std::int64_t> {
        const QByteArray json =
            QByteArray("{\"due\":0,\"stability\":0,\"difficulty\":0,\"elapsedDays\":0,"
                       "\"scheduledDays\":0,\"learningSteps\":0,\"lapses\":0,\"stage\":0,\"reps\":") +
            number + "}";
        try {
            return RecordJson::decode<MemoryState>(json, JsonForm::database).reps;
        } catch (const JsonError&) {
            return std::nullopt;
        }
    };
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(reps("9223372036854775807"), kMax);
    EXPECT_EQ(reps("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(reps("-0.0"), 0);
    EXPECT_EQ(reps("4.0e2"), 400);
    EXPECT_EQ(reps("9.2233720368547748e18"), 9223372036854774784);
    for (const char* refused : {"9223372036854775808", "18446744073709551615", "9.2233720368547758e18", "1e300", "3.5",
                                "-0.5", "1e-9", "true", "\"3\"", "[3]", "null"})
        EXPECT_EQ(reps(refused), std::nullopt) << refused;
}

TEST(RecordJsonTest, RunOptionalsReadAsAbsentWhenMissingOrNull) {
    const RichTextRun run = RecordJson::decode<RichTextRun>(
        "{\"text\":\"t\",\"bold\":false,\"italic\":true,\"underline\":false,\"style\":\"caption\","
        "\"alignment\":\"trailing\",\"link\":null,\"imageID\":null}",
        JsonForm::package);
    EXPECT_EQ(run, (RichTextRun{.text = QStringLiteral("t"),
                                .italic = true,
                                .style = RichTextStyle::caption,
                                .alignment = RichTextAlignment::trailing}));
}
