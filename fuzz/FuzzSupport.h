#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

// Shared by the fuzz targets: the readers under test take files, so inputs go through one scratch file.

namespace fuzzsupport {

/// Writes the input to a scratch file of this process and returns its path.
inline QString writeScratchFile(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("input"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        std::abort();
    return path;
}

} // namespace fuzzsupport
