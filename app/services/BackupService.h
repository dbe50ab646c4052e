#pragma once

#include "app/services/Task.h"
#include "core/LibraryRecords.h"

#include <QFuture>
#include <QString>
#include <QThreadPool>
#include <QTimeZone>

#include <optional>

/// Keeps safety copies of the library as backup packages in the backup folder:
///  - automatic backups, one file per calendar day of the user's time zone ("Quenda-2025-03-14.quenda"),
///    rewritten during the day, the newest 7 kept;
///  - pre-import backups, one per import ("Quenda-prima-importazione-2025-03-14_09-05-07-042-<UUID>.quenda",
///    UTC time), the newest 5 kept.
/// Every copy is a complete backup package (reviews, preferences and images) that the ordinary import
/// of a backup restores. Other files in the folder are never touched.
///
/// All operations are queued and run one at a time on the service's own worker thread; call them from
/// any thread and await the returned future. A request whose token is cancelled before it starts fails
/// with OperationCancelled and writes nothing. Package, file-system and pruning errors come back through
/// the future unchanged (QuendaError or PlatformError); a pruning error after a successful write leaves
/// the new file in place.
class BackupService {
public:
    static constexpr int kAutomaticBackupsKept = 7;
    static constexpr int kPreImportBackupsKept = 5;

    BackupService(QString directory, QString mediaDirectory);
    /// Waits for the queued operations to finish.
    ~BackupService();

    const QString& directory() const { return m_directory; }

    /// Writes the automatic backup of the day of `now` in `zone`, replacing that day's earlier file,
    /// unless `revision` is older than the newest revision written so far (then nothing is written and
    /// the result is absent). Returns `now` when a file was written.
    QFuture<std::optional<Instant>> writeAutomatic(LibrarySnapshot snapshot, quint64 revision, Instant now,
                                                  QTimeZone zone, CancellationToken token = {});

    /// Writes a new pre-import backup named from `now` in UTC and a random identifier; returns its path.
    QFuture<QString> writeBeforeImport(LibrarySnapshot snapshot, Instant now, CancellationToken token = {});

    /// Whether `name` is the name of an automatic backup ("Quenda-yyyy-MM-dd.quenda").
    static bool isAutomaticBackupName(const QString& name);
    /// Whether `name` is the name of a pre-import backup.
    static bool isPreImportBackupName(const QString& name);

private:
    void write(const LibrarySnapshot& snapshot, const QString& name) const;
    void prune(int limit, bool (*matching)(const QString&)) const;

    QString m_directory;
    QString m_mediaDirectory;
    quint64 m_newestAutomaticRevision = 0; // touched only on the worker
    QThreadPool m_worker;
};
