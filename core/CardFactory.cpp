#include "core/CardFactory.h"

#include "core/PlainText.h"
#include "core/QuendaError.h"
#include "core/Uuid.h"

#include <algorithm>
#include <map>
#include <set>

namespace CardFactory {
namespace detail {
namespace {

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// A marker numbered 1000 or more is not a cloze; with no leading zero that is any number of four digits
// or more, so the number never needs to be parsed beyond three digits.
constexpr qsizetype kMaxNumberDigits = 3;

} // namespace

// Finds the matches of \{\{c([1-9][0-9]*)::([^{}]+?)\}\} left to right, without overlap. Scanning by
// hand rather than with QRegularExpression keeps lone surrogates (which make the engine refuse the whole
// subject) from hiding every marker of a note, and keeps the scan linear.
QList<Cloze> parseClozes(QStringView text) {
    QList<Cloze> clozes;
    const qsizetype size = text.size();
    qsizetype from = 0;
    while (true) {
        const qsizetype start = text.indexOf(u"{{c", from);
        if (start < 0)
            break;
        from = start + 1;
        qsizetype digitsEnd = start + 3;
        if (digitsEnd >= size || text[digitsEnd] == u'0' || !isDigit(text[digitsEnd]))
            continue;
        while (digitsEnd < size && isDigit(text[digitsEnd]))
            ++digitsEnd;
        if (digitsEnd + 1 >= size || text[digitsEnd] != u':' || text[digitsEnd + 1] != u':')
            continue;
        // The content runs to the first brace, which must open the closing "}}".
        const qsizetype contentStart = digitsEnd + 2;
        qsizetype contentEnd = contentStart;
        while (contentEnd < size && text[contentEnd] != u'{' && text[contentEnd] != u'}')
            ++contentEnd;
        if (contentEnd == contentStart || contentEnd + 1 >= size || text[contentEnd] != u'}' ||
            text[contentEnd + 1] != u'}')
            continue;
        from = contentEnd + 2;

        const QStringView digits = text.sliced(start + 3, digitsEnd - start - 3);
        if (digits.size() > kMaxNumberDigits)
            continue;
        const QStringView content = text.sliced(contentStart, contentEnd - contentStart);
        const qsizetype separator = content.indexOf(u"::");
        const QStringView answer = separator < 0 ? content : content.first(separator);
        std::optional<QString> hint;
        if (separator >= 0) {
            const QStringView trimmedHint = PlainText::trimmed(content.sliced(separator + 2));
            if (!trimmedHint.isEmpty())
                hint = trimmedHint.toString();
        }
        clozes.append(Cloze{.range = {start, from - start},
                            .contentRange = {contentStart, answer.size()},
                            .number = digits.toLongLong(),
                            .text = answer.toString(),
                            .hint = hint});
    }
    return clozes;
}

QList<Cloze> validatedClozes(QStringView text) {
    const QList<Cloze> clozes = parseClozes(text);
    if (clozes.isEmpty())
        throw QuendaError::invalidContent(QStringLiteral("Nascondi almeno una parola, per esempio {{c1::Tokyo}}."));
    for (const Cloze& cloze : clozes)
        if (PlainText::isBlank(cloze.text))
            throw QuendaError::invalidContent(QStringLiteral("Ogni parola nascosta deve contenere una risposta."));
    for (const Cloze& cloze : clozes)
        if (cloze.hint && cloze.hint->contains(QChar(kObjectReplacementCharacter)))
            throw QuendaError::invalidContent(
                QStringLiteral("Il suggerimento di una parola nascosta può contenere soltanto testo. Inserisci "
                               "immagini e formule nella risposta."));
    // Braces left once the markers are gone belong to nested, unbalanced or out-of-range markers.
    QString rest;
    qsizetype previousEnd = 0;
    for (const Cloze& cloze : clozes) {
        rest += text.sliced(previousEnd, cloze.range.location - previousEnd);
        previousEnd = cloze.range.end();
    }
    rest += text.sliced(previousEnd);
    if (rest.contains(u"{{") || rest.contains(u"}}"))
        throw QuendaError::invalidContent(QStringLiteral("Controlla le parentesi delle parole nascoste. Usa "
                                                         "{{c1::risposta}} senza annidare altre parentesi."));
    return clozes;
}

QList<RichTextRun> RunCursor::consume(qsizetype target, bool keeping) {
    QList<RichTextRun> taken;
    while (m_position < target && m_index < m_runs.size()) {
        const RichTextRun& run = m_runs[m_index];
        if (m_offset >= run.text.size()) {
            ++m_index;
            m_offset = 0;
            continue;
        }
        const qsizetype n = std::min(target - m_position, run.text.size() - m_offset);
        if (keeping) {
            RichTextRun piece = run;
            piece.text = run.text.sliced(m_offset, n);
            taken.append(std::move(piece));
        }
        m_offset += n;
        m_position += n;
        if (m_offset >= run.text.size()) {
            ++m_index;
            m_offset = 0;
        }
    }
    return taken;
}

std::optional<RichTextRun> RunCursor::currentRun() const {
    for (qsizetype i = m_index; i < m_runs.size(); ++i)
        if (!m_runs[i].text.isEmpty())
            return m_runs[i];
    return std::nullopt;
}

namespace {

QString placeholder(const Cloze& cloze) {
    return cloze.hint ? u'[' + *cloze.hint + u']' : QStringLiteral("[\u2026]");
}

} // namespace

RichTextDocument render(const RichTextDocument& document, const QList<Cloze>& clozes,
                        std::optional<std::int64_t> hiding) {
    qsizetype length = 0;
    for (const RichTextRun& run : document.runs)
        length += run.text.size();

    RunCursor cursor(document.runs);
    QList<RichTextRun> runs;
    for (const Cloze& cloze : clozes) {
        runs += cursor.consume(cloze.range.location, true);
        cursor.consume(cloze.contentRange.location, false);
        if (!hiding || cloze.number != *hiding) {
            runs += cursor.consume(cloze.contentRange.end(), true);
        } else {
            // The placeholder looks like the answer it stands for, without its link or attachment.
            const RichTextRun base = cursor.currentRun().value_or(RichTextRun{});
            runs.append(RichTextRun{.text = placeholder(cloze),
                                    .bold = base.bold,
                                    .italic = base.italic,
                                    .underline = base.underline,
                                    .style = base.style,
                                    .alignment = base.alignment});
            cursor.consume(cloze.contentRange.end(), false);
        }
        cursor.consume(cloze.range.end(), false);
    }
    runs += cursor.consume(length, true);
    return RichTextDocument{runs};
}

} // namespace detail

namespace {

using detail::Cloze;

const QString kMismatchMessage =
    QStringLiteral("Il testo della carta non corrisponde al contenuto formattato. Riapri l’editor e salva nuovamente.");

// Canonically equivalent texts count as equal: the editor and the plain field may store different
// normalization forms of the same characters.
bool isCanonicallyEqual(const QString& a, const QString& b) {
    return a == b || a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

void checkDocument(const std::optional<RichTextDocument>& document, const QString& plain) {
    if (!document)
        return;
    document->validate();
    if (!isCanonicallyEqual(document->sourceText(), plain))
        throw QuendaError::invalidContent(kMismatchMessage);
}

QList<std::int64_t> requiredOrdinals(const Note& note) {
    if (note.kind == NoteKind::cloze) {
        std::set<std::int64_t> numbers;
        for (const Cloze& cloze : detail::validatedClozes(note.front))
            numbers.insert(cloze.number);
        return QList<std::int64_t>(numbers.begin(), numbers.end());
    }
    if (PlainText::isBlank(note.back))
        throw QuendaError::invalidContent(QStringLiteral("Scrivi anche la risposta."));
    if (note.kind == NoteKind::reversed)
        return {0, 1};
    return {0};
}

QString removedOrdinalsMessage(NoteKind kind, const std::set<std::int64_t>& removed) {
    if (kind != NoteKind::cloze)
        return QStringLiteral("Questa modifica rimuoverebbe carte esistenti e i loro ripassi. Mantieni il tipo "
                              "originale della nota.");
    QStringList numbers;
    for (std::int64_t ordinal : removed)
        numbers.append(u'c' + QString::number(ordinal));
    return QStringLiteral("Mantieni i numeri delle parole nascoste già presenti (") + numbers.join(u", ") +
           QStringLiteral("). Rimuoverli o rinumerarli cancellerebbe le carte e i loro ripassi. Puoi modificare "
                          "il testo o aggiungere nuovi numeri.");
}

RichTextRun plainRun(const QString& text) {
    return RichTextRun{.text = text};
}

} // namespace

QList<Flashcard> cards(const Note& note, const QList<Flashcard>& existing, Instant now) {
    checkDocument(note.frontDocument, note.front);
    checkDocument(note.backDocument, note.back);
    if (PlainText::isBlank(note.front))
        throw QuendaError::invalidContent(QStringLiteral("Scrivi il testo della domanda."));
    const QList<std::int64_t> required = requiredOrdinals(note);

    // The first existing card of each ordinal is the one that survives.
    std::map<std::int64_t, const Flashcard*> current;
    for (const Flashcard& card : existing)
        if (card.noteID == note.id)
            current.try_emplace(card.ordinal, &card);

    std::set<std::int64_t> removed;
    for (const auto& [ordinal, card] : current)
        if (!required.contains(ordinal))
            removed.insert(ordinal);
    if (!removed.empty())
        throw QuendaError::invalidContent(removedOrdinalsMessage(note.kind, removed));

    QList<Flashcard> result;
    result.reserve(required.size());
    for (std::int64_t ordinal : required) {
        const auto found = current.find(ordinal);
        if (found != current.end()) {
            Flashcard kept = *found->second;
            kept.deckID = note.deckID;
            result.append(kept);
        } else {
            result.append(Flashcard{.id = Uuid::createRandom(),
                                    .noteID = note.id,
                                    .deckID = note.deckID,
                                    .ordinal = ordinal,
                                    .memory = MemoryState::newCard(now),
                                    .isSuspended = false});
        }
    }
    return result;
}

CardPresentation presentation(const Note& note, const Flashcard& card) {
    if (note.kind == NoteKind::reversed && card.ordinal == 1)
        return CardPresentation{note.back, note.front, std::nullopt, note.backDocument, note.frontDocument};
    if (note.kind != NoteKind::cloze)
        return CardPresentation{note.front, note.back, std::nullopt, note.frontDocument, note.backDocument};

    const std::int64_t hidden = card.ordinal;
    const QList<Cloze> clozes = detail::parseClozes(note.front);
    const QString back = PlainText::trimmed(note.back).toString();

    CardPresentation result;
    qsizetype previousEnd = 0;
    for (const Cloze& cloze : clozes) {
        const QStringView before = QStringView(note.front).sliced(previousEnd, cloze.range.location - previousEnd);
        result.question += before;
        result.question += cloze.number == hidden ? detail::placeholder(cloze) : cloze.text;
        result.answer += before;
        result.answer += cloze.text;
        previousEnd = cloze.range.end();
    }
    result.question += QStringView(note.front).sliced(previousEnd);
    result.answer += QStringView(note.front).sliced(previousEnd);
    if (!back.isEmpty())
        result.answer += QStringLiteral("\n\n") + back;

    for (const Cloze& cloze : clozes) {
        if (cloze.number == hidden) {
            result.hint = cloze.hint;
            break;
        }
    }

    std::optional<RichTextDocument> answerDocument;
    if (note.frontDocument) {
        // Cloze positions must be measured in the document's own text: it may be a different (canonically
        // equivalent) normalization of `front`, whose positions would then cut the runs in wrong places.
        const QString source = note.frontDocument->sourceText();
        const QList<Cloze> documentClozes = source == note.front ? clozes : detail::parseClozes(source);
        result.questionDocument = detail::render(*note.frontDocument, documentClozes, hidden);
        result.question = result.questionDocument->sourceText();
        answerDocument = detail::render(*note.frontDocument, documentClozes, std::nullopt);
    } else if (note.backDocument) {
        answerDocument = detail::render(RichTextDocument{{plainRun(note.front)}}, clozes, std::nullopt);
    }
    if (answerDocument) {
        if (!back.isEmpty()) {
            answerDocument->runs.append(plainRun(QStringLiteral("\n\n")));
            if (note.backDocument)
                answerDocument->runs += note.backDocument->runs;
            else
                answerDocument->runs.append(plainRun(back));
        }
        result.answer = answerDocument->sourceText();
        result.answerDocument = std::move(answerDocument);
    }
    return result;
}

QList<std::int64_t> clozeNumbers(const QString& text) {
    std::set<std::int64_t> numbers;
    for (const Cloze& cloze : detail::parseClozes(text))
        numbers.insert(cloze.number);
    return QList<std::int64_t>(numbers.begin(), numbers.end());
}

} // namespace CardFactory
