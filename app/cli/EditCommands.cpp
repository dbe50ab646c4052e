#include "app/cli/EditCommands.h"

#include "app/cli/CliContext.h"
#include "app/cli/CliOutput.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSet>

namespace {

template <class T> std::optional<T> findByID(const QList<T>& records, const Uuid& id) {
    for (const T& record : records)
        if (record.id == id)
            return record;
    return std::nullopt;
}

QString colorOption(const QString& text) {
    QString color = text.trimmed().toUpper();
    if (color.startsWith(u'#'))
        color.remove(0, 1);
    static const QRegularExpression sixHexDigits(QStringLiteral("^[0-9A-F]{6}$"));
    if (!sixHexDigits.match(color).hasMatch())
        throw UsageError{QStringLiteral("colore non valido: %1 (sei cifre esadecimali, es. 4F5FE7)").arg(text)};
    return color;
}

QStringList tagsOption(const QString& text) {
    QStringList tags;
    for (const QString& tag : text.split(u','))
        if (!tag.trimmed().isEmpty())
            tags.append(tag.trimmed());
    return tags;
}

void printDeckSaved(const CliContext& context, const Deck& deck, const QString& what) {
    if (context.json)
        printRecord(context, deck);
    else
        context.print(what + QStringLiteral(": ") + deckLine(context, deck));
}

} // namespace

void runDeckSaveCommand(CliContext& context, const QStringList& arguments) {
    const CommandArguments parsed(arguments,
                                  {QStringLiteral("--id"), QStringLiteral("--name"), QStringLiteral("--subtitle"),
                                   QStringLiteral("--symbol"), QStringLiteral("--color")});
    parsed.positional(0);
    const Instant now = context.clock.now();
    const std::optional<QString> idText = parsed.option(QStringLiteral("--id"));
    const Uuid id = idText ? CliContext::parseID(*idText) : Uuid::createRandom();
    std::optional<Deck> deck = findByID(context.model.library().decks, id);
    if (!deck) {
        if (!parsed.option(QStringLiteral("--name")))
            throw UsageError{QStringLiteral("un nuovo mazzo richiede --name")};
        deck = Deck{id, {}, {}, QStringLiteral("square.stack.3d.up"), QStringLiteral("4F5FE7"), now, now};
    }
    deck->name = parsed.option(QStringLiteral("--name")).value_or(deck->name);
    deck->subtitle = parsed.option(QStringLiteral("--subtitle")).value_or(deck->subtitle);
    deck->symbol = parsed.option(QStringLiteral("--symbol")).value_or(deck->symbol);
    if (const std::optional<QString> color = parsed.option(QStringLiteral("--color")))
        deck->colorHex = colorOption(*color);
    deck->updatedAt = now;
    context.act(context.model.saveDeck(*deck));
    context.flushBackup();
    printDeckSaved(context, findByID(context.model.library().decks, id).value_or(*deck),
                   QStringLiteral("Mazzo salvato"));
}

void runNoteSaveCommand(CliContext& context, const QStringList& arguments) {
    const CommandArguments parsed(arguments,
                                  {QStringLiteral("--id"), QStringLiteral("--deck"), QStringLiteral("--kind"),
                                   QStringLiteral("--front"), QStringLiteral("--back"), QStringLiteral("--tags")});
    parsed.positional(0);
    const Instant now = context.clock.now();
    const std::optional<QString> idText = parsed.option(QStringLiteral("--id"));
    const Uuid id = idText ? CliContext::parseID(*idText) : Uuid::createRandom();
    std::optional<Note> note = findByID(context.model.library().notes, id);
    if (!note) {
        for (const char* required : {"--deck", "--kind", "--front"})
            if (!parsed.option(QLatin1String(required)))
                throw UsageError{QStringLiteral("una nuova nota richiede %1").arg(QLatin1String(required))};
        note = Note{.id = id, .createdAt = now};
    }
    if (const std::optional<QString> deck = parsed.option(QStringLiteral("--deck")))
        note->deckID = context.deck(*deck).id;
    if (const std::optional<QString> kindText = parsed.option(QStringLiteral("--kind"))) {
        const std::optional<NoteKind> kind = noteKindFromRawValue(*kindText);
        if (!kind)
            throw UsageError{QStringLiteral("tipo di nota non valido: %1 (basic, reversed o cloze)").arg(*kindText)};
        note->kind = *kind;
    }
    note->front = parsed.option(QStringLiteral("--front")).value_or(note->front);
    note->back = parsed.option(QStringLiteral("--back")).value_or(note->back);
    if (const std::optional<QString> tags = parsed.option(QStringLiteral("--tags")))
        note->tags = tagsOption(*tags);
    // Formatting written in the application stays only while its text is unchanged.
    if (note->frontDocument && note->frontDocument->sourceText() != note->front)
        note->frontDocument.reset();
    if (note->backDocument && note->backDocument->sourceText() != note->back)
        note->backDocument.reset();
    note->updatedAt = now;
    context.act(context.model.saveNote(*note));
    context.flushBackup();
    const Note saved = findByID(context.model.library().notes, id).value_or(*note);
    if (context.json)
        printRecord(context, saved);
    else
        context.print(QStringLiteral("Nota salvata: ") + noteLine(saved));
}

void runDeleteDeckCommand(CliContext& context, const QStringList& arguments) {
    const Deck deck = context.deck(CommandArguments(arguments, {}).positional(1)[0]);
    const QString line = deckLine(context, deck);
    context.act(context.model.deleteDeck(deck));
    context.flushBackup();
    if (context.json)
        printRecord(context, deck);
    else
        context.print(QStringLiteral("Mazzo eliminato: ") + line);
}

void runDeleteNoteCommand(CliContext& context, const QStringList& arguments) {
    const Note note = context.note(CommandArguments(arguments, {}).positional(1)[0]);
    context.act(context.model.deleteNote(note));
    context.flushBackup();
    if (context.json)
        printRecord(context, note);
    else
        context.print(QStringLiteral("Nota eliminata: ") + noteLine(note));
}

void runSuspendCommand(CliContext& context, const QStringList& arguments) {
    const Note note = context.note(CommandArguments(arguments, {}).positional(1)[0]);
    context.act(context.model.toggleSuspended(note));
    context.flushBackup();
    qsizetype cards = 0;
    bool suspended = false;
    for (const Flashcard& card : context.model.library().cards)
        if (card.noteID == note.id) {
            ++cards;
            suspended = card.isSuspended;
        }
    if (context.json) {
        JsonWriter json = CliContext::jsonWriter();
        json.beginObject();
        json.key("noteID");
        json.uuid(note.id);
        json.key("suspended");
        json.boolean(suspended);
        json.key("cards");
        json.integer(cards);
        json.endObject();
        context.print(json);
    } else {
        context.print(QStringLiteral("%1: %2").arg(suspended ? QStringLiteral("Sospese") : QStringLiteral("Riprese"),
                                                   countText(cards, "carta", "carte")));
    }
}

void runPrefsCommand(CliContext& context, const QStringList& arguments) {
    const CommandArguments parsed(arguments, {QStringLiteral("--daily-new"), QStringLiteral("--retention")});
    parsed.positional(0);
    StudyPreferences preferences = context.model.library().preferences;
    const std::optional<QString> dailyNew = parsed.option(QStringLiteral("--daily-new"));
    const std::optional<QString> retention = parsed.option(QStringLiteral("--retention"));
    bool ok = true;
    if (dailyNew)
        preferences.dailyNewLimit = dailyNew->toLongLong(&ok);
    if (!ok)
        throw UsageError{QStringLiteral("--daily-new vuole un numero intero: %1").arg(*dailyNew)};
    if (retention)
        preferences.desiredRetention = retention->toDouble(&ok);
    if (!ok)
        throw UsageError{QStringLiteral("--retention vuole un numero, es. 0.9: %1").arg(*retention)};
    if (dailyNew || retention) {
        context.act(context.model.savePreferences(preferences));
        context.flushBackup();
    }
    const StudyPreferences& saved = context.model.library().preferences;
    if (context.json) {
        printRecord(context, saved);
        return;
    }
    context.print(QStringLiteral("Nuove carte al giorno: %1").arg(saved.dailyNewLimit));
    context.print(QStringLiteral("Obiettivo di ricordo: %1%")
                      .arg(QLocale(QLocale::Italian).toString(saved.desiredRetention * 100, 'g', 4)));
}

void runAddExampleCommand(CliContext& context, const QStringList& arguments) {
    CommandArguments(arguments, {}).positional(0);
    QSet<Uuid> earlier;
    for (const Deck& deck : context.model.library().decks)
        earlier.insert(deck.id);
    context.act(context.model.addExampleDeck());
    context.flushBackup();
    for (const Deck& deck : context.model.library().decks)
        if (!earlier.contains(deck.id))
            printDeckSaved(context, deck, QStringLiteral("Mazzo aggiunto"));
}
