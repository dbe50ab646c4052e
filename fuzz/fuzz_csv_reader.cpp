// The CSV reader on arbitrary text. What it accepts must survive a write and a second read unchanged
// (identifiers, kinds, tags and trimmed texts), which is what the export promises.
#include "core/QuendaError.h"
#include "exchange/CSVExchange.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Deck deck{*Uuid::fromString("0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5B"), "Mazzo", "", "book", "4F5FE7",
                           {}, {}};
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    LibrarySnapshot snapshot;
    try {
        snapshot = CSVExchange::read(text, deck);
    } catch (const QuendaError&) {
        return 0;
    }
    const LibrarySnapshot again = CSVExchange::read(CSVExchange::write(snapshot.notes), deck);
    if (again.notes.size() != snapshot.notes.size() || again.cards.size() != snapshot.cards.size())
        std::abort();
    for (qsizetype i = 0; i < snapshot.notes.size(); ++i) {
        const Note& a = snapshot.notes[i];
        const Note& b = again.notes[i];
        if (a.id != b.id || a.kind != b.kind || a.tags != b.tags || a.front != b.front || a.back != b.back)
            std::abort();
    }
    for (qsizetype i = 0; i < snapshot.cards.size(); ++i) {
        if (snapshot.cards[i].id != again.cards[i].id)
            std::abort();
    }
    return 0;
}
