#include "core/UriReference.h"

#include <QList>

namespace {

bool isAlpha(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}
bool isHexDigit(QChar c) {
    return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
bool isUnreserved(QChar c) {
    return isAlpha(c) || isDigit(c) || c == u'-' || c == u'.' || c == u'_' || c == u'~';
}
bool isSubDelim(QChar c) {
    switch (c.unicode()) {
    case u'!':
    case u'$':
    case u'&':
    case u'\'':
    case u'(':
    case u')':
    case u'*':
    case u'+':
    case u',':
    case u';':
    case u'=':
        return true;
    default:
        return false;
    }
}

// True when every character of `text` is unreserved, a sub-delimiter, one of `extra`, or part of a
// percent-encoding ("%" and two hexadecimal digits).
bool consistsOf(QStringView text, QStringView extra) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'%') {
            if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2]))
                return false;
            i += 2;
        } else if (!isUnreserved(c) && !isSubDelim(c) && !extra.contains(c)) {
            return false;
        }
    }
    return true;
}

bool isScheme(QStringView text) {
    if (text.isEmpty() || !isAlpha(text[0]))
        return false;
    for (QChar c : text)
        if (!isAlpha(c) && !isDigit(c) && c != u'+' && c != u'-' && c != u'.')
            return false;
    return true;
}

// dec-octet "." dec-octet "." dec-octet "." dec-octet, without leading zeros.
bool isIPv4Address(QStringView text) {
    const auto parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (QStringView part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part[0] == u'0'))
            return false;
        for (QChar c : part)
            if (!isDigit(c))
                return false;
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

// Counts the 16-bit pieces of one side of an IPv6 address ("h16:h16:..."), or -1 when malformed. An
// IPv4 address may end the side when `mayEndInIPv4`, counting as two pieces.
int ipv6Pieces(QStringView side, bool mayEndInIPv4) {
    if (side.isEmpty())
        return 0;
    const auto pieces = side.split(u':');
    int count = 0;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QStringView piece = pieces[i];
        if (mayEndInIPv4 && i == pieces.size() - 1 && piece.contains(u'.')) {
            if (!isIPv4Address(piece))
                return -1;
            count += 2;
            continue;
        }
        if (piece.isEmpty() || piece.size() > 4)
            return -1;
        for (QChar c : piece)
            if (!isHexDigit(c))
                return -1;
        ++count;
    }
    return count;
}

// Eight pieces, or fewer with one "::" standing for at least one zero piece.
bool isIPv6Address(QStringView text) {
    const qsizetype elision = text.indexOf(u"::");
    if (elision < 0)
        return ipv6Pieces(text, true) == 8;
    const int left = ipv6Pieces(text.first(elision), false);
    const int right = ipv6Pieces(text.sliced(elision + 2), true);
    return left >= 0 && right >= 0 && left + right <= 7;
}

// "v" 1*HEXDIG "." 1*( unreserved / sub-delims / ":" )
bool isIPvFuture(QStringView text) {
    if (text.isEmpty() || (text[0] != u'v' && text[0] != u'V'))
        return false;
    const qsizetype dot = text.indexOf(u'.');
    if (dot < 2)
        return false;
    for (QChar c : text.sliced(1, dot - 1))
        if (!isHexDigit(c))
            return false;
    const QStringView rest = text.sliced(dot + 1);
    if (rest.isEmpty())
        return false;
    for (QChar c : rest)
        if (!isUnreserved(c) && !isSubDelim(c) && c != u':')
            return false;
    return true;
}

bool parseAuthority(QStringView authority, UriReference& reference) {
    QStringView hostAndPort = authority;
    const qsizetype at = authority.indexOf(u'@');
    if (at >= 0) {
        const QStringView userinfo = authority.first(at);
        if (!consistsOf(userinfo, u":"))
            return false;
        reference.userinfo = userinfo.toString();
        hostAndPort = authority.sliced(at + 1);
    }
    QStringView host;
    QStringView rest;
    if (hostAndPort.startsWith(u'[')) {
        const qsizetype close = hostAndPort.indexOf(u']');
        if (close < 0)
            return false;
        const QStringView literal = hostAndPort.sliced(1, close - 1);
        if (!isIPv6Address(literal) && !isIPvFuture(literal))
            return false;
        host = hostAndPort.first(close + 1);
        rest = hostAndPort.sliced(close + 1);
    } else {
        const qsizetype colon = hostAndPort.indexOf(u':');
        host = colon < 0 ? hostAndPort : hostAndPort.first(colon);
        rest = colon < 0 ? QStringView() : hostAndPort.sliced(colon);
        // An IPv4 address is also a well-formed reg-name, so one check covers both.
        if (!consistsOf(host, {}))
            return false;
    }
    if (!rest.isEmpty()) {
        if (rest[0] != u':')
            return false;
        const QStringView port = rest.sliced(1);
        for (QChar c : port)
            if (!isDigit(c))
                return false;
        reference.port = port.toString();
    }
    reference.host = host.toString();
    reference.authority = authority.toString();
    return true;
}

} // namespace

std::optional<UriReference> UriReference::parse(QStringView text) {
    UriReference reference;
    QStringView rest = text;

    // A scheme is everything before the first ":" when that prefix has the form of a scheme; any other
    // prefix is the start of a relative path, where a ":" in the first segment is refused below.
    const qsizetype colon = rest.indexOf(u':');
    if (colon >= 0 && isScheme(rest.first(colon))) {
        reference.scheme = rest.first(colon).toString();
        rest = rest.sliced(colon + 1);
    }

    const qsizetype hash = rest.indexOf(u'#');
    if (hash >= 0) {
        const QStringView fragment = rest.sliced(hash + 1);
        if (!consistsOf(fragment, u":@/?"))
            return std::nullopt;
        reference.fragment = fragment.toString();
        rest = rest.first(hash);
    }
    const qsizetype question = rest.indexOf(u'?');
    if (question >= 0) {
        const QStringView query = rest.sliced(question + 1);
        if (!consistsOf(query, u":@/?"))
            return std::nullopt;
        reference.query = query.toString();
        rest = rest.first(question);
    }

    if (rest.startsWith(u"//")) {
        rest = rest.sliced(2);
        const qsizetype slash = rest.indexOf(u'/');
        const QStringView authority = slash < 0 ? rest : rest.first(slash);
        if (!parseAuthority(authority, reference))
            return std::nullopt;
        rest = rest.sliced(authority.size());
    }

    // Every path form is segments of pchar separated by "/"; what tells the forms apart (a leading "//"
    // only after an authority, a non-empty first segment) is settled by the splitting above.
    if (!consistsOf(rest, u":@/"))
        return std::nullopt;
    if (!reference.scheme && !reference.authority) {
        const qsizetype firstSlash = rest.indexOf(u'/');
        if (rest.first(firstSlash < 0 ? rest.size() : firstSlash).contains(u':'))
            return std::nullopt;
    }
    reference.path = rest.toString();
    return reference;
}
