// The archive wrapper on arbitrary bytes: open, enumerate, extract every entry within its declared size.
#include "FuzzSupport.h"

#include "exchange/ZipArchive.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzzsupport::writeScratchFile(data, size);
    try {
        const ZipArchive archive = ZipArchive::open(path);
        for (const ZipArchive::Entry& entry : archive.entries()) {
            const std::uint64_t limit = std::min<std::uint64_t>(entry.declaredSize, 1 << 20);
            std::uint64_t received = 0;
            try {
                const auto extraction = archive.extract(entry, limit, [&](QByteArrayView chunk) {
                    if (chunk.size() > ZipArchive::kChunkSize)
                        std::abort();
                    received += std::uint64_t(chunk.size());
                });
                if (extraction.size != received || received > limit)
                    std::abort();
            } catch (const PlatformError&) {
            }
        }
    } catch (const PlatformError&) {
    }
    return 0;
}
