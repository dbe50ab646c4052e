#pragma once

#include "app/cli/CliContext.h"
#include "core/RecordJson.h"

// How quenda-cli shows records: their package JSON form with --json, compact Italian lines otherwise.

/// Writes `records` as one JSON array of their package form.
template <JsonRecord T> void printRecords(const CliContext& context, const QList<T>& records) {
    JsonWriter json = CliContext::jsonWriter();
    json.beginArray();
    for (const T& record : records)
        RecordJson::write(json, record, JsonForm::package);
    json.endArray();
    context.print(json);
}

/// Writes one record as a JSON document of its package form.
template <JsonRecord T> void printRecord(const CliContext& context, const T& record) {
    JsonWriter json = CliContext::jsonWriter();
    RecordJson::write(json, record, JsonForm::package);
    context.print(json);
}

/// "1 mazzo", "5 mazzi".
QString countText(qsizetype count, const char* singular, const char* plural);
QString deckLine(const CliContext& context, const Deck& deck);
QString noteLine(const Note& note);
/// The card's identifier, stage, due time and question on one line.
QString cardLine(const CliContext& context, const Flashcard& card);
/// A review: rating, when, and when the card comes back.
QString eventLine(const CliContext& context, const ReviewEvent& event);
/// The question, the hint, and with `withAnswer` the answer, each under its heading.
void printPresentation(const CliContext& context, const CardPresentation& presentation, bool withAnswer);
