#include "TolvexCore/Files/LocalPathEncoding.h"

#include "TolvexCore/Model/UnicodeText.h"

namespace tolvex {

namespace {

constexpr char16_t escapeBase = 0xDC00;

// Whether the code unit at `i` stands for one undecoded byte: a lone
// surrogate of the escape range, not the low half of a pair.
bool isEscapedByte(const QString& path, qsizetype i)
{
    const char16_t unit = path[i].unicode();
    return unit >= escapeBase + 0x80 && unit <= escapeBase + 0xFF
        && (i == 0 || !QChar::isHighSurrogate(path[i - 1].unicode()));
}

} // namespace

QString decodeLocalPath(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    QString result;
    std::size_t runStart = 0;
    std::size_t at = 0;
    const auto flush = [&] {
        if (at > runStart)
            result += QString::fromUtf8(bytes.data() + runStart, static_cast<qsizetype>(at - runStart));
    };
    while (at < bytes.size()) {
        const std::size_t length = UnicodeText::utf8SequenceLength(p + at, bytes.size() - at);
        if (length > 0) {
            at += length;
            continue;
        }
        flush();
        result += QChar(char16_t(escapeBase + p[at]));
        runStart = ++at;
    }
    flush();
    return result;
}

QByteArray encodeLocalPath(const QString& path)
{
    QByteArray result;
    result.reserve(path.size());
    qsizetype runStart = 0;
    const auto flush = [&](qsizetype end) {
        if (end > runStart)
            result += QStringView(path).mid(runStart, end - runStart).toUtf8();
    };
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (!isEscapedByte(path, i))
            continue;
        flush(i);
        result += char(path[i].unicode() - escapeBase);
        runStart = i + 1;
    }
    flush(path.size());
    return result;
}

std::optional<QString> exactLocalPath(const QUrl& url)
{
    if (!url.isValid() || url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    QString path = url.path(QUrl::FullyDecoded);
    const QString encoded = url.path(QUrl::FullyEncoded);
    // QUrl decodes an escaped byte that is not UTF-8 as U+FFFD. Its escapes
    // then go back to the bytes they stand for, unless the path holds
    // escaped bytes of its own: then it was made from an exact path, which
    // it gives back as it is (also where that path holds U+FFFD itself).
    if (path.contains(QChar::ReplacementCharacter) && !hasUndecodedBytes(path))
        path = decodeLocalPath(QByteArray::fromPercentEncoding(encoded.toLatin1()).toStdString());
    // An escaped "/" would be read as a separator, naming another file.
    if (!path.startsWith(u'/') || path.contains(QChar(u'\0')) || encoded.contains(QLatin1String("%2F"), Qt::CaseInsensitive))
        return std::nullopt;
    return path;
}

std::optional<QUrl> localFileURL(QByteArrayView uri)
{
    QByteArray ascii;
    ascii.reserve(uri.size());
    static constexpr char digits[] = "0123456789ABCDEF";
    for (const char c : uri) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            ascii += c;
        } else {
            ascii += '%';
            ascii += digits[byte >> 4];
            ascii += digits[byte & 0x0F];
        }
    }
    const QUrl url(QString::fromLatin1(ascii), QUrl::StrictMode);
    if (url.isRelative())
        return std::nullopt;
    const std::optional<QString> path = exactLocalPath(url);
    if (!path)
        return std::nullopt;
    return QUrl::fromLocalFile(*path);
}

QString readableLocalPath(const QString& path)
{
    if (!hasUndecodedBytes(path))
        return path;
    QString readable = path;
    for (qsizetype i = 0; i < readable.size(); ++i) {
        if (isEscapedByte(path, i))
            readable[i] = QChar::ReplacementCharacter;
    }
    return readable;
}

bool hasUndecodedBytes(const QString& path)
{
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isEscapedByte(path, i))
            return true;
    }
    return false;
}

} // namespace tolvex
