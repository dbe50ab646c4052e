#pragma once

#include <QString>
#include <QStringView>

#include <optional>

/// A URI reference split into its components by the grammar of RFC 3986 (section 4.1: a URI or a
/// relative reference). The parser accepts exactly what the grammar accepts: ASCII only, percent
/// signs followed by two hexadecimal digits, IPv6 and IPvFuture literals in brackets, IPv4 addresses
/// and registered names as hosts. Components are kept as written (percent-encodings not decoded, case
/// not folded). A pure value; parse may run on any thread.
struct UriReference {
    std::optional<QString> scheme;    ///< absent for a relative reference
    std::optional<QString> authority; ///< present when the reference has "//"; may be empty
    std::optional<QString> userinfo;  ///< the part before "@" in the authority
    QString host;                     ///< empty without authority; an IP literal keeps its brackets
    std::optional<QString> port;      ///< the digits after ":" in the authority; may be empty
    QString path;
    std::optional<QString> query;    ///< after "?", without it
    std::optional<QString> fragment; ///< after "#", without it

    /// The components of `text`, or nothing when `text` is not a URI reference.
    static std::optional<UriReference> parse(QStringView text);

    friend bool operator==(const UriReference&, const UriReference&) = default;
};
