#include "core/MediaIdentifier.h"

#include <QCryptographicHash>

namespace MediaIdentifier {

namespace {

bool isLowerHex(QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); }

} // namespace

bool isValid(QStringView text) {
    if (text.size() < 66 || text[64] != u'.')
        return false;
    for (int i = 0; i < 64; ++i)
        if (!isLowerHex(text[i]))
            return false;
    static const char16_t* const extensions[] = {u"png", u"jpg", u"jpeg", u"gif", u"heic",
                                                 u"heif", u"tiff", u"tif", u"webp"};
    const QStringView ext = text.mid(65);
    for (const char16_t* candidate : extensions)
        if (ext == QStringView(candidate))
            return true;
    return false;
}

std::optional<QString> canonicalExtension(QStringView extension) {
    const QString lower = extension.toString().toLower();
    if (lower == u"png" || lower == u"gif" || lower == u"heic" || lower == u"heif" || lower == u"webp")
        return lower;
    if (lower == u"jpg" || lower == u"jpeg")
        return QStringLiteral("jpg");
    if (lower == u"tif" || lower == u"tiff")
        return QStringLiteral("tiff");
    return std::nullopt;
}

QString digest(QByteArrayView bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QStringView extension(QStringView identifier) {
    const qsizetype dot = identifier.lastIndexOf(u'.');
    return dot < 0 ? QStringView() : identifier.mid(dot + 1);
}

} // namespace MediaIdentifier
