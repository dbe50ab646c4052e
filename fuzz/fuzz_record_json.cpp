// The JSON decoders of every record in both date forms. The first byte picks the record and the form;
// a record read in the database form must encode and decode back to itself.
#include "core/RecordJson.h"

#include <cstdlib>

namespace {

template <class T>
void roundTrip(QByteArrayView json, JsonForm form) {
    T record;
    try {
        record = RecordJson::decode<T>(json, form);
    } catch (const JsonError&) {
        return;
    }
    const QByteArray encoded = RecordJson::encode(record, form);
    const T again = RecordJson::decode<T>(encoded, form);
    if (form == JsonForm::database && (!(again == record) || RecordJson::encode(again, form) != encoded))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const JsonForm form = (data[0] & 0x80) ? JsonForm::package : JsonForm::database;
    const QByteArrayView json(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    switch (data[0] & 0x07) {
    case 0: roundTrip<Deck>(json, form); break;
    case 1: roundTrip<Note>(json, form); break;
    case 2: roundTrip<MemoryState>(json, form); break;
    case 3: roundTrip<Flashcard>(json, form); break;
    case 4: roundTrip<ReviewEvent>(json, form); break;
    case 5: roundTrip<StudyPreferences>(json, form); break;
    case 6: roundTrip<LibrarySnapshot>(json, form); break;
    default: roundTrip<RichTextDocument>(json, form); break;
    }
    return 0;
}
