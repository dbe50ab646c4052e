#include "app/cli/CliContext.h"

#include "core/RecordJson.h"

#include <QDateTime>
#include <QSet>
#include <QTimer>

#include <cmath>
#include <ostream>

Instant CliClock::now() const {
    if (m_fixedNow)
        return *m_fixedNow;
    return Instant::fromUnixMilliseconds(double(QDateTime::currentMSecsSinceEpoch()));
}

void CliClock::schedule(double seconds, QObject* context, std::function<void()> fire) {
    const int milliseconds = int(std::lround(std::max(0.0, seconds) * 1000.0));
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, context, std::move(fire));
}

CommandArguments::CommandArguments(const QStringList& arguments, const QStringList& valued, const QStringList& flags) {
    bool onlyPositional = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (onlyPositional || !argument.startsWith(u"--") || argument.size() == 2) {
            if (argument == u"--" && !onlyPositional)
                onlyPositional = true;
            else
                m_positional.append(argument);
        } else if (valued.contains(argument)) {
            if (i + 1 >= arguments.size())
                throw UsageError{QStringLiteral("manca il valore di %1").arg(argument)};
            m_options.insert(argument, arguments[++i]);
        } else if (flags.contains(argument)) {
            m_flags.append(argument);
        } else {
            throw UsageError{QStringLiteral("opzione sconosciuta: %1").arg(argument)};
        }
    }
}

std::optional<QString> CommandArguments::option(const QString& name) const {
    const auto found = m_options.constFind(name);
    if (found == m_options.cend())
        return std::nullopt;
    return *found;
}

QStringList CommandArguments::positional(qsizetype count) const {
    if (m_positional.size() != count)
        throw UsageError{count == 0
                             ? QStringLiteral("argomenti di troppo")
                             : QStringLiteral("servono %1 argomenti, ricevuti %2").arg(count).arg(m_positional.size())};
    return m_positional;
}

void CliContext::act(QFuture<bool> action) {
    if (wait(action).result())
        return;
    const QString message = model.errorMessage().value_or(QStringLiteral("L’operazione non è stata eseguita."));
    model.clearErrorMessage();
    throw Refusal{message};
}

ReviewEvent CliContext::review(const Flashcard& card, ReviewRating rating) {
    QSet<Uuid> earlier;
    for (const ReviewEvent& event : model.library().reviews)
        earlier.insert(event.id);
    act(model.review(card, rating));
    for (const ReviewEvent& event : model.library().reviews)
        if (event.cardID == card.id && !earlier.contains(event.id))
            return event;
    throw Refusal{QStringLiteral("Il ripasso non è stato registrato.")};
}

void CliContext::flushBackup() {
    wait(model.writePendingBackup());
    if (model.backupError())
        err << "Backup automatico non riuscito: " << model.backupError()->toStdString() << "\n";
}

Uuid CliContext::parseID(const QString& text) {
    const std::optional<Uuid> id = Uuid::fromString(QStringView(text).trimmed());
    if (!id)
        throw UsageError{QStringLiteral("identificativo non valido: %1").arg(text)};
    return *id;
}

const Deck& CliContext::deck(const QString& text) const {
    const Uuid id = parseID(text);
    for (const Deck& deck : model.library().decks)
        if (deck.id == id)
            return deck;
    throw Refusal{QStringLiteral("Nessun mazzo con identificativo %1.").arg(id.toString())};
}

const Note& CliContext::note(const QString& text) const {
    const Uuid id = parseID(text);
    for (const Note& note : model.library().notes)
        if (note.id == id)
            return note;
    throw Refusal{QStringLiteral("Nessuna nota con identificativo %1.").arg(id.toString())};
}

const Flashcard& CliContext::card(const QString& text) const {
    const Uuid id = parseID(text);
    for (const Flashcard& card : model.library().cards)
        if (card.id == id)
            return card;
    throw Refusal{QStringLiteral("Nessuna carta con identificativo %1.").arg(id.toString())};
}

const Note& CliContext::noteOf(const Flashcard& card) const {
    return note(card.noteID.toString());
}

JsonWriter CliContext::jsonWriter() {
    return JsonWriter(RecordJson::keyOrder(JsonForm::package));
}

void CliContext::print(const JsonWriter& writer) const {
    out << writer.data().toStdString() << "\n";
}

void CliContext::print(const QString& line) const {
    out << line.toStdString() << "\n";
}

QString CliContext::dateText(Instant time) const {
    if (!time.isFinite())
        return QStringLiteral("\u2014");
    const QDateTime local =
        QDateTime::fromMSecsSinceEpoch(qint64(std::llround(time.unixMilliseconds())), clock.timeZone());
    return local.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

QString oneLine(const QString& text, qsizetype width) {
    QString line = text.simplified();
    if (line.size() > width)
        line = line.left(width - 1).trimmed() + QChar(0x2026);
    return line;
}

QString stageText(MemoryStage stage) {
    switch (stage) {
    case MemoryStage::new_:
        return QStringLiteral("nuova");
    case MemoryStage::learning:
        return QStringLiteral("in apprendimento");
    case MemoryStage::review:
        return QStringLiteral("in ripasso");
    case MemoryStage::relearning:
        return QStringLiteral("da riapprendere");
    }
    return {};
}

QString kindText(NoteKind kind) {
    return title(kind);
}

std::optional<ReviewRating> parseRating(const QString& text) {
    const QString key = text.trimmed().toLower();
    for (ReviewRating rating : kAllReviewRatings)
        if (key == QString::number(int(rating)) || key == QLatin1String(ratingKey(rating)))
            return rating;
    return std::nullopt;
}

const char* ratingKey(ReviewRating rating) {
    switch (rating) {
    case ReviewRating::again:
        return "again";
    case ReviewRating::hard:
        return "hard";
    case ReviewRating::good:
        return "good";
    case ReviewRating::easy:
        return "easy";
    }
    return "";
}
