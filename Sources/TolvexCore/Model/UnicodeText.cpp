#include "TolvexCore/Model/UnicodeText.h"

#include <QChar>
#include <QList>
#include <QTextBoundaryFinder>

namespace tolvex::UnicodeText {

bool canonicallyEqual(const QString& a, const QString& b)
{
    if (a == b)
        return true;
    return a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

qsizetype graphemeCount(const QString& text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString graphemePrefix(const QString& text, qsizetype count)
{
    if (count <= 0 || text.isEmpty())
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype taken = 0;
    qsizetype end = 0;
    while (taken < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            break;
        end = next;
        ++taken;
    }
    return text.left(end);
}

bool isWhitespace(char32_t c)
{
    return c == U'\t' || QChar::category(c) == QChar::Separator_Space;
}

bool isNewline(char32_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isWhitespaceOrNewline(char32_t c)
{
    if (isWhitespace(c) || isNewline(c))
        return true;
    const auto category = QChar::category(c);
    return category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
}

namespace {

template <typename Predicate>
QString trimmed(const QString& text, Predicate shouldTrim)
{
    const auto codePoints = text.toUcs4();
    qsizetype first = 0;
    qsizetype last = codePoints.size();
    while (first < last && shouldTrim(codePoints[first]))
        ++first;
    while (last > first && shouldTrim(codePoints[last - 1]))
        --last;
    if (first == 0 && last == codePoints.size())
        return text;
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(codePoints.constData()) + first, last - first);
}

} // namespace

QString trimmedWhitespace(const QString& text)
{
    return trimmed(text, [](char32_t c) { return isWhitespace(c); });
}

QString trimmedWhitespaceAndNewlines(const QString& text)
{
    return trimmed(text, [](char32_t c) { return isWhitespaceOrNewline(c); });
}

std::size_t utf8SequenceLength(const unsigned char* p, std::size_t available)
{
    const unsigned char lead = p[0];
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (available < length || p[1] < low || p[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return length;
}

bool isStrictUtf8(const QByteArray& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const std::size_t size = std::size_t(bytes.size());
    for (std::size_t at = 0; at < size;) {
        const std::size_t length = utf8SequenceLength(p + at, size - at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

} // namespace tolvex::UnicodeText
