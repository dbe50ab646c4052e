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
        if (w.keyOrder() == JsonWriter::KeyOrder::sorted) {
            // Already in key order, so that the writer need not move the whole library to sort it.
            w.key("cards");
            list(snapshot.cards);
            w.key("decks");
            list(snapshot.decks);
            uuid("libraryID", snapshot.libraryID);
            w.key("notes");
            list(snapshot.notes);
            w.key("preferences");
            record(snapshot.preferences);
            w.key("reviews");
            list(snapshot.reviews);
        } else {
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
        }
        w.endObject();
    }

    template <class T> void list(const QList<T>& records) {
        w.beginArray();
        for (const T& r : records)
            record(r);
        w.endArray();
    }

private:
    JsonWriter& w;
    JsonForm m_form;
};

template <class T> QByteArray encodeRecord(const T& record, JsonForm form) {
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

object asObject(element e, std::string_view key) {
    object o;
    if (e.get_object().get(o) != simdjson::SUCCESS)
        unreadable(key, "not an object");
    return o;
}

array asArray(element e, std::string_view key) {
    array a;
    if (e.get_array().get(a) != simdjson::SUCCESS)
        unreadable(key, "not an array");
    return a;
}

// The members of one object that a record reads, found in one pass over the object. `Key` is an
// enumeration of the record's keys, in the order of `names`. Unknown keys are skipped; of equal keys
// the first counts.
template <class Key, std::size_t N> class Members {
public:
    Members(element e, std::string_view where, const std::array<std::string_view, N>& names) : m_names(names) {
        static_assert(N <= 32);
        // Writers put the keys in a fixed order, so the key after the last match is tried first: our
        // own database payloads then cost one comparison per member.
        std::size_t next = 0;
        for (const simdjson::dom::key_value_pair member : asObject(e, where)) {
            for (std::size_t tried = 0; tried < N; ++tried) {
                const std::size_t i = next;
                next = next + 1 == N ? 0 : next + 1;
                if (member.key == m_names[i]) {
                    if (!(m_seen & (1u << i))) {
                        m_values[i] = member.value;
                        m_seen |= 1u << i;
                    }
                    break;
                }
            }
        }
    }

    std::string_view name(Key key) const { return m_names[std::size_t(key)]; }

    element required(Key key) const {
        const std::size_t i = std::size_t(key);
        if (!(m_seen & (1u << i)))
            unreadable(m_names[i], "missing");
        if (m_values[i].is_null())
            unreadable(m_names[i], "null");
        return m_values[i];
    }

    /// Missing and null both read as absent.
    std::optional<element> optional(Key key) const {
        const std::size_t i = std::size_t(key);
        if (!(m_seen & (1u << i)) || m_values[i].is_null())
            return std::nullopt;
        return m_values[i];
    }

private:
    const std::array<std::string_view, N>& m_names;
    std::array<element, N> m_values{};
    std::uint32_t m_seen = 0;
};

std::string_view utf8(element e, std::string_view key) {
    std::string_view s;
    if (e.get_string().get(s) != simdjson::SUCCESS)
        unreadable(key, "not a string");
    return s;
}

QString text(element e, std::string_view key) {
    const std::string_view s = utf8(e, key);
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

double number(element e, std::string_view key) {
    double d;
    if (e.get_double().get(d) != simdjson::SUCCESS)
        unreadable(key, "not a number");
    return d;
}

std::int64_t integer(element e, std::string_view key) {
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

bool boolean(element e, std::string_view key) {
    bool b;
    if (e.get_bool().get(b) != simdjson::SUCCESS)
        unreadable(key, "not a boolean");
    return b;
}

Uuid uuid(element e, std::string_view key) {
    const auto id = Uuid::fromString(utf8(e, key));
    if (!id)
        unreadable(key, "not an identifier");
    return *id;
}

// Reads records from a parsed document. `key` arguments name where a value sits in its parent (empty
// at the top), so that a failure says where the document is wrong.
class Decoder {
public:
    // `sharedAlgorithm` keeps the last scheduling-rules tag read, so that reviews share one string.
    Decoder(JsonForm form, QString* sharedAlgorithm) : m_form(form), m_sharedAlgorithm(sharedAlgorithm) {}

    template <class T> T read(element e) const {
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
            return ::uuid(e, {});
    }

private:
    // Typed access to the members of a record.
    template <class M, class K> static QString text(const M& m, K key) { return ::text(m.required(key), m.name(key)); }
    template <class M, class K> static std::optional<QString> optionalText(const M& m, K key) {
        if (const auto e = m.optional(key))
            return ::text(*e, m.name(key));
        return std::nullopt;
    }
    template <class M, class K> static double number(const M& m, K key) {
        return ::number(m.required(key), m.name(key));
    }
    template <class M, class K> static std::int64_t integer(const M& m, K key) {
        return ::integer(m.required(key), m.name(key));
    }
    template <class M, class K> static bool boolean(const M& m, K key) {
        return ::boolean(m.required(key), m.name(key));
    }
    template <class M, class K> static Uuid uuid(const M& m, K key) { return ::uuid(m.required(key), m.name(key)); }
    template <class M, class K> Instant time(const M& m, K key) const { return time(m.required(key), m.name(key)); }
    template <class M, class K> std::optional<Instant> optionalTime(const M& m, K key) const {
        if (const auto e = m.optional(key))
            return time(*e, m.name(key));
        return std::nullopt;
    }
    template <class M, class K, class R>
    QList<R> list(const M& m, K key, R (Decoder::*readOne)(element, std::string_view) const) const {
        const array elements = asArray(m.required(key), m.name(key));
        QList<R> records;
        records.reserve(qsizetype(elements.size()));
        for (const element e : elements)
            records.append((this->*readOne)(e, m.name(key)));
        return records;
    }

    Instant time(element e, std::string_view key) const {
        const double d = ::number(e, key);
        return m_form == JsonForm::database ? Instant::fromReferenceSeconds(d) : Instant::fromUnixMilliseconds(d);
    }

    RichTextRun run(element e, std::string_view where = {}) const {
        enum class K { text, bold, italic, underline, style, alignment, link, imageID, latex };
        static constexpr std::array<std::string_view, 9> kNames{"text",      "bold", "italic",  "underline", "style",
                                                                "alignment", "link", "imageID", "latex"};
        const Members<K, 9> m(e, where, kNames);
        RichTextRun run{.text = text(m, K::text),
                        .bold = boolean(m, K::bold),
                        .italic = boolean(m, K::italic),
                        .underline = boolean(m, K::underline)};
        const std::string_view style = utf8(m.required(K::style), m.name(K::style));
        if (style == "body")
            run.style = RichTextStyle::body;
        else if (style == "heading")
            run.style = RichTextStyle::heading;
        else if (style == "caption")
            run.style = RichTextStyle::caption;
        else
            unreadable(m.name(K::style), "unknown style");
        const std::string_view alignment = utf8(m.required(K::alignment), m.name(K::alignment));
        if (alignment == "leading")
            run.alignment = RichTextAlignment::leading;
        else if (alignment == "center")
            run.alignment = RichTextAlignment::center;
        else if (alignment == "trailing")
            run.alignment = RichTextAlignment::trailing;
        else
            unreadable(m.name(K::alignment), "unknown alignment");
        run.link = optionalText(m, K::link);
        run.imageID = optionalText(m, K::imageID);
        run.latex = optionalText(m, K::latex);
        return run;
    }

    RichTextDocument document(element e, std::string_view where = {}) const {
        enum class K { runs };
        static constexpr std::array<std::string_view, 1> kNames{"runs"};
        const Members<K, 1> m(e, where, kNames);
        return RichTextDocument{list(m, K::runs, &Decoder::run)};
    }

    Deck deck(element e, std::string_view where = {}) const {
        enum class K { id, name, subtitle, symbol, colorHex, createdAt, updatedAt };
        static constexpr std::array<std::string_view, 7> kNames{"id",       "name",      "subtitle", "symbol",
                                                                "colorHex", "createdAt", "updatedAt"};
        const Members<K, 7> m(e, where, kNames);
        return Deck{
            .id = uuid(m, K::id),
            .name = text(m, K::name),
            .subtitle = text(m, K::subtitle),
            .symbol = text(m, K::symbol),
            .colorHex = text(m, K::colorHex),
            .createdAt = time(m, K::createdAt),
            .updatedAt = time(m, K::updatedAt),
        };
    }

    Note note(element e, std::string_view where = {}) const {
        enum class K {
            id,
            deckID,
            kind,
            front,
            back,
            tags,
            imageID,
            frontDocument,
            backDocument,
            createdAt,
            updatedAt
        };
        static constexpr std::array<std::string_view, 11> kNames{
            "id",      "deckID",        "kind",         "front",     "back",     "tags",
            "imageID", "frontDocument", "backDocument", "createdAt", "updatedAt"};
        const Members<K, 11> m(e, where, kNames);
        Note note{.id = uuid(m, K::id), .deckID = uuid(m, K::deckID)};
        const std::string_view kind = utf8(m.required(K::kind), m.name(K::kind));
        if (kind == "basic")
            note.kind = NoteKind::basic;
        else if (kind == "reversed")
            note.kind = NoteKind::reversed;
        else if (kind == "cloze")
            note.kind = NoteKind::cloze;
        else
            unreadable(m.name(K::kind), "unknown note kind");
        note.front = text(m, K::front);
        note.back = text(m, K::back);
        const array tags = asArray(m.required(K::tags), m.name(K::tags));
        note.tags.reserve(qsizetype(tags.size()));
        for (const element tag : tags)
            note.tags.append(::text(tag, m.name(K::tags)));
        note.imageID = optionalText(m, K::imageID);
        if (const auto front = m.optional(K::frontDocument))
            note.frontDocument = document(*front, m.name(K::frontDocument));
        if (const auto back = m.optional(K::backDocument))
            note.backDocument = document(*back, m.name(K::backDocument));
        note.createdAt = time(m, K::createdAt);
        note.updatedAt = time(m, K::updatedAt);
        return note;
    }

    MemoryState memory(element e, std::string_view where = {}) const {
        enum class K {
            due,
            stability,
            difficulty,
            elapsedDays,
            scheduledDays,
            learningSteps,
            reps,
            lapses,
            stage,
            lastReview
        };
        static constexpr std::array<std::string_view, 10> kNames{
            "due",           "stability", "difficulty", "elapsedDays", "scheduledDays",
            "learningSteps", "reps",      "lapses",     "stage",       "lastReview"};
        const Members<K, 10> m(e, where, kNames);
        MemoryState state{
            .due = time(m, K::due),
            .stability = number(m, K::stability),
            .difficulty = number(m, K::difficulty),
            .elapsedDays = number(m, K::elapsedDays),
            .scheduledDays = number(m, K::scheduledDays),
            .learningSteps = integer(m, K::learningSteps),
            .reps = integer(m, K::reps),
            .lapses = integer(m, K::lapses),
        };
        const auto stage = memoryStageFromRawValue(integer(m, K::stage));
        if (!stage)
            unreadable(m.name(K::stage), "outside 0 to 3");
        state.stage = *stage;
        state.lastReview = optionalTime(m, K::lastReview);
        return state;
    }

    Flashcard card(element e, std::string_view where = {}) const {
        enum class K { id, noteID, deckID, ordinal, memory, isSuspended };
        static constexpr std::array<std::string_view, 6> kNames{"id",      "noteID", "deckID",
                                                                "ordinal", "memory", "isSuspended"};
        const Members<K, 6> m(e, where, kNames);
        return Flashcard{
            .id = uuid(m, K::id),
            .noteID = uuid(m, K::noteID),
            .deckID = uuid(m, K::deckID),
            .ordinal = integer(m, K::ordinal),
            .memory = memory(m.required(K::memory), m.name(K::memory)),
            .isSuspended = boolean(m, K::isSuspended),
        };
    }

    ReviewEvent review(element e, std::string_view where = {}) const {
        enum class K { id, cardID, reviewedAt, rating, before, after, algorithm, retention, undoneAt };
        static constexpr std::array<std::string_view, 9> kNames{"id",    "cardID",    "reviewedAt", "rating",  "before",
                                                                "after", "algorithm", "retention",  "undoneAt"};
        const Members<K, 9> m(e, where, kNames);
        ReviewEvent review{.id = uuid(m, K::id), .cardID = uuid(m, K::cardID), .reviewedAt = time(m, K::reviewedAt)};
        const auto rating = reviewRatingFromRawValue(integer(m, K::rating));
        if (!rating)
            unreadable(m.name(K::rating), "outside 1 to 4");
        review.rating = *rating;
        review.before = memory(m.required(K::before), m.name(K::before));
        review.after = memory(m.required(K::after), m.name(K::after));
        review.algorithm = algorithm(utf8(m.required(K::algorithm), m.name(K::algorithm)));
        review.retention = number(m, K::retention);
        review.undoneAt = optionalTime(m, K::undoneAt);
        return review;
    }

    QString algorithm(std::string_view bytes) const {
        // Every review carries the same short tag; a million copies of it would cost tens of MB.
        if (m_sharedAlgorithm) {
            const QString& shared = *m_sharedAlgorithm;
            if (qsizetype(bytes.size()) == shared.size() && QLatin1StringView(bytes.data(), shared.size()) == shared)
                return shared;
        }
        QString text = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
        if (m_sharedAlgorithm)
            *m_sharedAlgorithm = text;
        return text;
    }

    StudyPreferences preferences(element e, std::string_view where = {}) const {
        enum class K { dailyNewLimit, desiredRetention };
        static constexpr std::array<std::string_view, 2> kNames{"dailyNewLimit", "desiredRetention"};
        const Members<K, 2> m(e, where, kNames);
        return StudyPreferences{
            .dailyNewLimit = integer(m, K::dailyNewLimit),
            .desiredRetention = number(m, K::desiredRetention),
        };
    }

    LibrarySnapshot snapshot(element e) const {
        enum class K { libraryID, decks, notes, cards, reviews, preferences };
        static constexpr std::array<std::string_view, 6> kNames{"libraryID", "decks",   "notes",
                                                                "cards",     "reviews", "preferences"};
        const Members<K, 6> m(e, {}, kNames);
        return LibrarySnapshot{
            .libraryID = uuid(m, K::libraryID),
            .decks = list(m, K::decks, &Decoder::deck),
            .notes = list(m, K::notes, &Decoder::note),
            .cards = list(m, K::cards, &Decoder::card),
            .reviews = list(m, K::reviews, &Decoder::review),
            .preferences = preferences(m.required(K::preferences), m.name(K::preferences)),
        };
    }

    JsonForm m_form;
    QString* m_sharedAlgorithm;
};

} // namespace

// ---------------------------------------------------------------------------------------------------

struct RecordJsonDecoder::Impl {
    simdjson::dom::parser parser;
    // The parser reads up to SIMDJSON_PADDING bytes past the end; a buffer of our own, reused from call
    // to call, saves the parser's allocation of a padded copy for each document.
    std::unique_ptr<char[]> buffer;
    std::size_t capacity = 0;
    QString sharedAlgorithm;

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

template <JsonRecord T> T RecordJsonDecoder::decode(QByteArrayView json, JsonForm form) {
    return Decoder(form, &d->sharedAlgorithm).read<T>(d->parse(json));
}

template <JsonRecord T> T RecordJson::decode(QByteArrayView json, JsonForm form) {
    // Small documents (payloads, clipboard) reuse one decoder per thread; a large one (a package's
    // library) gets its own so that its memory is given back afterwards.
    constexpr qsizetype kReusedUpTo = 1 << 20;
    if (json.size() > kReusedUpTo)
        return RecordJsonDecoder().decode<T>(json, form);
    thread_local RecordJsonDecoder decoder;
    return decoder.decode<T>(json, form);
}

#define QUENDA_INSTANTIATE_RECORD_JSON(T)                                                                              \
    template T RecordJsonDecoder::decode<T>(QByteArrayView, JsonForm);                                                 \
    template T RecordJson::decode<T>(QByteArrayView, JsonForm);                                                        \
    QByteArray RecordJson::encode(const T& record, JsonForm form) {                                                    \
        return encodeRecord(record, form);                                                                             \
    }

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

void RecordJson::write(JsonWriter& writer, const Deck& deck, JsonForm form) {
    Encoder(writer, form).record(deck);
}
void RecordJson::write(JsonWriter& writer, const Note& note, JsonForm form) {
    Encoder(writer, form).record(note);
}
void RecordJson::write(JsonWriter& writer, const MemoryState& state, JsonForm form) {
    Encoder(writer, form).record(state);
}
void RecordJson::write(JsonWriter& writer, const Flashcard& card, JsonForm form) {
    Encoder(writer, form).record(card);
}
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
