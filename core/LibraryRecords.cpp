#include "core/LibraryRecords.h"

QString title(NoteKind kind) {
    switch (kind) {
    case NoteKind::basic:
        return QStringLiteral("Domanda e risposta");
    case NoteKind::reversed:
        return QStringLiteral("Anche al contrario");
    case NoteKind::cloze:
        return QStringLiteral("Parole nascoste");
    }
    Q_UNREACHABLE();
}

QString rawValue(NoteKind kind) {
    switch (kind) {
    case NoteKind::basic:
        return QStringLiteral("basic");
    case NoteKind::reversed:
        return QStringLiteral("reversed");
    case NoteKind::cloze:
        return QStringLiteral("cloze");
    }
    Q_UNREACHABLE();
}

std::optional<NoteKind> noteKindFromRawValue(QStringView text) {
    for (NoteKind kind : kAllNoteKinds)
        if (text == rawValue(kind))
            return kind;
    return std::nullopt;
}

std::optional<MemoryStage> memoryStageFromRawValue(long long value) {
    if (value < 0 || value > 3)
        return std::nullopt;
    return static_cast<MemoryStage>(value);
}

QString title(ReviewRating rating) {
    switch (rating) {
    case ReviewRating::again:
        return QStringLiteral("Da rivedere");
    case ReviewRating::hard:
        return QStringLiteral("Difficile");
    case ReviewRating::good:
        return QStringLiteral("Bene");
    case ReviewRating::easy:
        return QStringLiteral("Facile");
    }
    Q_UNREACHABLE();
}

QString explanation(ReviewRating rating) {
    switch (rating) {
    case ReviewRating::again:
        return QStringLiteral("Non ricordavo la risposta");
    case ReviewRating::hard:
        return QStringLiteral("Corretta, con molto sforzo");
    case ReviewRating::good:
        return QStringLiteral("Corretta, con sicurezza");
    case ReviewRating::easy:
        return QStringLiteral("Corretta e immediata");
    }
    Q_UNREACHABLE();
}

std::optional<ReviewRating> reviewRatingFromRawValue(long long value) {
    if (value < 1 || value > 4)
        return std::nullopt;
    return static_cast<ReviewRating>(value);
}
