#include "exchange/ZipArchive.h"

#include <QFile>

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <exception>

namespace {

constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixRegular = 0100000;
constexpr std::uint32_t kUnixDirectory = 0040000;
constexpr std::uint32_t kUnixSymbolicLink = 0120000;
constexpr std::uint32_t kDosDirectoryBit = 0x10;
constexpr std::uint32_t kRegularFileAttributes = (kUnixRegular | 0644) << 16;

[[noreturn]] void throwArchiveError(zip_t* archive) {
    throw PlatformError(QString::fromUtf8(zip_strerror(archive)));
}

ZipArchive::EntryKind entryKind(const QByteArray& name, std::uint8_t opsys, std::uint32_t attributes) {
    const std::uint32_t type = (attributes >> 16) & kUnixTypeMask;
    if (type == kUnixSymbolicLink)
        return ZipArchive::EntryKind::symbolicLink;
    if (type == kUnixDirectory || name.endsWith('/') || (opsys == ZIP_OPSYS_DOS && (attributes & kDosDirectoryBit)))
        return ZipArchive::EntryKind::directory;
    if (type == 0 || type == kUnixRegular)
        return ZipArchive::EntryKind::file;
    return ZipArchive::EntryKind::other;
}

std::uint32_t crc32Of(std::uint32_t crc, const char* data, std::int64_t size) {
    return static_cast<std::uint32_t>(::crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

} // namespace

/// What libzip needs to pull one entry's bytes from its provider during `zip_close`.
struct ZipArchive::PendingFile {
    QString path;
    DataProvider provider;
    std::uint64_t declaredSize = 0;
    time_t modifiedAt = 0;
    std::uint64_t produced = 0;
    zip_error_t error{};
    std::exception_ptr failure;

    PendingFile() { zip_error_init(&error); }
    ~PendingFile() { zip_error_fini(&error); }

    // libzip is C: nothing may unwind through it, so a failure is kept here and rethrown by `commit`.
    zip_int64_t fail(std::exception_ptr exception) {
        if (!failure)
            failure = std::move(exception);
        zip_error_set(&error, ZIP_ER_INTERNAL, 0);
        return -1;
    }

    zip_int64_t read(char* buffer, zip_uint64_t length) {
        const std::int64_t capacity = static_cast<std::int64_t>(std::min<zip_uint64_t>(length, kChunkSize));
        std::int64_t count = 0;
        try {
            count = provider(buffer, capacity);
        } catch (...) {
            return fail(std::current_exception());
        }
        const bool tooMuch = count < 0 || count > capacity || produced + std::uint64_t(count) > declaredSize;
        const bool tooLittle = count == 0 && produced != declaredSize;
        if (tooMuch || tooLittle) {
            return fail(std::make_exception_ptr(PlatformError(
                QStringLiteral("The data of the archive entry “%1” does not have its declared size.").arg(path))));
        }
        produced += std::uint64_t(count);
        return count;
    }

    static zip_int64_t callback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        auto* self = static_cast<PendingFile*>(userdata);
        switch (command) {
        case ZIP_SOURCE_OPEN:
            self->produced = 0;
            return 0;
        case ZIP_SOURCE_READ:
            return self->read(static_cast<char*>(data), length);
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* stat = static_cast<zip_stat_t*>(data);
            zip_stat_init(stat);
            stat->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            stat->size = self->declaredSize;
            stat->mtime = self->modifiedAt;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&self->error, data, length);
        case ZIP_SOURCE_SUPPORTS:
            return ZIP_SOURCE_SUPPORTS_READABLE;
        default:
            zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }
};

ZipArchive::ZipArchive(zip* archive, bool writing) : m_archive(archive), m_writing(writing) {}

ZipArchive::ZipArchive(ZipArchive&& other) noexcept
    : m_archive(std::exchange(other.m_archive, nullptr)), m_writing(other.m_writing),
      m_pending(std::move(other.m_pending)) {}

ZipArchive& ZipArchive::operator=(ZipArchive&& other) noexcept {
    if (this != &other) {
        if (m_archive)
            zip_discard(m_archive);
        m_archive = std::exchange(other.m_archive, nullptr);
        m_writing = other.m_writing;
        m_pending = std::move(other.m_pending);
    }
    return *this;
}

ZipArchive::~ZipArchive() {
    // zip_discard writes nothing, for an archive being created as for one being read.
    if (m_archive)
        zip_discard(m_archive);
}

static zip_t* openArchive(const QString& path, int flags) {
    int code = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), flags, &code);
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const QString description = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        throw PlatformError(description);
    }
    return archive;
}

ZipArchive ZipArchive::create(const QString& path) {
    return ZipArchive(openArchive(path, ZIP_CREATE | ZIP_TRUNCATE), true);
}

ZipArchive ZipArchive::open(const QString& path) {
    return ZipArchive(openArchive(path, ZIP_RDONLY), false);
}

void ZipArchive::addFile(const QString& path, std::uint64_t declaredSize, Instant modifiedAt, Compression compression,
                         DataProvider provider) {
    Q_ASSERT(m_archive && m_writing);
    auto pending = std::make_unique<PendingFile>();
    pending->path = path;
    pending->provider = std::move(provider);
    pending->declaredSize = declaredSize;
    pending->modifiedAt = modifiedAt.isFinite() ? static_cast<time_t>(modifiedAt.unixSeconds()) : 0;

    zip_source_t* source = zip_source_function(m_archive, &PendingFile::callback, pending.get());
    if (!source)
        throwArchiveError(m_archive);
    const zip_int64_t index = zip_file_add(m_archive, path.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        throwArchiveError(m_archive);
    }
    m_pending.push_back(std::move(pending));
    const auto entry = static_cast<zip_uint64_t>(index);
    const std::int32_t method = compression == Compression::deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
    if (zip_set_file_compression(m_archive, entry, method, 0) != 0
        || zip_file_set_mtime(m_archive, entry, m_pending.back()->modifiedAt, 0) != 0
        || zip_file_set_external_attributes(m_archive, entry, 0, ZIP_OPSYS_UNIX, kRegularFileAttributes) != 0)
        throwArchiveError(m_archive);
}

void ZipArchive::addFile(const QString& path, const QByteArray& data, Instant modifiedAt, Compression compression) {
    std::int64_t offset = 0;
    addFile(path, std::uint64_t(data.size()), modifiedAt, compression,
            [data, offset](char* buffer, std::int64_t capacity) mutable {
                const std::int64_t count = std::min<std::int64_t>(capacity, data.size() - offset);
                std::copy_n(data.constData() + offset, count, buffer);
                offset += count;
                return count;
            });
}

void ZipArchive::commit() {
    Q_ASSERT(m_archive && m_writing);
    if (zip_close(m_archive) == 0) {
        m_archive = nullptr;
        m_pending.clear();
        return;
    }
    const QString description = QString::fromUtf8(zip_strerror(m_archive));
    zip_discard(m_archive);
    m_archive = nullptr;
    for (const auto& pending : m_pending) {
        if (pending->failure)
            std::rethrow_exception(pending->failure);
    }
    throw PlatformError(description);
}

std::uint64_t ZipArchive::entryCount() const {
    Q_ASSERT(m_archive);
    const zip_int64_t count = zip_get_num_entries(m_archive, 0);
    if (count < 0)
        throwArchiveError(m_archive);
    return std::uint64_t(count);
}

ZipArchive::Entry ZipArchive::entry(std::uint64_t index) const {
    Q_ASSERT(m_archive);
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(m_archive, index, ZIP_FL_ENC_RAW, &stat) != 0)
        throwArchiveError(m_archive);
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(m_archive, index, 0, &opsys, &attributes) != 0)
        throwArchiveError(m_archive);
    const QByteArray name = (stat.valid & ZIP_STAT_NAME) && stat.name ? QByteArray(stat.name) : QByteArray();
    Entry entry;
    entry.index = index;
    entry.kind = entryKind(name, opsys, attributes);
    entry.path = QString::fromUtf8(name);
    entry.declaredSize = (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0;
    entry.storedCRC = (stat.valid & ZIP_STAT_CRC) ? stat.crc : 0;
    return entry;
}

QList<ZipArchive::Entry> ZipArchive::entries() const {
    const std::uint64_t count = entryCount();
    QList<Entry> result;
    result.reserve(qsizetype(count));
    for (std::uint64_t index = 0; index < count; ++index)
        result.append(entry(index));
    return result;
}

ZipArchive::Extraction ZipArchive::extract(const Entry& entry, std::uint64_t limit, const Consumer& consumer) const {
    Q_ASSERT(m_archive);
    zip_file_t* file = zip_fopen_index(m_archive, entry.index, 0);
    if (!file)
        throwArchiveError(m_archive);
    const std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> closer(file, &zip_fclose);

    std::array<char, kChunkSize> buffer;
    Extraction result{static_cast<std::uint32_t>(::crc32(0, nullptr, 0)), 0};
    for (;;) {
        const zip_int64_t count = zip_fread(file, buffer.data(), buffer.size());
        if (count == 0)
            break;
        if (count < 0) {
            // libzip checks the CRC only once the entry has been read to its end, and then reports a
            // mismatch instead of the end. Everything has been handed over by then; the caller compares.
            if (zip_error_code_zip(zip_file_get_error(file)) == ZIP_ER_CRC)
                break;
            throw PlatformError(QString::fromUtf8(zip_file_strerror(file)));
        }
        if (result.size + std::uint64_t(count) > limit)
            throw EntryTooLarge(QStringLiteral("The archive entry “%1” is larger than %2 bytes.")
                                    .arg(entry.path)
                                    .arg(limit));
        result.crc = crc32Of(result.crc, buffer.data(), count);
        result.size += std::uint64_t(count);
        consumer(QByteArrayView(buffer.data(), count));
    }
    return result;
}
