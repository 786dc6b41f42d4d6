#include "Velmarin/Windows/ExactText.h"

#include <algorithm>
#include <iterator>

namespace tolvex {

namespace {

constexpr char16_t blockSeparator = 0x2029;

// What QTextCursor::insertText turns into a block separator, besides CR LF.
bool breaksBlock(char16_t unit)
{
    return unit == u'\n' || unit == u'\r' || unit == 0x2029 || unit == 0xFDD0 || unit == 0xFDD1;
}

bool isCrLf(QStringView text, qsizetype index)
{
    return text[index] == u'\r' && index + 1 < text.size() && text[index + 1] == u'\n';
}

// Bytes QString::toUtf8() makes, without making them (a lone surrogate
// becomes the three-byte replacement character).
std::int64_t utf8Length(QStringView text)
{
    std::int64_t bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit < 0x80) {
            bytes += 1;
        } else if (unit < 0x800) {
            bytes += 2;
        } else if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3;
        }
    }
    return bytes;
}

} // namespace

ExactText::ExactText(QString text) : text_(std::move(text)), shown_(shownFor(text_)), utf8Bytes_(utf8Length(text_))
{
    for (qsizetype i = 0; i < text_.size(); ++i) {
        if (text_[i] == u'\n' || text_[i] == u'\r') {
            lineBreak_ = isCrLf(text_, i) ? QStringLiteral("\r\n") : QString(text_[i]);
            break;
        }
    }
}

QString ExactText::shownFor(QStringView text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isCrLf(text, i)) {
            shown.append(QChar(blockSeparator));
            ++i;
        } else {
            shown.append(breaksBlock(text[i].unicode()) ? QChar(blockSeparator) : text[i]);
        }
    }
    return shown;
}

QString ExactText::textFor(QStringView shown) const
{
    QString text;
    text.reserve(shown.size());
    for (const QChar unit : shown) {
        if (unit.unicode() == blockSeparator)
            text.append(lineBreak_);
        else
            text.append(unit);
    }
    return text;
}

qsizetype ExactText::textIndex(qsizetype shownIndex) const
{
    // Only a CR LF takes two characters for one shown.
    if (text_.size() == shown_.size())
        return shownIndex;
    qsizetype index = 0;
    for (qsizetype counted = 0; counted < shownIndex && index < text_.size(); ++counted)
        index += isCrLf(text_, index) ? 2 : 1;
    return index;
}

void ExactText::update(const QString& shown, qsizetype from, qsizetype keptTail)
{
    const qsizetype shorter = std::min(shown_.size(), shown.size());
    // A report is trusted only as far as the characters agree.
    qsizetype head = std::clamp<qsizetype>(from, 0, shorter);
    head = std::distance(shown_.cbegin(), std::mismatch(shown_.cbegin(), shown_.cbegin() + head, shown.cbegin()).first);
    qsizetype tail = std::clamp<qsizetype>(keptTail, 0, shorter - head);
    tail = std::distance(
        shown_.crbegin(), std::mismatch(shown_.crbegin(), shown_.crbegin() + tail, shown.crbegin()).first);

    const qsizetype textHead = textIndex(head);
    const qsizetype textEnd = textIndex(shown_.size() - tail);
    const QString inserted = textFor(QStringView(shown).mid(head, shown.size() - tail - head));
    utf8Bytes_ += utf8Length(inserted) - utf8Length(QStringView(text_).mid(textHead, textEnd - textHead));
    text_.replace(textHead, textEnd - textHead, inserted);
    shown_ = shown;
}

void ExactText::adopt(const QString& shown)
{
    text_ = textFor(shown);
    shown_ = shown;
    utf8Bytes_ = utf8Length(text_);
}

std::int64_t ExactText::utf8Bytes(qsizetype from, qsizetype to) const
{
    const qsizetype start = textIndex(std::clamp<qsizetype>(from, 0, shown_.size()));
    const qsizetype end = textIndex(std::clamp<qsizetype>(to, 0, shown_.size()));
    return end > start ? utf8Length(QStringView(text_).mid(start, end - start)) : 0;
}

std::int64_t ExactText::utf8BytesTyped(const QString& typed) const
{
    return utf8Length(textFor(shownFor(typed)));
}

} // namespace tolvex
