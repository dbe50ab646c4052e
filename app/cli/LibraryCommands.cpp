#include "app/cli/LibraryCommands.h"

#include "app/cli/CliContext.h"
#include "app/cli/CliOutput.h"
#include "app/services/StudyTexts.h"
#include "core/CardFactory.h"
#include "core/RecordJson.h"
#include "core/StudyScheduler.h"

namespace {

std::optional<Uuid> deckOption(CliContext& context, const CommandArguments& arguments) {
    if (const std::optional<QString> text = arguments.option(QStringLiteral("--deck")))
        return context.deck(*text).id;
    return std::nullopt;
}

} // namespace

void runStatusCommand(CliContext& context, const QStringList& arguments) {
    CommandArguments(arguments, {}).positional(0);
    const AppModel& model = context.model;
    const LibrarySnapshot& library = model.library();
    const qsizetype ready = model.queue(std::nullopt, context.clock.now()).size();
    const qsizetype today = model.reviewsToday().size();
    if (context.json) {
        JsonWriter json = CliContext::jsonWriter();
        json.beginObject();
        json.key("libraryID");
        json.uuid(library.libraryID);
        const std::pair<const char*, qsizetype> counts[] = {
            {"decks", library.decks.size()}, {"notes", library.notes.size()},
            {"cards", library.cards.size()}, {"reviews", library.reviews.size()},
            {"dueCount", model.dueCount()},  {"newCount", model.newCount()},
            {"reviewsToday", today},         {"ready", ready}};
        for (const auto& [key, count] : counts) {
            json.key(key);
            json.integer(count);
        }
        json.endObject();
        context.print(json);
        return;
    }
    context.print(QStringLiteral("Archivio %1").arg(library.libraryID.toString()));
    context.print(QStringLiteral("%1 · %2 · %3 · %4")
                      .arg(countText(library.decks.size(), "mazzo", "mazzi"),
                           countText(library.notes.size(), "nota", "note"),
                           countText(library.cards.size(), "carta", "carte"),
                           countText(library.reviews.size(), "ripasso", "ripassi")));
    context.print(QStringLiteral("Da studiare ora: %1 (in scadenza %2, nuove %3)")
                      .arg(ready)
                      .arg(model.dueCount())
                      .arg(model.newCount()));
    context.print(QStringLiteral("Ripassi di oggi: %1").arg(today));
}

void runDecksCommand(CliContext& context, const QStringList& arguments) {
    CommandArguments(arguments, {}).positional(0);
    const LibrarySnapshot& library = context.model.library();
    if (context.json) {
        printRecords(context, library.decks);
        return;
    }
    if (library.decks.isEmpty())
        context.print(QStringLiteral("Nessun mazzo."));
    for (const Deck& deck : library.decks)
        context.print(deckLine(context, deck));
}

void runNotesCommand(CliContext& context, const QStringList& arguments) {
    const CommandArguments parsed(arguments, {QStringLiteral("--deck"), QStringLiteral("--search")});
    parsed.positional(0);
    const std::optional<Uuid> deckID = deckOption(context, parsed);
    context.model.setSearch(parsed.option(QStringLiteral("--search")).value_or(QString()));
    const QList<Note> notes = context.model.notes(deckID);
    if (context.json) {
        printRecords(context, notes);
        return;
    }
    if (notes.isEmpty())
        context.print(QStringLiteral("Nessuna nota."));
    for (const Note& note : notes)
        context.print(noteLine(note));
}

void runQueueCommand(CliContext& context, const QStringList& arguments) {
    const CommandArguments parsed(arguments, {QStringLiteral("--deck")});
    parsed.positional(0);
    const QList<Flashcard> queue = context.model.queue(deckOption(context, parsed), context.clock.now());
    if (context.json) {
        printRecords(context, queue);
        return;
    }
    if (queue.isEmpty())
        context.print(QStringLiteral("Niente da studiare ora."));
    for (const Flashcard& card : queue)
        context.print(cardLine(context, card));
}

void runShowCommand(CliContext& context, const QStringList& arguments) {
    const QStringList positional = CommandArguments(arguments, {}).positional(1);
    const Flashcard& card = context.card(positional[0]);
    const CardPresentation presentation = CardFactory::presentation(context.noteOf(card), card);
    if (context.json) {
        JsonWriter json = CliContext::jsonWriter();
        json.beginObject();
        json.key("question");
        json.string(presentation.question);
        json.key("answer");
        json.string(presentation.answer);
        if (presentation.hint) {
            json.key("hint");
            json.string(*presentation.hint);
        }
        json.endObject();
        context.print(json);
        return;
    }
    printPresentation(context, presentation, true);
}

void runPreviewCommand(CliContext& context, const QStringList& arguments) {
    const QStringList positional = CommandArguments(arguments, {}).positional(1);
    const Flashcard& card = context.card(positional[0]);
    const Instant now = context.clock.now();
    std::map<ReviewRating, MemoryState> preview;
    try {
        preview = StudyScheduler(context.model.library().preferences.desiredRetention).preview(card, now);
    } catch (...) {
        throw Refusal{messageOf(std::current_exception())};
    }
    if (context.json) {
        JsonWriter json = CliContext::jsonWriter();
        json.beginObject();
        for (const auto& [rating, state] : preview) {
            json.key(ratingKey(rating));
            json.beginObject();
            json.key("due");
            RecordJson::write(json, state.due, JsonForm::package);
            json.key("interval");
            json.string(StudyTexts::intervalText(state.due, now));
            json.endObject();
        }
        json.endObject();
        context.print(json);
        return;
    }
    for (const auto& [rating, state] : preview)
        context.print(QStringLiteral("%1 %2 %3 (%4)")
                          .arg(int(rating))
                          .arg(title(rating).leftJustified(13),
                               StudyTexts::intervalText(state.due, now).leftJustified(14),
                               context.dateText(state.due)));
}
