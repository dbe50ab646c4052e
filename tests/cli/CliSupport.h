#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

/// One run of the built quenda-cli.
struct CliRun {
    int exitCode;
    QByteArray out;
    QByteArray err;

    QJsonDocument json() const { return QJsonDocument::fromJson(out); }
    /// The last line written to stderr.
    QString lastErrorLine() const { return QString::fromUtf8(err).trimmed().split(u'\n').last(); }
};

inline CliRun runCli(const QStringList& arguments, const QByteArray& input = {}) {
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

/// A data directory of its own, with the current time and the time zone fixed for every command.
class CliLibrary {
public:
    static constexpr double kNowMilliseconds = 1796979600000.0; // 2026-12-11T09:00:00Z
    QTemporaryDir dir;

    CliRun run(const QStringList& arguments, const QByteArray& input = {}) const {
        return runCli(QStringList{QStringLiteral("--data-dir"), dir.filePath(QStringLiteral("data")),
                                  QStringLiteral("--now"), QStringLiteral("2026-12-11T09:00:00Z"),
                                  QStringLiteral("--tz"), QStringLiteral("Europe/Rome")} +
                          arguments,
                      input);
    }
    /// Runs a command with --json that must succeed, and gives its document.
    QJsonDocument json(const QStringList& arguments) const {
        const CliRun result = run(QStringList{QStringLiteral("--json")} + arguments);
        EXPECT_EQ(result.exitCode, 0) << arguments.join(u' ').toStdString() << ": " << result.err.toStdString();
        return result.json();
    }
    QString path(const QString& name) const { return dir.filePath(name); }
};
