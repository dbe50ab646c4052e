// Formula check plus layout, per formula of the public corpus: what the composer pays on every keystroke
// before drawing. Run with --benchmark_filter=Formula.
#include "app/services/FormulaRenderer.h"
#include "app/services/MathTypesetter.h"

#include <QFile>
#include <QTextStream>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <vector>

namespace {

std::vector<QString> corpus() {
    static const std::vector<QString> sources = [] {
        std::vector<QString> result;
        auto path = std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" / "fixtures" / "formulas.txt";
        QFile file(QString::fromStdString(path.string()));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return result;
        QTextStream in(&file);
        in.setEncoding(QStringConverter::Utf8);
        while (!in.atEnd()) {
            QString line = in.readLine();
            if (line.startsWith(QLatin1String("OK\t")))
                result.push_back(line.mid(3));
        }
        return result;
    }();
    return sources;
}

// One benchmark per formula, numbered by its position among the corpus's valid formulas.
void FormulaCheckAndLayout(benchmark::State& state) {
    const QString source = corpus().at(size_t(state.range(0)));
    MathTypesetter& typesetter = defaultMathTypesetter();
    for (auto _ : state) {
        auto error = FormulaRenderer::error(source);
        auto layout = typesetter.layout(source, 24, Qt::black);
        benchmark::DoNotOptimize(error);
        benchmark::DoNotOptimize(layout);
    }
    state.SetLabel(source.left(40).toStdString());
}

void registerAll() {
    auto* bench = benchmark::RegisterBenchmark("FormulaCheckAndLayout", FormulaCheckAndLayout);
    bench->DenseRange(0, int(corpus().size()) - 1)->Unit(benchmark::kMicrosecond)->MinTime(0.02);
}

// The whole corpus, rendered to pictures, without the cache: the codec's cost for a formula-heavy note.
void FormulaImageUncached(benchmark::State& state) {
    for (auto _ : state) {
        FormulaRenderer::clearCache();
        for (const QString& source : corpus())
            benchmark::DoNotOptimize(FormulaRenderer::image(source, 24, Qt::black, 410));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(corpus().size()));
}
BENCHMARK(FormulaImageUncached)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
