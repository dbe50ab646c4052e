

#include "core/StudyQueue.h"

#include <QDate>
#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// The reviews are the bulk of a library and only their time is read: one cache miss each, which the
// hardware does not foresee across pages. Asking some way ahead keeps the memory busy.
constexpr qsizetype kPrefetchDistance = 64;

// Far enough for any real library, near enough that QDateTime can still place the day.
constexpr double kCalendarLimitMilliseconds = 1e15;

std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDULL;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ULL;
    h ^= h >> 33;
    return h;
}

// Identifiers typed by people or derived from counters differ only in their last bytes, which the
// library's qHash leaves out of the low bits; an open-addressing table needs them spread.
std::uint64_t hashOf(const Uuid& id) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, id.bytes().data(), 8);
    std::memcpy(&b, id.bytes().data() + 8, 8);
    return mix(a ^ (b * 0x9E3779B97F4A7C15ULL));
}

// Two loads instead of a call to memcmp.
bool sameId(const Uuid& a, const Uuid& b) {
    std::uint64_t x[2];
    std::uint64_t y[2];
    std::memcpy(x, a.bytes().data(), 16);
    std::memcpy(y, b.bytes().data(), 16);
    return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0;
}

/// Identifier → index, open addressing with linear probing, sized once: one allocation per table
/// instead of one per entry.
class IdTable {
public:
    explicit IdTable(qsizetype expected) {
        std::size_t capacity = 16;
        while (capacity < static_cast<std::size_t>(expected) * 2)
            capacity *= 2;
        m_slots.resize(capacity);
        m_mask = capacity - 1;
    }

    /// The value stored for `id`, storing `value` first when `id` is new, so the first value wins.
    std::int32_t insert(const Uuid& id, std::int32_t value) {
        for (std::size_t i = hashOf(id) & m_mask;; i = (i + 1) & m_mask) {
            Slot& slot = m_slots[i];
            if (slot.value < 0) {
                slot.id = id;
                slot.value = value;
                return value;
            }
            if (sameId(slot.id, id))
                return slot.value;
        }
    }

    /// The value stored for `id`, or -1.
    std::int32_t find(const Uuid& id) const {
        for (std::size_t i = hashOf(id) & m_mask;; i = (i + 1) & m_mask) {
            const Slot& slot = m_slots[i];
            if (slot.value < 0 || sameId(slot.id, id))
                return slot.value;
        }
    }

    /// Replaces the value of an `id` already present.
    void assign(const Uuid& id, std::int32_t value) {
        for (std::size_t i = hashOf(id) & m_mask;; i = (i + 1) & m_mask) {
            if (m_slots[i].value >= 0 && sameId(m_slots[i].id, id)) {
                m_slots[i].value = value;
                return;
            }
        }
    }

private:
    struct Slot {
        Uuid id;
        std::int32_t value = -1; // negative: empty
    };
    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
};

struct NoteInfo {
    Uuid deckID;
    double createdAt = 0;
    std::int32_t lockCard = -1; // index into snapshot.cards of the card that owns the note today
    bool offered = false;
};

struct Candidate {
    bool isNew;
    double due;       // 0 for new cards: they are not compared by due
    double createdAt; // of the note
    std::int32_t note;
    std::int64_t ordinal;
    Uuid id;
    Uuid lead; // see orderTies
    std::int32_t card;
};

bool sameTier(const Candidate& a, const Candidate& b) {
    return a.isNew == b.isNew && a.due == b.due && a.createdAt == b.createdAt;
}

bool byTierNoteOrdinal(const Candidate& a, const Candidate& b) {
    if (a.isNew != b.isNew)
        return !a.isNew;
    if (a.due != b.due)
        return a.due < b.due;
    if (a.createdAt != b.createdAt)
        return a.createdAt < b.createdAt;
    if (a.note != b.note)
        return a.note < b.note;
    if (a.ordinal != b.ordinal)
        return a.ordinal < b.ordinal;
    return a.id < b.id;
}

// Among cards tied on stage, due and note age, "lower ordinal within a note, else smaller card id" is
// not transitive when one note has two such cards and another note sits between their ids (a
// reversed note and a second note imported at the same instant). Ordering each note by the id of
// its first card keeps every consistent case as it was, and the card a note offers is always the
// one of its lowest ordinal.
void orderTies(std::vector<Candidate>& candidates) {
    const std::size_t n = candidates.size();
    std::size_t begin = 0;
    while (begin < n) {
        std::size_t end = begin + 1;
        bool severalNotes = false;
        candidates[begin].lead = candidates[begin].id;
        while (end < n && sameTier(candidates[begin], candidates[end])) {
            Candidate& c = candidates[end];
            if (c.note == candidates[end - 1].note) {
                c.lead = candidates[end - 1].lead;
            } else {
                c.lead = c.id;
                severalNotes = true;
            }
            ++end;
        }
        if (severalNotes) {
            std::sort(candidates.begin() + begin, candidates.begin() + end, [](const Candidate& a, const Candidate& b) {
                if (a.lead != b.lead)
                    return a.lead < b.lead;
                if (a.note != b.note)
                    return a.note < b.note;
                if (a.ordinal != b.ordinal)
                    return a.ordinal < b.ordinal;
                return a.id < b.id;
            });
        }
        begin = end;
    }
}

} // namespace

Instant StudyQueue::startOfDay(Instant now, const QTimeZone& timeZone) {
    const QTimeZone zone = timeZone.isValid() ? timeZone : QTimeZone::utc();
    // The millisecond that contains `now`, so an instant a fraction before midnight stays in its day.
    const double milliseconds = std::floor(now.unixMilliseconds());
    if (!(std::fabs(milliseconds) < kCalendarLimitMilliseconds))
        return now;
    const QDate day = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(milliseconds), zone).date();
    const QDateTime start = day.startOfDay(zone);
    if (!start.isValid())
        return now;
    return Instant::fromUnixMilliseconds(static_cast<double>(start.toMSecsSinceEpoch()));
}

QList<Flashcard> StudyQueue::cards(const LibrarySnapshot& snapshot, std::optional<Uuid> deckID, Instant now,
                                   const QTimeZone& timeZone) {
    if (!now.isFinite())
        return {};

    IdTable decks(snapshot.decks.size());
    for (qsizetype i = 0; i < snapshot.decks.size(); ++i)
        decks.insert(snapshot.decks[i].id, static_cast<std::int32_t>(i));

    IdTable noteIndex(snapshot.notes.size());
    std::vector<NoteInfo> notes;
    notes.reserve(static_cast<std::size_t>(snapshot.notes.size()));
    for (const Note& note : snapshot.notes) {
        const auto next = static_cast<std::int32_t>(notes.size());
        if (noteIndex.insert(note.id, next) != next)
            continue; // a later duplicate: the first note with an id is the note
        // A creation time that is not a number would break the sort's order; it counts as the most
        // distant past, like a note that cannot be found.
        const double createdAt = note.createdAt.referenceSeconds();
        notes.push_back({note.deckID, std::isnan(createdAt) ? -std::numeric_limits<double>::infinity() : createdAt});
    }

    // Today's standing reviews; the reviews are the bulk of a library, so test the time first.
    const Instant dayStart = startOfDay(now, timeZone);
    std::vector<const ReviewEvent*> today;
    const ReviewEvent* const reviews = snapshot.reviews.constData();
    const qsizetype reviewCount = snapshot.reviews.size();
    for (qsizetype i = 0; i < reviewCount; ++i) {
        const ReviewEvent& review = reviews[i];
        if (i + kPrefetchDistance < reviewCount)
            __builtin_prefetch(&reviews[i + kPrefetchDistance].reviewedAt);
        if (review.reviewedAt >= dayStart && review.reviewedAt <= now && !review.undoneAt)
            today.push_back(&review);
    }

    // New cards introduced today, each counted once; the same table later finds the reviewed cards.
    IdTable reviewed(static_cast<qsizetype>(today.size()));
    qsizetype introducedToday = 0;
    for (const ReviewEvent* review : today) {
        // Values: 0 reviewed, 1 introduced today (some review of it found the card new).
        if (review->before.stage != MemoryStage::new_) {
            reviewed.insert(review->cardID, 0);
            continue;
        }
        const std::int32_t stored = reviewed.find(review->cardID);
        if (stored == 1)
            continue;
        if (stored == 0)
            reviewed.assign(review->cardID, 1);
        else
            reviewed.insert(review->cardID, 1);
        ++introducedToday;
    }
    const std::int64_t limit = std::max<std::int64_t>(0, snapshot.preferences.dailyNewLimit);
    std::int64_t remainingNew = std::max<std::int64_t>(0, limit - introducedToday);

    // One pass over the cards: the first card of each reviewed id, and the candidates before locks.
    IdTable reviewedCard(static_cast<qsizetype>(today.size()));
    std::vector<Candidate> candidates;
    candidates.reserve(static_cast<std::size_t>(snapshot.cards.size()));
    for (qsizetype i = 0; i < snapshot.cards.size(); ++i) {
        const Flashcard& card = snapshot.cards[i];
        if (!today.empty() && reviewed.find(card.id) >= 0)
            reviewedCard.insert(card.id, static_cast<std::int32_t>(i));
        if (card.isSuspended)
            continue;
        if (deckID && card.deckID != *deckID)
            continue;
        const bool isNew = card.memory.stage == MemoryStage::new_;
        // Without budget a new card could only be skipped, which marks nothing: leave it out early.
        if (isNew ? remainingNew == 0 : !(card.memory.due <= now))
            continue;
        const std::int32_t note = noteIndex.find(card.noteID);
        if (note < 0 || notes[static_cast<std::size_t>(note)].deckID != card.deckID || decks.find(card.deckID) < 0)
            continue;
        candidates.push_back({isNew, isNew ? 0.0 : card.memory.due.referenceSeconds(),
                              notes[static_cast<std::size_t>(note)].createdAt, note, card.ordinal, card.id, Uuid(),
                              static_cast<std::int32_t>(i)});
    }

    // Note locks: the first card of a note reviewed today, by time, then by review id.
    if (!today.empty()) {
        std::sort(today.begin(), today.end(), [](const ReviewEvent* a, const ReviewEvent* b) {
            if (a->reviewedAt != b->reviewedAt)
                return a->reviewedAt < b->reviewedAt;
            return a->id < b->id;
        });
        for (const ReviewEvent* review : today) {
            const std::int32_t card = reviewedCard.find(review->cardID);
            if (card < 0)
                continue; // the card is gone
            const std::int32_t note = noteIndex.find(snapshot.cards[card].noteID);
            if (note >= 0 && notes[static_cast<std::size_t>(note)].lockCard < 0)
                notes[static_cast<std::size_t>(note)].lockCard = card;
        }
        std::erase_if(candidates, [&](const Candidate& c) {
            const std::int32_t lock = notes[static_cast<std::size_t>(c.note)].lockCard;
            return lock >= 0 && snapshot.cards[lock].id != c.id;
        });
    }

    std::sort(candidates.begin(), candidates.end(), byTierNoteOrdinal);
    orderTies(candidates);

    qsizetype dueCount = 0;
    for (const Candidate& c : candidates)
        dueCount += c.isNew ? 0 : 1;
    const qsizetype capacity =
        dueCount + static_cast<qsizetype>(std::min<std::int64_t>(remainingNew, std::ssize(candidates) - dueCount));
    QList<Flashcard> result;
    result.reserve(capacity);
    IdTable offeredCards(capacity);
    for (const Candidate& c : candidates) {
        NoteInfo& note = notes[static_cast<std::size_t>(c.note)];
        if (note.offered || offeredCards.find(c.id) >= 0)
            continue;
        if (c.isNew) {
            if (remainingNew <= 0)
                continue;
            --remainingNew;
        }
        note.offered = true;
        offeredCards.insert(c.id, 0);
        result.append(snapshot.cards[c.card]);
    }
    return result;
}
