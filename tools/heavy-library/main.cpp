// Generates the heavy library and prints what it holds, to check the generator and how long it takes.
// Usage: quenda-heavy-library [seed [image folder]]; with a folder, also writes the images the notes use
// there, named by their identifiers.

#include "heavy-library/HeavyLibrary.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimeZone>

#include <cstdio>
#include <cstdlib>
#include <map>

int main(int argc, char** argv) {
    HeavyLibraryOptions options;
    if (argc > 1)
        options.seed = std::strtoull(argv[1], nullptr, 10);
    QElapsedTimer timer;
    timer.start();
    const LibrarySnapshot library = generateHeavyLibrary(options);
    const qint64 elapsed = timer.elapsed();

    auto text = [](Instant time) {
        return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(time.unixMilliseconds()), QTimeZone::utc())
            .toString(Qt::ISODate)
            .toStdString();
    };
    std::map<int, qsizetype> stages;
    qsizetype suspended = 0;
    for (const Flashcard& card : library.cards) {
        ++stages[static_cast<int>(card.memory.stage)];
        suspended += card.isSuspended ? 1 : 0;
    }
    qsizetype formatted = 0;
    for (const Note& note : library.notes)
        formatted += note.frontDocument ? 1 : 0;
    std::printf("seed %llu generated in %lld ms\n", static_cast<unsigned long long>(options.seed),
                static_cast<long long>(elapsed));
    std::printf("decks %lld, notes %lld (%lld formatted), cards %lld (%lld suspended), reviews %lld\n",
                static_cast<long long>(library.decks.size()), static_cast<long long>(library.notes.size()),
                static_cast<long long>(formatted), static_cast<long long>(library.cards.size()),
                static_cast<long long>(suspended), static_cast<long long>(library.reviews.size()));
    std::printf("cards by stage: new %lld, learning %lld, review %lld, relearning %lld\n",
                static_cast<long long>(stages[0]), static_cast<long long>(stages[1]), static_cast<long long>(stages[2]),
                static_cast<long long>(stages[3]));
    if (argc > 2) {
        const QDir folder(QString::fromLocal8Bit(argv[2]));
        for (qsizetype i = 0; i < options.images; ++i) {
            const QByteArray image = heavyLibraryImage(options, i);
            QFile file(folder.filePath(heavyLibraryImageID(image)));
            if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size()) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
                return 1;
            }
        }
        std::printf("%lld images written\n", static_cast<long long>(options.images));
    }
    if (!library.reviews.isEmpty())
        std::printf("reviews from %s to %s\n", text(library.reviews.first().reviewedAt).c_str(),
                    text(library.reviews.last().reviewedAt).c_str());
    return 0;
}
