// `quenda-cli study`: the review screen in a terminal.

#include "app/cli/CliContext.h"
#include "app/cli/CliOutput.h"
#include "app/cli/ReviewCommands.h"
#include "app/services/StudyTexts.h"
#include "core/CardFactory.h"
#include "core/StudyScheduler.h"

#include <istream>
#include <ostream>
#include <string_view>

#include <termios.h>
#include <unistd.h>

namespace {

// Single key presses: from a terminal in raw mode (no Enter, no echo; restored when destroyed), or
// characters from piped input.
class KeyReader {
public:
    explicit KeyReader(std::istream& in)
        : m_in(in), m_terminal(isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &m_saved) == 0) {
        if (!m_terminal)
            return;
        termios raw = m_saved;
        // Ctrl-C arrives as a key (it quits) so the terminal is always restored.
        raw.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw);
    }
    ~KeyReader() {
        if (m_terminal)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
    }
    KeyReader(const KeyReader&) = delete;
    KeyReader& operator=(const KeyReader&) = delete;

    /// The next key; nothing once the input has ended.
    std::optional<char> next() {
        char key = 0;
        if (m_terminal)
            return ::read(STDIN_FILENO, &key, 1) == 1 ? std::optional<char>(key) : std::nullopt;
        return m_in.get(key) ? std::optional<char>(key) : std::nullopt;
    }
    /// The next of `wanted`, skipping other keys; 'q' when the input ends or on Ctrl-C and Ctrl-D.
    char nextOf(std::string_view wanted) {
        while (const std::optional<char> key = next()) {
            if (*key == '\x03' || *key == '\x04')
                return 'q';
            if (wanted.find(*key) != std::string_view::npos)
                return *key;
        }
        return 'q';
    }

private:
    std::istream& m_in;
    termios m_saved{};
    bool m_terminal;
};

class StudySession {
public:
    StudySession(CliContext& context, std::optional<Uuid> deckID)
        : m_context(context), m_deckID(deckID), m_screen(context.json ? context.err : context.out) {}

    void run() {
        KeyReader keys(m_context.in);
        const qsizetype initial = currentQueue().size();
        say(QStringLiteral("%1: %2 da studiare. Spazio mostra la risposta, 1-4 valuta, u annulla, q esce.")
                .arg(m_deckID ? m_context.deck(m_deckID->toString()).name : QStringLiteral("Tutta la libreria"),
                     countText(initial, "carta", "carte")));
        while (true) {
            const QList<Flashcard> queue = currentQueue();
            if (queue.isEmpty()) {
                say(QStringLiteral("\nNiente altro da studiare ora."));
                break;
            }
            const Flashcard card = queue.first();
            const CardPresentation presentation = CardFactory::presentation(m_context.noteOf(card), card);
            say(QStringLiteral("\n[%1 da studiare] %2").arg(queue.size()).arg(stageText(card.memory.stage)));
            section(QStringLiteral("Domanda"), presentation.question);
            if (presentation.hint)
                say(QStringLiteral("  Suggerimento: ") + *presentation.hint);
            prompt(QStringLiteral("(spazio: risposta · u: annulla · q: esci)"));
            const char shown = keys.nextOf(" uq");
            if (shown == 'q')
                break;
            if (shown == 'u') {
                undo();
                continue;
            }
            section(QStringLiteral("Risposta"), presentation.answer);
            const Instant now = m_context.clock.now();
            QStringList choices;
            try {
                const auto preview =
                    StudyScheduler(m_context.model.library().preferences.desiredRetention).preview(card, now);
                for (const auto& [rating, state] : preview)
                    choices.append(QStringLiteral("%1 %2 %3")
                                       .arg(int(rating))
                                       .arg(title(rating), StudyTexts::intervalText(state.due, now)));
            } catch (...) {
                throw Refusal{messageOf(std::current_exception())};
            }
            prompt(choices.join(QStringLiteral(" · ")) + QStringLiteral("  (u: annulla · q: esci)"));
            const char rated = keys.nextOf("1234uq");
            if (rated == 'q')
                break;
            if (rated == 'u') {
                undo();
                continue;
            }
            const ReviewRating rating = ReviewRating(rated - '0');
            m_reviewed.append(m_context.review(card, rating).id);
            m_changed = true;
            say(QStringLiteral("→ %1, di nuovo %2").arg(title(rating), nextDueText(card.id)));
        }
        say(QStringLiteral("Ripassi in questa sessione: %1").arg(m_reviewed.size()));
    }

    bool changed() const { return m_changed; }

    void printResult() const {
        if (!m_context.json)
            return;
        JsonWriter json = CliContext::jsonWriter();
        json.beginObject();
        json.key("reviewed");
        json.integer(m_reviewed.size());
        json.endObject();
        m_context.print(json);
    }

private:
    QList<Flashcard> currentQueue() const { return m_context.model.queue(m_deckID, m_context.clock.now()); }

    QString nextDueText(const Uuid& cardID) const {
        for (const Flashcard& card : m_context.model.library().cards)
            if (card.id == cardID)
                return StudyTexts::intervalText(card.memory.due, m_context.clock.now());
        return QStringLiteral("\u2014");
    }

    void undo() {
        const std::optional<ReviewEvent> undone = CliContext::wait(m_context.model.undoReview()).result();
        if (const std::optional<QString> message = m_context.model.errorMessage()) {
            m_context.model.clearErrorMessage();
            throw Refusal{*message};
        }
        if (!undone) {
            say(QStringLiteral("Niente da annullare."));
            return;
        }
        m_changed = true;
        m_reviewed.removeOne(undone->id);
        say(QStringLiteral("Annullato: %1").arg(title(undone->rating)));
    }

    void say(const QString& line) { m_screen << line.toStdString() << "\n" << std::flush; }
    void prompt(const QString& line) { say(line); }
    void section(const QString& heading, const QString& text) {
        say(heading);
        for (const QString& line : text.split(u'\n'))
            say(QStringLiteral("  ") + line);
    }

    CliContext& m_context;
    std::optional<Uuid> m_deckID;
    std::ostream& m_screen;
    bool m_changed = false;
    QList<Uuid> m_reviewed; ///< the reviews of this session still standing
};

} // namespace

void runStudyCommand(CliContext& context, const QStringList& arguments) {
    const CommandArguments parsed(arguments, {QStringLiteral("--deck")});
    parsed.positional(0);
    std::optional<Uuid> deckID;
    if (const std::optional<QString> deck = parsed.option(QStringLiteral("--deck")))
        deckID = context.deck(*deck).id;
    StudySession session(context, deckID);
    try {
        session.run();
    } catch (const Refusal&) {
        if (session.changed())
            context.flushBackup();
        throw;
    }
    if (session.changed())
        context.flushBackup();
    session.printResult();
}
