// The record decoder on arbitrary bytes. Whatever it accepts must survive a round trip: in the
// database form, re-encoding a decoded record and decoding it again gives the same record and the
// same bytes.
#include "core/RecordJson.h"

#include <cstdlib>

namespace {

template <class T> void check(QByteArrayView input) {
    for (const JsonForm form : {JsonForm::database, JsonForm::package}) {
        T record;
        try {
            record = RecordJson::decode<T>(input, form);
        } catch (const JsonError&) {
            continue;
        }
        const QByteArray encoded = RecordJson::encode(record, form);
        const T again = RecordJson::decode<T>(encoded, form);
        if (form == JsonForm::database && (!(again == record) || RecordJson::encode(again, form) != encoded))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    check<LibrarySnapshot>(input);
    check<Note>(input);
    check<ReviewEvent>(input);
    check<Flashcard>(input);
    check<Deck>(input);
    check<RichTextDocument>(input);
    check<StudyPreferences>(input);
    return 0;
}
