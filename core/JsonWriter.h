#pragma once

#include <QByteArray>
#include <QStringView>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Uuid;

/// A small, fast writer of compact JSON (no whitespace) into a QByteArray.
///
/// Calls describe the document in order: `beginObject`, then `key` + one value per member, `endObject`;
/// `beginArray`, values, `endArray`. Commas and colons are placed by the writer. Misuse (a value where a
/// key is due, unbalanced ends) is a programming error caught by assertions in debug builds only.
///
/// Output is always valid UTF-8: strings come as UTF-16 and are converted, with a lone surrogate
/// written as U+FFFD. Quotes, backslashes and control characters below U+0020 are escaped (the short
/// forms \b \f \n \r \t where they exist, \u00XX otherwise). Doubles are written with the shortest
/// text that reads back to the same bits.
///
/// With `KeyOrder::sorted` the members of every object come out ordered by the bytes of their UTF-8
/// keys, whatever order they were written in (members with equal keys keep their written order).
///
/// A writer is reusable: `clear()` keeps the buffer's capacity, so encoding many payloads in a loop
/// allocates nothing once warm. After an exception the document is incomplete: `clear()` before
/// writing the next one. Not thread-safe; use one writer per thread.
class JsonWriter {
public:
    enum class KeyOrder { asWritten, sorted };

    explicit JsonWriter(KeyOrder order = KeyOrder::asWritten);

    /// Starts a new document, keeping the allocated capacity.
    void clear();
    /// Change the key order only between documents.
    void setKeyOrder(KeyOrder order) { m_keyOrder = order; }
    KeyOrder keyOrder() const { return m_keyOrder; }

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();

    /// The key of the next member of the current object, as UTF-8 (our keys are ASCII literals).
    void key(std::string_view utf8);

    void string(QStringView text);
    /// A string already in UTF-8 (must be valid UTF-8; it is escaped but not converted).
    void utf8String(std::string_view utf8);
    /// The 36-character canonical upper-case text of `id`.
    void uuid(const Uuid& id);
    void integer(std::int64_t value);
    void boolean(bool value);
    /// Throws JsonError::unwritable for infinity and NaN, which JSON cannot hold.
    void number(double value);
    void null();

    /// The document written so far (complete once every object and array is closed). The reference
    /// stays valid until the next call on the writer.
    const QByteArray& data() const;
    /// Hands the document over and leaves the writer empty.
    QByteArray take();

private:
    struct Container {
        bool isObject;
        bool hasMembers = false;
        std::size_t firstMember = 0; // index into m_members (sorted objects only)
        std::size_t keyBytes = 0;    // size of m_keys when the object began
    };
    struct Member {
        qsizetype start;   // offset of the member's opening quote in m_out
        std::size_t keyAt; // offset of its raw key in m_keys
        std::size_t keySize;
    };

    void beforeValue();
    void sortMembers(const Container& object);
    void writeUtf8(std::string_view utf8);
    // Makes room for `bytes` more bytes and returns where they go; `commit` marks where writing ended.
    char* room(qsizetype bytes) { return m_size + bytes <= m_room ? m_data + m_size : grow(bytes); }
    char* grow(qsizetype bytes);
    void commit(const char* end) { m_size = end - m_data; }
    void appendRaw(std::string_view bytes);
    void appendByte(char c) { *room(1) = c, ++m_size; }

    // m_out holds the document in its first m_size bytes and spare room after them; its size is set to
    // m_size only when the document is handed out, so writing costs no call into QByteArray.
    mutable QByteArray m_out;
    mutable qsizetype m_room = 0; // bytes of m_out writable through m_data
    qsizetype m_size = 0;
    char* m_data = nullptr;
    KeyOrder m_keyOrder;
    bool m_afterKey = false;
    std::vector<Container> m_stack;
    std::vector<Member> m_members;
    std::string m_keys;
    QByteArray m_scratch;
};
