#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

const char kUsage[] = "Uso: quenda-cli COMANDO [argomenti]\n"
                      "\n"
                      "Comandi:\n"
                      "  help        mostra questo aiuto\n";

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return args.isEmpty() ? 2 : 0;
    }
    std::fprintf(stderr, "quenda-cli: comando sconosciuto: %s\n%s", qPrintable(args.first()), kUsage);
    return 2;
}
