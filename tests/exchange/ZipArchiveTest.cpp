#include "exchange/ZipArchive.h"

#include "exchange/ZipFixtures.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zipfixtures;
using Kind = ZipArchive::EntryKind;

namespace {

class ZipArchiveTest : public ::testing::Test {
protected:
    QString pathOf(const QString& name) const { return m_dir.filePath(name); }

    QString writeRaw(const QList<RawEntry>& entries, const QString& name = QStringLiteral("raw.zip")) {
        writeFile(pathOf(name), buildZip(entries));
        return pathOf(name);
    }

    static QByteArray patterned(qsizetype size) {
        QByteArray bytes(size, '\0');
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char((i * 7 + i / 251) & 0xff);
        return bytes;
    }

    struct Collected {
        ZipArchive::Extraction extraction;
        QByteArray bytes;
        int chunks = 0;
        qsizetype largestChunk = 0;
    };

    static Collected extractAll(const ZipArchive& archive, const ZipArchive::Entry& entry,
                                std::uint64_t limit = 1 << 30) {
        Collected collected;
        collected.extraction = archive.extract(entry, limit, [&](QByteArrayView chunk) {
            collected.bytes += chunk;
            ++collected.chunks;
            collected.largestChunk = std::max(collected.largestChunk, chunk.size());
        });
        return collected;
    }

    QTemporaryDir m_dir;
};

TEST_F(ZipArchiveTest, WrittenEntriesReadBackInOrderWithSizesAndCRC) {
    const QByteArray library = QByteArray("{\"decks\":[]}").repeated(5000);
    const QByteArray image = patterned(100'000);
    const QString path = pathOf("round.zip");
    {
        ZipArchive archive = ZipArchive::create(path);
        archive.addFile("manifest.json", QByteArray("{}"), Instant(), ZipArchive::Compression::deflate);
        archive.addFile("library.json", library, Instant(), ZipArchive::Compression::deflate);
        archive.addFile("media/a.png", image, Instant(), ZipArchive::Compression::stored);
        archive.addFile("empty", QByteArray(), Instant(), ZipArchive::Compression::stored);
        archive.commit();
    }

    const ZipArchive archive = ZipArchive::open(path);
    const QList<ZipArchive::Entry> entries = archive.entries();
    ASSERT_EQ(entries.size(), 4);
    const QList<QByteArray> contents{"{}", library, image, {}};
    const QStringList names{"manifest.json", "library.json", "media/a.png", "empty"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(names[i].toStdString());
        EXPECT_EQ(entries[i].index, std::uint64_t(i));
        EXPECT_EQ(entries[i].kind, Kind::file);
        EXPECT_EQ(entries[i].path, names[i]);
        EXPECT_EQ(entries[i].declaredSize, std::uint64_t(contents[i].size()));
        EXPECT_EQ(entries[i].storedCRC, crcOf(contents[i]));
        const Collected collected = extractAll(archive, entries[i]);
        EXPECT_EQ(collected.bytes, contents[i]);
        EXPECT_EQ(collected.extraction.crc, crcOf(contents[i]));
        EXPECT_EQ(collected.extraction.size, std::uint64_t(contents[i].size()));
        EXPECT_LE(collected.largestChunk, ZipArchive::kChunkSize);
    }
    // Stored means the image bytes stand in the file as they are; the library was compressed.
    const QByteArray file = readFile(path);
    EXPECT_TRUE(file.contains(image));
    EXPECT_LT(file.size(), image.size() + library.size() / 10);
    // Every entry is a regular Unix file with permissions 0644.
    int directoryRecords = 0;
    for (qsizetype at = file.indexOf("PK\x01\x02"); at >= 0; at = file.indexOf("PK\x01\x02", at + 4)) {
        ++directoryRecords;
        EXPECT_EQ(std::uint8_t(file[at + 5]), 3) << "made by Unix";
        const auto attributes = std::uint32_t(std::uint8_t(file[at + 40])) | std::uint32_t(std::uint8_t(file[at + 41])) << 8;
        EXPECT_EQ(attributes, 0100644u);
    }
    EXPECT_EQ(directoryRecords, 4);
}

TEST_F(ZipArchiveTest, ProviderIsAskedForChunksOfAtMost16KiB) {
    const QString path = pathOf("chunks.zip");
    std::int64_t largestRequest = 0;
    std::int64_t produced = 0;
    constexpr std::int64_t size = 200'000;
    ZipArchive archive = ZipArchive::create(path);
    archive.addFile("big", size, Instant(), ZipArchive::Compression::stored, [&](char* buffer, std::int64_t capacity) {
        largestRequest = std::max(largestRequest, capacity);
        const std::int64_t count = std::min(capacity, size - produced);
        std::fill_n(buffer, count, 'x');
        produced += count;
        return count;
    });
    archive.commit();
    EXPECT_EQ(produced, size);
    EXPECT_LE(largestRequest, ZipArchive::kChunkSize);
    EXPECT_EQ(ZipArchive::open(path).entries().at(0).declaredSize, std::uint64_t(size));
}

TEST_F(ZipArchiveTest, ProviderThatBreaksItsDeclaredSizeFailsTheCommitAndWritesNothing) {
    for (const qsizetype actual : {99, 101}) {
        SCOPED_TRACE(actual);
        const QString path = pathOf(QStringLiteral("lying%1.zip").arg(actual));
        const QByteArray data(actual, 'a');
        ZipArchive archive = ZipArchive::create(path);
        std::int64_t offset = 0;
        archive.addFile("x", 100, Instant(), ZipArchive::Compression::deflate, [&](char* buffer, std::int64_t capacity) {
            const std::int64_t count = std::min<std::int64_t>(capacity, data.size() - offset);
            std::copy_n(data.constData() + offset, count, buffer);
            offset += count;
            return count;
        });
        EXPECT_THROW(archive.commit(), PlatformError);
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList()) << "no temporary file left";
}

TEST_F(ZipArchiveTest, ProviderErrorPropagatesUnchanged) {
    const QString path = pathOf("failing.zip");
    ZipArchive archive = ZipArchive::create(path);
    archive.addFile("x", 10, Instant(), ZipArchive::Compression::stored, [](char*, std::int64_t) -> std::int64_t {
        throw QuendaError::invalidContent("fermato");
    });
    try {
        archive.commit();
        FAIL() << "commit succeeded";
    } catch (const QuendaError& error) {
        EXPECT_EQ(error, QuendaError::invalidContent("fermato"));
    }
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST_F(ZipArchiveTest, ConsumerErrorStopsTheExtraction) {
    const QString path = writeRaw({{.name = "big", .data = patterned(100'000)}});
    const ZipArchive archive = ZipArchive::open(path);
    int calls = 0;
    EXPECT_THROW(archive.extract(archive.entries().at(0), 1 << 20,
                                 [&](QByteArrayView) {
                                     ++calls;
                                     throw QuendaError::invalidContent("basta");
                                 }),
                 QuendaError);
    EXPECT_EQ(calls, 1);
}

TEST_F(ZipArchiveTest, EntryKindsComeFromAttributesAndTrailingSlash) {
    const QString path = writeRaw({
        {.name = "plain", .data = "x"},
        {.name = "dir/", .data = "", .deflate = false},
        {.name = "unixdir", .data = "", .deflate = false, .externalAttributes = kDirectory},
        {.name = "dosdir", .data = "", .deflate = false, .externalAttributes = 0x10, .madeBy = 0},
        {.name = "link", .data = "../../etc/passwd", .deflate = false, .externalAttributes = kSymbolicLink},
        {.name = "fifo", .data = "", .deflate = false, .externalAttributes = kFifo},
        {.name = "nomode", .data = "y", .externalAttributes = 0, .madeBy = 0},
    });
    QList<Kind> kinds;
    for (const auto& entry : ZipArchive::open(path).entries())
        kinds.append(entry.kind);
    EXPECT_EQ(kinds, (QList<Kind>{Kind::file, Kind::directory, Kind::directory, Kind::directory, Kind::symbolicLink,
                                  Kind::other, Kind::file}));
}

TEST_F(ZipArchiveTest, HostileNamesAndDuplicatesAreListedAsStoredByIndex) {
    const QList<QByteArray> names{"../x", "media/../library.json", "/etc/passwd", "media\\a.png", "dup", "dup"};
    QList<RawEntry> raw;
    for (int i = 0; i < names.size(); ++i)
        raw.append({.name = names[i], .data = QByteArray::number(i)});
    const ZipArchive archive = ZipArchive::open(writeRaw(raw));
    const auto entries = archive.entries();
    ASSERT_EQ(entries.size(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_EQ(entries[i].path, QString::fromUtf8(names[i]));
        EXPECT_EQ(extractAll(archive, entries[i]).bytes, QByteArray::number(i)) << "each duplicate is its own entry";
    }
}

TEST_F(ZipArchiveTest, ManyEntriesAreAllEnumerated) {
    const QString path = pathOf("many.zip");
    {
        ZipArchive archive = ZipArchive::create(path);
        const QByteArray byte("x");
        for (int i = 0; i < 10'003; ++i)
            archive.addFile(QStringLiteral("media/%1").arg(i), byte, Instant(), ZipArchive::Compression::stored);
        archive.commit();
    }
    const auto entries = ZipArchive::open(path).entries();
    ASSERT_EQ(entries.size(), 10'003);
    EXPECT_EQ(entries.last().path, "media/10002");
}

TEST_F(ZipArchiveTest, ZipBombStopsAtTheLimitWithoutInflatingFurther) {
    // 1 GiB of zeros in about 1 MB of archive, honestly declared.
    constexpr int mebibytes = 1024;
    RawEntry bomb{.name = "library.json", .compressed = zeroBomb(mebibytes)};
    bomb.declaredSize = std::uint32_t(mebibytes) << 20;
    const ZipArchive archive = ZipArchive::open(writeRaw({bomb}));
    const auto entry = archive.entries().at(0);
    EXPECT_EQ(entry.declaredSize, std::uint64_t(1) << 30);
    std::uint64_t handed = 0;
    EXPECT_THROW(archive.extract(entry, 32 << 20, [&](QByteArrayView chunk) { handed += chunk.size(); }),
                 ZipArchive::EntryTooLarge);
    EXPECT_LE(handed, std::uint64_t(32) << 20);
}

TEST_F(ZipArchiveTest, DeclaredSizeThatLiesInEitherDirectionIsVisibleToTheCaller) {
    const QByteArray data = patterned(200'000);
    const QString path = pathOf("honest.zip");
    {
        ZipArchive archive = ZipArchive::create(path);
        archive.addFile("deflated", data, Instant(), ZipArchive::Compression::deflate);
        archive.addFile("stored", data, Instant(), ZipArchive::Compression::stored);
        archive.commit();
    }
    const QByteArray honest = readFile(path);
    for (const QByteArray& name : {QByteArray("deflated"), QByteArray("stored")}) {
        SCOPED_TRACE(name.toStdString());
        // Smaller than the truth: bounded by the declared size, the extraction stops.
        QByteArray smaller = honest;
        ASSERT_EQ(patchField(smaller, name, kLocalUncompressedSize, kCentralUncompressedSize, 1024), 2);
        writeFile(pathOf("smaller.zip"), smaller);
        {
            const ZipArchive archive = ZipArchive::open(pathOf("smaller.zip"));
            const auto entry = archive.entries().at(name == "deflated" ? 0 : 1);
            EXPECT_EQ(entry.declaredSize, 1024u);
            EXPECT_THROW(extractAll(archive, entry, entry.declaredSize), ZipArchive::EntryTooLarge);
        }
        // Larger than the truth: fewer bytes come out than declared, or libzip refuses; never more.
        QByteArray larger = honest;
        ASSERT_EQ(patchField(larger, name, kLocalUncompressedSize, kCentralUncompressedSize, 400'000), 2);
        writeFile(pathOf("larger.zip"), larger);
        {
            const ZipArchive archive = ZipArchive::open(pathOf("larger.zip"));
            const auto entry = archive.entries().at(name == "deflated" ? 0 : 1);
            EXPECT_EQ(entry.declaredSize, 400'000u);
            try {
                const Collected collected = extractAll(archive, entry, entry.declaredSize);
                EXPECT_NE(collected.extraction.size, entry.declaredSize);
            } catch (const PlatformError&) {
            }
        }
    }
}

TEST_F(ZipArchiveTest, CRCMismatchIsReportedThroughTheComputedCRC) {
    const QByteArray data = patterned(50'000);
    for (const bool deflate : {true, false}) {
        SCOPED_TRACE(deflate);
        const QString path = writeRaw({{.name = "x", .data = data, .deflate = deflate, .crc = crcOf(data) ^ 1}});
        const ZipArchive archive = ZipArchive::open(path);
        const auto entry = archive.entries().at(0);
        const Collected collected = extractAll(archive, entry);
        EXPECT_EQ(collected.bytes, data);
        EXPECT_EQ(collected.extraction.crc, crcOf(data));
        EXPECT_NE(collected.extraction.crc, entry.storedCRC);
    }
}

TEST_F(ZipArchiveTest, TruncatedArchiveAndNonZipFilesCannotBeOpened) {
    const QByteArray zip = buildZip({{.name = "a", .data = patterned(10'000)}});
    const QList<QByteArray> broken{zip.left(zip.size() / 2), zip.left(zip.size() - 10), QByteArray("not a zip at all"),
                                   QByteArray(), QByteArray("PK\x03\x04", 4)};
    for (int i = 0; i < broken.size(); ++i) {
        SCOPED_TRACE(i);
        writeFile(pathOf("broken.zip"), broken[i]);
        EXPECT_THROW(ZipArchive::open(pathOf("broken.zip")), PlatformError);
    }
    EXPECT_THROW(ZipArchive::open(pathOf("missing.zip")), PlatformError);
}

TEST_F(ZipArchiveTest, CorruptCompressedDataFailsAsPlatformError) {
    QByteArray garbage = rawDeflate(patterned(30'000));
    for (qsizetype i = 10; i < garbage.size(); i += 7)
        garbage[i] = char(garbage[i] ^ 0x5a);
    RawEntry entry{.name = "x", .data = patterned(30'000), .compressed = garbage};
    const ZipArchive archive = ZipArchive::open(writeRaw({entry}));
    try {
        const Collected collected = extractAll(archive, archive.entries().at(0), 30'000);
        EXPECT_NE(collected.extraction.crc, crcOf(patterned(30'000)));
    } catch (const PlatformError&) {
    }
}

} // namespace
