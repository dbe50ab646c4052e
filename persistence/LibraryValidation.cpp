#include "persistence/LibraryValidation.h"

#include "core/MediaIdentifier.h"
#include "core/QuendaError.h"

#include <QHash>
#include <QSet>

#include <cmath>

namespace {

[[noreturn]] void refuse(const char16_t* message) {
    throw QuendaError::invalidContent(QString::fromUtf16(message));
}

void requireFiniteDate(Instant date) {
    if (!date.isFinite())
        refuse(u"Una data non è valida.");
}

bool isNonNegativeFinite(double value) {
    return std::isfinite(value) && value >= 0;
}

/// Plain text and the text of its document are compared as Unicode text, so canonically equivalent
/// spellings (precomposed or combining accents) count as equal.
bool sameUnicodeText(const QString& a, const QString& b) {
    return a == b || a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

void requireMatchingDocument(const std::optional<RichTextDocument>& document, const QString& text) {
    if (!document)
        return;
    document->validate();
    if (!sameUnicodeText(document->sourceText(), text))
        refuse(u"Il testo della carta non corrisponde al suo documento formattato.");
}

template <typename Record> bool hasUniqueIdentifiers(const QList<Record>& records) {
    QSet<Uuid> seen;
    seen.reserve(records.size());
    for (const Record& record : records)
        seen.insert(record.id);
    return seen.size() == records.size();
}

} // namespace

namespace LibraryValidation {

void deck(const Deck& deck) {
    if (deck.name.trimmed().isEmpty())
        refuse(u"Dai un nome al mazzo.");
    requireFiniteDate(deck.createdAt);
    requireFiniteDate(deck.updatedAt);
}

void note(const Note& note) {
    if (note.front.trimmed().isEmpty())
        refuse(u"Scrivi il contenuto della domanda.");
    if (note.kind != NoteKind::cloze && note.back.trimmed().isEmpty())
        refuse(u"Scrivi una risposta per la carta.");
    if (note.imageID && !MediaIdentifier::isValid(*note.imageID))
        refuse(u"Il riferimento all’immagine non è valido.");
    requireMatchingDocument(note.frontDocument, note.front);
    requireMatchingDocument(note.backDocument, note.back);
    requireFiniteDate(note.createdAt);
    requireFiniteDate(note.updatedAt);
}

void memory(const MemoryState& state) {
    const bool inRange = isNonNegativeFinite(state.stability) && isNonNegativeFinite(state.difficulty) &&
                         state.difficulty <= 10 && isNonNegativeFinite(state.elapsedDays) &&
                         isNonNegativeFinite(state.scheduledDays) && state.learningSteps >= 0 && state.reps >= 0 &&
                         state.lapses >= 0 && state.lapses <= state.reps;
    if (!inRange)
        refuse(u"Lo stato di ripasso contiene valori non validi.");
    requireFiniteDate(state.due);
    if (state.lastReview)
        requireFiniteDate(*state.lastReview);
    if (state.stage == MemoryStage::new_)
        return;
    if (!state.lastReview || state.reps <= 0 || state.stability <= 0 || state.difficulty < 1)
        refuse(u"La cronologia di una carta è incompleta.");
}

void cards(const QList<Flashcard>& cards, const Note& note) {
    QSet<std::int64_t> ordinals;
    for (const Flashcard& card : cards)
        ordinals.insert(card.ordinal);
    if (cards.isEmpty() || !hasUniqueIdentifiers(cards) || ordinals.size() != cards.size())
        refuse(u"Le carte generate sono mancanti o duplicate.");
    for (const Flashcard& card : cards) {
        if (card.noteID != note.id || card.deckID != note.deckID || card.ordinal < 0)
            refuse(u"Una carta non appartiene alla nota o al mazzo indicato.");
        memory(card.memory);
    }
}

void review(const ReviewEvent& event) {
    requireFiniteDate(event.reviewedAt);
    if (event.undoneAt)
        requireFiniteDate(*event.undoneAt);
    memory(event.before);
    memory(event.after);
    if (event.algorithm.isEmpty() || !(event.retention > 0 && event.retention < 1))
        refuse(u"I parametri del ripasso non sono validi.");
}

bool arePreferencesValid(const StudyPreferences& preferences) {
    return preferences.dailyNewLimit >= 0 && preferences.dailyNewLimit <= 1000 && preferences.desiredRetention > 0 &&
           preferences.desiredRetention < 1;
}

void snapshot(const LibrarySnapshot& snapshot) {
    if (!arePreferencesValid(snapshot.preferences))
        refuse(u"Le impostazioni di ripasso non sono valide.");
    if (!hasUniqueIdentifiers(snapshot.decks) || !hasUniqueIdentifiers(snapshot.notes) ||
        !hasUniqueIdentifiers(snapshot.cards) || !hasUniqueIdentifiers(snapshot.reviews))
        refuse(u"Il file contiene identificativi duplicati.");

    QSet<Uuid> deckIDs;
    for (const Deck& each : snapshot.decks) {
        deck(each);
        deckIDs.insert(each.id);
    }

    // The cards of each note, in snapshot order.
    QHash<Uuid, QList<Flashcard>> cardsByNote;
    for (const Flashcard& card : snapshot.cards)
        cardsByNote[card.noteID].append(card);
    QSet<Uuid> noteIDs;
    for (const Note& each : snapshot.notes) {
        note(each);
        if (!deckIDs.contains(each.deckID))
            refuse(u"Il mazzo di una nota non è presente nel file.");
        cards(cardsByNote.value(each.id), each);
        noteIDs.insert(each.id);
    }

    QSet<Uuid> cardIDs;
    for (const Flashcard& card : snapshot.cards) {
        if (!noteIDs.contains(card.noteID))
            refuse(u"La nota di una carta non è presente nel file.");
        cardIDs.insert(card.id);
    }

    for (const ReviewEvent& event : snapshot.reviews) {
        review(event);
        if (!cardIDs.contains(event.cardID))
            refuse(u"La carta di un ripasso non è presente nel file.");
    }
}

} // namespace LibraryValidation
