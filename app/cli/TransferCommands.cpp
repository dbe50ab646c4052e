#include "app/cli/TransferCommands.h"

#include "app/cli/CliContext.h"
#include "app/cli/CliOutput.h"

#include <QFileInfo>

namespace {

QUrl fileURL(const QString& path) {
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
}

// Reads `path` into the model's pending import and takes it from there.
ImportRequest prepare(CliContext& context, const QString& path) {
    context.act(context.model.prepareImport(fileURL(path)));
    ImportRequest request = *context.model.pendingImport();
    return request;
}

void printSummary(const CliContext& context, const ImportRequest& request, const QString& heading) {
    const LibrarySnapshot& snapshot = request.package.snapshot;
    const bool backup = request.package.kind == PackageKind::backup;
    if (context.json) {
        JsonWriter json = CliContext::jsonWriter();
        json.beginObject();
        json.key("kind");
        json.string(backup ? u"backup" : u"deck");
        json.key("filename");
        json.string(request.filename);
        const std::pair<const char*, qsizetype> counts[] = {{"decks", snapshot.decks.size()},
                                                            {"notes", snapshot.notes.size()},
                                                            {"cards", snapshot.cards.size()},
                                                            {"reviews", snapshot.reviews.size()},
                                                            {"media", request.package.media.size()}};
        for (const auto& [key, count] : counts) {
            json.key(key);
            json.integer(count);
        }
        json.endObject();
        context.print(json);
        return;
    }
    if (!heading.isEmpty())
        context.print(heading);
    context.print(QStringLiteral("%1 «%2»: %3, %4, %5, %6, %7")
                      .arg(backup ? QStringLiteral("Backup completo") : QStringLiteral("Mazzo"), request.filename,
                           countText(snapshot.decks.size(), "mazzo", "mazzi"),
                           countText(snapshot.notes.size(), "nota", "note"),
                           countText(snapshot.cards.size(), "carta", "carte"),
                           countText(snapshot.reviews.size(), "ripasso", "ripassi"),
                           countText(request.package.media.size(), "immagine", "immagini")));
    for (const Deck& deck : snapshot.decks)
        context.print(QStringLiteral("  ") + deck.name);
}

// Runs an export whose save dialog answers with `path`.
void exportTo(CliContext& context, const QString& path, const std::function<QFuture<bool>()>& export_) {
    FixedFileDialogs dialogs(fileURL(path));
    context.model.setFileDialogs(&dialogs);
    try {
        context.act(export_());
    } catch (...) {
        context.model.setFileDialogs(nullptr);
        throw;
    }
    context.model.setFileDialogs(nullptr);
    const QString written = QFileInfo(path).absoluteFilePath();
    if (context.json) {
        JsonWriter json = CliContext::jsonWriter();
        json.beginObject();
        json.key("file");
        json.string(written);
        json.endObject();
        context.print(json);
    } else {
        context.print(context.model.toast().value_or(QStringLiteral("File esportato")) + QStringLiteral(": ") +
                      written);
    }
}

} // namespace

void runInspectCommand(CliContext& context, const QStringList& arguments) {
    const ImportRequest request = prepare(context, CommandArguments(arguments, {}).positional(1)[0]);
    context.model.dismissImport();
    printSummary(context, request, {});
}

void runImportCommand(CliContext& context, const QStringList& arguments) {
    const CommandArguments parsed(arguments, {}, {QStringLiteral("--replace")});
    const ImportRequest request = prepare(context, parsed.positional(1)[0]);
    context.act(context.model.applyImport(request, parsed.flag(QStringLiteral("--replace"))));
    context.flushBackup();
    printSummary(context, request, context.model.toast().value_or(QString()));
}

void runExportBackupCommand(CliContext& context, const QStringList& arguments) {
    const QString path = CommandArguments(arguments, {}).positional(1)[0];
    exportTo(context, path, [&] { return context.model.exportBackup(); });
}

void runExportDeckCommand(CliContext& context, const QStringList& arguments) {
    const QStringList positional = CommandArguments(arguments, {}).positional(2);
    const Deck deck = context.deck(positional[0]);
    exportTo(context, positional[1], [&] { return context.model.exportDeck(deck); });
}

void runExportCSVCommand(CliContext& context, const QStringList& arguments) {
    const QStringList positional = CommandArguments(arguments, {}).positional(2);
    const Deck deck = context.deck(positional[0]);
    exportTo(context, positional[1], [&] { return context.model.exportCSV(deck); });
}

void runImageAddCommand(CliContext& context, const QStringList& arguments) {
    const QString path = CommandArguments(arguments, {}).positional(1)[0];
    FixedFileDialogs dialogs(fileURL(path));
    context.model.setFileDialogs(&dialogs);
    const std::optional<QString> identifier = context.model.chooseImage();
    context.model.setFileDialogs(nullptr);
    if (!identifier) {
        const QString message =
            context.model.errorMessage().value_or(QStringLiteral("Impossibile aggiungere l’immagine."));
        context.model.clearErrorMessage();
        throw Refusal{message};
    }
    if (context.json) {
        JsonWriter json = CliContext::jsonWriter();
        json.beginObject();
        json.key("imageID");
        json.string(*identifier);
        json.endObject();
        context.print(json);
    } else {
        context.print(*identifier);
    }
}
