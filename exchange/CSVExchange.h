#pragma once

#include "core/LibraryRecords.h"
#include "core/Uuid.h"

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>

/// The plain-text bridge to spreadsheets: notes of one deck as comma, tab or semicolon separated text.
/// Carries front, back, tags, note kind and an optional identifier; no images, formatting or progress.
///
/// Identifiers are derived from the content (version-8 UUIDs from SHA-256) when the file has none, so
/// importing the same file twice into the same deck yields the same notes and cards.
///
/// Pure functions of their arguments, callable from any thread. `read` throws
/// QuendaError::invalidContent with the first failing check's message; `write` cannot fail.
namespace CSVExchange {

inline constexpr std::int64_t kMaxTextBytes = 33'554'432;
inline constexpr qsizetype kMaxParsedRecords = 50'002;
inline constexpr qsizetype kMaxNonBlankRecords = 50'001;

enum class Column { front, back, tags, kind, id };

/// Notes and cards of `text` (the whole file, decoded from UTF-8), all in `deck`: a snapshot with a fresh
/// random library id, `decks` = [deck], the notes and their cards in row order, no reviews, and the
/// default preferences.
LibrarySnapshot read(const QString& text, const Deck& deck);

/// CSV text of `notes` in the given order: a header line "front,back,tags,type,id", then one line per
/// note with every field quoted; lines end with CR LF. Formatted notes contribute their export text.
QString write(const QList<Note>& notes);

// The steps of `read`, exposed for tests.

/// Tab, comma or semicolon: the most frequent outside quotes in the first record; ties favour tab,
/// then comma.
QChar detectDelimiter(QStringView text);
/// The records of `text`, each a list of cells, quotes removed. Throws QuendaError for misplaced or
/// unclosed quotes (naming the physical line) and for more than kMaxParsedRecords records.
QList<QStringList> parse(QStringView text, QChar delimiter);
/// The column a header cell names (Italian or English, any letter case), if any.
std::optional<Column> column(QStringView cell);
/// The kind a cell names; an empty cell is basic. Throws QuendaError naming `row` and the cell.
NoteKind noteKind(const QString& cell, qsizetype row);
/// A version-8 UUID from the SHA-256 of the length-prefixed UTF-8 parts.
Uuid stableUUID(const QStringList& parts);

} // namespace CSVExchange
