#include "app/services/BackupService.h"

#include "core/QuendaError.h"
#include "exchange/QuendaPackage.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

const QString kPreImportPrefix = QStringLiteral("Quenda-prima-importazione-");
const QString kExtension = QStringLiteral(".quenda");

QDateTime dateTime(Instant instant, const QTimeZone& zone) {
    return QDateTime::fromMSecsSinceEpoch(qint64(std::floor(instant.unixMilliseconds())), zone);
}

void createDirectory(const QString& path) {
    if (!QDir().mkpath(path))
        throw PlatformError(QStringLiteral("Impossibile creare la cartella “%1”.").arg(path));
}

} // namespace

BackupService::BackupService(QString directory, QString mediaDirectory)
    : m_directory(std::move(directory)), m_mediaDirectory(std::move(mediaDirectory)) {
    m_worker.setMaxThreadCount(1); // one operation at a time, in the order they were asked for
}

BackupService::~BackupService() { m_worker.waitForDone(); }

bool BackupService::isAutomaticBackupName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^Quenda-[0-9]{4}-[0-9]{2}-[0-9]{2}\\.quenda$"));
    return pattern.match(name).hasMatch();
}

bool BackupService::isPreImportBackupName(const QString& name) {
    return name.startsWith(kPreImportPrefix) && name.endsWith(kExtension);
}

QFuture<std::optional<Instant>> BackupService::writeAutomatic(LibrarySnapshot snapshot, quint64 revision, Instant now,
                                                             QTimeZone zone, CancellationToken token) {
    return runInBackground(&m_worker, [this, snapshot = std::move(snapshot), revision, now, zone, token] {
        token.check();
        if (revision < m_newestAutomaticRevision)
            return std::optional<Instant>();
        m_newestAutomaticRevision = revision;
        createDirectory(m_directory);
        // The day is the user's local calendar day; C-locale formatting keeps ASCII digits.
        const QString date = dateTime(now, zone).date().toString(QStringLiteral("yyyy-MM-dd"));
        write(snapshot, QStringLiteral("Quenda-") + date + kExtension);
        prune(kAutomaticBackupsKept, &isAutomaticBackupName);
        return std::optional<Instant>(now);
    });
}

QFuture<QString> BackupService::writeBeforeImport(LibrarySnapshot snapshot, Instant now, CancellationToken token) {
    return runInBackground(&m_worker, [this, snapshot = std::move(snapshot), now, token] {
        token.check();
        createDirectory(m_directory);
        const QString timestamp =
            dateTime(now, QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz"));
        const QString name = kPreImportPrefix + timestamp + u'-' + Uuid::createRandom().toString() + kExtension;
        write(snapshot, name);
        prune(kPreImportBackupsKept, &isPreImportBackupName);
        return QDir(m_directory).filePath(name);
    });
}

void BackupService::write(const LibrarySnapshot& snapshot, const QString& name) const {
    QuendaPackage::write(snapshot, PackageKind::backup, m_mediaDirectory,
                         QUrl::fromLocalFile(QDir(m_directory).filePath(name)));
}

void BackupService::prune(int limit, bool (*matching)(const QString&)) const {
    const QFileInfoList entries = QDir(m_directory).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    QStringList names;
    for (const QFileInfo& entry : entries) {
        if (entry.isHidden() || !matching(entry.fileName()))
            continue;
        if (entry.isFile() && !entry.isSymLink())
            names.append(entry.fileName());
    }
    // The names sort by date, so descending order puts the newest first.
    std::sort(names.begin(), names.end(), std::greater<>());
    for (qsizetype i = limit; i < names.size(); ++i) {
        QFile file(QDir(m_directory).filePath(names[i]));
        if (!file.remove())
            throw PlatformError(file.errorString());
    }
}
