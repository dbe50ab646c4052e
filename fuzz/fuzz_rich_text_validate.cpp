// RichTextDocument::validate and the document's derived texts on documents built straight from bytes,
// so that the fuzzer reaches validation without having to write JSON first. Each run is a flags byte,
// then the run's text and its optional link, image and formula as length-prefixed UTF-8.
#include "core/QuendaError.h"
#include "core/RichTextDocument.h"

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    bool atEnd() const { return at >= size; }
    std::uint8_t byte() { return atEnd() ? 0 : data[at++]; }
    QString text() {
        const std::size_t length = std::min<std::size_t>(std::size_t(byte()) | std::size_t(byte()) << 8, size - std::min(at, size));
        const QString result = QString::fromUtf8(reinterpret_cast<const char*>(data) + at, qsizetype(length));
        at += length;
        return result;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader reader{data, size};
    RichTextDocument document;
    while (!reader.atEnd()) {
        const std::uint8_t flags = reader.byte();
        RichTextRun run;
        run.bold = flags & 0x01;
        run.italic = flags & 0x02;
        run.underline = flags & 0x04;
        run.style = static_cast<RichTextStyle>((flags >> 3) % 3);
        run.alignment = static_cast<RichTextAlignment>((flags >> 5) % 3);
        run.text = reader.text();
        const std::uint8_t optional = reader.byte();
        if (optional & 1)
            run.link = reader.text();
        if (optional & 2)
            run.imageID = reader.text();
        if (optional & 4)
            run.latex = reader.text();
        document.runs.append(run);
    }
    try {
        document.validate();
    } catch (const QuendaError&) {
    }
    (void)document.sourceText();
    (void)document.exportText();
    (void)document.mediaIDs();
    return 0;
}
