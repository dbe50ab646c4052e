#pragma once

#include "app/services/BackupService.h"
#include "app/services/Clock.h"
#include "app/services/FileDialogs.h"
#include "app/services/NavigationItem.h"
#include "app/services/Task.h"
#include "core/LibraryRecords.h"
#include "exchange/QuendaPackage.h"

#include <QFuture>
#include <QObject>

#include <memory>
#include <optional>

class LibraryRepository;

/// An import read from a file and waiting for the user's decision in the import preview.
struct ImportRequest {
    Uuid id; ///< new for every prepared import
    ImportedPackage package;
    QString filename; ///< the last path component of the file that was read

    friend bool operator==(const ImportRequest&, const ImportRequest&) = default;
};

/// The one object behind every screen and every quenda-cli command. It owns the library repository
/// and the backup service, keeps the whole library in memory as one snapshot, derives the numbers the
/// screens show and carries out every user action: validate through the core model, write through one
/// repository operation, reload the snapshot, ask for an automatic backup 6 seconds later, and show a
/// short confirmation ("toast") for 3 seconds.
///
/// Lives on the user-interface thread and must only be used there. Every stored property has a
/// change signal emitted only when the value really changes. Actions return futures that finish on the
/// user-interface thread; at most one action runs at a time (a second one is refused, returning false
/// without a message), and a failed action reports its message once, in `errorMessage`. Time, the time
/// zone and timers come from the injected Clock.
class AppModel : public QObject {
    Q_OBJECT

public:
    /// A model on the data directory `rootDirectory` ("library.sqlite", "Media", "Backups" beneath it).
    explicit AppModel(QString rootDirectory, Clock& clock = Clock::system(), QObject* parent = nullptr);
    ~AppModel() override;

    /// QUENDA_DATA_DIR when set, else "Quenda" in the user's data location.
    static QString defaultRootDirectory();

    // Stored properties.
    const LibrarySnapshot& library() const { return m_library; }
    const NavigationItem& selection() const { return m_selection; }
    void setSelection(const NavigationItem& selection);
    const QString& search() const { return m_search; }
    void setSearch(const QString& search);
    bool isLoading() const { return m_isLoading; }
    bool isWorking() const { return m_isWorking; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    /// The view clears the message when the user dismisses the alert.
    void clearErrorMessage();
    const std::optional<QString>& startupError() const { return m_startupError; }
    const std::optional<QString>& toast() const { return m_toast; }
    const std::optional<ImportRequest>& pendingImport() const { return m_pendingImport; }
    /// The import preview clears the pending import when the user dismisses it.
    void dismissImport();
    const std::optional<Instant>& lastBackup() const { return m_lastBackup; }
    const std::optional<QString>& backupError() const { return m_backupError; }
    Instant currentDate() const { return m_currentDate; }
    /// Sets "now" for the derived counts; the shell calls it when the application becomes active.
    void setCurrentDate(Instant date);
    const QString& rootDirectory() const { return m_rootDirectory; }
    const QString& mediaDirectory() const { return m_mediaDirectory; }
    const QString& backupDirectory() const { return m_backupDirectory; }
    Clock& clock() const { return m_clock; }
    /// The dialogs the import and export flows ask for files; without them those flows do nothing.
    void setFileDialogs(FileDialogs* dialogs) { m_fileDialogs = dialogs; }

    /// Opens the library once: creates the folders, opens (creating and migrating) the database, loads
    /// the snapshot and schedules a backup when the library has a deck. A failure sets `startupError`;
    /// `start` may then be called again.
    QFuture<void> start();

    // Actions: true when the action ran to its end, false when refused or failed.
    QFuture<bool> saveDeck(const Deck& deck);
    QFuture<bool> saveNote(const Note& note);
    QFuture<bool> deleteNote(const Note& note);
    QFuture<bool> deleteDeck(const Deck& deck);
    /// Suspends every card of the note, or resumes them all when every one is suspended already.
    QFuture<bool> toggleSuspended(const Note& note);
    QFuture<bool> review(const Flashcard& card, ReviewRating rating);
    /// Undoes the most recent standing review; absent when there was nothing to undo or it failed.
    QFuture<std::optional<ReviewEvent>> undoReview();
    QFuture<bool> savePreferences(const StudyPreferences& preferences);
    /// Adds the sample deck "Piccole scoperte" with five notes (merged, so twice gives two decks).
    QFuture<bool> addExampleDeck();

    // Import and export. The file work runs on background threads, on copies of the data.
    /// Asks for a package or CSV/TSV file and prepares its import.
    QFuture<bool> importFile();
    /// Reads `url` (a package, or a "csv", "tsv" or "txt" file as a deck) into `pendingImport`.
    QFuture<bool> prepareImport(const QUrl& url);
    /// Applies a prepared import: merged into the library, or, with `replace`, restored over it. A
    /// pre-import backup is written first when the library has a deck.
    QFuture<bool> applyImport(const ImportRequest& request, bool replace);
    /// Asks where to save, then writes the deck as a package without personal progress.
    QFuture<bool> exportDeck(const Deck& deck);
    /// Asks where to save, then writes the whole library as a backup package.
    QFuture<bool> exportBackup();
    /// Asks where to save, then writes the deck's notes as CSV.
    QFuture<bool> exportCSV(const Deck& deck);
    /// Asks for an image file and stores it; its identifier, or nothing when cancelled or refused
    /// (the refusal goes to `errorMessage`).
    std::optional<QString> chooseImage();
    /// Checks and stores image bytes (pasted images); returns the identifier. Throws on refusal.
    QString importImage(const QByteArray& data, const std::optional<QString>& preferredExtension);
    /// Reads at most `maximumSize` bytes of a regular, non-empty file no larger than that; refuses
    /// anything else with "Il file non è valido o supera N MB.".
    static QByteArray readBoundedFile(const QUrl& url, qint64 maximumSize);

    /// Shows `message` as the toast for 3 seconds; a newer toast restarts the 3 seconds.
    void notify(const QString& message);
    /// Refreshes `currentDate` now and every 10 seconds until `stopObservingClock`.
    void observeClock();
    void stopObservingClock();
    /// Writes the pending automatic backup now instead of when its delay ends (quenda-cli calls it
    /// before exiting). Finishes at once when no backup is pending.
    QFuture<void> writePendingBackup();

    // Derived values: computed from `library` and `currentDate` on every call.
    /// Notes of one deck (or all), filtered by `search`, most recently updated first.
    QList<Note> notes(const std::optional<Uuid>& deckID) const;
    /// The cards to study now, in study order.
    QList<Flashcard> queue(const std::optional<Uuid>& deckID = std::nullopt,
                           const std::optional<Instant>& now = std::nullopt) const;
    std::optional<Deck> selectedDeck() const;
    QList<ReviewEvent> activeReviews() const;
    /// Standing reviews made on the calendar day of `currentDate` in the clock's time zone.
    QList<ReviewEvent> reviewsToday() const;
    /// Unsuspended cards past the new stage whose due time has come.
    qsizetype dueCount() const;
    /// Unsuspended cards never studied, with no daily limit applied.
    qsizetype newCount() const;

signals:
    void libraryChanged();
    void selectionChanged();
    void searchChanged();
    void isLoadingChanged();
    void isWorkingChanged();
    void errorMessageChanged();
    void startupErrorChanged();
    void toastChanged();
    void pendingImportChanged();
    void lastBackupChanged();
    void backupErrorChanged();
    void currentDateChanged();

private:
    // An action's steps run as a coroutine whose parameters are copies, started by `perform` only when
    // no other action runs.
    using Operation = std::function<Task<void>()>;
    Task<bool> perform(Operation operation);
    Task<void> saveDeckSteps(Deck deck);
    Task<void> saveNoteSteps(Note note);
    Task<void> deleteNoteSteps(Uuid noteID);
    Task<void> deleteDeckSteps(Uuid deckID);
    Task<void> setSuspendedSteps(QList<Uuid> cardIDs, bool suspended);
    Task<void> reviewSteps(Flashcard card, ReviewRating rating);
    Task<void> undoReviewSteps(std::shared_ptr<std::optional<ReviewEvent>> undone);
    Task<void> savePreferencesSteps(StudyPreferences preferences);
    Task<void> addExampleDeckSteps(Deck deck, QList<Note> notes);
    Task<void> prepareImportSteps(QUrl url);
    Task<void> applyImportSteps(ImportRequest request, bool replace);
    QFuture<bool> exportPackage(LibrarySnapshot snapshot, PackageKind kind, const QString& filename);
    Task<void> exportPackageSteps(LibrarySnapshot snapshot, PackageKind kind, QUrl location);
    Task<void> exportCSVSteps(QList<Note> notes, QUrl location);
    Task<void> reload();
    // Bring the snapshot up to date after a review was recorded or undone, without a full reload:
    // the store changed exactly one card and one review, so applying the same change in memory gives
    // the snapshot a full load would (tests compare the two).
    void applyRecordedReview(const ReviewEvent& event);
    void applyUndoneReview(const ReviewEvent& undone);
    LibraryRepository& repository() const;
    void scheduleBackup();
    void cancelPendingBackup();
    Task<void> writeAutomaticBackup(quint64 revision, CancellationToken token);
    void tickClock();

    void setLibrary(LibrarySnapshot library);
    void setIsLoading(bool value);
    void setIsWorking(bool value);
    void setErrorMessage(const std::optional<QString>& message);
    void setStartupError(const std::optional<QString>& message);
    void setToast(const std::optional<QString>& toast);
    void setPendingImport(const std::optional<ImportRequest>& request);
    void setLastBackup(const std::optional<Instant>& date);
    void setBackupError(const std::optional<QString>& message);

    Task<void> startTask();

    Clock& m_clock;
    LibrarySnapshot m_library;
    NavigationItem m_selection = NavigationItem::today();
    QString m_search;
    bool m_isLoading = true;
    bool m_isWorking = false;
    std::optional<QString> m_errorMessage;
    std::optional<QString> m_startupError;
    std::optional<QString> m_toast;
    std::optional<ImportRequest> m_pendingImport;
    std::optional<Instant> m_lastBackup;
    std::optional<QString> m_backupError;
    Instant m_currentDate;
    const QString m_rootDirectory;
    const QString m_mediaDirectory;
    const QString m_backupDirectory;
    std::unique_ptr<LibraryRepository> m_repository;
    BackupService m_backupService;
    quint64 m_backupRevision = 0;
    ClockTimer m_backupTimer;
    CancellationToken m_backupToken;
    ClockTimer m_toastTimer;
    ClockTimer m_clockTimer;
    bool m_isStarting = false;
    // False when a write may have succeeded without the reload that should have followed it; then the
    // next review reloads in full instead of patching a stale snapshot.
    bool m_snapshotIsCurrent = false;
    FileDialogs* m_fileDialogs = nullptr;
};

/// The message of a failure as the user sees it: a QuendaError's text, or the platform's description.
QString messageOf(std::exception_ptr error);
