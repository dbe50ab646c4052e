#include "app/cli/CliCommand.h"
#include "app/cli/ScheduleCommand.h"

#include <QCoreApplication>

#include <algorithm>
#include <iostream>
#include <string>

namespace {

// Every command, in the order `--help` lists them.
const CliCommand kCommands[] = {
    {"schedule", "calcola il prossimo stato di ripasso di ogni carta letta da stdin (righe JSON)",
     runScheduleCommand},
};

std::string usage() {
    std::string text = "Uso: quenda-cli COMANDO [argomenti]\n"
                       "\n"
                       "Comandi:\n";
    auto line = [&text](const char* name, const char* summary) {
        std::string padded = std::string("  ") + name;
        padded.resize(std::max<std::size_t>(padded.size() + 2, 14), ' ');
        text += padded + summary + "\n";
    };
    for (const CliCommand& command : kCommands)
        line(command.name, command.summary);
    line("help", "mostra questo aiuto");
    return text;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::ios::sync_with_stdio(false);
    const QStringList args = app.arguments().mid(1);
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
        if (name == QLatin1String(command.name))
            return command.run(args.mid(1), std::cin, std::cout, std::cerr);
    }
    std::cerr << "quenda-cli: comando sconosciuto: " << name.toStdString() << "\n" << usage();
    return 2;
}
