#include "core/RecordJson.h"

#include <simdjson.h>

#include <cmath>
#include <cstring>
#include <string>

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;

namespace {

// ---------------------------------------------------------------------------------------------------
// Writing

std::string_view styleText(RichTextStyle style) {
    switch (style) {
    case RichTextStyle::body:
        return "body";
    case RichTextStyle::heading:
        return "heading";
    case RichTextStyle::caption:
        return "caption";
    }
    Q_UNREACHABLE();
}

std::string_view alignmentText(RichTextAlignment alignment) {
    switch (alignment) {
    case RichTextAlignment::leading:
        return "leading";
    case RichTextAlignment::center:
        return "center";
    case RichTextAlignment::trailing:
        return "trailing";
    }
    Q_UNREACHABLE();
}

std::string_view kindText(NoteKind kind) {
    switch (kind) {
    case NoteKind::basic:
        return "basic";
    case NoteKind::reversed:
        return "reversed";
    case NoteKind::cloze:
        return "cloze";
    }
    Q_UNREACHABLE();
}

// Writes records member by member; the checks for non-finite values name the key at fault.
class Encoder {
public:
    Encoder(JsonWriter& writer, JsonForm form) : w(writer), m_form(form) {}

    void number(std::string_view key, double value) {
        if (!std::isfinite(value))
            throw JsonError::unwritable("\"" + std::string(key) + "\" is not a finite number");
        w.key(key);
        w.number(value);
    }
    void time(std::string_view key, Instant time) {
        number(key, m_form == JsonForm::database ? time.referenceSeconds() : time.unixMilliseconds());
    }
    void optionalTime(std::string_view key, const std::optional<Instant>& time) {
        if (time)
            this->time(key, *time);
    }
    void text(std::string_view key, const QString& value) {
        w.key(key);
        w.string(value);
    }
    void optionalText(std::string_view key, const std::optional<QString>& value) {
        if (value)
            text(key, *value);
    }
    void uuid(std::string_view key, const Uuid& id) {
        w.key(key);
        w.uuid(id);
    }
    void integer(std::string_view key, std::int64_t value) {
        w.key(key);
        w.integer(value);
    }
    void boolean(std::string_view key, bool value) {
        w.key(key);
        w.boolean(value);
    }
    void ascii(std::string_view key, std::string_view value) {
        w.key(key);
        w.utf8String(value);
    }

    void record(const RichTextRun& run) {
        w.beginObject();
        text("text", run.text);
        boolean("bold", run.bold);
        boolean("italic", run.italic);
        boolean("underline", run.underline);
        ascii("style", styleText(run.style));
        ascii("alignment", alignmentText(run.alignment));
        optionalText("link", run.link);
        optionalText("imageID", run.imageID);
        optionalText("latex", run.latex);
        w.endObject();
    }

    void record(const RichTextDocument& document) {
        w.beginObject();
        w.key("runs");
        list(document.runs);
        w.endObject();
    }

    void record(const Deck& deck) {
        w.beginObject();
        uuid("id", deck.id);
        text("name", deck.name);
        text("subtitle", deck.subtitle);
        text("symbol", deck.symbol);
        text("colorHex", deck.colorHex);
        time("createdAt", deck.createdAt);
        time("updatedAt", deck.updatedAt);
        w.endObject();
    }

    void record(const Note& note) {
        w.beginObject();
        uuid("id", note.id);
        uuid("deckID", note.deckID);
        ascii("kind", kindText(note.kind));
        text("front", note.front);
        text("back", note.back);
        w.key("tags");
        w.beginArray();
        for (const QString& tag : note.tags)
            w.string(tag);
        w.endArray();
        optionalText("imageID", note.imageID);
        if (note.frontDocument) {
            w.key("frontDocument");
            record(*note.frontDocument);
        }
        if (note.backDocument) {
            w.key("backDocument");
            record(*note.backDocument);
        }
        time("createdAt", note.createdAt);
        time("updatedAt", note.updatedAt);
        w.endObject();
    }

    void record(const MemoryState& state) {
        w.beginObject();
        time("due", state.due);
        number("stability", state.stability);
        number("difficulty", state.difficulty);
        number("elapsedDays", state.elapsedDays);
        number("scheduledDays", state.scheduledDays);
        integer("learningSteps", state.learningSteps);
        integer("reps", state.reps);
        integer("lapses", state.lapses);
        integer("stage", static_cast<std::int64_t>(state.stage));
        optionalTime("lastReview", state.lastReview);
        w.endObject();
    }

    void record(const Flashcard& card) {
        w.beginObject();
        uuid("id", card.id);
        uuid("noteID", card.noteID);
        uuid("deckID", card.deckID);
        integer("ordinal", card.ordinal);
        w.key("memory");
        record(card.memory);
        boolean("isSuspended", card.isSuspended);
        w.endObject();
    }

    void record(const ReviewEvent& review) {
        w.beginObject();
        uuid("id", review.id);
        uuid("cardID", review.cardID);
        time("reviewedAt", review.reviewedAt);
        integer("rating", static_cast<std::int64_t>(review.rating));
        w.key("before");
        record(review.before);
        w.key("after");
        record(review.after);
        text("algorithm", review.algorithm);
        number("retention", review.retention);
        optionalTime("undoneAt", review.undoneAt);
        w.endObject();
    }

    void record(const StudyPreferences& preferences) {
        w.beginObject();
        integer("dailyNewLimit", preferences.dailyNewLimit);
        number("desiredRetention", preferences.desiredRetention);
        w.endObject();
    }

    void record(const LibrarySnapshot& snapshot) {
        w.beginObject();
        uuid("libraryID", snapshot.libraryID);
        w.key("decks");
        list(snapshot.decks);
        w.key("notes");
        list(snapshot.notes);
        w.key("cards");
        list(snapshot.cards);
        w.key("reviews");
        list(snapshot.reviews);
        w.key("preferences");
        record(snapshot.preferences);
        w.endObject();
    }

    template <class T>
    void list(const QList<T>& records) {
        w.beginArray();
        for (const T& r : records)
            record(r);
        w.endArray();
    }

private:
    JsonWriter& w;
    JsonForm m_form;
};

template <class T>
QByteArray encodeRecord(const T& record, JsonForm form) {
    JsonWriter writer(RecordJson::keyOrder(form));
    Encoder(writer, form).record(record);
    return writer.take();
}

// ---------------------------------------------------------------------------------------------------
// Reading

[[noreturn]] void unreadable(std::string_view key, std::string_view problem) {
    std::string detail;
    if (!key.empty())
        detail.append("\"").append(key).append("\": ");
    detail.append(problem);
    throw JsonError::unreadable(std::move(detail));
}

// Reads records from a parsed document. Every accessor names the key it reads so that a failure
// says where the document is wrong.
class Decoder {
public:
    explicit Decoder(JsonForm form) : m_form(form) {}

    static object asObject(element e, std::string_view key) {
        object o;
        if (e.get_object().get(o) != simdjson::SUCCESS)
            unreadable(key, "not an object");
        return o;
    }
    static array asArray(element e, std::string_view key) {
        array a;
        if (e.get_array().get(a) != simdjson::SUCCESS)
            unreadable(key, "not an array");
        return a;
    }

    static element required(object o, std::string_view key) {
        element e;
        if (o.at_key(key).get(e) != simdjson::SUCCESS)
            unreadable(key, "missing");
        if (e.is_null())
            unreadable(key, "null");
        return e;
    }
    static std::optional<element> optional(object o, std::string_view key) {
        element e;
        if (o.at_key(key).get(e) != simdjson::SUCCESS || e.is_null())
            return std::nullopt;
        return e;
    }

    static std::string_view utf8(element e, std::string_view key) {
        std::string_view s;
        if (e.get_string().get(s) != simdjson::SUCCESS)
            unreadable(key, "not a string");
        return s;
    }
    static QString text(element e, std::string_view key) {
        const std::string_view s = utf8(e, key);
        return QString::fromUtf8(s.data(), qsizetype(s.size()));
    }
    static double number(element e, std::string_view key) {
        double d;
        if (e.get_double().get(d) != simdjson::SUCCESS)
            unreadable(key, "not a number");
        return d;
    }
    static std::int64_t integer(element e, std::string_view key) {
        switch (e.type()) {
        case simdjson::dom::element_type::INT64:
            return e.get_int64().value_unsafe();
        case simdjson::dom::element_type::DOUBLE: {
            // 3.0 is the integer 3; anything with a fraction or beyond 64 bits is not an integer.
            const double d = e.get_double().value_unsafe();
            if (d >= -9223372036854775808.0 && d < 9223372036854775808.0 && std::trunc(d) == d)
                return static_cast<std::int64_t>(d);
            unreadable(key, "not an exact 64-bit integer");
        }
        case simdjson::dom::element_type::UINT64:
            unreadable(key, "integer out of range");
        default:
            unreadable(key, "not an integer");
        }
    }
    static bool boolean(element e, std::string_view key) {
        bool b;
        if (e.get_bool().get(b) != simdjson::SUCCESS)
            unreadable(key, "not a boolean");
        return b;
    }
    static Uuid uuid(element e, std::string_view key) {
        const auto id = Uuid::fromString(utf8(e, key));
        if (!id)
            unreadable(key, "not an identifier");
        return *id;
    }
    Instant time(element e, std::string_view key) const {
        const double d = number(e, key);
        return m_form == JsonForm::database ? Instant::fromReferenceSeconds(d) : Instant::fromUnixMilliseconds(d);
    }

    // Required members.
    static QString text(object o, std::string_view key) { return text(required(o, key), key); }
    static double number(object o, std::string_view key) { return number(required(o, key), key); }
    static std::int64_t integer(object o, std::string_view key) { return integer(required(o, key), key); }
    static bool boolean(object o, std::string_view key) { return boolean(required(o, key), key); }
    static Uuid uuid(object o, std::string_view key) { return uuid(required(o, key), key); }
    Instant time(object o, std::string_view key) const { return time(required(o, key), key); }

    // Optional members.
    static std::optional<QString> optionalText(object o, std::string_view key) {
        if (const auto e = optional(o, key))
            return text(*e, key);
        return std::nullopt;
    }
    std::optional<Instant> optionalTime(object o, std::string_view key) const {
        if (const auto e = optional(o, key))
            return time(*e, key);
        return std::nullopt;
    }

    // Records. `key` names where the record sits in its parent (empty at the top).
    RichTextRun run(element e, std::string_view key = {}) const {
        const object o = asObject(e, key);
        RichTextRun run;
        run.text = text(o, "text");
        run.bold = boolean(o, "bold");
        run.italic = boolean(o, "italic");
        run.underline = boolean(o, "underline");
        const std::string_view style = utf8(required(o, "style"), "style");
        if (style == "body")
            run.style = RichTextStyle::body;
        else if (style == "heading")
            run.style = RichTextStyle::heading;
        else if (style == "caption")
            run.style = RichTextStyle::caption;
        else
            unreadable("style", "unknown style");
        const std::string_view alignment = utf8(required(o, "alignment"), "alignment");
        if (alignment == "leading")
            run.alignment = RichTextAlignment::leading;
        else if (alignment == "center")
            run.alignment = RichTextAlignment::center;
        else if (alignment == "trailing")
            run.alignment = RichTextAlignment::trailing;
        else
            unreadable("alignment", "unknown alignment");
        run.link = optionalText(o, "link");
        run.imageID = optionalText(o, "imageID");
        run.latex = optionalText(o, "latex");
        return run;
    }

    RichTextDocument document(element e, std::string_view key = {}) const {
        const object o = asObject(e, key);
        RichTextDocument document;
        document.runs = list(o, "runs", &Decoder::run);
        return document;
    }

    Deck deck(element e, std::string_view key = {}) const {
        const object o = asObject(e, key);
        return Deck{
            .id = uuid(o, "id"),
            .name = text(o, "name"),
            .subtitle = text(o, "subtitle"),
            .symbol = text(o, "symbol"),
            .colorHex = text(o, "colorHex"),
            .createdAt = time(o, "createdAt"),
            .updatedAt = time(o, "updatedAt"),
        };
    }

    Note note(element e, std::string_view key = {}) const {
        const object o = asObject(e, key);
        Note note;
        note.id = uuid(o, "id");
        note.deckID = uuid(o, "deckID");
        const std::string_view kind = utf8(required(o, "kind"), "kind");
        if (kind == "basic")
            note.kind = NoteKind::basic;
        else if (kind == "reversed")
            note.kind = NoteKind::reversed;
        else if (kind == "cloze")
            note.kind = NoteKind::cloze;
        else
            unreadable("kind", "unknown note kind");
        note.front = text(o, "front");
        note.back = text(o, "back");
        const array tags = asArray(required(o, "tags"), "tags");
        note.tags.reserve(qsizetype(tags.size()));
        for (const element tag : tags)
            note.tags.append(text(tag, "tags"));
        note.imageID = optionalText(o, "imageID");
        if (const auto front = optional(o, "frontDocument"))
            note.frontDocument = document(*front, "frontDocument");
        if (const auto back = optional(o, "backDocument"))
            note.backDocument = document(*back, "backDocument");
        note.createdAt = time(o, "createdAt");
        note.updatedAt = time(o, "updatedAt");
        return note;
    }

    MemoryState memory(element e, std::string_view key = {}) const {
        const object o = asObject(e, key);
        MemoryState state;
        state.due = time(o, "due");
        state.stability = number(o, "stability");
        state.difficulty = number(o, "difficulty");
        state.elapsedDays = number(o, "elapsedDays");
        state.scheduledDays = number(o, "scheduledDays");
        state.learningSteps = integer(o, "learningSteps");
        state.reps = integer(o, "reps");
        state.lapses = integer(o, "lapses");
        const auto stage = memoryStageFromRawValue(integer(o, "stage"));
        if (!stage)
            unreadable("stage", "outside 0 to 3");
        state.stage = *stage;
        state.lastReview = optionalTime(o, "lastReview");
        return state;
    }

    Flashcard card(element e, std::string_view key = {}) const {
        const object o = asObject(e, key);
        return Flashcard{
            .id = uuid(o, "id"),
            .noteID = uuid(o, "noteID"),
            .deckID = uuid(o, "deckID"),
            .ordinal = integer(o, "ordinal"),
            .memory = memory(required(o, "memory"), "memory"),
            .isSuspended = boolean(o, "isSuspended"),
        };
    }

    ReviewEvent review(element e, std::string_view key = {}) const {
        const object o = asObject(e, key);
        ReviewEvent review;
        review.id = uuid(o, "id");
        review.cardID = uuid(o, "cardID");
        review.reviewedAt = time(o, "reviewedAt");
        const auto rating = reviewRatingFromRawValue(integer(o, "rating"));
        if (!rating)
            unreadable("rating", "outside 1 to 4");
        review.rating = *rating;
        review.before = memory(required(o, "before"), "before");
        review.after = memory(required(o, "after"), "after");
        review.algorithm = text(o, "algorithm");
        review.retention = number(o, "retention");
        review.undoneAt = optionalTime(o, "undoneAt");
        return review;
    }

    StudyPreferences preferences(element e, std::string_view key = {}) const {
        const object o = asObject(e, key);
        return StudyPreferences{
            .dailyNewLimit = integer(o, "dailyNewLimit"),
            .desiredRetention = number(o, "desiredRetention"),
        };
    }

    LibrarySnapshot snapshot(element e) const {
        const object o = asObject(e, {});
        LibrarySnapshot snapshot;
        snapshot.libraryID = uuid(o, "libraryID");
        snapshot.decks = list(o, "decks", &Decoder::deck);
        snapshot.notes = list(o, "notes", &Decoder::note);
        snapshot.cards = list(o, "cards", &Decoder::card);
        snapshot.reviews = list(o, "reviews", &Decoder::review);
        snapshot.preferences = preferences(required(o, "preferences"), "preferences");
        return snapshot;
    }

    template <class T>
    T read(element e) const {
        if constexpr (std::is_same_v<T, Deck>)
            return deck(e);
        else if constexpr (std::is_same_v<T, Note>)
            return note(e);
        else if constexpr (std::is_same_v<T, MemoryState>)
            return memory(e);
        else if constexpr (std::is_same_v<T, Flashcard>)
            return card(e);
        else if constexpr (std::is_same_v<T, ReviewEvent>)
            return review(e);
        else if constexpr (std::is_same_v<T, StudyPreferences>)
            return preferences(e);
        else if constexpr (std::is_same_v<T, LibrarySnapshot>)
            return snapshot(e);
        else if constexpr (std::is_same_v<T, RichTextDocument>)
            return document(e);
        else if constexpr (std::is_same_v<T, RichTextRun>)
            return run(e);
        else if constexpr (std::is_same_v<T, Uuid>)
            return uuid(e, {});
    }

private:
    template <class R>
    QList<R> list(object o, std::string_view key, R (Decoder::*readOne)(element, std::string_view) const) const {
        const array elements = asArray(required(o, key), key);
        QList<R> records;
        records.reserve(qsizetype(elements.size()));
        for (const element e : elements)
            records.append((this->*readOne)(e, key));
        return records;
    }

    JsonForm m_form;
};

} // namespace

// ---------------------------------------------------------------------------------------------------

struct RecordJsonDecoder::Impl {
    simdjson::dom::parser parser;
    // The parser reads up to SIMDJSON_PADDING bytes past the end; a buffer of our own, reused from call
    // to call, saves the parser's allocation of a padded copy for each document.
    std::unique_ptr<char[]> buffer;
    std::size_t capacity = 0;

    element parse(QByteArrayView json) {
        const std::size_t size = std::size_t(json.size());
        if (capacity < size + simdjson::SIMDJSON_PADDING) {
            capacity = std::max(size + simdjson::SIMDJSON_PADDING, capacity * 2);
            buffer = std::make_unique_for_overwrite<char[]>(capacity);
        }
        if (size > 0)
            std::memcpy(buffer.get(), json.data(), size);
        std::memset(buffer.get() + size, 0, simdjson::SIMDJSON_PADDING);
        element root;
        if (const auto error = parser.parse(buffer.get(), size, false).get(root); error != simdjson::SUCCESS)
            unreadable({}, std::string("invalid JSON: ") + simdjson::error_message(error));
        return root;
    }
};

RecordJsonDecoder::RecordJsonDecoder() : d(std::make_unique<Impl>()) {}
RecordJsonDecoder::~RecordJsonDecoder() = default;
RecordJsonDecoder::RecordJsonDecoder(RecordJsonDecoder&&) noexcept = default;
RecordJsonDecoder& RecordJsonDecoder::operator=(RecordJsonDecoder&&) noexcept = default;

template <JsonRecord T>
T RecordJsonDecoder::decode(QByteArrayView json, JsonForm form) {
    return Decoder(form).read<T>(d->parse(json));
}

template <JsonRecord T>
T RecordJson::decode(QByteArrayView json, JsonForm form) {
    // Small documents (payloads, clipboard) reuse one decoder per thread; a large one (a package's
    // library) gets its own so that its memory is given back afterwards.
    constexpr qsizetype kReusedUpTo = 1 << 20;
    if (json.size() > kReusedUpTo)
        return RecordJsonDecoder().decode<T>(json, form);
    thread_local RecordJsonDecoder decoder;
    return decoder.decode<T>(json, form);
}

#define QUENDA_INSTANTIATE_RECORD_JSON(T)                                                                      \
    template T RecordJsonDecoder::decode<T>(QByteArrayView, JsonForm);                                         \
    template T RecordJson::decode<T>(QByteArrayView, JsonForm);                                                \
    QByteArray RecordJson::encode(const T& record, JsonForm form) { return encodeRecord(record, form); }

QUENDA_INSTANTIATE_RECORD_JSON(Deck)
QUENDA_INSTANTIATE_RECORD_JSON(Note)
QUENDA_INSTANTIATE_RECORD_JSON(MemoryState)
QUENDA_INSTANTIATE_RECORD_JSON(Flashcard)
QUENDA_INSTANTIATE_RECORD_JSON(ReviewEvent)
QUENDA_INSTANTIATE_RECORD_JSON(StudyPreferences)
QUENDA_INSTANTIATE_RECORD_JSON(LibrarySnapshot)
QUENDA_INSTANTIATE_RECORD_JSON(RichTextDocument)
QUENDA_INSTANTIATE_RECORD_JSON(RichTextRun)
#undef QUENDA_INSTANTIATE_RECORD_JSON

template Uuid RecordJsonDecoder::decode<Uuid>(QByteArrayView, JsonForm);
template Uuid RecordJson::decode<Uuid>(QByteArrayView, JsonForm);

QByteArray RecordJson::encode(const Uuid& id, JsonForm) {
    JsonWriter writer;
    writer.uuid(id);
    return writer.take();
}

void RecordJson::write(JsonWriter& writer, const Deck& deck, JsonForm form) { Encoder(writer, form).record(deck); }
void RecordJson::write(JsonWriter& writer, const Note& note, JsonForm form) { Encoder(writer, form).record(note); }
void RecordJson::write(JsonWriter& writer, const MemoryState& state, JsonForm form) {
    Encoder(writer, form).record(state);
}
void RecordJson::write(JsonWriter& writer, const Flashcard& card, JsonForm form) { Encoder(writer, form).record(card); }
void RecordJson::write(JsonWriter& writer, const ReviewEvent& review, JsonForm form) {
    Encoder(writer, form).record(review);
}
void RecordJson::write(JsonWriter& writer, const StudyPreferences& preferences, JsonForm form) {
    Encoder(writer, form).record(preferences);
}
void RecordJson::write(JsonWriter& writer, const LibrarySnapshot& snapshot, JsonForm form) {
    Encoder(writer, form).record(snapshot);
}
void RecordJson::write(JsonWriter& writer, const RichTextDocument& document, JsonForm form) {
    Encoder(writer, form).record(document);
}
void RecordJson::write(JsonWriter& writer, const RichTextRun& run, JsonForm form) {
    Encoder(writer, form).record(run);
}
void RecordJson::write(JsonWriter& writer, Instant time, JsonForm form) {
    const double value = form == JsonForm::database ? time.referenceSeconds() : time.unixMilliseconds();
    writer.number(value);
}
