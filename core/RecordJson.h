#pragma once

#include "core/JsonError.h"
#include "core/JsonWriter.h"
#include "core/LibraryRecords.h"
#include "core/RichTextDocument.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <type_traits>

/// Which of the two JSON forms a record is written in or read from. The forms are never mixed within
/// one payload or file.
enum class JsonForm {
    /// Payloads of the library database and the clipboard: times are seconds since
    /// 2001-01-01T00:00:00Z (fractional, bit-exact round trip); keys in the writer's own order.
    database,
    /// Package files: times are milliseconds since 1970-01-01T00:00:00Z (exact to the millisecond);
    /// keys of every object sorted by their bytes.
    package,
};

/// The records that have a JSON form.
template <class T>
concept JsonRecord = std::is_same_v<T, Deck> || std::is_same_v<T, Note> || std::is_same_v<T, MemoryState> ||
    std::is_same_v<T, Flashcard> || std::is_same_v<T, ReviewEvent> || std::is_same_v<T, StudyPreferences> ||
    std::is_same_v<T, LibrarySnapshot> || std::is_same_v<T, RichTextDocument> || std::is_same_v<T, RichTextRun> ||
    std::is_same_v<T, Uuid>;

/// The JSON form of every library record: one compact JSON object per record whose keys are the
/// record's field names; nested records are nested objects, lists are arrays in list order.
///
/// Writing: an absent optional field (`imageID`, `frontDocument`, `backDocument`, `lastReview`,
/// `undoneAt`, and a run's `link`, `imageID`, `latex`) leaves its key out; nothing is written as null.
/// Identifiers are canonical upper-case text; stages and ratings their integers; kinds, styles and
/// alignments their texts. A record holding a non-finite float or time cannot be written: encoding
/// throws JsonError::unwritable ("Impossibile scrivere i dati perché non sono nel formato corretto.").
///
/// Reading is strict; the whole record is unreadable, and decoding throws JsonError::unreadable
/// ("Impossibile leggere i dati perché non sono nel formato corretto."), when: the input is not one
/// valid JSON value (invalid UTF-8, trailing bytes); a required key is missing or null; a value has
/// the wrong JSON type; an identifier is not 8-4-4-4-12 hexadecimal text (either letter case is read);
/// a kind, style or alignment is not one of its texts; a stage is outside 0-3 or a rating outside 1-4.
/// An integer field takes a number only if it is an exact integer in the 64-bit range (3 and 3.0
/// pass, 3.5 fails); a float or time field takes any JSON number. Optional keys that are missing or
/// null read as absent; unknown keys are ignored; of duplicate keys the first counts.
///
/// All functions are reentrant and may run on any thread.
namespace RecordJson {

/// Encodes a record as one JSON document (UTF-8). Throws JsonError::unwritable.
QByteArray encode(const Deck& deck, JsonForm form);
QByteArray encode(const Note& note, JsonForm form);
QByteArray encode(const MemoryState& state, JsonForm form);
QByteArray encode(const Flashcard& card, JsonForm form);
QByteArray encode(const ReviewEvent& review, JsonForm form);
QByteArray encode(const StudyPreferences& preferences, JsonForm form);
QByteArray encode(const LibrarySnapshot& snapshot, JsonForm form);
QByteArray encode(const RichTextDocument& document, JsonForm form);
QByteArray encode(const RichTextRun& run, JsonForm form);
/// A bare identifier as a JSON string (the database's "libraryID" metadata value).
QByteArray encode(const Uuid& id, JsonForm form);

/// Writes a record as the next value of `writer`, for bulk encoding with one reused writer or for
/// embedding records in a larger document. The caller sets the writer's key order (the package
/// form wants KeyOrder::sorted; `keyOrder(form)` gives it). Throws JsonError::unwritable; the writer's
/// content is then unusable until `clear()`.
void write(JsonWriter& writer, const Deck& deck, JsonForm form);
void write(JsonWriter& writer, const Note& note, JsonForm form);
void write(JsonWriter& writer, const MemoryState& state, JsonForm form);
void write(JsonWriter& writer, const Flashcard& card, JsonForm form);
void write(JsonWriter& writer, const ReviewEvent& review, JsonForm form);
void write(JsonWriter& writer, const StudyPreferences& preferences, JsonForm form);
void write(JsonWriter& writer, const LibrarySnapshot& snapshot, JsonForm form);
void write(JsonWriter& writer, const RichTextDocument& document, JsonForm form);
void write(JsonWriter& writer, const RichTextRun& run, JsonForm form);
/// A time alone (e.g. a package manifest's date), as the number `form` prescribes.
void write(JsonWriter& writer, Instant time, JsonForm form);

/// The writer key order of `form`.
constexpr JsonWriter::KeyOrder keyOrder(JsonForm form) {
    return form == JsonForm::package ? JsonWriter::KeyOrder::sorted : JsonWriter::KeyOrder::asWritten;
}

/// Decodes one record from a whole JSON document (`Uuid`: a document that is one identifier string).
/// Throws JsonError::unreadable. Documents up to 1 MiB reuse a parser kept per thread; for bulk
/// loading, a RecordJsonDecoder of one's own does the same without the per-call lookup.
template <JsonRecord T> T decode(QByteArrayView json, JsonForm form);

} // namespace RecordJson

/// A reusable decoder for bulk loading (the store reads every payload of the library at start-up).
/// It keeps one parser and one input buffer whose memory is reused from call to call, so it grows to
/// the largest document decoded so far.
///
/// Not thread-safe: one decoder per thread. Movable, not copyable.
class RecordJsonDecoder {
public:
    RecordJsonDecoder();
    ~RecordJsonDecoder();
    RecordJsonDecoder(RecordJsonDecoder&&) noexcept;
    RecordJsonDecoder& operator=(RecordJsonDecoder&&) noexcept;

    /// Same contract as RecordJson::decode. Throws JsonError::unreadable.
    template <JsonRecord T> T decode(QByteArrayView json, JsonForm form);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
