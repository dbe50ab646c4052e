#include "app/cli/ScheduleCommand.h"

#include "core/Fsrs6.h"
#include "core/JsonWriter.h"
#include "core/QuendaError.h"
#include "core/RecordJson.h"
#include "core/StudyScheduler.h"

#include <simdjson.h>

#include <cmath>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <string>

namespace {

/// A line that cannot be read; the message is a short English description.
class UnreadableLine : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Request {
    MemoryState memory;
    Instant now;
    ReviewRating rating;
    double retention;
};

simdjson::dom::element member(simdjson::dom::object object, const char* key) {
    simdjson::dom::element value;
    if (object.at_key(key).get(value) != simdjson::SUCCESS || value.is_null())
        throw UnreadableLine(std::string("missing \"") + key + "\"");
    return value;
}

double number(simdjson::dom::object object, const char* key) {
    double value;
    if (member(object, key).get_double().get(value) != simdjson::SUCCESS)
        throw UnreadableLine(std::string("\"") + key + "\" is not a number");
    return value;
}

ReviewRating rating(simdjson::dom::object object) {
    const simdjson::dom::element value = member(object, "grade");
    double grade = 0;
    if (value.is_int64())
        grade = static_cast<double>(value.get_int64().value_unsafe());
    else if (value.is_double())
        grade = value.get_double().value_unsafe();
    const std::optional<ReviewRating> result =
        grade == std::trunc(grade) ? reviewRatingFromRawValue(static_cast<long long>(grade)) : std::nullopt;
    if (!result)
        throw UnreadableLine("\"grade\" is not an integer from 1 to 4");
    return *result;
}

Request readRequest(simdjson::dom::parser& parser, RecordJsonDecoder& decoder, const std::string& line) {
    if (line.find_first_not_of(" \t") == std::string::npos)
        throw UnreadableLine("empty line");
    simdjson::dom::element root;
    if (parser.parse(line.data(), line.size(), true).get(root) != simdjson::SUCCESS)
        throw UnreadableLine("not valid JSON");
    simdjson::dom::object object;
    if (root.get_object().get(object) != simdjson::SUCCESS)
        throw UnreadableLine("not a JSON object");

    // The card is a memory state in the package form (times in milliseconds since 1970): the records'
    // own decoder reads it, with the same strictness as package files.
    const std::string card = simdjson::minify(member(object, "card"));
    MemoryState memory;
    try {
        memory = decoder.decode<MemoryState>(QByteArrayView(card.data(), qsizetype(card.size())), JsonForm::package);
    } catch (const JsonError& error) {
        throw UnreadableLine("card: " + error.detail());
    }
    return Request{
        .memory = memory,
        .now = Instant::fromUnixMilliseconds(number(object, "now")),
        .rating = rating(object),
        .retention = number(object, "retention"),
    };
}

// Whole milliseconds since 1970: the scheduler works to the millisecond, so finer digits are noise of
// the conversion from seconds since 2001.
std::int64_t milliseconds(Instant time) {
    return static_cast<std::int64_t>(Fsrs6::roundHalfUp(time.unixMilliseconds()));
}

void writeState(JsonWriter& writer, const MemoryState& state) {
    writer.beginObject();
    writer.key("due");
    writer.integer(milliseconds(state.due));
    writer.key("stability");
    writer.number(state.stability);
    writer.key("difficulty");
    writer.number(state.difficulty);
    writer.key("elapsedDays");
    writer.number(state.elapsedDays);
    writer.key("scheduledDays");
    writer.number(state.scheduledDays);
    writer.key("learningSteps");
    writer.integer(state.learningSteps);
    writer.key("reps");
    writer.integer(state.reps);
    writer.key("lapses");
    writer.integer(state.lapses);
    writer.key("stage");
    writer.integer(static_cast<int>(state.stage));
    if (state.lastReview) {
        writer.key("lastReview");
        writer.integer(milliseconds(*state.lastReview));
    }
    writer.endObject();
}

void writeError(JsonWriter& writer, QStringView message) {
    writer.beginObject();
    writer.key("error");
    writer.string(message);
    writer.endObject();
}

} // namespace

int runScheduleCommand(const QStringList& arguments, std::istream& in, std::ostream& out, std::ostream& err) {
    if (!arguments.isEmpty()) {
        err << "Uso: quenda-cli schedule < richieste.jsonl\n";
        return 2;
    }
    simdjson::dom::parser parser;
    RecordJsonDecoder decoder;
    JsonWriter writer;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        writer.clear();
        try {
            const Request request = readRequest(parser, decoder, line);
            const Flashcard card{.memory = request.memory, .isSuspended = false};
            writeState(writer, StudyScheduler(request.retention).review(card, request.rating, request.now).after);
        } catch (const UnreadableLine& error) {
            writer.clear();
            writeError(writer, QString::fromUtf8(error.what()));
        } catch (const QuendaError& error) {
            writer.clear();
            writeError(writer, error.errorDescription());
        }
        out.write(writer.data().constData(), writer.data().size());
        // One line out per line in, flushed, so that a caller can drive the filter interactively.
        out << std::endl;
    }
    return 0;
}
