#pragma once

#include "core/Instant.h"
#include "core/LibraryRecords.h"
#include "core/RichTextDocument.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

/// Decides which cards a note has and what each card shows. Stateless: every function is a pure function
/// of its arguments and may run on any thread.
///
/// Cloze notes hide words written inline in `front` as {{c1::answer}} or {{c1::answer::hint}}, with
/// numbers 1 to 999. Every text position here is a UTF-16 code unit of the text (a QString index).
namespace CardFactory {

/// The complete, ordered card list of `note` (ascending ordinal). Cards in `existing` that belong to the
/// note keep their identity, memory and suspension (their deck follows the note's); missing ordinals get
/// new cards with a random id, due at `now`. Cards of other notes in `existing` are ignored.
///
/// Throws QuendaError::invalidContent with the first failing check's message: a document that fails
/// RichTextDocument::validate or whose plain text differs from the note's field, an empty question or
/// answer, malformed cloze markers, or an edit that would remove cards the note already has.
QList<Flashcard> cards(const Note& note, const QList<Flashcard>& existing, Instant now);

/// What `card` shows: plain question and answer, the cloze hint, and documents when the note has
/// formatted content. Never throws; it assumes `note` passed `cards`.
CardPresentation presentation(const Note& note, const Flashcard& card);

/// The distinct numbers of all well-formed cloze markers in `text`, ascending, without the checks
/// `cards` makes (a text with stray braces still reports its numbers).
QList<std::int64_t> clozeNumbers(const QString& text);

/// The machinery behind the functions above, declared here so that it can be tested directly.
/// Not for other callers.
namespace detail {

/// A range of UTF-16 code units.
struct TextRange {
    qsizetype location = 0;
    qsizetype length = 0;

    qsizetype end() const { return location + length; }
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

/// One cloze marker found in a text.
struct Cloze {
    TextRange range;        ///< the whole marker, braces included
    TextRange contentRange; ///< the answer only (the hint and its "::" excluded)
    std::int64_t number = 0;
    QString text;                ///< the answer as written, not trimmed
    std::optional<QString> hint; ///< trimmed; absent when missing or blank

    friend bool operator==(const Cloze&, const Cloze&) = default;
};

/// Every well-formed marker, left to right, not overlapping. Markers numbered 1000 or above are not
/// clozes and are skipped.
QList<Cloze> parseClozes(QStringView text);

/// `parseClozes` with the checks a cloze note must pass; throws QuendaError::invalidContent.
QList<Cloze> validatedClozes(QStringView text);

/// `document` with the clozes revealed, or with those numbered `hiding` replaced by a placeholder run
/// ("[hint]" or "[…]") that takes the formatting of the run it stands in. Cloze positions must be
/// positions in the document's sourceText.
RichTextDocument render(const RichTextDocument& document, const QList<Cloze>& clozes,
                        std::optional<std::int64_t> hiding);

/// A reading position in the runs of a document. Holds a reference to `runs`, which must outlive it.
class RunCursor {
public:
    explicit RunCursor(const QList<RichTextRun>& runs) : m_runs(runs) {}

    /// Moves to `target` (a position in the document's plain text), returning the pieces of runs
    /// passed over, each with its run's formatting, when `keeping`; nothing otherwise. Stops early at
    /// the end of the runs.
    QList<RichTextRun> consume(qsizetype target, bool keeping);

    /// The first run with text at or after the current run, whatever the offset within it.
    std::optional<RichTextRun> currentRun() const;

    qsizetype position() const { return m_position; }

private:
    const QList<RichTextRun>& m_runs;
    qsizetype m_index = 0;
    qsizetype m_offset = 0;
    qsizetype m_position = 0;
};

} // namespace detail
} // namespace CardFactory
