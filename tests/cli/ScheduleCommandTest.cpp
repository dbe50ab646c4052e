#include "support/QtPrinters.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>
#include <simdjson.h>

#include <cmath>

namespace {

struct CliRun {
    int exitCode;
    QByteArray out;
    QByteArray err;
};

CliRun runCli(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(QStringLiteral(QUENDA_CLI_PATH), arguments);
    if (!process.waitForStarted())
        return {-1, {}, {}};
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

const QByteArray kNewCard = R"({"due":1735732800000,"stability":0,"difficulty":0,"elapsedDays":0,"scheduledDays":0,)"
                            R"("learningSteps":0,"reps":0,"lapses":0,"stage":0})";

QByteArray request(const QByteArray& card, const QByteArray& rest) { return "{\"card\":" + card + "," + rest + "}"; }

} // namespace

TEST(ScheduleCommandTest, AnswersEveryLineWithAStateOrAnError) {
    const QByteArray input =
        request(kNewCard, R"("now":1735732800000,"grade":3,"retention":0.9)") + "\n" +
        "this is not json\n" +
        request(kNewCard, R"("now":1735732800000,"grade":3,"retention":1)") + "\n" +
        request(kNewCard, R"("now":1735732800000,"grade":5,"retention":0.9)") + "\n" +
        request(R"({"due":0,"stability":0})", R"("now":0,"grade":1,"retention":0.9)") + "\r\n" +
        // A card in learning, seen an hour earlier, rated hard: stays at its step for 6 minutes.
        request(R"({"due":1735733400000,"stability":2.3065,"difficulty":2.11810397,"elapsedDays":0,)"
                R"("scheduledDays":0,"learningSteps":1,"reps":1,"lapses":0,"stage":1,"lastReview":1735732800000})",
                R"("now":1735736400000,"grade":2,"retention":0.9)");
    const CliRun run = runCli({QStringLiteral("schedule")}, input);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QByteArray> lines = run.out.split('\n');
    ASSERT_EQ(lines.size(), 7); // six answers and the empty rest after the last newline
    EXPECT_EQ(lines[0], R"({"due":1735733400000,"stability":2.3065,"difficulty":2.11810397,"elapsedDays":0,)"
                        R"("scheduledDays":0,"learningSteps":1,"reps":1,"lapses":0,"stage":1,)"
                        R"("lastReview":1735732800000})");
    EXPECT_EQ(lines[1], R"({"error":"not valid JSON"})");
    EXPECT_EQ(QString::fromUtf8(lines[2]),
              QStringLiteral(R"({"error":"L’obiettivo di ricordo deve essere compreso fra 0 e 100%, estremi esclusi."})"));
    EXPECT_EQ(lines[3], R"({"error":"\"grade\" is not an integer from 1 to 4"})");
    EXPECT_TRUE(lines[4].startsWith(R"({"error":"card: )")) << lines[4].toStdString();
    EXPECT_EQ(lines[5], R"({"due":1735736760000,"stability":2.3065,"difficulty":4.75285849,"elapsedDays":0,)"
                        R"("scheduledDays":0,"learningSteps":1,"reps":2,"lapses":0,"stage":1,)"
                        R"("lastReview":1735736400000})");
    EXPECT_TRUE(lines[6].isEmpty());
}

// The reference vectors through the binary: input parsing, the scheduler and output formatting together.
TEST(ScheduleCommandTest, ReproducesTheReferenceVectors) {
    QFile file(QStringLiteral(QUENDA_SOURCE_DIR "/tests/fixtures/fsrs6-vectors.jsonl"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> vectors = file.readAll().split('\n');
    vectors.resize(600);
    const CliRun run = runCli({QStringLiteral("schedule")}, vectors.join('\n') + '\n');
    ASSERT_EQ(run.exitCode, 0);
    const QList<QByteArray> lines = run.out.split('\n');
    ASSERT_EQ(lines.size(), vectors.size() + 1);

    simdjson::dom::parser expectedParser;
    simdjson::dom::parser actualParser;
    for (qsizetype i = 0; i < vectors.size(); ++i) {
        SCOPED_TRACE(i + 1);
        const simdjson::dom::object expected =
            expectedParser.parse(vectors[i].toStdString())["expected"].get_object().value();
        const simdjson::dom::object actual = actualParser.parse(lines[i].toStdString()).get_object().value();
        ASSERT_EQ(actual.size(), expected.size()) << lines[i].toStdString();
        for (auto [key, value] : expected) {
            if (key == "stability" || key == "difficulty")
                EXPECT_NEAR(actual[key].get_double().value(), value.get_double().value(), 1e-6) << key;
            else
                EXPECT_EQ(actual[key].get_double().value(), value.get_double().value()) << key;
        }
    }
}

TEST(ScheduleCommandTest, HelpListsTheCommandsAndUnknownCommandsFail) {
    const CliRun help = runCli({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("schedule")) << help.out.toStdString();

    const CliRun unknown = runCli({QStringLiteral("reschedule")});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.out.isEmpty());
    EXPECT_TRUE(unknown.err.contains("reschedule"));
    EXPECT_TRUE(unknown.err.contains("Uso: quenda-cli")) << unknown.err.toStdString();

    EXPECT_EQ(runCli({}).exitCode, 2);
    EXPECT_EQ(runCli({QStringLiteral("schedule"), QStringLiteral("extra")}).exitCode, 2);
}
