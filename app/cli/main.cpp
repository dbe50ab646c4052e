#include "app/cli/CliCommand.h"
#include "app/cli/CliContext.h"
#include "app/cli/EditCommands.h"
#include "app/cli/LibraryCommands.h"
#include "app/cli/ReviewCommands.h"
#include "app/cli/ScheduleCommand.h"
#include "app/cli/TransferCommands.h"

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>
#include <iostream>
#include <string>

namespace {

// Every command, in the order `--help` lists them.
const CliCommand kCommands[] = {
    {"status", "conteggi dell’archivio e carte da ripassare ora", nullptr, "status", runStatusCommand},
    {"decks", "elenca i mazzi", nullptr, "decks", runDecksCommand},
    {"notes", "elenca le note, le più recenti prima", nullptr, "notes [--deck ID] [--search TESTO]", runNotesCommand},
    {"queue", "le carte da studiare ora, nell’ordine di studio", nullptr, "queue [--deck ID]", runQueueCommand},
    {"show", "domanda e risposta di una carta", nullptr, "show CARTA", runShowCommand},
    {"preview", "quando tornerebbe la carta con ciascuna valutazione", nullptr, "preview CARTA", runPreviewCommand},
    {"review", "registra un ripasso (1-4 o again/hard/good/easy)", nullptr, "review CARTA VALUTAZIONE",
     runReviewCommand},
    {"undo", "annulla l’ultimo ripasso", nullptr, "undo", runUndoCommand},
    {"study", "ripasso interattivo nel terminale", nullptr, "study [--deck ID]", runStudyCommand},
    {"deck-save", "crea un mazzo o ne modifica uno esistente", nullptr,
     "deck-save [--id ID] --name NOME [--subtitle TESTO] [--symbol SIMBOLO] [--color RRGGBB]", runDeckSaveCommand},
    {"note-save", "crea una nota o ne modifica una esistente", nullptr,
     "note-save --deck ID --kind basic|reversed|cloze --front TESTO [--back TESTO] [--tags a,b] [--id ID]",
     runNoteSaveCommand},
    {"delete-deck", "elimina un mazzo con le sue note", nullptr, "delete-deck MAZZO", runDeleteDeckCommand},
    {"delete-note", "elimina una nota con le sue carte", nullptr, "delete-note NOTA", runDeleteNoteCommand},
    {"suspend", "sospende le carte di una nota, o le riprende", nullptr, "suspend NOTA", runSuspendCommand},
    {"prefs", "mostra o cambia le impostazioni di studio", nullptr, "prefs [--daily-new N] [--retention R]",
     runPrefsCommand},
    {"add-example", "aggiunge il mazzo di esempio", nullptr, "add-example", runAddExampleCommand},
    {"inspect", "legge un file da importare senza importarlo", nullptr, "inspect FILE", runInspectCommand},
    {"import", "importa un pacchetto o un file CSV/TSV", nullptr, "import FILE [--replace]", runImportCommand},
    {"export-backup", "esporta un backup completo", nullptr, "export-backup FILE", runExportBackupCommand},
    {"export-deck", "esporta un mazzo come pacchetto", nullptr, "export-deck MAZZO FILE", runExportDeckCommand},
    {"export-csv", "esporta le note di un mazzo come CSV", nullptr, "export-csv MAZZO FILE", runExportCSVCommand},
    {"image-add", "aggiunge un’immagine all’archivio e ne stampa l’identificativo", nullptr, "image-add FILE",
     runImageAddCommand},
    {"schedule", "calcola il prossimo stato di ripasso di ogni carta letta da stdin (righe JSON)", runScheduleCommand},
};

std::string usage() {
    std::string text = "Uso: quenda-cli [opzioni globali] COMANDO [argomenti]\n"
                       "\n"
                       "Opzioni globali:\n"
                       "  --data-dir DIR   cartella dei dati (altrimenti QUENDA_DATA_DIR)\n"
                       "  --now ISTANTE    l’ora attuale, in ISO 8601 (es. 2026-12-11T09:00:00Z)\n"
                       "  --tz ZONA        il fuso orario dell’utente (es. Europe/Rome)\n"
                       "  --json           stampa un documento JSON\n"
                       "\n"
                       "Comandi:\n";
    auto line = [&text](const char* name, const char* summary) {
        std::string padded = std::string("  ") + name;
        padded.resize(std::max<std::size_t>(padded.size() + 2, 17), ' ');
        text += padded + summary + "\n";
    };
    for (const CliCommand& command : kCommands)
        line(command.name, command.summary);
    line("help", "mostra questo aiuto");
    return text;
}

struct GlobalOptions {
    std::optional<QString> dataDir;
    std::optional<QString> now;
    std::optional<QString> tz;
    bool json = false;
};

// Takes the global options out of `arguments`, wherever they stand (before `--`).
GlobalOptions takeGlobalOptions(QStringList& arguments) {
    GlobalOptions options;
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == u"--") {
            rest += arguments.mid(i);
            break;
        }
        std::optional<QString>* valued = argument == u"--data-dir" ? &options.dataDir
                                         : argument == u"--now"    ? &options.now
                                         : argument == u"--tz"     ? &options.tz
                                                                   : nullptr;
        if (valued) {
            if (i + 1 >= arguments.size())
                throw UsageError{QStringLiteral("manca il valore di %1").arg(argument)};
            *valued = arguments[++i];
        } else if (argument == u"--json") {
            options.json = true;
        } else {
            rest.append(argument);
        }
    }
    arguments = rest;
    return options;
}

QTimeZone parseZone(const std::optional<QString>& text) {
    if (!text)
        return QTimeZone::systemTimeZone();
    const QTimeZone zone(text->toUtf8());
    if (!zone.isValid())
        throw UsageError{QStringLiteral("fuso orario sconosciuto: %1").arg(*text)};
    return zone;
}

std::optional<Instant> parseNow(const std::optional<QString>& text, const QTimeZone& zone) {
    if (!text)
        return std::nullopt;
    QDateTime time = QDateTime::fromString(*text, Qt::ISODateWithMs);
    if (!time.isValid())
        throw UsageError{QStringLiteral("istante non valido: %1 (es. 2026-12-11T09:00:00Z)").arg(*text)};
    if (time.timeSpec() == Qt::LocalTime) // no offset written: a time of the user's zone
        time = QDateTime(time.date(), time.time(), zone);
    return Instant::fromUnixMilliseconds(double(time.toMSecsSinceEpoch()));
}

int usageError(const QString& message, const char* synopsis) {
    std::cerr << "quenda-cli: " << message.toStdString() << "\n";
    if (synopsis)
        std::cerr << "Uso: quenda-cli [opzioni globali] " << synopsis << "\n";
    else
        std::cerr << usage();
    return 2;
}

int runInLibrary(const CliCommand& command, const GlobalOptions& options, const QStringList& arguments) {
    try {
        const QTimeZone zone = parseZone(options.tz);
        CliClock clock(parseNow(options.now, zone), zone);
        AppModel model(options.dataDir.value_or(AppModel::defaultRootDirectory()), clock);
        CliContext context(model, clock, options.json, std::cin, std::cout, std::cerr);
        CliContext::wait(model.start());
        if (model.startupError())
            throw Refusal{*model.startupError()};
        command.runInLibrary(context, arguments);
        std::cout.flush();
        return 0;
    } catch (const UsageError& error) {
        std::cout.flush();
        return usageError(error.message, command.synopsis);
    } catch (const Refusal& refusal) {
        std::cout.flush();
        std::cerr << refusal.message.toStdString() << "\n";
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::ios::sync_with_stdio(false);
    QStringList args = app.arguments().mid(1);
    GlobalOptions options;
    try {
        options = takeGlobalOptions(args);
    } catch (const UsageError& error) {
        return usageError(error.message, nullptr);
    }
    if (args.isEmpty()) {
        std::cerr << usage();
        return 2;
    }
    const QString name = args.first();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        std::cout << usage();
        return 0;
    }
    for (const CliCommand& command : kCommands) {
        if (name != QLatin1String(command.name))
            continue;
        if (command.run)
            return command.run(args.mid(1), std::cin, std::cout, std::cerr);
        return runInLibrary(command, options, args.mid(1));
    }
    std::cerr << "quenda-cli: comando sconosciuto: " << name.toStdString() << "\n" << usage();
    return 2;
}
