#include "core/JsonWriter.h"

#include "core/JsonError.h"
#include "core/Uuid.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numeric>

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Escape for each byte below 0x80: 0 = copy, 'u' = \u00XX, else the letter of the short escape.
constexpr std::array<char, 128> makeEscapes() {
    std::array<char, 128> table{};
    for (int c = 0; c < 0x20; ++c)
        table[c] = 'u';
    table['\b'] = 'b';
    table['\f'] = 'f';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\t'] = 't';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}
constexpr std::array<char, 128> kEscapes = makeEscapes();

char* writeAscii(char* p, char c) {
    const char escape = kEscapes[static_cast<unsigned char>(c)];
    if (escape == 0) {
        *p++ = c;
    } else if (escape == 'u') {
        std::memcpy(p, "\\u00", 4);
        p[4] = kHex[(c >> 4) & 0xF];
        p[5] = kHex[c & 0xF];
        p += 6;
    } else {
        p[0] = '\\';
        p[1] = escape;
        p += 2;
    }
    return p;
}

// Longest escape of one input unit: a control character as \u00XX.
constexpr qsizetype kMaxBytesPerUnit = 6;

} // namespace

JsonWriter::JsonWriter(KeyOrder order) : m_keyOrder(order) {}

void JsonWriter::clear() {
    m_size = 0;
    m_afterKey = false;
    m_stack.clear();
    m_members.clear();
    m_keys.clear();
}

const QByteArray& JsonWriter::data() const {
    m_out.resize(m_size);
    // The caller may keep a copy of m_out; the next write must go through grow(), which detaches.
    m_room = 0;
    return m_out;
}

QByteArray JsonWriter::take() {
    Q_ASSERT(m_stack.empty());
    m_out.resize(m_size);
    QByteArray out = std::move(m_out);
    m_out = QByteArray();
    m_data = nullptr;
    m_room = 0;
    clear();
    return out;
}

char* JsonWriter::grow(qsizetype bytes) {
    const qsizetype needed = m_size + bytes;
    if (needed > m_out.size())
        m_out.resize(std::max({needed, 2 * m_out.size(), qsizetype(256)}));
    m_data = m_out.data(); // detaches if a handed-out copy still shares the buffer
    m_room = m_out.size();
    return m_data + m_size;
}

void JsonWriter::appendRaw(std::string_view bytes) {
    char* p = room(qsizetype(bytes.size()));
    std::memcpy(p, bytes.data(), bytes.size());
    m_size += qsizetype(bytes.size());
}

void JsonWriter::beforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    Q_ASSERT(m_stack.empty() ? m_size == 0 : !m_stack.back().isObject);
    if (!m_stack.empty()) {
        if (m_stack.back().hasMembers)
            appendByte(',');
        m_stack.back().hasMembers = true;
    }
}

void JsonWriter::beginObject() {
    beforeValue();
    appendByte('{');
    m_stack.push_back({.isObject = true, .firstMember = m_members.size(), .keyBytes = m_keys.size()});
}

void JsonWriter::endObject() {
    Q_ASSERT(!m_stack.empty() && m_stack.back().isObject && !m_afterKey);
    const Container object = m_stack.back();
    m_stack.pop_back();
    if (m_keyOrder == KeyOrder::sorted) {
        sortMembers(object);
        m_members.resize(object.firstMember);
        m_keys.resize(object.keyBytes);
    }
    appendByte('}');
}

void JsonWriter::beginArray() {
    beforeValue();
    appendByte('[');
    m_stack.push_back({.isObject = false});
}

void JsonWriter::endArray() {
    Q_ASSERT(!m_stack.empty() && !m_stack.back().isObject && !m_afterKey);
    m_stack.pop_back();
    appendByte(']');
}

void JsonWriter::key(std::string_view utf8) {
    Q_ASSERT(!m_stack.empty() && m_stack.back().isObject && !m_afterKey);
    Container& object = m_stack.back();
    if (object.hasMembers)
        appendByte(',');
    object.hasMembers = true;
    if (m_keyOrder == KeyOrder::sorted) {
        m_members.push_back({m_size, m_keys.size(), utf8.size()});
        m_keys.append(utf8);
    }
    writeUtf8(utf8);
    appendByte(':');
    m_afterKey = true;
}

// Members are written as they come; a sorted object is put in order when it closes. Inner objects
// are sorted before their parent, so every member is one contiguous slice that can be moved whole.
void JsonWriter::sortMembers(const Container& object) {
    const std::size_t count = m_members.size() - object.firstMember;
    if (count < 2)
        return;
    const Member* members = m_members.data() + object.firstMember;
    auto keyOf = [this](const Member& m) { return std::string_view(m_keys).substr(m.keyAt, m.keySize); };

    bool inOrder = true;
    for (std::size_t i = 1; i < count && inOrder; ++i)
        inOrder = keyOf(members[i - 1]) <= keyOf(members[i]);
    if (inOrder)
        return;

    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return keyOf(members[a]) < keyOf(members[b]); });

    // Member i spans [start_i, start_{i+1} - 1): the byte before the next start is the comma.
    const qsizetype begin = members[0].start;
    const qsizetype end = m_size;
    char* const out = room(0) - m_size; // detached from any handed-out copy
    auto endOf = [&](std::size_t i) { return i + 1 < count ? members[i + 1].start - 1 : end; };
    m_scratch.resize(0);
    m_scratch.reserve(end - begin);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            m_scratch.append(',');
        const std::size_t m = order[i];
        m_scratch.append(out + members[m].start, endOf(m) - members[m].start);
    }
    Q_ASSERT(m_scratch.size() == end - begin);
    std::memcpy(out + begin, m_scratch.constData(), std::size_t(m_scratch.size()));
}

void JsonWriter::string(QStringView text) {
    beforeValue();
    const qsizetype n = text.size();
    char* p = room(n * kMaxBytesPerUnit + 2);
    *p++ = '"';
    const char16_t* s = text.utf16();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i];
        if (c < 0x80) {
            p = writeAscii(p, char(c));
        } else if (c < 0x800) {
            *p++ = char(0xC0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            const bool pair = c < 0xDC00 && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF;
            if (pair) {
                const char32_t u = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(s[i + 1]) - 0xDC00);
                ++i;
                *p++ = char(0xF0 | (u >> 18));
                *p++ = char(0x80 | ((u >> 12) & 0x3F));
                *p++ = char(0x80 | ((u >> 6) & 0x3F));
                *p++ = char(0x80 | (u & 0x3F));
            } else {
                // A lone surrogate has no UTF-8 form: write U+FFFD instead.
                std::memcpy(p, "\xEF\xBF\xBD", 3);
                p += 3;
            }
        } else {
            *p++ = char(0xE0 | (c >> 12));
            *p++ = char(0x80 | ((c >> 6) & 0x3F));
            *p++ = char(0x80 | (c & 0x3F));
        }
    }
    *p++ = '"';
    commit(p);
}

void JsonWriter::utf8String(std::string_view utf8) {
    beforeValue();
    writeUtf8(utf8);
}

void JsonWriter::writeUtf8(std::string_view utf8) {
    char* p = room(qsizetype(utf8.size()) * kMaxBytesPerUnit + 2);
    *p++ = '"';
    for (const char c : utf8) {
        if (static_cast<unsigned char>(c) < 0x80)
            p = writeAscii(p, c);
        else
            *p++ = c;
    }
    *p++ = '"';
    commit(p);
}

void JsonWriter::uuid(const Uuid& id) {
    beforeValue();
    char* p = room(38);
    p[0] = '"';
    id.writeCanonical(p + 1);
    p[37] = '"';
    commit(p + 38);
}

void JsonWriter::integer(std::int64_t value) {
    beforeValue();
    char* p = room(20);
    commit(std::to_chars(p, p + 20, value).ptr);
}

void JsonWriter::boolean(bool value) {
    beforeValue();
    appendRaw(value ? std::string_view("true") : std::string_view("false"));
}

void JsonWriter::null() {
    beforeValue();
    appendRaw("null");
}

void JsonWriter::number(double value) {
    if (!std::isfinite(value))
        throw JsonError::unwritable("a number is not finite");
    beforeValue();
    char* p = room(32);
    char* end = std::to_chars(p, p + 30, value).ptr;
    // The shortest text of an integral double may have no point or exponent. Readers take such a text
    // for an integer: "-0" would lose its sign and 2^64 or more would not fit, so those get a fraction.
    if ((value == 0 && std::signbit(value)) || std::fabs(value) >= 9223372036854775808.0) {
        if (std::find_if(p, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
            std::memcpy(end, ".0", 2);
            end += 2;
        }
    }
    commit(end);
}
