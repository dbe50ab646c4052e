#include "heavy-library/HeavyLibrary.h"

#include "core/CardFactory.h"
#include "core/StudyScheduler.h"

#include <QCryptographicHash>
#include <QStringList>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <queue>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

constexpr double kDay = 86'400;
constexpr double kSessionStart = 18 * 3'600; // seconds after midnight UTC
constexpr double kSessionLength = 3 * 3'600;

const std::array kWords = {
    "acqua",    "albero",  "amico",    "anno",     "aria",    "bambino", "bello",   "braccio",   "capitale", "casa",
    "cielo",    "città",   "colore",   "cuore",    "domanda", "energia", "estate",  "fiume",     "forza",    "fuoco",
    "giorno",   "governo", "guerra",   "isola",    "lavoro",  "legge",   "libro",   "luce",      "luna",     "mare",
    "memoria",  "mondo",   "montagna", "musica",   "natura",  "notte",   "numero",  "occhio",    "onda",     "pagina",
    "pane",     "parola",  "pensiero", "pianeta",  "pietra",  "popolo",  "porta",   "primavera", "regno",    "re",
    "risposta", "scienza", "secolo",   "segno",    "sole",    "spazio",  "stella",  "storia",    "strada",   "tempo",
    "terra",    "treno",   "valle",    "velocità", "vento",   "verità",  "viaggio", "vita",      "voce",     "volta",
};
const std::array kFormulas = {
    "E = mc^2",          "\\frac{a}{b} + \\sqrt{x}",  "\\int_0^1 x^2\\,dx", "\\sum_{k=1}^{n} k = \\frac{n(n+1)}{2}",
    "e^{i\\pi} + 1 = 0", "F = G\\frac{m_1 m_2}{r^2}",
};
const std::array kTags = {"storia", "geografia", "fisica", "lessico", "arte", "chimica", "esame", "ripasso"};
const std::array kSymbols = {"book", "globe", "atom", "flask", "music.note", "paintpalette", "function", "leaf"};

void appendBigEndian(QByteArray& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(static_cast<char>((value >> shift) & 0xFF));
}

void appendChunk(QByteArray& png, const char (&type)[5], const QByteArray& data) {
    appendBigEndian(png, static_cast<std::uint32_t>(data.size()));
    const qsizetype start = png.size();
    png.append(type, 4);
    png.append(data);
    const auto crc =
        crc32(0L, reinterpret_cast<const Bytef*>(png.constData() + start), static_cast<uInt>(png.size() - start));
    appendBigEndian(png, static_cast<std::uint32_t>(crc));
}

class Generator {
public:
    explicit Generator(const HeavyLibraryOptions& options) : m_options(options), m_random(options.seed) {}

    LibrarySnapshot run();

private:
    double uniform(double from, double to) { return std::uniform_real_distribution<double>(from, to)(m_random); }
    qsizetype below(qsizetype n) {
        return static_cast<qsizetype>(std::uniform_int_distribution<std::uint64_t>(0, n - 1)(m_random));
    }
    bool chance(double p) { return uniform(0, 1) < p; }

    Uuid nextId() {
        Uuid::Bytes bytes;
        const std::uint64_t high = m_random();
        const std::uint64_t low = m_random();
        std::memcpy(bytes.data(), &high, 8);
        std::memcpy(bytes.data() + 8, &low, 8);
        bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
        bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
        return Uuid(bytes);
    }

    QString words(int from, int to) {
        const int count = static_cast<int>(from + below(to - from + 1));
        QString text;
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                text += u' ';
            text += QString::fromUtf8(kWords[static_cast<std::size_t>(below(std::ssize(kWords)))]);
        }
        return text;
    }

    // In turn, so that every image is used once there are as many formatted notes as images.
    QString imageID() { return m_images[m_nextImage++ % m_images.size()]; }

    static RichTextRun plain(const QString& text) { return RichTextRun{.text = text}; }
    static RichTextRun bold(const QString& text) { return RichTextRun{.text = text, .bold = true}; }
    static RichTextRun attachment() { return RichTextRun{.text = QString(QChar(kObjectReplacementCharacter))}; }

    void makeImages();
    void makeDecks(LibrarySnapshot& snapshot);
    QList<NoteKind> chooseKinds(QList<int>& clozeCounts);
    Note makeNote(NoteKind kind, int clozeCount, const Uuid& deckID);
    double sessionTimeAfter(double due);
    ReviewRating chooseRating(MemoryStage stage);

    HeavyLibraryOptions m_options;
    std::mt19937_64 m_random;
    QStringList m_images;
    qsizetype m_nextImage = 0;
};

void Generator::makeImages() {
    for (qsizetype i = 0; i < std::max<qsizetype>(1, m_options.images); ++i)
        m_images.append(heavyLibraryImageID(heavyLibraryImage(m_options, i)));
}

void Generator::makeDecks(LibrarySnapshot& snapshot) {
    for (qsizetype i = 0; i < m_options.decks; ++i) {
        const QString color = QStringLiteral("%1").arg(below(0x1000000), 6, 16, QLatin1Char('0')).toUpper();
        snapshot.decks.append(Deck{nextId(), QStringLiteral("Mazzo %1").arg(i + 1), words(0, 4),
                                   QString::fromLatin1(kSymbols[static_cast<std::size_t>(i) % kSymbols.size()]), color,
                                   m_options.start, m_options.start});
    }
}

// Kinds drawn at random, then nudged note by note until the notes yield exactly the cards asked for.
QList<NoteKind> Generator::chooseKinds(QList<int>& clozeCounts) {
    const qsizetype notes = m_options.notes;
    const qsizetype target = std::clamp(m_options.cards, notes, 3 * notes);
    QList<NoteKind> kinds(notes);
    clozeCounts = QList<int>(notes, 0);
    qsizetype total = 0;
    for (qsizetype i = 0; i < notes; ++i) {
        const double pick = uniform(0, 1);
        if (pick < 0.35) {
            kinds[i] = NoteKind::basic;
            total += 1;
        } else if (pick < 0.7) {
            kinds[i] = NoteKind::reversed;
            total += 2;
        } else {
            kinds[i] = NoteKind::cloze;
            clozeCounts[i] = static_cast<int>(1 + below(3));
            total += clozeCounts[i];
        }
    }
    auto count = [&](qsizetype i) {
        return kinds[i] == NoteKind::cloze ? clozeCounts[i] : kinds[i] == NoteKind::reversed ? 2 : 1;
    };
    while (total != target && notes > 0) {
        const qsizetype i = below(notes);
        const int before = count(i);
        if (total < target) {
            if (kinds[i] == NoteKind::basic)
                kinds[i] = NoteKind::reversed;
            else if (kinds[i] == NoteKind::cloze && clozeCounts[i] < 3)
                ++clozeCounts[i];
        } else {
            if (kinds[i] == NoteKind::reversed)
                kinds[i] = NoteKind::basic;
            else if (kinds[i] == NoteKind::cloze && clozeCounts[i] > 1)
                --clozeCounts[i];
        }
        total += count(i) - before;
    }
    return kinds;
}

Note Generator::makeNote(NoteKind kind, int clozeCount, const Uuid& deckID) {
    Note note{.id = nextId(), .deckID = deckID, .kind = kind};
    for (qsizetype t = 0, n = below(3); t < n; ++t)
        note.tags.append(QString::fromLatin1(kTags[static_cast<std::size_t>(below(std::ssize(kTags)))]));
    const bool formatted = chance(1.0 / 6);

    if (kind == NoteKind::cloze) {
        QList<RichTextRun> runs{plain(words(1, 4) + u' ')};
        for (int number = 1; number <= clozeCount; ++number) {
            QString marker = QStringLiteral("{{c%1::%2").arg(number).arg(words(1, 2));
            if (chance(0.3))
                marker += QStringLiteral("::") + words(1, 1);
            marker += QStringLiteral("}}");
            runs.append(formatted && number == 1 ? bold(marker) : plain(marker));
            runs.append(plain(u' ' + words(1, 5) + u' '));
        }
        if (formatted) {
            RichTextRun formula = attachment();
            formula.latex = QString::fromLatin1(kFormulas[static_cast<std::size_t>(below(std::ssize(kFormulas)))]);
            runs.append(formula);
        }
        RichTextDocument front{runs};
        note.front = front.sourceText();
        if (formatted)
            note.frontDocument = front;
        note.back = chance(0.4) ? words(2, 8) : QString();
    } else {
        note.front = words(3, 10) + u'?';
        note.back = words(1, 8);
        if (formatted) {
            RichTextRun formula = attachment();
            formula.latex = QString::fromLatin1(kFormulas[static_cast<std::size_t>(below(std::ssize(kFormulas)))]);
            RichTextDocument front{{plain(words(1, 3) + u' '), bold(words(1, 3)), plain(QStringLiteral(" ")), formula,
                                    plain(QStringLiteral("?"))}};
            RichTextRun image = attachment();
            image.imageID = imageID();
            RichTextRun emphasis{.text = words(1, 4), .italic = true};
            RichTextDocument back{{emphasis, plain(QStringLiteral("\n")), image}};
            note.front = front.sourceText();
            note.back = back.sourceText();
            note.frontDocument = front;
            note.backDocument = back;
        }
    }
    if (chance(0.02))
        note.imageID = imageID();
    return note;
}

// Cards falling due are answered in the next evening session; most evenings the user studies.
double Generator::sessionTimeAfter(double due) {
    const double since = due - m_options.start.referenceSeconds();
    double day = std::floor(since / kDay);
    if (since - day * kDay > kSessionStart + kSessionLength)
        day += 1;
    while (chance(0.08))
        day += 1;
    const double session = m_options.start.referenceSeconds() + day * kDay + kSessionStart;
    return std::max(due, session + uniform(0, kSessionLength));
}

ReviewRating Generator::chooseRating(MemoryStage stage) {
    const double pick = uniform(0, 1);
    const double again = stage == MemoryStage::review ? 0.12 : 0.18;
    if (pick < again)
        return ReviewRating::again;
    if (pick < again + 0.15)
        return ReviewRating::hard;
    if (pick < 0.92)
        return ReviewRating::good;
    return ReviewRating::easy;
}

LibrarySnapshot Generator::run() {
    LibrarySnapshot snapshot;
    snapshot.libraryID = nextId();
    snapshot.preferences = StudyPreferences{20, 0.9};
    makeImages();
    makeDecks(snapshot);
    if (snapshot.decks.isEmpty() || m_options.notes <= 0)
        return snapshot;

    // Notes, written over the writing days, listed by creation time.
    QList<int> clozeCounts;
    const QList<NoteKind> kinds = chooseKinds(clozeCounts);
    std::vector<double> written(static_cast<std::size_t>(m_options.notes));
    for (double& time : written)
        time = m_options.start.referenceSeconds() + uniform(0, m_options.writingDays * kDay);
    std::sort(written.begin(), written.end());
    snapshot.notes.reserve(m_options.notes);
    for (qsizetype i = 0; i < m_options.notes; ++i) {
        Note note = makeNote(kinds[i], clozeCounts[i], snapshot.decks[below(snapshot.decks.size())].id);
        note.createdAt = note.updatedAt = Instant::fromReferenceSeconds(written[static_cast<std::size_t>(i)]);
        snapshot.notes.append(std::move(note));
    }

    auto makeCards = [&](const Note& note) {
        QList<Flashcard> cards = CardFactory::cards(note, {}, note.createdAt);
        for (Flashcard& card : cards)
            card.id = nextId(); // the factory's identifiers are random
        return cards;
    };
    snapshot.cards.reserve(m_options.cards);
    std::vector<qsizetype> firstCard; // of each note
    firstCard.reserve(static_cast<std::size_t>(m_options.notes));
    for (const Note& note : snapshot.notes) {
        firstCard.push_back(snapshot.cards.size());
        snapshot.cards.append(makeCards(note));
    }

    // Study: every card enters in a session after its note was written, a sibling a day after the
    // other; each review brings the card back at its next session. Time order comes from the queue.
    using Event = std::pair<double, qsizetype>; // time, card
    std::vector<Event> initial;
    initial.reserve(static_cast<std::size_t>(snapshot.cards.size()));
    double sibling = 0;
    bool studied = true;
    for (qsizetype i = 0; i < snapshot.cards.size(); ++i) {
        const Flashcard& card = snapshot.cards[i];
        const bool firstOfNote = i == 0 || snapshot.cards[i - 1].noteID != card.noteID;
        sibling = firstOfNote ? 0 : sibling + 1;
        if (firstOfNote)
            studied = !chance(m_options.unstudiedShare);
        if (!studied)
            continue;
        initial.emplace_back(sessionTimeAfter(card.memory.due.referenceSeconds() + sibling * kDay), i);
    }
    std::priority_queue<Event, std::vector<Event>, std::greater<>> pending(std::greater<>(), std::move(initial));
    const StudyScheduler scheduler(snapshot.preferences.desiredRetention);
    snapshot.reviews.reserve(m_options.reviews);
    while (snapshot.reviews.size() < m_options.reviews && !pending.empty()) {
        const auto [time, index] = pending.top();
        pending.pop();
        Flashcard& card = snapshot.cards[index];
        ReviewEvent event =
            scheduler.review(card, chooseRating(card.memory.stage), Instant::fromReferenceSeconds(time));
        event.id = nextId(); // the scheduler's identifiers are random
        card.memory = event.after;
        const double due = event.after.due.referenceSeconds();
        // Short learning steps are answered in the same sitting, a few minutes late at most.
        const double next = due - time < kDay / 2 ? due + uniform(0, 300) : sessionTimeAfter(due);
        pending.emplace(next, index);
        snapshot.reviews.append(std::move(event));
    }

    // Notes written after the last review have no reviews yet: they move back into the studied span,
    // so that no record lies in the future of the library's last day.
    const double end = snapshot.reviews.isEmpty() ? m_options.start.referenceSeconds() + m_options.writingDays * kDay
                                                  : snapshot.reviews.last().reviewedAt.referenceSeconds();
    bool moved = false;
    for (qsizetype i = 0; i < snapshot.notes.size(); ++i) {
        Note& note = snapshot.notes[i];
        if (note.createdAt.referenceSeconds() <= end)
            continue;
        moved = true;
        note.createdAt = note.updatedAt =
            Instant::fromReferenceSeconds(uniform(m_options.start.referenceSeconds(), end));
        const QList<Flashcard> cards = makeCards(note);
        for (qsizetype c = 0; c < cards.size(); ++c)
            snapshot.cards[firstCard[static_cast<std::size_t>(i)] + c] = cards[c];
    }
    if (moved) {
        // Keep notes listed by creation time, and cards by note.
        std::vector<qsizetype> order(static_cast<std::size_t>(snapshot.notes.size()));
        for (qsizetype i = 0; i < snapshot.notes.size(); ++i)
            order[static_cast<std::size_t>(i)] = i;
        std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
            return snapshot.notes[a].createdAt < snapshot.notes[b].createdAt;
        });
        QList<Note> notes;
        QList<Flashcard> cards;
        notes.reserve(snapshot.notes.size());
        cards.reserve(snapshot.cards.size());
        for (qsizetype i : order) {
            notes.append(snapshot.notes[i]);
            const qsizetype first = firstCard[static_cast<std::size_t>(i)];
            const qsizetype last = static_cast<std::size_t>(i) + 1 < firstCard.size()
                                       ? firstCard[static_cast<std::size_t>(i) + 1]
                                       : snapshot.cards.size();
            for (qsizetype c = first; c < last; ++c)
                cards.append(snapshot.cards[c]);
        }
        snapshot.notes = std::move(notes);
        snapshot.cards = std::move(cards);
    }

    for (Flashcard& card : snapshot.cards)
        if (chance(0.01))
            card.isSuspended = true;
    return snapshot;
}

} // namespace

LibrarySnapshot generateHeavyLibrary(const HeavyLibraryOptions& options) {
    return Generator(options).run();
}

QByteArray heavyLibraryImage(const HeavyLibraryOptions& options, qsizetype index) {
    // Noise does not compress: stored deflate blocks keep the file at the size asked for, quickly.
    const double pixelBytes = static_cast<double>(std::max<qsizetype>(options.imageBytes, 64));
    const auto side = static_cast<qsizetype>(std::max(1.0, std::floor(std::sqrt(pixelBytes / 3))));
    const qsizetype rowBytes = 1 + 3 * side;
    QByteArray pixels(rowBytes * side, Qt::Uninitialized);
    std::mt19937_64 random(options.seed ^ (0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(index + 1)));
    for (qsizetype i = 0; i < pixels.size(); i += 8) {
        const std::uint64_t bits = random();
        std::memcpy(pixels.data() + i, &bits, static_cast<std::size_t>(std::min<qsizetype>(8, pixels.size() - i)));
    }
    for (qsizetype row = 0; row < side; ++row)
        pixels[row * rowBytes] = 0; // filter type None

    uLongf packedSize = compressBound(static_cast<uLong>(pixels.size()));
    QByteArray packed(static_cast<qsizetype>(packedSize), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(pixels.constData()), static_cast<uLong>(pixels.size()),
                  Z_NO_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlib could not pack the image");
    packed.truncate(static_cast<qsizetype>(packedSize));

    QByteArray header;
    appendBigEndian(header, static_cast<std::uint32_t>(side));
    appendBigEndian(header, static_cast<std::uint32_t>(side));
    header.append("\x08\x02\x00\x00\x00", 5); // 8 bits per channel, RGB, deflate, no filter, no interlace
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", QByteArray());
    return png;
}

QString heavyLibraryImageID(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()) +
           QStringLiteral(".png");
}
