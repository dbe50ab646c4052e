#pragma once

#include "app/services/AppModel.h"
#include "app/services/Clock.h"
#include "app/services/FileDialogs.h"
#include "core/JsonWriter.h"
#include "core/LibraryRecords.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QHash>
#include <QStringList>
#include <QTimeZone>

#include <iosfwd>
#include <memory>
#include <optional>

/// The clock of quenda-cli: the system's, unless `--now` fixes the current time for the whole run
/// and `--tz` names the user's time zone. Timers are the system's monotonic timers.
class CliClock final : public Clock {
public:
    CliClock(std::optional<Instant> fixedNow, QTimeZone zone) : m_fixedNow(fixedNow), m_zone(std::move(zone)) {}
    Instant now() const override;
    QTimeZone timeZone() const override { return m_zone; }

protected:
    void schedule(double seconds, QObject* context, std::function<void()> fire) override;

private:
    std::optional<Instant> m_fixedNow;
    QTimeZone m_zone;
};

/// Dialogs that never ask: every open or save dialog answers with the one file given on the command line.
class FixedFileDialogs final : public FileDialogs {
public:
    explicit FixedFileDialogs(QUrl file) : m_file(std::move(file)) {}
    std::optional<QUrl> chooseFileToOpen(const OpenRequest&) override { return m_file; }
    std::optional<QUrl> chooseSaveLocation(const SaveRequest&) override { return m_file; }

private:
    QUrl m_file;
};

/// Thrown by argument parsing: the command was called wrongly (exit code 2, usage on stderr).
struct UsageError {
    QString message;
};

/// Thrown when a command cannot do its work (exit code 1, the message as the last line on stderr).
struct Refusal {
    QString message;
};

/// The arguments of one command: options `--name value` or bare flags, and positional arguments.
class CommandArguments {
public:
    /// Splits `arguments`; `valued` names the options that take a value, `flags` those that do not.
    /// Throws UsageError for an unknown option or a missing value.
    CommandArguments(const QStringList& arguments, const QStringList& valued, const QStringList& flags = {});

    std::optional<QString> option(const QString& name) const;
    bool flag(const QString& name) const { return m_flags.contains(name); }
    /// The positional arguments; throws UsageError unless there are exactly `count`.
    QStringList positional(qsizetype count) const;

private:
    QHash<QString, QString> m_options;
    QStringList m_flags;
    QStringList m_positional;
};

/// What every library command works with: the global options, the started model and the streams.
/// Lives on the main thread, which runs the event loop the model's futures finish on.
class CliContext {
public:
    CliContext(AppModel& model, CliClock& clock, bool json, std::istream& in, std::ostream& out, std::ostream& err)
        : model(model), clock(clock), json(json), in(in), out(out), err(err) {}

    AppModel& model;
    CliClock& clock;
    const bool json;
    std::istream& in;
    std::ostream& out;
    std::ostream& err;

    /// Runs the event loop until `future` has finished and returns it.
    template <typename T> static QFuture<T> wait(QFuture<T> future) {
        if (!future.isFinished()) {
            QEventLoop loop;
            QFutureWatcher<T> watcher;
            QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
            watcher.setFuture(future);
            if (!future.isFinished())
                loop.exec();
        }
        return future;
    }
    /// Waits for an action; throws Refusal with the model's message when it was refused or failed.
    void act(QFuture<bool> action);
    /// Reviews `card` through the model; the recorded event. Throws Refusal.
    ReviewEvent review(const Flashcard& card, ReviewRating rating);
    /// Writes the automatic backup of a change now, instead of after its delay.
    void flushBackup();

    // Look-ups by identifier (either letter case). Throw UsageError for text that is no identifier and
    // Refusal when no such record exists.
    static Uuid parseID(const QString& text);
    const Deck& deck(const QString& text) const;
    const Note& note(const QString& text) const;
    const Flashcard& card(const QString& text) const;
    const Note& noteOf(const Flashcard& card) const;

    // Output.
    /// A JSON writer set up for one document (package record form, keys sorted).
    static JsonWriter jsonWriter();
    /// Writes the finished document and a newline to `out`.
    void print(const JsonWriter& writer) const;
    void print(const QString& line) const;
    /// A time as the user reads it in their time zone, e.g. "11/12/2026 14:30".
    QString dateText(Instant time) const;
};

/// One line of `text` at most `width` characters long, newlines folded into spaces.
QString oneLine(const QString& text, qsizetype width);
/// Italian names of stages and note kinds as the lists show them.
QString stageText(MemoryStage stage);
QString kindText(NoteKind kind);
/// Parses a rating, 1-4 or again/hard/good/easy; nothing when it is neither.
std::optional<ReviewRating> parseRating(const QString& text);
/// The name used for a rating in JSON and on the command line.
const char* ratingKey(ReviewRating rating);
