#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>

/// A 128-bit identifier. A plain value: no allocation, hashable, ordered.
///
/// Text form: canonical 8-4-4-4-12 with upper-case hexadecimal digits. Byte order and the order of
/// the canonical texts agree, so `operator<` sorts identifiers "by their text" without building it.
class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    /// The nil identifier (all zero bits).
    constexpr Uuid() = default;
    constexpr explicit Uuid(const Bytes& bytes) : m_bytes(bytes) {}

    /// A new random version-4 identifier from the system's cryptographic generator.
    static Uuid createRandom();

    /// Parses the 36-character canonical form in either letter case; anything else gives nothing.
    static std::optional<Uuid> fromString(QStringView text);
    static std::optional<Uuid> fromString(std::string_view ascii);

    /// Canonical upper-case text, e.g. "0F2B6C1E-3A4D-4E5F-8A9B-0C1D2E3F4A5B".
    QString toString() const;
    /// Writes the 36 canonical characters into `out` (no terminator).
    void writeCanonical(char* out) const;

    const Bytes& bytes() const { return m_bytes; }
    bool isNull() const { return m_bytes == Bytes{}; }

    friend constexpr bool operator==(const Uuid&, const Uuid&) = default;
    friend constexpr std::strong_ordering operator<=>(const Uuid&, const Uuid&) = default;

private:
    Bytes m_bytes{};
};

size_t qHash(const Uuid& id, size_t seed = 0) noexcept;

template <>
struct std::hash<Uuid> {
    size_t operator()(const Uuid& id) const noexcept { return qHash(id); }
};
