// The package reader on arbitrary files: every input must end in a package or in a refusal, within the
// reader's memory bounds (libFuzzer's -rss_limit_mb catches a reader that holds too much).
#include "FuzzSupport.h"

#include "exchange/QuendaPackage.h"

#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QUrl url = QUrl::fromLocalFile(fuzzsupport::writeScratchFile(data, size));
    try {
        QuendaPackage::read(url);
    } catch (const QuendaError&) {
    } catch (const PlatformError&) {
    }
    return 0;
}
