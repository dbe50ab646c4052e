// The application model on the heavy library: `start` (open, migration check, full load) and one rating
// end to end (schedule, recordReview, refresh of the snapshot, next queue), as the review screen does it.
//
// The library file is written once per run into a temporary folder; the page cache is warm.

#include "app/services/AppModel.h"
#include "heavy-library/HeavyLibrary.h"
#include "persistence/SQLiteLibraryRepository.h"
#include "tests/support/TestClock.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

namespace {

template <typename T>
QFuture<T> await(QFuture<T> future) {
    while (!future.isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return future;
}

struct HeavyFolder {
    QTemporaryDir root;
    Instant lastReview;

    HeavyFolder() {
        const LibrarySnapshot library = generateHeavyLibrary();
        lastReview = library.reviews.last().reviewedAt;
        SQLiteLibraryRepository repository(root.filePath(QStringLiteral("library.sqlite")));
        repository.importLibrary(library, true).waitForFinished();
    }
};

HeavyFolder& heavyFolder() {
    static HeavyFolder folder;
    return folder;
}

void BM_AppModelStart(benchmark::State& state) {
    HeavyFolder& folder = heavyFolder();
    for (auto _ : state) {
        TestClock clock(folder.lastReview.addingSeconds(60));
        AppModel model(folder.root.path(), clock);
        await(model.start());
        if (model.startupError())
            state.SkipWithError(model.startupError()->toUtf8().constData());
        benchmark::DoNotOptimize(model.library().reviews.size());
    }
}
BENCHMARK(BM_AppModelStart)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);

void BM_RateOneCardEndToEnd(benchmark::State& state) {
    HeavyFolder& folder = heavyFolder();
    TestClock clock(folder.lastReview.addingSeconds(60));
    AppModel model(folder.root.path(), clock);
    await(model.start());
    for (auto _ : state) {
        const QList<Flashcard> queue = model.queue();
        if (queue.isEmpty()) {
            state.SkipWithError("the queue ran dry");
            break;
        }
        if (!await(model.review(queue.first(), ReviewRating::good)).result())
            state.SkipWithError("the review was refused");
        benchmark::DoNotOptimize(model.queue().size());
        clock.advance(1);
    }
}
BENCHMARK(BM_RateOneCardEndToEnd)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
