// Package write and read against `zip -r` and `unzip -t` on the same content (200 images of 1 MiB of
// incompressible bytes and a library.json of about 30 MB), and the CSV reader on 50,000 rows.
//
// Run: ./build/bench/bench_exchange --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
// and compare the medians of Package* with their Zip*/Unzip* peers. On a busy machine compare CPU
// times: the CPU column for our code, the commandCPU_s counter for the tools (they run as children).

#include "core/CardFactory.h"
#include "core/MediaIdentifier.h"
#include "core/RecordJson.h"
#include "exchange/CSVExchange.h"
#include "exchange/QuendaPackage.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>

namespace {

constexpr int kImages = 200;
constexpr qsizetype kImageBytes = 1 << 20;
constexpr int kNotes = 20'000;
constexpr int kReviewsPerCard = 1;

Instant at(double unixSeconds) {
    return Instant::fromUnixMilliseconds(unixSeconds * 1000);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        std::abort();
}

/// The shared content, built once: the media folder, the snapshot, a written package and the same
/// content as plain files for the command-line tools.
struct Workload {
    QTemporaryDir dir;
    QString media = dir.filePath("Media");
    QString package = dir.filePath("library.quenda");
    QString plain = dir.filePath("plain");
    LibrarySnapshot snapshot;
    qsizetype libraryBytes = 0;

    Workload() {
        QDir().mkpath(media);
        QDir().mkpath(plain + "/media");
        QRandomGenerator random(42);
        QStringList images;
        for (int i = 0; i < kImages; ++i) {
            QByteArray bytes(kImageBytes, Qt::Uninitialized);
            random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
            const QString identifier = MediaIdentifier::digest(bytes) + ".jpg";
            writeFile(QDir(media).filePath(identifier), bytes);
            writeFile(plain + "/media/" + identifier, bytes);
            images.append(identifier);
        }

        const MemoryState reviewed{.due = at(1'700'500'000), .stability = 12.5, .difficulty = 4.75,
                                   .elapsedDays = 3, .scheduledDays = 12, .reps = 4, .lapses = 1,
                                   .stage = MemoryStage::review, .lastReview = at(1'700'000'000)};
        snapshot.libraryID = Uuid::createRandom();
        snapshot.decks = {Deck{Uuid::createRandom(), "Vocabolario", "", "book", "4F5FE7", at(1.6e9), at(1.6e9)}};
        for (int i = 0; i < kNotes; ++i) {
            Note note{.id = Uuid::createRandom(), .deckID = snapshot.decks[0].id, .kind = NoteKind::basic,
                      .front = QStringLiteral("Domanda numero %1: come si dice questa parola in inglese?").arg(i),
                      .back = QStringLiteral("Risposta numero %1, con un esempio d’uso nella frase. %2")
                                  .arg(i)
                                  .arg(QStringLiteral("Spiegazione più lunga della risposta. ").repeated(8)),
                      .tags = {"lessico", QStringLiteral("lezione-%1").arg(i % 40)}};
            if (i < kImages)
                note.imageID = images[i];
            note.createdAt = note.updatedAt = at(1.65e9 + i);
            for (Flashcard card : CardFactory::cards(note, {}, at(1.65e9))) {
                card.memory = reviewed;
                for (int r = 0; r < kReviewsPerCard; ++r)
                    snapshot.reviews.append(ReviewEvent{Uuid::createRandom(), card.id, at(1.7e9 - r * 86400.0),
                                                        ReviewRating::good, reviewed, reviewed, "fsrs-6-default-v1",
                                                        0.9, std::nullopt});
                snapshot.cards.append(card);
            }
            snapshot.notes.append(note);
        }
        const QByteArray library = RecordJson::encode(snapshot, JsonForm::package);
        libraryBytes = library.size();
        writeFile(plain + "/library.json", library);
        writeFile(plain + "/manifest.json", "{}");
        QuendaPackage::write(snapshot, PackageKind::backup, media, QUrl::fromLocalFile(package));
        run(QStringLiteral("cd '%1' && zip -q -r ../plain.zip manifest.json library.json media").arg(plain));
    }

    /// Runs a shell command and returns the CPU seconds its processes used.
    static double run(const QString& command) {
        const double before = childCPUSeconds();
        if (std::system(command.toLocal8Bit().constData()) != 0)
            std::abort();
        return childCPUSeconds() - before;
    }

    static double childCPUSeconds() {
        struct rusage usage;
        getrusage(RUSAGE_CHILDREN, &usage);
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
               + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
};

Workload& workload() {
    static Workload instance;
    return instance;
}

void setCounters(benchmark::State& state) {
    const double bytes = double(workload().libraryBytes) + double(kImages) * double(kImageBytes);
    state.counters["MB"] = bytes / 1e6;
    state.counters["libraryMB"] = double(workload().libraryBytes) / 1e6;
    state.SetBytesProcessed(std::int64_t(bytes) * state.iterations());
}

void PackageWrite(benchmark::State& state) {
    Workload& w = workload();
    const QUrl to = QUrl::fromLocalFile(w.dir.filePath("written.quenda"));
    for (auto _ : state)
        QuendaPackage::write(w.snapshot, PackageKind::backup, w.media, to);
    setCounters(state);
}

void ZipCommand(benchmark::State& state) {
    Workload& w = workload();
    double cpu = 0;
    for (auto _ : state) {
        QFile::remove(w.dir.filePath("zipped.zip"));
        cpu += Workload::run(
            QStringLiteral("cd '%1' && zip -q -r ../zipped.zip manifest.json library.json media").arg(w.plain));
    }
    setCounters(state);
    state.counters["commandCPU_s"] = cpu / double(state.iterations());
}

void PackageRead(benchmark::State& state) {
    Workload& w = workload();
    const QUrl from = QUrl::fromLocalFile(w.package);
    for (auto _ : state)
        benchmark::DoNotOptimize(QuendaPackage::read(from));
    setCounters(state);
}

void UnzipTestCommand(benchmark::State& state) {
    Workload& w = workload();
    double cpu = 0;
    for (auto _ : state)
        cpu += Workload::run(QStringLiteral("unzip -tqq '%1'").arg(w.dir.filePath("plain.zip")));
    setCounters(state);
    state.counters["commandCPU_s"] = cpu / double(state.iterations());
}

// The floor under PackageRead and PackageWrite that the tools do not pay: every image is hashed to prove
// that its content matches its name.
void Sha256OfImages(benchmark::State& state) {
    Workload& w = workload();
    QList<QByteArray> images;
    for (const QString& name : QDir(w.media).entryList(QDir::Files)) {
        QFile file(QDir(w.media).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            std::abort();
        images.append(file.readAll());
    }
    for (auto _ : state) {
        for (const QByteArray& image : images)
            benchmark::DoNotOptimize(MediaIdentifier::digest(image));
    }
    state.SetBytesProcessed(std::int64_t(images.size()) * kImageBytes * state.iterations());
}

void CSVRead50000Rows(benchmark::State& state) {
    QString text = QStringLiteral("front,back,tags,type\n");
    for (int i = 0; i < 50'000; ++i)
        text += QStringLiteral("\"Domanda %1, con virgola\",Risposta %1,lessico;lezione-%2,%3\n")
                    .arg(i)
                    .arg(i % 40)
                    .arg(i % 10 == 0 ? "reversed" : "basic");
    const Deck deck{Uuid::createRandom(), "CSV", "", "book", "4F5FE7", {}, {}};
    for (auto _ : state)
        benchmark::DoNotOptimize(CSVExchange::read(text, deck));
    state.counters["rows"] = 50'000;
}

} // namespace

BENCHMARK(PackageWrite)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(ZipCommand)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(PackageRead)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(UnzipTestCommand)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(Sha256OfImages)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(CSVRead50000Rows)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

BENCHMARK_MAIN();
