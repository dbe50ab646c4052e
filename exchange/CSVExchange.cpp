#include "exchange/CSVExchange.h"

#include "core/CardFactory.h"
#include "core/QuendaError.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHash>

#include <algorithm>

namespace CSVExchange {

namespace {

[[noreturn]] void refuse(const QString& message) {
    throw QuendaError::invalidContent(message);
}

bool isLineBreak(QChar c) {
    return c == u'\n' || c == u'\r';
}

/// Bytes of the UTF-8 form, counted without building it (a lone surrogate becomes U+FFFD, 3 bytes).
std::int64_t utf8Size(QStringView text) {
    std::int64_t size = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80)
            size += 1;
        else if (c < 0x800)
            size += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
            size += 4;
            ++i;
        } else
            size += 3;
    }
    return size;
}

bool isBlank(const QStringList& record) {
    return std::all_of(record.cbegin(), record.cend(), [](const QString& cell) { return cell.trimmed().isEmpty(); });
}

QString invalidQuote(qsizetype line) {
    return QStringLiteral("Virgolette non valide alla riga %1.").arg(line);
}

QString kindWord(NoteKind kind) {
    return rawValue(kind);
}

QStringList splitTags(const QString& cell) {
    QStringList tags;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= cell.size(); ++i) {
        if (i == cell.size() || cell[i] == u';' || cell[i] == u'|') {
            const QString tag = cell.mid(start, i - start).trimmed();
            if (!tag.isEmpty() && !tags.contains(tag))
                tags.append(tag);
            start = i + 1;
        }
    }
    std::sort(tags.begin(), tags.end());
    return tags;
}

QString quoted(const QString& field) {
    QString out;
    out.reserve(field.size() + 2);
    out += u'"';
    for (const QChar c : field) {
        if (c == u'"')
            out += u'"';
        out += c;
    }
    out += u'"';
    return out;
}

} // namespace

QChar detectDelimiter(QStringView text) {
    qsizetype tabs = 0, commas = 0, semicolons = 0;
    bool insideQuotes = false;
    for (const QChar c : text) {
        if (c == u'"')
            insideQuotes = !insideQuotes;
        else if (insideQuotes)
            continue;
        else if (isLineBreak(c))
            break;
        else if (c == u'\t')
            ++tabs;
        else if (c == u',')
            ++commas;
        else if (c == u';')
            ++semicolons;
    }
    QChar delimiter = u'\t';
    qsizetype best = tabs;
    if (commas > best) {
        delimiter = u',';
        best = commas;
    }
    if (semicolons > best)
        delimiter = u';';
    return delimiter;
}

QList<QStringList> parse(QStringView text, QChar delimiter) {
    enum class State { startOfCell, unquoted, quoted, afterQuote };
    State state = State::startOfCell;
    QList<QStringList> records;
    QStringList record;
    QString cell;
    bool quoteSeen = false;
    qsizetype line = 1;

    const auto endCell = [&] {
        record.append(cell);
        cell.clear();
        quoteSeen = false;
    };
    const auto endRecord = [&] {
        endCell();
        records.append(record);
        record.clear();
    };

    for (qsizetype i = 0; i < text.size(); ++i) {
        if (records.size() > kMaxParsedRecords - 1)
            refuse(QStringLiteral("Il file contiene troppe righe."));
        const QChar c = text[i];
        const bool lineBreak = isLineBreak(c);
        // CR LF is one line break: its LF travels with the CR.
        const bool crlf = c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n';

        switch (state) {
        case State::startOfCell:
        case State::unquoted:
            if (c == delimiter) {
                endCell();
                state = State::startOfCell;
            } else if (lineBreak) {
                endRecord();
                state = State::startOfCell;
            } else if (c == u'"') {
                if (state == State::unquoted)
                    refuse(invalidQuote(line));
                quoteSeen = true;
                state = State::quoted;
            } else {
                cell += c;
                state = State::unquoted;
            }
            break;
        case State::quoted:
            if (c == u'"') {
                state = State::afterQuote;
            } else {
                cell += c;
                if (crlf)
                    cell += u'\n';
            }
            break;
        case State::afterQuote:
            if (c == u'"') {
                cell += c;
                state = State::quoted;
            } else if (c == delimiter) {
                endCell();
                state = State::startOfCell;
            } else if (lineBreak) {
                endRecord();
                state = State::startOfCell;
            } else if (c != u' ') {
                refuse(invalidQuote(line));
            }
            break;
        }
        if (lineBreak) {
            if (crlf)
                ++i;
            ++line;
        }
    }

    if (state == State::quoted)
        refuse(QStringLiteral("Una cella contiene virgolette aperte senza chiusura."));
    if (!cell.isEmpty() || quoteSeen || !record.isEmpty())
        endRecord();
    return records;
}

std::optional<Column> column(QStringView cell) {
    static const QHash<QString, Column> words{
        {QStringLiteral("front"), Column::front},     {QStringLiteral("fronte"), Column::front},
        {QStringLiteral("domanda"), Column::front},   {QStringLiteral("question"), Column::front},
        {QStringLiteral("term"), Column::front},      {QStringLiteral("termine"), Column::front},
        {QStringLiteral("back"), Column::back},       {QStringLiteral("retro"), Column::back},
        {QStringLiteral("risposta"), Column::back},   {QStringLiteral("answer"), Column::back},
        {QStringLiteral("definition"), Column::back}, {QStringLiteral("definizione"), Column::back},
        {QStringLiteral("tags"), Column::tags},       {QStringLiteral("tag"), Column::tags},
        {QStringLiteral("etichette"), Column::tags},  {QStringLiteral("type"), Column::kind},
        {QStringLiteral("tipo"), Column::kind},       {QStringLiteral("kind"), Column::kind},
        {QStringLiteral("id"), Column::id},           {QStringLiteral("uuid"), Column::id},
        {QStringLiteral("noteid"), Column::id},       {QStringLiteral("note_id"), Column::id},
    };
    const auto found = words.constFind(cell.trimmed().toString().toLower());
    if (found == words.cend())
        return std::nullopt;
    return found.value();
}

NoteKind noteKind(const QString& cell, qsizetype row) {
    const QString value = cell.trimmed().toLower();
    if (value.isEmpty() || value == u"basic" || value == u"base" || value == u"domanda e risposta")
        return NoteKind::basic;
    if (value == u"reversed" || value == u"reverse" || value == u"inversa" || value == u"anche al contrario")
        return NoteKind::reversed;
    if (value == u"cloze" || value == u"parole nascoste")
        return NoteKind::cloze;
    refuse(QStringLiteral("Il tipo di carta alla riga %1 non è supportato: %2.").arg(row).arg(cell));
}

Uuid stableUUID(const QStringList& parts) {
    QByteArray text;
    for (const QString& part : parts) {
        const QByteArray utf8 = part.toUtf8();
        text += QByteArray::number(utf8.size());
        text += ':';
        text += utf8;
    }
    const QByteArray digest = QCryptographicHash::hash(text, QCryptographicHash::Sha256);
    Uuid::Bytes bytes;
    std::copy_n(reinterpret_cast<const std::uint8_t*>(digest.constData()), bytes.size(), bytes.begin());
    bytes[6] = std::uint8_t((bytes[6] & 0x0f) | 0x80);
    bytes[8] = std::uint8_t((bytes[8] & 0x3f) | 0x80);
    return Uuid(bytes);
}

LibrarySnapshot read(const QString& input, const Deck& deck) {
    if (utf8Size(input) > kMaxTextBytes)
        refuse(QStringLiteral("Il file di testo supera 32 MB."));
    QStringView text(input);
    if (text.startsWith(QChar(0xfeff)))
        text = text.mid(1);

    QList<QStringList> records = parse(text, detectDelimiter(text));
    records.removeIf(isBlank);
    if (records.isEmpty())
        refuse(QStringLiteral("Il file non contiene carte da importare."));
    if (records.size() > kMaxNonBlankRecords)
        refuse(QStringLiteral("Importa al massimo 50.000 carte per volta."));

    QList<std::optional<Column>> columns;
    for (const QString& cell : records.first())
        columns.append(column(cell));
    const auto count = [&columns](Column wanted) {
        return std::count(columns.cbegin(), columns.cend(), std::optional<Column>(wanted));
    };
    qsizetype firstDataRecord = 0;
    if (count(Column::front) == 0 && count(Column::back) == 0) {
        const qsizetype cells = records.first().size();
        if (cells < 2 || cells > 5)
            refuse(QStringLiteral("Servono almeno due colonne: domanda e risposta."));
        static constexpr Column positional[] = {Column::front, Column::back, Column::tags, Column::kind, Column::id};
        columns.clear();
        for (qsizetype i = 0; i < cells; ++i)
            columns.append(positional[i]);
    } else {
        if (count(Column::front) != 1 || count(Column::back) != 1)
            refuse(QStringLiteral("L’intestazione deve contenere una colonna Domanda e una colonna Risposta."));
        if (count(Column::tags) > 1 || count(Column::kind) > 1 || count(Column::id) > 1)
            refuse(QStringLiteral("L’intestazione contiene colonne duplicate."));
        if (records.size() < 2)
            refuse(QStringLiteral("Il file contiene solo l’intestazione, senza carte."));
        firstDataRecord = 1;
    }
    const auto indexOf = [&columns](Column wanted) -> qsizetype {
        return columns.indexOf(std::optional<Column>(wanted));
    };
    const qsizetype frontAt = indexOf(Column::front), backAt = indexOf(Column::back), tagsAt = indexOf(Column::tags),
                    kindAt = indexOf(Column::kind), idAt = indexOf(Column::id);

    const Instant now = Instant::fromUnixMilliseconds(double(QDateTime::currentMSecsSinceEpoch()));
    const QString deckText = deck.id.toString();
    LibrarySnapshot snapshot{.libraryID = Uuid::createRandom(), .decks = {deck}};
    QHash<Uuid, qsizetype> noteIndexes;

    for (qsizetype r = firstDataRecord; r < records.size(); ++r) {
        const QStringList& record = records[r];
        const qsizetype row = r + 1;
        if (record.size() != columns.size())
            refuse(QStringLiteral("La riga %1 ha %2 colonne; ne erano previste %3.")
                       .arg(row)
                       .arg(record.size())
                       .arg(columns.size()));
        const auto cellAt = [&record](qsizetype at) { return at < 0 ? QString() : record[at]; };

        Note note;
        note.deckID = deck.id;
        note.front = cellAt(frontAt).trimmed();
        note.back = cellAt(backAt).trimmed();
        note.kind = noteKind(cellAt(kindAt), row);
        note.tags = splitTags(cellAt(tagsAt));
        note.createdAt = now;
        note.updatedAt = now;
        const QString idText = cellAt(idAt).trimmed();
        if (!idText.isEmpty()) {
            const std::optional<Uuid> id = Uuid::fromString(idText);
            if (!id)
                refuse(QStringLiteral("L’identificativo della carta alla riga %1 non è valido.").arg(row));
            note.id = *id;
        } else {
            note.id = stableUUID({QStringLiteral("quenda-csv-note-v1"), deckText, kindWord(note.kind), note.front,
                                  note.back, note.tags.join(u';')});
        }

        QList<Flashcard> cards;
        try {
            cards = CardFactory::cards(note, {}, now);
        } catch (const QuendaError& error) {
            refuse(QStringLiteral("Riga %1: %2").arg(row).arg(error.message()));
        }

        if (const auto earlier = noteIndexes.constFind(note.id); earlier != noteIndexes.cend()) {
            const Note& first = snapshot.notes[earlier.value()];
            if (first.front == note.front && first.back == note.back && first.kind == note.kind
                && first.tags == note.tags)
                continue;
            refuse(QStringLiteral("Due righe diverse usano lo stesso identificativo di carta."));
        }
        const QString noteText = note.id.toString();
        for (Flashcard& card : cards)
            card.id = stableUUID({QStringLiteral("quenda-csv-card-v1"), noteText, QString::number(card.ordinal)});
        noteIndexes.insert(note.id, snapshot.notes.size());
        snapshot.notes.append(std::move(note));
        snapshot.cards.append(cards);
    }
    return snapshot;
}

QString write(const QList<Note>& notes) {
    QString out = QStringLiteral("front,back,tags,type,id\r\n");
    for (const Note& note : notes) {
        const QString front = note.frontDocument ? note.frontDocument->exportText() : note.front;
        const QString back = note.backDocument ? note.backDocument->exportText() : note.back;
        out += quoted(front) + u',' + quoted(back) + u',' + quoted(note.tags.join(u';')) + u','
               + quoted(kindWord(note.kind)) + u',' + quoted(note.id.toString()) + QStringLiteral("\r\n");
    }
    return out;
}

} // namespace CSVExchange
