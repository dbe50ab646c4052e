#include "app/services/AppModel.h"

#include "app/services/TextSearch.h"
#include "core/CardFactory.h"
#include "core/QuendaError.h"
#include "core/StudyQueue.h"
#include "core/StudyScheduler.h"
#include "persistence/SQLiteLibraryRepository.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>

namespace {

constexpr double kToastSeconds = 3;
constexpr double kBackupDelaySeconds = 6;
constexpr double kClockSeconds = 10;

QuendaError unavailable() { return QuendaError::invalidContent(QStringLiteral("L’archivio non è disponibile.")); }

LibrarySnapshot emptyLibrary() { return LibrarySnapshot{.libraryID = Uuid::createRandom()}; }

} // namespace

QString messageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const QuendaError& e) {
        return e.errorDescription();
    } catch (const PlatformError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Errore sconosciuto.");
    }
}

AppModel::AppModel(QString rootDirectory, Clock& clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_library(emptyLibrary()), m_currentDate(clock.now()),
      m_rootDirectory(rootDirectory), m_mediaDirectory(QDir(rootDirectory).filePath(QStringLiteral("Media"))),
      m_backupDirectory(QDir(rootDirectory).filePath(QStringLiteral("Backups"))),
      m_backupService(m_backupDirectory, m_mediaDirectory) {}

AppModel::~AppModel() {
    m_backupToken.cancel();
    m_backupTimer.cancel();
    m_toastTimer.cancel();
    m_clockTimer.cancel();
}

QString AppModel::defaultRootDirectory() {
    const QString fromEnvironment = qEnvironmentVariable("QUENDA_DATA_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("Quenda"));
}

// MARK: Properties

template <typename T>
static bool assign(T& field, const T& value) {
    if (field == value)
        return false;
    field = value;
    return true;
}

void AppModel::setLibrary(LibrarySnapshot library) {
    if (m_library == library)
        return;
    m_library = std::move(library);
    emit libraryChanged();
}
void AppModel::setSelection(const NavigationItem& selection) {
    if (assign(m_selection, selection))
        emit selectionChanged();
}
void AppModel::setSearch(const QString& search) {
    if (assign(m_search, search))
        emit searchChanged();
}
void AppModel::setIsLoading(bool value) {
    if (assign(m_isLoading, value))
        emit isLoadingChanged();
}
void AppModel::setIsWorking(bool value) {
    if (assign(m_isWorking, value))
        emit isWorkingChanged();
}
void AppModel::setErrorMessage(const std::optional<QString>& message) {
    if (assign(m_errorMessage, message))
        emit errorMessageChanged();
}
void AppModel::clearErrorMessage() { setErrorMessage(std::nullopt); }
void AppModel::setStartupError(const std::optional<QString>& message) {
    if (assign(m_startupError, message))
        emit startupErrorChanged();
}
void AppModel::setToast(const std::optional<QString>& toast) {
    if (assign(m_toast, toast))
        emit toastChanged();
}
void AppModel::setPendingImport(const std::optional<ImportRequest>& request) {
    if (assign(m_pendingImport, request))
        emit pendingImportChanged();
}
void AppModel::dismissImport() { setPendingImport(std::nullopt); }
void AppModel::setLastBackup(const std::optional<Instant>& date) {
    if (assign(m_lastBackup, date))
        emit lastBackupChanged();
}
void AppModel::setBackupError(const std::optional<QString>& message) {
    if (assign(m_backupError, message))
        emit backupErrorChanged();
}
void AppModel::setCurrentDate(Instant date) {
    if (assign(m_currentDate, date))
        emit currentDateChanged();
}

// MARK: Start-up and reload

QFuture<void> AppModel::start() { return startTask(); }

Task<void> AppModel::startTask() {
    if (m_isStarting || m_repository)
        co_return;
    m_isStarting = true;
    setIsLoading(true);
    setStartupError(std::nullopt);
    std::exception_ptr failure;
    try {
        for (const QString& directory : {m_rootDirectory, m_mediaDirectory, m_backupDirectory})
            if (!QDir().mkpath(directory))
                throw PlatformError(QStringLiteral("Impossibile creare la cartella “%1”.").arg(directory));
        m_repository = std::make_unique<SQLiteLibraryRepository>(QDir(m_rootDirectory).filePath("library.sqlite"));
        co_await on(this, reload());
        setStartupError(std::nullopt);
        if (!m_library.decks.isEmpty())
            scheduleBackup();
    } catch (const OperationCancelled&) {
        m_repository.reset();
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        m_repository.reset();
        setStartupError(messageOf(failure));
    }
    m_isStarting = false;
    setIsLoading(false);
}

LibraryRepository& AppModel::repository() const {
    if (!m_repository)
        throw unavailable();
    return *m_repository;
}

Task<void> AppModel::reload() {
    m_snapshotIsCurrent = false;
    LibrarySnapshot loaded = co_await on(this, repository().load());
    setLibrary(std::move(loaded));
    m_snapshotIsCurrent = true;
    setCurrentDate(m_clock.now());
}

void AppModel::applyRecordedReview(const ReviewEvent& event) {
    for (Flashcard& card : m_library.cards)
        if (card.id == event.cardID) {
            card.memory = event.after;
            break;
        }
    m_library.reviews.append(event); // the store lists reviews in insertion order
    emit libraryChanged();
    setCurrentDate(m_clock.now());
}

void AppModel::applyUndoneReview(const ReviewEvent& undone) {
    for (Flashcard& card : m_library.cards)
        if (card.id == undone.cardID) {
            card.memory = undone.before;
            break;
        }
    for (qsizetype i = m_library.reviews.size() - 1; i >= 0; --i)
        if (m_library.reviews[i].id == undone.id) {
            m_library.reviews[i] = undone;
            break;
        }
    emit libraryChanged();
    setCurrentDate(m_clock.now());
}

// MARK: Actions

Task<bool> AppModel::perform(Operation operation) {
    if (m_isWorking)
        co_return false;
    setIsWorking(true);
    std::exception_ptr failure;
    bool cancelled = false;
    try {
        co_await on(this, operation());
    } catch (const OperationCancelled&) {
        cancelled = true;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        setErrorMessage(messageOf(failure));
    setIsWorking(false);
    co_return !failure && !cancelled;
}

QFuture<bool> AppModel::saveDeck(const Deck& deck) {
    return perform([this, deck] { return saveDeckSteps(deck); });
}

Task<void> AppModel::saveDeckSteps(Deck deck) {
    co_await on(this, repository().saveDeck(deck));
    co_await on(this, reload());
    setSelection(NavigationItem::deck(deck.id));
    scheduleBackup();
}

QFuture<bool> AppModel::saveNote(const Note& note) {
    return perform([this, note] { return saveNoteSteps(note); });
}

Task<void> AppModel::saveNoteSteps(Note note) {
    QList<Flashcard> existing;
    for (const Flashcard& card : std::as_const(m_library.cards))
        if (card.noteID == note.id)
            existing.append(card);
    const QList<Flashcard> cards = CardFactory::cards(note, existing, m_clock.now());
    co_await on(this, repository().saveNote(note, cards));
    co_await on(this, reload());
    notify(QStringLiteral("Carta salvata"));
    scheduleBackup();
}

QFuture<bool> AppModel::deleteNote(const Note& note) {
    return perform([this, id = note.id] { return deleteNoteSteps(id); });
}

Task<void> AppModel::deleteNoteSteps(Uuid noteID) {
    co_await on(this, repository().deleteNote(noteID));
    co_await on(this, reload());
    scheduleBackup();
    notify(QStringLiteral("Carta eliminata"));
}

QFuture<bool> AppModel::deleteDeck(const Deck& deck) {
    return perform([this, id = deck.id] { return deleteDeckSteps(id); });
}

Task<void> AppModel::deleteDeckSteps(Uuid deckID) {
    co_await on(this, repository().deleteDeck(deckID));
    co_await on(this, reload());
    setSelection(NavigationItem::library());
    scheduleBackup();
}

QFuture<bool> AppModel::toggleSuspended(const Note& note) {
    QList<Uuid> cardIDs;
    bool allSuspended = true;
    for (const Flashcard& card : std::as_const(m_library.cards)) {
        if (card.noteID != note.id)
            continue;
        cardIDs.append(card.id);
        allSuspended = allSuspended && card.isSuspended;
    }
    const bool suspend = !cardIDs.isEmpty() && !allSuspended;
    return perform([this, cardIDs, suspend] { return setSuspendedSteps(cardIDs, suspend); });
}

Task<void> AppModel::setSuspendedSteps(QList<Uuid> cardIDs, bool suspended) {
    co_await on(this, repository().setSuspended(cardIDs, suspended));
    co_await on(this, reload());
    scheduleBackup();
}

QFuture<bool> AppModel::review(const Flashcard& card, ReviewRating rating) {
    return perform([this, card, rating] { return reviewSteps(card, rating); });
}

Task<void> AppModel::reviewSteps(Flashcard card, ReviewRating rating) {
    const ReviewEvent event =
        StudyScheduler(m_library.preferences.desiredRetention).review(card, rating, m_clock.now());
    co_await on(this, repository().recordReview(event));
    if (m_snapshotIsCurrent)
        applyRecordedReview(event);
    else
        co_await on(this, reload());
    scheduleBackup();
}

QFuture<std::optional<ReviewEvent>> AppModel::undoReview() {
    auto undone = std::make_shared<std::optional<ReviewEvent>>();
    QFuture<bool> done = perform([this, undone] { return undoReviewSteps(undone); });
    return done.then([undone](bool) { return *undone; });
}

Task<void> AppModel::undoReviewSteps(std::shared_ptr<std::optional<ReviewEvent>> undone) {
    *undone = co_await on(this, repository().undoLastReview(m_clock.now()));
    if (m_snapshotIsCurrent) {
        if (*undone)
            applyUndoneReview(**undone);
        else
            setCurrentDate(m_clock.now());
    } else {
        try {
            co_await on(this, reload());
        } catch (...) {
            undone->reset(); // the result counts only when the whole action succeeded
            throw;
        }
    }
    scheduleBackup();
}

QFuture<bool> AppModel::savePreferences(const StudyPreferences& preferences) {
    return perform([this, preferences] { return savePreferencesSteps(preferences); });
}

Task<void> AppModel::savePreferencesSteps(StudyPreferences preferences) {
    co_await on(this, repository().savePreferences(preferences));
    co_await on(this, reload());
    scheduleBackup();
}

QFuture<bool> AppModel::addExampleDeck() {
    const Instant now = m_clock.now();
    const Deck deck{Uuid::createRandom(), QStringLiteral("Piccole scoperte"), QStringLiteral("Sei idee per provare Quenda"),
                    QStringLiteral("sparkle"), QStringLiteral("4F5FE7"), now, now};
    const struct {
        NoteKind kind;
        const char16_t* front;
        const char16_t* back;
        const char16_t* tag;
    } samples[] = {
        {NoteKind::basic, u"Qual è la capitale del Giappone?", u"Tokyo.", u"geografia"},
        {NoteKind::reversed, u"Serendipity", u"Una scoperta felice e inattesa.", u"inglese"},
        {NoteKind::cloze, u"Il simbolo chimico dell’oro è {{c1::Au}}.", u"Dal latino aurum.", u"scienza"},
        {NoteKind::basic, u"Chi ha scritto il romanzo 1984?", u"George Orwell.", u"libri"},
        {NoteKind::basic, u"Quanti lati ha un esagono?", u"Sei.", u"geometria"},
    };
    QList<Note> notes;
    for (const auto& sample : samples)
        notes.append(Note{.id = Uuid::createRandom(),
                          .deckID = deck.id,
                          .kind = sample.kind,
                          .front = QString::fromUtf16(sample.front),
                          .back = QString::fromUtf16(sample.back),
                          .tags = {QString::fromUtf16(sample.tag)},
                          .createdAt = now,
                          .updatedAt = now});
    return perform([this, deck, notes] { return addExampleDeckSteps(deck, notes); });
}

Task<void> AppModel::addExampleDeckSteps(Deck deck, QList<Note> notes) {
    LibrarySnapshot sample{.libraryID = Uuid::createRandom(), .decks = {deck}, .notes = notes};
    const Instant now = m_clock.now();
    for (const Note& note : std::as_const(notes))
        sample.cards += CardFactory::cards(note, {}, now);
    co_await on(this, repository().importLibrary(sample, false));
    co_await on(this, reload());
    setSelection(NavigationItem::today());
    scheduleBackup();
    notify(QStringLiteral("Il tuo primo mazzo è pronto"));
}

// MARK: Timers

void AppModel::notify(const QString& message) {
    m_toastTimer.cancel();
    setToast(message);
    m_toastTimer = m_clock.startTimer(kToastSeconds, this, [this] { setToast(std::nullopt); });
}

void AppModel::observeClock() {
    m_clockTimer.cancel();
    tickClock();
}

void AppModel::stopObservingClock() { m_clockTimer.cancel(); }

void AppModel::tickClock() {
    setCurrentDate(m_clock.now());
    m_clockTimer = m_clock.startTimer(kClockSeconds, this, [this] { tickClock(); });
}

void AppModel::cancelPendingBackup() {
    m_backupTimer.cancel();
    m_backupToken.cancel();
}

void AppModel::scheduleBackup() {
    cancelPendingBackup();
    const quint64 revision = ++m_backupRevision;
    const CancellationToken token;
    m_backupToken = token;
    m_backupTimer = m_clock.startTimer(kBackupDelaySeconds, this,
                                       [this, revision, token] { writeAutomaticBackup(revision, token); });
}

QFuture<void> AppModel::writePendingBackup() {
    if (!m_backupTimer.isActive())
        return QtFuture::makeReadyFuture();
    m_backupTimer.cancel();
    return writeAutomaticBackup(m_backupRevision, m_backupToken);
}

Task<void> AppModel::writeAutomaticBackup(quint64 revision, CancellationToken token) {
    if (token.isCancelled())
        co_return;
    std::exception_ptr failure;
    std::optional<Instant> written;
    try {
        written = co_await on(this, m_backupService.writeAutomatic(m_library, revision, m_clock.now(),
                                                                   m_clock.timeZone(), token));
    } catch (const OperationCancelled&) {
        co_return;
    } catch (...) {
        failure = std::current_exception();
    }
    // A newer request supersedes this one: its outcome, even a failure, is no longer news.
    if (token.isCancelled() || m_backupRevision != revision)
        co_return;
    if (failure) {
        setBackupError(messageOf(failure));
        co_return;
    }
    if (written)
        setLastBackup(written);
    setBackupError(std::nullopt);
}

// MARK: Derived values

QList<Note> AppModel::notes(const std::optional<Uuid>& deckID) const {
    QList<Note> result;
    std::optional<TextSearch> search;
    if (!m_search.isEmpty())
        search.emplace(m_search);
    for (const Note& note : m_library.notes) {
        if (deckID && note.deckID != *deckID)
            continue;
        if (search) {
            const QString front = note.frontDocument ? note.frontDocument->exportText() : note.front;
            const QString back = note.backDocument ? note.backDocument->exportText() : note.back;
            if (!search->isContained(front + u' ' + back + u' ' + note.tags.join(u' ')))
                continue;
        }
        result.append(note);
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const Note& a, const Note& b) { return a.updatedAt > b.updatedAt; });
    return result;
}

QList<Flashcard> AppModel::queue(const std::optional<Uuid>& deckID, const std::optional<Instant>& now) const {
    return StudyQueue::cards(m_library, deckID, now.value_or(m_currentDate), m_clock.timeZone());
}

std::optional<Deck> AppModel::selectedDeck() const {
    if (m_selection.kind() != NavigationItem::Kind::deck)
        return std::nullopt;
    for (const Deck& deck : m_library.decks)
        if (deck.id == m_selection.deckID())
            return deck;
    return std::nullopt;
}

QList<ReviewEvent> AppModel::activeReviews() const {
    QList<ReviewEvent> result;
    for (const ReviewEvent& review : m_library.reviews)
        if (!review.undoneAt)
            result.append(review);
    return result;
}

QList<ReviewEvent> AppModel::reviewsToday() const {
    const QTimeZone zone = m_clock.timeZone();
    const Instant start = StudyQueue::startOfDay(m_currentDate, zone);
    // Days last 23 to 25 hours, so 36 hours after a day's start always falls on the next day.
    const Instant end = StudyQueue::startOfDay(start.addingSeconds(36 * 3600), zone);
    QList<ReviewEvent> result;
    for (const ReviewEvent& review : m_library.reviews)
        if (!review.undoneAt && review.reviewedAt >= start && review.reviewedAt < end)
            result.append(review);
    return result;
}

qsizetype AppModel::dueCount() const {
    return std::count_if(m_library.cards.cbegin(), m_library.cards.cend(), [this](const Flashcard& card) {
        return !card.isSuspended && card.memory.stage != MemoryStage::new_ && card.memory.due <= m_currentDate;
    });
}

qsizetype AppModel::newCount() const {
    return std::count_if(m_library.cards.cbegin(), m_library.cards.cend(), [](const Flashcard& card) {
        return !card.isSuspended && card.memory.stage == MemoryStage::new_;
    });
}
