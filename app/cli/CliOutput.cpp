#include "app/cli/CliOutput.h"

#include "app/services/StudyTexts.h"
#include "core/CardFactory.h"

QString countText(qsizetype count, const char* singular, const char* plural) {
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromUtf8(count == 1 ? singular : plural));
}

QString deckLine(const CliContext& context, const Deck& deck) {
    qsizetype notes = 0;
    qsizetype cards = 0;
    for (const Note& note : context.model.library().notes)
        notes += note.deckID == deck.id;
    for (const Flashcard& card : context.model.library().cards)
        cards += card.deckID == deck.id;
    QString line = deck.id.toString() + QStringLiteral("  ") + deck.name;
    if (!deck.subtitle.isEmpty())
        line += QStringLiteral(" — ") + oneLine(deck.subtitle, 50);
    return line + QStringLiteral(" (%1, %2)").arg(countText(notes, "nota", "note"), countText(cards, "carta", "carte"));
}

QString noteLine(const Note& note) {
    QString line = QStringLiteral("%1  %2  %3").arg(note.id.toString(), kindText(note.kind), oneLine(note.front, 50));
    if (!note.back.isEmpty())
        line += QStringLiteral(" → ") + oneLine(note.back, 40);
    for (const QString& tag : note.tags)
        line += QStringLiteral(" #") + tag;
    return line;
}

QString cardLine(const CliContext& context, const Flashcard& card) {
    QString state = card.memory.stage == MemoryStage::new_
                        ? stageText(card.memory.stage)
                        : stageText(card.memory.stage) + QStringLiteral(", scade ") + context.dateText(card.memory.due);
    if (card.isSuspended)
        state += QStringLiteral(", sospesa");
    QString question;
    for (const Note& note : context.model.library().notes)
        if (note.id == card.noteID) {
            question = CardFactory::presentation(note, card).question;
            break;
        }
    return QStringLiteral("%1  %2  · %3").arg(card.id.toString(), oneLine(question, 60), state);
}

QString eventLine(const CliContext& context, const ReviewEvent& event) {
    QString line = QStringLiteral("%1 · %2 · prossimo ripasso %3 (%4)")
                       .arg(title(event.rating), context.dateText(event.reviewedAt), context.dateText(event.after.due),
                            StudyTexts::intervalText(event.after.due, event.reviewedAt));
    if (event.undoneAt)
        line += QStringLiteral(" · annullato");
    return line;
}

namespace {

void printSection(const CliContext& context, const QString& heading, const QString& text) {
    context.print(heading);
    for (const QString& line : text.split(u'\n'))
        context.print(QStringLiteral("  ") + line);
}

} // namespace

void printPresentation(const CliContext& context, const CardPresentation& presentation, bool withAnswer) {
    printSection(context, QStringLiteral("Domanda"), presentation.question);
    if (presentation.hint)
        context.print(QStringLiteral("  Suggerimento: ") + *presentation.hint);
    if (withAnswer)
        printSection(context, QStringLiteral("Risposta"), presentation.answer);
}
