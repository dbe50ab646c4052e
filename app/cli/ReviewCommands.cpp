#include "app/cli/ReviewCommands.h"

#include "app/cli/CliContext.h"
#include "app/cli/CliOutput.h"

void runReviewCommand(CliContext& context, const QStringList& arguments) {
    const QStringList positional = CommandArguments(arguments, {}).positional(2);
    const std::optional<ReviewRating> rating = parseRating(positional[1]);
    if (!rating)
        throw UsageError{
            QStringLiteral("valutazione non valida: %1 (1-4 o again, hard, good, easy)").arg(positional[1])};
    const Flashcard card = context.card(positional[0]);
    const ReviewEvent event = context.review(card, *rating);
    context.flushBackup();
    if (context.json)
        printRecord(context, event);
    else
        context.print(eventLine(context, event));
}

void runUndoCommand(CliContext& context, const QStringList& arguments) {
    CommandArguments(arguments, {}).positional(0);
    std::optional<ReviewEvent> undone = CliContext::wait(context.model.undoReview()).result();
    if (const std::optional<QString> message = context.model.errorMessage()) {
        context.model.clearErrorMessage();
        throw Refusal{*message};
    }
    if (!undone) {
        context.print(context.json ? QStringLiteral("null") : QStringLiteral("Niente da annullare."));
        return;
    }
    context.flushBackup();
    // The stored event carries the time it was undone.
    for (const ReviewEvent& event : context.model.library().reviews)
        if (event.id == undone->id)
            undone = event;
    if (context.json)
        printRecord(context, *undone);
    else
        context.print(QStringLiteral("Annullato: ") + eventLine(context, *undone));
}
